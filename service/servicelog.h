// The service's log: each line with its date and time on standard error (which the journal
// keeps under systemd), and in every further sink given, such as the system's own log.
#ifndef SERVICELOG_H
#define SERVICELOG_H

#include <QList>
#include <QString>

#include <functional>

class ServiceLog
{
public:
    using Sink = std::function<void(const QString &line)>;

    // A further home for each line, as it is, without the time: a system's log adds its own.
    void addSink(Sink sink) { m_sinks.append(std::move(sink)); }
    void write(const QString &line);

private:
    QList<Sink> m_sinks;
};

#endif // SERVICELOG_H
