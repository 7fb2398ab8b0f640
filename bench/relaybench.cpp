// relaybench: round-trip time, echo throughput and CPU cost of the serial-to-TCP bridge
// (QPipeItem), side by side with socat doing the same pty <-> TCP relay. Both contenders run in
// the same invocation, take turns, and talk to the same echo peer on 127.0.0.1. README.md
// beside this file tells how to run it and how to read what it prints.
//
// Two modes in one executable:
//   relaybench [options]                 the driver: echo peer, pty, contenders, measurements
//   relaybench --bridge <pty> <port>     one QPipeItem in its own process, started by the driver

#include "monitor.h"
#include "qpipemap.h"

#include <QApplication>

#include <memory>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QVariantMap>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

int msLeft(Clock::time_point since, double limitSeconds)
{
    const double left = limitSeconds - secondsSince(since);
    if (left <= 0)
        return 0;
    return int(std::ceil(left * 1000.0));
}

std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

std::string format(const char *fmt, ...)
{
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

std::string errnoText(const char *what)
{
    return format("%s: %s", what, strerror(errno));
}

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// ---------------------------------------------------------------------------------------------
// Bridge mode: one QPipeItem on the given pty slave and TCP port, until stdin closes or SIGTERM.

int g_termPipe[2] = {-1, -1};

void onTermSignal(int)
{
    const char c = 1;
    const ssize_t n = write(g_termPipe[1], &c, 1);
    (void)n;
}

int runBridge(int argc, char **argv)
{
    const bool watched = argc == 5 && strcmp(argv[4], "--monitor") == 0;
    if (argc != 4 && !watched) {
        fprintf(stderr, "usage: relaybench --bridge <pty slave path> <tcp port> [--monitor]\n");
        return 2;
    }
    const QString ptyPath = QString::fromLocal8Bit(argv[2]);
    const int port = atoi(argv[3]);

    int qtArgc = 1;
    // With --monitor the traffic monitor watches the bridge, as it does in the program when the
    // user opens it: a widget application, drawn on the offscreen platform unless told otherwise.
    if (watched && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::unique_ptr<QCoreApplication> application(watched ? new QApplication(qtArgc, argv)
                                                          : new QCoreApplication(qtArgc, argv));
    QCoreApplication &app = *application;

    if (pipe2(g_termPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        perror("relaybench --bridge: pipe2");
        return 2;
    }
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = onTermSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    QPipeItem item(QStringLiteral("Pipe"));
    item.setPropertyMap({{QStringLiteral("id"), 1},
                         {QStringLiteral("name"), QStringLiteral("b")},
                         {QStringLiteral("port_work"), QStringLiteral("x")},
                         {QStringLiteral("port_null"), ptyPath},
                         {QStringLiteral("ipaddr"), QStringLiteral("127.0.0.1")},
                         {QStringLiteral("ipport"), port}});
    item.onConnection();
    if (item.state() != QPipeItem::PipeConnect) {
        fprintf(stderr,
                "relaybench --bridge: state %d after onConnection(), not PipeConnect (%d)\n",
                int(item.state()), int(QPipeItem::PipeConnect));
        return 3;
    }

    std::unique_ptr<Monitor> monitor;
    if (watched) {
        monitor.reset(new Monitor);
        QObject::connect(&item, &QPipeItem::readSerialBuffer, monitor.get(), &Monitor::onShowSerial);
        QObject::connect(&item, &QPipeItem::readSocketBuffer, monitor.get(), &Monitor::onShowSocket);
        monitor->show();
    }

    QSocketNotifier term(g_termPipe[0], QSocketNotifier::Read);
    QObject::connect(&term, &QSocketNotifier::activated, &app, [&app]() { app.quit(); });

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&app, &input]() {
        char buf[256];
        const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
            input.setEnabled(false);
            app.quit();
        }
    });

    printf("ready\n");
    fflush(stdout);
    const int rc = app.exec();
    item.onDisconnection();
    return rc;
}

// ---------------------------------------------------------------------------------------------
// Driver: what outlives a crash or a signal

std::atomic<pid_t> g_child{0};
char g_linkPath[256];
char g_tmpDir[256];

