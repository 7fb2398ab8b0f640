#include "peerlistener.h"

#include "sysio.h"

namespace {

// An IPv4 peer of a listener on every address comes as an IPv6 address (::ffff:a.b.c.d): the
// list names it as IPv4.
QPair<QHostAddress, int> plain(const QHostAddress &address, int prefix)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (mapped && address.protocol() == QAbstractSocket::IPv6Protocol)
        return qMakePair(QHostAddress(v4), prefix < 0 ? 32 : qMax(0, prefix - 96));
    if (prefix < 0)
        prefix = address.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128;
    return qMakePair(address, prefix);
}

} // namespace

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
        return tr("нет такого TCP-порта");
    QHostAddress host(text);
    if (text.isEmpty() || text == QLatin1String("::"))
        host = QHostAddress::Any;
    if (host.isNull())
        return tr("ждать подключений нельзя: %1 — не адрес этого компьютера").arg(text);
    if (listen(host, quint16(port)))
        return QString();
    *worthRetry = true;
    return tr("ждать подключений нельзя: %1").arg(errorString());
}

void PeerListener::setAllowed(const QStringList &entries)
{
    m_allowed.clear();
    m_anyPeer = true;
    for (const QString &entry : entries) {
        const QString text = entry.trimmed();
        if (text.isEmpty())
            continue;
        m_anyPeer = false;
        const QPair<QHostAddress, int> net = text.contains(QLatin1Char('/')) ? QHostAddress::parseSubnet(text)
                                                                             : qMakePair(QHostAddress(text), -1);
        if (!net.first.isNull())
            m_allowed << plain(net.first, net.second);
    }
}

bool PeerListener::allows(const QHostAddress &peer) const
{
    if (m_anyPeer)
        return true;
    const QHostAddress address = plain(peer, -1).first;
    for (const QPair<QHostAddress, int> &net : m_allowed) {
        if (address.isInSubnet(net))
            return true;
    }
    return false;
}

void PeerListener::incomingConnection(qintptr descriptor)
{
    quint16 port = 0;
    const QHostAddress peer = SysIo::peerOf(descriptor, &port);
    if (!allows(peer)) {
        // Reset, so that a flood of them leaves no closing connections behind.
        SysIo::closeDescriptor(descriptor, true);
        emit peerRefused(tr("подключение %1:%2 отклонено: адреса нет в списке разрешённых").arg(peer.toString()).arg(port));
        return;
    }
    emit peerArrived(descriptor);
}
