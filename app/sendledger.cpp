#include "sendledger.h"

void SendLedger::reset(bool escaped)
{
    m_escaped = escaped;
    m_data.clear();
    m_front = 0;
    m_base = 0;
    m_halfFront = false;
    m_others.clear();
    m_wire = 0;
}

void SendLedger::addData(const QByteArray &data)
{
    m_data.append(data);
    m_wire += data.size() + (m_escaped ? data.count('\xff') : 0);
}

void SendLedger::addOther(qint64 bytes)
{
    const qint64 end = m_base + m_data.size() - m_front;
    if (!m_others.empty() && m_others.back().at == end)
        m_others.back().bytes += bytes;
    else
        m_others.push_back({end, bytes});
    m_wire += bytes;
}

void SendLedger::keepLast(qint64 bytes)
{
    qint64 excess = m_wire - bytes;
    while (excess > 0) {
        if (!m_others.empty() && m_others.front().at == m_base) {
            Other &other = m_others.front();
            const qint64 gone = qMin(excess, other.bytes);
            other.bytes -= gone;
            m_wire -= gone;
            excess -= gone;
            if (other.bytes == 0)
                m_others.pop_front();
            continue;
        }
        const qint64 run = (m_others.empty() ? m_base + m_data.size() - m_front : m_others.front().at) - m_base;
        if (run <= 0)
            break;
        if (!m_escaped) {
            // Called at every write the system takes: a plain run goes at once.
            const int gone = int(qMin(excess, run));
            m_front += gone;
            m_base += gone;
            m_wire -= gone;
            excess -= gone;
            continue;
        }
        const int wire = m_halfFront ? 1 : wireOf(m_data.at(m_front));
        if (wire > excess) {
            m_halfFront = true;
            m_wire -= excess;
            break;
        }
        m_halfFront = false;
        ++m_front;
        ++m_base;
        m_wire -= wire;
        excess -= wire;
    }
    // The forgotten front goes once it is the larger part, so that trimming stays cheap.
    if (m_front > 4096 && m_front > m_data.size() / 2) {
        m_data.remove(0, m_front);
        m_front = 0;
    }
}

QByteArray SendLedger::dataOfLast(qint64 bytes) const
{
    qint64 index = m_base + m_data.size() - m_front;
    qint64 counted = 0;
    auto other = m_others.rbegin();
    while (counted < bytes) {
        if (other != m_others.rend() && other->at == index) {
            counted += other->bytes;
            ++other;
            continue;
        }
        if (index == m_base)
            break;
        --index;
        // The first byte kept may be half gone: it is the last one taken whatever it counts.
        counted += wireOf(m_data.at(int(m_front + index - m_base)));
    }
    return m_data.mid(int(m_front + index - m_base));
}
