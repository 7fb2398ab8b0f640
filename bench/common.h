// What every part of the relay benchmark shares: time, text, the options, a phase's outcome and
// the statistics of the tables.
#ifndef RELAYBENCH_COMMON_H
#define RELAYBENCH_COMMON_H

#include <chrono>
#include <string>
#include <vector>

namespace relaybench {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t);
// Milliseconds left of `limitSeconds` from `since`, rounded up; 0 once it has passed.
int msLeft(Clock::time_point since, double limitSeconds);
std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string errnoText(const char *what);
void sleepMs(int ms);

struct Options
{
    int rounds = 7;
    int rttCount = 2000;
    // A phase of about a second: at 16 MiB (a quarter of a second) costs that do not grow with
    // the bytes, such as the open monitor's drawing of its text (about 0.1 s a phase), weighed in
    // the figures per MiB as much as the relaying itself.
    int mib = 64;
    int stallSeconds = 10;
    int phaseSeconds = 120;
    bool abDispatcher = false;
    // The run types, in the order they run.
    bool relay = true;
    bool four = true;
    int fourSeconds = 3;
    bool blocked = false;
    bool backlogPeer = false;
    bool backlogCom = false;
    int blockSeconds = 5;
    bool blockBusy = true;
    int backlogSeconds = 20;
};

enum class Outcome { Ok, Stall, Error };

struct PhaseStatus
{
    Outcome outcome = Outcome::Ok;
    std::string what;
};

PhaseStatus stalled(const std::string &what);
PhaseStatus failed(const std::string &what);

// Nearest rank; NaN for no samples.
double percentile(std::vector<double> v, double pct);
// Of the values that are not NaN; NaN when none is.
double median(std::vector<double> v);

std::string loadAverage();
std::string findOnPath(const char *name);
bool setNonBlocking(int fd, bool on);
void closeFd(int *fd);

} // namespace relaybench

#endif
