// VantrelVComService as a black box: the built program runs with no display, relays between a
// socat pty pair and TCP peers on 127.0.0.1, takes its commands on its channel, and ends on
// SIGTERM; its own client commands and the window's look at it are run against it. On Windows
// (under Wine) the service control manager runs it instead: installed, started, relaying between
// a COM port and a TCP peer, stopped and removed, as a user does with --install and sc.exe.
#include "pipelog.h"
#include "qpipemap.h"
#include "servicechannel.h"
#include "servicewatch.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QtTest>

#include <cstring>
#include <memory>

#ifdef Q_OS_WIN
#include "eventlogsink.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#else
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#ifndef SERVICE_PATH
#error "SERVICE_PATH must name the built VantrelVComService (see tst_service.cmake)"
#endif

using namespace TestSupport;

namespace {

struct Result
{
    int code = -1;
    QString out;
    QString err;
};

// The program with no display and no Qt platform: it must need neither. Its texts as written
// (Russian), whatever language the machine speaks.
QProcessEnvironment bareEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LANGUAGE"})
        env.remove(QLatin1String(name));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    return env;
}

Result runAt(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setProcessEnvironment(bareEnvironment());
    p.start(program, args);
    Result r;
    if (!p.waitForFinished(15000)) {
        p.kill();
        p.waitForFinished();
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
#ifdef Q_OS_WIN
    // Standard output and error are text streams there.
    r.out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    r.err.replace(QLatin1String("\r\n"), QLatin1String("\n"));
#endif
    return r;
}

Result runProgram(const QStringList &args)
{
    return runAt(QStringLiteral(SERVICE_PATH), args);
}

bool writeJson(const QString &path, const QJsonArray &pipes)
{
    return writeFile(path, QJsonDocument(pipes).toJson());
}

// A line sent on the channel and the line that answers it. Read as it comes: the socket drops
// what it holds when the service closes it right after its answer.
QJsonObject ask(QLocalSocket &channel, const QByteArray &line)
{
    QByteArray got;
    const auto reading = QObject::connect(&channel, &QLocalSocket::readyRead, [&] { got += channel.readAll(); });
    channel.write(line);
    waitUntil([&] { return got.contains('\n') || channel.state() == QLocalSocket::UnconnectedState; }, 5000);
    QObject::disconnect(reading);
    return QJsonDocument::fromJson(got.left(got.indexOf('\n'))).object();
}

// Whether the service listening at place has connection id up on both sides: bytes that come
// before it has taken in that its socket is connected are dropped, as for any side that is down.
bool relayingAt(const QString &place, int id)
{
    return waitUntil([&] {
        QLocalSocket channel;
        channel.connectToServer(place);
        const QJsonArray all = ask(channel, "{\"cmd\":\"list\"}\n").value("connections").toArray();
        for (const QJsonValue &c : all) {
            if (c.toObject().value("id").toInt() == id)
                return c.toObject().value("state").toInt() == 3;
        }
        return false;
    }, 10000);
}

#ifndef Q_OS_WIN
// A service of a folder of its own, running until the object goes.
class Service
{
public:
    explicit Service(const QString &folder)
        : m_folder(folder)
    {
        m_process.setProcessEnvironment(bareEnvironment());
        QObject::connect(&m_process, &QProcess::readyReadStandardError,
                         [this] { m_err += QString::fromUtf8(m_process.readAllStandardError()); });
    }
    // Stopped as the system stops it, so that it takes its socket along.
    ~Service()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    bool start()
    {
        m_process.start(QStringLiteral(SERVICE_PATH), {QStringLiteral("--dir"), m_folder});
        static const QRegularExpression channel(QStringLiteral("канал управления (\\S+)\\n"));
        const bool listening = waitUntil([this] { return channel.match(m_err).hasMatch() || m_process.state() == QProcess::NotRunning; }, 10000);
        m_place = channel.match(m_err).captured(1);
        return listening && !m_place.isEmpty();
    }
    // The log without the time stamps, which each line must have.
    QStringList lines() const
    {
        static const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d "));
        QStringList out;
        for (QString line : m_err.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            out << (stamp.match(line).hasMatch() ? line.mid(20) : QStringLiteral("NO TIME: ") + line);
        return out;
    }
    bool logged(const QString &line, int timeoutMs = 5000) const
    {
        return waitUntil([&] { return lines().contains(line); }, timeoutMs);
    }
    bool relaying(int id) const { return relayingAt(m_place, id); }
    Result command(const QStringList &args) const { return runProgram(args + QStringList{QStringLiteral("--dir"), m_folder}); }
    QString place() const { return m_place; }
    QProcess &process() { return m_process; }
    QString log() const { return m_err; }
    // Resident memory from the system's view, in KiB.
    qint64 residentKiB() const
    {
        const QByteArray status = readFile(QStringLiteral("/proc/%1/status").arg(m_process.processId()));
        static const QRegularExpression rss(QStringLiteral("VmRSS:\\s+(\\d+) kB"));
        return rss.match(QString::fromLatin1(status)).captured(1).toLongLong();
    }

private:
    QString m_folder;
    QProcess m_process;
    QString m_err;
    QString m_place;
};

#endif

// One connection of the service: a pty pair, and the device it dials.
struct Link
{
    PtyPair pair;
    QTcpServer device;
    WorkPort work;
    std::unique_ptr<QTcpSocket> peer;

    bool setUp()
    {
        return pair.start() && device.listen(QHostAddress::LocalHost);
    }
    bool accept()
    {
        if (!waitUntil([this] { return device.hasPendingConnections(); }, 10000))
            return false;
        peer.reset(device.nextPendingConnection());
        return work.isOpen() || work.openAt(pair.workEnd());
    }
    // A block each way, byte for byte.
    bool relays(quint32 seed, int size = 4096)
    {
        Stream stream(seed);
        const QByteArray up = stream.next(size);
        const QByteArray down = stream.next(size);
        work.got.clear();
        work.write(up);
        peer->write(down);
        const QByteArray atPeer = readAtLeast(*peer, size, 10000);
        waitUntil([&] { return work.got.size() >= size; }, 10000);
        return atPeer == up && work.got == down;
    }
    bool peerClosed()
    {
        return waitUntil([this] { return peer->state() == QAbstractSocket::UnconnectedState; }, 5000);
    }
};


#ifdef Q_OS_WIN
#ifndef WINEREMEDY_PATH
#error "WINEREMEDY_PATH must name the built wintools/wineremedy.dll (see tst_service.cmake)"
#endif

QString native(const QString &path)
{
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

// The program beside the DLLs it links: the service manager gives the processes it starts no
// DLL path of the tests'. Each DLL from where this test loaded the same one.
bool copyProgram(const QString &dir)
{
    bool copied = QFile::copy(QStringLiteral(SERVICE_PATH), dir + QStringLiteral("/VantrelVComService.exe"));
    for (const char *dll : {"Qt5Core.dll", "Qt5Network.dll", "Qt5SerialPort.dll", "libstdc++-6.dll",
                            "libgcc_s_seh-1.dll", "libwinpthread-1.dll"}) {
        wchar_t path[MAX_PATH] = {};
        GetModuleFileNameW(GetModuleHandleA(dll), path, MAX_PATH);
        copied = copied && QFile::copy(QString::fromWCharArray(path), dir + QLatin1Char('/') + QLatin1String(dll));
    }
    return copied;
}

using ScHandle = std::unique_ptr<std::remove_pointer<SC_HANDLE>::type, decltype(&CloseServiceHandle)>;

ScHandle openService(DWORD access)
{
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT), CloseServiceHandle);
    return ScHandle(manager ? OpenServiceW(manager.get(), L"VantrelVComService", access) : nullptr, CloseServiceHandle);
}

// What the service control manager says of the service: installed false when it knows none.
struct Managed
{
    bool installed = false;
    SERVICE_STATUS_PROCESS status = {};
};

Managed managed()
{
    Managed m;
    DWORD size = 0;
    const ScHandle service = openService(SERVICE_QUERY_STATUS);
    m.installed = service && QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(&m.status),
                                                  sizeof m.status, &size);
    return m;
}

