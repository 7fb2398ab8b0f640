#ifdef WIN32
// Before any Qt header, which may bring windows.h and with it the old winsock.h.
#include <winsock2.h>
#endif
#include "testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QStandardPaths>
#include <QThread>

#ifdef Q_OS_WIN
#include "wintools/wineserial.h"

#include <psapi.h>

#include <string>
#else
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace TestSupport {

QString findTool(const QString &name)
{
    return QStandardPaths::findExecutable(name);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

bool writeScript(const QString &path, const QByteArray &body)
{
    const QString bash = findTool(QStringLiteral("bash"));
    if (bash.isEmpty())
        return false;
    return writeFile(path, "#!" + QFile::encodeName(bash) + '\n' + body)
           && QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                              | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                                              | QFile::ExeOther);
}

bool makeVirtualPortDir(const QString &dir, const QString &kind, QString *why)
{
#ifdef Q_OS_WIN
    Q_UNUSED(dir)
    Q_UNUSED(kind)
    *why = QStringLiteral("there is no virtual-port folder on Windows");
    return false;
#else
    const QByteArray path = QFile::encodeName(dir);
    if (kind == QLatin1String("link")) {
        const QByteArray target = path + ".real";
        if (::mkdir(target.constData(), 0700) != 0 || ::symlink(target.constData(), path.constData()) != 0) {
            *why = QStringLiteral("cannot link %1 to a folder: %2").arg(dir, QString::fromLocal8Bit(strerror(errno)));
            return false;
        }
        return true;
    }
    const bool foreign = kind == QLatin1String("foreign");
    bool isMode = false;
    const mode_t mode = foreign ? 0700 : mode_t(kind.toUInt(&isMode, 8));
    if ((!foreign && !isMode) || ::mkdir(path.constData(), 0700) != 0 || ::chmod(path.constData(), mode) != 0) {
        *why = QStringLiteral("cannot make %1 as \"%2\": %3").arg(dir, kind, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    // nobody, on Debian; any uid but ours would do.
    if (foreign && ::chown(path.constData(), 65534, 65534) != 0) {
        *why = QStringLiteral("making a folder another user owns takes root: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    return true;
#endif
}

QJsonObject pipe(int id, const QString &portNull, int ipport, const QString &name)
{
    return QJsonObject{{"id", id},          {"name", name},         {"note", "заметка"},
                       {"port_work", "COM5"}, {"port_null", portNull}, {"ipaddr", "127.0.0.1"},
                       {"ipport", ipport}};
}

bool writePipes(const QJsonArray &pipes)
{
    return writeFile(QStringLiteral("pipes.json"), QJsonDocument(pipes).toJson());
}

ScratchFolder::ScratchFolder()
    : m_previous(QDir::currentPath())
{
    m_entered = m_dir.isValid() && QDir::setCurrent(m_dir.path());
}

ScratchFolder::~ScratchFolder()
{
    QDir::setCurrent(m_previous);
}

bool waitUntil(const std::function<bool()> &cond, int timeoutMs)
{
    if (cond())
        return true;
    QElapsedTimer timer;
    timer.start();
    QTimer wake;
    wake.start(10);
    while (!cond()) {
        if (timer.elapsed() > timeoutMs)
            return cond();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

QByteArray readAtLeast(QIODevice &device, int want, int timeoutMs)
{
    QByteArray got = device.readAll();
    waitUntil(
        [&] {
            got += device.readAll();
            return got.size() >= want;
        },
        timeoutMs);
    return got;
}

Run finish(QProcess &process, int timeoutMs)
{
    Run r;
    r.finished = process.waitForFinished(timeoutMs);
    if (!r.finished) {
        process.kill();
        process.waitForFinished(3000);
    }
    r.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    r.out = QString::fromLatin1(process.readAllStandardOutput());
    r.err = QString::fromLatin1(process.readAllStandardError());
    return r;
}

Run run(const QString &program, const QStringList &args, int timeoutMs)
{
    QProcess process;
    process.start(program, args);
    return finish(process, timeoutMs);
}

// ---------------------------------------------------------------------------------------------

#ifdef Q_OS_WIN

namespace {

// Before any port is opened: see wintools/wineserial.h.
const bool kWineSerialRemedy = WineSerial::install();

// One argument of a command line, quoted the way the C runtime (and Wine) splits it again.
QString quoted(const QString &arg)
{
    if (!arg.isEmpty() && !arg.contains(QRegularExpression(QStringLiteral("[ \t\"]"))))
        return arg;
    QString out = QStringLiteral("\"");
    int backslashes = 0;
    for (const QChar c : arg) {
        if (c == QLatin1Char('\\')) {
            ++backslashes;
            continue;
        }
        out += QString(c == QLatin1Char('"') ? 2 * backslashes + 1 : backslashes, QLatin1Char('\\'));
        backslashes = 0;
        out += c;
    }
    return out + QString(2 * backslashes, QLatin1Char('\\')) + QLatin1Char('"');
}

// Runs hostside.sh on the host and returns its answer, "ok ..." or "error: ...". Wine starts a
// host program that CreateProcess is given, but hands back no handle to wait on: the answer file
// it writes last says that it is done.
QString askHost(const QStringList &args)
{
    const QString prefix = qEnvironmentVariable("WINEPREFIX");
    if (prefix.isEmpty())
        return QStringLiteral("error: WINEPREFIX is not set; the pty pairs are made on the host, under Wine");
    static int calls = 0;
    const QString answer = QStringLiteral("%1/vcom-pty/answer-%2-%3").arg(prefix).arg(GetCurrentProcessId()).arg(++calls);
    const QString answerHere = QStringLiteral("Z:") + answer;
    QDir().mkpath(QFileInfo(answerHere).path());
    QFile::remove(answerHere);
    QString command;
    for (const QString &arg : QStringList{QStringLiteral("Z:\\bin\\bash"), QStringLiteral(HOSTSIDE_PATH), answer} + args)
        command += quoted(arg) + QLatin1Char(' ');
    std::wstring line = command.toStdWString();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &process))
        return QStringLiteral("error: cannot start %1: error %2").arg(command).arg(GetLastError());
    if (process.hProcess)
        CloseHandle(process.hProcess);
    if (process.hThread)
        CloseHandle(process.hThread);
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 20000) {
        if (QFileInfo::exists(answerHere)) {
            const QString text = QString::fromLocal8Bit(readFile(answerHere)).trimmed();
            QFile::remove(answerHere);
            return text;
        }
        QThread::msleep(5);
    }
    return QStringLiteral("error: no answer from %1").arg(command);
}

const wchar_t kSerialComm[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

// What a serial driver registers for each of its ports, so that the system's port list (and so
// QSerialPortInfo and the program's dialogs) offers it.
void registerPort(const QString &port, bool on)
{
    const QString name = QStringLiteral("\\Device\\VcomTest") + port;
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSerialComm, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr)
        != ERROR_SUCCESS)
        return;
    if (on)
        RegSetValueExW(key, reinterpret_cast<const wchar_t *>(name.utf16()), 0, REG_SZ, reinterpret_cast<const BYTE *>(port.utf16()),
                       DWORD((port.size() + 1) * sizeof(wchar_t)));
    else
        RegDeleteValueW(key, reinterpret_cast<const wchar_t *>(name.utf16()));
    RegCloseKey(key);
}

bool answered(const QString &answer, QString *why)
{
    if (answer.startsWith(QLatin1String("ok")))
        return true;
    if (why)
        *why = answer;
    return false;
}

} // namespace

PtyPair::PtyPair() = default;

PtyPair::~PtyPair()
{
    if (m_hostDir.isEmpty())
        return;
    registerPort(m_nullPort, false);
    registerPort(m_workPort, false);
    askHost({QStringLiteral("remove"), m_hostDir});
}

bool PtyPair::start(QString *why)
{
    QStringList args{QStringLiteral("start")};
    if (!m_hostDir.isEmpty())
        args << m_hostDir;
    const QString answer = askHost(args);
    const QStringList words = answer.split(QLatin1Char(' '));
    if (!answered(answer, why))
        return false;
    if (words.size() != 4) {
        if (why)
            *why = QStringLiteral("hostside.sh answered: ") + answer;
        return false;
    }
    m_hostDir = words.at(1);
    m_nullPort = words.at(2);
    m_workPort = words.at(3);
    registerPort(m_nullPort, true);
    registerPort(m_workPort, true);
    return true;
}

void PtyPair::stop()
{
    if (!m_hostDir.isEmpty())
        askHost({QStringLiteral("stop"), m_hostDir});
}

void PtyPair::kill()
{
    if (!m_hostDir.isEmpty())
        askHost({QStringLiteral("kill"), m_hostDir});
}

bool linkComPort(int number, const QString &port, QString *why)
{
    if (!answered(askHost({QStringLiteral("link"), QString::number(number), port}), why))
        return false;
    registerPort(QStringLiteral("COM%1").arg(number), true);
    return true;
}

bool underWine()
{
    return WineSerial::underWine();
}

QList<int> hostKeepAlive(quint16 localPort, quint16 remotePort, QString *why)
{
    const QString answer =
        askHost({QStringLiteral("keepalive"), QString::number(localPort), QString::number(remotePort)});
    const QStringList words = answer.split(QLatin1Char(' '));
    if (!answered(answer, why))
        return {};
    QList<int> values;
    for (int i = 1; i < words.size(); ++i)
        values << words.at(i).toInt();
    return values;
}

QString hostTcpState(quint16 localPort, quint16 remotePort, QString *why)
{
    const QString answer =
        askHost({QStringLiteral("tcpstate"), QString::number(localPort), QString::number(remotePort)});
    return answered(answer, why) ? answer.section(QLatin1Char(' '), 1) : QString();
}

void unlinkComPort(int number)
{
    registerPort(QStringLiteral("COM%1").arg(number), false);
    askHost({QStringLiteral("unlink"), QString::number(number)});
}

#else

PtyPair::PtyPair() = default;

PtyPair::~PtyPair()
{
    stop();
}

bool PtyPair::start(QString *why)
{
    const QString socat = findTool(QStringLiteral("socat"));
    if (socat.isEmpty()) {
        if (why)
            *why = QStringLiteral("socat is not installed: apt-get install socat");
        return false;
    }
    // A killed socat leaves its links behind, pointing at terminals that are gone (or at
    // numbers the kernel hands out again): clear them so only the new ones are waited for.
    QFile::remove(nullEnd());
    QFile::remove(workEnd());
    m_socat.setProgram(socat);
    m_socat.setArguments({QStringLiteral("pty,raw,echo=0,link=%1").arg(nullEnd()),
                          QStringLiteral("pty,raw,echo=0,link=%1").arg(workEnd())});
    // Not forwarded: a socat left behind by a test that aborted would hold CTest's output pipe
    // open and keep CTest waiting for the test's time-out.
    m_socat.setStandardOutputFile(QProcess::nullDevice());
    m_socat.setStandardErrorFile(QProcess::nullDevice());
    m_socat.start();
    if (!m_socat.waitForStarted(5000)) {
        if (why)
            *why = QStringLiteral("socat did not start: %1").arg(m_socat.errorString());
        return false;
    }
    // socat makes the links once both terminals exist; poll for them briefly.
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 5000) {
        if (QFileInfo::exists(nullEnd()) && QFileInfo::exists(workEnd()))
            return true;
        if (m_socat.state() != QProcess::Running)
            break;
        QThread::msleep(5);
    }
    if (why)
        *why = QStringLiteral("socat made no pty pair in %1").arg(m_dir.path());
    return false;
}

void PtyPair::stop()
{
    if (m_socat.state() != QProcess::NotRunning) {
        m_socat.terminate();
        if (!m_socat.waitForFinished(3000)) {
            m_socat.kill();
            m_socat.waitForFinished(3000);
        }
    }
}

void PtyPair::kill()
{
    if (m_socat.state() != QProcess::NotRunning) {
        m_socat.kill();
        m_socat.waitForFinished(3000);
    }
}

#endif

// ---------------------------------------------------------------------------------------------

TcpPeer::TcpPeer(bool echo, QObject *parent)
    : QObject(parent)
    , m_echo(echo)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *s = m_server.nextPendingConnection()) {
            m_clients << s;
            connect(s, &QTcpSocket::readyRead, this, [this, s] {
                const QByteArray data = s->readAll();
                receivedBytes += data.size();
                if (keepReceived)
                    received += data;
                if (m_echo)
                    s->write(data);
                emit dataArrived();
            });
        }
    });
}

