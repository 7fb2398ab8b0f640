#include "connectdialog.h"
#include "ui_connectdialog.h"

#include "serialports.h"

#include <QComboBox>

namespace {

// A port that is no longer present keeps the box on its current entry rather than leaving it
// blank: the user sees a port that exists and can pick another before confirming.
void selectPort(QComboBox *box, const QString &name)
{
    const int index = box->findText(name);
    if (index >= 0)
        box->setCurrentIndex(index);
}

} // namespace

ConnectDialog::ConnectDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::ConnectDialog)
{
    ui->setupUi(this);
    setWindowTitle(tr("Параметры соединения"));

    // Physical and virtual ports alike: the user may bridge any of them.
    const QStringList ports = SerialPorts::portNames();
    ui->cbPortWork->addItems(ports);
    ui->cbPortNull->addItems(ports);
}

ConnectDialog::~ConnectDialog()
{
    delete ui;
}

void ConnectDialog::setDataConnect(const QVariantMap &value)
{
    dataConnect = value;
    ui->edName->setText(value.value(QStringLiteral("name")).toString());
    selectPort(ui->cbPortWork, value.value(QStringLiteral("port_work")).toString());
    selectPort(ui->cbPortNull, value.value(QStringLiteral("port_null")).toString());
    ui->edIpAddr->setText(value.value(QStringLiteral("ipaddr")).toString());
    ui->edIpPort->setValue(value.value(QStringLiteral("ipport")).toInt());
    ui->edNote->setText(value.value(QStringLiteral("note")).toString());
    ui->btAdd->setText(tr("Изменить"));
}

QVariantMap ConnectDialog::getDataConnect() const
{
    return dataConnect;
}

QString ConnectDialog::portName() const
{
    return dataConnect.value(QStringLiteral("port_null")).toString();
}

QString ConnectDialog::ipAddr() const
{
    return dataConnect.value(QStringLiteral("ipaddr")).toString();
}

int ConnectDialog::ipPort() const
{
    return dataConnect.value(QStringLiteral("ipport")).toInt();
}

void ConnectDialog::on_btAdd_clicked()
{
    // Nothing is validated here: the address is taken as typed and the spin box already keeps
    // the port in range.
    dataConnect[QStringLiteral("name")] = ui->edName->text();
    dataConnect[QStringLiteral("note")] = ui->edNote->text();
    dataConnect[QStringLiteral("port_work")] = ui->cbPortWork->currentText();
    dataConnect[QStringLiteral("port_null")] = ui->cbPortNull->currentText();
    dataConnect[QStringLiteral("ipaddr")] = ui->edIpAddr->text();
    dataConnect[QStringLiteral("ipport")] = ui->edIpPort->value();
    accept();
}

void ConnectDialog::on_btCancel_clicked()
{
    reject();
}