bool stateIs(DWORD state, int timeoutMs)
{
    return waitUntil([state] { return managed().status.dwCurrentState == state; }, timeoutMs);
}

// A value under HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services (the service manager's own
// records and the event log's sources); invalid where there is none.
QVariant serviceValue(const QString &key, const QString &name)
{
    const QString path = QStringLiteral("SYSTEM\\CurrentControlSet\\Services\\") + key;
    QByteArray data(8192, '\0');
    DWORD size = DWORD(data.size());
    DWORD type = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, reinterpret_cast<const wchar_t *>(path.utf16()),
                     reinterpret_cast<const wchar_t *>(name.utf16()), RRF_RT_ANY | RRF_NOEXPAND, &type, data.data(), &size)
        != ERROR_SUCCESS)
        return QVariant();
    if (type == REG_DWORD)
        return QVariant(*reinterpret_cast<const quint32 *>(data.constData()));
    return QVariant(QString::fromWCharArray(reinterpret_cast<const wchar_t *>(data.constData())));
}

Result sc(const QStringList &args)
{
    return runAt(QStringLiteral("sc.exe"), args);
}

// Under Wine: the remedy of wintools/wineserial.h put into the service's process, which this test
// did not build (wintools/wineremedy.cpp), by a thread of ours there that loads it.
bool loadRemedy(DWORD pid)
{
    const std::wstring dll = native(QStringLiteral(WINEREMEDY_PATH)).toStdWString();
    const SIZE_T size = (dll.size() + 1) * sizeof(wchar_t);
    HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid);
    void *remote = VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    auto load = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW")));
    HANDLE thread = remote && WriteProcessMemory(process, remote, dll.c_str(), size, nullptr)
                        ? CreateRemoteThread(process, nullptr, 0, load, remote, 0, nullptr)
                        : nullptr;
    DWORD loaded = 0;
    if (thread && WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0)
        GetExitCodeThread(thread, &loaded);
    CloseHandle(thread);
    CloseHandle(process);
    return loaded != 0;
}

// Under Wine: whether the host process of the Windows program whose command line holds marker
// has wintools/ptymodem's library, which Wine's serial thread there needs. The service manager
// passes its own host environment on, not the test's.
bool hostHasPtyModem(const QString &marker)
{
    const QDir proc(QStringLiteral("Z:/proc"));
    const QStringList entries = proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : entries) {
        if (QString::fromLatin1(readFile(proc.filePath(pid + QStringLiteral("/cmdline")))).contains(marker))
            return readFile(proc.filePath(pid + QStringLiteral("/maps"))).contains("libptymodem.so");
    }
    return false;
}

// The access list of a handle's object and the account of a process's token, as SDDL.
QString accessList(HANDLE object)
{
    PSECURITY_DESCRIPTOR security = nullptr;
    wchar_t *text = nullptr;
    if (GetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr, &security)
            != ERROR_SUCCESS
        || !ConvertSecurityDescriptorToStringSecurityDescriptorW(security, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                                 &text, nullptr))
        return QStringLiteral("error %1").arg(GetLastError());
    const QString sddl = QString::fromWCharArray(text);
    LocalFree(text);
    LocalFree(security);
    return sddl;
}