bool TcpPeer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

Rfc2217Peer::~Rfc2217Peer()
{
    m_control.abort();
    if (m_process.state() != QProcess::NotRunning) {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(3000);
    }
}

bool Rfc2217Peer::start(QString *why)
{
    QString first;
#ifdef Q_OS_WIN
    // Under Wine the converter runs on the host; only its ports come back.
    const QString answer = askHost({QStringLiteral("rfc2217peer"), QStringLiteral(RFC2217PEER_PATH)});
    if (!answer.startsWith(QLatin1String("ok "))) {
        *why = QStringLiteral("hostside.sh answered: ") + answer;
        return false;
    }
    first = answer.mid(3);
#else
    const QString python = findTool(QStringLiteral("python3"));
    if (python.isEmpty()) {
        *why = QStringLiteral("python3 is not installed: apt-get install python3 python3-serial");
        return false;
    }
    m_process.start(python, {QStringLiteral(RFC2217PEER_PATH)});
    if (!m_process.waitForStarted(5000)) {
        *why = QStringLiteral("cannot start tests/rfc2217peer.py: ") + m_process.errorString();
        return false;
    }
    if (!waitUntil([this] { return m_process.canReadLine() || m_process.state() == QProcess::NotRunning; }, 10000)
        || !m_process.canReadLine()) {
        *why = QStringLiteral("tests/rfc2217peer.py did not start (is python3-serial installed?): ")
               + QString::fromLocal8Bit(m_process.readAllStandardError());
        return false;
    }
    first = QString::fromLatin1(m_process.readLine()).trimmed();
#endif
    // "port N control M"
    const QStringList words = first.split(QLatin1Char(' '));
    if (words.size() != 4) {
        *why = QStringLiteral("tests/rfc2217peer.py said: ") + first;
        return false;
    }
    m_port = quint16(words.at(1).toUInt());
    m_control.connectToHost(QHostAddress::LocalHost, quint16(words.at(3).toUInt()));
    if (!m_control.waitForConnected(5000)) {
        *why = QStringLiteral("no control connection to tests/rfc2217peer.py: ") + m_control.errorString();
        return false;
    }
    return true;
}

