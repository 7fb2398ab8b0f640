// The far end of the relay and the load put on the near end: the TCP echo peer, and the
// streams the user's side of the pty writes and checks.
#ifndef RELAYBENCH_PEERS_H
#define RELAYBENCH_PEERS_H

#include "common.h"

#include <atomic>
#include <mutex>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

namespace relaybench {

// The echo peer: every byte sent straight back, by blocking sockets in a thread per
// connection, so that several relays can be served at once. It listens on 127.0.0.1 for
// contenders that dial out, and dials in itself to a bridge that listens (server mode).
class EchoPeer
{
public:
    ~EchoPeer() { stop(); }

    bool start(std::string *why);
    void stop();

    int port() const { return m_port; }
    // Connections begun so far (accepted or dialled), and those still being served.
    int accepted() const { return m_accepted.load(); }
    bool busy() const { return m_active.load() > 0; }
    // Connects to 127.0.0.1:port and serves that connection as an accepted one.
    bool dialIn(int port, std::string *why);
    // A paused peer reads nothing, so that the relay's bytes pile up in front of it.
    void pause(bool on) { m_paused = on; }

    // For the connections begun from now on: whether to speak Telnet (RFC 854) to a relay that
    // opens with a Telnet command. Such a connection has its options answered, subnegotiations
    // ignored and IAC IAC taken as one 0xFF, and every 0xFF it echoes is doubled. A relay whose
    // first byte is no IAC is echoed as it is.
    void setTelnet(bool on)
    {
        m_telnet = on;
        m_telnetConnections = 0;
        m_escapedBytes = 0;
    }
    // Since the last setTelnet(): connections that opened with a Telnet command, and 0xFF data
    // bytes that came escaped (IAC IAC).
    int telnetConnections() const { return m_telnetConnections.load(); }
    long long escapedBytes() const { return m_escapedBytes.load(); }

private:
    void run();
    void serve(int c, bool telnet);
    void begin(int c);

    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_accepted{0};
    std::atomic<int> m_active{0};
    std::atomic<bool> m_paused{false};
    std::atomic<bool> m_telnet{false};
    std::atomic<int> m_telnetConnections{0};
    std::atomic<long long> m_escapedBytes{0};
    std::thread m_thread;
    std::mutex m_lock;
    std::vector<std::thread> m_served;
};

// A free TCP port on 127.0.0.1 for a relay to listen on, or 0.
int freePort();

// The byte expected at each offset of the echo stream: a pattern whose length is prime, so
// a dropped, repeated or swapped block shows up.
const size_t kPatternSize = 65521;
// The stream of the plain relay; `ffHeavy`: the stream for the Telnet layer, with 0xFF for about
// a quarter of its bytes (the byte Telnet must escape), but not the first.
const std::vector<unsigned char> &pattern(bool ffHeavy = false);

bool writeAll(int fd, const unsigned char *data, size_t size, double stallSeconds,
              PhaseStatus *status);
// Writes the next part of the stream, as much of it as the user's side takes now.
PhaseStatus putStream(int fd, const std::vector<unsigned char> &pat, size_t total, size_t *sent);
// Reads what the user's side holds and checks it against the stream: a dropped, repeated or
// reordered byte is an error. `*received` counts the bytes back so far.
PhaseStatus takeEcho(int fd, const std::vector<unsigned char> &pat,
                     std::vector<unsigned char> *buf, size_t sent, size_t *received);

} // namespace relaybench

#endif