void cleanupAndExit(int sig)
{
    // SIGTERM first so that the bridge closes its port and leaves no lock file behind; SIGKILL
    // for one that does not go within a second.
    const pid_t pid = g_child.load();
    if (pid > 0) {
        kill(pid, SIGTERM);
        const timespec tick{0, 10 * 1000 * 1000};
        int status = 0;
        int waited = 0;
        while (waitpid(pid, &status, WNOHANG) == 0 && ++waited <= 100)
            nanosleep(&tick, nullptr);
        if (waited > 100)
            kill(pid, SIGKILL);
    }
    if (g_linkPath[0])
        unlink(g_linkPath);
    if (g_tmpDir[0])
        rmdir(g_tmpDir);
    const char *msg = sig == SIGALRM ? "\nrelaybench: overall time limit reached, giving up\n"
                                     : "\nrelaybench: interrupted\n";
    const ssize_t n = write(STDERR_FILENO, msg, strlen(msg));
    (void)n;
    _exit(sig == SIGALRM ? 4 : 130);
}

struct Options
{
    int rounds = 5;
    int rttCount = 2000;
    int mib = 16;
    int stallSeconds = 10;
    int phaseSeconds = 120;
    bool monitor = false;
};

// ---------------------------------------------------------------------------------------------
// The echo peer: blocking sockets in a thread of its own, one connection at a time, every byte
// sent straight back. Both contenders connect to it in turn.

class EchoPeer
{
public:
    ~EchoPeer() { stop(); }

    bool start(std::string *why)
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

    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_listen >= 0)
            close(m_listen);
        m_listen = -1;
    }

    int port() const { return m_port; }
    int accepted() const { return m_accepted.load(); }
    bool busy() const { return m_busy.load(); }

private:
    void run()
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

    void serve(int c, std::vector<char> &buf)
    {
        while (!m_stop) {
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

    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_accepted{0};
    std::atomic<bool> m_busy{false};
    std::thread m_thread;
};

// ---------------------------------------------------------------------------------------------
// Processes and terminals

bool makeRaw(int fd, std::string *why)
{
    termios t;
    if (tcgetattr(fd, &t) != 0) {
        *why = errnoText("tcgetattr");
        return false;
    }
    cfmakeraw(&t);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        *why = errnoText("tcsetattr");
        return false;
    }
    if (tcgetattr(fd, &t) != 0 || (t.c_lflag & (ECHO | ICANON)) != 0) {
        *why = "the terminal still echoes or is line-buffered after tcsetattr";
        return false;
    }
    return true;
}

bool setNonBlocking(int fd, bool on)
{
    const int fl = fcntl(fd, F_GETFL);
    if (fl < 0)
        return false;
    return fcntl(fd, F_SETFL, on ? (fl | O_NONBLOCK) : (fl & ~O_NONBLOCK)) == 0;
}

// fork + exec with the given standard input and output (-1: /dev/null). The child goes when the
// driver does. Everything the child runs before exec is async-signal-safe: the peer thread exists.
pid_t spawn(const std::string &path, const std::vector<std::string> &args, int in, int out,
            std::string *why)
{
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    const int devnull = open("/dev/null", O_RDWR | O_CLOEXEC);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        *why = errnoText("fork");
        if (devnull >= 0)
            close(devnull);
        return -1;
    }
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        dup2(in >= 0 ? in : devnull, STDIN_FILENO);
        dup2(out >= 0 ? out : devnull, STDOUT_FILENO);
        signal(SIGPIPE, SIG_DFL);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    if (devnull >= 0)
        close(devnull);
    g_child = pid;
    return pid;
}

// Waits up to `seconds` for the child to end; true when it has (and then it is reaped).
bool reap(pid_t pid, double seconds, int *status)
{
    const Clock::time_point t0 = Clock::now();
    for (;;) {
        const pid_t r = waitpid(pid, status, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD))
            return true;
        if (secondsSince(t0) >= seconds)
            return false;
        sleepMs(5);
    }
}

