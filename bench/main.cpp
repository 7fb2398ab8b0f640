// relaybench: round-trip time, echo throughput and CPU cost of the serial-to-TCP bridge
// (QPipeItem), side by side with socat doing the same pty <-> TCP relay. Both contenders run in
// the same invocation, take turns, and talk to the same echo peer on 127.0.0.1. README.md
// beside this file tells how to run it and how to read what it prints.
//
// Two modes in one executable:
//   relaybench [options]                 the driver: echo peer, pty, contenders, measurements
//   relaybench --bridge <pty> <port>     one QPipeItem in its own process, started by the driver

#include "common.h"
#include "contenders.h"
#include "measure.h"
#include "peers.h"
#include "report.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using namespace relaybench;

namespace {

void usage(FILE *to)
{
    fprintf(to,
            "usage: relaybench [--runs LIST] [--rounds N] [--rtt-count N] [--mib N]\n"
            "                  [--four-seconds N] [--block-seconds N] [--block-mode busy|sleep]\n"
            "                  [--backlog-seconds N] [--stall-seconds N] [--phase-seconds N]\n"
            "                  [--quick] [--ab-dispatcher]\n"
            "  --runs LIST        comma-separated, in any order: relay, four, blocked, backlog,\n"
            "                     backlog-com, or all (default relay,four)\n"
            "  --rounds N         rounds of each run (default 7)\n"
            "  --rtt-count N      measured round trips per message size (default 2000)\n"
            "  --mib N            MiB sent and echoed back in the throughput phase (default 64)\n"
            "  --four-seconds N   how long the four run's connections stream at once (default 3)\n"
            "  --block-seconds N  how long the bridge's main thread is held up (default 5)\n"
            "  --block-mode M     busy (spins, default) or sleep (blocks in the kernel)\n"
            "  --backlog-seconds N  how long a side stops reading in a backlog run (default 20)\n"
            "  --stall-seconds N  no progress for this long is a stall (default 10)\n"
            "  --phase-seconds N  time limit of each measuring phase (default 120)\n"
            "  --quick            smoke run: 1 round, 200 round trips, 1 MiB, 1 s four run,\n"
            "                     1 s block, 2 s backlog (options after it override these)\n"
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
    o->relay = o->four = o->blocked = o->backlogPeer = o->backlogCom = false;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(',', start);
        if (end == std::string::npos)
            end = list.size();
        const std::string name = list.substr(start, end - start);
        const bool all = name == "all";
        if (name == "relay" || all)
            o->relay = true;
        if (name == "four" || all)
            o->four = true;
        if (name == "blocked" || all)
            o->blocked = true;
        if (name == "backlog" || all)
            o->backlogPeer = true;
        if (name == "backlog-com" || all)
            o->backlogCom = true;
        if (!all && name != "relay" && name != "four" && name != "blocked" && name != "backlog"
            && name != "backlog-com")
            return false;
        start = end + 1;
    }
    return true;
}

struct Bench
{
    std::string self;
    std::string socat;
    std::string link;
    EchoPeer *peer = nullptr;
    Options o;
    // As each bridge contender last reported them.
    std::string dispatchers[kContenders];
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
    const bool up = bridge ? startBridge(bench->self, &peer, o, setupOf(who), &s, &why)
                           : startSocat(bench->socat, bench->link, &peer, o, &s, &why);
    if (!up) {
        r.problems.push_back("start: " + why);
        stopSession(&s);
        return r;
    }
    if (!s.dispatchers.empty())
        bench->dispatchers[int(who)] = s.dispatchers;

    // Nonblocking throughout: every wait below is a poll() with a time limit.
    for (int user : s.users) {
        if (!setNonBlocking(user, true)) {
            r.problems.push_back(errnoText("start: fcntl O_NONBLOCK"));
            stopSession(&s);
            return r;
        }
    }
    switch (run) {
    case Run::Relay:
        measureRelay(s, o, who == Contender::Rfc2217, &r);
        if (who == Contender::Rfc2217)
            r.notes.push_back(peer.telnetConnections() == 0
                                  ? std::string("the relay sent no Telnet negotiation; its data "
                                                "passed unescaped")
                                  : format("Telnet negotiated; %lld data bytes 0xFF came doubled",
                                           peer.escapedBytes()));
        break;
    case Run::Four:
        measureFour(s, o, &r);
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
        else if (a == "--four-seconds")
            number(1, 600, &o.fourSeconds);
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
            o.fourSeconds = 1;
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
    if (o.four)
        runs.push_back(Run::Four);
    if (o.blocked)
        runs.push_back(Run::Blocked);
    if (o.backlogPeer)
        runs.push_back(Run::BacklogPeer);
    if (o.backlogCom)
        runs.push_back(Run::BacklogCom);
    // In the order they take turns within a round.
    auto contendersOf = [&o](Run run) {
        std::vector<Contender> who{Contender::Bridge};
        if (run == Run::Four) {
            who.push_back(Contender::Four);
            return who;
        }
        if (o.abDispatcher)
            who.push_back(Contender::BridgeG);
        if (run == Run::Relay) {
            who.push_back(Contender::Server);
            who.push_back(Contender::Rfc2217);
            who.push_back(Contender::Monitor);
        }
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
                          : run == Run::Four  ? o.fourSeconds
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
                for (const std::string &n : r.notes)
                    printf("        %s: %s\n", contenderName(who), n.c_str());
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
        // The goals of the bridge (and of bridgeG) against socat; in the four table, of four
        // connections against one.
        for (Contender who : contendersOf(run)) {
            if (run == Run::Four ? who == Contender::Four
                                 : who == Contender::Bridge || who == Contender::BridgeG)
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
