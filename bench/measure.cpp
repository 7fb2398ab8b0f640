#include "measure.h"

#include "peers.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <poll.h>
#include <unistd.h>

namespace relaybench {

namespace {

// Where cpuSeconds() reads.
// The run time of each thread in /proc/<pid>/task/*/schedstat counts in nanoseconds; utime and
// stime in /proc/<pid>/stat only in clock ticks (10 ms), too coarse for a phase of a fraction of a
// second, and serve where schedstat is missing.
double cpuFromSchedstat(pid_t pid)
{
    char path[96];
    snprintf(path, sizeof path, "/proc/%d/task", int(pid));
    DIR *dir = opendir(path);
    if (!dir)
        return -1;
    unsigned long long total = 0;
    bool any = false;
    while (const dirent *e = readdir(dir)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9')
            continue;
        char file[320];
        snprintf(file, sizeof file, "/proc/%d/task/%s/schedstat", int(pid), e->d_name);
        FILE *f = fopen(file, "re");
        if (!f)
            continue;
        unsigned long long ns = 0;
        if (fscanf(f, "%llu", &ns) == 1) {
            total += ns;
            any = true;
        }
        fclose(f);
    }
    closedir(dir);
    return any ? double(total) / 1e9 : -1;
}

double cpuFromStat(pid_t pid)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
    FILE *f = fopen(path, "re");
    if (!f)
        return -1;
    char buf[1024];
    const size_t n = fread(buf, 1, sizeof buf - 1, f);
    fclose(f);
    buf[n] = 0;
    // The command name may hold spaces and parentheses: the fields start after the last ')'.
    const char *p = strrchr(buf, ')');
    if (!p)
        return -1;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    // Fields 3..13 skipped, 14 utime, 15 stime.
    if (sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime, &stime)
        != 2)
        return -1;
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

// Round trips of `size`-byte messages, one in flight at a time: microseconds each, `count` of
// them after `warmup` uncounted ones; or, with `forSeconds`, as many as begin in that time.
// `ffHeavy`: every fourth byte is 0xFF (not the first of all), for the Telnet layer to escape.
PhaseStatus roundTrips(int fd, int size, int count, int warmup, const Options &o,
                       std::vector<double> *us, double forSeconds = 0, bool ffHeavy = false)
{
    std::vector<unsigned char> msg(size_t(size), 0);
    std::vector<unsigned char> back(size_t(size), 0);
    const Clock::time_point phaseStart = Clock::now();
    for (int i = 0; forSeconds > 0 ? secondsSince(phaseStart) < forSeconds : i < warmup + count;
         ++i) {
        for (int k = 0; k < size; ++k)
            msg[size_t(k)] = ffHeavy && (i + k) % 4 == 3 ? 0xFF
                                                         : (unsigned char)(i * 131 + k * 7 + size);
        PhaseStatus st;
        const Clock::time_point t0 = Clock::now();
        if (!writeAll(fd, msg.data(), msg.size(), o.stallSeconds, &st))
            return st;
        size_t got = 0;
        Clock::time_point progress = Clock::now();
        while (got < msg.size()) {
            const int left = msLeft(progress, o.stallSeconds);
            if (left == 0)
                return stalled(format("no echo for %d s in round trip %d (%zu of %d bytes back)",
                                      o.stallSeconds, i + 1, got, size));
            pollfd p{fd, POLLIN, 0};
            const int r = poll(&p, 1, left);
            if (r < 0 && errno != EINTR)
                return failed(errnoText("poll"));
            if (r <= 0)
                continue;
            const ssize_t n = read(fd, back.data() + got, msg.size() - got);
            if (n > 0) {
                got += size_t(n);
                progress = Clock::now();
            } else if (n == 0) {
                return failed("the relay closed its side of the pty");
            } else if (errno != EAGAIN && errno != EINTR) {
                return failed(errnoText("read from the user's side (the relay is gone?)"));
            }
        }
        const double t = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
        if (back != msg)
            return failed(format("echo of round trip %d differs from what was sent", i + 1));
        if (i >= warmup)
            us->push_back(t);
        if (secondsSince(phaseStart) > o.phaseSeconds)
            return failed(format("phase time limit of %d s reached after %d round trips",
                                 o.phaseSeconds, i + 1));
    }
    return {};
}

struct Throughput
{
    double seconds = 0;
    double cpu = -1; // CPU seconds of the relay process during the transfer
};

// Sends `total` bytes and reads the echo at the same time from the (nonblocking) descriptor.
PhaseStatus echoThroughput(int fd, pid_t relay, size_t total, const Options &o, Throughput *res,
                           const std::vector<unsigned char> &pat = pattern())
{
    std::vector<unsigned char> rbuf(64 * 1024);
    size_t sent = 0;
    size_t received = 0;
    PhaseStatus status;
    const double cpu0 = cpuSeconds(relay);
    const Clock::time_point t0 = Clock::now();
    Clock::time_point progress = t0;
    while (received < total && status.outcome == Outcome::Ok) {
        const int left = msLeft(progress, o.stallSeconds);
        if (left == 0) {
            status = stalled(format("no progress for %d s (sent %zu of %zu bytes, %zu echoed "
                                    "back)",
                                    o.stallSeconds, sent, total, received));
            break;
        }
        if (secondsSince(t0) > o.phaseSeconds) {
            status = failed(format("phase time limit of %d s reached (sent %zu of %zu bytes, "
                                   "%zu echoed back)",
                                   o.phaseSeconds, sent, total, received));
            break;
        }
        pollfd p{fd, short(POLLIN | (sent < total ? POLLOUT : 0)), 0};
        const int r = poll(&p, 1, std::min(left, 1000));
        if (r < 0 && errno != EINTR) {
            status = failed(errnoText("poll"));
            break;
        }
        if (r <= 0)
            continue;
        const size_t moved = sent + received;
        if (p.revents & POLLIN)
            status = takeEcho(fd, pat, &rbuf, sent, &received);
        else if (p.revents & (POLLERR | POLLHUP | POLLNVAL))
            status = failed("the user's side of the pty hung up");
        if (status.outcome == Outcome::Ok && (p.revents & POLLOUT) && sent < total)
            status = putStream(fd, pat, total, &sent);
        if (sent + received != moved)
            progress = Clock::now();
    }
    res->seconds = secondsSince(t0);
    const double cpu1 = cpuSeconds(relay);
    res->cpu = (cpu0 >= 0 && cpu1 >= 0) ? cpu1 - cpu0 : -1;
    return status;
}

// Resident memory of a process from /proc/<pid>/status, in bytes: VmRSS now and VmHWM, its peak
// so far. Negative where unknown.
struct Memory
{
    double rss = -1;
    double hwm = -1;
};

Memory memoryOf(pid_t pid)
{
    Memory m;
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/status", int(pid));
    FILE *f = fopen(path, "re");
    if (!f)
        return m;
    char line[256];
    while (fgets(line, sizeof line, f)) {
        unsigned long long kb = 0;
        if (sscanf(line, "VmRSS: %llu kB", &kb) == 1)
            m.rss = double(kb) * 1024.0;
        else if (sscanf(line, "VmHWM: %llu kB", &kb) == 1)
            m.hwm = double(kb) * 1024.0;
    }
    fclose(f);
    return m;
}

struct Backlog
{
    size_t sent = 0;          // bytes the user's side took while the stop lasted
    double writerHeld = -1;   // seconds into the stop of the last byte the user's side took
    double rssBefore = -1;    // VmRSS of the relay just before the stop, bytes
    double rssGrowth = -1;    // highest VmRSS sampled over the stop and the drain, less rssBefore
    double hwmGrowth = -1;    // VmHWM after the drain less VmHWM before the stop
    double drainSeconds = -1; // from the end of the stop until the last byte was back
    bool inOrder = false;     // every byte sent came back, in order
};

// One side stops reading for `o.backlogSeconds` while the user's side keeps writing; then the
// user's side stops writing and everything is read back and checked. `peerStops`: the TCP peer
// stops reading; otherwise the user's side (COM-WORK) does not read its echo, so the peer's
// sending backs up instead. The relay's memory is sampled all along.
PhaseStatus backlog(int fd, pid_t relay, EchoPeer *peer, bool peerStops, const Options &o,
                    Backlog *res)
{
    std::vector<unsigned char> rbuf(64 * 1024);
    size_t sent = 0;
    size_t received = 0;
    const Memory before = memoryOf(relay);
    double peak = before.rss;
    Clock::time_point sampled = Clock::now();
    auto sample = [&]() {
        if (secondsSince(sampled) < 0.01)
            return;
        sampled = Clock::now();
        peak = std::max(peak, memoryOf(relay).rss);
    };

    PhaseStatus status;
    if (peerStops)
        peer->pause(true);
    const Clock::time_point t0 = Clock::now();
    while (status.outcome == Outcome::Ok && secondsSince(t0) < o.backlogSeconds) {
        pollfd p{fd, short(POLLOUT | (peerStops ? POLLIN : 0)), 0};
        const int r = poll(&p, 1, 10);
        sample();
        if (r < 0 && errno != EINTR)
            status = failed(errnoText("poll"));
        if (r <= 0)
            continue;
        if (p.revents & POLLIN)
            status = takeEcho(fd, pattern(), &rbuf, sent, &received);
        else if (p.revents & (POLLERR | POLLHUP | POLLNVAL))
            status = failed("the user's side of the pty hung up");
        const size_t was = sent;
        if (status.outcome == Outcome::Ok && (p.revents & POLLOUT))
            status = putStream(fd, pattern(), SIZE_MAX, &sent);
        if (sent != was)
            res->writerHeld = secondsSince(t0);
    }
    peer->pause(false);
    res->sent = sent;

    const Clock::time_point t1 = Clock::now();
    Clock::time_point progress = t1;
    while (status.outcome == Outcome::Ok && received < sent) {
        const int left = msLeft(progress, o.stallSeconds);
        if (left == 0) {
            status = stalled(format("no progress for %d s after the stop (%zu of %zu bytes back)",
                                    o.stallSeconds, received, sent));
            break;
        }
        if (secondsSince(t1) > o.phaseSeconds) {
            status = failed(format("phase time limit of %d s reached after the stop (%zu of %zu "
                                   "bytes back)",
                                   o.phaseSeconds, received, sent));
            break;
        }
        pollfd p{fd, POLLIN, 0};
        const int r = poll(&p, 1, std::min(left, 10));
        sample();
        if (r < 0 && errno != EINTR)
            status = failed(errnoText("poll"));
        if (r <= 0)
            continue;
        const size_t was = received;
        if (p.revents & POLLIN)
            status = takeEcho(fd, pattern(), &rbuf, sent, &received);
        else if (p.revents & (POLLERR | POLLHUP | POLLNVAL))
            status = failed("the user's side of the pty hung up");
        if (received != was)
            progress = Clock::now();
    }
    res->drainSeconds = secondsSince(t1);
    const Memory after = memoryOf(relay);
    if (before.rss >= 0 && after.rss >= 0) {
        res->rssBefore = before.rss;
        res->rssGrowth = std::max(peak, after.rss) - before.rss;
    }
    if (before.hwm >= 0 && after.hwm >= 0)
        res->hwmGrowth = after.hwm - before.hwm;
    res->inOrder = status.outcome == Outcome::Ok && received == sent;
    return status;
}

// Records a phase that did not complete; true when it did.
bool note(RunResult *r, const char *phase, const PhaseStatus &st)
{
    if (st.outcome == Outcome::Ok)
        return true;
    if (st.outcome == Outcome::Stall)
        r->stall = true;
    r->problems.push_back(std::string(st.outcome == Outcome::Stall ? "STALL in " : "error in ")
                          + phase + ": " + st.what);
    return false;
}

} // namespace

