#include "connectdialog.h"
#include "ui_connectdialog.h"

#include "pipesettings.h"
#include "serialports.h"
#include "vcomdefs.h"

#include <QComboBox>
#include <QIntValidator>
#include <QLineEdit>
#include <QMessageBox>

namespace {

// Each entry's data is the bare port name, the one stored. A port that is not present now (a
// pair being reinstalled, an adapter unplugged) is shown marked and stays selected, so that
// accepting keeps it: another port in its place would be saved without a word.
void selectPort(QComboBox *box, const QString &name)
{
    int index = box->findData(name);
    if (index < 0 && !name.isEmpty()) {
        box->insertItem(0, ConnectDialog::tr("%1 (нет в системе)").arg(name), name);
        index = 0;
    }
    if (index >= 0)
        box->setCurrentIndex(index);
}

// The entries of the "allow" field: blanks around them and empty ones between commas go.
QStringList allowEntries(const QString &text)
{
    QStringList entries;
    for (const QString &part : text.split(QLatin1Char(','))) {
        const QString entry = part.trimmed();
        if (!entry.isEmpty())
            entries << entry;
    }
    return entries;
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
    for (const QString &port : SerialPorts::portNames()) {
        ui->cbPortWork->addItem(port, port);
        ui->cbPortNull->addItem(port, port);
    }

    ui->cbMode->addItem(tr("клиент"), Vcom::ClientMode);
    ui->cbMode->addItem(tr("сервер"), Vcom::ServerMode);
    connect(ui->cbMode, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this] { showMode(); });

    // The usual rates to pick from; a converter may take another, so it can be typed as well.
    for (int rate : {300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200, 230400,
                     460800, 921600})
        ui->cbBaud->addItem(QString::number(rate));
    // Digits only, whatever the system's locale: a group separator would not read back.
    auto *rates = new RateValidator(Vcom::MinBaud, Vcom::MaxBaud, ui->cbBaud);
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
    // Shown in the window's language, stored by the names pipes.json uses.
    const QString parities[] = {tr("нет"), tr("нечёт"), tr("чёт"), tr("маркер"), tr("пробел")};
    for (int i = 0; i < 5; ++i)
        ui->cbParity->addItem(parities[i], Vcom::ParityNames[i]);
    for (const QLatin1String stop : Vcom::StopBitsNames)
        ui->cbStopBits->addItem(stop, stop);

    showModeKeys(QVariantMap());
}

ConnectDialog::~ConnectDialog()
{
    delete ui;
}

void ConnectDialog::setDataConnect(const QVariantMap &value)
{
    dataConnect = value;
    ui->edName->setText(value.value(Vcom::Key::Name).toString());
    selectPort(ui->cbPortWork, value.value(Vcom::Key::PortWork).toString());
    selectPort(ui->cbPortNull, value.value(Vcom::Key::PortNull).toString());
    ui->edIpAddr->setText(value.value(Vcom::Key::IpAddr).toString());
    ui->edIpPort->setValue(value.value(Vcom::Key::IpPort).toInt());
    ui->edNote->setText(value.value(Vcom::Key::Note).toString());
    ui->edAllow->setText(value.value(Vcom::Key::Allow).toStringList().join(QLatin1String(", ")));
    showModeKeys(value);
    ui->btAdd->setText(tr("Изменить"));
}

void ConnectDialog::showModeKeys(const QVariantMap &value)
{
    // A record passes only what differs from the defaults: a missing key shows the default.
    const auto text = [&value](QLatin1String key) {
        const QVariant v = value.value(key);
        return v.type() == QVariant::String ? v : QVariant();
    };
    selectData(ui->cbMode, text(Vcom::Key::Mode), Vcom::ClientMode);
    const QVariant rfc2217 = value.value(Vcom::Key::Rfc2217);
    ui->chkRfc2217->setChecked(rfc2217.type() == QVariant::Bool && rfc2217.toBool());

    bool ok = false;
    const int baud = value.value(Vcom::Key::Baud).toInt(&ok);
    lastBaud = ok && baud >= Vcom::MinBaud && baud <= Vcom::MaxBaud ? baud : 9600;
    ui->cbBaud->setCurrentIndex(ui->cbBaud->findText(QString::number(lastBaud)));
    ui->cbBaud->setEditText(QString::number(lastBaud));

    const int dataBits = value.value(Vcom::Key::DataBits).toInt(&ok);
    selectData(ui->cbDataBits, ok ? QVariant(dataBits) : QVariant(), 8);
    selectData(ui->cbParity, text(Vcom::Key::Parity), Vcom::ParityNames[0]);
    selectData(ui->cbStopBits, text(Vcom::Key::StopBits), Vcom::StopBitsNames[0]);
    showMode();
}

void ConnectDialog::showMode()
{
    // The address means another thing to a server; the captions stay as they always were.
    const bool server = ui->cbMode->currentData().toString() == Vcom::ServerMode;
    ui->edIpAddr->setToolTip(server ? tr("Адрес, на котором ждать подключений (0.0.0.0 — все адреса)")
                                    : QString());
    // A client dials out: no one connects to it. What the field holds stays for server mode.
    ui->edAllow->setEnabled(server);
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

void ConnectDialog::on_btAdd_clicked()
{
    // A client ignores the list, so only a server's is held to it.
    const QStringList allow = allowEntries(ui->edAllow->text());
    if (ui->cbMode->currentData().toString() == Vcom::ServerMode) {
        for (const QString &entry : allow) {
            if (PipeSettings::isAllowEntry(entry))
                continue;
            QMessageBox::warning(this, tr("Параметры соединения"),
                                 tr("«%1» — не адрес и не сеть.\nРазрешённые адреса перечисляются через "
                                    "запятую, например: 192.0.2.7, 198.51.100.0/24, 2001:db8::/32")
                                     .arg(entry),
                                 QMessageBox::Ok);
            ui->edAllow->setFocus();
            return;
        }
    }
    // The address is taken as typed; the spin box already keeps the port in range.
    dataConnect[Vcom::Key::Name] = ui->edName->text();
    dataConnect[Vcom::Key::Note] = ui->edNote->text();
    dataConnect[Vcom::Key::PortWork] = ui->cbPortWork->currentData().toString();
    dataConnect[Vcom::Key::PortNull] = ui->cbPortNull->currentData().toString();
    dataConnect[Vcom::Key::IpAddr] = ui->edIpAddr->text();
    dataConnect[Vcom::Key::IpPort] = ui->edIpPort->value();
    // Always all of them, so the record gets exactly what the form shows.
    dataConnect[Vcom::Key::Mode] = ui->cbMode->currentData().toString();
    dataConnect[Vcom::Key::Rfc2217] = ui->chkRfc2217->isChecked();
    dataConnect[Vcom::Key::Baud] = shownBaud();
    dataConnect[Vcom::Key::DataBits] = ui->cbDataBits->currentData().toInt();
    dataConnect[Vcom::Key::Parity] = ui->cbParity->currentData().toString();
    dataConnect[Vcom::Key::StopBits] = ui->cbStopBits->currentData().toString();
    dataConnect[Vcom::Key::Allow] = allow;
    accept();
}

void ConnectDialog::on_btCancel_clicked()
{
    reject();
}
