// The Telnet layer of a connection to an RFC 2217 converter (Telnet COM Port Control): option
// negotiation, the line settings told to the converter, and the escaping of 0xFF in the data.
// It owns no socket: bytes in, data and answers out, so the relay calls it only when asked to.
#ifndef TELNETFILTER_H
#define TELNETFILTER_H

#include "pipesettings.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QStringList>

class TelnetFilter
{
    Q_DECLARE_TR_FUNCTIONS(TelnetFilter)

public:
    explicit TelnetFilter(const LineSettings &line = LineSettings());

    // A new connection: forgets what was agreed and half read, and returns the negotiation to
    // send before anything else.
    QByteArray start();

    // Bytes from the network. The data in them (unescaped) is appended to *data; what must go
    // back to the peer (answers to its requests, the line settings once the option is agreed)
    // is appended to *reply. A command cut between two calls is completed by the next one.
    void fromNetwork(const QByteArray &in, QByteArray *data, QByteArray *reply);

    // Data for the network, every 0xFF doubled. Data without 0xFF is returned as it is.
    static QByteArray toNetwork(const QByteArray &data);

    // The peer agreed to COM-PORT-OPTION (the line settings were sent), or refused it.
    bool comPortAgreed() const { return m_agreed; }
    bool comPortRefused() const { return m_refused; }

    // What the log should tell since the last call, a line each: the values the converter
    // reports back, its refusal of the option.
    QStringList takeNotes();

private:
    enum class State { Data, Iac, Option, Sub, SubIac };
    // One side of an option (ours: WILL/WONT; the peer's: DO/DONT), after RFC 1143 without its
    // queue: a request we sent is awaiting its answer, so the answer itself is not answered.
    enum class Side : unsigned char { No, Asked, Yes };
    void onOption(unsigned char verb, unsigned char option, QByteArray *reply);
    void onSubnegotiation();
    QByteArray lineCommands() const;

    LineSettings m_line;
    State m_state = State::Data;
    unsigned char m_verb = 0;
    QByteArray m_sub;
    bool m_subOverflow = false;
    bool m_agreed = false;
    bool m_refused = false;
    // Indexed by option: what we do, what the peer does, and whether a refusal of an option we
    // never take up was already sent (a peer repeating its request is not answered again).
    Side m_us[256];
    Side m_them[256];
    bool m_refusedUs[256];
    bool m_refusedThem[256];
    QStringList m_notes;
};

#endif // TELNETFILTER_H
