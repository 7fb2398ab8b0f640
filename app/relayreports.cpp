#include "relayreports.h"

#include <QAbstractSocket>
#include <QSerialPort>

void RelayReports::reset()
{
    m_last[0] = Last();
    m_last[1] = Last();
}

RelayReports::Verdict RelayReports::judge(int side, bool up, const QString &reason, int retryMs, int cappedMs)
{
    Last &last = m_last[side];
    const bool capped = !up && retryMs >= cappedMs;
    if (last.known && last.up == up && last.reason == reason) {
        // An hour of a device switched off adds a handful of lines, not one per try.
        if (!capped || last.cappedTold)
            return retryMs > 0 ? Retry : Quiet;
        last.cappedTold = true;
        return Tell;
    }
    last.known = true;
    last.up = up;
    last.reason = reason;
    last.cappedTold = capped;
    return Tell;
}

QString RelayReports::serialReason(const QSerialPort *port)
{
    switch (port->error()) {
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
        return port->errorString();
    }
}

QString RelayReports::socketReason(const QAbstractSocket *socket, bool timedOut, bool resetByPeer, bool wasUp)
{
    if (timedOut)
        return tr("no answer (timed out)");
    // Also a peer that answered a dial and reset it before the library took the connection.
    if (resetByPeer)
        return tr("reset by the peer");
    switch (socket->error()) {
    case QAbstractSocket::ConnectionRefusedError:
        return tr("refused");
    case QAbstractSocket::RemoteHostClosedError:
        return tr("closed by the peer");
    case QAbstractSocket::HostNotFoundError:
        return tr("host not found");
    case QAbstractSocket::SocketTimeoutError:
    case QAbstractSocket::NetworkError:
        // On a connection that was up: keep-alive, or data left unacknowledged, found the peer
        // gone; before that, nothing answered.
        if (wasUp)
            return tr("the peer stopped answering (%1)").arg(socket->errorString());
        return socket->error() == QAbstractSocket::SocketTimeoutError ? tr("no answer (timed out)")
                                                                      : socket->errorString();
    default:
        return socket->errorString();
    }
}

QString RelayReports::silentReason(int silentMs)
{
    return tr("the peer stopped answering (%1)").arg(tr("%1 с не подтверждал ничего из отправленного").arg(silentMs / 1000));
}
