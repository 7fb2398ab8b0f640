// The Linux stand-in for setupc.exe, run from the source tree against real socat pairs.
#include "setupc.h"
#include "testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QSerialPort>
#include <QThread>
#include <QtTest>

#include <csignal>
#include <memory>
#include <vector>

#ifndef STANDIN_PATH
#error STANDIN_PATH must name app/com0com/setupc.exe in the source tree
#endif

using Pairs = QList<QPair<QString, QString>>;

using TestSupport::Run;

namespace {

Run standin(const QStringList &args)
{
    return TestSupport::run(QStringLiteral(STANDIN_PATH), args);
}

} // namespace

// Returning promptly is part of it: a background socat holding the output pipe keeps it open.
#define INSTALL(a, b)                                                                              \
    do {                                                                                           \
        const Run r_ = standin(Setupc::installArgs(a, b));                                      \
        QVERIFY2(r_.finished, "the stand-in did not return within 10 s");                          \
        QVERIFY2(r_.exitCode == 0 && Setupc::installSucceeded(r_.out), qPrintable(r_.out + r_.err)); \
    } while (0)

class TestStandin : public QObject
{
    Q_OBJECT

private:
    // A blank in the path catches a missing quote anywhere in the script.
    QTemporaryDir m_runtime{QDir::tempPath() + QStringLiteral("/vcom standin XXXXXX")};

    QString port(const QString &name) const { return m_runtime.path() + QStringLiteral("/vcom/") + name; }

