// When a side of a relay is tried again: after a failure or a drop the delay doubles from the
// first up to the last. A side that stays up for a while is a success, which brings the delay
// back to the first; one that drops sooner (a peer that accepts and resets at once) is not.
#ifndef RETRYPLAN_H
#define RETRYPLAN_H

#include <QObject>
#include <QTimer>

class RetryPlan : public QObject
{
    Q_OBJECT

public:
    // stableMs 0: coming up is a success at once.
    RetryPlan(int firstMs, int lastMs, int stableMs, QObject *parent);

    // A new start: the delays begin afresh.
    void reset();
    // Starts the timer for the next try, unless it runs already; returns its delay.
    int later();
    // No try is due (the side is being opened, or the relay stops).
    void cancel();
    void up();
    void down();
    // The side came up last time and did not last: a coming up is news only once it lasts.
    bool flapping() const { return m_flapping; }

signals:
    // Time for the next try.
    void due();
    // Up for stableMs; flapped: it had not lasted the time before.
    void lasted(bool flapped);

private:
    QTimer m_retry;
    QTimer m_stable;
    int m_firstMs;
    int m_lastMs;
    int m_delayMs;
    bool m_flapping = false;
};

#endif // RETRYPLAN_H
