#include "peers.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace relaybench {

bool EchoPeer::start(std::string *why)
{
    m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listen < 0) {
        *why = errnoText("echo peer: socket");
        return false;
    }
    const int one = 1;
    setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (bind(m_listen, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0
        || listen(m_listen, 4) != 0) {
        *why = errnoText("echo peer: bind/listen on 127.0.0.1");
        return false;
    }
    socklen_t len = sizeof addr;
    getsockname(m_listen, reinterpret_cast<sockaddr *>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this]() { run(); });
    return true;
}

void EchoPeer::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    std::vector<std::thread> served;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        served.swap(m_served);
    }
    for (std::thread &t : served)
        t.join();
    if (m_listen >= 0)
        close(m_listen);
    m_listen = -1;
}

void EchoPeer::run()
{
    while (!m_stop) {
        pollfd p{m_listen, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        const int c = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (c >= 0)
            begin(c);
    }
}

bool EchoPeer::dialIn(int port, std::string *why)
{
    const int c = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (c < 0) {
        *why = errnoText("echo peer: socket");
        return false;
    }
    sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(uint16_t(port));
    if (connect(c, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        *why = errnoText("echo peer: connect to the listening bridge");
        close(c);
        return false;
    }
    begin(c);
    return true;
}

void EchoPeer::begin(int c)
{
    const int one = 1;
    setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // A send that cannot go on wakes up now and then to see whether the bench is over.
    timeval tv{0, 200000};
    setsockopt(c, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    const bool telnet = m_telnet;
    std::lock_guard<std::mutex> hold(m_lock);
    // With none active, the threads of earlier connections have ended or are about to: they
    // are joined here rather than piling up over the rounds.
    if (m_active.load() == 0) {
        for (std::thread &t : m_served)
            t.join();
        m_served.clear();
    }
    ++m_active;
    ++m_accepted;
    m_served.emplace_back([this, c, telnet]() {
        serve(c, telnet);
        close(c);
        --m_active;
    });
}

namespace {

const unsigned char IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;

#if defined(__SSE2__)
// Bit i set where p[i] is IAC, for 64 bytes.
uint64_t iacsIn64(const char *p)
{
    const __m128i iac = _mm_set1_epi8(char(IAC));
    uint64_t mask = 0;
    for (int i = 0; i < 4; ++i) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * i));
        mask |= uint64_t(uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(v, iac)))) << (16 * i);
    }
    return mask;
}

// Of 64 bytes whose IACs are the bits of `iacs`: the bytes that follow an IAC which opens a
// pair or a command (a run of IACs alternates: opening, followed, opening...). *carry is 1
// when the first byte follows an opening IAC of the 64 before; it is set so for the next 64. Worked
// out for all 64 at once by the carries of one addition (the sequences of IACs that start on
// an odd bit are shifted by one).
uint64_t followedIn64(uint64_t iacs, uint64_t *carry)
{
    iacs &= ~*carry;
    const uint64_t follows = iacs << 1 | *carry;
    const uint64_t even = 0x5555555555555555ULL;
    const uint64_t oddStarts = iacs & ~even & ~follows;
    uint64_t evenSequences = 0;
    *carry = __builtin_add_overflow(oddStarts, iacs, &evenSequences) ? 1 : 0;
    return (even ^ (evenSequences << 1)) & follows;
}
#endif

