// Server mode: listens on a connection's address and port, and hands each peer that dials in
// to the relay, when the connection's list of allowed addresses lets it in.
#ifndef PEERLISTENER_H
#define PEERLISTENER_H

#include <QHostAddress>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QVector>

class PeerListener : public QTcpServer
{
    Q_OBJECT

public:
    explicit PeerListener(QObject *parent = nullptr);

    // Listens on address:port: "0.0.0.0" is every IPv4 address, "::" or nothing every address
    // there is. Returns an empty text when it listens, else why not; *worthRetry tells whether a
    // later try may do better (the port is taken now).
    QString listenOn(const QString &address, int port, bool *worthRetry);

    // Who may connect: addresses ("192.0.2.7") and networks ("198.51.100.0/24",
    // "2001:db8::/32"). No entry lets any peer in; an entry that is not one of those lets no one.
    void setAllowed(const QStringList &entries);
    bool allows(const QHostAddress &peer) const;

signals:
    // A peer dialled in: the descriptor of its connected socket, now the receiver's to close.
    void peerArrived(qintptr descriptor);
    // A peer outside the list dialled in, and was reset at once: the line for the log.
    void peerRefused(const QString &note);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    bool m_anyPeer = true;
    QVector<QPair<QHostAddress, int>> m_allowed;
};

#endif // PEERLISTENER_H
