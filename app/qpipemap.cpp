#ifdef WIN32
// Before any Qt header: they pull in windows.h, which must not bring the old winsock.h first.
#include <winsock2.h>
#include <mstcpip.h>
#include <ws2tcpip.h>
// Windows 10 1703 and later take the probe count; MinGW's headers do not name it yet. Older
// systems refuse it and keep their own count of ten.
#ifndef TCP_KEEPCNT
#define TCP_KEEPCNT 16
#endif
#endif

#include "qpipemap.h"

#include "serialports.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QMetaMethod>
#include <QHostAddress>
#include <QSaveFile>
#include <QSerialPort>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <climits>
#include <cmath>
#include <functional>

#ifdef Q_OS_UNIX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <linux/sockios.h>
#endif
#ifdef Q_OS_WIN
// Seconds of retransmission before a connection is given up; MinGW's headers do not name it.
#ifndef TCP_MAXRT
#define TCP_MAXRT 5
#endif
#endif

namespace {

const char *const kPortWork = "port_work";
const char *const kPortNull = "port_null";
const char *const kIpAddr = "ipaddr";
const char *const kIpPort = "ipport";
// The mode and the line settings; a record with the defaults does not write them, so that the
// file stays as an older version wrote and reads it.
const char *const kMode = "mode";
const char *const kRfc2217 = "rfc2217";
const char *const kBaud = "baud";
const char *const kDataBits = "databits";
const char *const kParity = "parity";
const char *const kStopBits = "stopbits";
const QStringList kParities = {"none", "odd", "even", "mark", "space"};
const QStringList kStopSizes = {"1", "1.5", "2"};

// A whole number held by a JSON or dialog value, not a text that reads as one.
bool wholeNumber(const QVariant &v, qint64 *out)
{
    bool ok = false;
    switch (int(v.type())) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        *out = v.toLongLong(&ok);
        return ok;
    case QMetaType::Double: {
        const double d = v.toDouble();
        // Out of range first: converting such a double to an integer is undefined.
        if (!(d > -1e15 && d < 1e15) || d != std::floor(d))
            return false;
        *out = qint64(d);
        return true;
    }
    default:
        return false;
    }
}

// Whether an open port's device has gone away. The library reports a full output queue (EAGAIN)
// as a resource error too, so the error alone does not tell; a hung-up terminal does.
bool deviceGone(QSerialPort *port)
{
#ifdef Q_OS_UNIX
    pollfd pfd{int(port->handle()), 0, 0};
    return ::poll(&pfd, 1, 0) == 1 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL));
#else
    // Windows reports a resource error only for a device that was removed; the status query
    // fails on one whose driver reported nothing.
    COMSTAT status;
    return port->error() == QSerialPort::ResourceError
           || !::ClearCommError(HANDLE(port->handle()), nullptr, &status);
#endif
}

// Keep-alive with short timings, so that a peer that vanished without a word (a cable pulled, a
// converter switched off) is found in about half a minute instead of the system's two hours.
void setKeepAlive(QTcpSocket *socket)
{
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    const qintptr fd = socket->socketDescriptor();
    if (fd == -1)
        return;
#ifdef Q_OS_WIN
    tcp_keepalive values{1, ULONG(QPipeItem::KeepAliveIdleS * 1000), ULONG(QPipeItem::KeepAliveIntervalS * 1000)};
    DWORD returned = 0;
    WSAIoctl(SOCKET(fd), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr, nullptr);
    const DWORD count = QPipeItem::KeepAliveCount;
    setsockopt(SOCKET(fd), IPPROTO_TCP, TCP_KEEPCNT, reinterpret_cast<const char *>(&count), sizeof count);
#elif defined(Q_OS_UNIX)
    const int idle = QPipeItem::KeepAliveIdleS;
    const int interval = QPipeItem::KeepAliveIntervalS;
    const int count = QPipeItem::KeepAliveCount;
#ifdef TCP_KEEPIDLE
    setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
#elif defined(TCP_KEEPALIVE)
    setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPALIVE, &idle, sizeof idle);
#endif
    setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
#endif
    // Keep-alive only probes an idle link; bytes in flight to a peer that vanished are
    // otherwise retried for some fifteen minutes.
#if defined(Q_OS_WIN)
    const DWORD maxRt = DWORD(QPipeItem::UnackedTimeoutMs / 1000);
    setsockopt(SOCKET(fd), IPPROTO_TCP, TCP_MAXRT, reinterpret_cast<const char *>(&maxRt), sizeof maxRt);
#elif defined(TCP_USER_TIMEOUT)
    const unsigned int unacked = QPipeItem::UnackedTimeoutMs;
    setsockopt(int(fd), IPPROTO_TCP, TCP_USER_TIMEOUT, &unacked, sizeof unacked);
#endif
}

