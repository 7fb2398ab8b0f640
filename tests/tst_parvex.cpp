// Parvex, the driver installer, as a black box: the built program runs in temporary folders with a
// fake devcon.exe (a bash script here, a small program of ours on Windows) that records its
// arguments next to itself, prints some text and exits with a chosen code, fails, crashes or hangs.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "testsupport.h"

#ifndef PARVEX_PATH
#error "PARVEX_PATH must name the built Parvex (see tst_parvex.cmake)"
#endif
#ifdef Q_OS_WIN
#ifndef FAKE_DEVCON_PATH
#error "FAKE_DEVCON_PATH must name the built fake devcon.exe (see tst_parvex.cmake)"
#endif
#include <windows.h>
#endif

using TestSupport::readFile;
using TestSupport::writeFile;
using TestSupport::writeScript;

namespace {

struct Run
{
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QByteArray out;
    QByteArray err;
    QStringList lines; // stderr split into lines, decoded as UTF-8
    qint64 ms = 0;
};

// How qDebug() << QString prints a text: in double quotes.
QString q(const QString &s)
{
    return QLatin1Char('"') + s + QLatin1Char('"');
}

const char *const kFiles[] = {"devcon.exe", "com0com.inf", "com0com.sys", "com0com.cat"};
const char *const kCopying[] = {"Copyring devcon...", "Copyring inf files...", "Copyring sys files...",
                                "Copyring cat files..."};
const char *const kMissing[] = {"File devcon.exe not found!", "File com0com.inf not found!",
                                "File com0com.sys not found!", "File com0com.cat not found!"};

// What the fake devcon does after printing, in the words of each system's fake.
#ifdef Q_OS_WIN
const QByteArray kCrash = "crash";
const QByteArray kHang = "hang 60";
#else
const QByteArray kCrash = "kill -SEGV $$";
// exec: the recorded pid is the sleeping process itself
const QByteArray kHang = "exec sleep 60";
#endif

// Qt writes its log to stderr in the local 8-bit encoding: UTF-8 here, the ANSI code page on
// Windows, which has no letters for a Cyrillic path. The log is compared with what that encoding
// can carry; the fake's own record checks the arguments whole.
QString logged(const QString &s)
{
#ifdef Q_OS_WIN
    return QString::fromLocal8Bit(s.toLocal8Bit());
#else
    return s;
#endif
}

// Whether the process is gone, reaped and all.
bool processGone(qint64 pid)
{
#ifdef Q_OS_WIN
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!h)
        return true;
    DWORD code = 0;
    const bool ended = GetExitCodeProcess(h, &code) && code != STILL_ACTIVE;
    CloseHandle(h);
    return ended;
#else
    return !QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid));
#endif
}

} // namespace

class TestParvex : public QObject
{
    Q_OBJECT

private:
    // Parvex gives devcon.exe 30 s at most; the rest is its own start and exit.
    static Run runParvex(const QStringList &args, const QString &workDir = QString(), int timeoutMs = 45000)
    {
        Run r;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // A plain, stable debug log on stderr, whatever the caller's environment says.
        env.remove(QStringLiteral("QT_MESSAGE_PATTERN"));
        env.remove(QStringLiteral("QT_LOGGING_RULES"));
        env.remove(QStringLiteral("QT_LOGGING_CONF"));
        env.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        p.setProcessEnvironment(env);
        if (!workDir.isEmpty())
            p.setWorkingDirectory(workDir);
        QElapsedTimer t;
        t.start();
        p.start(QStringLiteral(PARVEX_PATH), args);
        if (!p.waitForStarted(10000)) {
            qWarning("Parvex did not start: %s", qPrintable(p.errorString()));
            return r;
        }
        if (!p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished();
            qWarning("Parvex did not finish in time");
            return r;
        }
        r.ms = t.elapsed();
        r.exitStatus = p.exitStatus();
        r.exitCode = p.exitCode();
        r.out = p.readAllStandardOutput();
        r.err = p.readAllStandardError();
#ifdef Q_OS_WIN
        // stderr is a text stream there: its lines end in CR LF
        const QString text = QString::fromLocal8Bit(r.err).replace(QLatin1String("\r\n"), QLatin1String("\n"));
#else
        const QString text = QString::fromUtf8(r.err);
#endif
        r.lines = text.split(QLatin1Char('\n'));
        if (!r.lines.isEmpty() && r.lines.last().isEmpty())
            r.lines.removeLast();
        return r;
    }