// The peer's side of Telnet: takes the bytes of a connection apart into data and commands,
// and answers each option the relay offers or asks for once, agreeing (RFC 854: a request that
// changes nothing gets no answer, so two agreeing sides do not loop).
class TelnetPeer
{
public:
    // Takes the commands out of in[0, n) in place, appends the answers to *reply and returns how
    // much is left: the data with each 0xFF still doubled, to go back as it came. Counts IAC IAC.
    // An IAC that ends the bytes waits for the next one; when that makes a pair, *heldIac is set
    // and the echo must start with the IAC held. The peer must cost the run less than the relay
    // it measures: no copy where no command was taken out, and no branch on each 0xFF (they fall
    // at random, and such a branch is mispredicted every few bytes).
    size_t take(char *in, size_t n, std::string *reply, long long *escaped, bool *heldIac)
    {
        *heldIac = false;
        char *out = in;
        size_t k = 0;
        while (k < n) {
            if (m_state == State::Data) {
                const size_t from = k;
                unsigned iacBefore = 0;
                long long pairs = 0;
#if defined(__SSE2__)
                // 64 bytes at a time while they hold no command: every byte that follows an
                // opening IAC is then the IAC of a pair.
                uint64_t carry = 0;
                while (n - k >= 64) {
                    const uint64_t iacs = iacsIn64(in + k);
                    uint64_t next = carry;
                    const uint64_t followed = followedIn64(iacs, &next);
                    if (followed & ~iacs)
                        break;
                    pairs += __builtin_popcountll(followed);
                    carry = next;
                    k += 64;
                }
                iacBefore = unsigned(carry);
#endif
                for (; k < n; ++k) {
                    const unsigned iac = (unsigned((unsigned char)in[k]) + 1) >> 8;
                    if (iacBefore > iac)
                        break; // a command
                    pairs += iacBefore & iac;
                    iacBefore = iac & (iacBefore ^ 1);
                }
                *escaped += pairs;
                const size_t kept = k - from - iacBefore;
                if (out != in + from)
                    memmove(out, in + from, kept);
                out += kept;
                if (iacBefore)
                    m_state = State::Iac;
                continue;
            }
            const unsigned char b = (unsigned char)in[k++];
            switch (m_state) {
            case State::Data:
                break;
            case State::Iac:
                m_state = State::Data;
                if (b == IAC) {
                    // Only at the start: within the bytes the loop above takes the pairs.
                    *heldIac = true;
                    *out++ = char(IAC);
                    ++*escaped;
                } else if (b >= WILL && b <= DONT) {
                    m_verb = b;
                    m_state = State::Option;
                } else if (b == SB) {
                    m_state = State::Sub;
                }
                break;
            case State::Option:
                answer(b, reply);
                m_state = State::Data;
                break;
            case State::Sub:
                if (b == IAC)
                    m_state = State::SubIac;
                break;
            case State::SubIac:
                m_state = b == SE ? State::Data : State::Sub;
                break;
            }
        }
        return size_t(out - in);
    }

private:
    enum class State { Data, Iac, Option, Sub, SubIac };

    void answer(unsigned char option, std::string *reply)
    {
        if (m_verb != WILL && m_verb != DO)
            return;
        const bool offered = m_verb == WILL; // it will: we ask it to (DO)
        bool &told = offered ? m_toldDo[option] : m_toldWill[option];
        if (told)
            return;
        told = true;
        reply->push_back(char(IAC));
        reply->push_back(char(offered ? DO : WILL));
        reply->push_back(char(option));
    }

    State m_state = State::Data;
    unsigned char m_verb = 0;
    bool m_toldDo[256] = {};
    bool m_toldWill[256] = {};
};

} // namespace