// Whether the peer reset the connection rather than closing it: the library reports both as
// the remote host closing, and has closed its descriptor by then. fd is a copy of it, which
// keeps the connection to be asked.
bool peerReset(int fd)
{
#ifdef Q_OS_LINUX
    tcp_info info{};
    socklen_t size = sizeof info;
    return fd != -1 && ::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) == 0 && info.tcpi_state == TCP_CLOSE;
#else
    Q_UNUSED(fd)
    return false;
#endif
}

// Whether the system still holds bytes of ours it could not send yet (the peer's window is
// closed). Bytes sent and not yet acknowledged do not count: a FIN goes out behind them at once.
bool systemHoldsUnsent(QTcpSocket *socket)
{
#ifdef Q_OS_LINUX
    int queued = 0;
    return ::ioctl(int(socket->socketDescriptor()), SIOCOUTQNSD, &queued) == 0 && queued > 0;
#else
    Q_UNUSED(socket)
    return false;
#endif
}

// Makes the next close reset the connection instead of queueing a FIN behind bytes that a peer
// that stopped reading may never take: the peer then sees the end at once.
void resetOnClose(QTcpSocket *socket)
{
    const qintptr fd = socket->socketDescriptor();
    if (fd == -1)
        return;
    linger now{};
    now.l_onoff = 1;
    now.l_linger = 0;
#ifdef Q_OS_WIN
    setsockopt(SOCKET(fd), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&now), sizeof now);
#else
    setsockopt(int(fd), SOL_SOCKET, SO_LINGER, &now, sizeof now);
#endif
}

// What the device holds, in a buffer of just that size. readAll() reads into one of at least
// 16 KiB, grows it to look for more and shrinks it again; when the heap cannot do that in place
// (the monitor keeps earlier reads alive), each read was copied once more into fresh pages.
// read(bytesAvailable()) hands over the device's own chunk instead, with its spare room: with
// the monitor open that cost more than this copy (1.84x the CPU per MiB of closed, against 1.2x).
QByteArray readBuffered(QIODevice *device)
{
    const qint64 size = device->bytesAvailable();
    QByteArray data(int(size), Qt::Uninitialized);
    const qint64 got = size > 0 ? device->read(data.data(), size) : 0;
    if (got < size)
        data.resize(int(qMax<qint64>(got, 0)));
    return data;
}

} // namespace

// Server mode: hands each peer that dials in to the record, which makes its one socket of it.
class PeerListener : public QTcpServer
{
public:
    PeerListener(std::function<void(qintptr)> take, QObject *parent)
        : QTcpServer(parent)
        , m_take(std::move(take))
    {
    }

protected:
    void incomingConnection(qintptr descriptor) override { m_take(descriptor); }

private:
    std::function<void(qintptr)> m_take;
};

// ---------------------------------------------------------------------------------------------
// QPipeItem: the record

void QPipeItem::preferPlainDispatcher()
{
#ifdef Q_OS_UNIX
    // Read by each QThread as it starts, for every thread but the main one.
    if (!qEnvironmentVariableIsSet("QT_NO_THREADED_GLIB"))
        qputenv("QT_NO_THREADED_GLIB", "1");
#endif
}

QPipeItem::QPipeItem(QString name, QObject *parent)
    : QObject(parent)
    , m_name(name)
    , serial(new QSerialPort(this))
    , socket(new QTcpSocket(this))
    , serialRetry(new QTimer(this))
    , socketRetry(new QTimer(this))
    , connectTimeout(new QTimer(this))
    , serialWatch(new QTimer(this))
{
    listener = new PeerListener([this](qintptr fd) { takePeer(fd); }, this);
    telnetWait = new QTimer(this);
    countTimer = new QTimer(this);
    // The I/O objects and timers are the record's children, so that moving the record to its
    // worker thread moves them too, and the relay runs there.
    connect(serial, &QSerialPort::readyRead, this, &QPipeItem::onSerialRead, Qt::DirectConnection);
    connect(socket, &QTcpSocket::readyRead, this, &QPipeItem::onSocketRead, Qt::DirectConnection);
    connect(serial, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        onSerialError(int(error));
    });
    connect(socket, &QAbstractSocket::stateChanged, this, [this](QAbstractSocket::SocketState st) {
        onSocketState(int(st));
    });
    connect(socket, &QAbstractSocket::connected, this, &QPipeItem::onSocketConnected);
    // Told while the socket still has its descriptor: a reset is then told from a close.
    connect(socket, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        socketResetByPeer = error == QAbstractSocket::RemoteHostClosedError && peerReset(socketCopy);
    }, Qt::DirectConnection);
    // A held direction reads again as soon as the side it writes to has drained below the bound.
    connect(socket, &QIODevice::bytesWritten, this, [this] {
        if (serialHeld && socket->bytesToWrite() < Backlog)
            onSerialRead();
    });
    connect(serial, &QIODevice::bytesWritten, this, [this] {
        if (socketHeld && serial->bytesToWrite() < Backlog)
            onSocketRead();
    });

    for (QTimer *timer : {serialRetry, socketRetry, connectTimeout, telnetWait})
        timer->setSingleShot(true);
    connect(serialRetry, &QTimer::timeout, this, &QPipeItem::openSerial);
    serialWatch->setInterval(SerialWatchMs);
    connect(serialWatch, &QTimer::timeout, this, [this] {
        if (serial->isOpen() && !closingSerial && deviceGone(serial))
            serialLost();
    });
    connect(socketRetry, &QTimer::timeout, this, [this] {
        if (m_mode == Server)
            listen();
        else
            connectSocket();
    });
    connect(connectTimeout, &QTimer::timeout, this, [this] {
        // Unanswered: given up here, so the state change below brings the next try.
        if (socket->state() != QAbstractSocket::ConnectedState) {
            connectTimedOut = true;
            socket->abort();
        }
    });
    telnetWait->setInterval(TelnetAnswerMs);
    connect(telnetWait, &QTimer::timeout, this, [this] {
        if (telnet && !telnet->comPortAgreed() && !telnetRefusalTold) {
            telnetRefusalTold = true;
            emit note(tr("RFC 2217: the peer does not answer the COM port option; data flows, the line settings are not sent"));
        }
    });
    countTimer->setInterval(CountEveryMs);
    connect(countTimer, &QTimer::timeout, this, [this] { reportCounters(); });
}

