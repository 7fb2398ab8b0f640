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
    // otherwise retried for minutes.
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

void SysIo::closeDescriptor(qintptr descriptor)
{
    ::closesocket(SOCKET(descriptor));
}
