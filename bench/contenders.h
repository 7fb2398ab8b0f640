// The contenders: the bridge (QPipeItem in a process of its own, this same executable started
// with --bridge) and socat, each relaying between one pty and one TCP connection to the echo
// peer. Starting, talking to and ending them, and what outlives a crash of the driver.
#ifndef RELAYBENCH_CONTENDERS_H
#define RELAYBENCH_CONTENDERS_H

#include "common.h"

#include <atomic>
#include <string>
#include <vector>

#include <sys/types.h>

namespace relaybench {

class EchoPeer;

// BridgeG, with --ab-dispatcher only: the bridge whose relay thread runs the GLib event
// dispatcher (an empty QT_NO_THREADED_GLIB, which the program leaves alone), where the program
// gives it Qt's own.
enum class Contender { Bridge, BridgeG, Socat };

const char *contenderName(Contender c);

// The bridge process: `relaybench --bridge <pty slave path> <tcp port> [--monitor]`.
int runBridge(int argc, char **argv);

// The child running now and the socat link with its folder, for cleanupAndExit().
extern std::atomic<pid_t> g_child;
extern char g_linkPath[256];
extern char g_tmpDir[256];
// The handler of SIGINT, SIGTERM, SIGHUP and SIGALRM in the driver: ends the child, removes
// the link and exits.
void cleanupAndExit(int sig);

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
LineRead readStatusLine(Session *s, double seconds, std::string *line);

bool startBridge(const std::string &self, const EchoPeer &peer, const Options &o, bool glibRelay,
                 Session *s, std::string *why);
bool startSocat(const std::string &socat, const std::string &link, const EchoPeer &peer,
                const Options &o, Session *s, std::string *why);
// Ends the contender; returns how its process ended ("exit code 0", ...).
std::string stopSession(Session *s);

} // namespace relaybench

#endif