std::string describeStatus(int status)
{
    if (WIFEXITED(status))
        return format("exit code %d", WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return format("signal %d", WTERMSIG(status));
    return "unknown status";
}

// Ends a child: `grace` seconds to go by itself (its input closed), then SIGTERM, then SIGKILL.
// Returns how it ended.
std::string finish(pid_t pid, double grace = 3.0)
{
    int status = 0;
    std::string how;
    if (!reap(pid, grace, &status)) {
        kill(pid, SIGTERM);
        how = " (after SIGTERM)";
        if (!reap(pid, 3.0, &status)) {
            kill(pid, SIGKILL);
            how = " (after SIGKILL)";
            reap(pid, 5.0, &status);
        }
    }
    g_child = 0;
    return describeStatus(status) + how;
}

// CPU seconds (user + system, all threads) the process has used so far; negative if unknown.
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

double cpuSeconds(pid_t pid)
{
    const double precise = cpuFromSchedstat(pid);
    return precise >= 0 ? precise : cpuFromStat(pid);
}

std::string loadAverage()
{
    FILE *f = fopen("/proc/loadavg", "re");
    if (!f)
        return "unknown";
    char buf[128] = {0};
    if (!fgets(buf, sizeof buf, f))
        buf[0] = 0;
    fclose(f);
    std::string s(buf);
    // "1.00 0.50 0.25 2/123 4567": the first three are the averages.
    size_t cut = 0;
    for (int spaces = 0; cut < s.size(); ++cut) {
        if (s[cut] == ' ' && ++spaces == 3)
            break;
    }
    return s.substr(0, cut);
}

std::string findOnPath(const char *name)
{
    const char *path = getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        if (dir.empty())
            dir = ".";
        const std::string candidate = dir + "/" + name;
        struct stat st;
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode)
            && access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return std::string();
}

// ---------------------------------------------------------------------------------------------
// Measurements from the user's side of the pty

enum class Outcome { Ok, Stall, Error };

struct PhaseStatus
{
    Outcome outcome = Outcome::Ok;
    std::string what;
};

PhaseStatus stalled(const std::string &what)
{
    return {Outcome::Stall, what};
}