double cpuSeconds(pid_t pid)
{
    const double precise = cpuFromSchedstat(pid);
    return precise >= 0 ? precise : cpuFromStat(pid);
}

void measureRelay(const Session &s, const Options &o, bool ffHeavy, RunResult *r)
{
    const int user = s.users[0];
    const int warmup = std::min(100, std::max(10, o.rttCount / 20));
    std::vector<double> us;
    const double cpu0 = cpuSeconds(s.pid);
    if (!note(r, "1-byte round trips",
              roundTrips(user, 1, o.rttCount, warmup, o, &us, 0, ffHeavy)))
        return;
    r->m[Rtt1P50] = percentile(us, 50);
    r->m[Rtt1P99] = percentile(us, 99);
    us.clear();
    if (!note(r, "64-byte round trips",
              roundTrips(user, 64, o.rttCount, warmup, o, &us, 0, ffHeavy)))
        return;
    r->m[Rtt64P50] = percentile(us, 50);
    r->m[Rtt64P99] = percentile(us, 99);
    const double cpu1 = cpuSeconds(s.pid);
    if (cpu0 >= 0 && cpu1 >= 0)
        r->m[CpuPerRt] = (cpu1 - cpu0) * 1e6 / (2.0 * (warmup + o.rttCount));
    const size_t total = size_t(o.mib) * 1024 * 1024;
    Throughput t;
    if (!note(r, "echo throughput",
              echoThroughput(user, s.pid, total, o, &t, pattern(ffHeavy))))
        return;
    r->m[EchoMBps] = double(total) / t.seconds / 1e6;
    if (t.cpu >= 0) {
        r->m[CpuSec] = t.cpu;
        r->m[CpuPerMiB] = t.cpu / double(o.mib);
    }
}

