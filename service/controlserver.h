// The service's channel: a local socket named after the folder, on which each line a client
// sends (a JSON object) is answered by one line. Who may connect is the system's permission on
// the socket: its owner and group; on Windows the administrators and the service's own account
// (PipeAccess). What a client can make the service hold is bounded: its
// line, the answers it does not read, the time it takes to finish a line, and the clients at
// once.
#ifndef CONTROLSERVER_H
#define CONTROLSERVER_H

#include <QCoreApplication>
#include <QJsonObject>
#include <QLocalServer>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLockFile;
class QLocalSocket;

class ControlServer : public QObject
{
    Q_OBJECT

public:
    // More at once are sent away with an error.
    static const int MaxClients = 8;
    // A client that has not finished a line this long after it came or after its last answer
    // is closed.
    static const int LineTimeoutMs = 5000;
    // While a client leaves more of our answers than this unread, its next lines wait.
    static const int MaxUnread = 64 * 1024;

    using Handler = std::function<QJsonObject(const QJsonObject &request)>;

    explicit ControlServer(Handler handler, QObject *parent = nullptr);
    ~ControlServer() override;

    // Listens on the folder's channel. False, with why, when a service of that folder answers
    // there already or the socket cannot be made; the socket file of a service that is gone
    // is taken over.
    bool listen(const QString &canonicalFolder, QString *why);
    QString place() const { return m_server.fullServerName(); }

private:
    void onNewConnection();
    void serve(QLocalSocket *client);
    QJsonObject answerLine(const QByteArray &line);
    // Answers, and closes the client once the answer is out.
    void refuse(QLocalSocket *client, const QString &why);

    QLocalServer m_server;
    std::unique_ptr<QLockFile> m_lock;
    Handler m_handler;
    int m_clients = 0;
};

#endif // CONTROLSERVER_H
