#include "telnetfilter.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <iterator>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__)) && !defined(TELNET_BYTE_LOOPS_ONLY)
#include <tmmintrin.h>
#define TELNET_SHUFFLES 1
#endif

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

#ifdef TELNET_SHUFFLES
// Where 0xFF is frequent (binary data), even a branchless loop costs about a nanosecond a byte. With SSSE3, 16 bytes go at once: the bytes
// to double or to drop are found by one compare, and moved into place by a byte shuffle looked
// up by their 8-bit mask. Checked at run time: a plant's PC may be older than SSSE3.
struct Shuffles
{
    bool usable = false;
    // Doubling: byte j of 8 and, when its bit is set, byte j again; how many bytes that makes.
    alignas(16) unsigned char doubled[256][16];
    unsigned char doubledSize[256];
    // Dropping: the bytes whose bit is clear, in order; how many are left.
    alignas(16) unsigned char kept[256][16];
    unsigned char keptSize[256];
};

const Shuffles &shuffles()
{
    static const Shuffles table = [] {
        Shuffles t;
        for (unsigned mask = 0; mask < 256; ++mask) {
            int d = 0;
            int k = 0;
            for (unsigned char j = 0; j < 8; ++j) {
                t.doubled[mask][d++] = j;
                if (mask & (1u << j))
                    t.doubled[mask][d++] = j;
                else
                    t.kept[mask][k++] = j;
            }
            t.doubledSize[mask] = (unsigned char)d;
            t.keptSize[mask] = (unsigned char)k;
            std::fill(t.doubled[mask] + d, t.doubled[mask] + 16, 0x80); // 0x80: a zero byte
            std::fill(t.kept[mask] + k, t.kept[mask] + 16, 0x80);
        }
        t.usable = __builtin_cpu_supports("ssse3");
        return t;
    }();
    return table;
}

// The bytes of v in the order given by indices (0x80 gives a zero).
__attribute__((target("ssse3"))) inline __m128i shuffled(__m128i v, const unsigned char *order)
{
    return _mm_shuffle_epi8(v, _mm_load_si128(reinterpret_cast<const __m128i *>(order)));
}

// Every 0xFF of [*p, end) doubled into o, 16 bytes at a time while 16 are left. Each half of 8
// stores 16 bytes, of which the next store overwrites what is not its own. Never past the end of
// an output twice the input's size: the 8 bytes from byte i on go out from 2i at most, so their
// store ends at 2(i + 8) at most.
__attribute__((target("ssse3"))) char *doubleIacs(const char **p, const char *end, char *o,
                                                  const Shuffles &t)
{
    const __m128i iac = _mm_set1_epi8(char(IAC));
    const char *in = *p;
    for (; end - in >= 16; in += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in));
        const unsigned mask = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, iac)));
        const unsigned low = mask & 0xFF;
        const unsigned high = mask >> 8;
        _mm_storeu_si128(reinterpret_cast<__m128i *>(o), shuffled(v, t.doubled[low]));
        o += t.doubledSize[low];
        _mm_storeu_si128(reinterpret_cast<__m128i *>(o), shuffled(_mm_srli_si128(v, 8), t.doubled[high]));
        o += t.doubledSize[high];
    }
    *p = in;
    return o;
}

