// Start at logon: the XDG autostart entry here, the Run key value on Windows, written and removed.
#include "autorun.h"

#include "wintools/registry.h"

#include <QtTest>

// Starts a copy of this test that only registers itself, with XDG_CONFIG_HOME at `configHome`.
static int runChild(const QString &copy, const QString &configHome)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", configHome);
    env.insert("VCOM_AUTORUN_CHILD", "1");
    child.setProcessEnvironment(env);
    child.start(copy, QStringList());
    if (!child.waitForFinished(30000))
        return -1;
    return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
}

#ifndef Q_OS_WIN

class TestAutoRun : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;

    static QMap<QString, QString> readEntry(const QString &path)
    {
        QMap<QString, QString> keys;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            return keys;
        const QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
        if (lines.value(0) != "[Desktop Entry]")
            return keys;
        for (const QString &line : lines) {
            const int eq = line.indexOf('=');
            if (eq > 0)
                keys.insert(line.left(eq), line.mid(eq + 1));
        }
        return keys;
    }

    // Undoes the two escape layers of an Exec value with one argument, as a launcher does.
    static QString unquoteExec(const QString &value)
    {
        QString s;
        for (int i = 0; i < value.size(); ++i) {
            if (value[i] == '\\' && i + 1 < value.size())
                ++i;
            s += value[i];
        }
        s.replace("%%", "%");
        if (!s.startsWith('"'))
            return s;
        QString arg;
        for (int i = 1; i < s.size() - 1; ++i) {
            if (s[i] == '\\' && i + 1 < s.size() - 1)
                ++i;
            arg += s[i];
        }
        return arg;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("XDG_CONFIG_HOME", m_home.path().toLocal8Bit());
    }

    void entryWrittenAndRemoved()
    {
        const QString path = AutoRun::desktopEntryPath();
        QCOMPARE(path, m_home.path() + "/autostart/" + QCoreApplication::applicationName() + ".desktop");
        AutoRun::set(true);
        const auto keys = readEntry(path);
        QCOMPARE(keys.value("Type"), QString("Application"));
        QCOMPARE(keys.value("Name"), QCoreApplication::applicationName());
        QCOMPARE(unquoteExec(keys.value("Exec")), QCoreApplication::applicationFilePath());
        // checking twice keeps one entry
        AutoRun::set(true);
        QCOMPARE(QDir(m_home.path() + "/autostart").entryList(QDir::Files).size(), 1);
        AutoRun::set(false);
        QVERIFY(!QFile::exists(path));
        // removing an absent entry does no harm
        AutoRun::set(false);
        QVERIFY(!QFile::exists(path));
    }

    void homeFallback()
    {
        const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
        qunsetenv("XDG_CONFIG_HOME");
        QCOMPARE(AutoRun::desktopEntryPath(),
                 QDir::homePath() + "/.config/autostart/" + QCoreApplication::applicationName() + ".desktop");
        qputenv("XDG_CONFIG_HOME", saved);
    }

    void execQuoting_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << "/opt/vcom/VantrelVCom" << "/opt/vcom/VantrelVCom";
        QTest::newRow("blanks") << "/opt/my vcom/VantrelVCom" << "\"/opt/my vcom/VantrelVCom\"";
        QTest::newRow("dollar and quote") << "/opt/a$b\"c" << "\"/opt/a\\\\$b\\\\\"c\"";
        QTest::newRow("backslash") << "/opt/a\\b" << "\"/opt/a\\\\\\\\b\"";
        QTest::newRow("percent") << "/opt/100%/v" << "/opt/100%%/v";
    }

    void execQuoting()
    {
        QFETCH(QString, program);
        QFETCH(QString, exec);
        QCOMPARE(AutoRun::execValue(program), exec);
        QCOMPARE(unquoteExec(AutoRun::execValue(program)), program);
    }

    void startFolderAtLogon_data()
    {
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("logon");
        QTest::addColumn<bool>("changes");
        const QString here = QDir::tempPath();
        QTest::newRow("started by the Run key") << "C:\\Windows\\System32" << here << true;
        QTest::newRow("started from a shortcut") << "D:/Vantrel" << here << false;
        QTest::newRow("logon folder gone") << "C:/Windows/System32/" << here + "/gone-away" << false;
        QTest::newRow("never switched on") << "C:/Windows/System32" << QString() << false;
    }

    void startFolderAtLogon()
    {
        // The system folder as Windows reports it, against the current folder as the process has it.
        QFETCH(QString, current);
        QFETCH(QString, logon);
        QFETCH(bool, changes);
        QCOMPARE(AutoRun::startFolder(current, "c:\\windows\\system32", logon), changes ? logon : current);
    }

    void programInAFolderWithBlanks()
    {
        // Run a copy of this test from a folder whose name has blanks, and read what it wrote.
        QTemporaryDir root;
        const QString folder = root.path() + "/Program Files (x86)/Vantrel VCom";
        QVERIFY(QDir().mkpath(folder));
        const QString copy = folder + "/" + QFileInfo(QCoreApplication::applicationFilePath()).fileName();
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), copy));
        QTemporaryDir childHome;
        QCOMPARE(runChild(copy, childHome.path()), 0);
        const auto keys = readEntry(childHome.path() + "/autostart/" + QFileInfo(copy).fileName() + ".desktop");
        QCOMPARE(keys.value("Exec"), "\"" + copy + "\"");
    }
};

