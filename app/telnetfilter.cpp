#include "telnetfilter.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

// RFC 854 commands and the options we take part in (RFC 856 BINARY, RFC 858 SGA, RFC 2217).
enum : unsigned char {
    SE = 240,
    SB = 250,
    WILL = 251,
    WONT = 252,
    DO = 253,
    DONT = 254,
    IAC = 255,
    Binary = 0,
    SuppressGoAhead = 3,
    ComPort = 44,
};

// COM-PORT-OPTION commands: the client's, and the server's answers are the same plus 100.
enum : unsigned char {
    SetBaudrate = 1,
    SetDatasize = 2,
    SetParity = 3,
    SetStopsize = 4,
    ServerOffset = 100,
};

// No honest subnegotiation of RFC 2217 comes near this; a peer that never ends one must not
// make us hold everything it sends.
const int MaxSub = 64;

bool weTakeUp(unsigned char option)
{
    return option == ComPort || option == Binary || option == SuppressGoAhead;
}

void appendCommand(QByteArray *out, unsigned char verb, unsigned char option)
{
    const char bytes[] = {char(IAC), char(verb), char(option)};
    out->append(bytes, 3);
}

void appendSub(QByteArray *out, unsigned char command, const QByteArray &value)
{
    const char head[] = {char(IAC), char(SB), char(ComPort), char(command)};
    out->append(head, 4);
    for (char c : value) {
        out->append(c);
        if (uchar(c) == IAC)
            out->append(c);
    }
    const char tail[] = {char(IAC), char(SE)};
    out->append(tail, 2);
}

} // namespace

TelnetFilter::TelnetFilter(const LineSettings &line)
    : m_line(line)
{
    start();
}

QByteArray TelnetFilter::start()
{
    m_state = State::Data;
    m_verb = 0;
    m_sub.clear();
    m_subOverflow = false;
    m_agreed = false;
    m_refused = false;
    m_notes.clear();
    std::fill(std::begin(m_us), std::end(m_us), Side::No);
    std::fill(std::begin(m_them), std::end(m_them), Side::No);
    std::fill(std::begin(m_refusedUs), std::end(m_refusedUs), false);
    std::fill(std::begin(m_refusedThem), std::end(m_refusedThem), false);

    // The converter is told first that we speak RFC 2217 as its client; both directions carry
    // eight-bit data without go-aheads.
    QByteArray out;
    appendCommand(&out, WILL, ComPort);
    appendCommand(&out, WILL, Binary);
    appendCommand(&out, DO, Binary);
    appendCommand(&out, WILL, SuppressGoAhead);
    appendCommand(&out, DO, SuppressGoAhead);
    m_us[ComPort] = m_us[Binary] = m_us[SuppressGoAhead] = Side::Asked;
    m_them[Binary] = m_them[SuppressGoAhead] = Side::Asked;
    return out;
}

void TelnetFilter::fromNetwork(const QByteArray &in, QByteArray *data, QByteArray *reply)
{
    const char *p = in.constData();
    const char *const end = p + in.size();
    // Nearly every call carries data alone: taken whole, shared with the caller's buffer.
    if (m_state == State::Data && !std::memchr(p, IAC, size_t(in.size()))) {
        data->append(in);
        return;
    }
    // The data is never longer than what came: written in place, cut to size at the end.
    const int base = data->size();
    data->resize(base + in.size());
    char *const first = data->data() + base;
    char *out = first;
    while (p < end) {
        const unsigned char c = uchar(*p);
        switch (m_state) {
        case State::Data: {
            // Byte by byte, without a branch on 0xFF: where 0xFF falls at random such a branch is
            // mispredicted every few bytes. Each byte is written, and the output moves on past it
            // unless it is the first IAC of a pair; the only branch left is taken by a command.
            // Reckoned in integers: a compiler turns a test of a bool into the very branch.
            unsigned iacBefore = 0;
            for (; p < end; ++p) {
                const unsigned iac = (unsigned(uchar(*p)) + 1) >> 8; // 1 for 0xFF, else 0
                if (iacBefore > iac)
                    break;
                *out = *p;
                out += (iac ^ 1) | iacBefore;
                iacBefore = iac & (iacBefore ^ 1);
            }
            if (iacBefore)
                m_state = State::Iac;
            continue;
        }
        case State::Iac:
            if (c == IAC) {
                *out++ = char(IAC);
                m_state = State::Data;
            } else if (c >= WILL) {
                m_verb = c;
                m_state = State::Option;
            } else if (c == SB) {
                m_sub.clear();
                m_subOverflow = false;
                m_state = State::Sub;
            } else {
                // NOP, DM, BRK, IP, AO, AYT, EC, EL, GA, a stray SE: nothing for a serial line.
                m_state = State::Data;
            }
            break;
        case State::Option:
            onOption(m_verb, c, reply);
            m_state = State::Data;
            break;
        case State::Sub:
            if (c == IAC) {
                m_state = State::SubIac;
            } else if (m_sub.size() < MaxSub) {
                m_sub.append(char(c));
            } else {
                m_subOverflow = true;
            }
            break;
        case State::SubIac:
            if (c == IAC) {
                if (m_sub.size() < MaxSub)
                    m_sub.append(char(IAC));
                else
                    m_subOverflow = true;
                m_state = State::Sub;
            } else if (c == SE) {
                if (!m_subOverflow)
                    onSubnegotiation();
                m_sub.clear();
                m_state = State::Data;
            } else {
                // An unterminated subnegotiation: dropped, and the command that cut it is read
                // as one, which is how the peer meant it.
                m_sub.clear();
                m_state = State::Iac;
                continue;
            }
            break;
        }
        ++p;
    }
    data->resize(base + int(out - first));
}