    // A fake devcon.exe: records its pid (pid.txt) and arguments (args.txt, one per line) next to
    // itself, prints `output` on stdout, then does `tail` ("exit N", kCrash, kHang).
    static bool writeDevcon(const QString &folder, const QByteArray &output, const QByteArray &tail)
    {
#ifdef Q_OS_WIN
        QFile fake(QStringLiteral(FAKE_DEVCON_PATH));
        if (!fake.open(QIODevice::ReadOnly))
            return false;
        return writeFile(folder + QStringLiteral("/devcon.exe"), fake.readAll() + "\nVCOM-FAKE-DEVCON\n" + tail + "\n" + output);
#else
        QByteArray script = "here=$(dirname \"$0\")\n"
                            "echo $$ > \"$here/pid.txt\"\n"
                            "printf '%s\\n' \"$@\" > \"$here/args.txt\"\n"
                            "printf '";
        for (char c : output) {
            script += "\\x";
            script += QByteArray::number(static_cast<unsigned char>(c), 16).rightJustified(2, '0');
        }
        script += "'\n" + tail + "\n";
        return writeScript(folder + QStringLiteral("/devcon.exe"), script);
#endif
    }

    static QByteArray driverBytes(const char *name, const QByteArray &tag = "v1")
    {
        return QByteArray("fake ") + name + " " + tag + QByteArray("\x00\x01\xff\r\n", 5);
    }

    // A source folder with all four files; devcon prints `output` and exits with `code`.
    static bool fillSource(const QString &src, const QByteArray &output = "devcon ran\n", int code = 0)
    {
        if (!QDir().mkpath(src) || !writeDevcon(src, output, "exit " + QByteArray::number(code)))
            return false;
        for (int i = 1; i < 4; ++i) {
            if (!writeFile(src + "/" + kFiles[i], driverBytes(kFiles[i])))
                return false;
        }
        return true;
    }

    static QStringList argsOf(const QString &devconFolder)
    {
        QString s = QString::fromUtf8(readFile(devconFolder + "/args.txt"));
        QStringList l = s.split(QLatin1Char('\n'));
        if (!l.isEmpty() && l.last().isEmpty())
            l.removeLast();
        return l;
    }

    static QStringList installArgs(const QString &dest)
    {
        return {QStringLiteral("install"), dest + "/com0com.inf", dest + "/com0com.sys"};
    }

    static QStringList allCopying()
    {
        QStringList l;
        for (const char *s : kCopying)
            l << QString::fromLatin1(s);
        return l;
    }

