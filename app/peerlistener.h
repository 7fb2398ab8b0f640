// Server mode: listens on a connection's address and port, and hands each peer that dials in
// to the relay.
#ifndef PEERLISTENER_H
#define PEERLISTENER_H

#include <QString>
#include <QTcpServer>

class PeerListener : public QTcpServer
{
    Q_OBJECT

public:
    explicit PeerListener(QObject *parent = nullptr);

    // Listens on address:port: "0.0.0.0" is every IPv4 address, "::" or nothing every address
    // there is. Returns an empty text when it listens, else why not; *worthRetry tells whether a
    // later try may do better (the port is taken now).
    QString listenOn(const QString &address, int port, bool *worthRetry);

signals:
    // A peer dialled in: the descriptor of its connected socket, now the receiver's to close.
    void peerArrived(qintptr descriptor);

protected:
    void incomingConnection(qintptr descriptor) override;
};

#endif // PEERLISTENER_H