QStringList Rfc2217Peer::settings()
{
    m_told += m_control.readAll();
    QStringList lines;
    for (const QByteArray &line : m_told.split('\n')) {
        if (line.startsWith("settings "))
            lines << QString::fromLatin1(line);
    }
    // A line not ended yet is not told yet.
    if (!m_told.endsWith('\n') && !lines.isEmpty())
        lines.removeLast();
    return lines;
}

void Rfc2217Peer::drop()
{
    m_control.write("drop\n");
    m_control.flush();
}

int baudRateInUse(const QString &path)
{
#ifdef Q_OS_WIN
    const QString answer = askHost({QStringLiteral("speed"), path});
    return answer.startsWith(QLatin1String("ok ")) ? answer.mid(3).toInt() : -1;
#else
    const QString device = QFileInfo(path).canonicalFilePath();
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        if (device.isEmpty() || QFileInfo(fds.filePath(fd)).symLinkTarget() != device)
            continue;
        termios settings{};
        if (::tcgetattr(fd.toInt(), &settings) != 0)
            continue;
        switch (::cfgetospeed(&settings)) {
        case B1200: return 1200;
        case B2400: return 2400;
        case B4800: return 4800;
        case B9600: return 9600;
        case B19200: return 19200;
        case B38400: return 38400;
        case B57600: return 57600;
        case B115200: return 115200;
        default: return -1;
        }
    }
    return -1;
