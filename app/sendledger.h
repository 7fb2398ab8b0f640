// What a socket was given and its peer may not have: in server mode a peer that replaces a
// silent one gets the data its predecessor never took. Other bytes written (the Telnet
// negotiation and answers) are only counted, never sent again.
#ifndef SENDLEDGER_H
#define SENDLEDGER_H

#include <QByteArray>

#include <deque>

class SendLedger
{
public:
    // Forgets everything. escaped: the data goes out with each 0xFF doubled (RFC 2217).
    void reset(bool escaped);
    // In the order written to the socket: data, as it was before escaping; other bytes, by count.
    void addData(const QByteArray &data);
    void addOther(qint64 bytes);
    // Forgets all but the last bytes written: the rest has reached the peer.
    void keepLast(qint64 bytes);
    // The data among the last bytes written, unescaped. A 0xFF whose doubling was cut in two
    // is in it whole.
    QByteArray dataOfLast(qint64 bytes) const;
    // Bytes written and not forgotten, as they went out.
    qint64 size() const { return m_wire; }

private:
    // Bytes that went out before the data byte of index at (counted from the reset).
    struct Other
    {
        qint64 at;
        qint64 bytes;
    };
    int wireOf(char c) const { return m_escaped && c == '\xff' ? 2 : 1; }

    bool m_escaped = false;
    // The data kept, from m_front on; its first byte has index m_base.
    QByteArray m_data;
    int m_front = 0;
    qint64 m_base = 0;
    // The first data byte is a 0xFF of which only the second half is kept.
    bool m_halfFront = false;
    std::deque<Other> m_others;
    qint64 m_wire = 0;
};

#endif // SENDLEDGER_H
