// What a relay read, told to its watchers (the monitor) in the application's thread. Reads that
// follow one another within EveryMs go there together: a wake-up of that thread per read cost
// more than relaying the read.
#ifndef RELAYTAP_H
#define RELAYTAP_H

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <QVector>

#include <functional>

class PipeRelay;

class RelayTap : public QObject
{
public:
    static const int EveryMs = 10;

    struct Read
    {
        int side;
        QByteArray data;
        // When it was read, in ms since the epoch.
        qint64 atMs;
    };
    // Called in the application's thread with the reads in the order they came.
    using Deliver = std::function<void(const QVector<Read> &)>;

    // Lives in the relay's thread, as a child of the relay.
    RelayTap(Deliver deliver, QObject *parent);
    // One that tells the reads by the relay's signals (readSerialBuffer or readSocketBuffer, and
    // blockRead), as long as the relay lives.
    static RelayTap *forRelay(PipeRelay *relay);

    // A read after a quiet spell is told at once, those that follow it when EveryMs has passed.
    void add(int side, const QByteArray &data);

private:
    void tell();

    Deliver m_deliver;
    QVector<Read> m_pending;
    QTimer m_timer;
};

#endif // RELAYTAP_H