#endif
}

#ifdef __SANITIZE_ADDRESS__
// AddressSanitizer keeps freed blocks in a quarantine of up to 256 MB, which would count as the
// process's own memory here. GCC ships no header for this part of its interface.
extern "C" void __sanitizer_purge_allocator();
#endif

qint64 residentKiB()
{
#ifdef __SANITIZE_ADDRESS__
    __sanitizer_purge_allocator();
#endif
#ifdef Q_OS_WIN
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) ? qint64(counters.WorkingSetSize / 1024)
                                                                                 : -1;
#else
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
#endif
}

bool resetOnClose(QAbstractSocket *socket)
{
    const linger hard{1, 0};
#ifdef Q_OS_WIN
    const SOCKET fd = SOCKET(socket->socketDescriptor());
#else
    const int fd = int(socket->socketDescriptor());
#endif
    return ::setsockopt(fd, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&hard), sizeof hard) == 0;
}

quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

QString dialToBeEnded(const QString &from, quint16 port, int timeoutMs)
{
#ifdef Q_OS_WIN
    const SOCKET fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd == INVALID_SOCKET)
        return QStringLiteral("no socket: error %1").arg(WSAGetLastError());
    const auto ready = [fd] {
        WSAPOLLFD pfd{fd, POLLRDNORM, 0};
        return WSAPoll(&pfd, 1, 0) == 1;
    };