// Data from the network with each IAC IAC taken as one 0xFF, 16 bytes at a time, into out
// (which never gets ahead of the input, so each store of 8 stays within the input's size).
// *pending says that the byte before *p was the first IAC of a pair, and is left saying it of
// the last byte taken. Stops where fewer than 16 bytes are left, or before a block that holds a
// command (an IAC followed by anything but IAC): the byte loop takes it from there.
__attribute__((target("ssse3"))) char *halveIacs(const char **p, const char *end, char *out,
                                                 unsigned *pending, const Shuffles &t)
{
    const __m128i iac = _mm_set1_epi8(char(IAC));
    const quint32 even = 0x15555; // bit 16 stands for the first byte of the next block
    const quint32 odd = 0x0AAAA;
    const char *in = *p;
    unsigned carry = *pending;
    for (; end - in >= 16; in += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in));
        const quint32 iacs = quint32(_mm_movemask_epi8(_mm_cmpeq_epi8(v, iac)));
        // A pair the block before left open is closed by this block's first byte, or a command
        // has begun.
        if (carry & ~iacs & 1)
            break;
        // The IACs left to pair, in runs; a run pairs from its start, so its first, third, ...
        // IAC is dropped, and one of odd length leaves its last IAC unpaired: a command follows
        // it, or the next block begins with its second. Each run is cleared by adding its start
        // to it, which sets the bit after its end: the start's and the end's parity tell the rest.
        const quint32 left = iacs & ~quint32(carry);
        const quint32 starts = left & ~(left << 1);
        const quint32 fromEven = (starts & even) + left;
        const quint32 fromOdd = (starts & odd) + left;
        const quint32 evenRuns = (fromEven ^ left) & left;
        const quint32 oddRuns = (fromOdd ^ left) & left;
        const quint32 unpaired = (fromEven & ~left & odd) | (fromOdd & ~left & even);
        if (unpaired & 0xFFFF)
            break;
        const quint32 dropped = (evenRuns & even) | (oddRuns & odd);
        const unsigned low = dropped & 0xFF;
        const unsigned high = (dropped >> 8) & 0xFF;
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out), shuffled(v, t.kept[low]));
        out += t.keptSize[low];
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out), shuffled(_mm_srli_si128(v, 8), t.kept[high]));
        out += t.keptSize[high];
        carry = unpaired >> 16;
    }
    *p = in;
    *pending = carry;
    return out;
}
#endif

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
    // The data is never longer than what came: written in place, cut to size at the end. An
    // append per run of data cost more than the relay itself where 0xFF is frequent.
    const int base = data->size();
    data->resize(base + in.size());
    char *const first = data->data() + base;
    char *out = first;
    while (p < end) {
        const unsigned char c = uchar(*p);
        switch (m_state) {
        case State::Data: {
            // 16 bytes at a time where SSSE3 is there; what it leaves (the last bytes, a block
            // with a command) goes byte by byte. Byte by byte: where 0xFF is frequent the runs
            // between are short, and a search and a copy per run cost more than the loop.
            // Without a branch on 0xFF either: where it falls at random, such a branch is
            // mispredicted every few bytes, which cost more than the rest of the loop. Each byte
            // is written, and the output moves on past it unless it is the first IAC of a pair;
            // the only branch left is taken by a command. Reckoned in integers: a compiler turns
            // a test of a bool into the very branch.
            unsigned iacBefore = 0;
#ifdef TELNET_SHUFFLES
            const Shuffles &table = shuffles();
            if (table.usable)
                out = halveIacs(&p, end, out, &iacBefore, table);
#endif
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
            m_notes << QStringLiteral("the converter reports baud %1").arg(baud);
        }
        break;
    case ServerOffset + SetDatasize:
        m_notes << QStringLiteral("the converter reports data bits %1").arg(v);
        break;
    case ServerOffset + SetParity: {
        static const char *const names[] = {nullptr, "none", "odd", "even", "mark", "space"};
        const QString name = v >= 1 && v <= 5 ? QString::fromLatin1(names[v]) : QString::number(v);
        m_notes << QStringLiteral("the converter reports parity %1").arg(name);
        break;
    }
    case ServerOffset + SetStopsize: {
        const QString name = v == 3 ? QStringLiteral("1.5") : QString::number(v);
        m_notes << QStringLiteral("the converter reports stop bits %1").arg(name);
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
    // Sized once for the worst case and cut to size: an append per 0xFF cost more than the
    // relay itself where 0xFF is frequent.
    QByteArray out(data.size() * 2, Qt::Uninitialized);
    char *o = out.data();
    std::memcpy(o, p, size_t(iac - p));
    o += iac - p;
    p = iac;
#ifdef TELNET_SHUFFLES
    const Shuffles &table = shuffles();
    if (table.usable)
        o = doubleIacs(&p, end, o, table);
#endif
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
    static const QStringList parities = {QStringLiteral("none"), QStringLiteral("odd"),
                                         QStringLiteral("even"), QStringLiteral("mark"),
                                         QStringLiteral("space")};
    const quint32 baud = m_line.baud > 0 ? quint32(m_line.baud) : 0;
    const int dataBits = m_line.dataBits >= 5 && m_line.dataBits <= 8 ? m_line.dataBits : 0;
    const int parity = parities.indexOf(m_line.parity.toLower()) + 1;
    int stop = 0;
    if (m_line.stopBits == QLatin1String("1"))
        stop = 1;
    else if (m_line.stopBits == QLatin1String("2"))
        stop = 2;
    else if (m_line.stopBits == QLatin1String("1.5"))
        stop = 3;

    char baudBytes[4];
    qToBigEndian(baud, baudBytes);
    QByteArray out;
    appendSub(&out, SetBaudrate, QByteArray(baudBytes, 4));
    appendSub(&out, SetDatasize, QByteArray(1, char(dataBits)));
    appendSub(&out, SetParity, QByteArray(1, char(parity)));
    appendSub(&out, SetStopsize, QByteArray(1, char(stop)));
    return out;
}
