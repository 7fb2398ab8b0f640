#include "contenders.h"

#include "peers.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace relaybench {

const char *contenderName(Contender c)
{
    switch (c) {
    case Contender::Bridge:
        return "bridge";
    case Contender::BridgeG:
        return "bridgeG";
    case Contender::Server:
        return "server";
    case Contender::Rfc2217:
        return "rfc2217";
    case Contender::Monitor:
        return "monitor";
    case Contender::Four:
        return "four";
    case Contender::Socat:
        break;
    }
    return "socat";
}

BridgeSetup setupOf(Contender c)
{
    BridgeSetup setup;
    setup.glibRelay = c == Contender::BridgeG;
    setup.server = c == Contender::Server;
    setup.rfc2217 = c == Contender::Rfc2217;
    setup.monitor = c == Contender::Monitor;
    setup.connections = c == Contender::Four ? 4 : 1;
    return setup;
}

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

static bool makeRaw(int fd, std::string *why)
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

// fork + exec with the given standard input and output (-1: /dev/null) and the driver's
// environment with `extraEnv` ("NAME=value") set as well. The child goes when the driver does.
// Everything the child runs before exec is async-signal-safe: the peer thread exists.
static pid_t spawn(const std::string &path, const std::vector<std::string> &args, int in, int out,
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
static bool reap(pid_t pid, double seconds, int *status)
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

static std::string describeStatus(int status)
{
    if (WIFEXITED(status))
        return format("exit code %d", WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return format("signal %d", WTERMSIG(status));
    return "unknown status";
}

// Ends a child: `grace` seconds to go by itself (its input closed), then SIGTERM, then SIGKILL.
// Returns how it ended.
static std::string finish(pid_t pid, double grace = 3.0)
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

// True once the child has ended; it stays unreaped, for finish() to tell how it ended.
static bool hasEnded(pid_t pid)
{
    siginfo_t si;
    memset(&si, 0, sizeof si);
    if (waitid(P_PID, id_t(pid), &si, WEXITED | WNOHANG | WNOWAIT) != 0)
        return errno == ECHILD;
    return si.si_pid == pid;
}

static bool waitForPeerConnection(const EchoPeer &peer, int before, pid_t pid, double seconds)
{
    const Clock::time_point t0 = Clock::now();
    while (peer.accepted() <= before) {
        if (hasEnded(pid) || secondsSince(t0) >= seconds)
            return false;
        sleepMs(2);
    }
    return true;
}

// A pty for the bridge: the driver keeps the master as the user's side; the bridge opens the
// slave by its path, as the program opens the COM-NULL device.
static bool makePty(Session *s, std::string *slave, std::string *why)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        *why = errnoText("posix_openpt");
        return false;
    }
    s->users.push_back(master);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    char name[128];
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name)) {
        *why = errnoText("grantpt/unlockpt/ptsname");
        return false;
    }
    // Raw and without echo before any byte flows; the slave stays open in the driver for the
    // run so that the pty keeps these settings whatever the bridge does.
    const int keep = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (keep < 0) {
        *why = errnoText("open pty slave");
        return false;
    }
    s->keeps.push_back(keep);
    *slave = name;
    return makeRaw(keep, why);
}

// The bridge's next line, which must begin with `word`; its rest goes to *rest.
static bool expectLine(Session *s, const Options &o, const char *word, std::string *rest,
                       std::string *why)
{
    std::string line;
    const LineRead got = readStatusLine(s, o.stallSeconds, &line);
    if (got == LineRead::Late) {
        *why = format("the bridge did not report %s within %d s", word, o.stallSeconds);
        return false;
    }
    if (got == LineRead::Closed) {
        const pid_t pid = s->pid;
        s->pid = -1;
        *why = format("the bridge ended before it was %s: ", word) + finish(pid);
        return false;
    }
    const std::string w(word);
    if (line.compare(0, w.size(), w) != 0) {
        *why = "the bridge said \"" + line + "\" instead of " + w;
        return false;
    }
    *rest = line.substr(w.size());
    return true;
}

bool startBridge(const std::string &self, EchoPeer *peer, const Options &o,
                 const BridgeSetup &setup, Session *s, std::string *why)
{
    // Server mode: the bridge listens on a port that was free a moment ago, and the peer dials
    // in once it does.
    const int port = setup.server ? freePort() : peer->port();
    if (port == 0) {
        *why = errnoText("no free port for the bridge to listen on");
        return false;
    }
    std::vector<std::string> args{"relaybench", "--bridge", std::to_string(port)};
    for (int k = 0; k < setup.connections; ++k) {
        std::string slave;
        if (!makePty(s, &slave, why))
            return false;
        args.push_back(slave);
    }
    if (setup.server)
        args.push_back("--server");
    if (setup.rfc2217)
        args.push_back("--rfc2217");
    if (setup.monitor)
        args.push_back("--monitor");

    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
        *why = errnoText("pipe2");
        return false;
    }
    const int before = peer->accepted();
    peer->setTelnet(setup.rfc2217);
    s->pid = spawn(self, args, in[0], out[1], why,
                   setup.glibRelay ? std::vector<std::string>{"QT_NO_THREADED_GLIB="}
                                   : std::vector<std::string>{});
    close(in[0]);
    close(out[1]);
    s->control = in[1];
    s->status = out[0];
    if (s->pid < 0)
        return false;

    // "ready" and the event dispatchers of its window and relay threads once onConnection()
    // has run; "connected" once every record has both sides up.
    if (!expectLine(s, o, "ready ", &s->dispatchers, why))
        return false;
    if (setup.server && !peer->dialIn(port, why))
        return false;
    std::string rest;
    if (!expectLine(s, o, "connected", &rest, why))
        return false;
    if (!waitForPeerConnection(*peer, before + setup.connections - 1, s->pid, o.stallSeconds)) {
        *why = "the echo peer saw no connection from the bridge";
        return false;
    }
    return true;
}

bool startSocat(const std::string &socat, const std::string &link, EchoPeer *peer,
                const Options &o, Session *s, std::string *why)
{
    peer->setTelnet(false);
    // socat makes the pty and holds its master; the driver opens the slave through the link.
    unlink(link.c_str());
    const int before = peer->accepted();
    s->pid = spawn(socat,
                   {"socat", "pty,raw,echo=0,link=" + link,
                    "tcp:127.0.0.1:" + std::to_string(peer->port())},
                   -1, -1, why);
    if (s->pid < 0)
        return false;
    const Clock::time_point t0 = Clock::now();
    for (;;) {
        const int user = open(link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (user >= 0) {
            s->users.push_back(user);
            break;
        }
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
    if (!makeRaw(s->users[0], why))
        return false;
    if (!waitForPeerConnection(*peer, before, s->pid, o.stallSeconds)) {
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
    if (!bridge) {
        for (int &fd : s->users)
            closeFd(&fd);
    }
    if (s->pid > 0) {
        how = finish(s->pid, bridge ? 3.0 : 0.0);
        s->pid = -1;
    }
    for (int &fd : s->users)
        closeFd(&fd);
    for (int &fd : s->keeps)
        closeFd(&fd);
    s->users.clear();
    s->keeps.clear();
    closeFd(&s->status);
    return how;
}

} // namespace relaybench