    // The socat processes serving a link of ours, found without asking the script.
    QList<int> socats(const QString &name = QString()) const
    {
        const QByteArray needle = QStringLiteral("link=%1").arg(port(name)).toLocal8Bit()
                                  + (name.isEmpty() ? "" : QByteArray(1, '\0'));
        QList<int> pids;
        const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
        for (const QString &entry : entries) {
            bool numeric = false;
            const int pid = entry.toInt(&numeric);
            QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry));
            if (numeric && cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(needle))
                pids << pid;
        }
        return pids;
    }

    // Whether a process serving the link has become socat itself.
    bool socatServes(const QString &name) const
    {
        for (int pid : socats(name)) {
            QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
            if (comm.open(QIODevice::ReadOnly) && comm.readAll() == "socat\n")
                return true;
        }
        return false;
    }

    bool linked(const QString &name) const { return QFileInfo(port(name)).isSymLink(); }

    Run list() const { return standin(Setupc::listArgs()); }

    // Another spelling of the runtime folder: a link to it.
    static QString linkedRuntime()
    {
        return QDir::tempPath() + "/vcom standin link " + QString::number(QCoreApplication::applicationPid());
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(!TestSupport::findTool(QStringLiteral("bash")).isEmpty(), "bash is not installed");
        QVERIFY2(!TestSupport::findTool(QStringLiteral("socat")).isEmpty(),
                 "socat is not installed: apt-get install socat");
        QVERIFY2(QFileInfo(QStringLiteral(STANDIN_PATH)).isExecutable(), STANDIN_PATH " is not executable");
        QVERIFY(m_runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    }

    void cleanup()
    {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
        standin(Setupc::uninstallArgs());
        // Whatever the script left running, the test does not leave behind, however it spelled
        // the folder.
        for (const QString &spelling : {m_runtime.path() + "/", linkedRuntime()}) {
            const QByteArray needle = QFile::encodeName("link=" + spelling);
            for (const QString &entry : QDir("/proc").entryList(QDir::Dirs)) {
                if (TestSupport::readFile("/proc/" + entry + "/cmdline").contains(needle))
                    ::kill(entry.toInt(), SIGKILL);
            }
        }
        QDir(port(QString())).removeRecursively();
    }

    void installedPairPassesBytes()
    {
        // Read through a pipe to its end, as a shell would: a background socat still holding
        // the pipe would keep it open and cat waiting.
        QProcess piped;
        piped.start(TestSupport::findTool("bash"), {"-c", "\"$0\" \"$@\" 2>&1 | cat", STANDIN_PATH,
                                                     Setupc::installArgs("COM5", "COM6").first()});
        const Run r = TestSupport::finish(piped);
        QVERIFY2(r.finished, "the stand-in's output stayed open after it returned");
        QVERIFY2(Setupc::installSucceeded(r.out), qPrintable(r.out));
        QVERIFY(linked("COM5") && linked("COM6"));
        QVERIFY(QFileInfo(port("COM5")).canonicalFilePath().startsWith("/dev/pts/"));
        QVERIFY(QFileInfo(port("COM6")).canonicalFilePath().startsWith("/dev/pts/"));
        // The script has ended; the pair has not.
        QCOMPARE(socats("COM5").size(), 1);

        QSerialPort a(port("COM5")), b(port("COM6"));
        QVERIFY2(a.open(QIODevice::ReadWrite), qPrintable(a.errorString()));
        QVERIFY2(b.open(QIODevice::ReadWrite), qPrintable(b.errorString()));
        const QByteArray there("\x00\x11\x13ping\r\n\xff", 10), back("\x7f pong \x00", 8);
        a.write(there);
        QByteArray got;
        QTRY_COMPARE(got += b.readAll(), there);
        b.write(back);
        got.clear();
        QTRY_COMPARE(got += a.readAll(), back);
    }

    void installSplitIntoArguments()
    {
        const Run r = standin({"install", "PortName=COM7", "PortName=COM8"});
        QVERIFY(r.finished);
        QVERIFY2(r.exitCode == 0 && Setupc::installSucceeded(r.out), qPrintable(r.err));
        QCOMPARE(list().out, QString("CNCA0 PortName=COM7\nCNCB0 PortName=COM8\n"));
    }

    void listKeepsCreationOrder()
    {
        INSTALL("COM5", "COM6");
        INSTALL("COM3", "COM4");
        const Run first = list();
        QCOMPARE(first.exitCode, 0);
        QCOMPARE(first.out, QString("CNCA0 PortName=COM5\nCNCB0 PortName=COM6\n"
                                    "CNCA1 PortName=COM3\nCNCB1 PortName=COM4\n"));
        QCOMPARE(list().out, first.out);
        QCOMPARE(Setupc::pairs(Setupc::portNames(first.out)), (Pairs{{"COM5", "COM6"}, {"COM3", "COM4"}}));
    }

    void installRefused_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<bool>("foreignPort");
        QTest::newRow("first name in use") << "install PortName=COM5 PortName=COM7" << false;
        QTest::newRow("second name in use") << "install PortName=COM7 PortName=COM6" << false;
        QTest::newRow("pair reversed") << "install PortName=COM6 PortName=COM5" << false;
        QTest::newRow("same name twice") << "install PortName=COM7 PortName=COM7" << false;
        QTest::newRow("lower case") << "install PortName=com7 PortName=COM8" << false;
        QTest::newRow("no number") << "install PortName=COMx PortName=COM8" << false;
        QTest::newRow("COM0") << "install PortName=COM0 PortName=COM8" << false;
        QTest::newRow("leading zero") << "install PortName=COM07 PortName=COM8" << false;
        QTest::newRow("two leading zeros") << "install PortName=COM8 PortName=COM007" << false;
        QTest::newRow("path in name") << "install PortName=../COM7 PortName=COM8" << false;
        QTest::newRow("one name") << "install PortName=COM7" << false;
        QTest::newRow("three names") << "install PortName=COM7 PortName=COM8 PortName=COM9" << false;
        QTest::newRow("someone else's link") << "install PortName=COM7 PortName=COM8" << true;
    }

    void installRefused()
    {
        QFETCH(QString, request);
        QFETCH(bool, foreignPort);
        INSTALL("COM5", "COM6");
        const QString before = list().out;
        if (foreignPort)
            QVERIFY(QFile::link("/dev/null", port("COM7")));
        const Run r = standin({request});
        QVERIFY(r.finished);
        QVERIFY(r.exitCode != 0);
        QVERIFY2(!Setupc::installSucceeded(r.out), qPrintable(r.out));
        QVERIFY(!r.err.isEmpty());
        // The program shows only the standard output: the refusal must be there too.
        QCOMPARE(r.out, r.err);
        QCOMPARE(list().out, before);
        QCOMPARE(socats().size(), 1);
        QVERIFY(!linked("COM8"));
        QCOMPARE(linked("COM7"), foreignPort);
    }

    void deadPairCleanedUp()
    {
        INSTALL("COM5", "COM6");
        const QList<int> pids = socats("COM5");
        QCOMPARE(pids.size(), 1);
        ::kill(pids.first(), SIGKILL);
        QTRY_VERIFY(socats("COM5").isEmpty());
        QVERIFY(linked("COM5")); // killed outright, socat could not tidy up

        const Run r = list();
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QString());
        QVERIFY(!linked("COM5") && !linked("COM6"));
        INSTALL("COM5", "COM6");
        // a dangling link is no port and does not block its name
        QVERIFY(QFile::link(port("gone"), port("COM7")));
        INSTALL("COM7", "COM8");
    }

    void removeFirstListed()
    {
        INSTALL("COM5", "COM6");
        INSTALL("COM3", "COM4");
        // A socat that ignores the polite request must still be gone when remove returns.
        QCOMPARE(socats("COM5").size(), 1);
        ::kill(socats("COM5").first(), SIGSTOP);
        const Run r = standin(Setupc::removeArgs(0));
        QVERIFY(r.finished);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(Setupc::portNames(r.out), (QStringList{"COM5", "COM6"}));
        QVERIFY(!linked("COM5") && !linked("COM6"));
        QVERIFY(socats("COM5").isEmpty());
        QVERIFY(linked("COM3") && linked("COM4"));
        QCOMPARE(socats("COM3").size(), 1);
        QCOMPARE(list().out, QString("CNCA0 PortName=COM3\nCNCB0 PortName=COM4\n"));
    }

    void removeBadNumber_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("absent") << QStringList{"remove"};
        QTest::newRow("past the end") << QStringList{"remove", "1"};
        QTest::newRow("negative") << QStringList{"remove", "-1"};
        QTest::newRow("wraps round to -1") << QStringList{"remove", "18446744073709551615"};
        QTest::newRow("not a number") << QStringList{"remove", "x"};
        QTest::newRow("trailing text") << QStringList{"remove", "0x"};
        QTest::newRow("two numbers") << QStringList{"remove", "0", "0"};
    }

    void removeBadNumber()
    {
        QFETCH(QStringList, args);
        INSTALL("COM5", "COM6");
        const Run r = standin(args);
        QVERIFY(r.finished);
        QVERIFY(r.exitCode != 0);
        QVERIFY(!r.err.isEmpty());
        QCOMPARE(r.out, r.err);
        QCOMPARE(list().out, QString("CNCA0 PortName=COM5\nCNCB0 PortName=COM6\n"));
        QCOMPARE(socats("COM5").size(), 1);
    }

    void uninstallRemovesAll()
    {
        INSTALL("COM5", "COM6");
        INSTALL("COM3", "COM4");
        INSTALL("COM10", "COM11");
        const Run r = standin(Setupc::uninstallArgs());
        QVERIFY(r.finished);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(list().out, QString());
        QVERIFY(socats().isEmpty());
        QCOMPARE(QDir(port(QString())).entryList({"COM*"}, QDir::System | QDir::AllEntries), QStringList());
    }

    void usage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("nothing") << QStringList();
        QTest::newRow("unknown") << QStringList{"frobnicate"};
        QTest::newRow("upper case") << QStringList{"LIST"};
    }

    void usage()
    {
        QFETCH(QStringList, args);
        const Run r = standin(args);
        QVERIFY(r.finished);
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.out.startsWith("usage: setupc.exe list\n"));
        QCOMPARE(r.out, r.err);
    }

    // A folder anyone else could put a link into, or swap, is refused as the program refuses it.
    void folderRefused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("why");
        QTest::newRow("writable by all") << "777" << "can be written by other users";
        QTest::newRow("writable by the group") << "770" << "can be written by other users";
        QTest::newRow("a link to a folder of ours") << "link" << "is a link, not a folder";
        QTest::newRow("another user's") << "foreign" << "belongs to another user";
    }

    void folderRefused()
    {
        QFETCH(QString, kind);
        QFETCH(QString, why);
        QTemporaryDir runtime;
        QVERIFY(runtime.isValid());
        const QString dir = runtime.path() + "/vcom";
        QString failed;
        QVERIFY2(TestSupport::makeVirtualPortDir(dir, kind, &failed), qPrintable(failed));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));

        const QString refusal = "setupc.exe: " + dir + " " + why + "\n";
        for (const QString &request : {Setupc::listArgs().first(), Setupc::installArgs("COM5", "COM6").first()}) {
            const Run r = standin({request});
            QCOMPARE(r.exitCode, 1);
            QCOMPARE(r.out, refusal);
            QCOMPARE(r.err, refusal);
        }
        QVERIFY(QDir(dir).entryList({"COM*"}, QDir::System | QDir::AllEntries).isEmpty());
        const QByteArray needle = QFile::encodeName("link=" + runtime.path());
        for (const QString &entry : QDir("/proc").entryList(QDir::Dirs))
            QVERIFY(!TestSupport::readFile("/proc/" + entry + "/cmdline").contains(needle));
    }

    // The pairs are the same however the runtime folder is spelled: a later call spelling it
    // otherwise must neither lose a pair nor leave its socat behind.
    void sameFolderHoweverSpelled_data()
    {
        QTest::addColumn<QString>("made");
        QTest::addColumn<QString>("used");
        const QString real = m_runtime.path();
        const QString link = linkedRuntime();
        QTest::newRow("trailing slash, then without") << real + "/" << real;
        QTest::newRow("without, then trailing slash") << real << real + "/";
        QTest::newRow("linked path, then the real one") << link << real;
        QTest::newRow("real path, then a linked one") << real << link;
    }

    void sameFolderHoweverSpelled()
    {
        QFETCH(QString, made);
        QFETCH(QString, used);
        const QString link = linkedRuntime();
        QFile::remove(link);
        QVERIFY(QFile::link(m_runtime.path(), link));
        const auto unlink = qScopeGuard([link] { QFile::remove(link); });

        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(made));
        INSTALL("COM5", "COM6");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(used));
        QCOMPARE(list().out, QString("CNCA0 PortName=COM5\nCNCB0 PortName=COM6\n"));
        QCOMPARE(socats("COM5").size(), 1);
        QCOMPARE(standin(Setupc::removeArgs(0)).exitCode, 0);
        QVERIFY(socats().isEmpty());
        QVERIFY(!linked("COM5") && !linked("COM6"));
    }

    // The program kills a run after 30 s, and a user may kill it at any time: whatever the
    // moment, what the run made is a pair that is listed and that uninstall ends, and its names
    // can be taken again.
    void killedMidInstall_data()
    {
        QTest::addColumn<int>("moment");
        QTest::newRow("at once") << 0;
        QTest::newRow("as socat starts") << 1;
        QTest::newRow("once the links exist") << 2;
    }

    void killedMidInstall()
    {
        QFETCH(int, moment);
        const auto reached = [this, moment] {
            return moment == 0 || (moment == 1 && socatServes("COM5"))
                   || (moment == 2 && linked("COM5") && linked("COM6"));
        };
        QProcess install;
        install.start(QStringLiteral(STANDIN_PATH), Setupc::installArgs("COM5", "COM6"));
        QVERIFY(install.waitForStarted(5000));
        QElapsedTimer timer;
        timer.start();
        while (!reached() && install.state() == QProcess::Running && timer.elapsed() < 10000)
            QThread::yieldCurrentThread();
        QVERIFY2(install.state() == QProcess::Running, "the install ended before the moment came");
        install.kill();
        QVERIFY(install.waitForFinished(3000));

        // What it started runs on by itself for a moment: until it is a socat with both links,
        // or nothing.
        QTRY_VERIFY_WITH_TIMEOUT(socats("COM5").isEmpty() || (socatServes("COM5") && linked("COM5") && linked("COM6")),
                                 5000);
        const bool made = !socats("COM5").isEmpty();
        QCOMPARE(list().out, made ? QString("CNCA0 PortName=COM5\nCNCB0 PortName=COM6\n") : QString());
        QCOMPARE(standin(Setupc::uninstallArgs()).exitCode, 0);
        QVERIFY(socats().isEmpty());
        QCOMPARE(QDir(port(QString())).entryList({"COM*"}, QDir::System | QDir::AllEntries), QStringList());
        INSTALL("COM5", "COM6");
    }

    void callsAtTheSameTime()
    {
        std::vector<std::unique_ptr<QProcess>> runs;
        const QStringList requests{Setupc::installArgs("COM11", "COM12").first(),
                                   Setupc::installArgs("COM13", "COM14").first(),
                                   Setupc::installArgs("COM15", "COM16").first(),
                                   Setupc::installArgs("COM20", "COM21").first(),
                                   Setupc::installArgs("COM20", "COM22").first(),
                                   Setupc::listArgs().first()};
        for (const QString &request : requests) {
            runs.push_back(std::make_unique<QProcess>());
            runs.back()->start(QStringLiteral(STANDIN_PATH), {request});
        }
        QList<Run> results;
        for (auto &p : runs)
            results << TestSupport::finish(*p);
        for (int i = 0; i < 3; ++i)
            QVERIFY2(Setupc::installSucceeded(results[i].out), qPrintable(results[i].err));
        // one of the two wanting COM20 gets it
        QCOMPARE(int(Setupc::installSucceeded(results[3].out)) + int(Setupc::installSucceeded(results[4].out)), 1);
        QCOMPARE(results[5].exitCode, 0);

        const QStringList names = Setupc::portNames(list().out);
        QCOMPARE(names.size(), 8);
        QCOMPARE(QSet<QString>(names.begin(), names.end()).size(), 8);
        QCOMPARE(socats().size(), 4);
    }
};

QTEST_GUILESS_MAIN(TestStandin)
#include "tst_standin.moc"
