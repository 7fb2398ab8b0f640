// The log lines of the connections: a side down or back, a connection's note, a value of
// pipes.json refused. Every place that shows a log (the window's pane, the service's log) takes
// them from here, so that both say the same words; the time stamp is the shower's.
#ifndef PIPELOG_H
#define PIPELOG_H

#include <QObject>
#include <QString>

#include <functional>

class QPipeItem;
class QPipeMap;
class RelayRunner;

class PipeLog : public QObject
{
    Q_OBJECT

public:
    // Who holds a COM-NULL port the connections cannot have: words that say so, or an empty
    // text when nobody known to us does.
    using PortHolder = std::function<QString(const QString &portNull)>;

    explicit PipeLog(QObject *parent = nullptr);

    // Lines for the reports of the connections this runner runs.
    void follow(RelayRunner *runner);
    // Lines for the values of this collection's file that were refused.
    void follow(QPipeMap *map);

    void setPortHolder(PortHolder holder) { m_holder = std::move(holder); }
    // Why a side is down, as the log and the tooltip say it: the port's holder, when a program
    // we know of holds the port, rather than the system's word for it.
    QString shownReason(const QPipeItem *pipe, int side, const QString &reason) const;

    // The start of a connection's lines: its id and name.
    static QString label(const QPipeItem *pipe);
    // A side up, or down with why and when it is tried again (retryMs 0: not by itself).
    static QString sideLine(const QPipeItem *pipe, bool up, const QString &what, const QString &reason,
                            int retryMs);
    static QString noteLine(const QPipeItem *pipe, const QString &text);

signals:
    void line(const QString &text);

private:
    PortHolder m_holder;
};

#endif // PIPELOG_H
