// The connection parameters dialog, the exit question and the about box, driven as a user would.
#include "aboutdialog.h"
#include "connectdialog.h"
#include "exitdialog.h"
#include "serialports.h"

#include "guitest.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

#include <functional>

namespace {

// exec() result of a dialog that no action closed: the test fails instead of hanging.
const int StuckResult = 99;

// Runs `act` on the modal dialog once its exec() has started; a dialog the act leaves open ends
// with StuckResult.
void whenModal(const std::function<void(QDialog *)> &act)
{
    GuiTest::whenModal([act](QWidget *w) {
        auto *dialog = qobject_cast<QDialog *>(w);
        if (!dialog) {
            GuiTest::noteUnplanned(w);
            return;
        }
        QTimer::singleShot(5000, dialog, [dialog] { dialog->done(StuckResult); });
        act(dialog);
    });
}

void click(QDialog *dialog, const char *button)
{
    auto *b = dialog->findChild<QPushButton *>(QLatin1String(button));
    QVERIFY2(b, button);
    QTest::mouseClick(b, Qt::LeftButton);
}

template<class T>
T *child(QWidget *dialog, const char *name)
{
    return dialog->findChild<T *>(QLatin1String(name));
}

QVariantMap stored()
{
    return {{"id", 5},          {"name", "Линия 2"},     {"note", "Стенд"},     {"port_work", "COM7"},
            {"port_null", "COM3"}, {"ipaddr", "10.0.0.7"}, {"ipport", 502}};
}

// The mode and line as the form shows them, in the form's order.
QStringList shownLine(QWidget *dialog)
{
    QStringList shown{child<QComboBox>(dialog, "cbMode")->currentText(),
                      child<QCheckBox>(dialog, "chkRfc2217")->isChecked() ? "RFC 2217" : "-"};
    for (const char *box : {"cbBaud", "cbDataBits", "cbParity", "cbStopBits"})
        shown << child<QComboBox>(dialog, box)->currentText();
    return shown;
}

const QStringList DefaultLine{"клиент", "-", "9600", "8", "нет", "1"};

QVariantMap withLine(QVariantMap map, const QVariantList &line)
{
    const char *keys[] = {"mode", "rfc2217", "baud", "databits", "parity", "stopbits"};
    for (int i = 0; i < line.size(); ++i)
        map[keys[i]] = line.at(i);
    return map;
}

const QVariantList DefaultValues{"client", false, 9600, 8, "none", "1"};

// QVariant's == converts (QVariant("8") == QVariant(8)), the record does not: types count too.
void compareTyped(const QVariantMap &actual, const QVariantMap &expected)
{
    QCOMPARE(actual, expected);
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        QVERIFY2(actual.value(it.key()).userType() == it.value().userType(), qPrintable(it.key()));
}

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_runtime;
    TestSupport::ListedPorts m_ports;

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resurce);
        GuiTest::watchUnplanned();
        // Ports of our own, so the dialog always has some to list.
        QVERIFY(m_runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toLocal8Bit());
        for (const char *name : {"COM10", "COM3", "COM7"}) {
            QString why;
            QVERIFY2(m_ports.add(name, &why), qPrintable(why));
        }
        QVERIFY(SerialPorts::portNames().contains("COM7"));
    }

    void cleanup() { GuiTest::checkNoUnplanned(); }

    void freshDialogAddsEveryKey()
    {
        const QStringList ports = SerialPorts::portNames();
        ConnectDialog dialog;
        QCOMPARE(dialog.windowTitle(), QString("Параметры соединения"));
        QCOMPARE(child<QLineEdit>(&dialog, "edName")->text(), QString("Новое"));
        QCOMPARE(child<QLineEdit>(&dialog, "edIpAddr")->text(), QString("192.168.0.225"));
        QCOMPARE(child<QSpinBox>(&dialog, "edIpPort")->value(), 50200);
        QCOMPARE(child<QLineEdit>(&dialog, "edNote")->text(), QString("Описание"));
        QCOMPARE(child<QPushButton>(&dialog, "btAdd")->text(), QString("Добавить"));
        QCOMPARE(shownLine(&dialog), DefaultLine);
        for (const char *box : {"cbPortWork", "cbPortNull"}) {
            auto *combo = child<QComboBox>(&dialog, box);
            QStringList listed;
            for (int i = 0; i < combo->count(); ++i)
                listed << combo->itemText(i);
            QCOMPARE(listed, ports);
            QCOMPARE(combo->currentIndex(), 0);
        }
        QVERIFY(dialog.getDataConnect().isEmpty());

        whenModal([](QDialog *d) { click(d, "btAdd"); });
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        const QVariantMap result = dialog.getDataConnect();
        const QVariantMap expected{{"name", "Новое"},         {"note", "Описание"},
                                   {"port_work", ports.first()}, {"port_null", ports.first()},
                                   {"ipaddr", "192.168.0.225"},  {"ipport", 50200},
                                   {"allow", QStringList()}};
        compareTyped(result, withLine(expected, DefaultValues));
    }

    // A stored port that is not present now is shown marked, and kept unless another is picked.
    void editShowsAndReturnsConnection_data()
    {
        QTest::addColumn<QString>("portWork");
        QTest::addColumn<QString>("portNull");
        QTest::addColumn<QString>("shownWork");
        QTest::addColumn<QString>("shownNull");
        QTest::newRow("both ports present") << "COM7" << "COM3" << "COM7" << "COM3";
        QTest::newRow("work port gone") << "COM99" << "COM3" << "COM99 (нет в системе)" << "COM3";
        QTest::newRow("null port gone") << "COM7" << "COM98" << "COM7" << "COM98 (нет в системе)";
    }

    void editShowsAndReturnsConnection()
    {
        QFETCH(QString, portWork);
        QFETCH(QString, portNull);
        QFETCH(QString, shownWork);
        QFETCH(QString, shownNull);
        QVariantMap input = stored();
        input["port_work"] = portWork;
        input["port_null"] = portNull;
        ConnectDialog dialog;
        dialog.setDataConnect(input);
        QCOMPARE(child<QLineEdit>(&dialog, "edName")->text(), QString("Линия 2"));
        QCOMPARE(child<QComboBox>(&dialog, "cbPortWork")->currentText(), shownWork);
        QCOMPARE(child<QComboBox>(&dialog, "cbPortNull")->currentText(), shownNull);
        QCOMPARE(child<QLineEdit>(&dialog, "edIpAddr")->text(), QString("10.0.0.7"));
        QCOMPARE(child<QSpinBox>(&dialog, "edIpPort")->value(), 502);
        QCOMPARE(child<QLineEdit>(&dialog, "edNote")->text(), QString("Стенд"));
        QCOMPARE(child<QPushButton>(&dialog, "btAdd")->text(), QString("Изменить"));

        whenModal([](QDialog *d) { click(d, "btAdd"); });
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QVariantMap expected = withLine(input, DefaultValues);
        expected["allow"] = QStringList();
        QCOMPARE(dialog.getDataConnect(), expected);
    }

    void typedValuesAreTakenUnchecked()
    {
        ConnectDialog dialog;
        auto *work = child<QComboBox>(&dialog, "cbPortWork");
        auto *nullBox = child<QComboBox>(&dialog, "cbPortNull");
        QVERIFY(nullBox->count() >= 2);
        whenModal([=](QDialog *d) {
            auto *name = child<QLineEdit>(d, "edName");
            name->selectAll();
            QTest::keyClicks(name, "Pump 1");
            auto *addr = child<QLineEdit>(d, "edIpAddr");
            addr->selectAll();
            QTest::keyClicks(addr, "host.local");
            auto *port = child<QSpinBox>(d, "edIpPort");
            port->selectAll();
            QTest::keyClicks(port, "8080");
            nullBox->setCurrentIndex(nullBox->count() - 1);
            click(d, "btAdd");
        });
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        const QVariantMap result = dialog.getDataConnect();
        QCOMPARE(result.value("name").toString(), QString("Pump 1"));
        QCOMPARE(result.value("ipaddr").toString(), QString("host.local"));
        QCOMPARE(result.value("ipport"), QVariant(8080));
        QCOMPARE(result.value("port_work").toString(), work->itemText(0));
        QCOMPARE(result.value("port_null").toString(), nullBox->itemText(nullBox->count() - 1));
        QVERIFY(!result.contains("id"));
    }

    void editShowsAndReturnsLine_data()
    {
        QTest::addColumn<QVariantList>("given");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QVariantList>("returned");
        const QVariantList server{"server", true, 19200, 7, "even", "2"};
        QTest::newRow("old record: no keys") << QVariantList() << DefaultLine << DefaultValues;
        QTest::newRow("server, all changed")
            << server << QStringList{"сервер", "RFC 2217", "19200", "7", "чёт", "2"} << server;
        const QVariantList unlisted{"client", false, 250000, 5, "mark", "1.5"};
        QTest::newRow("rate not in the list")
            << unlisted << QStringList{"клиент", "-", "250000", "5", "маркер", "1.5"} << unlisted;
        QTest::newRow("unknown values")
            << QVariantList{"master", "yes", 20, 9, "E", "3"} << DefaultLine << DefaultValues;
    }

    void editShowsAndReturnsLine()
    {
        QFETCH(QVariantList, given);
        QFETCH(QStringList, shown);
        QFETCH(QVariantList, returned);
        ConnectDialog dialog;
        dialog.setDataConnect(withLine(stored(), given));
        QCOMPARE(shownLine(&dialog), shown);
        whenModal([](QDialog *d) { click(d, "btAdd"); });
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QVariantMap expected = withLine(stored(), returned);
        expected["allow"] = QStringList();
        compareTyped(dialog.getDataConnect(), expected);
    }

    void typedRate_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");
        QTest::addColumn<int>("baud");
        QTest::newRow("another rate") << "250000" << "250000" << 250000;
        QTest::newRow("too large: last digit refused") << "5000000" << "500000" << 500000;
        QTest::newRow("too small: the rate shown before") << "20" << "20" << 19200;
    }

    void typedRate()
    {
        QFETCH(QString, typed);
        QFETCH(QString, kept);
        QFETCH(int, baud);
        ConnectDialog dialog;
        dialog.setDataConnect(withLine(stored(), {"client", false, 19200}));
        auto *box = child<QComboBox>(&dialog, "cbBaud");
        QString keptText;
        whenModal([=, &keptText](QDialog *d) {
            // With the focus in it, as when a user types there: the box's completion then runs.
            QApplication::setActiveWindow(d);
            box->lineEdit()->setFocus();
            QVERIFY(QTest::qWaitForWindowActive(d, 1000));
            box->lineEdit()->selectAll();
            QTest::keyClicks(box->lineEdit(), typed);
            keptText = box->currentText();
            click(d, "btAdd");
        });
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QCOMPARE(keptText, kept);
        QCOMPARE(dialog.getDataConnect().value("baud"), QVariant(baud));
        QCOMPARE(box->currentText(), QString::number(baud));
    }

    void dismissalLeavesConnectionUntouched_data()
    {
        QTest::addColumn<bool>("escape");
        QTest::newRow("Выход button") << false;
        QTest::newRow("Esc key") << true;
    }

    void dismissalLeavesConnectionUntouched()
    {
        QFETCH(bool, escape);
        ConnectDialog dialog;
        dialog.setDataConnect(stored());
        whenModal([escape](QDialog *d) {
            auto *name = child<QLineEdit>(d, "edName");
            name->selectAll();
            QTest::keyClicks(name, "other");
            if (escape)
                QTest::keyClick(name, Qt::Key_Escape);
            else
                click(d, "btCancel");
        });
        QCOMPARE(dialog.exec(), int(QDialog::Rejected));
        QCOMPARE(dialog.getDataConnect(), stored());
    }

    void withoutPortsBothNamesAreEmpty()
    {
        // The system's own ports cannot be taken away in a test: empty lists stand in for a
        // machine without any. (An edited connection keeps its own, as any absent port.)
        ConnectDialog dialog;
        child<QComboBox>(&dialog, "cbPortWork")->clear();
        child<QComboBox>(&dialog, "cbPortNull")->clear();
        whenModal([](QDialog *d) { click(d, "btAdd"); });
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QCOMPARE(dialog.getDataConnect().value("port_work"), QVariant(QString()));
        QCOMPARE(dialog.getDataConnect().value("port_null"), QVariant(QString()));
    }

    // Who may connect to a server: addresses and networks, comma-separated. An entry that is
    // neither keeps the dialog open and is named; a client's field is disabled, its list kept.
    void allowedPeers_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QVariant>("result"); // the list accepted, or the warning's text
        const QString warning = "«%1» — не адрес и не сеть.\nРазрешённые адреса перечисляются через запятую, "
                                "например: 192.0.2.7, 198.51.100.0/24, 2001:db8::/32";
        QTest::newRow("empty: any peer") << "server" << " " << QVariant(QStringList());
        QTest::newRow("the kinds, blanks and empty entries")
            << "server" << " 192.0.2.7 ,198.51.100.0/24,,  2001:db8::/32, 10.0.0.0/255.0.0.0,"
            << QVariant(QStringList{"192.0.2.7", "198.51.100.0/24", "2001:db8::/32", "10.0.0.0/255.0.0.0"});
        QTest::newRow("a host name") << "server" << "192.0.2.7, plc.local" << QVariant(warning.arg("plc.local"));
        QTest::newRow("prefix too long") << "server" << "198.51.100.0/33" << QVariant(warning.arg("198.51.100.0/33"));
        QTest::newRow("a client keeps it unchecked") << "client" << "plc.local" << QVariant(QStringList{"plc.local"});
    }

    void allowedPeers()
    {
        QFETCH(QString, mode);
        QFETCH(QString, typed);
        QFETCH(QVariant, result);
        QVariantMap input = withLine(stored(), {mode});
        input["allow"] = QStringList{"192.0.2.1", "10.0.0.0/8"};
        ConnectDialog dialog;
        dialog.setDataConnect(input);
        QVariant got;
        whenModal([&](QDialog *d) {
            auto *field = child<QLineEdit>(d, "edAllow");
            QCOMPARE(field->text(), QString("192.0.2.1, 10.0.0.0/8"));
            QCOMPARE(field->isEnabled(), mode == "server");
            field->setText(typed);
            GuiTest::Answers answers({QMessageBox::Ok});
            click(d, "btAdd");
            if (!answers.boxes.isEmpty()) {
                got = answers.boxes.first().text;
                click(d, "btCancel"); // the box left the dialog open
            }
        });
        if (dialog.exec() == QDialog::Accepted)
            got = dialog.getDataConnect().value("allow");
        QCOMPARE(got, result);
    }

    void exitChoices_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("mode");
        QTest::newRow("Выход") << "btYes" << int(ExitDialog::mdExit);
        QTest::newRow("Отмена") << "btNo" << int(ExitDialog::mdReturn);
        QTest::newRow("Свернуть...") << "btMInimize" << int(ExitDialog::mdMinimize);
        QTest::newRow("Esc goes back") << "Esc" << int(ExitDialog::mdReturn);
        QTest::newRow("Enter at once leaves") << "Enter" << int(ExitDialog::mdExit);
    }

    void exitChoices()
    {
        QFETCH(QString, action);
        QFETCH(int, mode);
        QWidget window;
        auto *dialog = new ExitDialog(&window);
        QString focused;
        bool yesIsDefault = false;
        whenModal([action, &focused, &yesIsDefault](QDialog *d) {
            QWidget *target = d->focusWidget();
            focused = target ? target->objectName() : QString();
            yesIsDefault = child<QPushButton>(d, "btYes")->isDefault();
            if (action == "Esc")
                QTest::keyClick(target ? target : d, Qt::Key_Escape);
            else if (action == "Enter")
                QTest::keyClick(target ? target : d, Qt::Key_Return);
            else
                click(d, qPrintable(action));
        });
        QVERIFY(dialog->exec() != StuckResult);
        QCOMPARE(dialog->getMode(), mode);
        QCOMPARE(focused, QString("btYes"));
        QVERIFY(yesIsDefault);
        delete dialog;
    }

    void exitDialogHasNoCloseButton()
    {
        ExitDialog dialog;
        QCOMPARE(dialog.windowTitle(), QString("Выход из программы"));
        QCOMPARE(dialog.windowFlags(), Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
    }

    void aboutShowsVersionAndBuildDate()
    {
        AboutDialog dialog;
        QCOMPARE(child<QLabel>(&dialog, "lbVer")->text(), QString("1.0.0"));
        QCOMPARE(child<QLabel>(&dialog, "lbDateTime")->text(), QString("12.07.2024"));
        whenModal([](QDialog *d) { click(d, "btOk"); });
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    }

    void picturesComeFromResources()
    {
        if (!QFile::exists(":/images/plus.png"))
            QSKIP("the picture collection is not built in");
        ConnectDialog connect;
        QVERIFY(!child<QPushButton>(&connect, "btAdd")->icon().isNull());
        QVERIFY(!child<QPushButton>(&connect, "btCancel")->icon().isNull());
        ExitDialog exit;
        QVERIFY(!child<QLabel>(&exit, "label_2")->pixmap(Qt::ReturnByValue).isNull());
        AboutDialog about;
        QVERIFY(!child<QLabel>(&about, "label")->pixmap(Qt::ReturnByValue).isNull());
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
