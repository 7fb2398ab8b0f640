// The bridge process: one QPipeItem relaying as the program runs a started connection.

#include "contenders.h"

#include "monitor.h"
#include "qpipemap.h"
#include "relayrunner.h"
#include "vcomdefs.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <QVariantMap>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace relaybench {

namespace {

// Bridge mode: a QPipeItem on each given pty slave and the TCP port, until stdin closes or
// SIGTERM. It runs as the program runs its started connections: each record (with its port,
// socket and timers) in a worker thread of its own, started and stopped by the RelayRunner of
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

// The offscreen monitor's window warns of what only a real screen has; the driver's table is
// no place for that.
void quietWindowWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtWarningMsg
        && (text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"))
            || text.contains(QLatin1String("does not support propagateSizeHints"))))
        return;
    fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
}

} // namespace

int runBridge(int argc, char **argv)
{
    // relaybench --bridge <tcp port> <pty slave path>... [--server] [--rfc2217] [--monitor]
    std::vector<QString> ptys;
    bool server = false;
    bool rfc2217 = false;
    bool watched = false;
    for (int i = 3; i < argc; ++i) {
        if (strcmp(argv[i], "--server") == 0)
            server = true;
        else if (strcmp(argv[i], "--rfc2217") == 0)
            rfc2217 = true;
        else if (strcmp(argv[i], "--monitor") == 0)
            watched = true;
        else
            ptys.push_back(QString::fromLocal8Bit(argv[i]));
    }
    if (argc < 4 || ptys.empty()) {
        fprintf(stderr, "usage: relaybench --bridge <tcp port> <pty slave path>... [--server] "
                        "[--rfc2217] [--monitor]\n");
        return 2;
    }
    const int port = atoi(argv[2]);

    int qtArgc = 1;
    // With --monitor the traffic monitor watches the bridge, as it does in the program when the
    // user opens it: a widget application, drawn on the offscreen platform unless told otherwise.
    if (watched && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (watched)
        qInstallMessageHandler(quietWindowWarnings);
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

    // One record per pty, each in a worker thread of its own, as the program runs its started
    // connections.
    std::vector<std::unique_ptr<QPipeItem>> relays;
    for (size_t k = 0; k < ptys.size(); ++k) {
        relays.emplace_back(new QPipeItem(QStringLiteral("Pipe")));
        QVariantMap map{{Vcom::Key::Id, int(k) + 1},
                        {Vcom::Key::Name, QStringLiteral("b%1").arg(k + 1)},
                        {Vcom::Key::PortWork, QStringLiteral("x")},
                        {Vcom::Key::PortNull, ptys[k]},
                        {Vcom::Key::IpAddr, QStringLiteral("127.0.0.1")},
                        {Vcom::Key::IpPort, port}};
        if (server)
            map.insert(Vcom::Key::Mode, Vcom::ServerMode);
        if (rfc2217)
            map.insert(Vcom::Key::Rfc2217, true);
        relays.back()->setPropertyMap(map);
    }

    // "ready" once every record has started (a server then listens), with the event dispatchers
    // of the main and the first relay thread (QT_NO_GLIB and QT_NO_THREADED_GLIB decide them, read
    // as each thread starts); "connected" once every
    // record has both sides up: a server only when the peer has dialled in, which the driver does
    // once it reads "ready".
    RelayRunner runner;
    int startedCount = 0;
    bool connectedTold = false;
    QObject::connect(&runner, &RelayRunner::stateChanged, &app,
                     [&](QPipeItem *, int, bool started) {
                         if (started && startedCount < int(relays.size()) && ++startedCount == int(relays.size()))
                             say(std::string("ready ") + app.eventDispatcher()->metaObject()->className() + " "
                                 + runner.threadOf(1)->eventDispatcher()->metaObject()->className());
                         if (connectedTold || startedCount < int(relays.size()))
                             return;
                         for (const std::unique_ptr<QPipeItem> &r : relays) {
                             if (r->state() != QPipeItem::PipeConnect)
                                 return;
                         }
                         connectedTold = true;
                         say("connected");
                     });
    for (std::unique_ptr<QPipeItem> &r : relays)
        runner.start(r.get());

    // The monitor lives in this thread and the records in their relays': their blocks come
    // queued, as in the program.
    std::unique_ptr<Monitor> monitor;
    if (watched) {
        monitor.reset(new Monitor);
        for (std::unique_ptr<QPipeItem> &r : relays) {
            QObject::connect(r.get(), &QPipeItem::readSerialBuffer, monitor.get(), &Monitor::onShowSerial);
            QObject::connect(r.get(), &QPipeItem::readSocketBuffer, monitor.get(), &Monitor::onShowSocket);
        }
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

    const int rc = app.exec();
    monitor.reset();
    for (std::unique_ptr<QPipeItem> &r : relays)
        runner.stop(r.get());
    return rc;
}

} // namespace relaybench
