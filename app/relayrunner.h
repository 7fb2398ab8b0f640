// Runs connections, each in a worker thread of its own: starts them there, stops them, ends the
// threads, and passes on what the connections report, naming the connection.
#ifndef RELAYRUNNER_H
#define RELAYRUNNER_H

#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>

class QPipeItem;
class QThread;

class RelayRunner : public QObject
{
    Q_OBJECT

public:
    // How long the end of the runner waits for each worker thread.
    static const int ThreadWaitMs = 3000;

    explicit RelayRunner(QObject *parent = nullptr);
    // Stops every connection still running and ends the threads.
    ~RelayRunner() override;

    // Moves the connection to a worker thread of its own (one per id, made at its first start
    // and used again by later starts of that id) and starts it there. Returns at once: what comes
    // of it is told by the signals below. The connection must live in the runner's thread.
    void start(QPipeItem *pipe);
    // Closes both sides of a running connection, brings it back into the runner's thread and
    // ends its worker thread. The connection may be edited or destroyed afterwards.
    void stop(QPipeItem *pipe);
    // Started here and not stopped since.
    bool isRunning(QPipeItem *pipe) const { return m_running.contains(pipe); }
    QList<QPipeItem *> running() const { return m_running.values(); }
    // The worker thread of an id, or null before its first start.
    QThread *threadOf(int id) const { return m_threads.value(id, nullptr); }

signals:
    // The connection's signals, in the runner's thread, with the connection they are about.
    void stateChanged(QPipeItem *pipe, int state, bool started);
    void sideChanged(QPipeItem *pipe, int side, bool up, const QString &what, const QString &reason, int retryMs);
    void sideRetrying(QPipeItem *pipe, int side, int retryMs);
    void note(QPipeItem *pipe, const QString &text);
    void countersChanged(QPipeItem *pipe, qint64 toSocket, qint64 toSerial, qint64 droppedToSocket,
                         qint64 droppedToSerial);

private:
    void forward(QPipeItem *pipe);

    QMap<int, QThread *> m_threads;
    QSet<QPipeItem *> m_forwarded;
    QSet<QPipeItem *> m_running;
};

#endif // RELAYRUNNER_H
