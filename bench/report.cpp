#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace relaybench {

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
    static const std::vector<Column> four = {
        {"agg MB/s", "", 9, 2}, {"c1 %", "", 6, 1},   {"c2 %", "", 6, 1},
        {"c3 %", "", 6, 1},     {"c4 %", "", 6, 1},   {"min %", "", 6, 1},
        {"CPU s/MiB", "", 10, 4}, {"relay CPU", "(%)", 10, 0}, {"bench CPU", "(%)", 10, 0},
        {"busy", "(%)", 6, 0}};
    switch (run) {
    case Run::Relay:
        return relay;
    case Run::Four:
        return four;
    case Run::Blocked:
        return blocked;
    case Run::BacklogPeer:
    case Run::BacklogCom:
        break;
    }
    return backlog;
}

static std::string cell(double v, const Column &c)
{
    if (std::isnan(v))
        return "-";
    if (c.decimals < 0)
        return v > 0 ? "yes" : "NO";
    return format("%.*f", c.decimals, v);
}

static void printCells(const char *label, const char *who, const std::vector<Column> &columns,
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
static double largestOf(const std::vector<RunResult> &results, Contender who, int column)
{
    double top = NAN;
    for (const RunResult &r : results) {
        if (r.who == who && !std::isnan(r.m[size_t(column)]))
            top = std::isnan(top) ? r.m[size_t(column)] : std::max(top, r.m[size_t(column)]);
    }
    return top;
}


std::string titleOf(Run run, const Options &o)
{
    switch (run) {
    case Run::Relay:
        return "relay: round trips, echo throughput and CPU";
    case Run::Four:
        return format("four connections at once: every connection echoes a stream for %d s; "
                      "throughput of all together, each one's share (bridge: a single connection)",
                      o.fourSeconds);
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

// One line of the goals: the figure `value` (a ratio to `against`), the goal and whether it is
// met. `atMost`: lower is better. A goal of NAN: a figure shown for orientation, with no goal.
static void goalLine(const char *what, double value, const char *against, bool atMost,
                     double goal)
{
    const bool known = !std::isnan(value);
    if (std::isnan(goal)) {
        printf("  %-38s %9s %-7s %8s  %s\n", what, known ? format("%.2fx", value).c_str() : "n/a", against, "-", "-");
        return;
    }
    printf("  %-38s %9s %-7s %s %5.2fx  %s\n", what, known ? format("%.2fx", value).c_str() : "n/a",
           against, atMost ? "<=" : ">=", goal,
           !known ? "n/a" : (atMost ? value <= goal : value >= goal) ? "yes" : "NO");
}

static void printGoalsHeader(const std::string &title)
{
    printf("%-40s %9s %-7s %8s  %s\n", title.c_str(), "figure", "", "goal", "met");
}

static double over(double a, double b)
{
    return std::isnan(a) || std::isnan(b) || b <= 0 ? NAN : a / b;
}

static bool ran(const std::vector<RunResult> &results, Contender who)
{
    return std::any_of(results.begin(), results.end(),
                       [who](const RunResult &r) { return r.who == who; });
}

void printTargets(Run run, const std::vector<RunResult> &results, Contender who)
{
    const std::vector<Column> &columns = columnsOf(run);
    const std::vector<double> b = summaryOf(results, who, columns);
    const std::vector<double> s = summaryOf(results, Contender::Socat, columns);
    const char *name = contenderName(who);
    switch (run) {
    case Run::Relay: {
        printGoalsHeader(format("goals (%s, ratios of the medians)", name));
        goalLine("echo throughput", over(b[EchoMBps], s[EchoMBps]), "socat", false, 1.0);
        goalLine("round trip 1 B p50", over(b[Rtt1P50], s[Rtt1P50]), "socat", true, 1.0);
        goalLine("round trip 1 B p99", over(b[Rtt1P99], s[Rtt1P99]), "socat", true, 1.1);
        goalLine("round trip 64 B p50", over(b[Rtt64P50], s[Rtt64P50]), "socat", true, 1.0);
        goalLine("round trip 64 B p99", over(b[Rtt64P99], s[Rtt64P99]), "socat", true, 1.1);
        goalLine("CPU per MiB", over(b[CpuPerMiB], s[CpuPerMiB]), "socat", true, 1.0);
        if (who != Contender::Bridge)
            break;
        // The variants of the bridge, against the plain client connection of the same rounds.
        const struct
        {
            Contender variant;
            const char *what;
            Metric metric;
            bool atMost;
            double goal;
        } variants[] = {
            {Contender::Server, "server mode: echo throughput", EchoMBps, false, 0.9},
            {Contender::Rfc2217, "RFC 2217: echo throughput", EchoMBps, false, NAN},
            {Contender::Monitor, "monitor open: CPU per MiB", CpuPerMiB, true, 2.0},
        };
        for (const auto &v : variants) {
            if (!ran(results, v.variant))
                continue;
            const std::vector<double> m = summaryOf(results, v.variant, columns);
            goalLine(v.what, over(m[v.metric], b[v.metric]), name, v.atMost, v.goal);
        }
        break;
    }
    case Run::Four: {
        const std::vector<double> one = summaryOf(results, Contender::Bridge, columns);
        double least = NAN;
        for (const RunResult &r : results) {
            if (r.who == who && !std::isnan(r.m[MinShare]))
                least = std::isnan(least) ? r.m[MinShare] : std::min(least, r.m[MinShare]);
        }
        printGoalsHeader("goals (four connections at once)");
        goalLine("aggregate throughput", over(b[AggMBps], one[AggMBps]), "bridge", false, 3.0);
        printf("  %-38s %8s%% %-7s >= %5.1f%%  %s\n", "smallest share, of all rounds",
               std::isnan(least) ? "n/a" : format("%.1f", least).c_str(), "", 20.0,
               std::isnan(least) ? "n/a" : least >= 20.0 ? "yes" : "NO");
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

} // namespace relaybench
