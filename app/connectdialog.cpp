#include "connectdialog.h"
#include "ui_connectdialog.h"

#include "serialports.h"

#include <QComboBox>
#include <QIntValidator>
#include <QLineEdit>

namespace {

// A port that is no longer present keeps the box on its current entry rather than leaving it
// blank: the user sees a port that exists and can pick another before confirming.
void selectPort(QComboBox *box, const QString &name)
{
    const int index = box->findText(name);
    if (index >= 0)
        box->setCurrentIndex(index);
}

// Picks the entry whose data is value; a value the box does not offer picks fallback instead,
// so an odd record shows what the connection will really use.
void selectData(QComboBox *box, const QVariant &value, const QVariant &fallback)
{
    int index = value.isValid() ? box->findData(value) : -1;
    if (index < 0)
        index = box->findData(fallback);
    box->setCurrentIndex(index);
}

const int MinBaud = 50;
const int MaxBaud = 4000000;

// QIntValidator takes a number too large as half-typed while it has no more digits than the top;
// no digit typed after it can bring it back into range, so it is refused at once.
class RateValidator : public QIntValidator
{
public:
    using QIntValidator::QIntValidator;
    State validate(QString &input, int &pos) const override
    {
        const State state = QIntValidator::validate(input, pos);
        return state == Intermediate && input.toLongLong() > top() ? Invalid : state;
    }
};

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

    ui->cbMode->addItem(tr("клиент"), QStringLiteral("client"));
    ui->cbMode->addItem(tr("сервер"), QStringLiteral("server"));
    connect(ui->cbMode, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this] { showMode(); });

    // The usual rates to pick from; a converter may take another, so it can be typed as well.
    for (int rate : {300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200, 230400,
                     460800, 921600})
        ui->cbBaud->addItem(QString::number(rate));
    // Digits only, whatever the system's locale: a group separator would not read back.
    auto *rates = new RateValidator(MinBaud, MaxBaud, ui->cbBaud);
    QLocale plain = QLocale::c();
    plain.setNumberOptions(QLocale::RejectGroupSeparator);
    rates->setLocale(plain);
    ui->cbBaud->setValidator(rates);
    // A typed rate stays in the box only: the list keeps to the usual ones.
    ui->cbBaud->setInsertPolicy(QComboBox::NoInsert);
    // Only a rate the user settled on is one to fall back to: while typing, the box passes
    // through prefixes and completions ("2" shows as 2400 on the way to 20).
    connect(ui->cbBaud, QOverload<int>::of(&QComboBox::activated), this,
            [this](int index) { lastBaud = ui->cbBaud->itemText(index).toInt(); });
    connect(ui->cbBaud->lineEdit(), &QLineEdit::editingFinished, this, [this] {
        if (ui->cbBaud->lineEdit()->hasAcceptableInput())
            lastBaud = ui->cbBaud->currentText().toInt();
    });

    for (int bits : {5, 6, 7, 8})
        ui->cbDataBits->addItem(QString::number(bits), bits);
    ui->cbParity->addItem(tr("нет"), QStringLiteral("none"));
    ui->cbParity->addItem(tr("нечёт"), QStringLiteral("odd"));
    ui->cbParity->addItem(tr("чёт"), QStringLiteral("even"));
    ui->cbParity->addItem(tr("маркер"), QStringLiteral("mark"));
    ui->cbParity->addItem(tr("пробел"), QStringLiteral("space"));
    for (const char *stop : {"1", "1.5", "2"})
        ui->cbStopBits->addItem(QLatin1String(stop), QLatin1String(stop));

    showModeKeys(QVariantMap());
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
    showModeKeys(value);
    ui->btAdd->setText(tr("Изменить"));
}

void ConnectDialog::showModeKeys(const QVariantMap &value)
{
    // A record passes only what differs from the defaults: a missing key shows the default.
    const auto text = [&value](const char *key) {
        const QVariant v = value.value(QLatin1String(key));
        return v.type() == QVariant::String ? v : QVariant();
    };
    selectData(ui->cbMode, text("mode"), QStringLiteral("client"));
    const QVariant rfc2217 = value.value(QStringLiteral("rfc2217"));
    ui->chkRfc2217->setChecked(rfc2217.type() == QVariant::Bool && rfc2217.toBool());

    bool ok = false;
    const int baud = value.value(QStringLiteral("baud")).toInt(&ok);
    lastBaud = ok && baud >= MinBaud && baud <= MaxBaud ? baud : 9600;
    ui->cbBaud->setCurrentIndex(ui->cbBaud->findText(QString::number(lastBaud)));
    ui->cbBaud->setEditText(QString::number(lastBaud));

    const int dataBits = value.value(QStringLiteral("databits")).toInt(&ok);
    selectData(ui->cbDataBits, ok ? QVariant(dataBits) : QVariant(), 8);
    selectData(ui->cbParity, text("parity"), QStringLiteral("none"));
    selectData(ui->cbStopBits, text("stopbits"), QStringLiteral("1"));
    showMode();
}

void ConnectDialog::showMode()
{
    // The address means another thing to a server; the captions stay as they always were.
    const bool server = ui->cbMode->currentData().toString() == QLatin1String("server");
    ui->edIpAddr->setToolTip(server ? tr("Адрес, на котором ждать подключений (0.0.0.0 — все адреса)")
                                    : QString());
}

int ConnectDialog::shownBaud()
{
    // The validator keeps out a rate too large, but one too small is only half-typed to it and
    // may still stand in the box: the rate the user last settled on replaces it.
    if (ui->cbBaud->lineEdit()->hasAcceptableInput())
        lastBaud = ui->cbBaud->currentText().toInt();
    else
        ui->cbBaud->setEditText(QString::number(lastBaud));
    return lastBaud;
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
    // The address is taken as typed; the spin box already keeps the port in range.
    dataConnect[QStringLiteral("name")] = ui->edName->text();
    dataConnect[QStringLiteral("note")] = ui->edNote->text();
    dataConnect[QStringLiteral("port_work")] = ui->cbPortWork->currentText();
    dataConnect[QStringLiteral("port_null")] = ui->cbPortNull->currentText();
    dataConnect[QStringLiteral("ipaddr")] = ui->edIpAddr->text();
    dataConnect[QStringLiteral("ipport")] = ui->edIpPort->value();
    // Always all of them, so the record gets exactly what the form shows.
    dataConnect[QStringLiteral("mode")] = ui->cbMode->currentData().toString();
    dataConnect[QStringLiteral("rfc2217")] = ui->chkRfc2217->isChecked();
    dataConnect[QStringLiteral("baud")] = shownBaud();
    dataConnect[QStringLiteral("databits")] = ui->cbDataBits->currentData().toInt();
    dataConnect[QStringLiteral("parity")] = ui->cbParity->currentData().toString();
    dataConnect[QStringLiteral("stopbits")] = ui->cbStopBits->currentData().toString();
    accept();
}

void ConnectDialog::on_btCancel_clicked()
{
    reject();
}