// The machine's busy and total time so far, over all its cores, from /proc/stat (in ticks);
// false where unknown.
static bool machineTicks(unsigned long long *busy, unsigned long long *total)
{
    FILE *f = fopen("/proc/stat", "re");
    if (!f)
        return false;
    unsigned long long v[8] = {};
    const int got = fscanf(f, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &v[0], &v[1], &v[2],
                           &v[3], &v[4], &v[5], &v[6], &v[7]);
    fclose(f);
    if (got < 5)
        return false;
    *total = 0;
    for (unsigned long long x : v)
        *total += x;
    *busy = *total - v[3] - v[4]; // less idle and iowait
    return true;
}

void measureFour(const Session &s, const Options &o, RunResult *r)
{
    const size_t n = s.users.size();
    const std::vector<unsigned char> &pat = pattern();
    std::vector<unsigned char> rbuf(64 * 1024);
    std::vector<size_t> sent(n, 0);
    std::vector<size_t> received(n, 0);
    std::vector<size_t> inWindow;
    std::vector<pollfd> polled(n);
    double window = 0;
    double cpu = -1;
    double own = -1;
    PhaseStatus status;
    double busy = -1;
    unsigned long long busy0 = 0, ticks0 = 0;
    const bool machine0 = machineTicks(&busy0, &ticks0);
    const double cpu0 = cpuSeconds(s.pid);
    const double own0 = cpuSeconds(getpid());
    const Clock::time_point t0 = Clock::now();
    Clock::time_point progress = t0;
    for (;;) {
        if (inWindow.empty() && secondsSince(t0) >= o.fourSeconds) {
            window = secondsSince(t0);
            unsigned long long busy1 = 0, ticks1 = 0;
            if (machine0 && machineTicks(&busy1, &ticks1) && ticks1 > ticks0)
                busy = 100.0 * double(busy1 - busy0) / double(ticks1 - ticks0);
            const double cpu1 = cpuSeconds(s.pid);
            const double own1 = cpuSeconds(getpid());
            cpu = cpu0 >= 0 && cpu1 >= 0 ? cpu1 - cpu0 : -1;
            own = own0 >= 0 && own1 >= 0 ? own1 - own0 : -1;
            inWindow = received;
        }
        if (!inWindow.empty() && received == sent)
            break;
        const int left = msLeft(progress, o.stallSeconds);
        if (left == 0) {
            status = stalled(format("no progress for %d s (%s the window)", o.stallSeconds,
                                    inWindow.empty() ? "in" : "after"));
            break;
        }
        if (secondsSince(t0) > o.fourSeconds + o.phaseSeconds) {
            status = failed(format("phase time limit of %d s reached", o.phaseSeconds));
            break;
        }
        for (size_t k = 0; k < n; ++k)
            polled[k] = {s.users[k], short(POLLIN | (inWindow.empty() ? POLLOUT : 0)), 0};
        const int ready = poll(polled.data(), nfds_t(n), std::min(left, 10));
        if (ready < 0 && errno != EINTR) {
            status = failed(errnoText("poll"));
            break;
        }
        bool moved = false;
        for (size_t k = 0; k < n && ready > 0 && status.outcome == Outcome::Ok; ++k) {
            const size_t was = sent[k] + received[k];
            const short ev = polled[k].revents;
            if (ev & POLLIN)
                status = takeEcho(s.users[k], pat, &rbuf, sent[k], &received[k]);
            else if (ev & (POLLERR | POLLHUP | POLLNVAL))
                status = failed(format("the user's side of connection %zu hung up", k + 1));
            if (status.outcome == Outcome::Ok && (ev & POLLOUT) && inWindow.empty())
                status = putStream(s.users[k], pat, SIZE_MAX, &sent[k]);
            if (status.outcome != Outcome::Ok)
                status.what = format("connection %zu: ", k + 1) + status.what;
            moved = moved || sent[k] + received[k] != was;
        }
        if (status.outcome != Outcome::Ok)
            break;
        if (moved)
            progress = Clock::now();
    }
    if (!note(r, "streams", status) || inWindow.empty())
        return;
    double total = 0;
    for (size_t k = 0; k < n; ++k)
        total += double(inWindow[k]);
    if (total <= 0 || window <= 0)
        return;
    r->m[AggMBps] = total / window / 1e6;
    double least = 100;
    for (size_t k = 0; k < n && k < 4; ++k) {
        r->m[Share1 + k] = 100.0 * double(inWindow[k]) / total;
        least = std::min(least, r->m[Share1 + k]);
    }
    if (n > 1)
        r->m[MinShare] = least;
    if (cpu >= 0) {
        r->m[FourCpuPerMiB] = cpu / (total / 1048576.0);
        r->m[RelayCores] = 100.0 * cpu / window;
    }
    if (own >= 0)
        r->m[BenchCores] = 100.0 * own / window;
    if (busy >= 0)
        r->m[MachineBusy] = busy;
}

