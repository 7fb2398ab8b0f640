#include "peerwatch.h"

#include <QTcpSocket>

PeerWatch::PeerWatch(QObject *parent)
    : QObject(parent)
    , m_timer(this)
{
    m_timer.setInterval(EveryMs);
    connect(&m_timer, &QTimer::timeout, this, &PeerWatch::check);
}

void PeerWatch::watch(QTcpSocket *socket)
{
    stop();
    SysIo::Acks acks;
    if (!SysIo::acks(socket, &acks))
        return;
    m_socket = socket;
    m_clock.start();
    m_timer.start();
}

void PeerWatch::stop()
{
    m_timer.stop();
    m_socket = nullptr;
    m_waitingSince = -1;
    m_probeSince = -1;
}

bool PeerWatch::judge(qint64 nowMs, bool waiting, const SysIo::Acks &acks)
{
    if (!waiting) {
        // An idle link is keep-alive's.
        m_waitingSince = -1;
        m_probeSince = -1;
        return false;
    }
    if (m_waitingSince < 0)
        m_waitingSince = nowMs;
    if (acks.probesUnanswered == 0)
        m_probeSince = -1;
    else if (m_probeSince < 0)
        m_probeSince = nowMs;
    // Silent for that long while bytes waited: an ack from before they came does not count.
    if (qMin(acks.sinceAckMs, nowMs - m_waitingSince) < SilentMs)
        return false;
    // With the window open, what is in flight goes unanswered; with it closed, the probes do. A
    // closed window whose last probe was answered is a slow peer: its probes come ever further
    // apart (up to two minutes), and so do its answers.
    return acks.inFlight > 0 || (m_probeSince >= 0 && nowMs - m_probeSince >= ProbeLostMs);
}

void PeerWatch::check()
{
    if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState) {
        stop();
        return;
    }
    const bool waiting = m_socket->bytesToWrite() > 0 || SysIo::unacknowledged(m_socket) > 0;
    SysIo::Acks acks;
    if (waiting && !SysIo::acks(m_socket, &acks))
        return;
    if (judge(m_clock.elapsed(), waiting, acks)) {
        stop();
        emit silent();
    }
}