    static QStringList allMissing()
    {
        QStringList l;
        for (const char *s : kMissing)
            l << QString::fromLatin1(s);
        return l;
    }

private slots:
    void wrongArgumentCount_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("none") << QStringList();
        QTest::newRow("one") << QStringList{QStringLiteral("src")};
        QTest::newRow("three") << QStringList{QStringLiteral("src"), QStringLiteral("dst"), QStringLiteral("x")};
    }

    void wrongArgumentCount()
    {
        QFETCH(QStringList, args);
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        // Even a full source folder and a would-be destination are left untouched.
        QVERIFY(fillSource(tmp.path() + "/src"));
        const Run r = runParvex(args, tmp.path());
        QCOMPARE(r.exitStatus, QProcess::NormalExit);
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.out, QByteArray());
        QCOMPARE(r.err, QByteArray());
        QVERIFY(!QFileInfo::exists(tmp.path() + "/dst"));
        QVERIFY(!QFileInfo::exists(tmp.path() + "/src/args.txt"));
    }

    void fullSource()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        // A blank and non-ASCII letters in both paths: arguments are UTF-8 and are never split.
        const QString src = tmp.path() + QString::fromUtf8("/source files");
        const QString dst = tmp.path() + QString::fromUtf8("/назначение dir");
        QVERIFY(fillSource(src, QByteArray("devcon says caf\xe9\r\nDrivers installed.\n"), 0));

        const Run r = runParvex({src, dst});
        QCOMPARE(r.exitStatus, QProcess::NormalExit);
        QCOMPARE(r.out, QByteArray());

        QStringList expected;
        expected << logged(q(src) + " " + q(dst)) << logged("Create destination directory " + q(dst))
                 << logged("Source path " + q(src)) << allCopying()
                 << q(QString::fromUtf8("devcon says caf\u00e9\\r\\nDrivers installed.\\n"));
        QCOMPARE(r.lines, expected);

        QVERIFY(QFileInfo(dst).isDir());
        for (const char *name : kFiles)
            QCOMPARE(readFile(dst + "/" + name), readFile(src + "/" + name));
        QCOMPARE(readFile(dst + "/com0com.inf"), driverBytes("com0com.inf"));
        // devcon ran from the destination, with exactly three arguments
        QCOMPARE(argsOf(dst), installArgs(dst));
        QVERIFY(!QFileInfo::exists(src + "/args.txt"));
#ifdef Q_OS_WIN
        // The command line Windows handed over: arguments with blanks quoted, each one whole (Qt
        // puts two blanks after the program).
        const QString nativeDst = QDir::toNativeSeparators(dst);
        QCOMPARE(QString::fromUtf8(readFile(dst + "/cmdline.txt")),
                 "\"" + nativeDst + "\\devcon.exe\"  install \"" + dst + "/com0com.inf\" \"" + dst + "/com0com.sys\"");