QPipeItem::~QPipeItem()
{
    m_started = false;
    dropSocketCopy();
    // Closing them below must not call back into a record half destroyed.
    serial->disconnect(this);
    socket->disconnect(this);
    delete serial;
    delete socket;
}

QString QPipeItem::serialProperty(const char *name) const
{
    if (!serial)
        return QStringLiteral("COM*");
    return serial->property(name).toString();
}

QString QPipeItem::portWork() const
{
    return serialProperty(kPortWork);
}

QString QPipeItem::portNull() const
{
    return serialProperty(kPortNull);
}

QVariantMap QPipeItem::getPropertyMap()
{
    const QJsonObject obj = toJson();
    QVariantMap map;
    for (auto it = obj.constBegin(); it != obj.constEnd(); ++it) {
        if (it.value().isDouble())
            map.insert(it.key(), it.value().toInt());
        else if (it.value().isBool())
            map.insert(it.key(), it.value().toBool());
        else
            map.insert(it.key(), it.value().toString());
    }
    return map;
}

void QPipeItem::setModeKeys(const QVariantMap &map)
{
    m_loadProblems.clear();
    m_mode = Client;
    m_rfc2217 = false;
    m_line = LineSettings();
    // A value outside its set costs that key only: the record keeps the default, and says so.
    const auto refuse = [this, &map](const char *key) {
        const QJsonValue value = QJsonValue::fromVariant(map.value(QLatin1String(key)));
        QByteArray shown = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
        shown = shown.mid(1, shown.size() - 2);
        m_loadProblems << tr("Connection %1 \"%2\": \"%3\" cannot be %4; the default is used")
                              .arg(m_id)
                              .arg(m_name, QLatin1String(key), QString::fromUtf8(shown));
    };
    const auto text = [&map](const char *key) {
        const QVariant v = map.value(QLatin1String(key));
        return v.type() == QVariant::String ? v.toString() : QString();
    };
    const auto number = [&map](const char *key, qint64 lo, qint64 hi, int *out) {
        qint64 n = 0;
        if (!wholeNumber(map.value(QLatin1String(key)), &n) || n < lo || n > hi)
            return false;
        *out = int(n);
        return true;
    };
    if (map.contains(QLatin1String(kMode))) {
        const QString mode = text(kMode);
        if (mode == QLatin1String("server"))
            m_mode = Server;
        else if (mode != QLatin1String("client"))
            refuse(kMode);
    }
    if (map.contains(QLatin1String(kRfc2217))) {
        const QVariant v = map.value(QLatin1String(kRfc2217));
        if (v.type() == QVariant::Bool)
            m_rfc2217 = v.toBool();
        else
            refuse(kRfc2217);
    }
    if (map.contains(QLatin1String(kBaud)) && !number(kBaud, 50, 4000000, &m_line.baud))
        refuse(kBaud);
    if (map.contains(QLatin1String(kDataBits)) && !number(kDataBits, 5, 8, &m_line.dataBits))
        refuse(kDataBits);
    if (map.contains(QLatin1String(kParity))) {
        if (kParities.contains(text(kParity)))
            m_line.parity = text(kParity);
        else
            refuse(kParity);
    }
    if (map.contains(QLatin1String(kStopBits))) {
        if (kStopSizes.contains(text(kStopBits)))
            m_line.stopBits = text(kStopBits);
        else
            refuse(kStopBits);
    }
}

