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

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <QVariantMap>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <memory>
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
// It runs as the program runs a started connection: the record (with its port, socket and
// timers) in a worker thread of its own, started and stopped there by blocking queued calls from
// the main thread, which stands for the window's thread. Lines on stdin ask the main thread to
// be held up ("block busy|sleep <ms>"), as the window is by a setupc.exe run or long painting.

int g_termPipe[2] = {-1, -1};

void onTermSignal(int)
{
    const char c = 1;
    const ssize_t n = write(g_termPipe[1], &c, 1);
    (void)n;
}

void say(const std::string &line)
{
    printf("%s\n", line.c_str());
    fflush(stdout);
}

// Keeps the calling thread from its event loop for the asked time: "sleep" blocks in the kernel,
// as a wait for an outside program does; "busy" spins, as long work in the window does, and
// takes a core from the relay as well.
void holdUp(const std::string &command)
{
    char mode[16] = {0};
    int ms = 0;
    if (sscanf(command.c_str(), "block %15s %d", mode, &ms) != 2 || ms < 0
        || (strcmp(mode, "busy") != 0 && strcmp(mode, "sleep") != 0)) {
        say("unknown command: " + command);
        return;
    }
    say("blocking");
    const Clock::time_point t0 = Clock::now();
    if (strcmp(mode, "sleep") == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    } else {
        volatile unsigned long spins = 0;
        while (secondsSince(t0) * 1000.0 < ms)
            spins = spins + 1;
    }
    say(format("unblocked %.0f", secondsSince(t0) * 1000.0));
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

    // As the window does, before its relays' threads start.
    QPipeItem::preferPlainDispatcher();
    // Declared before the record: the record is destroyed first, back in this thread by then.
    QThread relay;
    QPipeItem item(QStringLiteral("Pipe"));
    item.setPropertyMap({{QStringLiteral("id"), 1},
                         {QStringLiteral("name"), QStringLiteral("b")},
                         {QStringLiteral("port_work"), QStringLiteral("x")},
                         {QStringLiteral("port_null"), ptyPath},
                         {QStringLiteral("ipaddr"), QStringLiteral("127.0.0.1")},
                         {QStringLiteral("ipport"), port}});
    item.moveToThread(&relay);
    relay.start();
    QMetaObject::invokeMethod(&item, [&item] { item.onConnection(); }, Qt::BlockingQueuedConnection);
    QThread *home = QThread::currentThread();
    auto stopRelay = [&item, &relay, home]() {
        QMetaObject::invokeMethod(&item,
                                  [&item, home] {
                                      item.onDisconnection();
                                      item.moveToThread(home);
                                  },
                                  Qt::BlockingQueuedConnection);
        relay.quit();
        relay.wait();
    };
    if (item.state() != QPipeItem::PipeConnect) {
        fprintf(stderr,
                "relaybench --bridge: state %d after onConnection(), not PipeConnect (%d)\n",
                int(item.state()), int(QPipeItem::PipeConnect));
        stopRelay();
        return 3;
    }

    // The monitor lives in this thread and the record in the relay's: its blocks come queued,
    // as in the program.
    std::unique_ptr<Monitor> monitor;
    if (watched) {
        monitor.reset(new Monitor);
        QObject::connect(&item, &QPipeItem::readSerialBuffer, monitor.get(), &Monitor::onShowSerial);
        QObject::connect(&item, &QPipeItem::readSocketBuffer, monitor.get(), &Monitor::onShowSocket);
        monitor->show();
    }

    QSocketNotifier term(g_termPipe[0], QSocketNotifier::Read);
    QObject::connect(&term, &QSocketNotifier::activated, &app, [&app]() { app.quit(); });

    std::string pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&app, &input, &pending]() {
        char buf[256];
        const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
            input.setEnabled(false);
            app.quit();
            return;
        }
        if (n < 0)
            return;
        pending.append(buf, size_t(n));
        for (size_t nl = pending.find('\n'); nl != std::string::npos; nl = pending.find('\n')) {
            const std::string command = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            holdUp(command);
        }
    });

    // The driver reports which event dispatcher each thread got (QT_NO_GLIB and
    // QT_NO_THREADED_GLIB decide it, read when each thread starts).
    say(std::string("ready ") + app.eventDispatcher()->metaObject()->className() + " "
        + relay.eventDispatcher()->metaObject()->className());
    const int rc = app.exec();
    monitor.reset();
    stopRelay();
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
    bool abDispatcher = false;
    // The run types, in the order they run.
    bool relay = true;
    bool blocked = false;
    bool backlogPeer = false;
    bool backlogCom = false;
    int blockSeconds = 5;
    bool blockBusy = true;
    int backlogSeconds = 20;
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
    // A paused peer reads nothing, so that the relay's bytes pile up in front of it.
    void pause(bool on) { m_paused = on; }

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

    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_accepted{0};
    std::atomic<bool> m_busy{false};
    std::atomic<bool> m_paused{false};
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

