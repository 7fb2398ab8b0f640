#include "autorun.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

QString AutoRun::startFolder(const QString &current, const QString &systemFolder, const QString &logonFolder)
{
    const auto same = [](const QString &a, const QString &b) {
        return QDir::cleanPath(QDir::fromNativeSeparators(a))
                   .compare(QDir::cleanPath(QDir::fromNativeSeparators(b)), Qt::CaseInsensitive)
               == 0;
    };
    if (logonFolder.isEmpty() || systemFolder.isEmpty() || !same(current, systemFolder)
        || !QFileInfo(logonFolder).isDir())
        return current;
    return logonFolder;
}

#ifdef Q_OS_WIN

void AutoRun::enterStartFolder(const QString &logonFolder)
{
    wchar_t system[MAX_PATH];
    const UINT size = GetSystemDirectoryW(system, MAX_PATH);
    if (size == 0 || size >= MAX_PATH)
        return;
    const QString current = QDir::currentPath();
    const QString folder = startFolder(current, QString::fromWCharArray(system, int(size)), logonFolder);
    if (folder != current)
        QDir::setCurrent(folder);
}

void AutoRun::set(bool on, const QString &folder)
{
    Q_UNUSED(folder)
    QSettings run(QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"),
                  QSettings::NativeFormat);
    const QString name = QCoreApplication::applicationName();
    if (on)
        run.setValue(name, QCoreApplication::applicationFilePath().replace(QLatin1Char('/'), QLatin1Char('\\')));
    else
        run.remove(name);
}

#else

void AutoRun::enterStartFolder(const QString &logonFolder)
{
    Q_UNUSED(logonFolder)
}

QString AutoRun::desktopEntryPath()
{
    QString base = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QLatin1String("/.config");
    return base + QLatin1String("/autostart/") + QCoreApplication::applicationName()
           + QLatin1String(".desktop");
}

QString AutoRun::execValue(const QString &program)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    // '%' starts a field code; a literal one is doubled, quoted or not.
    QString arg = program;
    arg.replace(QLatin1Char('%'), QLatin1String("%%"));
    bool quote = false;
    for (QChar c : program)
        quote = quote || reserved.contains(c);
    if (quote) {
        QString quoted;
        for (QChar c : arg) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$')
                || c == QLatin1Char('\\'))
                quoted += QLatin1Char('\\');
            quoted += c;
        }
        arg = QLatin1Char('"') + quoted + QLatin1Char('"');
    }
    // The key's value is itself a string whose backslashes are escaped once more.
    arg.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    return arg;
}

QString AutoRun::stringValue(const QString &text)
{
    QString out;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\\'))
            out += QLatin1String("\\\\");
        else if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else if (c == QLatin1Char('\t'))
            out += QLatin1String("\\t");
        else if (c == QLatin1Char('\r'))
            out += QLatin1String("\\r");
        else if (c == QLatin1Char(' ') && i == 0)
            out += QLatin1String("\\s");
        else
            out += c;
    }
    return out;
}

void AutoRun::set(bool on, const QString &folder)
{
    const QString path = desktopEntryPath();
    if (!on) {
        QFile::remove(path);
        return;
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QString name = QCoreApplication::applicationName();
    QString text = QStringLiteral("[Desktop Entry]\n"
                                  "Type=Application\n"
                                  "Name=%1\n"
                                  "Exec=%2\n")
                       .arg(name, execValue(QCoreApplication::applicationFilePath()));
    // The program keeps its connections in the folder it is started in.
    if (!folder.isEmpty())
        text += QStringLiteral("Path=%1\n").arg(stringValue(folder));
    text += QStringLiteral("Terminal=false\n");
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(text.toUtf8());
        file.commit();
    }
}

#endif
