// The far end of the relay and the load put on the near end: the TCP echo peer, and the
// streams the user's side of the pty writes and checks.
#ifndef RELAYBENCH_PEERS_H
#define RELAYBENCH_PEERS_H

#include "common.h"

#include <atomic>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

namespace relaybench {

// The echo peer: blocking sockets in a thread of its own, one connection at a time, every byte
// sent straight back. Both contenders connect to it in turn.
class EchoPeer
{
public:
    ~EchoPeer() { stop(); }

    bool start(std::string *why);

    void stop();

    int port() const { return m_port; }
    int accepted() const { return m_accepted.load(); }
    bool busy() const { return m_busy.load(); }
    // A paused peer reads nothing, so that the relay's bytes pile up in front of it.
    void pause(bool on) { m_paused = on; }

private:
    void run();
    void serve(int c, std::vector<char> &buf);

    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_accepted{0};
    std::atomic<bool> m_busy{false};
    std::atomic<bool> m_paused{false};
    std::thread m_thread;
};

// The byte expected at each offset of the echo stream: a pattern whose length is prime, so
// a dropped, repeated or swapped block shows up.
const size_t kPatternSize = 65521;
const std::vector<unsigned char> &pattern();

bool writeAll(int fd, const unsigned char *data, size_t size, double stallSeconds,
              PhaseStatus *status);
// Writes the next part of the stream, as much of it as the user's side takes now.
PhaseStatus putStream(int fd, size_t total, size_t *sent);
// Reads what the user's side holds and checks it against the stream: a dropped, repeated or
// reordered byte is an error. `*received` counts the bytes back so far.
PhaseStatus takeEcho(int fd, std::vector<unsigned char> *buf, size_t sent, size_t *received);

} // namespace relaybench

#endif
