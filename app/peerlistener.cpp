#include "peerlistener.h"

#include <QHostAddress>

PeerListener::PeerListener(QObject *parent)
    : QTcpServer(parent)
{
}

QString PeerListener::listenOn(const QString &address, int port, bool *worthRetry)
{
    *worthRetry = false;
    if (isListening())
        return QString();
    const QString text = address.trimmed();
    if (port < 1 || port > 65535)
        return tr("no such TCP port");
    QHostAddress host(text);
    if (text.isEmpty() || text == QLatin1String("::"))
        host = QHostAddress::Any;
    if (host.isNull())
        return tr("cannot listen: %1 is not an address of this computer").arg(text);
    if (listen(host, quint16(port)))
        return QString();
    *worthRetry = true;
    return tr("cannot listen: %1").arg(errorString());
}

void PeerListener::incomingConnection(qintptr descriptor)
{
    emit peerArrived(descriptor);
}
