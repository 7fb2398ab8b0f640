#include "relaytap.h"

#include "piperelay.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QPointer>

RelayTap::RelayTap(Deliver deliver, QObject *parent)
    : QObject(parent)
    , m_deliver(std::move(deliver))
    , m_timer(this)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &RelayTap::tell);
}

RelayTap *RelayTap::forRelay(PipeRelay *relay)
{
    // The relay is destroyed in the application's thread, where the reads are told: the pointer
    // cannot go stale while they are.
    const QPointer<PipeRelay> self(relay);
    return new RelayTap([self](const QVector<Read> &reads) {
        for (const Read &read : reads) {
            if (!self)
                return;
            if (read.side == PipeRelay::SerialSide)
                emit self->readSerialBuffer(read.data);
            else
                emit self->readSocketBuffer(read.data);
            emit self->blockRead(read.side, read.data, read.atMs);
        }
    }, relay);
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
