// The service run by the Windows service control manager: the dispatcher's thread, the states
// the manager is told (start pending, running, stop pending, stopped), its stop request, and the
// event log as a further home of the lines. The service's own work stays in the event loop of
// the program's main thread, as in a console.
#ifndef WINDOWSSERVICE_H
#define WINDOWSSERVICE_H

#include <QCoreApplication>
#include <QString>

class ServiceOptions;

class WindowsService
{
    Q_DECLARE_TR_FUNCTIONS(WindowsService)

public:
    // The name the manager and the event log know the service by.
    static QString name();

    // Runs the service of the options' folder for the service control manager, which started
    // this process with --service, until the manager stops it; returns the exit code. Where no
    // manager started it (a console), says so in *why and returns at once.
    static int run(const ServiceOptions &options, QString *why);
};

#endif // WINDOWSSERVICE_H
