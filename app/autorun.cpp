#include "autorun.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>

#ifdef Q_OS_WIN

void AutoRun::set(bool on)
{
    QSettings run(QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"),
                  QSettings::NativeFormat);
    const QString name = QCoreApplication::applicationName();
    if (on)
        run.setValue(name, QCoreApplication::applicationFilePath().replace(QLatin1Char('/'), QLatin1Char('\\')));
    else
        run.remove(name);
}

#else

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

void AutoRun::set(bool on)
{
    const QString path = desktopEntryPath();
    if (!on) {
        QFile::remove(path);
        return;
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QString name = QCoreApplication::applicationName();
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=%1\n"
                                        "Exec=%2\n"
                                        "Terminal=false\n")
                             .arg(name, execValue(QCoreApplication::applicationFilePath()));
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(text.toUtf8());
        file.commit();
    }
}

#endif