// 64-byte round trips for as long as the bridge holds its main thread up, then as many again
// with the thread free.
void measureBlocked(Session *s, const Options &o, RunResult *r)
{
    std::vector<double> during;
    std::vector<double> after;
    if (!note(r, "warm-up round trips", roundTrips(s->users[0], 64, 0, 50, o, &during)))
        return;
    during.clear();
    const std::string command =
        format("block %s %d\n", o.blockBusy ? "busy" : "sleep", o.blockSeconds * 1000);
    if (write(s->control, command.data(), command.size()) != ssize_t(command.size())) {
        r->problems.push_back(errnoText("error asking for the block: write"));
        return;
    }
    std::string line;
    if (readStatusLine(s, o.stallSeconds, &line) != LineRead::Ok || line != "blocking") {
        r->problems.push_back("error: the bridge did not start the block (\"" + line + "\")");
        return;
    }
    if (!note(r, "round trips during the block",
              roundTrips(s->users[0], 64, 0, 0, o, &during, o.blockSeconds)))
        return;
    double ms = 0;
    if (readStatusLine(s, o.blockSeconds + o.stallSeconds, &line) != LineRead::Ok
        || sscanf(line.c_str(), "unblocked %lf", &ms) != 1) {
        r->problems.push_back("error: the bridge did not end the block (\"" + line + "\")");
        return;
    }
    r->m[BlockS] = ms / 1000.0;
    r->m[BlockCount] = double(during.size());
    r->m[BlockMax] = percentile(during, 100);
    r->m[BlockP99] = percentile(during, 99);
    r->m[BlockP50] = percentile(during, 50);
    if (!note(r, "round trips after the block",
              roundTrips(s->users[0], 64, int(during.size()), 0, o, &after)))
        return;
    r->m[FreeMax] = percentile(after, 100);
    r->m[FreeP99] = percentile(after, 99);
    r->m[FreeP50] = percentile(after, 50);
}

void measureBacklog(const Session &s, EchoPeer *peer, bool peerStops, const Options &o,
                    RunResult *r)
{
    // The relay's buffers are in use before its memory is taken as the base.
    Throughput warm;
    if (!note(r, "warm-up echo", echoThroughput(s.users[0], s.pid, 1024 * 1024, o, &warm)))
        return;
    Backlog b;
    const PhaseStatus st = backlog(s.users[0], s.pid, peer, peerStops, o, &b);
    const double mb = 1e6;
    r->m[SentMB] = double(b.sent) / mb;
    if (b.writerHeld >= 0)
        r->m[WriterHeld] = b.writerHeld;
    if (b.rssBefore >= 0) {
        r->m[RssMB] = b.rssBefore / mb;
        r->m[RssGrowthMB] = b.rssGrowth / mb;
    }
    if (b.hwmGrowth >= 0)
        r->m[HwmGrowthMB] = b.hwmGrowth / mb;
    r->m[DrainS] = b.drainSeconds;
    r->m[InOrder] = b.inOrder ? 1 : 0;
    note(r, peerStops ? "backlog, peer stopped" : "backlog, COM-WORK stopped", st);
}

} // namespace relaybench
