// The service's registration with the Windows service control manager and the event log:
// --install (automatic start, restart on failure, its display name and description, the event
// log source) and --uninstall (stopped if it runs, then removed with its source).
#ifndef SERVICEREGISTRATION_H
#define SERVICEREGISTRATION_H

#include <QCoreApplication>
#include <QString>

class ServiceOptions;

class ServiceRegistration
{
    Q_DECLARE_TR_FUNCTIONS(ServiceRegistration)

public:
    // How long --uninstall waits for a running service to stop: it ends within 2 s of the request.
    static const int StopWaitMs = 10000;

    // Each returns the program's exit code, with what to tell the user in *message.
    static int install(const ServiceOptions &options, QString *message);
    static int uninstall(QString *message);

    // The service's command line: the program, --service and its folder, each path quoted as
    // the C runtime reads a command line back.
    static QString commandLine(const QString &program, const QString &folder);
};

#endif // SERVICEREGISTRATION_H
