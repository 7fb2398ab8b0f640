// Keeps a dialling socket from dialling without end. The library tests a connection that the
// system reports as done by connecting once more; when the peer accepted and reset it before
// that test, the test dials anew, and the next reset brings the next dial: thousands a second,
// unseen, until the attempt's time runs out. This looks at the connection each time the socket
// is reported ready while the library still dials, and tells when it is being dialled anew.
#ifndef DIALGUARD_H
#define DIALGUARD_H

#include <QObject>

class QSocketNotifier;
class QTcpSocket;

class DialGuard : public QObject
{
    Q_OBJECT

public:
    // Watches every dialling of socket from now on. Nothing where the system cannot be asked.
    DialGuard(QTcpSocket *socket, QObject *parent);
    ~DialGuard() override;

signals:
    // The peer answered and reset the connection before the library took it: the socket
    // dials again on its own unless aborted.
    void redialling();

private:
    // The descriptor the socket dials on now, or -1.
    qintptr dialling() const;
    void arm();
    void disarm();
    void onReady();

    QTcpSocket *m_socket;
    QSocketNotifier *m_notifier = nullptr;
    int m_copy = -1;
    // Seen answered, and how often seen closed, while the library still dials.
    bool m_answered = false;
    int m_closedLooks = 0;
};

#endif // DIALGUARD_H
