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

#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSaveFile>
#include <QSerialPort>
#include <QTcpSocket>
#include <QTimer>

#include <climits>

#ifdef Q_OS_UNIX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#endif
#ifdef Q_OS_LINUX
#include <linux/sockios.h>
#endif

namespace {

const char *const kPortWork = "port_work";
const char *const kPortNull = "port_null";
const char *const kIpAddr = "ipaddr";
const char *const kIpPort = "ipport";

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

} // namespace

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
    // A held direction reads again as soon as the side it writes to has drained below the bound.
    connect(socket, &QIODevice::bytesWritten, this, [this] {
        if (serialHeld && socket->bytesToWrite() < Backlog)
            onSerialRead();
    });
    connect(serial, &QIODevice::bytesWritten, this, [this] {
        if (socketHeld && serial->bytesToWrite() < Backlog)
            onSocketRead();
    });

    for (QTimer *timer : {serialRetry, socketRetry, connectTimeout})
        timer->setSingleShot(true);
    connect(serialRetry, &QTimer::timeout, this, &QPipeItem::openSerial);
    serialWatch->setInterval(SerialWatchMs);
    connect(serialWatch, &QTimer::timeout, this, [this] {
        if (serial->isOpen() && !closingSerial && deviceGone(serial))
            serialLost();
    });
    connect(socketRetry, &QTimer::timeout, this, &QPipeItem::connectSocket);
    connect(connectTimeout, &QTimer::timeout, this, [this] {
        // Unanswered: given up here, so the state change below brings the next try.
        if (socket->state() != QAbstractSocket::ConnectedState)
            socket->abort();
    });
}

QPipeItem::~QPipeItem()
{
    m_started = false;
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
        else
            map.insert(it.key(), it.value().toString());
    }
    return map;
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
    openSerial();
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
    // Cleared first: a side going down wakes a held direction, which has nothing to do now.
    serialHeld = false;
    socketHeld = false;
    closeSerial();
    closeSocket();
    updateState(true);
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
    serial->setBaudRate(QSerialPort::Baud9600, QSerialPort::AllDirections);
    // Bounded, so that a held direction stops taking bytes from the port; large enough that a
    // burst is taken in one read. onSerialRead hands it on in blocks of at most SerialChunk.
    serial->setReadBufferSize(Backlog);
    if (serial->open(QIODevice::ReadWrite)) {
        serialDelayMs = FirstRetryMs;
        serialWatch->start();
        // Bytes held for the port may go now.
        if (socketHeld)
            onSocketRead();
    } else {
        retryLater(serialRetry, &serialDelayMs);
    }
    updateState();
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
    retryLater(serialRetry, &serialDelayMs);
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
    if (ipPort < 1 || ipPort > 65535)
        return;
    if (socket->state() != QAbstractSocket::UnconnectedState) {
        // A socket still closing from before cannot start a new connection.
        closingSocket = true;
        socket->abort();
        closingSocket = false;
    }
    // Bounded, so that a held direction lets the TCP window close instead of piling up here.
    socket->setReadBufferSize(Backlog);
    connectTimeout->start(ConnectTimeoutMs);
    socket->connectToHost(ipAddr, quint16(ipPort), QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
}

void QPipeItem::closeSocket()
{
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
    socketDelayMs = FirstRetryMs;
    // Relayed bytes are small interactive messages more often than bulk: send at once.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    setKeepAlive(socket);
    updateState();
}

void QPipeItem::onSocketState(int socketState)
{
    if (socketState == QAbstractSocket::UnconnectedState) {
        connectTimeout->stop();
        if (m_started && !closingSocket)
            retryLater(socketRetry, &socketDelayMs);
    }
    updateState();
    // Bytes held for a peer that is gone are dropped now rather than kept stale.
    if (socketState == QAbstractSocket::UnconnectedState && serialHeld)
        onSerialRead();
}

void QPipeItem::retryLater(QTimer *timer, int *delayMs)
{
    if (!m_started || timer->isActive())
        return;
    timer->start(*delayMs);
    *delayMs = qMin(*delayMs * 2, int(LastRetryMs));
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
    const QByteArray data = serial->readAll();
    if (data.isEmpty())
        return;
    // The watchers see blocks of at most SerialChunk bytes; the socket takes the read whole.
    for (int pos = 0; pos < data.size(); pos += SerialChunk)
        emit readSerialBuffer(data.mid(pos, SerialChunk));
    if (toSocket) {
        socket->write(data);
        socket->flush();
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
    const QByteArray data = socket->readAll();
    if (data.isEmpty())
        return;
    emit readSocketBuffer(data);
    if (toSerial) {
        serial->write(data);
        serial->flush();
    } else {
        m_droppedToSerial += data.size();
    }
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
        // A later element with the same id wins; the record it replaces was made just now and
        // is known to nobody else.
        delete m_map.value(item->id(), nullptr);
        m_map.insert(item->id(), item);
    }
    emit sendStatus(QStringLiteral("File pipe collection loaded, OK"));
}
