// Start at logon: the user's Run key on Windows, an XDG autostart entry elsewhere.
#ifndef AUTORUN_H
#define AUTORUN_H

#include <QString>

class AutoRun
{
public:
    // Registers the running executable to start at the user's logon, or removes that entry.
    static void set(bool on);

#ifndef Q_OS_WIN
    // $XDG_CONFIG_HOME/autostart/<application name>.desktop (~/.config when the variable is unset).
    static QString desktopEntryPath();
    // The Exec value for a program path, quoted by the Desktop Entry rules where it needs it.
    static QString execValue(const QString &program);
#endif
};

#endif // AUTORUN_H
