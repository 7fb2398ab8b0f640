// One request to the service of a folder over its channel, and its answer; the words both the
// service's own client and the window use for a connection the service runs.
#ifndef SERVICECLIENT_H
#define SERVICECLIENT_H

#include <QByteArray>
#include <QCoreApplication>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

class QLocalSocket;

class ServiceClient : public QObject
{
    Q_OBJECT

public:
    explicit ServiceClient(QObject *parent = nullptr);

    // Sends the request and returns at once; exactly one of answered() and failed() follows,
    // within timeoutMs. Call once per object.
    void ask(const QString &canonicalFolder, const QJsonObject &request, int timeoutMs);

    // How a connection of a "list" answer is: stopped, relaying, or waiting, with why.
    static QString stateText(const QJsonObject &connection);

signals:
    // The service's answer: an object, with "error" when it refused the request.
    void answered(const QJsonObject &answer);
    void failed(const QString &why);

private:
    void tryNext();
    void onRead();
    void finish(const QJsonObject &answer, const QString &why);

    QLocalSocket *m_socket = nullptr;
    QTimer m_timer;
    QStringList m_places;
    QString m_folder;
    QByteArray m_request;
    QByteArray m_answer;
    int m_attempt = 0;
    bool m_connected = false;
    bool m_done = false;
};

#endif // SERVICECLIENT_H
