// The service of a folder, seen from the window: which connections it runs and how they are, a
// log line each, and which COM-NULL ports it holds. Asked once, without waiting for it; quiet
// when no service answers.
#ifndef SERVICEWATCH_H
#define SERVICEWATCH_H

#include <QHash>
#include <QObject>
#include <QString>

class ServiceWatch : public QObject
{
    Q_OBJECT

public:
    // The service answers within milliseconds; one that does not is not waited for.
    static const int TimeoutMs = 2000;
    // Of a name or port longer than this, a line shows the start: the answer is another
    // program's.
    static const int MaxShown = 80;

    explicit ServiceWatch(QObject *parent = nullptr);

    // Asks the service of the folder for its connections and returns at once.
    void ask(const QString &folder);
    // Why the port cannot be had when the service holds it open ("занят службой ..."); empty
    // when it does not, or nothing is known.
    QString holderOf(const QString &portNull) const;

signals:
    // A line for the log pane about the service's connections.
    void line(const QString &text);
    // The service answered: holderOf() may have changed.
    void answered();

private:
    // The devices the service holds open, to the id of its connection.
    QHash<QString, int> m_held;
};

#endif // SERVICEWATCH_H
