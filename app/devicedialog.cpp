#include "devicedialog.h"
#include "ui_devicedialog.h"

#include "serialports.h"
#include "setupc.h"

#include <QDir>
#include <QListWidgetItem>
#include <QMessageBox>
#include <QRegularExpression>

#include <algorithm>

DeviceDialog::DeviceDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::DeviceDialog)
{
    ui->setupUi(this);
    setWindowTitle(tr("Управление VCOM"));
}

DeviceDialog::~DeviceDialog()
{
    delete ui;
}

void DeviceDialog::on_btList_clicked()
{
    ui->lwCOM->clear();
    sysPortList();
}

void DeviceDialog::sysPortList()
{
    emit sendStatus(Setupc::programPath());
    showListing(runSetupc(Setupc::listArgs()));
}

void DeviceDialog::showListing(const QString &output)
{
    ui->lwCOM->addItem(output);

    listCOM = Setupc::portNames(output);
    const QList<QPair<QString, QString>> pairs = Setupc::pairs(listCOM);
    for (int i = 0; i < pairs.size(); ++i) {
        auto *item = new QListWidgetItem(tr("Порты %1: %2<->%3")
                                             .arg(QString::number(i), pairs.at(i).first, pairs.at(i).second));
        item->setData(Qt::UserRole, i);
        ui->lwCOM->addItem(item);
    }
    // The pair number chosen for removal must be able to reach every listed pair, and no more.
    ui->edPara->setMaximum(std::max(0, int(pairs.size()) - 1));
}

QString DeviceDialog::runSetupc(const QStringList &args)
{
    Setupc::Ending ending = Setupc::Ended;
    const QString output = Setupc::run(this, args, &ending);
    if (ending != Setupc::Ended)
        ui->lwCOM->addItem(Setupc::endingNote(ending));
    return output;
}

void DeviceDialog::on_lwCOM_itemClicked(QListWidgetItem *item)
{
    if (item)
        ui->edPara->setValue(item->data(Qt::UserRole).toInt());
}

void DeviceDialog::on_btAdd_clicked()
{
    // The new pair goes above every port this machine already has, so neither name can clash.
    static const QRegularExpression digits(QStringLiteral("(\\d+)"));
    int highest = 1;
    for (const QString &name : SerialPorts::portNames()) {
        const QRegularExpressionMatch match = digits.match(name);
        const int number = match.hasMatch() ? match.captured(1).toInt() : 0;
        highest = std::max(highest, number);
    }
    const QString first = QStringLiteral("COM%1").arg(highest + 1);
    const QString second = QStringLiteral("COM%1").arg(highest + 2);

    const QMessageBox::StandardButton answer =
        QMessageBox::question(this, tr("Установка виртуальных устройств"),
                              tr("Добавить новою пару портов\nввода/вывода?\n") + first
                                  + QStringLiteral(" <-> ") + second,
                              QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;

    if (sysAddDevice(first, second))
        sysPortList();
    else
        QMessageBox::warning(this, tr("Добавление VCOM"), tr("НЕ! удалось добавить виртуальные порты!"),
                             QMessageBox::Ok);
}

bool DeviceDialog::sysAddDevice(const QString &first, const QString &second)
{
    if (!Setupc::exists()) {
        ui->lwCOM->addItem(tr("setupc.exe not found!"));
        return false;
    }
    ui->lwCOM->addItem(tr("Add ports"));
    const QString folder = QDir::cleanPath(Setupc::folderPath());
    ui->lwCOM->addItem(tr("Path: ") + folder);
    emit sendStatus(folder);

    const QString output = runSetupc(Setupc::installArgs(first, second));
    ui->lwCOM->addItem(output);
    if (Setupc::installSucceeded(output))
        return true;
    ui->lwCOM->addItem(tr("setupc.exe install ports error!"));
    return false;
}

void DeviceDialog::on_btDel_clicked()
{
    // Only a pair of the latest listing can be named in the question; without one there is
    // nothing the user could have meant.
    const int pair = ui->edPara->value();
    const QList<QPair<QString, QString>> pairs = Setupc::pairs(listCOM);
    if (pair < 0 || pair >= pairs.size())
        return;
    const QPair<QString, QString> asked = pairs.at(pair);

    const QMessageBox::StandardButton answer =
        QMessageBox::question(this, tr("Удаление пары портов"),
                              tr("%1, Удалить порты ?").arg(asked.first + QStringLiteral(" <-> ") + asked.second),
                              QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;

    ui->lwCOM->clear();
    if (!Setupc::exists()) {
        ui->lwCOM->addItem(tr("Неверный путь setupc.exe..."));
        return;
    }
    ui->lwCOM->addItem(tr("Delete..."));

    // A pair is named by its place in the listing, and every pair after one that ends moves up
    // a place: the number goes out only while it still names the pair the user agreed to.
    const QString current = runSetupc(Setupc::listArgs());
    const QList<QPair<QString, QString>> now = Setupc::pairs(Setupc::portNames(current));
    if (pair >= now.size() || now.at(pair) != asked) {
        ui->lwCOM->addItem(tr("%1<->%2 уже не пара %3: ничего не удалено").arg(asked.first, asked.second).arg(pair));
        showListing(current);
        return;
    }
    const QStringList args = Setupc::removeArgs(pair);
    ui->lwCOM->addItem(tr("Command: ") + args.join(QLatin1Char(' ')));
    emit sendStatus(Setupc::programPath() + tr(" delete device"));

    // What setupc.exe says about a removal is shown, not judged. The listing after it is what
    // the next removal's number must refer to.
    ui->lwCOM->addItem(runSetupc(args));
    sysPortList();
}

void DeviceDialog::on_btCancel_clicked()
{
    hide();
}