QString accountOf(DWORD pid)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    HANDLE token = nullptr;
    QByteArray user(1024, '\0');
    DWORD size = 0;
    wchar_t *sid = nullptr;
    OpenProcessToken(process, TOKEN_QUERY, &token);
    GetTokenInformation(token, TokenUser, user.data(), DWORD(user.size()), &size);
    ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER *>(user.data())->User.Sid, &sid);
    const QString account = QString::fromWCharArray(sid ? sid : L"");
    LocalFree(sid);
    CloseHandle(token);
    CloseHandle(process);
    return account;
}

// The strings of the Application log's events from our source. False where the log holds no
// record at all: a system whose event log keeps nothing.
bool eventLogLines(QStringList *lines)
{
    HANDLE log = OpenEventLogW(nullptr, L"Application");
    DWORD records = 0;
    QByteArray buffer(64 * 1024, '\0');
    DWORD read = 0;
    DWORD needed = 0;
    const bool any = GetNumberOfEventLogRecords(log, &records) && records > 0;
    while (any && ReadEventLogW(log, EVENTLOG_SEQUENTIAL_READ | EVENTLOG_FORWARDS_READ, 0, buffer.data(),
                                DWORD(buffer.size()), &read, &needed)) {
        for (DWORD at = 0; at < read;) {
            const auto *record = reinterpret_cast<const EVENTLOGRECORD *>(buffer.constData() + at);
            const auto *text = reinterpret_cast<const wchar_t *>(buffer.constData() + at + record->StringOffset);
            const QString source = QString::fromWCharArray(reinterpret_cast<const wchar_t *>(record + 1));
            if (source == QLatin1String("VantrelVComService")) {
                for (WORD i = 0; i < record->NumStrings; ++i, text += wcslen(text) + 1)
                    *lines << QString::fromWCharArray(text);
            }
            at += record->Length;
        }
    }
    CloseEventLog(log);
    return any;
}

// What the event viewer shows for an event of the message file with the one string.
QString shownByEventViewer(const QString &messageFile, const QString &line)
{
    HMODULE file = LoadLibraryExW(reinterpret_cast<const wchar_t *>(messageFile.utf16()), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    const std::wstring insert = line.toStdWString();
    const DWORD_PTR args[] = {reinterpret_cast<DWORD_PTR>(insert.c_str())};
    wchar_t *text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                   file, EventLogSink::MessageId, 0, reinterpret_cast<wchar_t *>(&text), 0,
                                   reinterpret_cast<va_list *>(const_cast<DWORD_PTR *>(args)));
    const QString shown = n ? QString::fromWCharArray(text, int(n)) : QStringLiteral("error %1").arg(GetLastError());
    LocalFree(text);
    FreeLibrary(file);
    return shown;
}
#endif

} // namespace

class TestService : public QObject
{
    Q_OBJECT

#ifdef Q_OS_WIN
    // The service the manager runs, for the Windows tests in their order: the program beside its
    // DLLs, its folder (made by --install), and its connection.
    QTemporaryDir programDir;
    QTemporaryDir managedDir;
    QString program;
    QString folder;
    Link lane;
    bool installed = false;
    const QString kSource = "EventLog\\Application\\VantrelVComService";
#else
    // One service for the tests of its channel: a connection that relays.
    QTemporaryDir sharedDir;
    Link shared;
    std::unique_ptr<Service> service;
#endif

private slots:
#ifdef Q_OS_WIN
    void initTestCase()
    {
        QVERIFY2(!managed().installed, "a service VantrelVComService is installed already; these tests install their own: "
                                       "remove it first (VantrelVComService --uninstall)");
        QVERIFY(copyProgram(programDir.path()));
        program = programDir.filePath("VantrelVComService.exe");
        folder = managedDir.filePath("Vantrel/VantrelVCom");
        QVERIFY(lane.setUp());
    }

    void installRegistersTheService()
    {
        // The folder is made; the service starts with the machine, as LocalSystem.
        Result r = runAt(program, {"--install", "--dir", folder});
        QCOMPARE(r.code, 0);
        const QString canonical = QFileInfo(folder).canonicalFilePath();
        QVERIFY2(r.out.startsWith("служба VantrelVComService установлена: папка " + QDir::toNativeSeparators(canonical)
                                  + ", автозапуск; запустить сейчас: sc start VantrelVComService\n"),
                 qPrintable(r.out + r.err));
        installed = true;
        // Wine's sc.exe has "query" but no "qc": the configuration is read where the manager keeps it.
        r = sc({"query", "VantrelVComService"});
        QVERIFY2(r.out.contains(QRegularExpression("STATE\\s+:\\s+1\\s+STOPPED")), qPrintable(r.out));
        const QMap<QString, QVariant> expected{
            {"ImagePath", "\"" + native(program) + "\" --service --dir \"" + QDir::toNativeSeparators(canonical) + "\""},
            {"Start", 2u}, // automatic
            {"Type", 0x10u}, // a process of its own
            {"ObjectName", "LocalSystem"},
            {"DisplayName", "Служба VantrelVCom"},
            {"Description", "Соединения VCOM <-> TCP IP из " + QDir::toNativeSeparators(canonical + "/pipes.json")
                                + " без окна и без входа пользователя. Команды: VantrelVComService --help."}};
        for (auto it = expected.begin(); it != expected.end(); ++it)
            QCOMPARE(serviceValue("VantrelVComService", it.key()), it.value());
        // The event log source, with the program as its message file.
        QCOMPARE(serviceValue(kSource, "EventMessageFile"), QVariant(native(program)));
        QCOMPARE(serviceValue(kSource, "TypesSupported"), QVariant(7u));

        r = runAt(program, {"--install", "--dir", folder});
        QCOMPARE(r.code, 1);
        QCOMPARE(r.err, QString("VantrelVComService: служба VantrelVComService уже установлена; чтобы установить её заново, "
                                "сначала --uninstall\n"));
    }

