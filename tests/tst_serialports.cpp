// Port names for the dialogs and the device each opens, with the virtual pairs this machine makes.
#include "connectdialog.h"
#include "qpipemap.h"
#include "serialports.h"
#include "testsupport.h"

#include <QComboBox>
#include <QSerialPort>
#include <QtTest>

#include <memory>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

using namespace TestSupport;

class TestSerialPorts : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_runtime;

    QString folder() const { return m_runtime.path() + "/vcom"; }

#ifndef Q_OS_WIN
    static QString standIn(const QStringList &args) { return run(STANDIN_PATH, args, 30000).out; }
#endif

private slots:
    void initTestCase()
    {
        QVERIFY(m_runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toLocal8Bit());
#ifndef Q_OS_WIN
        QVERIFY2(!findTool("socat").isEmpty(), "socat is not installed: apt-get install socat");
#endif
    }

    void cleanup()
    {
#ifndef Q_OS_WIN
        standIn({"uninstall"});
#endif
        QFile::remove(folder()); // when it is a link
        QDir(folder() + ".real").removeRecursively();
        QDir(folder()).removeRecursively();
    }

    void folderFollowsTheRuntimeDir()
    {
#ifdef Q_OS_WIN
        QSKIP("there is no virtual-port folder on Windows: the ports are the driver's");
#else
        QCOMPARE(SerialPorts::virtualPortDir(), folder());
        qunsetenv("XDG_RUNTIME_DIR");
        QCOMPARE(SerialPorts::virtualPortDir(), QString("/tmp/vcom-%1").arg(getuid()));
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toLocal8Bit());
#endif
    }

    void namesWithoutTheFolder()
    {
        QVERIFY(SerialPorts::virtualPortNames().isEmpty());
        QCOMPARE(SerialPorts::devicePath("COM5"), QString("COM5"));
        QCOMPARE(SerialPorts::devicePath("ttyS0"), QString("ttyS0"));
        QCOMPARE(SerialPorts::devicePath("/dev/pts/3"), QString("/dev/pts/3"));
    }

    void linksAreSortedByNumberAndDeadOnesLeftOut()
    {
#ifdef Q_OS_WIN
        QSKIP("there is no virtual-port folder on Windows: the ports are the driver's");
#endif
        QVERIFY(QDir().mkpath(folder()));
        for (const char *name : {"COM10", "COM9", "COM100"})
            QVERIFY(QFile::link("/dev/null", folder() + "/" + name));
        QVERIFY(QFile::link("/nonexistent/pts/7", folder() + "/COM11"));
        QVERIFY(QFile::link("/dev/null", folder() + "/notaport"));
        QVERIFY(QFile::link("/dev/null", folder() + "/COM12x"));
        // a file is no port, whether it stands there or a link leads to it
        QVERIFY(writeFile(folder() + "/COM13", "not a terminal"));
        QVERIFY(QFile::link(folder() + "/COM13", folder() + "/COM14"));
        QVERIFY(QFile::link(folder(), folder() + "/COM15"));
        QCOMPARE(SerialPorts::virtualPortNames(), QStringList({"COM9", "COM10", "COM100"}));
        const QStringList all = SerialPorts::portNames();
        QVERIFY(all.indexOf("COM9") < all.indexOf("COM10"));
        QCOMPARE(all.count("COM9"), 1);
        QCOMPARE(SerialPorts::devicePath("COM9"), QString("/dev/null"));
        // a link whose terminal is gone is no port
        QVERIFY(!SerialPorts::portNames().contains("COM11"));
    }

    // Anyone who can put a link into the folder could take a connection's traffic: only a
    // real folder of ours that no one else can write to counts.
    void onlyATrustedFolderHasPorts_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("problem"); // follows the folder's path
        QTest::newRow("private") << "700" << QString();
        QTest::newRow("readable by all") << "755" << QString();
        QTest::newRow("writable by all") << "777" << " доступна для записи другим пользователям";
        QTest::newRow("writable by all, sticky") << "1777" << " доступна для записи другим пользователям";
        QTest::newRow("writable by the group") << "770" << " доступна для записи другим пользователям";
        QTest::newRow("a link to a folder of ours") << "link" << " — ссылка, а не папка";
        QTest::newRow("another user's") << "foreign" << " принадлежит другому пользователю";
    }

    void onlyATrustedFolderHasPorts()
    {
        QFETCH(QString, kind);
        QFETCH(QString, problem);
#ifdef Q_OS_WIN
        QSKIP("there is no virtual-port folder on Windows: the ports are the driver's");
#endif
        QString failed;
        QVERIFY2(makeVirtualPortDir(folder(), kind, &failed), qPrintable(failed));
        QVERIFY(QFile::link("/dev/null", folder() + "/COM5"));
        const bool trusted = problem.isEmpty();
        QCOMPARE(SerialPorts::virtualPortDirProblem(), trusted ? QString() : folder() + problem);
        QCOMPARE(SerialPorts::virtualPortNames(), trusted ? QStringList{"COM5"} : QStringList());
        QCOMPARE(SerialPorts::portNames().contains("COM5"), trusted);
        QCOMPARE(SerialPorts::devicePath("COM5"), trusted ? QString("/dev/null") : QString("COM5"));
    }

    // On Windows a pair's ports are in the system's list once its driver registered them, as a
    // PtyPair's are; elsewhere they are the stand-in's COM links.
    void aPairIsOfferedAndRelays()
    {
#ifdef Q_OS_WIN
        auto pair = std::make_unique<PtyPair>();
        REQUIRE_PTY_PAIR(*pair);
        const QString nullName = pair->nullEnd();
        const QString workName = pair->workEnd();
        QVERIFY(SerialPorts::portNames().contains(nullName));
        QVERIFY(SerialPorts::portNames().contains(workName));
#else
        const QString out = standIn({"install PortName=COM41 PortName=COM42"});
        QVERIFY2(out.contains("logged as \"in use\""), qPrintable(out));
        const QString nullName = "COM41";
        const QString workName = "COM42";
        QCOMPARE(SerialPorts::virtualPortNames(), QStringList({"COM41", "COM42"}));
        QVERIFY(SerialPorts::devicePath("COM41").startsWith("/dev/pts/"));
#endif

        // the connection dialog offers the new ports at once
        ConnectDialog dialog;
        auto *nullBox = dialog.findChild<QComboBox *>("cbPortNull");
        QVERIFY(nullBox->findText(nullName) >= 0);
        QVERIFY(nullBox->findText(workName) >= 0);

        // a connection on the one port relays what the user's program writes on the other, and back
        TcpPeer peer;
        QVERIFY(peer.listen());
        QPipeItem item("Pipe");
        item.setPropertyMap({{"id", 1}, {"name", "n"}, {"port_work", workName}, {"port_null", nullName},
                             {"ipaddr", "127.0.0.1"}, {"ipport", peer.port()}});
        item.onConnection();
        QTRY_COMPARE(item.state(), QPipeItem::PipeConnect);
        QTRY_COMPARE(peer.clientCount(), 1);
        QSerialPort work;
        work.setPortName(SerialPorts::devicePath(workName));
        QVERIFY(work.open(QIODevice::ReadWrite));
        work.write("to device");
        QTRY_COMPARE(peer.received, QByteArray("to device"));
        peer.client()->write("to program");
        QByteArray back;
        QTRY_COMPARE(back += work.readAll(), QByteArray("to program"));
        item.onDisconnection();

        // removed: the names are gone from the lists
#ifdef Q_OS_WIN
        pair.reset();
        QVERIFY(!SerialPorts::portNames().contains(nullName));
        QVERIFY(!SerialPorts::portNames().contains(workName));
#else
        standIn({"remove", "0"});
        QTRY_VERIFY(SerialPorts::virtualPortNames().isEmpty());
        QCOMPARE(SerialPorts::devicePath("COM41"), QString("COM41"));
#endif
    }
};

QTEST_MAIN(TestSerialPorts)
#include "tst_serialports.moc"
