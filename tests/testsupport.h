// Real parts for the tests: socat pseudo-terminal pairs, TCP peers on 127.0.0.1, the fake
// setupc.exe, files and folders of their own, waiting, and traffic that checks itself.
#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QPointer>
#include <QProcess>
#include <QSerialPort>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

namespace TestSupport {

// The full path of a program on PATH, or empty.
QString findTool(const QString &name);

// The whole file, or empty when it cannot be read.
QByteArray readFile(const QString &path);
// Writes bytes as the whole file; false when that failed.
bool writeFile(const QString &path, const QByteArray &bytes);
// Writes a bash script that everyone may run; false when that failed.
bool writeScript(const QString &path, const QByteArray &body);

// Makes the virtual-port folder dir the way a careless or hostile user may leave it: kind is a
// mode ("700", "777", ...), "link" (a link to a private folder beside it) or "foreign" (another
// user's, which takes root to make). False, with why, when it could not be made.
bool makeVirtualPortDir(const QString &dir, const QString &kind, QString *why);

// One connection as pipes.json holds it.
QJsonObject pipe(int id, const QString &portNull, int ipport, const QString &name = QStringLiteral("Линия"));
// Writes pipes.json in the current folder, where the window reads it.
bool writePipes(const QJsonArray &pipes);

// A fresh temporary folder that is the current folder for as long as the object lives.
class ScratchFolder
{
public:
    ScratchFolder();
    ~ScratchFolder();
    bool isValid() const { return m_entered; }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QString m_previous;
    bool m_entered = false;
};

// Runs the event loop until cond holds or timeoutMs pass; returns at once when it holds, so a
// thousand waits cost no more than the events they wait for.
bool waitUntil(const std::function<bool()> &cond, int timeoutMs);
// Reads from the device until want bytes came or the time is up.
QByteArray readAtLeast(QIODevice &device, int want, int timeoutMs = 10000);

// A program run to its end.
struct Run
{
    bool finished = false;
    int exitCode = -1; // -1 also when it crashed
    QString out;       // as Latin-1, the way the program reads setupc.exe
    QString err;
};
// Waits for a started process to end, killing it after timeoutMs.
Run finish(QProcess &process, int timeoutMs = 10000);
Run run(const QString &program, const QStringList &args, int timeoutMs = 10000);

// A pseudo-terminal pair made by socat: two links in a temporary folder, "a" for the bridge's
// side and "b" for the user's side. It can end and come back on the same links, as a virtual
// port pair that is removed and made anew. Gone when the object is.
//
// On Windows (under Wine) socat runs on the host, and each end is a Windows COM port: a Wine
// link COMn to "a" and COMn+1 to "b", registered with the system's serial ports as a driver's
// port is. nullEnd() and workEnd() are then those COM names. See tests/wintools/hostside.sh.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    bool start(QString *why = nullptr);
    // socat ends politely: it closes its terminals and removes the links.
    void stop();
    // socat is killed: the kernel closes the terminals and the links stay behind, dangling.
    void kill();
#ifdef Q_OS_WIN
    QString nullEnd() const { return m_nullPort; }
    QString workEnd() const { return m_workPort; }
#else
    QString nullEnd() const { return m_dir.path() + QStringLiteral("/a"); }
    QString workEnd() const { return m_dir.path() + QStringLiteral("/b"); }
#endif

private:
#ifdef Q_OS_WIN
    QString m_hostDir;
    QString m_nullPort;
    QString m_workPort;
#else
    QTemporaryDir m_dir;
    QProcess m_socat;
#endif
};

#ifdef Q_OS_WIN
// Whether this Windows program runs under Wine.
bool underWine();

// The keep-alive of this process's TCP socket from localPort to remotePort on 127.0.0.1 as the
// host's socket under Wine's has it: on, idle seconds, interval seconds, probes. Empty, with why,
// when it cannot be read.
QList<int> hostKeepAlive(quint16 localPort, quint16 remotePort, QString *why);

// The state of this process's TCP socket from localPort to remotePort on 127.0.0.1 as the host
// knows it: "01" established, "08" closed by the other end, "gone" once reset; empty, with why,
// when it cannot be read. Wine does not always tell a socket of a reset it received.
QString hostTcpState(quint16 localPort, quint16 remotePort, QString *why = nullptr);

// The Windows COM port COMnumber, leading where the port (a PtyPair's end) leads, registered as
// the pair's ports are; or none again. False, with why, when the host side refused.
bool linkComPort(int number, const QString &port, QString *why = nullptr);
void unlinkComPort(int number);
#endif