    void restartsAfterAFailure()
    {
        const ScHandle service = openService(SERVICE_QUERY_CONFIG);
        QByteArray buffer(4096, '\0');
        DWORD size = 0;
        if (!QueryServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, reinterpret_cast<BYTE *>(buffer.data()),
                                  DWORD(buffer.size()), &size)
            && GetLastError() == ERROR_INVALID_LEVEL)
            QSKIP("this service manager does not report failure actions (Wine's takes them, answers ERROR_INVALID_LEVEL "
                  "when asked, and refuses FAILURE_ACTIONS_FLAG)");
        const auto *failure = reinterpret_cast<const SERVICE_FAILURE_ACTIONSW *>(buffer.constData());
        QCOMPARE(failure->dwResetPeriod, DWORD(86400));
        QCOMPARE(failure->cActions, DWORD(3));
        const DWORD delays[] = {5000, 5000, 30000};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(failure->lpsaActions[i].Type, SC_ACTION_RESTART);
            QCOMPARE(failure->lpsaActions[i].Delay, delays[i]);
        }
        SERVICE_FAILURE_ACTIONS_FLAG flag = {};
        QVERIFY(QueryServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, reinterpret_cast<BYTE *>(&flag),
                                     sizeof flag, &size));
        QCOMPARE(flag.fFailureActionsOnNonCrashFailures, TRUE);
    }

    void eventViewerShowsLinesAsWritten_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("shown");
        QTest::newRow("a line") << "1 Насос: COM5 работает" << "1 Насос: COM5 работает";
        QTest::newRow("inserts are not read again") << "name %1 and %%" << "name %1 and %%";
        QTest::newRow("at the bound") << QString(31839, QChar(0x44F)) << QString(31839, QChar(0x44F));
        QTest::newRow("over the bound") << QString(40000, QChar(0x44F)) << QString(31838, QChar(0x44F)) + "…";
        // A character of two UTF-16 units where the cut falls is left out whole.
        QTest::newRow("a pair at the cut") << QString(31837, 'x') + QString::fromUtf8("😀") + "tail" << QString(31837, 'x') + "…";
    }

    void eventViewerShowsLinesAsWritten()
    {
        // What the event log gets of a line, shown with the message file the installed source names.
        QFETCH(QString, line);
        QFETCH(QString, shown);
        QCOMPARE(shownByEventViewer(serviceValue(kSource, "EventMessageFile").toString(), EventLogSink::clip(line)), shown);
    }

    void startsRelaysAndAnswers()
    {
        QVERIFY(writeJson(folder + "/pipes.json", {}));
        QCOMPARE(sc({"start", "VantrelVComService"}).code, 0);
        // Start pending, then running once its channel listens.
        QVERIFY(stateIs(SERVICE_RUNNING, 10000));
        const DWORD pid = managed().status.dwProcessId;
        if (underWine()) {
            QVERIFY2(hostHasPtyModem(native(program)), "the service runs without wintools/libptymodem.so: Wine's "
                                                       "services.exe started without it in LD_PRELOAD");
            QVERIFY(loadRemedy(pid));
        }
        // Its connection comes in by reload, after the remedy is in place.
        QVERIFY(writeJson(folder + "/pipes.json", {pipe(1, lane.pair.nullEnd(), lane.device.serverPort(), "Насос")}));
        Result r = runAt(program, {"--reload", "--dir", folder});
        // The service speaks the system's language, and Wine's manager runs it in whatever locale
        // Wine's own processes started with: Russian, or English.
        QVERIFY2(r.out.endsWith(": новых 1, изменённых 0, удалённых 0, без изменений 0\n")
                     || (underWine() && r.out.endsWith(" read again: 1 new, 0 changed, 0 removed, 0 unchanged\n")),
                 qPrintable(r.out + r.err));
        const QString place = ServiceChannel::places(QFileInfo(folder).canonicalFilePath()).first();
        QVERIFY(lane.accept() && relayingAt(place, 1));
        QVERIFY(lane.relays(21, 64 * 1024));

        r = runAt(program, {"--status", "--dir", folder});
        QCOMPARE(r.code, 0);
        const QStringList rows = r.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 3);
        QVERIFY2(rows.at(2).startsWith("1   Насос  " + lane.pair.nullEnd()), qPrintable(rows.at(2)));
        QVERIFY2(rows.at(2).endsWith("  работает"), qPrintable(rows.at(2)));

        // Its channel: nobody from the network; SYSTEM, the administrators, and the account it
        // runs as where that is neither (LocalSystem on Windows; Wine runs it as the user).
        QString expected = "D:P(D;;FA;;;NU)(A;;FA;;;SY)(A;;FA;;;BA)";
        if (accountOf(pid) != "S-1-5-18")
            expected += "(A;;FA;;;" + accountOf(pid) + ")";
        const std::wstring pipePath = (QStringLiteral("\\\\.\\pipe\\") + place).toStdWString();
        HANDLE channel = CreateFileW(pipePath.c_str(), GENERIC_READ | GENERIC_WRITE | READ_CONTROL, 0, nullptr, OPEN_EXISTING, 0,
                                     nullptr);
        QVERIFY(channel != INVALID_HANDLE_VALUE);
        QCOMPARE(accessList(channel), expected);
        CloseHandle(channel);
        QVERIFY(lane.relays(22));
    }

    void stopsOnTheStopRequest()
    {
        QCOMPARE(managed().status.dwCurrentState, DWORD(SERVICE_RUNNING));
        QElapsedTimer stopping;
        stopping.start();
        QCOMPARE(sc({"stop", "VantrelVComService"}).code, 0);
        QVERIFY(stateIs(SERVICE_STOPPED, 2000));
        QVERIFY2(stopping.elapsed() < 2000, qPrintable(QString::number(stopping.elapsed())));
        QCOMPARE(managed().status.dwWin32ExitCode, DWORD(0));
        QVERIFY(lane.peerClosed());
    }

    void eventLogKeepsTheLines()
    {
        QStringList lines;
        if (!eventLogLines(&lines))
            QSKIP("the Application log holds no record at all: this system's event log keeps nothing (Wine's "
                  "RegisterEventSource and ReportEvent succeed and keep nothing)");
        const QString first = "VantrelVComService 1.0.0: папка " + QFileInfo(folder).canonicalFilePath();
        QVERIFY2(std::any_of(lines.begin(), lines.end(), [&](const QString &l) { return l.startsWith(first); }),
                 qPrintable(lines.join('\n')));
        QVERIFY2(lines.contains("Останов: запрос диспетчера служб"), qPrintable(lines.join('\n')));
        QVERIFY2(lines.contains("VantrelVComService остановлена"), qPrintable(lines.join('\n')));
    }

    void uninstallStopsAndRemoves()
    {
        // No connection this time: under Wine a port opened without the remedy blocks its relay's
        // thread in the port's event wait, which no stop can end.
        QVERIFY(writeJson(folder + "/pipes.json", {}));
        QCOMPARE(sc({"start", "VantrelVComService"}).code, 0);
        QVERIFY(stateIs(SERVICE_RUNNING, 10000));
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, managed().status.dwProcessId);
        // Removed while it runs: stopped first, its process gone.
        Result r = runAt(program, {"--uninstall"});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QCOMPARE(r.out, QString("служба VantrelVComService остановлена и удалена; папка и её pipes.json остались\n"));
        installed = false;
        QVERIFY(waitUntil([process] { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }, 5000));
        CloseHandle(process);
        QVERIFY(!managed().installed);
        QVERIFY(sc({"query", "VantrelVComService"}).code != 0);
        QCOMPARE(serviceValue(kSource, "EventMessageFile"), QVariant());
        QVERIFY(QFileInfo::exists(folder + "/pipes.json"));

        r = runAt(program, {"--uninstall"});
        QCOMPARE(r.code, 1);
        QCOMPARE(r.err, QString("VantrelVComService: служба VantrelVComService не установлена\n"));
    }

    void cleanupTestCase()
    {
        // Whatever a failed test left: the service these tests installed goes.
        if (installed)
            runAt(program, {"--uninstall"});
    }
