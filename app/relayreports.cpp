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
        return tr("не найден");
    case QSerialPort::PermissionError:
        return tr("занят или нет доступа");
    case QSerialPort::OpenError:
        return tr("занят");
    case QSerialPort::ResourceError:
        return tr("пропал");
    case QSerialPort::UnsupportedOperationError:
        return tr("не принимает эти параметры линии");
    default:
        return port->errorString();
    }
}

QString RelayReports::socketReason(const QAbstractSocket *socket, bool timedOut, bool resetByPeer, bool wasUp)
{
    if (timedOut)
        return tr("нет ответа (время ожидания истекло)");
    // Also a peer that answered a dial and reset it before the library took the connection.
    if (resetByPeer)
        return tr("сброшено удалённой стороной");
    switch (socket->error()) {
    case QAbstractSocket::ConnectionRefusedError:
        return tr("в подключении отказано");
    case QAbstractSocket::RemoteHostClosedError:
        return tr("закрыто удалённой стороной");
    case QAbstractSocket::HostNotFoundError:
        return tr("узел не найден");
    case QAbstractSocket::SocketTimeoutError:
    case QAbstractSocket::NetworkError:
        // On a connection that was up: keep-alive, or data left unacknowledged, found the peer
        // gone; before that, nothing answered.
        if (wasUp)
            return tr("удалённая сторона перестала отвечать (%1)").arg(socket->errorString());
        return socket->error() == QAbstractSocket::SocketTimeoutError ? tr("нет ответа (время ожидания истекло)")
                                                                      : socket->errorString();
    default:
        return socket->errorString();
    }
}

QString RelayReports::silentReason(int silentMs)
{
    return tr("удалённая сторона перестала отвечать (%1)").arg(tr("%1 с не подтверждал ничего из отправленного").arg(silentMs / 1000));
}