// A TCP peer on 127.0.0.1 that keeps every connection, records what each sent and, when asked,
// echoes it back.
class TcpPeer : public QObject
{
    Q_OBJECT
public:
    explicit TcpPeer(bool echo = false, QObject *parent = nullptr);
    bool listen();
    quint16 port() const { return m_server.serverPort(); }
    QTcpSocket *client(int i = 0) const { return m_clients.value(i); }
    int clientCount() const { return m_clients.size(); }
    QByteArray received;
    qint64 receivedBytes = 0;
    bool keepReceived = true;

signals:
    void dataArrived();

private:
    QTcpServer m_server;
    QList<QPointer<QTcpSocket>> m_clients;
    bool m_echo;
};

// An RFC 2217 converter that nobody here wrote: pyserial's port manager over a loop port
// (tests/rfc2217peer.py), on 127.0.0.1. What its client sends comes straight back; the line
// settings the client gives it are told as lines "settings baud=.. databits=.. parity=.. stopbits=..".
class Rfc2217Peer
{
public:
    Rfc2217Peer() = default;
    ~Rfc2217Peer();
    bool start(QString *why);
    quint16 port() const { return m_port; }
    // The settings lines told so far.
    QStringList settings();
    // Ends the client's connection, as a converter that restarts does.
    void drop();

private:
    quint16 m_port = 0;
    QProcess m_process;
    QTcpSocket m_control;
    QByteArray m_told;
};

// A pseudo-random byte stream: the same seed gives the same bytes, so a receiver holding a
// stream of its own can check what arrives, in order, without keeping what was sent.
class Stream
{
public:
    explicit Stream(quint32 seed)
        : m_x(seed * 2654435761u | 1u)
    {
    }
    QByteArray next(int size)
    {
        QByteArray data(size, Qt::Uninitialized);
        for (int i = 0; i < size; ++i) {
            m_x ^= m_x << 13;
            m_x ^= m_x >> 17;
            m_x ^= m_x << 5;
            data[i] = char(m_x >> 24);
        }
        return data;
    }

private:
    quint32 m_x;
};

// Compares what arrives, in order, with the stream that was sent, without keeping either.
class Checker
{
public:
    explicit Checker(quint32 seed)
        : m_expect(seed)
    {
    }
    void feed(const QByteArray &data);
    bool ok() const { return m_firstBad < 0; }
    qint64 firstBad() const { return m_firstBad; }
    qint64 checked = 0;

private:
    Stream m_expect;
    qint64 m_firstBad = -1;
};

// Writes a stream into a device as fast as the device takes it, holding little of its own, so
// that a device that stops taking bytes stops the stream: a seeded Stream, or blocks that next
// makes of the size it is given.
class Feeder : public QObject
{
public:
    Feeder(QIODevice *device, quint32 seed, qint64 total);
    Feeder(QIODevice *device, std::function<QByteArray(int)> next, qint64 total);
    // Bytes the device has taken from it.
    qint64 taken() const { return m_queued - m_device->bytesToWrite(); }

private:
    void fill();

    QIODevice *m_device;
    std::function<QByteArray(int)> m_next;
    qint64 m_total;
    qint64 m_queued = 0;
};

// Reads a device while not held, checking every byte against the same seeded stream.
class HeldReader : public QObject
{
public:
    HeldReader(QIODevice *device, quint32 seed);
    void hold(bool on);
    qint64 got() const { return m_check.checked; }
    bool inOrder() const { return m_check.ok(); }

private:
    void take();

    QIODevice *m_device;
    Checker m_check;
    bool m_held = false;
};

// Waits until progress() has stood still for a second (the sender has been stopped); false when
// it still moves after a minute.
bool standsStill(const std::function<qint64()> &progress);

// The user's application on the work end of a pair: keeps everything that arrives.
class WorkPort : public QSerialPort
{
    Q_OBJECT
public:
    WorkPort();
    bool openAt(const QString &path);
    QByteArray got;
};

// Two-way traffic: a work port (the user's application) and the peer's socket each write a
// block every few milliseconds and keep what they sent for the comparison.
class Pump : public QObject
{
    Q_OBJECT
public:
    explicit Pump(quint32 seed, QObject *parent = nullptr);
    void setWork(QIODevice *work) { m_work = work; }
    void setPeer(QTcpSocket *peer) { m_peer = peer; }
    void start() { m_timer.start(4); }
    void stop() { m_timer.stop(); }

    QByteArray sentUp;
    QByteArray sentDown;

private:
    void tick();

    QTimer m_timer;
    Stream m_up;
    Stream m_down;
    QPointer<QIODevice> m_work;
    QPointer<QTcpSocket> m_peer;
};

// One connection's traffic: the user's work port and the TCP peer each send a stream to the
// other, bounded by an allowance, and each end checks what the other sent. The peer accepts
// every connection the bridge makes and lets a finished one go at once.
class Lane : public QObject
{
    Q_OBJECT
public:
    explicit Lane(quint32 seed);

