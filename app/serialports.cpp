#include "serialports.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>

#include <algorithm>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace {

int comNumber(const QString &name)
{
    return name.mid(3).toInt();
}

} // namespace

QStringList SerialPorts::portNames()
{
    QStringList names;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        names << info.portName();
    for (const QString &name : virtualPortNames()) {
        if (!names.contains(name))
            names << name;
    }
    return names;
}

QString SerialPorts::devicePath(const QString &name)
{
#ifdef Q_OS_WIN
    return name;
#else
    const QString dir = virtualPortDir();
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        return name;
    const QFileInfo link(dir + QLatin1Char('/') + name);
    if (!link.isSymLink() && !link.exists())
        return name;
    // Open the device itself, not the link: the port's lock file is named after the device.
    const QString target = link.canonicalFilePath();
    return target.isEmpty() ? link.absoluteFilePath() : target;
#endif
}

QString SerialPorts::virtualPortDir()
{
#ifdef Q_OS_WIN
    return QString();
#else
    const QString runtime = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR"));
    if (!runtime.isEmpty())
        return runtime + QLatin1String("/vcom");
    return QStringLiteral("/tmp/vcom-%1").arg(getuid());
#endif
}

QStringList SerialPorts::virtualPortNames()
{
    const QString dir = virtualPortDir();
    if (dir.isEmpty())
        return {};
    static const QRegularExpression comName(QStringLiteral("^COM\\d+$"));
    QStringList names;
    const QFileInfoList entries = QDir(dir).entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        // A link whose pseudo-terminal is gone (its pair was removed) is not a port.
        if (comName.match(entry.fileName()).hasMatch() && entry.exists())
            names << entry.fileName();
    }
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        return comNumber(a) < comNumber(b);
    });
    return names;
}
