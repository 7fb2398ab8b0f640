#include "common.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace relaybench {

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

PhaseStatus stalled(const std::string &what)
{
    return {Outcome::Stall, what};
}

PhaseStatus failed(const std::string &what)
{
    return {Outcome::Error, what};
}

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

bool setNonBlocking(int fd, bool on)
{
    const int fl = fcntl(fd, F_GETFL);
    if (fl < 0)
        return false;
    return fcntl(fd, F_SETFL, on ? (fl | O_NONBLOCK) : (fl & ~O_NONBLOCK)) == 0;
}

void closeFd(int *fd)
{
    if (*fd >= 0)
        close(*fd);
    *fd = -1;
}

} // namespace relaybench