void QPipeItem::setPropertyMap(const QVariantMap &map)
{
    // New parameters never apply to a running bridge: it is closed first.
    onDisconnection();
    m_id = map.value(QStringLiteral("id")).toInt();
    m_name = map.value(QStringLiteral("name")).toString();
    m_note = map.value(QStringLiteral("note")).toString();
    m_ipAddr = map.value(QLatin1String(kIpAddr)).toString();
    m_ipPort = map.value(QLatin1String(kIpPort)).toInt();
    // An absent key gives an invalid variant, which removes the property.
    serial->setProperty(kPortWork, map.value(QLatin1String(kPortWork)));
    serial->setProperty(kPortNull, map.value(QLatin1String(kPortNull)));
    socket->setProperty(kIpAddr, QVariant(m_ipAddr));
    socket->setProperty(kIpPort, QVariant(m_ipPort));
    setModeKeys(map);
}

QJsonObject QPipeItem::toJson() const
{
    QJsonObject obj;
    obj.insert(QStringLiteral("id"), m_id);
    obj.insert(QStringLiteral("name"), m_name);
    obj.insert(QStringLiteral("note"), m_note);
    obj.insert(QLatin1String(kPortWork), portWork());
    obj.insert(QLatin1String(kPortNull), portNull());
    obj.insert(QLatin1String(kIpAddr), socket->property(kIpAddr).toString());
    obj.insert(QLatin1String(kIpPort), socket->property(kIpPort).toInt());
    // Only what differs from the defaults: a file of client connections stays as it was.
    const LineSettings defaults;
    if (m_mode == Server)
        obj.insert(QLatin1String(kMode), QStringLiteral("server"));
    if (m_rfc2217)
        obj.insert(QLatin1String(kRfc2217), true);
    if (m_line.baud != defaults.baud)
        obj.insert(QLatin1String(kBaud), m_line.baud);
    if (m_line.dataBits != defaults.dataBits)
        obj.insert(QLatin1String(kDataBits), m_line.dataBits);
    if (m_line.parity != defaults.parity)
        obj.insert(QLatin1String(kParity), m_line.parity);
    if (m_line.stopBits != defaults.stopBits)
        obj.insert(QLatin1String(kStopBits), m_line.stopBits);
    return obj;
}

void QPipeItem::fromJson(const QJsonObject &obj)
{
    // toInt() yields 0 for anything but a whole number: 502.5, "502", true and null alike.
    m_id = obj.value(QStringLiteral("id")).toInt(0);
    m_name = obj.value(QStringLiteral("name")).toString();
    m_note = obj.value(QStringLiteral("note")).toString();
    m_ipAddr = obj.value(QLatin1String(kIpAddr)).toString();
    m_ipPort = obj.value(QLatin1String(kIpPort)).toInt(0);
    serial->setProperty(kPortWork, obj.value(QLatin1String(kPortWork)).toVariant());
    serial->setProperty(kPortNull, obj.value(QLatin1String(kPortNull)).toVariant());
    socket->setProperty(kIpAddr, QVariant(m_ipAddr));
    socket->setProperty(kIpPort, QVariant(m_ipPort));
    setModeKeys(obj.toVariantMap());
}

// ---------------------------------------------------------------------------------------------
// QPipeItem: the bridge

void QPipeItem::onConnection()
{
    if (!serial || !socket)
        return;
    m_started = true;
    serialDelayMs = FirstRetryMs;
    socketDelayMs = FirstRetryMs;
    reported[SerialSide] = SideReport();
    reported[SocketSide] = SideReport();
    telnetRefusalTold = false;
    countTimer->start();
    reportCounters(true);
    openSerial();
    if (m_mode == Server)
        listen();
    else
        connectSocket();
    // The caller shows the state reached within 200 ms; an endpoint on the local network answers
    // well within that. Not waitForConnected(), which gives the attempt up when it runs out: a
    // slower endpoint is connected in the background, as every later attempt is.
    const QAbstractSocket::SocketState st = socket->state();
    if (st == QAbstractSocket::HostLookupState || st == QAbstractSocket::ConnectingState) {
        QEventLoop answer;
        QTimer::singleShot(200, &answer, &QEventLoop::quit);
        connect(socket, &QAbstractSocket::stateChanged, &answer, [&answer](QAbstractSocket::SocketState now) {
            if (now == QAbstractSocket::ConnectedState || now == QAbstractSocket::UnconnectedState)
                answer.quit();
        });
        answer.exec(QEventLoop::ExcludeUserInputEvents);
    }
    updateState(true);
}

void QPipeItem::onDisconnection()
{
    m_started = false;
    serialRetry->stop();
    socketRetry->stop();
    connectTimeout->stop();
    telnetWait->stop();
    listener->close();
    // Cleared first: a side going down wakes a held direction, which has nothing to do now.
    serialHeld = false;
    socketHeld = false;
    closeSerial();
    closeSocket();
    telnet.reset();
    updateState(true);
    if (countTimer->isActive()) {
        countTimer->stop();
        reportCounters(true);
    }
}

