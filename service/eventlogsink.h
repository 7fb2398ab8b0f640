// The Windows event log as a further home of the service's lines: the Application log, under the
// source --install registers with the program as its message file. The program's message table
// holds one message, the line itself, so the event viewer shows each line as it was written.
#ifndef EVENTLOGSINK_H
#define EVENTLOGSINK_H

#include <QString>

class EventLogSink
{
public:
    // The event's one message: "%1", the line.
    static const unsigned long MessageId = 1;
    // What the event log takes in one string; a longer line is cut, so that it is not lost.
    static const int MaxChars = 31839;

    // Opens the source's log; writes go nowhere where it cannot be opened.
    explicit EventLogSink(const QString &source);
    ~EventLogSink();
    EventLogSink(const EventLogSink &) = delete;
    EventLogSink &operator=(const EventLogSink &) = delete;

    void write(const QString &line);
    // The line as the event gets it: at most MaxChars, an ellipsis where it was cut.
    static QString clip(const QString &line);

    // The source's key in the registry, where the event viewer finds the message file.
    static QString sourceKey(const QString &source);
    // Registers the source with messageFile (a program holding the message table); false, with why.
    static bool registerSource(const QString &source, const QString &messageFile, QString *why);
    // Removes the source's registration; true also when there was none.
    static bool removeSource(const QString &source, QString *why);

private:
    void *m_handle = nullptr;
};

#endif // EVENTLOGSINK_H