#else
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd == -1)
        return QStringLiteral("no socket: %1").arg(QString::fromLocal8Bit(strerror(errno)));
    const auto ready = [fd] {
        pollfd pfd{fd, POLLIN, 0};
        return ::poll(&pfd, 1, 0) == 1;
    };
#endif
    sockaddr_in here{};
    here.sin_family = AF_INET;
    here.sin_addr.s_addr = htonl(QHostAddress(from).toIPv4Address());
    sockaddr_in there{};
    there.sin_family = AF_INET;
    there.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    there.sin_port = htons(port);
    QString why;
    // The system takes the connection before the program does: it does not wait for this thread.
    if (::bind(fd, reinterpret_cast<sockaddr *>(&here), sizeof here) != 0)
        why = QStringLiteral("cannot use %1 here").arg(from);
    else if (::connect(fd, reinterpret_cast<sockaddr *>(&there), sizeof there) != 0)
        why = QStringLiteral("not connected");
    else if (!waitUntil(ready, timeoutMs))
        why = QStringLiteral("still connected after %1 ms").arg(timeoutMs);
    else if (char byte; ::recv(fd, &byte, 1, 0) > 0)
        why = QStringLiteral("the program sent something");
#ifdef Q_OS_WIN
    ::closesocket(fd);
#else
    ::close(fd);
#endif
    return why;
}

// ---------------------------------------------------------------------------------------------

void Checker::feed(const QByteArray &data)
{
    const QByteArray expected = m_expect.next(data.size());
    if (m_firstBad < 0 && data != expected) {
        int i = 0;
        while (i < data.size() && data.at(i) == expected.at(i))
            ++i;
        m_firstBad = checked + i;
    }
    checked += data.size();
}

Feeder::Feeder(QIODevice *device, quint32 seed, qint64 total)
    : Feeder(device, [stream = Stream(seed)](int n) mutable { return stream.next(n); }, total)
{
}

