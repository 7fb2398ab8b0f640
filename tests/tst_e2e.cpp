// A user's whole journey through the real window, with real parts only: the port-pair stand-in
// and socat, a TCP echo server on 127.0.0.1, the settings store and pipes.json in temporary
// folders. On Windows there is no com0com to make a pair: the fake setupc.exe answers the port
// manager as com0com's does, and the test does the driver's part, making the two COM ports the
// manager asked for out of a pair made beforehand (Wine COM ports on a socat pair).
#include "mainwindow.h"
#include "serialports.h"
#include "setupc.h"

#include "guitest.h"
#include "testsupport.h"
#include "windowtest.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableWidget>
#include <QtTest>

#include <memory>

using namespace GuiTest;
using namespace TestSupport;
using namespace WindowTest;

// Settings, autostart entry and the virtual-port folder all go to private folders.
static const QString kConfigHome = WindowTest::privateXdgFolder("XDG_CONFIG_HOME");
static const QString kRuntimeDir = WindowTest::privateXdgFolder("XDG_RUNTIME_DIR");

class TestEndToEnd : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ScratchFolder> m_work;
#ifdef Q_OS_WIN
    FakeSetupc m_fake;
    PtyPair m_pair;
    ComLinks m_links;
#endif

private slots:
    void initTestCase()
    {
        QApplication::setQuitOnLastWindowClosed(false);
        watchUnplanned();
#ifdef Q_OS_WIN
        QString why;
        QVERIFY2(m_fake.install(&why), qPrintable(why));
        REQUIRE_PTY_PAIR(m_pair);
#else
        QVERIFY2(!findTool("socat").isEmpty(), "socat is not installed: apt-get install socat");
        // The window starts com0com/setupc.exe beside the program: here, the stand-in.
        QVERIFY(QDir().mkpath(QFileInfo(Setupc::programPath()).absolutePath()));
        QFile::remove(Setupc::programPath());
        QVERIFY(QFile::copy(STANDIN_PATH, Setupc::programPath()));
#endif
        m_work = std::make_unique<ScratchFolder>();
        QVERIFY(m_work->isValid());
    }

    void cleanup() { checkNoUnplanned(); }

    void cleanupTestCase()
    {
#ifdef Q_OS_WIN
        FakeSetupc::remove();
#else
        QProcess::execute(Setupc::programPath(), {"uninstall"});
        QDir(Setupc::folderPath()).removeRecursively();
#endif
        m_work.reset();
    }

    void journey()
    {
        TcpPeer echo(true);
        QVERIFY(echo.listen());
        auto w = makeWindow();

        // 1. the port manager makes a pair on the next free numbers
#ifdef Q_OS_WIN
        // com0com's answers for the names the manager proposes, above every port there is
        static const QRegularExpression digits("\\d+");
        int highest = 1;
        for (const QString &name : SerialPorts::portNames())
            highest = qMax(highest, digits.match(name).captured(0).toInt());
        const QByteArray made = QString("       CNCA0 PortName=COM%1\n       CNCB0 PortName=COM%2\n")
                                    .arg(highest + 1)
                                    .arg(highest + 2)
                                    .toLatin1();
        QVERIFY(m_fake.setOutput("install", made + QString("ComDB: COM%1 - logged as \"in use\"\n").arg(highest + 1).toLatin1()));
        QVERIFY(m_fake.setOutput("list", made));
#endif
        QStringList managerRows;
        Box ask;
        whenModal([&](QWidget *dialog) {
            answerBox(&ask, QMessageBox::Yes);
            dialog->findChild<QAbstractButton *>("btAdd")->click();
            auto *list = dialog->findChild<QListWidget *>("lwCOM");
            for (int i = 0; i < list->count(); ++i)
                managerRows << list->item(i)->text();
            dialog->findChild<QAbstractButton *>("btCancel")->click();
        });
        action(*w, "actDevice")->trigger();
        QCOMPARE(ask.title, QString("Установка виртуальных устройств"));
#ifdef Q_OS_WIN
        const QString requested = m_fake.calls().value(1).value(0);
        QCOMPARE(requested, QString("install PortName=COM%1 PortName=COM%2").arg(highest + 1).arg(highest + 2));
        // the driver's part: the two ports come up, on the pair made beforehand
        const QStringList ports{m_links.make(highest + 1, m_pair.nullEnd()), m_links.make(highest + 2, m_pair.workEnd())};
#else
        const QStringList ports = SerialPorts::virtualPortNames();
#endif
        QCOMPARE(ports.size(), 2);
        const QString comNull = ports.at(0);
        const QString comWork = ports.at(1);
        QVERIFY2(ask.text.endsWith(comNull + " <-> " + comWork), qPrintable(ask.text));
        QVERIFY2(managerRows.contains(QString("Порты 0: %1<->%2").arg(comNull, comWork)),
                 qPrintable(managerRows.join('\n')));

        // 2. a connection on the pair's COM-NULL side to the echo server
        whenModal([&](QWidget *dialog) {
            dialog->findChild<QLineEdit *>("edName")->setText("Стенд");
            auto *work = dialog->findChild<QComboBox *>("cbPortWork");
            auto *null = dialog->findChild<QComboBox *>("cbPortNull");
            work->setCurrentIndex(work->findText(comWork));
            null->setCurrentIndex(null->findText(comNull));
            dialog->findChild<QLineEdit *>("edIpAddr")->setText("127.0.0.1");
            dialog->findChild<QSpinBox *>("edIpPort")->setValue(echo.port());
            dialog->findChild<QLineEdit *>("edNote")->setText("эхо");
            dialog->findChild<QAbstractButton *>("btAdd")->click();
        });
        action(*w, "actAddConnect")->trigger();
        QCOMPARE(table(*w)->rowCount(), 1);
        QCOMPARE(table(*w)->item(0, 4)->text(), comNull);

        // 3. start it
        clickRow(*w, 0);
        action(*w, "actStart")->trigger();
        QCOMPARE(w->statusBar()->currentMessage(), QString("Статус: Started thread: 1"));
        QTRY_VERIFY(showsConnected(*w, 0));

        // 4. the user's program on COM-WORK gets its bytes echoed
        QSerialPort work;
        work.setPortName(SerialPorts::devicePath(comWork));
        QVERIFY(work.open(QIODevice::ReadWrite));
        const QByteArray hello("hello, device\r\n");
        work.write(hello);
        QCOMPARE(readAtLeast(work, hello.size()), hello);

        // 5. the monitor shows both directions
        QStringList lines;
        QString title;
        whenModal([&](QWidget *monitor) {
            title = monitor->windowTitle();
            auto *list = monitor->findChild<QListWidget *>("listWidget");
            work.write("AB");
            waitUntil([list] { return list->count() >= 2; }, 10000);
            for (int i = 0; i < list->count(); ++i)
                lines << list->item(i)->text();
            monitor->findChild<QAbstractButton *>("pushButton")->click();
        });
        action(*w, "actMonitor")->trigger();
        // Each line starts with its block's time.
        static const QRegularExpression timed("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d ");
        QCOMPARE(lines.size(), 2);
        for (QString &line : lines) {
            QVERIFY2(timed.match(line).hasMatch(), qPrintable(line));
            line = line.mid(13);
        }
        QCOMPARE(lines, QStringList({"[VCOM] 0x41 0x42 AB", "[TCP] 0x41 0x42 AB"}));
        // it names the connection, then what it carried so far
        QVERIFY2(title.startsWith(QString("Монитор \u2014 1 Стенд \u2014 ")), qPrintable(title));
        QCOMPARE(readAtLeast(work, 2), QByteArray("AB"));

        // 6. stop, switch start at logon on, and leave through "Выход"
        action(*w, "actStop")->trigger();
        QVERIFY(!showsConnected(*w, 0));
        w->findChild<QCheckBox *>()->setChecked(true);
        clickInModal("btYes");
        QVERIFY(w->close());
        w.reset();

        // 7. the next start finds it all as left
        auto again = makeWindow();
        QCOMPARE(table(*again)->rowCount(), 1);
        QStringList row;
        for (int c : {0, 1, 3, 4, 5, 6, 7})
            row << table(*again)->item(0, c)->text();
        QCOMPARE(row, QStringList({"1", "Стенд", comWork, comNull, "127.0.0.1", QString::number(echo.port()), "эхо"}));
        QVERIFY(!showsConnected(*again, 0));
        QVERIFY(again->findChild<QCheckBox *>()->isChecked());
        auto *log = again->findChild<QPlainTextEdit *>("plnText");
        // the pair listing is not waited for at start-up: it comes when it is over
        QTRY_VERIFY2(log->toPlainText().contains(QString("Пара 0: %1-%2").arg(comNull, comWork)),
                     qPrintable(log->toPlainText()));

        // and it still works
        clickRow(*again, 0);
        action(*again, "actStart")->trigger();
        QTRY_VERIFY(showsConnected(*again, 0));
        work.write("again");
        QCOMPARE(readAtLeast(work, 5), QByteArray("again"));
        action(*again, "actStop")->trigger();
        clickInModal("btYes");
        QVERIFY(again->close());
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