void QPipeItem::openSerial()
{
    serialRetry->stop();
    if (!m_started)
        return;
    if (serial->isOpen())
        closeSerial();
    // The name is resolved at every try: a virtual port that comes back may lead elsewhere.
    const QString pname = serial->property(kPortNull).toString();
    serial->setPortName(SerialPorts::devicePath(pname));
    serial->setBaudRate(m_line.baud, QSerialPort::AllDirections);
    serial->setDataBits(QSerialPort::DataBits(m_line.dataBits));
    const int parity = kParities.indexOf(m_line.parity);
    static const QSerialPort::Parity parities[] = {QSerialPort::NoParity, QSerialPort::OddParity,
                                                   QSerialPort::EvenParity, QSerialPort::MarkParity,
                                                   QSerialPort::SpaceParity};
    serial->setParity(parities[qMax(0, parity)]);
#ifdef Q_OS_WIN
    const QSerialPort::StopBits oneAndHalf = QSerialPort::OneAndHalfStop;
#else
    // A terminal here has no 1.5 stop bits, and the library refuses to open the port with them.
    const QSerialPort::StopBits oneAndHalf = QSerialPort::TwoStop;
#endif
    serial->setStopBits(m_line.stopBits == QLatin1String("2")     ? QSerialPort::TwoStop
                        : m_line.stopBits == QLatin1String("1.5") ? oneAndHalf
                                                                   : QSerialPort::OneStop);
    // Bounded, so that a held direction stops taking bytes from the port; large enough that a
    // burst is taken in one read. onSerialRead hands it on in blocks of at most SerialChunk.
    serial->setReadBufferSize(Backlog);
    if (serial->open(QIODevice::ReadWrite)) {
        serialDelayMs = FirstRetryMs;
        serialWatch->start();
        reportSide(SerialSide, true, QString(), 0);
        // Bytes held for the port may go now.
        if (socketHeld)
            onSocketRead();
    } else {
        const QString reason = serialReason();
        reportSide(SerialSide, false, reason, retryLater(serialRetry, &serialDelayMs));
    }
    updateState();
}

QString QPipeItem::serialReason() const
{
    switch (serial->error()) {
    case QSerialPort::DeviceNotFoundError:
        return tr("not found");
    case QSerialPort::PermissionError:
        return tr("busy or not allowed");
    case QSerialPort::OpenError:
        return tr("busy");
    case QSerialPort::ResourceError:
        return tr("gone");
    case QSerialPort::UnsupportedOperationError:
        return tr("does not take these line settings");
    default:
        return serial->errorString();
    }
}

void QPipeItem::closeSerial()
{
    if (!serial->isOpen() || closingSerial)
        return;
    // Flushing and closing a port whose device is gone fail in turn, and report it: those
    // reports must not start another close from within this one.
    closingSerial = true;
    serialWatch->stop();
    // Nothing waits for a port that is being closed: what it still holds is dropped. The port
    // keeps its unwritten bytes across a close, so they are cleared first.
    m_droppedToSerial += serial->bytesToWrite();
    serial->clear();
    serial->close();
    closingSerial = false;
}

void QPipeItem::onSerialError(int error)
{
    // A port whose device is gone (its pair removed, an adapter pulled) fails every read or
    // write at once and is asked again at once, for good: close it and open it again later.
    if ((error != QSerialPort::ResourceError && error != QSerialPort::ReadError) || closingSerial
        || !serial->isOpen() || !deviceGone(serial))
        return;
    serialLost();
}

void QPipeItem::serialLost()
{
    closeSerial();
    reportSide(SerialSide, false, tr("gone"), retryLater(serialRetry, &serialDelayMs));
    updateState();
    // Bytes held for the port are dropped now rather than kept stale.
    if (socketHeld)
        onSocketRead();
}

