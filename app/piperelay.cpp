#include "piperelay.h"

#include "dialguard.h"
#include "notelimiter.h"
#include "peerlistener.h"
#include "peerwatch.h"
#include "relayreports.h"
#include "relaytap.h"
#include "retryplan.h"
#include "serialports.h"
#include "sysio.h"
#include "telnetlink.h"

#include <QHostAddress>
#include <QMetaMethod>
#include <QSerialPort>
#include <QTcpSocket>
#include <QTimer>

namespace {

// What the device holds, in a buffer of just that size: readAll() grows and shrinks a larger one,
// which costs a copy of each read once the monitor keeps earlier reads alive.
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

PipeRelay::PipeRelay(QObject *parent)
    : QObject(parent)
    , serial(new QSerialPort(this))
    , socket(new QTcpSocket(this))
    , listener(new PeerListener(this))
    , telnet(new TelnetLink(this))
    , peerWatch(new PeerWatch(this))
    , notes(new NoteLimiter(this))
    , counts(new RelayCounters(this))
    , serialRetry(new RetryPlan(FirstRetryMs, LastRetryMs, 0, this))
    , socketRetry(new RetryPlan(FirstRetryMs, LastRetryMs, StableMs, this))
    , connectTimeout(new QTimer(this))
    , serialWatch(new QTimer(this))
{
    // The I/O objects and timers are children, so that moving the relay to a worker thread moves
    // them too, and the relay runs there.
    connect(serial, &QSerialPort::readyRead, this, &PipeRelay::onSerialRead, Qt::DirectConnection);
    connect(socket, &QTcpSocket::readyRead, this, &PipeRelay::onSocketRead, Qt::DirectConnection);
    connect(listener, &PeerListener::peerArrived, this, &PipeRelay::takePeer);
    connect(listener, &PeerListener::peerRefused, notes, &NoteLimiter::add);
    connect(telnet, &TelnetLink::note, notes, &NoteLimiter::add);
    connect(notes, &NoteLimiter::told, this, &PipeRelay::note);
    connect(serial, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        onSerialError(int(error));
    });
    connect(socket, &QAbstractSocket::stateChanged, this, [this](QAbstractSocket::SocketState st) {
        onSocketState(int(st));
    });
    connect(socket, &QAbstractSocket::connected, this, [this] {
        connectTimeout->stop();
        socketUp();
    });
    connect(new DialGuard(socket, this), &DialGuard::redialling, this, [this] {
        socketResetByPeer = true;
        socket->abort();
    });
    // Told while the socket still has its descriptor: a reset is then told from a close.
    connect(socket, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        socketResetByPeer = error == QAbstractSocket::RemoteHostClosedError && SysIo::peerReset(socketCopy);
    }, Qt::DirectConnection);
    // A held direction reads again as soon as the side it writes to has drained below the bound.
    connect(socket, &QIODevice::bytesWritten, this, [this] {
        if (m_run.mode == PipeSettings::Server)
            ledger.keepLast(socket->bytesToWrite() + SysIo::unacknowledged(socket));
        if (serialHeld && socket->bytesToWrite() < Backlog)
            onSerialRead();
        if (socketHeld && socket->bytesToWrite() < Backlog)
            onSocketRead();
    });
    connect(serial, &QIODevice::bytesWritten, this, [this] {
        if (socketHeld && serial->bytesToWrite() < Backlog)
            onSocketRead();
    });

    connectTimeout->setSingleShot(true);
    connect(socketRetry, &RetryPlan::lasted, this, [this](bool flapped) {
        if (flapped)
            reportSide(SocketSide, true, QString(), 0);
    });
    connect(peerWatch, &PeerWatch::silent, this, [this] {
        // Given up at once: a close would wait behind the bytes it never takes.
        peerSilent = true;
        counts->droppedToSocket += socket->bytesToWrite();
        SysIo::resetOnClose(socket);
        socket->abort();
    });
    connect(serialRetry, &RetryPlan::due, this, &PipeRelay::openSerial);
    serialWatch->setInterval(SerialWatchMs);
    connect(serialWatch, &QTimer::timeout, this, [this] {
        if (serial->isOpen() && !closingSerial && SysIo::deviceGone(serial))
            serialLost();
    });
    connect(socketRetry, &RetryPlan::due, this, [this] {
        if (m_run.mode == PipeSettings::Server)
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
    connect(counts, &RelayCounters::changed, this, &PipeRelay::countersChanged);
}

PipeRelay::~PipeRelay()
{
    m_started = false;
    dropSocketCopy();
    // Closing them below must not call back into a relay half destroyed.
    serial->disconnect(this);
    socket->disconnect(this);
    delete serial;
    delete socket;
}

void PipeRelay::start(const PipeSettings &settings)
{
    m_run = settings;
    m_started = true;
    serialRetry->reset();
    socketRetry->reset();
    reports.reset();
    telnet->reset();
    counts->start();
    openSerial();
    if (m_run.mode == PipeSettings::Server)
        listen();
    else
        connectSocket();
    updateState(true);
}

void PipeRelay::stop()
{
    m_started = false;
    serialRetry->reset();
    socketRetry->reset();
    connectTimeout->stop();
    listener->close();
    // Cleared first: a side going down wakes a held direction, which has nothing to do now.
    serialHeld = false;
    socketHeld = false;
    closeSerial();
    closeSocket();
    updateState(true);
    counts->stop();
    notes->flush();
}

void PipeRelay::openSerial()
{
    serialRetry->cancel();
    if (!m_started)
        return;
    if (serial->isOpen())
        closeSerial();
    // The name is resolved at every try: a virtual port that comes back may lead elsewhere.
    serial->setPortName(SerialPorts::devicePath(m_run.portNull));
    SerialPorts::setLine(serial, m_run.line);
    // Bounded, so that a held direction stops taking bytes from the port; large enough that a
    // burst is taken in one read.
    serial->setReadBufferSize(Backlog);
    if (serial->open(QIODevice::ReadWrite)) {
        serialRetry->up();
        serialWatch->start();
        reportSide(SerialSide, true, QString(), 0);
        // Bytes held for the port may go now.
        if (socketHeld)
            onSocketRead();
    } else {
        const QString reason = RelayReports::serialReason(serial);
        reportSide(SerialSide, false, reason, serialRetry->later());
    }
    updateState();
}

void PipeRelay::closeSerial()
{
    if (!serial->isOpen() || closingSerial)
        return;
    // Flushing and closing a port whose device is gone fail in turn, and report it: those
    // reports must not start another close from within this one.
    closingSerial = true;
    serialWatch->stop();
    // Nothing waits for a port that is being closed: what it still holds is dropped. The port
    // keeps its unwritten bytes across a close, so they are cleared first.
    counts->droppedToSerial += serial->bytesToWrite();
    serial->clear();
    serial->close();
    closingSerial = false;
}

void PipeRelay::onSerialError(int error)
{
    // A port whose device is gone (its pair removed, an adapter pulled) fails every read or
    // write at once and is asked again at once, for good: close it and open it again later.
    if ((error != QSerialPort::ResourceError && error != QSerialPort::ReadError) || closingSerial
        || !serial->isOpen() || !SysIo::deviceGone(serial))
        return;
    serialLost();
}

void PipeRelay::serialLost()
{
    closeSerial();
    reportSide(SerialSide, false, tr("пропал"), serialRetry->later());
    updateState();
    // Bytes held for the port are dropped now rather than kept stale.
    if (socketHeld)
        onSocketRead();
}

void PipeRelay::connectSocket()
{
    socketRetry->cancel();
    if (!m_started)
        return;
    // A port outside the valid range (only a hand-edited file holds one) must not be cut to
    // 16 bits and reach some other service: that side then simply never connects.
    if (m_run.ipPort < 1 || m_run.ipPort > 65535) {
        reportSide(SocketSide, false, tr("нет такого TCP-порта"), 0);
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
    peerSilent = false;
    socket->connectToHost(m_run.ipAddr, quint16(m_run.ipPort), QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
}

void PipeRelay::closeSocket()
{
    // First: the connection ends only with its last descriptor.
    dropSocketCopy();
    if (socket->state() == QAbstractSocket::UnconnectedState)
        return;
    closingSocket = true;
    if (socket->bytesToWrite() > 0 || SysIo::holdsUnsent(socket)) {
        // A peer that stopped reading would see a graceful close only after taking all that.
        counts->droppedToSocket += socket->bytesToWrite();
        SysIo::resetOnClose(socket);
    } else {
        socket->disconnectFromHost();
    }
    if (socket->state() != QAbstractSocket::UnconnectedState)
        socket->abort();
    closingSocket = false;
}

// Where dialling out and being dialled end: the same relay from here on.
void PipeRelay::socketUp()
{
    socketResetByPeer = false;
    socketWasUp = true;
    peerSilent = false;
    dropSocketCopy();
    socketCopy = SysIo::keepCopy(socket->socketDescriptor());
    // Relayed bytes are small interactive messages more often than bulk: send at once.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    SysIo::setKeepAlive(socket, KeepAliveIdleS, KeepAliveIntervalS, KeepAliveCount, UnackedTimeoutMs);
    peerWatch->watch(socket);
    ledger.reset(m_run.rfc2217);
    socketRetry->up();
    if (!socketRetry->flapping())
        reportSide(SocketSide, true, QString(), 0);
    updateState();
    // Last: the peer may be gone by the time the negotiation is written.
    if (m_run.rfc2217)
        sendToSocket(telnet->open(m_run.line), false);
}

void PipeRelay::dropSocketCopy()
{
    SysIo::dropCopy(socketCopy);
    socketCopy = -1;
}

void PipeRelay::listen()
{
    socketRetry->cancel();
    if (!m_started)
        return;
    listener->setAllowed(m_run.allow);
    bool worthRetry = false;
    const QString why = listener->listenOn(m_run.ipAddr, m_run.ipPort, &worthRetry);
    if (why.isEmpty())
        reportSide(SocketSide, false, tr("ожидание подключения"), 0);
    else
        reportSide(SocketSide, false, why, worthRetry ? socketRetry->later() : 0);
}

void PipeRelay::takePeer(qintptr descriptor)
{
    QByteArray carried;
    if (socket->state() != QAbstractSocket::UnconnectedState) {
        // A modem that redials after a silent drop must not be locked out by its own dead
        // connection: the newcomer wins, and gets the data its predecessor never took, which
        // the predecessor is reset so as not to get as well.
        const QString old = QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
        carried = ledger.dataOfLast(socket->bytesToWrite() + SysIo::unacknowledged(socket));
        dropSocketCopy();
        SysIo::resetOnClose(socket);
        closingSocket = true;
        socket->abort();
        closingSocket = false;
        notes->add(tr("удалённая сторона TCP %1 заменена новым подключением").arg(old));
    }
    // Held for the old peer, the serial side is read again only after what it held: the
    // negotiation's write below would otherwise wake it first.
    const bool held = serialHeld;
    serialHeld = false;
    socket->setReadBufferSize(Backlog);
    if (!socket->setSocketDescriptor(descriptor)) {
        SysIo::closeDescriptor(descriptor);
        counts->droppedToSocket += carried.size();
    } else {
        socketUp();
        if (!carried.isEmpty() && socket->state() == QAbstractSocket::ConnectedState)
            sendToSocket(carried, true);
    }
    if (held)
        onSerialRead();
}

void PipeRelay::onSocketState(int socketState)
{
    if (socketState == QAbstractSocket::UnconnectedState) {
        dropSocketCopy();
        connectTimeout->stop();
        peerWatch->stop();
        telnet->close();
        if (m_started && !closingSocket) {
            socketRetry->down();
            const QString reason = peerSilent ? RelayReports::silentReason(PeerWatch::SilentMs)
                                              : RelayReports::socketReason(socket, connectTimedOut, socketResetByPeer, socketWasUp);
            if (m_run.mode == PipeSettings::Server)
                reportSide(SocketSide, false, tr("%1; ожидание подключения").arg(reason), 0);
            else
                reportSide(SocketSide, false, reason, socketRetry->later());
        }
    }
    updateState();
    // Bytes held for a peer that is gone are dropped now rather than kept stale; not so for one
    // we close ourselves (a newcomer may take them).
    if (socketState == QAbstractSocket::UnconnectedState && serialHeld && !closingSocket)
        onSerialRead();
}

void PipeRelay::reportSide(Side side, bool up, const QString &reason, int retryMs)
{
    if (!m_started)
        return;
    switch (reports.judge(side, up, reason, retryMs, LastRetryMs)) {
    case RelayReports::Quiet:
        return;
    case RelayReports::Retry:
        emit sideRetrying(int(side), retryMs);
        return;
    case RelayReports::Tell:
        break;
    }
    QString what = side == SerialSide ? m_run.portNull : QStringLiteral("%1:%2").arg(m_run.ipAddr).arg(m_run.ipPort);
    if (side == SocketSide && m_run.mode == PipeSettings::Server)
        what += tr(" (сервер)");
    emit sideChanged(int(side), up, what, reason, retryMs);
}

void PipeRelay::updateState(bool forceSignal)
{
    int bits = NotConnect;
    if (serial->isOpen())
        bits |= SerialConnect;
    if (socket->state() == QAbstractSocket::ConnectedState)
        bits |= SocketConnect;
    if (m_state.exchange(bits) != bits || forceSignal)
        emit stateChanged(bits, m_started.load());
}

// The relay slots never wait: a wait inside a readyRead handler lets the other side's data
// pile up unseen and, under two-way traffic, stalls the relay for good. Writes are queued by
// the I/O objects and pushed out at once with a non-blocking flush(). Neither direction queues
// more than about Backlog: above that it stops reading until the other side has drained.

void PipeRelay::onSerialRead()
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
    // One signal for the whole read; the monitor cuts its lines itself.
    watch(SerialSide, data);
    if (toSocket) {
        counts->toSocket += data.size();
        sendToSocket(data, true);
    } else {
        // The peer is down: bytes meant for it are dropped, never sent stale on its return.
        counts->droppedToSocket += data.size();
    }
}

void PipeRelay::onSocketRead()
{
    if (!socket->isOpen())
        return;
    // The Telnet answers wait in the socket's own buffer: a peer that asks faster than it reads
    // is read no faster than it takes them.
    socketHeld = (serial->isOpen() && serial->bytesToWrite() >= Backlog)
                 || (telnet->isOpen() && socket->bytesToWrite() >= Backlog);
    if (socketHeld)
        return;
    QByteArray data = readBuffered(socket);
    if (telnet->isOpen() && !data.isEmpty()) {
        QByteArray reply;
        data = telnet->fromNetwork(data, &reply);
        if (!reply.isEmpty())
            sendToSocket(reply, false);
    }
    if (data.isEmpty())
        return;
    watch(SocketSide, data);
    if (serial->isOpen()) {
        serial->write(data);
        serial->flush();
        counts->toSerial += data.size();
    } else {
        counts->droppedToSerial += data.size();
    }
}

void PipeRelay::watch(Side side, const QByteArray &data)
{
    static const QMetaMethod told[] = {QMetaMethod::fromSignal(&PipeRelay::readSerialBuffer),
                                       QMetaMethod::fromSignal(&PipeRelay::readSocketBuffer),
                                       QMetaMethod::fromSignal(&PipeRelay::blockRead)};
    if (!isSignalConnected(told[side]) && !isSignalConnected(told[2]))
        return;
    if (!tap)
        tap = RelayTap::forRelay(this);
    tap->add(side, data);
}

void PipeRelay::sendToSocket(const QByteArray &bytes, bool isData)
{
    const QByteArray wire = isData && telnet->isOpen() ? TelnetFilter::toNetwork(bytes) : bytes;
    if (m_run.mode == PipeSettings::Server) {
        if (isData)
            ledger.addData(bytes);
        else
            ledger.addOther(wire.size());
    }
    socket->write(wire);
    socket->flush();
}
