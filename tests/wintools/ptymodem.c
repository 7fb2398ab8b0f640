// ptymodem: a host library preloaded into Wine for the test run only (LD_PRELOAD), so that a
// Windows program reading a COM port that is a Wine link to a pseudo-terminal gets its bytes.
//
// Why it is needed. A pseudo-terminal has no modem lines: TIOCMGET on it fails with ENOTTY.
// Wine waits for a COM port's events (IOCTL_SERIAL_WAIT_ON_MASK, which is how Qt Serial Port
// learns that bytes arrived) in a thread that asks the device for its modem lines on every turn,
// and gives the wait up when that fails. The wait then never completes, Qt's APC never comes,
// and Qt never reads. A real serial port, and com0com's virtual ones on Windows, answer the
// question, so there the same program reads at once.
//
// What it changes, and nothing else: TIOCMGET on a pseudo-terminal that failed with ENOTTY
// instead succeeds with no modem line set, which is what a null-modem port with nothing wired to
// its control lines reports. Every other call, and TIOCMGET on any other device, goes to the C
// library untouched. The program under test, Qt and Wine are the same binaries as without it;
// only the answer Wine gets from the host to that one question differs.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

// The kernel's numbers for the terminals of /dev/pts (UNIX98_PTY_SLAVE_MAJOR and the 7 after it).
static int isPseudoTerminal(int fd)
{
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

int ioctl(int fd, unsigned long request, ...)
{
    static int (*next)(int, unsigned long, ...);
    if (!next)
        next = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    const int saved = errno;
    const int result = next(fd, request, arg);
    if (result == -1 && errno == ENOTTY && request == TIOCMGET && arg && isPseudoTerminal(fd)) {
        *(int *)arg = 0;
        errno = saved;
        return 0;
    }
    return result;
}
