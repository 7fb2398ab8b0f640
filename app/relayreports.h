// What a relay tells of its sides: each change once, a side that keeps failing for the same
// reason only once more when its tries reach their longest delay, and the reasons in words.
#ifndef RELAYREPORTS_H
#define RELAYREPORTS_H

#include <QCoreApplication>
#include <QString>

class QAbstractSocket;
class QSerialPort;

class RelayReports
{
    Q_DECLARE_TR_FUNCTIONS(RelayReports)

public:
    enum Verdict {
        // A change, or the same failure reaching its longest delay: a line for the log.
        Tell,
        // The same failure again: only its next try's time changes.
        Retry,
        // Nothing new.
        Quiet,
    };

    // Forgets what was told: a new start tells everything afresh.
    void reset();
    // Whether a side's state is news. cappedMs is the longest delay of a try.
    Verdict judge(int side, bool up, const QString &reason, int retryMs, int cappedMs);

    // Why a port did not open or went away.
    static QString serialReason(const QSerialPort *port);
    // Why a socket is down: its attempt ran out of time, or its error; wasUp tells a peer that
    // stopped answering from one that never answered.
    static QString socketReason(const QAbstractSocket *socket, bool timedOut, bool resetByPeer, bool wasUp);
    // Why a peer was given up that acknowledged nothing for silentMs while bytes waited for it.
    static QString silentReason(int silentMs);

private:
    struct Last
    {
        bool known = false;
        bool up = false;
        QString reason;
        bool cappedTold = false;
    };
    Last m_last[2];
};

#endif // RELAYREPORTS_H