#else

class TestAutoRun : public QObject
{
    Q_OBJECT

private:
    static QString runKey() { return QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Run"); }
    static QString name() { return QStringLiteral("tst_autorun"); }
    // The user's own start-at-logon values, to see that only ours comes and goes.
    QMap<QString, QString> m_others;

private slots:
    void initTestCase()
    {
        QCOMPARE(QCoreApplication::applicationName(), name());
        m_others = Registry::values(HKEY_CURRENT_USER, runKey());
        QVERIFY2(!m_others.contains(name()), "a tst_autorun value is left from an earlier run");
    }

    void cleanup() { Registry::removeValue(HKEY_CURRENT_USER, runKey(), name()); }

    void valueWrittenAndRemoved()
    {
        AutoRun::set(true);
        QMap<QString, QString> run = Registry::values(HKEY_CURRENT_USER, runKey());
        // a string named after the program, its full path with backslashes and nothing else
        const QString path = run.take(name());
        QCOMPARE(path, QDir::toNativeSeparators(QCoreApplication::applicationFilePath()));
        QVERIFY2(QRegularExpression("^[A-Z]:\\\\[^/\"]+\\\\tst_autorun\\.exe$").match(path).hasMatch(), qPrintable(path));
        QCOMPARE(run, m_others);
        AutoRun::set(false);
        QCOMPARE(Registry::values(HKEY_CURRENT_USER, runKey()), m_others);
        // removing an absent value does no harm
        AutoRun::set(false);
        QCOMPARE(Registry::values(HKEY_CURRENT_USER, runKey()), m_others);
    }

    void programInAFolderWithBlanks()
    {
        // Run a copy of this test from a folder whose name has blanks, and read what it wrote.
        QTemporaryDir root;
        const QString folder = root.path() + "/Program Files (x86)/Vantrel VCom";
        QVERIFY(QDir().mkpath(folder));
        const QString copy = folder + "/tst_autorun.exe";
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), copy));
        QCOMPARE(runChild(copy, root.path()), 0);
        const QString native = QDir::toNativeSeparators(root.path()) + "\\Program Files (x86)\\Vantrel VCom\\tst_autorun.exe";
        // no quotes, though the path holds blanks
        QCOMPARE(Registry::values(HKEY_CURRENT_USER, runKey()).value(name()), native);
    }
};

#endif

// The copy started by programInAFolderWithBlanks only registers itself and ends.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("VCOM_AUTORUN_CHILD")) {
        AutoRun::set(true);
#ifdef Q_OS_WIN
        return 0;
#else
        return QFile::exists(AutoRun::desktopEntryPath()) ? 0 : 1;
#endif
    }
    TestAutoRun test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_autorun.moc"