void QPipeItem::connectSocket()
{
    socketRetry->stop();
    if (!m_started)
        return;
    const QString ipAddr = socket->property(kIpAddr).toString();
    const int ipPort = socket->property(kIpPort).toInt();
    // A port outside the valid range (only a hand-edited file holds one) must not be cut to
    // 16 bits and reach some other service: that side then simply never connects.
    if (ipPort < 1 || ipPort > 65535) {
        reportSide(SocketSide, false, tr("no such TCP port"), 0);
        return;
    }
    dropSocketCopy();
    if (socket->state() != QAbstractSocket::UnconnectedState) {
        // A socket still closing from before cannot start a new connection.
        closingSocket = true;
        socket->abort();
        closingSocket = false;
    }
    // Bounded, so that a held direction lets the TCP window close instead of piling up here.
    socket->setReadBufferSize(Backlog);
    connectTimeout->start(ConnectTimeoutMs);
    connectTimedOut = false;
    socketResetByPeer = false;
    socketWasUp = false;
    socket->connectToHost(ipAddr, quint16(ipPort), QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
}

void QPipeItem::closeSocket()
{
    // First: the connection ends only with its last descriptor.
    dropSocketCopy();
    if (socket->state() == QAbstractSocket::UnconnectedState)
        return;
    closingSocket = true;
    if (socket->bytesToWrite() > 0 || systemHoldsUnsent(socket)) {
        // A peer that stopped reading would see a graceful close only after taking all that.
        m_droppedToSocket += socket->bytesToWrite();
        resetOnClose(socket);
    } else {
        socket->disconnectFromHost();
    }
    if (socket->state() != QAbstractSocket::UnconnectedState)
        socket->abort();
    closingSocket = false;
}

void QPipeItem::onSocketConnected()
{
    connectTimeout->stop();
    socketUp();
}

// Where dialling out and being dialled end: the same relay from here on.
void QPipeItem::socketUp()
{
    socketDelayMs = FirstRetryMs;
    socketResetByPeer = false;
    socketWasUp = true;
#ifdef Q_OS_LINUX
    dropSocketCopy();
    socketCopy = ::fcntl(int(socket->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
#endif
    // Relayed bytes are small interactive messages more often than bulk: send at once.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    setKeepAlive(socket);
    if (m_rfc2217) {
        telnet.reset(new TelnetFilter(m_line));
        socket->write(telnet->start());
        socket->flush();
        telnetWait->start();
    }
    reportSide(SocketSide, true, QString(), 0);
    updateState();
}

void QPipeItem::dropSocketCopy()
{
#ifdef Q_OS_LINUX
    if (socketCopy != -1)
        ::close(socketCopy);
#endif
    socketCopy = -1;
}

QString QPipeItem::peerName() const
{
    return QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
}

void QPipeItem::listen()
{
    socketRetry->stop();
    if (!m_started || listener->isListening())
        return;
    const QString ipAddr = socket->property(kIpAddr).toString().trimmed();
    const int ipPort = socket->property(kIpPort).toInt();
    if (ipPort < 1 || ipPort > 65535) {
        reportSide(SocketSide, false, tr("no such TCP port"), 0);
        return;
    }
    // "0.0.0.0" listens on every IPv4 address, "::" (or nothing) on every address there is.
    QHostAddress address(ipAddr);
    if (ipAddr.isEmpty() || ipAddr == QLatin1String("::"))
        address = QHostAddress::Any;
    if (address.isNull()) {
        reportSide(SocketSide, false, tr("cannot listen: %1 is not an address of this computer").arg(ipAddr), 0);
        return;
    }
    if (listener->listen(address, quint16(ipPort))) {
        reportSide(SocketSide, false, tr("waiting for a peer"), 0);
        return;
    }
    const QString why = listener->errorString();
    reportSide(SocketSide, false, tr("cannot listen: %1").arg(why), retryLater(socketRetry, &socketDelayMs));
}

void QPipeItem::takePeer(qintptr descriptor)
{
    if (socket->state() != QAbstractSocket::UnconnectedState) {
        // A modem that redials after a silent drop must not be locked out by its own dead
        // connection: the newcomer wins.
        const QString old = peerName();
        dropSocketCopy();
        closingSocket = true;
        socket->abort();
        closingSocket = false;
        telnet.reset();
        emit note(tr("TCP peer %1 replaced by a new one").arg(old));
    }
    socket->setReadBufferSize(Backlog);
    if (!socket->setSocketDescriptor(descriptor)) {
#ifdef Q_OS_WIN
        ::closesocket(SOCKET(descriptor));
#else
        ::close(int(descriptor));
#endif
        return;
    }
    socketUp();
}

void QPipeItem::onSocketState(int socketState)
{
    if (socketState == QAbstractSocket::UnconnectedState) {
        dropSocketCopy();
        connectTimeout->stop();
        telnetWait->stop();
        telnet.reset();
        if (m_started && !closingSocket) {
            const QString reason = socketReason();
            if (m_mode == Server)
                reportSide(SocketSide, false, tr("%1; waiting for a peer").arg(reason), 0);
            else
                reportSide(SocketSide, false, reason, retryLater(socketRetry, &socketDelayMs));
        }
    }
    updateState();
    // Bytes held for a peer that is gone are dropped now rather than kept stale.
    if (socketState == QAbstractSocket::UnconnectedState && serialHeld)
        onSerialRead();
}

int QPipeItem::retryLater(QTimer *timer, int *delayMs)
{
    if (!m_started)
        return 0;
    if (timer->isActive())
        return timer->interval();
    timer->start(*delayMs);
    *delayMs = qMin(*delayMs * 2, int(LastRetryMs));
    return timer->interval();
}

QString QPipeItem::socketReason() const
{
    if (connectTimedOut)
        return tr("no answer (timed out)");
    switch (socket->error()) {
    case QAbstractSocket::ConnectionRefusedError:
        return tr("refused");
    case QAbstractSocket::RemoteHostClosedError:
        return socketResetByPeer ? tr("reset by the peer") : tr("closed by the peer");
    case QAbstractSocket::HostNotFoundError:
        return tr("host not found");
    case QAbstractSocket::SocketTimeoutError:
    case QAbstractSocket::NetworkError:
        // On a connection that was up: keep-alive, or data left unacknowledged, found the peer
        // gone; before that, nothing answered.
        if (socketWasUp)
            return tr("the peer stopped answering (%1)").arg(socket->errorString());
        return socket->error() == QAbstractSocket::SocketTimeoutError ? tr("no answer (timed out)")
                                                                      : socket->errorString();
    default:
        return socket->errorString();
    }
}

void QPipeItem::reportSide(Side side, bool up, const QString &reason, int retryMs)
{
    if (!m_started)
        return;
    SideReport &last = reported[side];
    const bool capped = !up && retryMs >= LastRetryMs;
    if (last.known && last.up == up && last.reason == reason) {
        // The same failure again: told once more only when its tries reach their longest delay.
        if (!capped || last.cappedTold) {
            if (retryMs > 0)
                emit sideRetrying(int(side), retryMs);
            return;
        }
        last.cappedTold = true;
    } else {
        last.known = true;
        last.up = up;
        last.reason = reason;
        last.cappedTold = capped;
    }
    QString what;
    if (side == SerialSide)
        what = serial->property(kPortNull).toString();
    else
        what = QStringLiteral("%1:%2").arg(socket->property(kIpAddr).toString()).arg(socket->property(kIpPort).toInt());
    if (side == SocketSide && m_mode == Server)
        what += tr(" (server)");
    emit sideChanged(int(side), up, what, reason, retryMs);
}

void QPipeItem::reportCounters(bool always)
{
    const qint64 toSocket = m_relayedToSocket.load();
    const qint64 toSerial = m_relayedToSerial.load();
    const qint64 lostToSocket = m_droppedToSocket.load();
    const qint64 lostToSerial = m_droppedToSerial.load();
    const qint64 sum = toSocket + toSerial + lostToSocket + lostToSerial;
    if (sum == countedSum && !always)
        return;
    countedSum = sum;
    emit countersChanged(toSocket, toSerial, lostToSocket, lostToSerial);
}

void QPipeItem::updateState(bool forceSignal)
{
    int bits = NotConnect;
    if (serial->isOpen())
        bits |= SerialConnect;
    if (socket->state() == QAbstractSocket::ConnectedState)
        bits |= SocketConnect;
    if (m_state.exchange(bits) != bits || forceSignal)
        emit stateChanged();
}

// The relay slots never wait: a wait inside a readyRead handler lets the other side's data
// pile up unseen and, under two-way traffic, stalls the relay for good. Writes are queued by
// the I/O objects and pushed out at once with a non-blocking flush(). Neither direction queues
// more than about Backlog: above that it stops reading until the other side has drained.

void QPipeItem::onSerialRead()
{
    if (!serial->isOpen())
        return;
    const bool toSocket = socket->state() == QAbstractSocket::ConnectedState;
    serialHeld = toSocket && socket->bytesToWrite() >= Backlog;
    if (serialHeld)
        return;
    const QByteArray data = readBuffered(serial);
    if (data.isEmpty())
        return;
    // One signal for the whole read: a signal per SerialChunk cost a copy each, and a watcher in
    // another thread an event each. The monitor cuts its lines itself.
    watch(SerialSide, data);
    if (toSocket) {
        socket->write(telnet ? TelnetFilter::toNetwork(data) : data);
        socket->flush();
        m_relayedToSocket += data.size();
    } else {
        // The peer is down: bytes meant for it are dropped, never sent stale on its return.
        m_droppedToSocket += data.size();
    }
}

void QPipeItem::onSocketRead()
{
    if (!socket->isOpen())
        return;
    const bool toSerial = serial->isOpen();
    socketHeld = toSerial && serial->bytesToWrite() >= Backlog;
    if (socketHeld)
        return;
    QByteArray data = readBuffered(socket);
    if (telnet && !data.isEmpty())
        data = fromTelnet(data);
    if (data.isEmpty())
        return;
    watch(SocketSide, data);
    if (toSerial) {
        serial->write(data);
        serial->flush();
        m_relayedToSerial += data.size();
    } else {
        m_droppedToSerial += data.size();
    }
}

void QPipeItem::watch(Side side, const QByteArray &data)
{
    static const QMetaMethod signal[2] = {QMetaMethod::fromSignal(&QPipeItem::readSerialBuffer),
                                          QMetaMethod::fromSignal(&QPipeItem::readSocketBuffer)};
    if (!isSignalConnected(signal[side]))
        return;
    if (!watchTimer) {
        // Made here, in the relay's thread, where it fires.
        watchTimer = new QTimer(this);
        watchTimer->setSingleShot(true);
        connect(watchTimer, &QTimer::timeout, this, &QPipeItem::tellWatchers);
    }
    watched.append(qMakePair(side, data));
    if (!watchTimer->isActive())
        tellWatchers();
}

void QPipeItem::tellWatchers()
{
    // Nothing came meanwhile: the next read is told at once.
    if (watched.isEmpty())
        return;
    QVector<QPair<Side, QByteArray>> reads;
    reads.swap(watched);
    // One call for them all, in the application's thread, where the watchers (the monitor) live:
    // there each signal reaches them directly. The record may be gone by then: it is destroyed
    // in that thread too, so the pointer cannot go stale while the call runs.
    QPointer<QPipeItem> self(this);
    QMetaObject::invokeMethod(QCoreApplication::instance(), [self, reads] {
        if (!self)
            return;
        for (const auto &read : reads) {
            if (read.first == SerialSide)
                emit self->readSerialBuffer(read.second);
            else
                emit self->readSocketBuffer(read.second);
        }
    }, Qt::QueuedConnection);
    watchTimer->start(WatchEveryMs);
}

QByteArray QPipeItem::fromTelnet(const QByteArray &raw)
{
    QByteArray data;
    QByteArray reply;
    telnet->fromNetwork(raw, &data, &reply);
    if (!reply.isEmpty()) {
        socket->write(reply);
        socket->flush();
    }
    const QStringList notes = telnet->takeNotes();
    for (const QString &text : notes)
        emit note(tr("RFC 2217: %1").arg(text));
    if (telnet->comPortRefused() && !telnetRefusalTold) {
        telnetRefusalTold = true;
        emit note(tr("RFC 2217: the peer refuses the COM port option; data flows, the line settings are not sent"));
    }
    return data;
}

// ---------------------------------------------------------------------------------------------
// QPipeMap

QPipeMap::QPipeMap(QObject *parent)
    : QObject(parent)
{
}

QPipeMap::~QPipeMap()
{
    // The records are not ours to destroy: whoever runs them decides their end.
    m_map.clear();
}

int QPipeMap::maxID() const
{
    if (m_map.isEmpty())
        return 0;
    return qMax(0, m_map.lastKey());
}

int QPipeMap::nextId() const
{
    // A hand-edited file may hold the largest id there is: the next one must not wrap round to
    // a negative id, which the next add would then replace.
    const int top = maxID();
    return top < INT_MAX ? top + 1 : 0;
}

int QPipeMap::addPipe(QPipeItem *item)
{
    const int id = nextId();
    if (id == 0)
        return 0;
    item->setId(id);
    m_map.insert(id, item);
    emit changeMap();
    return id;
}

void QPipeMap::deletePipe(const int &id)
{
    if (m_map.remove(id) > 0)
        emit changeMap();
}

QPipeItem *QPipeMap::itemById(const int &id)
{
    return m_map.value(id, nullptr);
}

QList<QPipeItem *> QPipeMap::getList()
{
    return m_map.values();
}

int QPipeMap::count()
{
    return m_map.count();
}

bool QPipeMap::saveToFile(const QString &fileName)
{
    QJsonArray array;
    for (QPipeItem *item : qAsConst(m_map))
        array.append(item->toJson());
    const QByteArray text = QJsonDocument(array).toJson(QJsonDocument::Indented);

    // The old file stays whole until the new one is completely written.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        file.cancelWriting();
        emit sendStatus(QStringLiteral("Error! Pipe collection saved"));
        return false;
    }
    emit sendStatus(QStringLiteral("File pipe collection saved, OK"));
    return true;
}

void QPipeMap::loadFromFile(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        emit sendStatus(QStringLiteral("Error! Pipe collection load"));
        return;
    }
    const QByteArray text = file.readAll();
    file.close();

    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray()) {
        // The next save would replace the user's file with an empty collection: keep a copy
        // of it beside the original so a typo does not cost every connection.
        const QString backup = fileName + QStringLiteral(".bak");
        QFile::remove(backup);
        QFile::copy(fileName, backup);
        emit sendStatus(QStringLiteral("Error! Pipe collection load"));
        return;
    }

    m_map.clear();
    const QJsonArray array = doc.array();
    for (const QJsonValue &value : array) {
        auto *item = new QPipeItem(QStringLiteral("Pipe"), nullptr);
        item->fromJson(value.toObject());
        const QStringList problems = item->loadProblems();
        for (const QString &problem : problems)
            emit sendLog(problem);
        // A later element with the same id wins; the record it replaces was made just now and
        // is known to nobody else.
        delete m_map.value(item->id(), nullptr);
        m_map.insert(item->id(), item);
    }
    emit sendStatus(QStringLiteral("File pipe collection loaded, OK"));
}