void EchoPeer::serve(int c, bool telnet)
{
    // One byte before the data: room for an IAC held from the last read.
    std::vector<char> buf(1 + 64 * 1024);
    char *const data = buf.data() + 1;
    std::string reply;
    TelnetPeer layer;
    bool first = true;
    // Sends it all; false when the connection is gone.
    const auto sendAll = [this, c](const char *from, size_t size) {
        size_t off = 0;
        while (off < size) {
            const ssize_t w = send(c, from + off, size - off, MSG_NOSIGNAL);
            if (w < 0) {
                if ((errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) && !m_stop)
                    continue;
                return false;
            }
            off += size_t(w);
        }
        return true;
    };
    while (!m_stop) {
        if (m_paused) {
            sleepMs(5);
            continue;
        }
        pollfd p{c, POLLIN, 0};
        const int r = poll(&p, 1, 100);
        if (r < 0 && errno != EINTR)
            return;
        if (r <= 0)
            continue;
        const ssize_t n = recv(c, data, buf.size() - 1, 0);
        if (n == 0)
            return;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return;
        }
        // A relay that speaks Telnet says so before any data: its negotiation comes first.
        if (first && telnet) {
            telnet = (unsigned char)data[0] == IAC;
            if (telnet)
                ++m_telnetConnections;
        }
        first = false;
        const char *from = data;
        size_t size = size_t(n);
        if (telnet) {
            reply.clear();
            long long escaped = 0;
            bool heldIac = false;
            size = layer.take(data, size, &reply, &escaped, &heldIac);
            m_escapedBytes += escaped;
            if (!reply.empty() && !sendAll(reply.data(), reply.size()))
                return;
            if (heldIac) {
                buf[0] = char(IAC);
                from = buf.data();
                ++size;
            }
        }
        if (!sendAll(from, size))
            return;
    }
}

int freePort()
{
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return 0;
    sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0
        && getsockname(s, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    close(s);
    return port;
}

bool writeAll(int fd, const unsigned char *data, size_t size, double stallSeconds,
              PhaseStatus *status)
{
    size_t off = 0;
    Clock::time_point progress = Clock::now();
    while (off < size) {
        const ssize_t w = write(fd, data + off, size - off);
        if (w > 0) {
            off += size_t(w);
            progress = Clock::now();
            continue;
        }
        if (w < 0 && errno != EAGAIN && errno != EINTR) {
            *status = failed(errnoText("write to the user's side"));
            return false;
        }
        const int left = msLeft(progress, stallSeconds);
        if (left == 0) {
            *status = stalled(format("the user's side took no bytes for %.0f s", stallSeconds));
            return false;
        }
        pollfd p{fd, POLLOUT, 0};
        poll(&p, 1, left);
    }
    return true;
}

static std::vector<unsigned char> makePattern(bool ffHeavy)
{
    std::vector<unsigned char> pat(kPatternSize);
    unsigned x = 12345u;
    for (unsigned char &c : pat) {
        x = x * 1103515245u + 12345u;
        c = (unsigned char)(x >> 16);
        if (ffHeavy && ((x >> 24) & 3) == 0)
            c = 0xFF;
    }
    // The echo peer tells a relay that speaks Telnet by its first byte.
    if (pat[0] == 0xFF)
        pat[0] = 0x55;
    return pat;
}

const std::vector<unsigned char> &pattern(bool ffHeavy)
{
    static const std::vector<unsigned char> plain = makePattern(false);
    static const std::vector<unsigned char> heavy = makePattern(true);
    return ffHeavy ? heavy : plain;
}

PhaseStatus putStream(int fd, const std::vector<unsigned char> &pat, size_t total, size_t *sent)
{
    const size_t at = *sent % kPatternSize;
    const size_t chunk = std::min({size_t(16384), total - *sent, kPatternSize - at});
    const ssize_t w = write(fd, pat.data() + at, chunk);
    if (w > 0)
        *sent += size_t(w);
    else if (w < 0 && errno != EAGAIN && errno != EINTR)
        return failed(errnoText("write to the user's side"));
    return {};
}

PhaseStatus takeEcho(int fd, const std::vector<unsigned char> &pat,
                     std::vector<unsigned char> *buf, size_t sent, size_t *received)
{
    const ssize_t n = read(fd, buf->data(), buf->size());
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return {};
    if (n <= 0)
        return failed(n == 0 ? std::string("the relay closed its side of the pty")
                             : errnoText("read from the user's side"));
    if (*received + size_t(n) > sent)
        return failed("more bytes came back than were sent");
    for (size_t k = 0; k < size_t(n); ++k) {
        if ((*buf)[k] != pat[(*received + k) % kPatternSize])
            return failed(format("echo differs from what was sent at offset %zu", *received + k));
    }
    *received += size_t(n);
    return {};
}

} // namespace relaybench
