// Setupc against a fake setupc.exe that records its arguments and prints what the test gives it.
#include "setupc.h"
#include "testsupport.h"

#include <QDir>
#include <QProcess>
#include <QtTest>

using Pairs = QList<QPair<QString, QString>>;
using TestSupport::processRunning;
using TestSupport::residentKiB;

class TestSetupc : public QObject
{
    Q_OBJECT

private:
    TestSupport::FakeSetupc m_fake;

    // What the fake received at its last call.
    QStringList receivedArgs() const
    {
        const QList<QStringList> calls = m_fake.calls();
        return calls.isEmpty() ? QStringList{QStringLiteral("<fake was not run>")} : calls.last();
    }

private slots:
    void initTestCase()
    {
        TestSupport::FakeSetupc::remove(); // a crashed run's leftovers
        QVERIFY2(!QFileInfo::exists(Setupc::folderPath()),
                 qPrintable(Setupc::folderPath() + " exists and is not this test's"));
    }

    void init()
    {
        QString why;
        QVERIFY2(m_fake.install(&why), qPrintable(why));
        QVERIFY(Setupc::exists());
    }

    void cleanup() { TestSupport::FakeSetupc::remove(); }
    void cleanupTestCase() { TestSupport::FakeSetupc::remove(); }

    void requestArguments_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("received");
        QTest::newRow("list") << Setupc::listArgs() << QStringList{"list"};
        QTest::newRow("install is one argument")
            << Setupc::installArgs("COM5", "COM6") << QStringList{"install PortName=COM5 PortName=COM6"};
        QTest::newRow("install keeps the order")
            << Setupc::installArgs("COM12", "COM3") << QStringList{"install PortName=COM12 PortName=COM3"};
        QTest::newRow("remove") << Setupc::removeArgs(0) << QStringList{"remove", "0"};
        QTest::newRow("remove two digits") << Setupc::removeArgs(12) << QStringList{"remove", "12"};
        QTest::newRow("uninstall") << Setupc::uninstallArgs() << QStringList{"uninstall"};
    }

    void requestArguments()
    {
        QFETCH(QStringList, args);
        QFETCH(QStringList, received);
        QObject parent;
        Setupc::run(&parent, args);
        QCOMPARE(receivedArgs(), received);
        // the process is gone with the call, not left to pile up under the parent
        QVERIFY(parent.findChildren<QProcess *>().isEmpty());
    }

#ifdef Q_OS_WIN
    // Windows hands a program its command line whole, and the program splits it: the install
    // request must stand there as one quoted argument. And the setupc.exe started is the one in
    // com0com beside this program, whatever the current folder.
    void commandLineOnWindows_data()
    {
        QTest::addColumn<QStringList>("request");
        QTest::addColumn<QString>("commandLine");
        // Qt puts two blanks after the program's name.
        QTest::newRow("install") << Setupc::installArgs("COM5", "COM6") << "  \"install PortName=COM5 PortName=COM6\"";
        QTest::newRow("list") << Setupc::listArgs() << "  list";
        QTest::newRow("remove") << Setupc::removeArgs(3) << "  remove 3";
    }

    void commandLineOnWindows()
    {
        QFETCH(QStringList, request);
        QFETCH(QString, commandLine);
        const QString program = QDir::toNativeSeparators(QCoreApplication::applicationDirPath()) + "\\com0com\\setupc.exe";
        // the program's path holds no blank here, so it goes unquoted
        QVERIFY(!program.contains(' '));
        TestSupport::ScratchFolder elsewhere;
        QVERIFY(elsewhere.isValid());
        Setupc::run(nullptr, request);
        const QString folder = TestSupport::FakeSetupc::folder() + '/';
        QCOMPARE(QString::fromUtf8(TestSupport::readFile(folder + "exe")), program);
        QCOMPARE(QString::fromUtf8(TestSupport::readFile(folder + "cmdline")), program + commandLine);
        QCOMPARE(QString::fromUtf8(TestSupport::readFile(folder + "cwd")), QDir::toNativeSeparators(elsewhere.path()));
    }