Feeder::Feeder(QIODevice *device, std::function<QByteArray(int)> next, qint64 total)
    : m_device(device)
    , m_next(std::move(next))
    , m_total(total)
{
    connect(device, &QIODevice::bytesWritten, this, &Feeder::fill);
    fill();
}

void Feeder::fill()
{
    while (m_queued < m_total && m_device->bytesToWrite() < 16384) {
        const QByteArray block = m_next(int(qMin<qint64>(4096, m_total - m_queued)));
        m_device->write(block);
        m_queued += block.size();
    }
}

HeldReader::HeldReader(QIODevice *device, quint32 seed)
    : m_device(device)
    , m_check(seed)
{
    connect(device, &QIODevice::readyRead, this, &HeldReader::take);
}

void HeldReader::hold(bool on)
{
    m_held = on;
    if (!on)
        take();
}

void HeldReader::take()
{
    if (!m_held)
        m_check.feed(m_device->readAll());
}

bool standsStill(const std::function<qint64()> &progress)
{
    QElapsedTimer total, still;
    total.start();
    still.start();
    qint64 last = progress();
    while (total.elapsed() < 60000) {
        // Polled: what stands still sends no signal.
        waitUntil([] { return false; }, 50);
        const qint64 now = progress();
        if (now != last) {
            last = now;
            still.restart();
        } else if (still.elapsed() >= 1000) {
            return true;
        }
    }
    return false;
}

WorkPort::WorkPort()
{
    connect(this, &QSerialPort::readyRead, this, [this] { got += readAll(); });
}

bool WorkPort::openAt(const QString &path)
{
    setPortName(path);
    return open(QIODevice::ReadWrite);
}

Pump::Pump(quint32 seed, QObject *parent)
    : QObject(parent)
    , m_up(seed)
    , m_down(seed + 1000)
{
    connect(&m_timer, &QTimer::timeout, this, &Pump::tick);
}

void Pump::tick()
{
    // Bounds: a side that takes nothing (its far end is gone) never piles up more than this,
    // and no stream grows past kLimit whatever a test does.
    const int kBlock = 509;
    const int kMaxQueued = 32 * 1024;
    const int kLimit = 8 * 1024 * 1024;
    if (m_work && m_work->isOpen() && m_work->bytesToWrite() < kMaxQueued && sentUp.size() < kLimit) {
        const QByteArray block = m_up.next(kBlock);
        m_work->write(block);
        sentUp += block;
    }
    if (m_peer && m_peer->state() == QAbstractSocket::ConnectedState && m_peer->bytesToWrite() < kMaxQueued
        && sentDown.size() < kLimit) {
        const QByteArray block = m_down.next(kBlock);
        m_peer->write(block);
        sentDown += block;
    }
}

Lane::Lane(quint32 seed)
    : m_upOut(seed)
    , m_downOut(seed + 7919)
    , m_upIn(seed)
    , m_downIn(seed + 7919)
{
    connect(&m_server, &QTcpServer::newConnection, this, &Lane::onNewConnection);
    connect(&m_work, &QSerialPort::readyRead, this, [this] { m_downIn.feed(m_work.readAll()); });
    connect(&m_work, &QSerialPort::bytesWritten, this, &Lane::pump);
}

bool Lane::setUp(QString *why)
{
    if (!m_pair.start(why))
        return false;
    if (!m_server.listen(QHostAddress::LocalHost, 0)) {
        *why = m_server.errorString();
        return false;
    }
    return true;
}

bool Lane::openWork()
{
    m_work.setPortName(m_pair.workEnd());
    return m_work.open(QIODevice::ReadWrite);
}

void Lane::allow(qint64 n)
{
    m_upBudget += n;
    m_downBudget += n;
    pump();
}

void Lane::hold()
{
    m_upBudget = m_upSent;
    m_downBudget = m_downSent;
}

