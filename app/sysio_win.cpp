// Before any Qt header: they pull in windows.h, which must not bring the old winsock.h first.
#include <winsock2.h>
#include <mstcpip.h>
#include <ws2tcpip.h>

#include "sysio.h"

#include <QTcpSocket>

// Windows 10 1703 and later take the probe count; MinGW's headers do not name it yet. Older
// systems refuse it and keep their own count of ten.
#ifndef TCP_KEEPCNT
#define TCP_KEEPCNT 16
#endif
// Seconds of retransmission before a connection is given up; MinGW's headers do not name it.
#ifndef TCP_MAXRT
#define TCP_MAXRT 5
#endif

void SysIo::preferPlainDispatcher()
{
    // Windows has one event dispatcher.
}

bool SysIo::deviceGone(QSerialPort *port)
{
    // Windows reports a resource error only for a device that was removed; the status query
    // fails on one whose driver reported nothing.
    COMSTAT status;
    return port->error() == QSerialPort::ResourceError
           || !::ClearCommError(HANDLE(port->handle()), nullptr, &status);
}

QSerialPort::StopBits SysIo::oneAndHalfStop()
{
    return QSerialPort::OneAndHalfStop;
}

void SysIo::setKeepAlive(QTcpSocket *socket, int idleS, int intervalS, int count, int unackedMs)
{
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    const SOCKET fd = SOCKET(socket->socketDescriptor());
    if (fd == INVALID_SOCKET)
        return;
    tcp_keepalive values{1, ULONG(idleS * 1000), ULONG(intervalS * 1000)};
    DWORD returned = 0;
    WSAIoctl(fd, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr, nullptr);
    const DWORD probes = DWORD(count);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, reinterpret_cast<const char *>(&probes), sizeof probes);
    // Keep-alive only probes an idle link; bytes in flight to a peer that vanished are
    // otherwise retried for minutes. A closed window is another matter: RFC 1122 has it probed
    // for as long as the peer answers, and this limit is meant for unanswered retransmissions;
    // that Windows keeps to that here has not been tried on a Windows machine.
    const DWORD maxRt = DWORD(unackedMs / 1000);
    setsockopt(fd, IPPROTO_TCP, TCP_MAXRT, reinterpret_cast<const char *>(&maxRt), sizeof maxRt);
}

void SysIo::resetOnClose(QTcpSocket *socket)
{
    const SOCKET fd = SOCKET(socket->socketDescriptor());
    if (fd == INVALID_SOCKET)
        return;
    linger now{};
    now.l_onoff = 1;
    now.l_linger = 0;
    setsockopt(fd, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&now), sizeof now);
}

bool SysIo::holdsUnsent(QTcpSocket *)
{
    // Not asked of the system here: a close waits behind bytes the library still holds only.
    return false;
}

qint64 SysIo::unacknowledged(QTcpSocket *)
{
    return 0;
}

bool SysIo::acks(QTcpSocket *, Acks *)
{
    // TCP_MAXRT gives up a silent peer here (setKeepAlive).
    return false;
}

QHostAddress SysIo::peerOf(qintptr descriptor, quint16 *port)
{
    sockaddr_storage address{};
    int size = sizeof address;
    if (::getpeername(SOCKET(descriptor), reinterpret_cast<sockaddr *>(&address), &size) != 0)
        return QHostAddress();
    const QHostAddress peer(reinterpret_cast<const sockaddr *>(&address));
    *port = ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6 *>(&address)->sin6_port
                                                : reinterpret_cast<const sockaddr_in *>(&address)->sin_port);
    return peer;
}

int SysIo::keepCopy(qintptr)
{
    // A closed copy cannot be asked here how its connection ended: a reset reads as a close.
    return -1;
}

void SysIo::dropCopy(int)
{
}

bool SysIo::peerReset(int)
{
    return false;
}

SysIo::Dial SysIo::dialState(int, bool *)
{
    return Dialling;
}

bool SysIo::sameSocket(int, qintptr)
{
    return true;
}

void SysIo::closeDescriptor(qintptr descriptor, bool reset)
{
    if (reset) {
        linger now{};
        now.l_onoff = 1;
        now.l_linger = 0;
        setsockopt(SOCKET(descriptor), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&now), sizeof now);
    }
    ::closesocket(SOCKET(descriptor));
}