    bool setUp(QString *why);
    bool openWork();

    QString nullEnd() const { return m_pair.nullEnd(); }
    quint16 port() const { return m_server.serverPort(); }

    // Lets each side send n more bytes.
    void allow(qint64 n);
    // Nothing more is sent beyond what already was.
    void hold();
    bool drained() const { return m_upIn.checked == m_upSent && m_downIn.checked == m_downSent; }
    bool intact() const { return m_upIn.ok() && m_downIn.ok(); }
    qint64 bytesChecked() const { return m_upIn.checked + m_downIn.checked; }
    QString report() const;

    int accepted = 0;
    int live = 0;

public slots:
    void pump();

private:
    void onNewConnection();

    PtyPair m_pair;
    QTcpServer m_server;
    QSerialPort m_work;
    QPointer<QTcpSocket> m_client;
    Stream m_upOut;
    Stream m_downOut;
    Checker m_upIn;
    Checker m_downIn;
    qint64 m_upSent = 0;
    qint64 m_downSent = 0;
    qint64 m_upBudget = 0;
    qint64 m_downBudget = 0;
};

// The baud rate this process has set on the terminal device at path, as it has that device
// open now (not through a new opening of its own); -1 when it has none open or the rate is not
// a standard one. On Windows path is a PtyPair's COM port, and the rate is the terminal's as the
// host sees it while a process other than socat holds it open.
int baudRateInUse(const QString &path);

// The resident memory of this process, in KiB; -1 when it cannot be read.
qint64 residentKiB();

// Makes the socket's next close a reset (RST), as a device that reboots does; false when the
// system refused.
bool resetOnClose(QAbstractSocket *socket);

// A free TCP port on 127.0.0.1 with nothing listening on it.
quint16 closedPort();

// Dials port on 127.0.0.1 from the local IPv4 address from (a second loopback address such as
// 127.0.0.2 is another host to the program), and waits until the other end closes or resets the
// connection. Empty when it did; else why not. A socket of the system's: a QTcpSocket that is
// reset before it has taken its connection dials again by itself, without end.
QString dialToBeEnded(const QString &from, quint16 port, int timeoutMs);

// A fake setupc.exe in com0com/ beside the test program, where the program looks for it. It
// keeps the arguments of every call and answers a request (the first word of its first
// argument) with the output, error output and exit status the test set for that request. The
// folder is every test program's there: tests that use it take a CTest resource lock. A bash
// script off Windows; on Windows the program built from wintools/fakesetupc.cpp.
class FakeSetupc
{
public:
    static QString folder();
    static QString program();
    // Whether the folder is a fake's, so that removing it takes nothing of anyone else's.
    static bool folderIsFake();

    bool install(QString *why = nullptr);
    // The whole folder, when it is a fake's.
    static void remove();
    // Only the program; the folder stays.
    bool removeProgram();

    // The output of every call of request, or with call > 0 of its call-th call only.
    bool setOutput(const QString &request, const QByteArray &bytes, int call = 0);
    bool setErrorOutput(const QString &request, const QByteArray &bytes);
    bool setExitStatus(const QString &request, int status);

    // After its output, request does not end: "hang" (prints nothing more), "flood" (prints a
    // port line without end) or "flood-stderr" (the same on standard error).
    bool setEndless(const QString &request, const QByteArray &how);
    // The process id of request's latest call; 0 before one.
    qint64 lastPid(const QString &request) const;

    // Every call, in order, each as its argument list exactly as received.
    QList<QStringList> calls() const;
};

// Whether the process with that id is still running (a process that ended is not, reaped or not).
bool processRunning(qint64 pid);

// Serial port names of the test's own that the system lists among its ports, to be picked in the
// dialogs (not opened). Off Windows: links to /dev/null in the virtual-port folder under
// XDG_RUNTIME_DIR, which the test points at a folder of its own first. On Windows: values under
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM, where drivers (com0com's too) announce
// their ports. Gone with clear() and with the object.
class ListedPorts
{
public:
    ListedPorts() = default;
    ~ListedPorts() { clear(); }
    ListedPorts(const ListedPorts &) = delete;
    ListedPorts &operator=(const ListedPorts &) = delete;

    bool add(const QString &name, QString *why);
    void clear();

private:
    QStringList m_added;
};

} // namespace TestSupport

// Fails the calling test with a clear message when socat is missing or the pair does not come up.
#define REQUIRE_PTY_PAIR(pair)                                                                     \
    do {                                                                                           \
        QString why_;                                                                              \
        if (!(pair).start(&why_))                                                                  \
            QFAIL(qPrintable(why_));                                                               \
    } while (0)

#endif // TESTSUPPORT_H
