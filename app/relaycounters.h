// The bytes a relay carried and dropped each way: counted in the relay's thread, safe to read
// from any, and reported while they change.
#ifndef RELAYCOUNTERS_H
#define RELAYCOUNTERS_H

#include <QObject>
#include <QTimer>

#include <atomic>

class RelayCounters : public QObject
{
    Q_OBJECT

public:
    static const int EveryMs = 500;

    explicit RelayCounters(QObject *parent = nullptr);

    // Reports now, then every EveryMs while they change, until stop(), which reports once more.
    void start();
    void stop();

    std::atomic<qint64> toSocket{0};
    std::atomic<qint64> toSerial{0};
    std::atomic<qint64> droppedToSocket{0};
    std::atomic<qint64> droppedToSerial{0};

signals:
    void changed(qint64 toSocket, qint64 toSerial, qint64 droppedToSocket, qint64 droppedToSerial);

private:
    void report(bool always);

    QTimer m_timer;
    qint64 m_reportedSum = -1;
};

#endif // RELAYCOUNTERS_H