void TelnetFilter::onOption(unsigned char verb, unsigned char option, QByteArray *reply)
{
    if (verb == DO || verb == DONT) {
        Side &side = m_us[option];
        if (verb == DO) {
            if (!weTakeUp(option)) {
                if (!m_refusedUs[option]) {
                    m_refusedUs[option] = true;
                    appendCommand(reply, WONT, option);
                }
                return;
            }
            if (side == Side::Yes)
                return;
            if (side == Side::No)
                appendCommand(reply, WILL, option);
            side = Side::Yes;
            if (option == ComPort) {
                m_agreed = true;
                m_refused = false;
                reply->append(lineCommands());
            }
        } else {
            if (side == Side::Yes)
                appendCommand(reply, WONT, option);
            side = Side::No;
            if (option == ComPort) {
                m_agreed = false;
                m_refused = true;
            }
        }
        return;
    }

    Side &side = m_them[option];
    if (verb == WILL) {
        if (!weTakeUp(option)) {
            if (!m_refusedThem[option]) {
                m_refusedThem[option] = true;
                appendCommand(reply, DONT, option);
            }
            return;
        }
        if (side == Side::No)
            appendCommand(reply, DO, option);
        side = Side::Yes;
    } else {
        if (side == Side::Yes)
            appendCommand(reply, DONT, option);
        side = Side::No;
        // Some converters refuse the option from their own side; either way it is not agreed.
        if (option == ComPort && !m_agreed)
            m_refused = true;
    }
}

void TelnetFilter::onSubnegotiation()
{
    if (m_sub.size() < 3 || uchar(m_sub.at(0)) != ComPort)
        return;
    const unsigned char command = uchar(m_sub.at(1));
    const QByteArray value = m_sub.mid(2);
    const unsigned v = uchar(value.at(0));
    switch (command) {
    case ServerOffset + SetBaudrate:
        if (value.size() >= 4) {
            const quint32 baud = qFromBigEndian<quint32>(value.constData());
            m_notes << tr("преобразователь сообщает скорость %1").arg(baud);
        }
        break;
    case ServerOffset + SetDatasize:
        m_notes << tr("преобразователь сообщает биты данных %1").arg(v);
        break;
    case ServerOffset + SetParity: {
        // Named as the connection dialog names them.
        const QString names[] = {tr("нет"), tr("нечёт"), tr("чёт"), tr("маркер"), tr("пробел")};
        const QString name = v >= 1 && v <= 5 ? names[v - 1] : QString::number(v);
        m_notes << tr("преобразователь сообщает чётность %1").arg(name);
        break;
    }
    case ServerOffset + SetStopsize: {
        const QString name = v == 3 ? QString(Vcom::StopBitsNames[int(Vcom::StopBits::OneAndHalf)])
                                    : QString::number(v);
        m_notes << tr("преобразователь сообщает стоп-биты %1").arg(name);
        break;
    }
    default:
        // Line and modem state notifications, flow control: nothing the relay acts on.
        break;
    }
}

QByteArray TelnetFilter::toNetwork(const QByteArray &data)
{
    const char *p = data.constData();
    const char *const end = p + data.size();
    const char *iac = static_cast<const char *>(std::memchr(p, IAC, size_t(data.size())));
    if (!iac)
        return data;
    // Sized once for the worst case and cut to size.
    QByteArray out(data.size() * 2, Qt::Uninitialized);
    char *o = out.data();
    std::memcpy(o, p, size_t(iac - p));
    o += iac - p;
    p = iac;
    // Without a branch on 0xFF (see fromNetwork): each byte is followed by an IAC, which the
    // next byte overwrites unless the byte was one. Never past the end: the i-th byte of the
    // rest is written at most at 2i and its IAC at 2i + 1.
    for (; p < end; ++p) {
        const bool isIac = uchar(*p) == IAC;
        o[0] = *p;
        o[1] = char(IAC);
        o += 1 + int(isIac);
    }
    out.resize(int(o - out.constData()));
    return out;
}

QStringList TelnetFilter::takeNotes()
{
    QStringList notes;
    notes.swap(m_notes);
    return notes;
}

QByteArray TelnetFilter::lineCommands() const
{
    // A value we cannot name is sent as 0, which asks the converter for its own setting instead
    // of changing it: it then reports what it uses.
    const quint32 baud = m_line.baud > 0 ? quint32(m_line.baud) : 0;
    const int dataBits = m_line.dataBits >= 5 && m_line.dataBits <= 8 ? m_line.dataBits : 0;
    // RFC 2217 counts parities from 1 in the order of ours; its stop size 3 is 1.5 bits.
    const int parity = int(m_line.parity) + 1;
    static const char stopSizes[] = {1, 3, 2};
    const int stop = stopSizes[int(m_line.stopBits)];

    char baudBytes[4];
    qToBigEndian(baud, baudBytes);
    QByteArray out;
    appendSub(&out, SetBaudrate, QByteArray(baudBytes, 4));
    appendSub(&out, SetDatasize, QByteArray(1, char(dataBits)));
    appendSub(&out, SetParity, QByteArray(1, char(parity)));
    appendSub(&out, SetStopsize, QByteArray(1, char(stop)));
    return out;
}
