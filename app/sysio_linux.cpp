#include "sysio.h"

#include <QTcpSocket>

#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

void SysIo::preferPlainDispatcher()
{
    // Read by each QThread as it starts, for every thread but the main one.
    if (!qEnvironmentVariableIsSet("QT_NO_THREADED_GLIB"))
        qputenv("QT_NO_THREADED_GLIB", "1");
}

bool SysIo::deviceGone(QSerialPort *port)
{
    // The library reports a full output queue (EAGAIN) as a resource error too, so the error
    // alone does not tell; a hung-up terminal does.
    pollfd pfd{int(port->handle()), 0, 0};
    return ::poll(&pfd, 1, 0) == 1 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL));
}

QSerialPort::StopBits SysIo::oneAndHalfStop()
{
    return QSerialPort::TwoStop;
}

void SysIo::setKeepAlive(QTcpSocket *socket, int idleS, int intervalS, int count, int unackedMs)
{
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    const int fd = int(socket->socketDescriptor());
    if (fd == -1)
        return;
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idleS, sizeof idleS);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &intervalS, sizeof intervalS);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    // Not TCP_USER_TIMEOUT: it also ends a connection whose peer answers every probe of its
    // closed window, a device that is alive and only slow. acks() tells the two apart instead.
    Q_UNUSED(unackedMs)
}

void SysIo::resetOnClose(QTcpSocket *socket)
{
    const int fd = int(socket->socketDescriptor());
    if (fd == -1)
        return;
    linger now{};
    now.l_onoff = 1;
    now.l_linger = 0;
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
}

bool SysIo::holdsUnsent(QTcpSocket *socket)
{
    int queued = 0;
    return ::ioctl(int(socket->socketDescriptor()), SIOCOUTQNSD, &queued) == 0 && queued > 0;
}

qint64 SysIo::unacknowledged(QTcpSocket *socket)
{
    int queued = 0;
    return ::ioctl(int(socket->socketDescriptor()), SIOCOUTQ, &queued) == 0 ? queued : 0;
}

bool SysIo::acks(QTcpSocket *socket, Acks *acks)
{
    tcp_info info{};
    socklen_t size = sizeof info;
    if (::getsockopt(int(socket->socketDescriptor()), IPPROTO_TCP, TCP_INFO, &info, &size) != 0)
        return false;
    acks->sinceAckMs = info.tcpi_last_ack_recv;
    acks->inFlight = int(info.tcpi_unacked);
    acks->probesUnanswered = info.tcpi_probes;
    return true;
}

QHostAddress SysIo::peerOf(qintptr descriptor, quint16 *port)
{
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    if (::getpeername(int(descriptor), reinterpret_cast<sockaddr *>(&address), &size) != 0)
        return QHostAddress();
    const QHostAddress peer(reinterpret_cast<const sockaddr *>(&address));
    *port = ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6 *>(&address)->sin6_port
                                                : reinterpret_cast<const sockaddr_in *>(&address)->sin_port);
    return peer;
}

int SysIo::keepCopy(qintptr descriptor)
{
    return descriptor == -1 ? -1 : ::fcntl(int(descriptor), F_DUPFD_CLOEXEC, 0);
}

void SysIo::dropCopy(int copy)
{
    if (copy != -1)
        ::close(copy);
}

bool SysIo::peerReset(int copy)
{
    // The library reports a reset and a close alike, as the remote host closing.
    tcp_info info{};
    socklen_t size = sizeof info;
    return copy != -1 && ::getsockopt(copy, IPPROTO_TCP, TCP_INFO, &info, &size) == 0
           && info.tcpi_state == TCP_CLOSE;
}

SysIo::Dial SysIo::dialState(int copy, bool *answered)
{
    tcp_info info{};
    socklen_t size = sizeof info;
    if (::getsockopt(copy, IPPROTO_TCP, TCP_INFO, &info, &size) != 0 || info.tcpi_state == TCP_SYN_SENT)
        return Dialling;
    if (info.tcpi_state != TCP_CLOSE)
        return Answered;
    // An answer brings a round-trip time and the options agreed, until the library's test of the
    // connection clears them.
    *answered = info.tcpi_rtt > 0 || info.tcpi_options != 0;
    return Closed;
}

bool SysIo::sameSocket(int copy, qintptr descriptor)
{
    struct stat a {};
    struct stat b {};
    return ::fstat(copy, &a) == 0 && ::fstat(int(descriptor), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void SysIo::closeDescriptor(qintptr descriptor, bool reset)
{
    if (reset) {
        const linger now{1, 0};
        setsockopt(int(descriptor), SOL_SOCKET, SO_LINGER, &now, sizeof now);
    }
    ::close(int(descriptor));
}