#else
    void initTestCase()
    {
        QVERIFY(shared.setUp());
        QVERIFY(writeJson(sharedDir.filePath("pipes.json"), {pipe(1, shared.pair.nullEnd(), shared.device.serverPort(), "Насос")}));
        service.reset(new Service(sharedDir.path()));
        QVERIFY2(service->start(), qPrintable(service->log()));
        QVERIFY(shared.accept() && service->relaying(1));
        QVERIFY(shared.relays(1));
    }

    void relaysReconnectsAndEndsOnSigterm()
    {
        QTemporaryDir dir;
        Link lane;
        QVERIFY(lane.setUp());
        QVERIFY(writeJson(dir.filePath("pipes.json"), {pipe(1, lane.pair.nullEnd(), lane.device.serverPort(), "Насос")}));
        Service s(dir.path());
        QVERIFY(s.start());
        QVERIFY(lane.accept() && s.relaying(1));
        QVERIFY(lane.relays(2, 256 * 1024));
        // Its lines are the window's, with the date and time before each.
        QVERIFY2(s.logged("1 Насос: " + lane.pair.nullEnd() + " работает"), qPrintable(s.log()));
        QVERIFY(!s.log().contains("NO TIME"));

        // The device restarts: gone a moment, then listening on its port again.
        const quint16 port = lane.device.serverPort();
        lane.peer->abort();
        lane.device.close();
        QVERIFY(s.logged(QStringLiteral("1 Насос: 127.0.0.1:%1 не работает: закрыто удалённой стороной; следующая попытка через 1 с").arg(port)));
        QVERIFY(lane.device.listen(QHostAddress::LocalHost, port));
        QVERIFY(lane.accept() && s.relaying(1));
        QVERIFY(lane.relays(3));

        QElapsedTimer stopping;
        stopping.start();
        s.process().terminate();
        QVERIFY(s.process().waitForFinished(2000));
        QVERIFY2(stopping.elapsed() < 2000, qPrintable(QString::number(stopping.elapsed())));
        QCOMPARE(s.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(s.process().exitCode(), 0);
        QVERIFY(lane.peerClosed());
        QVERIFY2(s.lines().contains("Останов: SIGTERM"), qPrintable(s.log()));
        QVERIFY(!QFileInfo::exists(s.place()));
    }

    void statusStopAndStart()
    {
        QTemporaryDir dir;
        Link lane;
        QVERIFY(lane.setUp());
        const quint16 refused = closedPort();
        QVERIFY(writeJson(dir.filePath("pipes.json"), {pipe(1, lane.pair.nullEnd(), lane.device.serverPort(), "Насос"),
                                                       pipe(2, dir.filePath("gone"), refused, "Счётчик")}));
        Service s(dir.path());
        QVERIFY(s.start());
        QVERIFY(lane.accept() && s.relaying(1));
        QVERIFY(s.logged(QStringLiteral("2 Счётчик: 127.0.0.1:%1 не работает: в подключении отказано; следующая попытка через 1 с").arg(refused)));

        Result r = s.command({"--status"});
        QCOMPARE(r.code, 0);
        QStringList rows = r.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 4);
        QCOMPARE(rows.at(0), "Папка " + QFileInfo(dir.path()).canonicalFilePath() + ": соединений 2");
        QVERIFY2(rows.at(2).startsWith("1   Насос    " + lane.pair.nullEnd()), qPrintable(rows.at(2)));
        QVERIFY2(rows.at(2).endsWith("  работает"), qPrintable(rows.at(2)));
        const QRegularExpression waiting("^2 +Счётчик +" + QRegularExpression::escape(dir.filePath("gone"))
                                         + QStringLiteral(" +127\\.0\\.0\\.1:%1 +клиент +0 +0 +ждёт \\(COM: не найден, "
                                                          "снова через \\d+ с; TCP: в подключении отказано, снова через \\d+ с\\)$").arg(refused));
        QVERIFY2(waiting.match(rows.at(3)).hasMatch(), qPrintable(rows.at(3)));

        r = s.command({"--stop", "1"});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QString("соединение 1 остановлено\n"));
        QVERIFY(lane.peerClosed());
        QVERIFY(s.command({"--status"}).out.split('\n').at(2).endsWith("  остановлено"));
        QCOMPARE(s.command({"--stop", "1"}).out, QString("соединение 1 уже остановлено\n"));
        r = s.command({"--stop", "7"});
        QCOMPARE(r.code, 1);
        QCOMPARE(r.err, QString("Служба отказала: соединения 7 нет\n"));

        QCOMPARE(s.command({"--start", "1"}).code, 0);
        QVERIFY(lane.accept() && s.relaying(1));
        QVERIFY(lane.relays(4));
        QVERIFY(s.lines().contains("По запросу: соединение 1 остановлено"));
    }

    void reloadAppliesTheFile()
    {
        QTemporaryDir dir;
        Link kept, edited, added;
        QVERIFY(kept.setUp() && edited.setUp() && added.setUp());
        // Where 2 dialled before its edit, and where 3 dials: each sees its connection end.
        QTcpServer editedBefore, removed;
        QVERIFY(editedBefore.listen(QHostAddress::LocalHost) && removed.listen(QHostAddress::LocalHost));
        const QString file = dir.filePath("pipes.json");
        QVERIFY(writeJson(file, {pipe(1, kept.pair.nullEnd(), kept.device.serverPort()),
                                 pipe(2, edited.pair.nullEnd(), editedBefore.serverPort()),
                                 pipe(3, dir.filePath("gone"), removed.serverPort())}));
        Service s(dir.path());
        QVERIFY(s.start());
        QVERIFY(kept.accept() && s.relaying(1));
        QVERIFY(waitUntil([&] { return editedBefore.hasPendingConnections() && removed.hasPendingConnections(); }, 10000));
        std::unique_ptr<QTcpSocket> before(editedBefore.nextPendingConnection());
        std::unique_ptr<QTcpSocket> gone(removed.nextPendingConnection());

        // 1 as it was, 2 to another device, 3 gone, 4 new.
        QVERIFY(writeJson(file, {pipe(1, kept.pair.nullEnd(), kept.device.serverPort()),
                                 pipe(2, edited.pair.nullEnd(), edited.device.serverPort()),
                                 pipe(4, added.pair.nullEnd(), added.device.serverPort())}));
        Result r = s.command({"--reload"});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, "перечитан " + QFileInfo(file).canonicalFilePath() + ": новых 1, изменённых 1, удалённых 1, без изменений 1\n");
        QVERIFY(waitUntil([&] { return before->state() == QAbstractSocket::UnconnectedState; }, 5000));
        QVERIFY(waitUntil([&] { return gone->state() == QAbstractSocket::UnconnectedState; }, 5000));
        QVERIFY(edited.accept() && s.relaying(2));
        QVERIFY(added.accept() && s.relaying(4));
        QVERIFY(kept.relays(5));
        QVERIFY(edited.relays(6));
        QVERIFY(added.relays(7));
        QCOMPARE(kept.device.hasPendingConnections(), false);
        const QStringList rows = s.command({"--status"}).out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 5);
        QVERIFY(rows.at(4).startsWith("4 "));

        // A file that cannot be read changes nothing.
        QVERIFY(QFile::remove(file));
        r = s.command({"--reload"});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("соединения работают как прежде"), qPrintable(r.err));
        QVERIFY(kept.relays(8));
    }

    void oneServicePerFolder()
    {
        QTemporaryDir dir;
        QVERIFY(writeJson(dir.filePath("pipes.json"), {}));
        // What a service killed outright leaves: its socket, with nobody behind it.
        const QString place = ServiceChannel::placeToListen(ServiceChannel::canonicalFolder(dir.path()));
        {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address = {};
            address.sun_family = AF_UNIX;
            qstrncpy(address.sun_path, QFile::encodeName(place).constData(), sizeof address.sun_path);
            QVERIFY(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
            ::close(fd);
        }
        Service first(dir.path());
        QVERIFY2(first.start(), qPrintable(first.log()));
        QCOMPARE(first.place(), place);
        struct stat st = {};
        QCOMPARE(::stat(QFile::encodeName(place).constData(), &st), 0);
        QVERIFY(S_ISSOCK(st.st_mode));
        QCOMPARE(st.st_mode & 07777, mode_t(0660));
        QCOMPARE(st.st_uid, ::geteuid());

        const Result second = runProgram({"--dir", dir.path()});
        QCOMPARE(second.code, 3);
        QVERIFY2(second.err.contains("уже работает: её канал " + place + " отвечает"), qPrintable(second.err));
        QCOMPARE(first.command({"--status"}).code, 0);
    }

#endif

    void badInvocations_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        const QString free = QDir::tempPath();
#ifdef Q_OS_WIN
        // Qt's own text is in Russian only beside the deployed program (translations/qtbase_ru.qm).
        QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << "Справка: VantrelVComService --help";
#else
        QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << "Неизвестный параметр «bogus».";
#endif
        QTest::newRow("missing folder") << QStringList{"--dir", "/nonexistent/folder"} << 2 << "папки /nonexistent/folder нет";
        QTest::newRow("two commands") << QStringList{"--dir", free, "--status", "--reload"} << 2 << "одна команда за раз, а дано: --status, --reload";
        QTest::newRow("a command twice") << QStringList{"--dir", free, "--stop", "1", "--stop", "2"} << 2 << "одна команда за раз";
        QTest::newRow("no number") << QStringList{"--dir", free, "--start", "x"} << 2 << "целым числом больше 0: x";
        QTest::newRow("zero") << QStringList{"--dir", free, "--stop", "0"} << 2 << "целым числом больше 0: 0";
        QTest::newRow("an argument") << QStringList{"--dir", free, "extra"} << 2 << "лишние аргументы: extra";
        QTest::newRow("no service there") << QStringList{"--dir", free, "--status"} << 1 << "не отвечает: её канал не найден";
#ifdef Q_OS_WIN
        QTest::newRow("install and a command") << QStringList{"--install", "--status"} << 2 << "одна команда за раз, а дано: --install, --status";
        QTest::newRow("service and a command") << QStringList{"--service", "--dir", free, "--reload"} << 2 << "--service только для запуска службы, не с --reload";
#else
        QTest::newRow("install off Windows") << QStringList{"--install"} << 2 << "Неизвестный параметр «install».";
#endif
    }

    void badInvocations()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, message);
        const Result r = runProgram(args);
        QCOMPARE(r.code, code);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QCOMPARE(r.out, QString());
    }

