// Tells a peer that is gone from one that is only slow. While bytes wait for it, a peer that still
// acknowledges (if only the probes of its closed window: a printer out of paper, a device holding
// CTS) is alive however long it reads nothing; one that acknowledges nothing for SilentMs is gone.
#ifndef PEERWATCH_H
#define PEERWATCH_H

#include "sysio.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QTcpSocket;

class PeerWatch : public QObject
{
    Q_OBJECT

public:
    static const int EveryMs = 1000;
    static const int SilentMs = 30000;
    // A probe of a closed window unanswered this long is lost, not on its way: an answer takes a
    // round trip.
    static const int ProbeLostMs = 5000;

    explicit PeerWatch(QObject *parent = nullptr);

    // Watches a connected socket until stop(); nothing where the system does not tell how the
    // peer acknowledges (SysIo::acks).
    void watch(QTcpSocket *socket);
    void stop();

    // The decision, on what the system told at nowMs (a clock of the caller's); waiting: bytes
    // wait for the peer. True once the peer is gone.
    bool judge(qint64 nowMs, bool waiting, const SysIo::Acks &acks);

signals:
    void silent();

private:
    void check();

    QTimer m_timer;
    QElapsedTimer m_clock;
    QPointer<QTcpSocket> m_socket;
    qint64 m_waitingSince = -1;
    qint64 m_probeSince = -1;
};

#endif // PEERWATCH_H
