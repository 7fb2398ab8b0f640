#include "servicechannel.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#ifndef Q_OS_WIN
#include <QFile>

#include <unistd.h>

namespace {

// Made by the systemd unit (RuntimeDirectory=) while the service runs, for its user and group.
const char *const kRunFolder = "/run/vantrelvcom";

} // namespace
#endif

QString ServiceChannel::defaultFolder()
{
#ifdef Q_OS_WIN
    QString data = qEnvironmentVariable("ProgramData");
    if (data.isEmpty())
        data = QStringLiteral("C:/ProgramData");
    return QDir::fromNativeSeparators(data) + QStringLiteral("/Vantrel/VantrelVCom");
#else
    return QStringLiteral("/var/lib/vantrelvcom");
#endif
}

QString ServiceChannel::canonicalFolder(const QString &folder)
{
    const QFileInfo info(folder);
    return info.isDir() ? info.canonicalFilePath() : QString();
}

QString ServiceChannel::name(const QString &canonicalFolder)
{
    QString key = canonicalFolder;
#ifdef Q_OS_WIN
    // One folder, however its name is written: Windows does not tell capitals apart.
    key = key.toLower();
#endif
    const QByteArray hash = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256);
    return QStringLiteral("vantrelvcom-") + QString::fromLatin1(hash.toHex().left(16));
}

QStringList ServiceChannel::places(const QString &canonicalFolder)
{
    const QString plain = name(canonicalFolder);
#ifdef Q_OS_WIN
    // A named pipe: one name space for the whole machine.
    return {plain};
#else
    return {QLatin1String(kRunFolder) + QLatin1Char('/') + plain, QDir::tempPath() + QLatin1Char('/') + plain};
#endif
}

QString ServiceChannel::placeToListen(const QString &canonicalFolder)
{
    const QStringList all = places(canonicalFolder);
#ifndef Q_OS_WIN
    for (const QString &place : all) {
        const QString folder = QFileInfo(place).absolutePath();
        if (QFileInfo(folder).isDir() && ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0)
            return place;
    }
#endif
    return all.last();
}
