#include "relaytap.h"

#include <QCoreApplication>
#include <QDateTime>

RelayTap::RelayTap(Deliver deliver, QObject *parent)
    : QObject(parent)
    , m_deliver(std::move(deliver))
    , m_timer(this)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &RelayTap::tell);
}

void RelayTap::add(int side, const QByteArray &data)
{
    m_pending.append(Read{side, data, QDateTime::currentMSecsSinceEpoch()});
    if (!m_timer.isActive())
        tell();
}

void RelayTap::tell()
{
    if (m_pending.isEmpty())
        return;
    QVector<Read> reads;
    reads.swap(m_pending);
    // One queued call for them all.
    QMetaObject::invokeMethod(QCoreApplication::instance(), [deliver = m_deliver, reads] { deliver(reads); },
                              Qt::QueuedConnection);
    m_timer.start(EveryMs);
}