#endif
        QCOMPARE(r.exitCode, 0);
    }

    void devconExitCodeIsReturned_data()
    {
        QTest::addColumn<int>("code");
        QTest::newRow("0") << 0;
        QTest::newRow("1") << 1;
        QTest::newRow("3 (failure)") << 3;
        QTest::newRow("42") << 42;
    }

    void devconExitCodeIsReturned()
    {
        QFETCH(int, code);
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString src = tmp.path() + "/src", dst = tmp.path() + "/dst";
        QVERIFY(fillSource(src, "devcon: failure\n", code));
        const Run r = runParvex({src, dst});
        QCOMPARE(r.exitStatus, QProcess::NormalExit);
        QCOMPARE(r.exitCode, code);
        QCOMPARE(argsOf(dst), installArgs(dst));
        QCOMPARE(r.lines.last(), q("devcon: failure\\n"));
    }

    void relativePaths()
    {
        // Paths are taken as given and resolved against the current folder.
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        QVERIFY(fillSource(tmp.path() + "/src", "ok\n", 5));
        const Run r = runParvex({"src", "dst"}, tmp.path());
        QCOMPARE(r.exitCode, 5);
        QStringList expected;
        expected << "\"src\" \"dst\"" << "Create destination directory \"dst\"" << "Source path \"src\""
                 << allCopying() << "\"ok\\n\"";
        QCOMPARE(r.lines, expected);
        QCOMPARE(argsOf(tmp.path() + "/dst"), installArgs("dst"));
    }

    void emptySourceFolder()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString src = tmp.path() + "/src", dst = tmp.path() + "/dst";
        QVERIFY(QDir().mkpath(src));
        const Run r = runParvex({src, dst});
        QStringList expected;
        expected << q(src) + " " + q(dst) << "Create destination directory " + q(dst)
                 << "Source path " + q(src) << allMissing() << q(QString());
        QCOMPARE(r.lines, expected);
        QCOMPARE(r.out, QByteArray());
        QVERIFY(QFileInfo(dst).isDir());
        QCOMPARE(QDir(dst).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
        // the install was attempted, but there is no devcon.exe to start
        QCOMPARE(r.exitStatus, QProcess::NormalExit);
        QCOMPARE(r.exitCode, 2);
    }

    void someFilesMissing()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString src = tmp.path() + "/src", dst = tmp.path() + "/dst";
        QVERIFY(QDir().mkpath(src));
        QVERIFY(writeDevcon(src, "partial\n", "exit 7"));
        QVERIFY(writeFile(src + "/com0com.sys", driverBytes("com0com.sys")));
        const Run r = runParvex({src, dst});
        QStringList expected;
        expected << q(src) + " " + q(dst) << "Create destination directory " + q(dst)
                 << "Source path " + q(src) << kCopying[0] << kMissing[1] << kCopying[2] << kMissing[3]
                 << "\"partial\\n\"";
        QCOMPARE(r.lines, expected);
        QVERIFY(QFileInfo::exists(dst + "/devcon.exe"));
        QVERIFY(!QFileInfo::exists(dst + "/com0com.inf"));
        QCOMPARE(readFile(dst + "/com0com.sys"), driverBytes("com0com.sys"));
        QVERIFY(!QFileInfo::exists(dst + "/com0com.cat"));
        // devcon is still started, with the full command line
        QCOMPARE(argsOf(dst), installArgs(dst));
        QCOMPARE(r.exitCode, 7);
    }

    void missingSourceFolder()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString src = tmp.path() + "/nosuch", dst = tmp.path() + "/dst";
        const Run r = runParvex({src, dst});
        QStringList expected;
        expected << q(src) + " " + q(dst) << "Create destination directory " + q(dst) << q(QString());
        QCOMPARE(r.lines, expected);
        QVERIFY(QFileInfo(dst).isDir());
        QVERIFY(!QFileInfo::exists(src));
        QCOMPARE(r.exitCode, 2);
    }

    void missingSourceFolderDevconInDestination()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString src = tmp.path() + "/nosuch", dst = tmp.path() + "/dst";
        QVERIFY(QDir().mkpath(dst));
        QVERIFY(writeDevcon(dst, "from dest\n", "exit 4"));
        const Run r = runParvex({src, dst});
        QStringList expected;
        expected << q(src) + " " + q(dst) << "Destination path " + q(dst) << "\"from dest\\n\"";
        QCOMPARE(r.lines, expected);
        QCOMPARE(argsOf(dst), installArgs(dst));
        QCOMPARE(r.exitCode, 4);
    }

    void secondRunKeepsFirstCopies()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString src = tmp.path() + "/src", dst = tmp.path() + "/dst";
        QVERIFY(fillSource(src, "first\n", 0));
        const Run first = runParvex({src, dst});
        QCOMPARE(first.exitCode, 0);
        QCOMPARE(first.lines.value(1), "Create destination directory " + q(dst));

        // Change the source between runs: the destination keeps the first run's bytes.
        QVERIFY(writeFile(src + "/com0com.inf", driverBytes("com0com.inf", "v2")));
        QVERIFY(writeDevcon(src, "second\n", "exit 9"));
        QVERIFY(QFile::remove(dst + "/args.txt"));

        const Run second = runParvex({src, dst});
        QStringList expected;
        expected << q(src) + " " + q(dst) << "Destination path " + q(dst) << "Source path " + q(src)
                 << allCopying() << "\"first\\n\"";
        QCOMPARE(second.lines, expected);
        QCOMPARE(readFile(dst + "/com0com.inf"), driverBytes("com0com.inf"));
        QCOMPARE(second.exitCode, 0); // the old devcon in dest ran
        QCOMPARE(argsOf(dst), installArgs(dst));
    }

    void destinationIsAFile()
    {
        // "exists" is true for a file too: no folder is made, the copies and the start fail.
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString src = tmp.path() + "/src", dst = tmp.path() + "/dst";
        QVERIFY(fillSource(src));
        QVERIFY(writeFile(dst, "plain file"));
        const Run r = runParvex({src, dst});
        QCOMPARE(r.lines.value(1), "Destination path " + q(dst));
        QCOMPARE(r.lines.size(), 8);
        QCOMPARE(readFile(dst), QByteArray("plain file"));
        QCOMPARE(r.exitCode, 2);
    }

    void destinationParentMissing()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString src = tmp.path() + "/src", dst = tmp.path() + "/no/such/dst";
        QVERIFY(fillSource(src));
        const Run r = runParvex({src, dst});
        QStringList expected;
        expected << q(src) + " " + q(dst) << "Create destination directory " + q(dst)
                 << "Source path " + q(src) << allCopying() << q(QString());
        QCOMPARE(r.lines, expected);
        QVERIFY(!QFileInfo::exists(tmp.path() + "/no"));
        QVERIFY(!QFileInfo::exists(src + "/args.txt"));
        QCOMPARE(r.exitStatus, QProcess::NormalExit);
        QCOMPARE(r.exitCode, 2);
    }

    void sourceIsDestination()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString dir = tmp.path() + "/drv";
        QVERIFY(fillSource(dir, "same folder\n", 6));
        const Run r = runParvex({dir, dir});
        QStringList expected;
        expected << q(dir) + " " + q(dir) << "Destination path " + q(dir) << "Source path " + q(dir)
                 << allCopying() << "\"same folder\\n\"";
        QCOMPARE(r.lines, expected);
        for (int i = 1; i < 4; ++i)
            QCOMPARE(readFile(dir + "/" + kFiles[i]), driverBytes(kFiles[i]));
        QCOMPARE(argsOf(dir), installArgs(dir));
        QCOMPARE(r.exitCode, 6);
    }

    void devconCrashes()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString dst = tmp.path() + "/dst";
        QVERIFY(QDir().mkpath(dst));
        QVERIFY(writeDevcon(dst, "about to crash\n", kCrash));
        const Run r = runParvex({tmp.path() + "/nosuch", dst});
        QCOMPARE(r.exitStatus, QProcess::NormalExit);
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(r.lines.last(), QStringLiteral("\"about to crash\\n\""));
        QCOMPARE(argsOf(dst), installArgs(dst));
    }

    void devconNotExecutable()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString dst = tmp.path() + "/dst";
        QVERIFY(QDir().mkpath(dst));
        QVERIFY(writeFile(dst + "/devcon.exe", "MZ not a program here"));
        const Run r = runParvex({tmp.path() + "/nosuch", dst});
        QCOMPARE(r.exitStatus, QProcess::NormalExit);
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(r.lines.last(), q(QString()));
    }

    // The one slow case: Parvex waits its fixed 30 s, then kills devcon and waits for it.
    void devconHangs()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString src = tmp.path() + "/src", dst = tmp.path() + "/dst";
        QVERIFY(QDir().mkpath(src));
        QVERIFY(writeDevcon(src, "hanging\n", kHang));
        const Run r = runParvex({src, dst});
        QCOMPARE(r.exitStatus, QProcess::NormalExit);
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.ms >= 29000 && r.ms < 55000, qPrintable(QString::number(r.ms)));
        QCOMPARE(r.lines.last(), QStringLiteral("\"hanging\\n\""));
        QCOMPARE(argsOf(dst), installArgs(dst));

        bool ok = false;
        const qint64 pid = readFile(dst + "/pid.txt").trimmed().toLongLong(&ok);
        QVERIFY(ok && pid > 1);
        // killed and reaped: no process (not even a zombie) is left behind
        QVERIFY2(processGone(pid), qPrintable(QString::number(pid)));
    }
};

QTEST_GUILESS_MAIN(TestParvex)
#include "tst_parvex.moc"
