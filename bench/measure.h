// The measurements, made from the user's side of the pty: round trips, echo throughput, the
// relay's CPU time and memory, and the runs that put them together.
#ifndef RELAYBENCH_MEASURE_H
#define RELAYBENCH_MEASURE_H

#include "common.h"
#include "contenders.h"

#include <string>
#include <vector>

#include <sys/types.h>

namespace relaybench {

class EchoPeer;

// The run types: each has a table of its own.
enum class Run { Relay, Four, Blocked, BacklogPeer, BacklogCom };

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

// The columns of the four-connections table: every connection of the bridge echoes a stream
// at the same time for a while.
enum FourMetric {
    AggMBps,       // MB/s echoed back over all connections
    Share1,        // % of those bytes that went through connection 1
    Share2,
    Share3,
    Share4,
    MinShare,      // % of the connection with the smallest share
    FourCpuPerMiB, // s of the relay's CPU per MiB echoed
    RelayCores,    // % of one core the relay process used during the window
    BenchCores,    // % of one core the driver and the echo peer used
    MachineBusy,   // % of all the machine's cores busy (everything, the kernel's workers too):
                   // near 100, the cores, not the relay, set the aggregate
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

struct RunResult
{
    Contender who = Contender::Bridge;
    int round = 0;
    bool stall = false;
    std::vector<std::string> problems;
    // What the run showed beside its figures, not a fault.
    std::vector<std::string> notes;
    // One per column of its table; NaN where the phase did not complete.
    std::vector<double> m;
};

// CPU seconds (user + system, all threads) the process has used so far; negative if unknown.
double cpuSeconds(pid_t pid);

// Round trips of 1 and 64 bytes, then the echo throughput; `ffHeavy`: with many 0xFF bytes.
void measureRelay(const Session &s, const Options &o, bool ffHeavy, RunResult *r);
// Every connection of the session echoes a stream for o.fourSeconds at the same time; then
// every byte is read back and checked.
void measureFour(const Session &s, const Options &o, RunResult *r);
// 64-byte round trips for as long as the bridge holds its main thread up, then as many again
// with the thread free.
void measureBlocked(Session *s, const Options &o, RunResult *r);
void measureBacklog(const Session &s, EchoPeer *peer, bool peerStops, const Options &o,
                    RunResult *r);

} // namespace relaybench

#endif
