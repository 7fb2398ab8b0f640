// The program's command line: run the service of a folder, or ask the running one something.
#ifndef SERVICEOPTIONS_H
#define SERVICEOPTIONS_H

#include <QCoreApplication>
#include <QString>
#include <QStringList>

class ServiceOptions
{
    Q_DECLARE_TR_FUNCTIONS(ServiceOptions)

public:
    // Install and Uninstall: the Windows service's registration, only on Windows.
    enum Command { Run, Status, Start, Stop, Reload, Install, Uninstall, Help, Version, Invalid };

    Command command = Invalid;
    // The folder as given (or the default one), and as the channel knows it: empty when it is
    // no folder (Install makes it first; Uninstall needs none).
    QString folder;
    QString canonicalFolder;
    // Run: started by the Windows service control manager, which is told its states.
    bool managed = false;
    // The connection of Start and Stop.
    int id = 0;
    // Why the command line is refused (Invalid).
    QString error;
    // What --help prints.
    QString helpText;

    // args: the whole command line, the program first. Needs no application object.
    static ServiceOptions parse(const QStringList &args);
};

#endif // SERVICEOPTIONS_H
