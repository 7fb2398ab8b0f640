// Start at logon: the user's Run key on Windows, an XDG autostart entry elsewhere.
#ifndef AUTORUN_H
#define AUTORUN_H

#include <QString>

class AutoRun
{
public:
    // Registers the running executable to start at the user's logon, or removes that entry.
    // folder is where it is to work then, so that it finds its pipes.json: off Windows the entry
    // starts it there; on Windows the Run key cannot say, and enterStartFolder() changes to it.
    static void set(bool on, const QString &folder = QString());

    // The folder to work in at start-up: logonFolder when the program was started from the
    // system folder (as the Run key starts it) and logonFolder exists, else current. Paths may
    // use either separator and are compared without regard to case, as Windows does.
    static QString startFolder(const QString &current, const QString &systemFolder,
                               const QString &logonFolder);
    // On Windows, changes to startFolder() of the current and the system folder. Nothing
    // elsewhere, where the autostart entry starts the program in its folder.
    static void enterStartFolder(const QString &logonFolder);

#ifndef Q_OS_WIN
    // $XDG_CONFIG_HOME/autostart/<application name>.desktop (~/.config when the variable is unset).
    static QString desktopEntryPath();
    // The Exec value for a program path, quoted by the Desktop Entry rules where it needs it.
    static QString execValue(const QString &program);
    // A string value (such as Path) escaped by the Desktop Entry rules.
    static QString stringValue(const QString &text);
#endif
};

#endif // AUTORUN_H
