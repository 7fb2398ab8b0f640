// The RFC 2217 side of a relay's connection: the Telnet layer while connected, and what the log
// is told of the converter. It lives as long as the relay, so that a handler never holds a layer
// that a connection dropping under it released.
#ifndef TELNETLINK_H
#define TELNETLINK_H

#include "telnetfilter.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

class TelnetLink : public QObject
{
    Q_OBJECT

public:
    // A peer that has not agreed to the COM port option by then is told of.
    static const int AnswerMs = 3000;

    explicit TelnetLink(QObject *parent = nullptr);

    // A new start of the relay: a refusal of the option is told again.
    void reset();
    // A new connection: the negotiation to send before anything else.
    QByteArray open(const LineSettings &line);
    void close();
    bool isOpen() const { return m_open; }

    // Bytes from the network: the data in them is returned, the answers for the peer appended to
    // *reply. What the log should tell goes by note().
    QByteArray fromNetwork(const QByteArray &raw, QByteArray *reply);

signals:
    void note(const QString &text);

private:
    TelnetFilter m_filter;
    QTimer m_wait;
    bool m_open = false;
    bool m_refusalTold = false;
};

#endif // TELNETLINK_H
