#include "serialports.h"

#include "pipesettings.h"
#include "sysio.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>

#include <algorithm>
#include <cerrno>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <unistd.h>

namespace {

int comNumber(const QString &name)
{
    return name.mid(3).toInt();
}

// A pseudo-terminal, or any serial device, is a character device; a file or a folder never is.
bool leadsToCharDevice(const QString &path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISCHR(st.st_mode);
}

} // namespace
#endif

void SerialPorts::setLine(QSerialPort *port, const LineSettings &line)
{
    port->setBaudRate(line.baud, QSerialPort::AllDirections);
    port->setDataBits(QSerialPort::DataBits(line.dataBits));
    static const QSerialPort::Parity parities[] = {QSerialPort::NoParity, QSerialPort::OddParity,
                                                   QSerialPort::EvenParity, QSerialPort::MarkParity,
                                                   QSerialPort::SpaceParity};
    port->setParity(parities[int(line.parity)]);
    const QSerialPort::StopBits stops[] = {QSerialPort::OneStop, SysIo::oneAndHalfStop(), QSerialPort::TwoStop};
    port->setStopBits(stops[int(line.stopBits)]);
}

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
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || !virtualPortDirProblem().isEmpty())
        return name;
    const QFileInfo link(virtualPortDir() + QLatin1Char('/') + name);
    if (!leadsToCharDevice(link.absoluteFilePath()))
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

QString SerialPorts::virtualPortDirProblem()
{
#ifdef Q_OS_WIN
    return QString();
#else
    const QString dir = virtualPortDir();
    struct stat st;
    if (::lstat(QFile::encodeName(dir).constData(), &st) != 0)
        return errno == ENOENT ? QString() : tr("%1 не удалось проверить").arg(dir);
    if (S_ISLNK(st.st_mode))
        return tr("%1 — ссылка, а не папка").arg(dir);
    if (!S_ISDIR(st.st_mode))
        return tr("%1 — не папка").arg(dir);
    if (st.st_uid != geteuid())
        return tr("%1 принадлежит другому пользователю").arg(dir);
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return tr("%1 доступна для записи другим пользователям").arg(dir);
    return QString();
#endif
}

QStringList SerialPorts::virtualPortNames()
{
#ifdef Q_OS_WIN
    return {};
#else
    const QString dir = virtualPortDir();
    if (!virtualPortDirProblem().isEmpty())
        return {};
    static const QRegularExpression comName(QStringLiteral("^COM\\d+$"));
    QStringList names;
    const QFileInfoList entries = QDir(dir).entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        // A link whose pseudo-terminal is gone (its pair was removed) is not a port, nor is one
        // that leads to a file.
        if (comName.match(entry.fileName()).hasMatch() && leadsToCharDevice(entry.absoluteFilePath()))
            names << entry.fileName();
    }
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        return comNumber(a) < comNumber(b);
    });
    return names;
#endif
}
