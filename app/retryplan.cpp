#include "retryplan.h"

RetryPlan::RetryPlan(int firstMs, int lastMs, int stableMs, QObject *parent)
    : QObject(parent)
    , m_retry(this)
    , m_stable(this)
    , m_firstMs(firstMs)
    , m_lastMs(lastMs)
    , m_delayMs(firstMs)
{
    m_retry.setSingleShot(true);
    m_stable.setSingleShot(true);
    m_stable.setInterval(stableMs);
    connect(&m_retry, &QTimer::timeout, this, &RetryPlan::due);
    connect(&m_stable, &QTimer::timeout, this, [this] {
        const bool flapped = m_flapping;
        m_delayMs = m_firstMs;
        m_flapping = false;
        emit lasted(flapped);
    });
}

void RetryPlan::reset()
{
    m_retry.stop();
    m_stable.stop();
    m_delayMs = m_firstMs;
    m_flapping = false;
}

int RetryPlan::later()
{
    if (!m_retry.isActive()) {
        m_retry.start(m_delayMs);
        m_delayMs = qMin(m_delayMs * 2, m_lastMs);
    }
    return m_retry.interval();
}

void RetryPlan::cancel()
{
    m_retry.stop();
}

void RetryPlan::up()
{
    if (m_stable.interval() > 0)
        m_stable.start();
    else
        m_delayMs = m_firstMs;
}

void RetryPlan::down()
{
    if (m_stable.isActive()) {
        m_stable.stop();
        m_flapping = true;
    }
}
