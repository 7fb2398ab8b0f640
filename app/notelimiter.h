// Keeps a flood of the same log note down to a line every few seconds: the first is told at once,
// the repeats within QuietMs are counted, and one line then says how many were left out.
#ifndef NOTELIMITER_H
#define NOTELIMITER_H

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

class NoteLimiter : public QObject
{
    Q_OBJECT

public:
    static const int QuietMs = 5000;
    // Kinds of note followed at a time. A peer that makes up ever new texts must not grow the
    // table: past this, new kinds share one entry.
    static const int MaxKinds = 32;

    explicit NoteLimiter(QObject *parent = nullptr);

    // Notes that differ only in their numbers (a port, a baud rate, an address) are the same
    // note: "peer 10.0.0.1:4001 replaced" and "peer 10.0.0.1:4002 replaced" share their quiet time.
    void add(const QString &text);
    // Tells at once what was left out so far, and forgets every note.
    void flush();

signals:
    // A line for the log: a note, or how many of one were left out.
    void told(const QString &text);

private:
    struct Kind
    {
        qint64 quietUntil = 0;
        int leftOut = 0;
        QString last;
    };
    static QString kindOf(const QString &text);
    static QString leftOutLine(const Kind &kind);
    void onTimer();
    void schedule(qint64 now);

    QHash<QString, Kind> m_kinds;
    QTimer m_timer;
    QElapsedTimer m_clock;
};

#endif // NOTELIMITER_H
