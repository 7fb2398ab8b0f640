// What the service knows of each connection it runs, only from the reports of the runner: its
// state bits, each side's last word and next try, its counters; told as the channel's JSON.
#ifndef RELAYSTATUS_H
#define RELAYSTATUS_H

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QString>

class QPipeItem;
class RelayRunner;

class RelayStatus : public QObject
{
    Q_OBJECT

public:
    explicit RelayStatus(RelayRunner *runner, QObject *parent = nullptr);

    // The connection as the answer to "list" shows it.
    QJsonObject describe(QPipeItem *pipe) const;

private:
    struct Side
    {
        bool up = false;
        QString reason;
        // Of m_clock; -1 when no try is due by itself.
        qint64 nextTryAt = -1;
    };
    struct View
    {
        int state = 0;
        bool started = false;
        Side sides[2];
        qint64 counts[4] = {0, 0, 0, 0};
    };
    View &viewOf(const QPipeItem *pipe);

    RelayRunner *m_runner;
    QHash<const QPipeItem *, View> m_views;
    QElapsedTimer m_clock;
};

#endif // RELAYSTATUS_H
