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
    if (m_listen >= 0)
        close(m_listen);
    m_listen = -1;
}

void EchoPeer::run()
{
    std::vector<char> buf(64 * 1024);
    while (!m_stop) {
        pollfd p{m_listen, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        const int c = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0)
            continue;
        const int one = 1;
        setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        // A send that cannot go on wakes up now and then to see whether the bench is over.
        timeval tv{0, 200000};
        setsockopt(c, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        m_busy = true;
        ++m_accepted;
        serve(c, buf);
        close(c);
        m_busy = false;
    }
}

void EchoPeer::serve(int c, std::vector<char> &buf)
{
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
        const ssize_t n = recv(c, buf.data(), buf.size(), 0);
        if (n == 0)
            return;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return;
        }
        ssize_t off = 0;
        while (off < n) {
            const ssize_t w = send(c, buf.data() + off, size_t(n - off), MSG_NOSIGNAL);
            if (w < 0) {
                if ((errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) && !m_stop)
                    continue;
                return;
            }
            off += w;
        }
    }
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

static std::vector<unsigned char> makePattern()
{
    std::vector<unsigned char> pat(kPatternSize);
    unsigned x = 12345u;
    for (unsigned char &c : pat) {
        x = x * 1103515245u + 12345u;
        c = (unsigned char)(x >> 16);
    }
    return pat;
}

const std::vector<unsigned char> &pattern()
{
    static const std::vector<unsigned char> pat = makePattern();
    return pat;
}

PhaseStatus putStream(int fd, size_t total, size_t *sent)
{
    const size_t at = *sent % kPatternSize;
    const size_t chunk = std::min({size_t(16384), total - *sent, kPatternSize - at});
    const ssize_t w = write(fd, pattern().data() + at, chunk);
    if (w > 0)
        *sent += size_t(w);
    else if (w < 0 && errno != EAGAIN && errno != EINTR)
        return failed(errnoText("write to the user's side"));
    return {};
}

PhaseStatus takeEcho(int fd, std::vector<unsigned char> *buf, size_t sent, size_t *received)
{
    const ssize_t n = read(fd, buf->data(), buf->size());
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return {};
    if (n <= 0)
        return failed(n == 0 ? std::string("the relay closed its side of the pty")
                             : errnoText("read from the user's side"));
    if (*received + size_t(n) > sent)
        return failed("more bytes came back than were sent");
    const std::vector<unsigned char> &pat = pattern();
    for (size_t k = 0; k < size_t(n); ++k) {
        if ((*buf)[k] != pat[(*received + k) % kPatternSize])
            return failed(format("echo differs from what was sent at offset %zu", *received + k));
    }
    *received += size_t(n);
    return {};
}

} // namespace relaybench
