// The connections of one folder's pipes.json, run without a window: loaded, started, stopped,
// loaded again, and the channel's requests about them answered.
#ifndef SERVICEHOST_H
#define SERVICEHOST_H

#include <QCoreApplication>
#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QString>

class PipeLog;
class QPipeItem;
class RelayRunner;
class RelayStatus;

class ServiceHost : public QObject
{
    Q_OBJECT

public:
    // folder: canonical; its pipes.json is read, never written.
    explicit ServiceHost(const QString &folder, QObject *parent = nullptr);
    // Stops every connection and ends their threads.
    ~ServiceHost() override;

    // Loads pipes.json and starts every connection in it.
    void startAll();
    // Stops every connection; they close both sides at once.
    void stopAll();

    // The answer to a request of the channel: "list", "start", "stop", "reload".
    QJsonObject answer(const QJsonObject &request);

signals:
    // A line for the log: the connections' own lines and what the service did.
    void line(const QString &text);

private:
    QString fileName() const;
    // The records of the file, now ours; false (and none) when it could not be read.
    bool load(QMap<int, QPipeItem *> *records);
    void start(QPipeItem *pipe);
    // Stops the record and destroys it.
    void drop(QPipeItem *pipe);
    QJsonObject list();
    QJsonObject startOrStop(const QJsonObject &request, bool start);
    QJsonObject reload();

    QString m_folder;
    RelayRunner *m_runner;
    PipeLog *m_log;
    RelayStatus *m_status;
    QMap<int, QPipeItem *> m_pipes;
};

#endif // SERVICEHOST_H