QString Lane::report() const
{
    return QStringLiteral("up %1/%2 (first bad %3), down %4/%5 (first bad %6)")
        .arg(m_upIn.checked)
        .arg(m_upSent)
        .arg(m_upIn.firstBad())
        .arg(m_downIn.checked)
        .arg(m_downSent)
        .arg(m_downIn.firstBad());
}

void Lane::pump()
{
    // Queues stay short, so a side that stalls shows up as a stall and not as memory.
    const qint64 queue = 64 * 1024;
    const int block = 16 * 1024;
    while (m_work.isOpen() && m_upSent < m_upBudget && m_work.bytesToWrite() < queue) {
        const int n = int(qMin<qint64>(block, m_upBudget - m_upSent));
        m_work.write(m_upOut.next(n));
        m_upSent += n;
    }
    while (m_client && m_client->state() == QAbstractSocket::ConnectedState && m_downSent < m_downBudget
           && m_client->bytesToWrite() < queue) {
        const int n = int(qMin<qint64>(block, m_downBudget - m_downSent));
        m_client->write(m_downOut.next(n));
        m_downSent += n;
    }
}

void Lane::onNewConnection()
{
    while (QTcpSocket *s = m_server.nextPendingConnection()) {
        ++accepted;
        ++live;
        m_client = s;
        connect(s, &QTcpSocket::readyRead, this, [this, s] { m_upIn.feed(s->readAll()); });
        connect(s, &QTcpSocket::bytesWritten, this, &Lane::pump);
        connect(s, &QTcpSocket::disconnected, this, [this, s] {
            --live;
            s->deleteLater();
        });
        pump();
    }
}

// ---------------------------------------------------------------------------------------------

namespace {

const char kFakeMarker[] = "/.fake-setupc";

#ifndef Q_OS_WIN
// As wintools/fakesetupc.cpp does on Windows. One file of arguments per call, NUL-separated so
// that an argument with blanks or line breaks comes back exactly as received.
const char kFakeScript[] = R"sh(here=$(dirname "$0")
n=1
while [ -e "$here/call-$n" ]; do n=$((n + 1)); done
printf '%s\0' "$@" >"$here/call-$n"
request=${1%% *}
echo $$ >"$here/$request.pid"
k=$(($(cat "$here/$request.calls" 2>/dev/null || echo 0) + 1))
echo "$k" >"$here/$request.calls"
if [ -f "$here/$request.out.$k" ]; then
    cat "$here/$request.out.$k"
elif [ -f "$here/$request.out" ]; then
    cat "$here/$request.out"
fi
[ -f "$here/$request.err" ] && cat "$here/$request.err" >&2
# exec: the tool the caller stops is the one that hangs or floods, with no child left behind
case "$(cat "$here/$request.endless" 2>/dev/null)" in
hang) exec sleep 3600 ;;
flood) exec yes 'CNCA0 PortName=COM5' ;;
flood-stderr) exec yes 'CNCA0 PortName=COM5' >&2 ;;
esac
exit "$(cat "$here/$request.status" 2>/dev/null || echo 0)"
)sh";
#endif

} // namespace

QString FakeSetupc::folder()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/com0com");
}

QString FakeSetupc::program()
{
    return folder() + QStringLiteral("/setupc.exe");
}

bool FakeSetupc::folderIsFake()
{
    return QFileInfo::exists(folder() + QLatin1String(kFakeMarker));
}

