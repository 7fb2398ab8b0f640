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

// Bridge: a client connection, as most are. BridgeG, with --ab-dispatcher only: the bridge whose
// relay thread runs the GLib event dispatcher (an empty QT_NO_THREADED_GLIB, which the program
// leaves alone), where the program gives it Qt's own. Server: the bridge listens and the echo
// peer dials in. Rfc2217: the Telnet layer on, against an echo peer that speaks Telnet.
// Monitor: the traffic monitor open. Four: four connections in one process, each in a thread
// of its own, all busy at once.
enum class Contender { Bridge, BridgeG, Server, Rfc2217, Monitor, Four, Socat };
const int kContenders = int(Contender::Socat) + 1;

const char *contenderName(Contender c);

// How a bridge contender's process is set up.
struct BridgeSetup
{
    bool glibRelay = false;
    bool server = false;
    bool rfc2217 = false;
    bool monitor = false;
    int connections = 1;
};

BridgeSetup setupOf(Contender c);

// The bridge process:
// `relaybench --bridge <tcp port> <pty slave path>... [--server] [--rfc2217] [--monitor]`.
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
    // The user's side of each pty (one per connection): measurements run here.
    std::vector<int> users;
    // Held open for the run only (the bridge's slaves, against hang-ups).
    std::vector<int> keeps;
    int control = -1; // the bridge's standard input: closing it ends the bridge
    int status = -1;  // the bridge's standard output
    std::string statusText; // read from `status`, not yet taken as a line
    std::string dispatchers; // the bridge's, as it reported them: window thread, relay thread
};

enum class LineRead { Ok, Late, Closed };

// The next line the bridge printed, without its newline, waiting up to `seconds` for it.
LineRead readStatusLine(Session *s, double seconds, std::string *line);

bool startBridge(const std::string &self, EchoPeer *peer, const Options &o,
                 const BridgeSetup &setup, Session *s, std::string *why);
bool startSocat(const std::string &socat, const std::string &link, EchoPeer *peer,
                const Options &o, Session *s, std::string *why);
// Ends the contender; returns how its process ended ("exit code 0", ...).
std::string stopSession(Session *s);

} // namespace relaybench

#endif
