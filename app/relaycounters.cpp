#include "relaycounters.h"

RelayCounters::RelayCounters(QObject *parent)
    : QObject(parent)
    , m_timer(this)
{
    m_timer.setInterval(EveryMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { report(false); });
}

void RelayCounters::start()
{
    m_timer.start();
    report(true);
}

void RelayCounters::stop()
{
    if (!m_timer.isActive())
        return;
    m_timer.stop();
    report(true);
}

void RelayCounters::report(bool always)
{
    const qint64 up = toSocket.load();
    const qint64 down = toSerial.load();
    const qint64 lostUp = droppedToSocket.load();
    const qint64 lostDown = droppedToSerial.load();
    const qint64 sum = up + down + lostUp + lostDown;
    if (sum == m_reportedSum && !always)
        return;
    m_reportedSum = sum;
    emit changed(up, down, lostUp, lostDown);
}
