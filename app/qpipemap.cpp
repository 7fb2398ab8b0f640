#include "qpipemap.h"

#include "serialports.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSaveFile>
#include <QSerialPort>
#include <QTcpSocket>

#ifdef Q_OS_UNIX
#include <poll.h>
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
    // Windows reports a resource error only for a device that was removed.
    return port->error() == QSerialPort::ResourceError;
#endif
}

} // namespace

// ---------------------------------------------------------------------------------------------
// QPipeItem: the record

QPipeItem::QPipeItem(QString name, QObject *parent)
    : QObject(parent)
    , m_name(name)
    , serial(new QSerialPort)
    , socket(new QTcpSocket)
{
    // The I/O objects have no parent on purpose: when the record is moved to its worker thread
    // they stay in the thread that made them, and the relay runs there.
    connect(serial, &QSerialPort::readyRead, this, &QPipeItem::onSerialRead, Qt::DirectConnection);
    connect(socket, &QTcpSocket::readyRead, this, &QPipeItem::onSocketRead, Qt::DirectConnection);
    // A port whose device is gone (its pair removed, an adapter pulled) fails every read or
    // write at once and is asked again at once, for good: close it, so that bytes for it are
    // dropped as they are for a closed TCP peer, and a stop and a start open it anew. The
    // context is the port, so this runs in the thread the port lives in.
    connect(serial, &QSerialPort::errorOccurred, serial, [this](QSerialPort::SerialPortError error) {
        if ((error == QSerialPort::ResourceError || error == QSerialPort::ReadError) && serial->isOpen()
            && deviceGone(serial))
            serial->close();
    });
}

QPipeItem::~QPipeItem()
{
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
    m_state = NotConnect;
    if (!serial || !socket)
        return;

    const QString pname = serial->property(kPortNull).toString();
    if (serial->isOpen())
        serial->close();
    serial->setPortName(SerialPorts::devicePath(pname));
    serial->setBaudRate(QSerialPort::Baud9600, QSerialPort::AllDirections);
    // The port's own buffer is unbounded so a burst is taken in one read; onSerialRead hands
    // it on in blocks of at most SerialChunk bytes. A bounded buffer here makes the port wait
    // for the event loop after every 128 bytes, which throttles the relay.
    serial->setReadBufferSize(0);
    if (serial->open(QIODevice::ReadWrite))
        m_state = PipeState(m_state | SerialConnect);

    const QString ipAddr = socket->property(kIpAddr).toString();
    const int ipPort = socket->property(kIpPort).toInt();
    // A port outside the valid range (only a hand-edited file holds one) must not be cut to
    // 16 bits and reach some other service: that side then simply never connects.
    if (ipPort < 1 || ipPort > 65535)
        return;
    // A socket still closing from the last stop cannot start a new connection.
    if (socket->state() != QAbstractSocket::UnconnectedState)
        socket->abort();
    socket->connectToHost(ipAddr, quint16(ipPort), QIODevice::ReadWrite,
                          QAbstractSocket::AnyIPProtocol);
    socket->waitForConnected(200);
    if (socket->state() == QAbstractSocket::ConnectedState) {
        // Relayed bytes are small interactive messages more often than bulk: send at once.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_state = PipeState(m_state | SocketConnect);
    }
}

void QPipeItem::onDisconnection()
{
    if (serial && serial->isOpen()) {
        serial->close();
        m_state = PipeState(m_state & ~SerialConnect);
    }
    if (socket) {
        socket->disconnectFromHost();
        m_state = PipeState(m_state & ~SocketConnect);
    }
    m_state = NotConnect;
}

// The relay slots never wait: a wait inside a readyRead handler lets the other side's data
// pile up unseen and, under two-way traffic, stalls the relay for good. Writes are queued by
// the I/O objects and pushed out at once with a non-blocking flush().

void QPipeItem::onSerialRead()
{
    const QByteArray data = serial->readAll();
    if (data.isEmpty())
        return;
    // A socket still connecting queues the bytes and sends them once connected; a closed one
    // drops them, as a write to it would.
    const QAbstractSocket::SocketState st = socket->state();
    const bool toSocket = st == QAbstractSocket::ConnectedState
                          || st == QAbstractSocket::ConnectingState
                          || st == QAbstractSocket::HostLookupState;
    // The watchers see blocks of at most SerialChunk bytes; the socket takes the read whole.
    for (int pos = 0; pos < data.size(); pos += SerialChunk)
        emit readSerialBuffer(data.mid(pos, SerialChunk));
    if (toSocket)
        socket->write(data);
    if (st == QAbstractSocket::ConnectedState)
        socket->flush();
}

void QPipeItem::onSocketRead()
{
    const QByteArray data = socket->readAll();
    if (data.isEmpty())
        return;
    emit readSocketBuffer(data);
    if (serial->isOpen()) {
        serial->write(data);
        serial->flush();
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

int QPipeMap::addPipe(QPipeItem *item)
{
    const int id = maxID() + 1;
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

void QPipeMap::saveToFile(const QString &fileName)
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
        return;
    }
    emit sendStatus(QStringLiteral("File pipe collection saved, OK"));
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
