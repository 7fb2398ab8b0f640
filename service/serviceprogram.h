// The program VantrelVComService: its command line, then either the service of a folder run in
// the foreground until a stop request, or one command to the running one.
#ifndef SERVICEPROGRAM_H
#define SERVICEPROGRAM_H

#include <QCoreApplication>
#include <QString>

#include <functional>

class ServiceOptions;

// What the host of the service (a console in the foreground, or a system's service manager)
// is told and gives; each may be left empty.
struct ServiceHooks
{
    // A further home for the log lines (the system's log), beside standard error.
    std::function<void(const QString &line)> log;
    // The channel listens and the connections are started.
    std::function<void()> running;
    // A stop was asked for; the connections are being stopped.
    std::function<void()> stopping;
};

class ServiceProgram
{
    Q_DECLARE_TR_FUNCTIONS(ServiceProgram)

public:
    // The exit codes.
    enum Exit {
        Ok = 0,
        // A command the service refused, or no service answered.
        Failed = 1,
        // The command line: an unknown option, a missing folder, two commands at once.
        Usage = 2,
        // The service cannot run: its folder's channel is taken or cannot be made.
        CannotRun = 3,
    };

    // Makes the application object, reads the command line and does what it says.
    static int main(int argc, char **argv);
    // Runs the service of options.canonicalFolder in the calling thread's event loop until a
    // stop request (StopRequests); an application object must exist.
    static int runService(const ServiceOptions &options, const ServiceHooks &hooks = ServiceHooks());
};

#endif // SERVICEPROGRAM_H
