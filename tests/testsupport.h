// Real parts for the tests: socat pseudo-terminal pairs and TCP peers on 127.0.0.1.
#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QProcess>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

namespace TestSupport {

// The full path of a program on PATH, or empty.
QString findTool(const QString &name);

// A pseudo-terminal pair made by socat: two links in a temporary folder, "a" for the bridge's
// side and "b" for the user's side. Gone when the object is.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    bool start(QString *why = nullptr);
    void stop();
    QString nullEnd() const { return m_dir.path() + QStringLiteral("/a"); }
    QString workEnd() const { return m_dir.path() + QStringLiteral("/b"); }

private:
    QTemporaryDir m_dir;
    QProcess m_socat;
};

// A TCP peer on 127.0.0.1 that keeps every connection, records what each sent and, when asked,
// echoes it back.
class TcpPeer : public QObject
{
    Q_OBJECT
public:
    explicit TcpPeer(bool echo = false, QObject *parent = nullptr);
    bool listen();
    quint16 port() const { return m_server.serverPort(); }
    QTcpSocket *client(int i = 0) const { return m_clients.value(i); }
    int clientCount() const { return m_clients.size(); }
    QByteArray received;
    qint64 receivedBytes = 0;
    bool keepReceived = true;

signals:
    void dataArrived();

private:
    QTcpServer m_server;
    QList<QPointer<QTcpSocket>> m_clients;
    bool m_echo;
};

// A pseudo-random byte stream: the same seed gives the same bytes, so a receiver holding a
// stream of its own can check what arrives, in order, without keeping what was sent.
class Stream
{
public:
    explicit Stream(quint32 seed)
        : m_x(seed * 2654435761u | 1u)
    {
    }
    QByteArray next(int size)
    {
        QByteArray data(size, Qt::Uninitialized);
        for (int i = 0; i < size; ++i) {
            m_x ^= m_x << 13;
            m_x ^= m_x >> 17;
            m_x ^= m_x << 5;
            data[i] = char(m_x >> 24);
        }
        return data;
    }

private:
    quint32 m_x;
};

// A free TCP port on 127.0.0.1 with nothing listening on it.
quint16 closedPort();

} // namespace TestSupport

// Fails the calling test with a clear message when socat is missing or the pair does not come up.
#define REQUIRE_PTY_PAIR(pair)                                                                     \
    do {                                                                                           \
        QString why_;                                                                              \
        if (!(pair).start(&why_))                                                                  \
            QFAIL(qPrintable(why_));                                                               \
    } while (0)

#endif // TESTSUPPORT_H