bool FakeSetupc::install(QString *why)
{
#ifdef Q_OS_WIN
    // The Windows program of the same behaviour, which the build puts beside the tests.
    const QString built = QCoreApplication::applicationDirPath() + QStringLiteral("/wintools/setupc.exe");
    if (!QFileInfo(built).isFile()) {
        if (why)
            *why = QStringLiteral("the fake setupc.exe is not built: %1").arg(built);
        return false;
    }
    QFile::remove(program());
    const bool written = QDir().mkpath(folder()) && writeFile(folder() + QLatin1String(kFakeMarker), {})
                         && QFile::copy(built, program());
#else
    if (findTool(QStringLiteral("bash")).isEmpty()) {
        if (why)
            *why = QStringLiteral("bash is not installed; the fake setupc.exe is a bash script");
        return false;
    }
    const bool written = QDir().mkpath(folder()) && writeFile(folder() + QLatin1String(kFakeMarker), {})
                         && writeScript(program(), kFakeScript);
#endif
    if (!written) {
        if (why)
            *why = QStringLiteral("cannot write the fake %1").arg(program());
        return false;
    }
    return true;
}

void FakeSetupc::remove()
{
    if (folderIsFake())
        QDir(folder()).removeRecursively();
}

bool FakeSetupc::removeProgram()
{
    return QFile::remove(program());
}

bool FakeSetupc::setOutput(const QString &request, const QByteArray &bytes, int call)
{
    const QString suffix = call > 0 ? QStringLiteral(".out.%1").arg(call) : QStringLiteral(".out");
    return writeFile(folder() + QLatin1Char('/') + request + suffix, bytes);
}

bool FakeSetupc::setErrorOutput(const QString &request, const QByteArray &bytes)
{
    return writeFile(folder() + QLatin1Char('/') + request + QStringLiteral(".err"), bytes);
}

bool FakeSetupc::setExitStatus(const QString &request, int status)
{
    return writeFile(folder() + QLatin1Char('/') + request + QStringLiteral(".status"), QByteArray::number(status));
}

bool FakeSetupc::setEndless(const QString &request, const QByteArray &how)
{
    return writeFile(folder() + QLatin1Char('/') + request + QStringLiteral(".endless"), how);
}

qint64 FakeSetupc::lastPid(const QString &request) const
{
    return readFile(folder() + QLatin1Char('/') + request + QStringLiteral(".pid")).trimmed().toLongLong();
}

bool processRunning(qint64 pid)
{
#ifdef Q_OS_WIN
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, DWORD(pid));
    const bool running = process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    if (process)
        CloseHandle(process);
    return running;
#else
    // QProcess reaps what it started: an ended process leaves no entry behind.
    return QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid));
#endif
}

QList<QStringList> FakeSetupc::calls() const
{
    QList<QStringList> result;
    for (int n = 1;; ++n) {
        QFile file(folder() + QStringLiteral("/call-%1").arg(n));
        if (!file.open(QIODevice::ReadOnly))
            return result;
        QList<QByteArray> parts = file.readAll().split('\0');
        parts.removeLast();
        QStringList args;
        for (const QByteArray &part : parts)
            args << QString::fromUtf8(part);
        result << args;
    }
}

// ---------------------------------------------------------------------------------------------

bool ListedPorts::add(const QString &name, QString *why)
{
#ifdef Q_OS_WIN
    registerPort(name, true);
    bool listed = false;
    for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts())
        listed = listed || port.portName() == name;
    if (!listed) {
        *why = QStringLiteral("%1 is not in the system's port list: registering it under "
                              "HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM takes an administrator")
                   .arg(name);
        return false;
    }
    m_added << name;
#else
    const QString dir = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR")) + QStringLiteral("/vcom");
    const QString link = dir + QLatin1Char('/') + name;
    // Only a folder no one else can write to has ports.
    if (!QDir().mkpath(dir) || !QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)
        || !QFile::link(QStringLiteral("/dev/null"), link)) {
        *why = QStringLiteral("cannot make the port link %1").arg(link);
        return false;
    }
    m_added << link;
#endif
    return true;
}

void ListedPorts::clear()
{
    for (const QString &added : qAsConst(m_added)) {
#ifdef Q_OS_WIN
        registerPort(added, false);
#else
        QFile::remove(added);
#endif
    }
    m_added.clear();
}

} // namespace TestSupport