PhaseStatus failed(const std::string &what)
{
    return {Outcome::Error, what};
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

// Round trips of `size`-byte messages, one in flight at a time: microseconds each, `count` of
// them after `warmup` uncounted ones.
PhaseStatus roundTrips(int fd, int size, int count, int warmup, const Options &o,
                       std::vector<double> *us)
{
    std::vector<unsigned char> msg(size_t(size), 0);
    std::vector<unsigned char> back(size_t(size), 0);
    const Clock::time_point phaseStart = Clock::now();
    for (int i = 0; i < warmup + count; ++i) {
        for (int k = 0; k < size; ++k)
            msg[size_t(k)] = (unsigned char)(i * 131 + k * 7 + size);
        PhaseStatus st;
        const Clock::time_point t0 = Clock::now();
        if (!writeAll(fd, msg.data(), msg.size(), o.stallSeconds, &st))
            return st;
        size_t got = 0;
        Clock::time_point progress = Clock::now();
        while (got < msg.size()) {
            const int left = msLeft(progress, o.stallSeconds);
            if (left == 0)
                return stalled(format("no echo for %d s in round trip %d of %d (%zu of %d bytes "
                                      "back)",
                                      o.stallSeconds, i + 1, warmup + count, got, size));
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

// The byte expected at each offset of the echo stream: a pattern whose length is prime, so
// a dropped, repeated or swapped block shows up.
const size_t kPatternSize = 65521;

std::vector<unsigned char> makePattern()
{
    std::vector<unsigned char> pat(kPatternSize);
    unsigned x = 12345u;
    for (unsigned char &c : pat) {
        x = x * 1103515245u + 12345u;
        c = (unsigned char)(x >> 16);
    }
    return pat;
}

struct Throughput
{
    double seconds = 0;
    double cpu = -1; // CPU seconds of the relay process during the transfer
};

// Sends `total` bytes and reads the echo at the same time from the (nonblocking) descriptor.
PhaseStatus echoThroughput(int fd, pid_t relay, size_t total, const Options &o, Throughput *res)
{
    static const std::vector<unsigned char> pat = makePattern();
    std::vector<unsigned char> rbuf(64 * 1024);
    size_t sent = 0;
    size_t received = 0;
    PhaseStatus status;
    const double cpu0 = cpuSeconds(relay);
    const Clock::time_point t0 = Clock::now();
    Clock::time_point progress = t0;
    while (received < total) {
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
        if (p.revents & POLLIN) {
            const ssize_t n = read(fd, rbuf.data(), rbuf.size());
            if (n > 0) {
                if (received + size_t(n) > total) {
                    status = failed("more bytes came back than were sent");
                    break;
                }
                for (ssize_t k = 0; k < n; ++k) {
                    if (rbuf[size_t(k)] != pat[(received + size_t(k)) % kPatternSize]) {
                        status = failed(format("echo differs from what was sent at offset %zu",
                                               received + size_t(k)));
                        break;
                    }
                }
                if (status.outcome != Outcome::Ok)
                    break;
                received += size_t(n);
                progress = Clock::now();
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                status = failed(n == 0 ? std::string("the relay closed its side of the pty")
                                       : errnoText("read from the user's side"));
                break;
            }
        } else if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) {
            status = failed("the user's side of the pty hung up");
            break;
        }
        if ((p.revents & POLLOUT) && sent < total) {
            const size_t at = sent % kPatternSize;
            const size_t chunk = std::min({size_t(16384), total - sent, kPatternSize - at});
            const ssize_t w = write(fd, pat.data() + at, chunk);
            if (w > 0) {
                sent += size_t(w);
                progress = Clock::now();
            } else if (w < 0 && errno != EAGAIN && errno != EINTR) {
                status = failed(errnoText("write to the user's side"));
                break;
            }
        }
    }
    res->seconds = secondsSince(t0);
    const double cpu1 = cpuSeconds(relay);
    res->cpu = (cpu0 >= 0 && cpu1 >= 0) ? cpu1 - cpu0 : -1;
    return status;
}

// ---------------------------------------------------------------------------------------------
// One contender, one round

enum class Contender { Bridge, Socat };

const char *contenderName(Contender c)
{
    return c == Contender::Bridge ? "bridge" : "socat";
}

// The columns of the table.
enum Metric {
    Rtt1P50,   // us
    Rtt1P99,   // us
    Rtt64P50,  // us
    Rtt64P99,  // us
    CpuPerRt,  // us of the relay's CPU per round trip, both sizes, warm-up included
    EchoMBps,  // MB/s
    CpuSec,    // s of the relay's CPU in the throughput phase
    CpuPerMiB, // the same per MiB sent
    kMetrics
};

struct RunResult
{
    Contender who = Contender::Bridge;
    int round = 0;
    bool stall = false;
    std::vector<std::string> problems;
    // Indexed by Metric; NaN where the phase did not complete.
    double m[kMetrics] = {NAN, NAN, NAN, NAN, NAN, NAN, NAN, NAN};
};

double percentile(std::vector<double> v, double pct)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    // Nearest rank.
    size_t rank = size_t(std::ceil(pct / 100.0 * double(v.size())));
    rank = std::max<size_t>(rank, 1);
    return v[std::min(rank, v.size()) - 1];
}

double median(std::vector<double> v)
{
    v.erase(std::remove_if(v.begin(), v.end(), [](double x) { return std::isnan(x); }), v.end());
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

// What a started contender leaves to the driver: the user's side and what to close at the end.
struct Session
{
    pid_t pid = -1;
    int user = -1;    // the user's side of the pty: measurements run here
    int keep = -1;    // held open for the run only (the bridge's slave, against hang-ups)
    int control = -1; // the bridge's standard input: closing it ends the bridge
    int status = -1;  // the bridge's standard output
};

void closeFd(int *fd)
{
    if (*fd >= 0)
        close(*fd);
    *fd = -1;
}

// True once the child has ended; it stays unreaped, for finish() to tell how it ended.
bool hasEnded(pid_t pid)
{
    siginfo_t si;
    memset(&si, 0, sizeof si);
    if (waitid(P_PID, id_t(pid), &si, WEXITED | WNOHANG | WNOWAIT) != 0)
        return errno == ECHILD;
    return si.si_pid == pid;
}

bool waitForPeerConnection(const EchoPeer &peer, int before, pid_t pid, double seconds)
{
    const Clock::time_point t0 = Clock::now();
    while (peer.accepted() <= before) {
        if (hasEnded(pid) || secondsSince(t0) >= seconds)
            return false;
        sleepMs(2);
    }
    return true;
}

bool startBridge(const std::string &self, const EchoPeer &peer, const Options &o, Session *s,
                 std::string *why)
{
    // The driver makes the pty and keeps the master as the user's side; the bridge opens the
    // slave by its path, as the program opens the COM-NULL device.
    s->user = posix_openpt(O_RDWR | O_NOCTTY);
    if (s->user < 0) {
        *why = errnoText("posix_openpt");
        return false;
    }
    fcntl(s->user, F_SETFD, FD_CLOEXEC);
    char name[128];
    if (grantpt(s->user) != 0 || unlockpt(s->user) != 0 || ptsname_r(s->user, name, sizeof name)) {
        *why = errnoText("grantpt/unlockpt/ptsname");
        return false;
    }
    // Raw and without echo before any byte flows; the slave stays open in the driver for the
    // run so that the pty keeps these settings whatever the bridge does.
    s->keep = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (s->keep < 0) {
        *why = errnoText("open pty slave");
        return false;
    }
    if (!makeRaw(s->keep, why))
        return false;

    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
        *why = errnoText("pipe2");
        return false;
    }
    const int before = peer.accepted();
    std::vector<std::string> args{"relaybench", "--bridge", name, std::to_string(peer.port())};
    if (o.monitor)
        args.push_back("--monitor");
    s->pid = spawn(self, args, in[0], out[1], why);
    close(in[0]);
    close(out[1]);
    s->control = in[1];
    s->status = out[0];
    if (s->pid < 0)
        return false;

    // "ready" on its standard output once onConnection() opened both sides.
    std::string line;
    const Clock::time_point t0 = Clock::now();
    while (line.find('\n') == std::string::npos) {
        const int left = msLeft(t0, o.stallSeconds);
        if (left == 0) {
            *why = format("the bridge did not report ready within %d s", o.stallSeconds);
            return false;
        }
        pollfd p{s->status, POLLIN, 0};
        if (poll(&p, 1, left) <= 0)
            continue;
        char buf[64];
        const ssize_t n = read(s->status, buf, sizeof buf);
        if (n <= 0) {
            const pid_t pid = s->pid;
            s->pid = -1;
            *why = "the bridge ended before it was ready: " + finish(pid);
            return false;
        }
        line.append(buf, size_t(n));
    }
    if (line.compare(0, 5, "ready") != 0) {
        *why = "the bridge said \"" + line.substr(0, line.find('\n')) + "\" instead of ready";
        return false;
    }
    if (!waitForPeerConnection(peer, before, s->pid, o.stallSeconds)) {
        *why = "the echo peer saw no connection from the bridge";
        return false;
    }
    return true;
}

bool startSocat(const std::string &socat, const std::string &link, const EchoPeer &peer,
                const Options &o, Session *s, std::string *why)
{
    // socat makes the pty and holds its master; the driver opens the slave through the link.
    unlink(link.c_str());
    const int before = peer.accepted();
    s->pid = spawn(socat,
                   {"socat", "pty,raw,echo=0,link=" + link,
                    "tcp:127.0.0.1:" + std::to_string(peer.port())},
                   -1, -1, why);
    if (s->pid < 0)
        return false;
    const Clock::time_point t0 = Clock::now();
    for (;;) {
        s->user = open(link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (s->user >= 0)
            break;
        if (hasEnded(s->pid)) {
            const pid_t pid = s->pid;
            s->pid = -1;
            *why = "socat ended before its pty appeared: " + finish(pid);
            return false;
        }
        if (secondsSince(t0) >= o.stallSeconds) {
            *why = format("socat's pty link %s did not appear within %d s", link.c_str(),
                          o.stallSeconds);
            return false;
        }
        sleepMs(2);
    }
    if (!makeRaw(s->user, why))
        return false;
    if (!waitForPeerConnection(peer, before, s->pid, o.stallSeconds)) {
        *why = "the echo peer saw no connection from socat";
        return false;
    }
    return true;
}

// Ends the contender. The bridge goes by itself once its standard input closes; socat is told
// with SIGTERM, its usual way to stop, after the user's side has closed.
std::string stopSession(Session *s)
{
    std::string how;
    const bool bridge = s->control >= 0;
    closeFd(&s->control);
    if (!bridge)
        closeFd(&s->user);
    if (s->pid > 0) {
        how = finish(s->pid, bridge ? 3.0 : 0.0);
        s->pid = -1;
    }
    closeFd(&s->user);
    closeFd(&s->keep);
    closeFd(&s->status);
    return how;
}

RunResult runOne(Contender who, int round, const std::string &self, const std::string &socat,
                 const std::string &link, const EchoPeer &peer, const Options &o)
{
    RunResult r;
    r.who = who;
    r.round = round;

    // One connection at a time: the previous contender's must be gone from the peer.
    const Clock::time_point t0 = Clock::now();
    while (peer.busy() && secondsSince(t0) < o.stallSeconds)
        sleepMs(5);
    if (peer.busy()) {
        r.problems.push_back("the echo peer still serves the previous connection");
        return r;
    }

    Session s;
    std::string why;
    const bool up = who == Contender::Bridge ? startBridge(self, peer, o, &s, &why)
                                             : startSocat(socat, link, peer, o, &s, &why);
    if (!up) {
        r.problems.push_back("start: " + why);
        stopSession(&s);
        return r;
    }

    auto note = [&r](const char *phase, const PhaseStatus &st) {
        if (st.outcome == Outcome::Ok)
            return true;
        if (st.outcome == Outcome::Stall)
            r.stall = true;
        r.problems.push_back(std::string(st.outcome == Outcome::Stall ? "STALL in " : "error in ")
                             + phase + ": " + st.what);
        return false;
    };

    // Nonblocking throughout: every wait below is a poll() with a time limit.
    if (!setNonBlocking(s.user, true)) {
        r.problems.push_back(errnoText("start: fcntl O_NONBLOCK"));
        stopSession(&s);
        return r;
    }
    const int warmup = std::min(100, std::max(10, o.rttCount / 20));
    std::vector<double> us;
    const double cpu0 = cpuSeconds(s.pid);
    if (note("1-byte round trips", roundTrips(s.user, 1, o.rttCount, warmup, o, &us))) {
        r.m[Rtt1P50] = percentile(us, 50);
        r.m[Rtt1P99] = percentile(us, 99);
        us.clear();
        if (note("64-byte round trips", roundTrips(s.user, 64, o.rttCount, warmup, o, &us))) {
            r.m[Rtt64P50] = percentile(us, 50);
            r.m[Rtt64P99] = percentile(us, 99);
            const double cpu1 = cpuSeconds(s.pid);
            if (cpu0 >= 0 && cpu1 >= 0)
                r.m[CpuPerRt] = (cpu1 - cpu0) * 1e6 / (2.0 * (warmup + o.rttCount));
            const size_t total = size_t(o.mib) * 1024 * 1024;
            Throughput t;
            if (note("echo throughput", echoThroughput(s.user, s.pid, total, o, &t))) {
                r.m[EchoMBps] = double(total) / t.seconds / 1e6;
                if (t.cpu >= 0) {
                    r.m[CpuSec] = t.cpu;
                    r.m[CpuPerMiB] = t.cpu / double(o.mib);
                }
            }
        }
    }

    const std::string how = stopSession(&s);
    // The bridge ends with code 0 on its closed input; socat with 143 on SIGTERM, or 0 when it saw
    // the hang-up of its pty first. Anything else is a fault of its own unless a stall explains it.
    const bool expected = who == Contender::Bridge
                              ? how == "exit code 0"
                              : (how == "exit code 143 (after SIGTERM)" || how == "exit code 0");
    if (!expected)
        r.problems.push_back(std::string(r.stall ? "after the stall, " : "")
                             + "the process ended with " + how);
    return r;
}

// ---------------------------------------------------------------------------------------------
// Output

std::string cell(double v, const char *fmt)
{
    if (std::isnan(v))
        return "-";
    return format(fmt, v);
}

const char *const kRowFormat = "%-7s %-7s %9s %9s %10s %10s %10s %10s %8s %10s\n";

void printRow(const char *label, const char *who, const double *m)
{
    printf(kRowFormat, label, who, cell(m[Rtt1P50], "%.1f").c_str(),
           cell(m[Rtt1P99], "%.1f").c_str(), cell(m[Rtt64P50], "%.1f").c_str(),
           cell(m[Rtt64P99], "%.1f").c_str(), cell(m[CpuPerRt], "%.1f").c_str(),
           cell(m[EchoMBps], "%.2f").c_str(), cell(m[CpuSec], "%.3f").c_str(),
           cell(m[CpuPerMiB], "%.4f").c_str());
    fflush(stdout);
}

void printHeader()
{
    printf(kRowFormat, "round", "relay", "rtt1 p50", "rtt1 p99", "rtt64 p50", "rtt64 p99",
           "CPU/rt", "echo MB/s", "CPU s", "CPU s/MiB");
    printf(kRowFormat, "", "", "(us)", "(us)", "(us)", "(us)", "(us)", "", "", "");
    fflush(stdout);
}

std::string ratio(double a, double b)
{
    if (std::isnan(a) || std::isnan(b) || b <= 0)
        return "n/a";
    return format("%.2f", a / b);
}

void usage(FILE *to)
{
    fprintf(to,
            "usage: relaybench [--rounds N] [--rtt-count N] [--mib N] [--stall-seconds N]\n"
            "                  [--phase-seconds N] [--quick]\n"
            "  --rounds N         rounds; each runs the bridge, then socat (default 5)\n"
            "  --rtt-count N      measured round trips per message size (default 2000)\n"
            "  --mib N            MiB sent and echoed back in the throughput phase (default 16)\n"
            "  --stall-seconds N  no progress for this long is reported as a stall (default 10)\n"
            "  --phase-seconds N  time limit of each measuring phase (default 120)\n"
            "  --quick            smoke run: 1 round, 200 round trips, 1 MiB\n"
            "  --monitor          the traffic monitor watches the bridge (offscreen window)\n"
            "Needs socat on PATH. Everything runs on 127.0.0.1.\n");
}

bool parseInt(const char *s, int lo, int hi, int *out)
{
    char *end = nullptr;
    errno = 0;
    const long v = strtol(s, &end, 10);
    if (errno || !end || *end || v < lo || v > hi)
        return false;
    *out = int(v);
    return true;
}

int runDriver(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto number = [&](int lo, int hi, int *out) {
            if (i + 1 >= argc || !parseInt(argv[i + 1], lo, hi, out)) {
                fprintf(stderr, "relaybench: %s needs a number from %d to %d\n", a.c_str(), lo,
                        hi);
                exit(2);
            }
            ++i;
        };
        if (a == "--rounds")
            number(1, 50, &o.rounds);
        else if (a == "--rtt-count")
            number(1, 1000000, &o.rttCount);
        else if (a == "--mib")
            number(1, 4096, &o.mib);
        else if (a == "--stall-seconds")
            number(1, 600, &o.stallSeconds);
        else if (a == "--phase-seconds")
            number(1, 3600, &o.phaseSeconds);
        else if (a == "--monitor")
            o.monitor = true;
        else if (a == "--quick") {
            o.rounds = 1;
            o.rttCount = 200;
            o.mib = 1;
        } else if (a == "-h" || a == "--help") {
            usage(stdout);
            return 0;
        } else {
            fprintf(stderr, "relaybench: unknown argument %s\n", a.c_str());
            usage(stderr);
            return 2;
        }
    }

    const std::string socat = findOnPath("socat");
    if (socat.empty()) {
        fprintf(stderr, "relaybench: socat not found on PATH; it is the reference relay and must "
                        "be installed (Debian: apt-get install socat)\n");
        return 2;
    }
    char selfBuf[4096];
    const ssize_t selfLen = readlink("/proc/self/exe", selfBuf, sizeof selfBuf - 1);
    if (selfLen <= 0) {
        perror("relaybench: readlink /proc/self/exe");
        return 2;
    }
    const std::string self(selfBuf, size_t(selfLen));

    signal(SIGPIPE, SIG_IGN);
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = cleanupAndExit;
    sigfillset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    sigaction(SIGALRM, &sa, nullptr);
    // The last resort: every wait is bounded already; this bounds their sum.
    const long perRun = 3L * o.stallSeconds + 3L * o.phaseSeconds + 60;
    alarm(unsigned(std::min(2L * o.rounds * perRun + 60, 86400L)));

    snprintf(g_tmpDir, sizeof g_tmpDir, "/tmp/relaybench.XXXXXX");
    if (!mkdtemp(g_tmpDir)) {
        g_tmpDir[0] = 0;
        perror("relaybench: mkdtemp");
        return 2;
    }
    const std::string link = std::string(g_tmpDir) + "/x";
    snprintf(g_linkPath, sizeof g_linkPath, "%s", link.c_str());

    EchoPeer peer;
    std::string why;
    if (!peer.start(&why)) {
        fprintf(stderr, "relaybench: %s\n", why.c_str());
        rmdir(g_tmpDir);
        return 2;
    }

    printf("relaybench: bridge (QPipeItem, own process) vs socat, echo peer on 127.0.0.1:%d\n",
           peer.port());
    printf("%d round(s) of bridge then socat; %d round trips per size (after warm-up), "
           "%d MiB echo, stall limit %d s\n",
           o.rounds, o.rttCount, o.mib, o.stallSeconds);
    printf("load average before: %s\n\n", loadAverage().c_str());
    printHeader();

    std::vector<RunResult> results;
    for (int round = 1; round <= o.rounds; ++round) {
        for (Contender who : {Contender::Bridge, Contender::Socat}) {
            RunResult r = runOne(who, round, self, socat, link, peer, o);
            printRow(std::to_string(round).c_str(), contenderName(who), r.m);
            for (const std::string &p : r.problems)
                printf("        %s: %s\n", contenderName(who), p.c_str());
            results.push_back(r);
        }
    }
    alarm(0);
    peer.stop();
    unlink(link.c_str());
    rmdir(g_tmpDir);
    g_linkPath[0] = 0;
    g_tmpDir[0] = 0;

    struct Medians
    {
        double v[kMetrics];
    };
    auto mediansOf = [&results](Contender who) {
        Medians med;
        for (int k = 0; k < kMetrics; ++k) {
            std::vector<double> col;
            for (const RunResult &r : results) {
                if (r.who == who)
                    col.push_back(r.m[k]);
            }
            med.v[k] = median(col);
        }
        return med;
    };
    const Medians b = mediansOf(Contender::Bridge);
    const Medians s = mediansOf(Contender::Socat);
    printf("\n");
    printRow("median", "bridge", b.v);
    printRow("median", "socat", s.v);

    int stalls = 0;
    int errors = 0;
    for (const RunResult &r : results) {
        if (r.stall)
            ++stalls;
        else if (!r.problems.empty())
            ++errors;
    }
    printf("\nload average after: %s\n", loadAverage().c_str());
    // "yes"/"NO" for bridge <= factor * socat (or >=), "n/a" when a median is missing.
    auto target = [&b, &s](std::initializer_list<Metric> metrics, double factor, bool atMost) {
        bool ok = true;
        for (Metric k : metrics) {
            if (std::isnan(b.v[k]) || std::isnan(s.v[k]) || s.v[k] <= 0)
                return "n/a";
            ok = ok && (atMost ? b.v[k] <= factor * s.v[k] : b.v[k] >= factor * s.v[k]);
        }
        return ok ? "yes" : "NO";
    };
    printf("targets: rtt p50/p99 within 1.2x socat: %s; throughput at least 0.5x socat: %s; "
           "stalls: %d; other errors: %d\n",
           target({Rtt1P50, Rtt1P99, Rtt64P50, Rtt64P99}, 1.2, true),
           target({EchoMBps}, 0.5, false), stalls, errors);
    printf("ratio bridge/socat: rtt1 p50 %s  rtt1 p99 %s  rtt64 p50 %s  rtt64 p99 %s  "
           "throughput %s  cpu/MiB %s%s\n",
           ratio(b.v[Rtt1P50], s.v[Rtt1P50]).c_str(), ratio(b.v[Rtt1P99], s.v[Rtt1P99]).c_str(),
           ratio(b.v[Rtt64P50], s.v[Rtt64P50]).c_str(),
           ratio(b.v[Rtt64P99], s.v[Rtt64P99]).c_str(),
           ratio(b.v[EchoMBps], s.v[EchoMBps]).c_str(),
           ratio(b.v[CpuPerMiB], s.v[CpuPerMiB]).c_str(), stalls ? "  (STALL seen)" : "");
    fflush(stdout);
    return (stalls || errors) ? 1 : 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 2 && strcmp(argv[1], "--bridge") == 0)
        return runBridge(argc, argv);
    return runDriver(argc, argv);
}