#endif

    void outputIsLatin1()
    {
        QByteArray bytes;
        QString text;
        for (int b = 0; b < 256; ++b) {
            bytes += char(b);
            text += QChar(b);
        }
        QVERIFY(m_fake.setOutput("list", "caf\xe9 " + bytes));
        const QString out = Setupc::run(nullptr, Setupc::listArgs());
        QCOMPARE(out.left(5), QString::fromUtf8("café "));
        QCOMPARE(out.mid(5), text);
    }

    void outputIsStandardOutputOnly_data()
    {
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        QTest::addColumn<int>("status");
        const QByteArray listing = "CNCA0 PortName=COM5\r\nCNCB0 PortName=COM6\r\n";
        QTest::newRow("stderr left out") << listing << QByteArray("CNCA9 PortName=COM9\n") << 0;
        QTest::newRow("failure status") << listing << QByteArray("failed\n") << 3;
        QTest::newRow("nothing printed") << QByteArray() << QByteArray("COM7\n") << 1;
        // well past a pipe's buffer and short of the limit: all of it, not the first chunk
        QTest::newRow("672 KiB") << listing.repeated(1 << 14) << QByteArray() << 0;
    }

    void outputIsStandardOutputOnly()
    {
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        QFETCH(int, status);
        QVERIFY(m_fake.setOutput("list", out));
        QVERIFY(m_fake.setErrorOutput("list", err));
        QVERIFY(m_fake.setExitStatus("list", status));
        QCOMPARE(Setupc::run(nullptr, Setupc::listArgs()), QString::fromLatin1(out));
    }

    // A tool that prints without end, or never ends, is cut at 1 MiB or stopped after its time,
    // waited for or not; what it printed so far is kept, and memory stays put.
    void cutShort_data()
    {
        QTest::addColumn<QByteArray>("printed");
        QTest::addColumn<QByteArray>("endless");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<int>("ending");
        QTest::addColumn<int>("kept");
        const QByteArray line = "CNCA0 PortName=COM5\n";
        QTest::newRow("exactly the limit") << QByteArray(1 << 20, 'x') << QByteArray() << 10000 << int(Setupc::Ended) << (1 << 20);
        QTest::newRow("a byte more") << QByteArray((1 << 20) + 1, 'x') << QByteArray() << 10000 << int(Setupc::OutputCut) << (1 << 20);
        QTest::newRow("lines without end") << line << QByteArray("flood") << 10000 << int(Setupc::OutputCut) << (1 << 20);
        QTest::newRow("errors without end") << line << QByteArray("flood-stderr") << 1500 << int(Setupc::TimedOut) << 20;
        QTest::newRow("hangs") << line << QByteArray("hang") << 1000 << int(Setupc::TimedOut) << 20;
    }

    void cutShort()
    {
        QFETCH(QByteArray, printed);
        QFETCH(QByteArray, endless);
        QFETCH(int, timeoutMs);
        QFETCH(int, ending);
        QFETCH(int, kept);
        QVERIFY(m_fake.setOutput("list", printed));
        QVERIFY(m_fake.setEndless("list", endless));
        Setupc::Ending how = Setupc::Ended;
        const QString output = Setupc::run(nullptr, Setupc::listArgs(), &how, timeoutMs);
        QCOMPARE(QString("%1 %2").arg(how).arg(output.size()), QString("%1 %2").arg(ending).arg(kept));
        QCOMPARE(output.left(20), QString::fromLatin1(printed.left(20)));
        QVERIFY2(!processRunning(m_fake.lastPid("list")), "setupc.exe was left running");

        // Not waited for, in a loop of its own as the window's: the same, told once. Memory is
        // taken as it ends, its process still there.
        const qint64 before = residentKiB();
        QStringList told;
        QEventLoop loop;
        QTimer::singleShot(timeoutMs + 5000, &loop, &QEventLoop::quit);
        Setupc::start(&loop, Setupc::listArgs(), [&](const QString &out, Setupc::Ending e) {
            const qint64 grown = residentKiB() - before;
            told << QString("%1 %2 %3").arg(e).arg(out.size()).arg(grown < 64 * 1024 ? "" : QString::number(grown) + " KiB more");
            loop.quit();
        }, timeoutMs);
        loop.exec();
        QCOMPARE(told, QStringList{QString("%1 %2 ").arg(ending).arg(kept)});
        QTRY_VERIFY(loop.findChildren<QProcess *>().isEmpty());
        QVERIFY2(!processRunning(m_fake.lastPid("list")), "setupc.exe was left running");
    }

    void missingProgram()
    {
        QVERIFY(QFile::remove(Setupc::programPath()));
        QVERIFY(!Setupc::exists());
        QCOMPARE(Setupc::run(nullptr, Setupc::listArgs()), QString());
        // a folder of that name is no program either
        QVERIFY(QDir().mkpath(Setupc::programPath()));
        QVERIFY(!Setupc::exists());
        QCOMPARE(Setupc::run(nullptr, Setupc::listArgs()), QString());
    }

    void portNames_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("empty") << QString() << QStringList();
        QTest::newRow("no COM") << "CNCA0 PortName=-\nCNCB0 PortName=-\n" << QStringList();
        QTest::newRow("lower case") << "CNCA0 PortName=com5\n" << QStringList();
        QTest::newRow("COM without digits") << "COM COMx CO M5" << QStringList();
        QTest::newRow("one") << "CNCA0 PortName=COM5\n" << QStringList{"COM5"};
        QTest::newRow("two") << "CNCA0 PortName=COM5\r\nCNCB0 PortName=COM6\r\n" << QStringList{"COM5", "COM6"};
        QTest::newRow("output order, not sorted") << "COM9 COM10 COM2" << QStringList{"COM9", "COM10", "COM2"};
        QTest::newRow("three digits") << "PortName=COM123" << QStringList{"COM123"};
        QTest::newRow("leading zeros kept") << "COM007" << QStringList{"COM007"};
        QTest::newRow("glued to text") << "xCOM12y" << QStringList{"COM12"};
        QTest::newRow("glued to each other") << "COM1COM2" << QStringList{"COM1", "COM2"};
        QTest::newRow("install output")
            << "       CNCA0 PortName=COM5\n       CNCB0 PortName=COM6\n"
               "ComDB: COM5 - logged as \"in use\"\n"
            << QStringList{"COM5", "COM6", "COM5"};
    }

    void portNames()
    {
        QFETCH(QString, output);
        QFETCH(QStringList, names);
        QCOMPARE(Setupc::portNames(output), names);
    }

    void manyPortNames()
    {
        QString output;
        for (int i = 0; i < 5000; ++i)
            output += QStringLiteral("CNCA%1 PortName=COM%2\nCNCB%1 PortName=COM%3\n").arg(i).arg(2 * i).arg(2 * i + 1);
        const QStringList names = Setupc::portNames(output);
        QCOMPARE(names.size(), 10000);
        QCOMPARE(names.first(), QString("COM0"));
        QCOMPARE(names.at(5001), QString("COM5001"));
        QCOMPARE(names.last(), QString("COM9999"));
        const Pairs pairs = Setupc::pairs(names);
        QCOMPARE(pairs.size(), 5000);
        QCOMPARE(pairs.last(), qMakePair(QString("COM9998"), QString("COM9999")));
    }

    void pairs_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<Pairs>("pairs");
        QTest::newRow("none") << QStringList() << Pairs();
        QTest::newRow("one name") << QStringList{"COM5"} << Pairs();
        QTest::newRow("two") << QStringList{"COM5", "COM6"} << Pairs{{"COM5", "COM6"}};
        QTest::newRow("three") << QStringList{"COM5", "COM6", "COM7"} << Pairs{{"COM5", "COM6"}};
        QTest::newRow("four") << QStringList{"COM8", "COM1", "COM3", "COM2"}
                              << Pairs{{"COM8", "COM1"}, {"COM3", "COM2"}};
        QTest::newRow("five") << QStringList{"COM1", "COM2", "COM3", "COM4", "COM5"}
                              << Pairs{{"COM1", "COM2"}, {"COM3", "COM4"}};
    }

    void pairs()
    {
        QFETCH(QStringList, names);
        QFETCH(Pairs, pairs);
        QCOMPARE(Setupc::pairs(names), pairs);
    }

    void installSucceeded_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<bool>("succeeded");
        QTest::newRow("full output") << "       CNCA0 PortName=COM5\n       CNCB0 PortName=COM6\n"
                                        "ComDB: COM5 - logged as \"in use\"\nComDB: COM6 - logged as \"in use\"\n"
                                     << true;
        QTest::newRow("marker alone") << "logged as \"in use\"" << true;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("no quotes") << "ComDB: COM5 - logged as in use" << false;
        QTest::newRow("one quote") << "ComDB: COM5 - logged as \"in use" << false;
        QTest::newRow("single quotes") << "ComDB: COM5 - logged as 'in use'" << false;
        QTest::newRow("upper case") << "ComDB: COM5 - Logged as \"IN USE\"" << false;
        QTest::newRow("other words") << "ComDB: COM5 - logged as \"not in use\"" << false;
        QTest::newRow("ports only") << "       CNCA0 PortName=COM5\n       CNCB0 PortName=COM6\n" << false;
    }

    void installSucceeded()
    {
        QFETCH(QString, output);
        QFETCH(bool, succeeded);
        QCOMPARE(Setupc::installSucceeded(output), succeeded);
    }
};

QTEST_GUILESS_MAIN(TestSetupc)
#include "tst_setupc.moc"