// fork + exec with the given standard input and output (-1: /dev/null) and the driver's
// environment with `extraEnv` ("NAME=value") set as well. The child goes when the driver does.
// Everything the child runs before exec is async-signal-safe: the peer thread exists.
pid_t spawn(const std::string &path, const std::vector<std::string> &args, int in, int out,
            std::string *why, const std::vector<std::string> &extraEnv = {})
{
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char *> envp;
    for (char **e = environ; *e; ++e) {
        const char *eq = strchr(*e, '=');
        const size_t nameLength = eq ? size_t(eq - *e) + 1 : strlen(*e);
        const bool replaced = std::any_of(extraEnv.begin(), extraEnv.end(),
                                          [&](const std::string &x) {
                                              return x.compare(0, nameLength, *e, nameLength) == 0;
                                          });
        if (!replaced)
            envp.push_back(*e);
    }
    for (const std::string &x : extraEnv)
        envp.push_back(const_cast<char *>(x.c_str()));
    envp.push_back(nullptr);
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
        execve(path.c_str(), argv.data(), envp.data());
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
// them after `warmup` uncounted ones; or, with `forSeconds`, as many as begin in that time.
PhaseStatus roundTrips(int fd, int size, int count, int warmup, const Options &o,
                       std::vector<double> *us, double forSeconds = 0)
{
    std::vector<unsigned char> msg(size_t(size), 0);
    std::vector<unsigned char> back(size_t(size), 0);
    const Clock::time_point phaseStart = Clock::now();
    for (int i = 0; forSeconds > 0 ? secondsSince(phaseStart) < forSeconds : i < warmup + count;
         ++i) {
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

const std::vector<unsigned char> &pattern()
{
    static const std::vector<unsigned char> pat = makePattern();
    return pat;
}

// Writes the next part of the stream, as much of it as the user's side takes now.
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

// Reads what the user's side holds and checks it against the stream: a dropped, repeated or
// reordered byte is an error. `*received` counts the bytes back so far.
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

struct Throughput
{
    double seconds = 0;
    double cpu = -1; // CPU seconds of the relay process during the transfer
};

// Sends `total` bytes and reads the echo at the same time from the (nonblocking) descriptor.
PhaseStatus echoThroughput(int fd, pid_t relay, size_t total, const Options &o, Throughput *res)
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
            status = takeEcho(fd, &rbuf, sent, &received);
        else if (p.revents & (POLLERR | POLLHUP | POLLNVAL))
            status = failed("the user's side of the pty hung up");
        if (status.outcome == Outcome::Ok && (p.revents & POLLOUT) && sent < total)
            status = putStream(fd, total, &sent);
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
            status = takeEcho(fd, &rbuf, sent, &received);
        else if (p.revents & (POLLERR | POLLHUP | POLLNVAL))
            status = failed("the user's side of the pty hung up");
        const size_t was = sent;
        if (status.outcome == Outcome::Ok && (p.revents & POLLOUT))
            status = putStream(fd, SIZE_MAX, &sent);
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
            status = takeEcho(fd, &rbuf, sent, &received);
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

// ---------------------------------------------------------------------------------------------
// One contender, one round

// BridgeG, with --ab-dispatcher only: the bridge whose relay thread runs the GLib event
// dispatcher (an empty QT_NO_THREADED_GLIB, which the program leaves alone), where the program
// gives it Qt's own.
enum class Contender { Bridge, BridgeG, Socat };

const char *contenderName(Contender c)
{
    switch (c) {
    case Contender::Bridge:
        return "bridge";
    case Contender::BridgeG:
        return "bridgeG";
    case Contender::Socat:
        break;
    }
    return "socat";
}

// The run types: each has a table of its own.
enum class Run { Relay, Blocked, BacklogPeer, BacklogCom };

// The columns of the relay table.
enum Metric {
    Rtt1P50,   // us
    Rtt1P99,   // us
    Rtt64P50,  // us
    Rtt64P99,  // us
    CpuPerRt,  // us of the relay's CPU per round trip, both sizes, warm-up included
    EchoMBps,  // MB/s
    CpuSec,    // s of the relay's CPU in the throughput phase
    CpuPerMiB, // the same per MiB sent
};

// The columns of the blocked-window table: 64-byte round trips while the bridge's main thread
// is held up, then as many without the block.
enum BlockedMetric {
    BlockS,     // s the main thread was held up, as the bridge measured it
    BlockCount, // round trips during the block
    BlockMax,   // us
    BlockP99,   // us
    BlockP50,   // us
    FreeMax,    // us, the same number of round trips right after the block
    FreeP99,    // us
    FreeP50,    // us
};

// The columns of the backlog tables.
enum BacklogMetric {
    SentMB,      // MB the user's side took during the stop
    WriterHeld,  // s into the stop of the last byte the user's side took
    RssMB,       // VmRSS of the relay before the stop, MB
    RssGrowthMB, // peak VmRSS over the stop and the drain, less that, MB
    HwmGrowthMB, // VmHWM after, less VmHWM before, MB
    DrainS,      // s from the end of the stop until every byte was back
    InOrder,     // 1 when every byte came back, in order
};

struct Column
{
    const char *name;
    const char *unit;
    int width;
    int decimals; // -1: a yes/no figure, 1 or 0; its summary is "yes" only when every run said so
};

const std::vector<Column> &columnsOf(Run run)
{
    static const std::vector<Column> relay = {
        {"rtt1 p50", "(us)", 9, 1},   {"rtt1 p99", "(us)", 9, 1}, {"rtt64 p50", "(us)", 10, 1},
        {"rtt64 p99", "(us)", 10, 1}, {"CPU/rt", "(us)", 10, 1},  {"echo MB/s", "", 10, 2},
        {"CPU s", "", 8, 3},          {"CPU s/MiB", "", 10, 4}};
    static const std::vector<Column> blocked = {
        {"block s", "", 8, 2},         {"count", "", 6, 0},           {"max", "(us)", 10, 1},
        {"p99", "(us)", 9, 1},         {"p50", "(us)", 9, 1},         {"free max", "(us)", 10, 1},
        {"free p99", "(us)", 9, 1},    {"free p50", "(us)", 9, 1}};
    static const std::vector<Column> backlog = {
        {"sent MB", "", 8, 2},  {"held at s", "", 9, 2}, {"RSS MB", "", 7, 1},
        {"RSS +MB", "", 8, 2},  {"HWM +MB", "", 8, 2},   {"drain s", "", 8, 2},
        {"in order", "", 8, -1}};
    switch (run) {
    case Run::Relay:
        return relay;
    case Run::Blocked:
        return blocked;
    case Run::BacklogPeer:
    case Run::BacklogCom:
        break;
    }
    return backlog;
}

struct RunResult
{
    Contender who = Contender::Bridge;
    int round = 0;
    bool stall = false;
    std::vector<std::string> problems;
    // One per column of its table; NaN where the phase did not complete.
    std::vector<double> m;
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
    std::string statusText; // read from `status`, not yet taken as a line
    std::string dispatchers; // the bridge's, as it reported them: window thread, relay thread
};

enum class LineRead { Ok, Late, Closed };

// The next line the bridge printed, without its newline, waiting up to `seconds` for it.
LineRead readStatusLine(Session *s, double seconds, std::string *line)
{
    const Clock::time_point t0 = Clock::now();
    size_t nl;
    while ((nl = s->statusText.find('\n')) == std::string::npos) {
        const int left = msLeft(t0, seconds);
        if (left == 0)
            return LineRead::Late;
        pollfd p{s->status, POLLIN, 0};
        if (poll(&p, 1, left) <= 0)
            continue;
        char buf[256];
        const ssize_t n = read(s->status, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return LineRead::Closed;
        s->statusText.append(buf, size_t(n));
    }
    *line = s->statusText.substr(0, nl);
    s->statusText.erase(0, nl + 1);
    return LineRead::Ok;
}

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

bool startBridge(const std::string &self, const EchoPeer &peer, const Options &o, bool glibRelay,
                 Session *s, std::string *why)
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
    s->pid = spawn(self, args, in[0], out[1], why,
                   glibRelay ? std::vector<std::string>{"QT_NO_THREADED_GLIB="}
                              : std::vector<std::string>{});
    close(in[0]);
    close(out[1]);
    s->control = in[1];
    s->status = out[0];
    if (s->pid < 0)
        return false;

    // "ready" and the event dispatchers of its two threads on its standard output once
    // onConnection() opened both sides.
    std::string line;
    const LineRead got = readStatusLine(s, o.stallSeconds, &line);
    if (got == LineRead::Late) {
        *why = format("the bridge did not report ready within %d s", o.stallSeconds);
        return false;
    }
    if (got == LineRead::Closed) {
        const pid_t pid = s->pid;
        s->pid = -1;
        *why = "the bridge ended before it was ready: " + finish(pid);
        return false;
    }
    if (line.compare(0, 6, "ready ") != 0) {
        *why = "the bridge said \"" + line + "\" instead of ready";
        return false;
    }
    s->dispatchers = line.substr(6);
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

void measureRelay(const Session &s, const Options &o, RunResult *r)
{
    const int warmup = std::min(100, std::max(10, o.rttCount / 20));
    std::vector<double> us;
    const double cpu0 = cpuSeconds(s.pid);
    if (!note(r, "1-byte round trips", roundTrips(s.user, 1, o.rttCount, warmup, o, &us)))
        return;
    r->m[Rtt1P50] = percentile(us, 50);
    r->m[Rtt1P99] = percentile(us, 99);
    us.clear();
    if (!note(r, "64-byte round trips", roundTrips(s.user, 64, o.rttCount, warmup, o, &us)))
        return;
    r->m[Rtt64P50] = percentile(us, 50);
    r->m[Rtt64P99] = percentile(us, 99);
    const double cpu1 = cpuSeconds(s.pid);
    if (cpu0 >= 0 && cpu1 >= 0)
        r->m[CpuPerRt] = (cpu1 - cpu0) * 1e6 / (2.0 * (warmup + o.rttCount));
    const size_t total = size_t(o.mib) * 1024 * 1024;
    Throughput t;
    if (!note(r, "echo throughput", echoThroughput(s.user, s.pid, total, o, &t)))
        return;
    r->m[EchoMBps] = double(total) / t.seconds / 1e6;
    if (t.cpu >= 0) {
        r->m[CpuSec] = t.cpu;
        r->m[CpuPerMiB] = t.cpu / double(o.mib);
    }
}

// 64-byte round trips for as long as the bridge holds its main thread up, then as many again
// with the thread free.
void measureBlocked(Session *s, const Options &o, RunResult *r)
{
    std::vector<double> during;
    std::vector<double> after;
    if (!note(r, "warm-up round trips", roundTrips(s->user, 64, 0, 50, o, &during)))
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
              roundTrips(s->user, 64, 0, 0, o, &during, o.blockSeconds)))
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
              roundTrips(s->user, 64, int(during.size()), 0, o, &after)))
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
    if (!note(r, "warm-up echo", echoThroughput(s.user, s.pid, 1024 * 1024, o, &warm)))
        return;
    Backlog b;
    const PhaseStatus st = backlog(s.user, s.pid, peer, peerStops, o, &b);
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

struct Bench
{
    std::string self;
    std::string socat;
    std::string link;
    EchoPeer *peer = nullptr;
    Options o;
    // As each bridge contender last reported them.
    std::string dispatchers[int(Contender::Socat) + 1];
};

RunResult runOne(Run run, Contender who, int round, Bench *bench)
{
    const Options &o = bench->o;
    EchoPeer &peer = *bench->peer;
    RunResult r;
    r.who = who;
    r.round = round;
    r.m.assign(columnsOf(run).size(), NAN);

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
    const bool bridge = who != Contender::Socat;
    const bool up = bridge ? startBridge(bench->self, peer, o, who == Contender::BridgeG, &s, &why)
                           : startSocat(bench->socat, bench->link, peer, o, &s, &why);
    if (!up) {
        r.problems.push_back("start: " + why);
        stopSession(&s);
        return r;
    }
    if (!s.dispatchers.empty())
        bench->dispatchers[int(who)] = s.dispatchers;

    // Nonblocking throughout: every wait below is a poll() with a time limit.
    if (!setNonBlocking(s.user, true)) {
        r.problems.push_back(errnoText("start: fcntl O_NONBLOCK"));
        stopSession(&s);
        return r;
    }
    switch (run) {
    case Run::Relay:
        measureRelay(s, o, &r);
        break;
    case Run::Blocked:
        measureBlocked(&s, o, &r);
        break;
    case Run::BacklogPeer:
    case Run::BacklogCom:
        measureBacklog(s, &peer, run == Run::BacklogPeer, o, &r);
        break;
    }

    const std::string how = stopSession(&s);
    // The bridge ends with code 0 on its closed input; socat with 143 on SIGTERM, or 0 when it saw
    // the hang-up of its pty first. Anything else is a fault of its own unless a stall explains it.
    const bool expected = bridge ? how == "exit code 0"
                              : (how == "exit code 143 (after SIGTERM)" || how == "exit code 0");
    if (!expected)
        r.problems.push_back(std::string(r.stall ? "after the stall, " : "")
                             + "the process ended with " + how);
    return r;
}

// ---------------------------------------------------------------------------------------------
// Output

std::string cell(double v, const Column &c)
{
    if (std::isnan(v))
        return "-";
    if (c.decimals < 0)
        return v > 0 ? "yes" : "NO";
    return format("%.*f", c.decimals, v);
}

void printCells(const char *label, const char *who, const std::vector<Column> &columns,
                const std::vector<std::string> &cells)
{
    std::string line = format("%-7s %-7s", label, who);
    for (size_t k = 0; k < columns.size(); ++k)
        line += format(" %*s", columns[k].width, cells[k].c_str());
    printf("%s\n", line.c_str());
    fflush(stdout);
}

void printRow(const char *label, const char *who, const std::vector<Column> &columns,
              const std::vector<double> &m)
{
    std::vector<std::string> cells;
    for (size_t k = 0; k < columns.size(); ++k)
        cells.push_back(cell(m[k], columns[k]));
    printCells(label, who, columns, cells);
}

void printHeader(const std::vector<Column> &columns)
{
    std::vector<std::string> names;
    std::vector<std::string> units;
    for (const Column &c : columns) {
        names.push_back(c.name);
        units.push_back(c.unit);
    }
    printCells("round", "relay", columns, names);
    printCells("", "", columns, units);
}

// The summary of one contender's runs: the median of each column over the runs that completed
// it; a yes/no column is yes only when every such run said yes.
std::vector<double> summaryOf(const std::vector<RunResult> &results, Contender who,
                              const std::vector<Column> &columns)
{
    std::vector<double> out;
    for (size_t k = 0; k < columns.size(); ++k) {
        std::vector<double> col;
        for (const RunResult &r : results) {
            if (r.who == who && !std::isnan(r.m[k]))
                col.push_back(r.m[k]);
        }
        if (columns[k].decimals < 0)
            out.push_back(col.empty() ? NAN : *std::min_element(col.begin(), col.end()));
        else
            out.push_back(median(col));
    }
    return out;
}

// The largest value of a column over one contender's runs.
double largestOf(const std::vector<RunResult> &results, Contender who, int column)
{
    double top = NAN;
    for (const RunResult &r : results) {
        if (r.who == who && !std::isnan(r.m[size_t(column)]))
            top = std::isnan(top) ? r.m[size_t(column)] : std::max(top, r.m[size_t(column)]);
    }
    return top;
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
            "usage: relaybench [--runs LIST] [--rounds N] [--rtt-count N] [--mib N]\n"
            "                  [--block-seconds N] [--block-mode busy|sleep] [--backlog-seconds N]\n"
            "                  [--stall-seconds N] [--phase-seconds N] [--quick] [--monitor]\n"
            "                  [--ab-dispatcher]\n"
            "  --runs LIST        comma-separated, in any order: relay, blocked, backlog,\n"
            "                     backlog-com, or all (default relay)\n"
            "  --rounds N         rounds of each run (default 5)\n"
            "  --rtt-count N      measured round trips per message size (default 2000)\n"
            "  --mib N            MiB sent and echoed back in the throughput phase (default 16)\n"
            "  --block-seconds N  how long the bridge's main thread is held up (default 5)\n"
            "  --block-mode M     busy (spins, default) or sleep (blocks in the kernel)\n"
            "  --backlog-seconds N  how long a side stops reading in the backlog runs (default 20)\n"
            "  --stall-seconds N  no progress for this long is reported as a stall (default 10)\n"
            "  --phase-seconds N  time limit of each measuring phase (default 120)\n"
            "  --quick            smoke run: 1 round, 200 round trips, 1 MiB, 1 s block, 2 s\n"
            "                     backlog (options after it override these)\n"
            "  --monitor          the traffic monitor watches the bridge (offscreen window)\n"
            "  --ab-dispatcher    each round also runs bridgeG: the bridge with its relay thread\n"
            "                     on the GLib event dispatcher (QT_NO_THREADED_GLIB empty)\n"
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

bool parseRuns(const std::string &list, Options *o)
{
    o->relay = o->blocked = o->backlogPeer = o->backlogCom = false;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(',', start);
        if (end == std::string::npos)
            end = list.size();
        const std::string name = list.substr(start, end - start);
        const bool all = name == "all";
        if (name == "relay" || all)
            o->relay = true;
        if (name == "blocked" || all)
            o->blocked = true;
        if (name == "backlog" || all)
            o->backlogPeer = true;
        if (name == "backlog-com" || all)
            o->backlogCom = true;
        if (!all && name != "relay" && name != "blocked" && name != "backlog"
            && name != "backlog-com")
            return false;
        start = end + 1;
    }
    return true;
}

std::string titleOf(Run run, const Options &o)
{
    switch (run) {
    case Run::Relay:
        return "relay: round trips, echo throughput and CPU";
    case Run::Blocked:
        return format("blocked window: the bridge's main thread %s for %d s during 64-byte round "
                      "trips (no socat run), then as many round trips with it free",
                      o.blockBusy ? "busy" : "asleep", o.blockSeconds);
    case Run::BacklogPeer:
        return format("backlog: the TCP peer stops reading for %d s while the user's side writes, "
                      "then reads everything",
                      o.backlogSeconds);
    case Run::BacklogCom:
        break;
    }
    return format("backlog: COM-WORK (the user's side) stops reading for %d s while it writes and "
                  "the peer echoes, then reads everything",
                  o.backlogSeconds);
}

// The lines under a table's medians for one bridge contender: its targets, for orientation
// only, and in the relay table its ratios to socat.
void printTargets(Run run, const std::vector<RunResult> &results, Contender who)
{
    const std::vector<Column> &columns = columnsOf(run);
    const std::vector<double> b = summaryOf(results, who, columns);
    const std::vector<double> s = summaryOf(results, Contender::Socat, columns);
    const char *name = contenderName(who);
    switch (run) {
    case Run::Relay: {
        // "yes"/"NO" for bridge <= socat (or >=), "n/a" when a median is missing.
        auto target = [&b, &s](std::initializer_list<Metric> metrics, bool atMost) {
            bool ok = true;
            for (Metric k : metrics) {
                if (std::isnan(b[k]) || std::isnan(s[k]) || s[k] <= 0)
                    return "n/a";
                ok = ok && (atMost ? b[k] <= s[k] : b[k] >= s[k]);
            }
            return ok ? "yes" : "NO";
        };
        printf("targets (%s): rtt p50/p99 at most 1.0x socat: %s; throughput at least 1.0x socat: "
               "%s; CPU/MiB at most 1.0x socat: %s\n",
               name, target({Rtt1P50, Rtt1P99, Rtt64P50, Rtt64P99}, true),
               target({EchoMBps}, false), target({CpuPerMiB}, true));
        printf("ratio %s/socat: rtt1 p50 %s  rtt1 p99 %s  rtt64 p50 %s  rtt64 p99 %s  "
               "throughput %s  cpu/MiB %s\n",
               name, ratio(b[Rtt1P50], s[Rtt1P50]).c_str(), ratio(b[Rtt1P99], s[Rtt1P99]).c_str(),
               ratio(b[Rtt64P50], s[Rtt64P50]).c_str(), ratio(b[Rtt64P99], s[Rtt64P99]).c_str(),
               ratio(b[EchoMBps], s[EchoMBps]).c_str(), ratio(b[CpuPerMiB], s[CpuPerMiB]).c_str());
        break;
    }
    case Run::Blocked: {
        const double top = largestOf(results, who, BlockMax);
        printf("target (%s): largest round trip during the block below 50 ms: %s (largest of all "
               "rounds %s ms)\n",
               name, std::isnan(top) ? "n/a" : top < 50000 ? "yes" : "NO",
               std::isnan(top) ? "-" : format("%.2f", top / 1000).c_str());
        break;
    }
    case Run::BacklogPeer:
    case Run::BacklogCom: {
        const double rss = largestOf(results, who, RssGrowthMB);
        const double hwm = largestOf(results, who, HwmGrowthMB);
        const double top = std::isnan(hwm) ? rss : std::max(rss, hwm);
        printf("targets (%s): RSS growth below 16 MB: %s (largest RSS or HWM growth of all "
               "rounds %s MB); every byte back in order: %s\n",
               name, std::isnan(top) ? "n/a" : top < 16 ? "yes" : "NO",
               std::isnan(top) ? "-" : format("%.2f", top).c_str(),
               std::isnan(b[InOrder]) ? "n/a" : b[InOrder] > 0 ? "yes" : "NO");
        break;
    }
    }
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
        else if (a == "--block-seconds")
            number(1, 600, &o.blockSeconds);
        else if (a == "--backlog-seconds")
            number(1, 600, &o.backlogSeconds);
        else if (a == "--monitor")
            o.monitor = true;
        else if (a == "--ab-dispatcher")
            o.abDispatcher = true;
        else if (a == "--runs" || a == "--block-mode") {
            const std::string value = i + 1 < argc ? argv[++i] : "";
            const bool ok = a == "--runs" ? parseRuns(value, &o)
                                          : (value == "busy" || value == "sleep");
            if (!ok) {
                fprintf(stderr, "relaybench: bad value \"%s\" for %s\n", value.c_str(), a.c_str());
                usage(stderr);
                return 2;
            }
            if (a == "--block-mode")
                o.blockBusy = value == "busy";
        } else if (a == "--quick") {
            o.rounds = 1;
            o.rttCount = 200;
            o.mib = 1;
            o.blockSeconds = 1;
            o.backlogSeconds = 2;
        } else if (a == "-h" || a == "--help") {
            usage(stdout);
            return 0;
        } else {
            fprintf(stderr, "relaybench: unknown argument %s\n", a.c_str());
            usage(stderr);
            return 2;
        }
    }

    Bench bench;
    bench.o = o;
    bench.socat = findOnPath("socat");
    if (bench.socat.empty()) {
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
    bench.self.assign(selfBuf, size_t(selfLen));

    std::vector<Run> runs;
    if (o.relay)
        runs.push_back(Run::Relay);
    if (o.blocked)
        runs.push_back(Run::Blocked);
    if (o.backlogPeer)
        runs.push_back(Run::BacklogPeer);
    if (o.backlogCom)
        runs.push_back(Run::BacklogCom);
    auto contendersOf = [&o](Run run) {
        std::vector<Contender> who{Contender::Bridge};
        if (o.abDispatcher)
            who.push_back(Contender::BridgeG);
        if (run != Run::Blocked)
            who.push_back(Contender::Socat);
        return who;
    };

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
    long limit = 60;
    for (Run run : runs) {
        const long stop = run == Run::Blocked ? o.blockSeconds
                          : run == Run::Relay ? 0
                                              : o.backlogSeconds;
        const long perRun = 3L * o.stallSeconds + 3L * o.phaseSeconds + 60 + stop;
        limit += long(contendersOf(run).size()) * o.rounds * perRun;
    }
    alarm(unsigned(std::min(limit, 86400L)));

    snprintf(g_tmpDir, sizeof g_tmpDir, "/tmp/relaybench.XXXXXX");
    if (!mkdtemp(g_tmpDir)) {
        g_tmpDir[0] = 0;
        perror("relaybench: mkdtemp");
        return 2;
    }
    bench.link = std::string(g_tmpDir) + "/x";
    snprintf(g_linkPath, sizeof g_linkPath, "%s", bench.link.c_str());

    EchoPeer peer;
    bench.peer = &peer;
    std::string why;
    if (!peer.start(&why)) {
        fprintf(stderr, "relaybench: %s\n", why.c_str());
        rmdir(g_tmpDir);
        return 2;
    }

    printf("relaybench: bridge (QPipeItem in a worker thread, own process) vs socat, echo peer on "
           "127.0.0.1:%d\n",
           peer.port());
    printf("%d round(s) of each run; %d round trips per size (after warm-up), %d MiB echo, "
           "stall limit %d s\n",
           o.rounds, o.rttCount, o.mib, o.stallSeconds);
    printf("load average before: %s\n", loadAverage().c_str());

    int stallsAll = 0;
    int errorsAll = 0;
    for (Run run : runs) {
        const std::vector<Column> &columns = columnsOf(run);
        printf("\n%s\n\n", titleOf(run, o).c_str());
        printHeader(columns);
        std::vector<RunResult> results;
        for (int round = 1; round <= o.rounds; ++round) {
            for (Contender who : contendersOf(run)) {
                RunResult r = runOne(run, who, round, &bench);
                printRow(std::to_string(round).c_str(), contenderName(who), columns, r.m);
                for (const std::string &p : r.problems)
                    printf("        %s: %s\n", contenderName(who), p.c_str());
                results.push_back(r);
            }
        }
        printf("\n");
        for (Contender who : contendersOf(run))
            printRow("median", contenderName(who), columns, summaryOf(results, who, columns));

        int stalls = 0;
        int errors = 0;
        for (const RunResult &r : results) {
            if (r.stall)
                ++stalls;
            else if (!r.problems.empty())
                ++errors;
        }
        stallsAll += stalls;
        errorsAll += errors;
        printf("\nload average after: %s\n", loadAverage().c_str());
        for (Contender who : contendersOf(run)) {
            if (who != Contender::Socat)
                printTargets(run, results, who);
        }
        printf("stalls: %d; other errors: %d\n", stalls, errors);
        fflush(stdout);
    }
    alarm(0);
    peer.stop();
    unlink(bench.link.c_str());
    rmdir(g_tmpDir);
    g_linkPath[0] = 0;
    g_tmpDir[0] = 0;

    printf("\nevent dispatchers (window thread, relay thread): ");
    for (Contender who : {Contender::Bridge, Contender::BridgeG}) {
        const std::string &d = bench.dispatchers[int(who)];
        if (who == Contender::Bridge || o.abDispatcher)
            printf("%s%s: %s", who == Contender::Bridge ? "" : "; ", contenderName(who),
                   d.empty() ? "unknown" : d.c_str());
    }
    printf("\n");
    fflush(stdout);
    return (stallsAll || errorsAll) ? 1 : 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 2 && strcmp(argv[1], "--bridge") == 0)
        return runBridge(argc, argv);
    return runDriver(argc, argv);
}
