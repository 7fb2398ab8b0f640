// The program's requests to setupc.exe as Windows hands them over: started the way the window
// starts it, the fake records the raw command line, and the install request is one quoted
// argument there.
#include "setupc.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#ifndef FAKE_SETUPC_PATH
#error "FAKE_SETUPC_PATH must name the built fake setupc.exe"
#endif

class TestWinTools : public QObject
{
    Q_OBJECT

private:
    static QByteArray recorded(const char *name)
    {
        QFile file(Setupc::folderPath() + QLatin1String(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<fake was not run>");
    }

private slots:
    void initTestCase()
    {
        QDir(Setupc::folderPath()).removeRecursively();
        QVERIFY(QDir().mkpath(Setupc::folderPath()));
        QVERIFY(QFile::copy(QStringLiteral(FAKE_SETUPC_PATH), Setupc::programPath()));
    }

    void cleanupTestCase() { QDir(Setupc::folderPath()).removeRecursively(); }

    void requestsOnTheCommandLine_data()
    {
        QTest::addColumn<QStringList>("request");
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QByteArray>("args");
        // Qt puts two blanks after the program's name.
        QTest::newRow("install") << Setupc::installArgs("COM5", "COM6")
                                 << "  \"install PortName=COM5 PortName=COM6\""
                                 << QByteArray("install PortName=COM5 PortName=COM6\0", 36);
        QTest::newRow("list") << Setupc::listArgs() << "  list" << QByteArray("list\0", 5);
        QTest::newRow("remove") << Setupc::removeArgs(3) << "  remove 3" << QByteArray("remove\0" "3\0", 9);
    }

    void requestsOnTheCommandLine()
    {
        QFETCH(QStringList, request);
        QFETCH(QString, commandLine);
        QFETCH(QByteArray, args);
        QFile out(Setupc::folderPath() + "stdout");
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write("CNCA0 PortName=COM5\r\n");
        out.close();
        QCOMPARE(Setupc::run(nullptr, request), QString("CNCA0 PortName=COM5\r\n"));
        const QString program = QDir::toNativeSeparators(Setupc::programPath());
        // the program's path holds no blank here, so it goes unquoted
        QVERIFY(!program.contains(' '));
        QCOMPARE(QString::fromUtf8(recorded("cmdline")), program + commandLine);
        QCOMPARE(recorded("args"), args);
    }
};

QTEST_GUILESS_MAIN(TestWinTools)
#include "tst_wintools.moc"