#ifndef Q_OS_WIN
    void refusesWhatItCannotDo_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("error");
        QTest::newRow("not JSON") << QByteArray("{\"cmd\":\n") << "не JSON: незавершённый объект (байт 7)";
        QTest::newRow("an array") << QByteArray("[1,2]\n") << "ожидается объект JSON, например {\"cmd\":\"list\"}";
        QTest::newRow("no cmd") << QByteArray("{\"id\":1}\n") << "нет команды: ожидается \"cmd\" с текстом list, start, stop или reload";
        QTest::newRow("unknown") << QByteArray("{\"cmd\":\"fly\"}\r\n") << "неизвестная команда \"fly\": ожидается list, start, stop или reload";
        QTest::newRow("id as text") << QByteArray("{\"cmd\":\"stop\",\"id\":\"1\"}\n") << "нужен \"id\": номер соединения, целое число больше 0";
        QTest::newRow("id not whole") << QByteArray("{\"cmd\":\"stop\",\"id\":1.5}\n") << "нужен \"id\": номер соединения, целое число больше 0";
        QTest::newRow("id too large") << QByteArray("{\"cmd\":\"stop\",\"id\":4294967297}\n") << "нужен \"id\": номер соединения, целое число больше 0";
        QTest::newRow("no such id") << QByteArray("{\"cmd\":\"start\",\"id\":9}\n") << "соединения 9 нет";
    }

    void refusesWhatItCannotDo()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, error);
        QLocalSocket channel;
        channel.connectToServer(service->place());
        QVERIFY(channel.waitForConnected(2000));
        QCOMPARE(ask(channel, line), QJsonObject({{"error", error}}));
        // The client is refused a request, not the channel.
        const QJsonArray connections = ask(channel, "{\"cmd\":\"list\"}\n").value("connections").toArray();
        QCOMPARE(connections.size(), 1);
        QCOMPARE(connections.at(0).toObject().value("state").toInt(), 3);
        QVERIFY(shared.relays(10));
    }

    void answersAScriptThatClosesItsEnd()
    {
        // As `echo '{"cmd":"list"}' | socat - UNIX-CONNECT:...` does: the line, then the end of
        // its sending side, then it waits for the answer.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(service->place()).constData(), sizeof address.sun_path);
        QVERIFY(::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
        const QByteArray line = "{\"cmd\":\"stop\",\"id\":5}\n";
        QCOMPARE(::write(fd, line.constData(), size_t(line.size())), ssize_t(line.size()));
        ::shutdown(fd, SHUT_WR);
        pollfd answer = {fd, POLLIN, 0};
        QCOMPARE(::poll(&answer, 1, 5000), 1);
        QByteArray got(200, 0);
        const ssize_t n = ::read(fd, got.data(), size_t(got.size()));
        ::close(fd);
        QCOMPARE(got.left(int(qMax<ssize_t>(n, 0))), QByteArray("{\"error\":\"соединения 5 нет\"}\n"));
    }

    void survivesHostileClients()
    {
        // A line of 1 MiB is passed over and refused; the client may go on.
        QLocalSocket longLine;
        longLine.connectToServer(service->place());
        QVERIFY(longLine.waitForConnected(2000));
        QCOMPARE(ask(longLine, QByteArray(1024 * 1024, 'x') + '\n'), QJsonObject({{"error", "строка длиннее 65536 байт"}}));
        QCOMPARE(ask(longLine, "{\"cmd\":\"list\"}\n").value("ok"), QJsonValue(true));
        longLine.abort();
        // One that never ends its line, long or short, is closed after a while.
        QLocalSocket endless;
        endless.connectToServer(service->place());
        QVERIFY(endless.waitForConnected(2000));
        endless.write(QByteArray(100 * 1024, 'y'));

        // A client that asks without end and never reads the answers: what it makes the service
        // hold is bounded, and so is what the service reads of it.
        QLocalSocket hog;
        // Or the library would read for it, without end.
        hog.setReadBufferSize(4096);
        hog.connectToServer(service->place());
        QVERIFY(hog.waitForConnected(2000));
        qint64 taken = 0;
        connect(&hog, &QLocalSocket::bytesWritten, this, [&taken](qint64 n) { taken += n; });
        const qint64 before = service->residentKiB();
        QByteArray requests;
        for (int i = 0; i < 1024 * 1024 / 16; ++i)
            requests += "{\"cmd\":\"list\"}\n";
        for (int i = 0; i < 8; ++i)
            hog.write(requests);

        // Clients that send nothing hold their places only for a while; the ninth is sent away.
        std::vector<std::unique_ptr<QLocalSocket>> silent;
        for (int i = 0; i < 6; ++i) {
            silent.emplace_back(new QLocalSocket);
            silent.back()->connectToServer(service->place());
            QVERIFY(silent.back()->waitForConnected(2000));
        }
        QLocalSocket ninth;
        ninth.connectToServer(service->place());
        QVERIFY(ninth.waitForConnected(2000));
        // Told at once, unasked.
        QCOMPARE(ask(ninth, QByteArray()), QJsonObject({{"error", "слишком много клиентов сразу: не больше 8"}}));

        QVERIFY(shared.relays(11));
        QVERIFY(waitUntil([&] { return silent.back()->state() == QLocalSocket::UnconnectedState; }, 8000));
        QVERIFY(waitUntil([&] { return endless.state() == QLocalSocket::UnconnectedState; }, 3000));
        // Closed at its deadline, as it got no answers once it held enough unread.
        QVERIFY(waitUntil([&] { return hog.state() == QLocalSocket::UnconnectedState; }, 8000));
        QVERIFY2(taken < 2 * 1024 * 1024, qPrintable(QString::number(taken)));
        QVERIFY2(service->residentKiB() - before < 20 * 1024,
                 qPrintable(QStringLiteral("%1 KiB, then %2 KiB").arg(before).arg(service->residentKiB())));
        QVERIFY(shared.relays(12));
        QCOMPARE(service->command({"--status"}).code, 0);
    }

    void theWindowSeesTheService()
    {
        ServiceWatch watch;
        QSignalSpy lines(&watch, &ServiceWatch::line);
        QSignalSpy answered(&watch, &ServiceWatch::answered);
        QVERIFY(lines.isValid() && answered.isValid());
        watch.ask(sharedDir.path());
        QVERIFY(answered.wait(3000));
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines.at(0).at(0).toString(), "Служба VantrelVComService, соединение 1 Насос (" + shared.pair.nullEnd()
                                                   + QStringLiteral(" <-> 127.0.0.1:%1): работает").arg(shared.device.serverPort()));

        // A connection of the window on the port the service holds says who holds it.
        QPipeItem mine(QStringLiteral("Pipe"));
        mine.fromJson(pipe(3, shared.pair.nullEnd(), 1, "Моё"));
        QPipeItem other(QStringLiteral("Pipe"));
        other.fromJson(pipe(4, "/dev/ttyS7", 1, "Другое"));
        PipeLog log;
        log.setPortHolder([&watch](const QString &port) { return watch.holderOf(port); });
        QCOMPARE(log.shownReason(&mine, PipeRelay::SerialSide, "занят"), QString("занят службой VantrelVComService (соединение 1)"));
        QCOMPARE(log.shownReason(&mine, PipeRelay::SocketSide, "в подключении отказано"), QString("в подключении отказано"));
        QCOMPARE(log.shownReason(&other, PipeRelay::SerialSide, "занят"), QString("занят"));
    }

    void theWindowBoundsWhatItIsTold_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("lines");
        QJsonArray many;
        for (int i = 1; i <= 50; ++i)
            many.append(QJsonObject{{"id", i}, {"name", QString(2000, QChar(0x42F))}, {"port_null", "COM1"},
                                    {"endpoint", "x"}, {"running", false}});
        QTest::newRow("50 connections, long names")
            << QJsonDocument(QJsonObject{{"ok", true}, {"connections", many}}).toJson(QJsonDocument::Compact) + '\n' << 4;
        // Valid JSON after 2 MiB of blanks: only a client that holds it all would read it.
        QTest::newRow("2 MiB before the answer") << QByteArray(2 * 1024 * 1024, ' ') + QJsonDocument(QJsonObject{{"ok", true}, {"connections", QJsonArray{many.first()}}}).toJson(QJsonDocument::Compact) + '\n' << 0;
        QTest::newRow("not JSON") << QByteArray("hello\n") << 0;
    }

    void theWindowBoundsWhatItIsTold()
    {
        // Whoever listens on the channel's name is heard within bounds.
        QFETCH(QByteArray, answer);
        QFETCH(int, lines);
        QTemporaryDir dir;
        QLocalServer fake;
        QVERIFY(fake.listen(ServiceChannel::placeToListen(ServiceChannel::canonicalFolder(dir.path()))));
        QPointer<QLocalSocket> asker;
        connect(&fake, &QLocalServer::newConnection, this, [&] {
            asker = fake.nextPendingConnection();
            asker->write(answer);
        });
        ServiceWatch watch;
        QSignalSpy told(&watch, &ServiceWatch::line);
        watch.ask(dir.path());
        QVERIFY(waitUntil([&] { return asker && asker->state() == QLocalSocket::UnconnectedState; }, 5000));
        QCOMPARE(told.size(), lines);
        for (const QList<QVariant> &line : qAsConst(told))
            QVERIFY2(line.at(0).toString().size() < 400, qPrintable(line.at(0).toString().left(400)));
    }

    void cleanupTestCase()
    {
        service.reset();
    }
#endif
};

QTEST_GUILESS_MAIN(TestService)
#include "tst_service.moc"
