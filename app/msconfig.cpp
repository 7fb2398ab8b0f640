#include "msconfig.h"

const char *const MsConfig::KeyWorkDir = "WorkDir";
const char *const MsConfig::KeyLogic = "Logic";
const char *const MsConfig::KeyAddDevice = "AddDevice";
const char *const MsConfig::KeyDelDevice = "DelDevice";
const char *const MsConfig::KeyAutoLoad = "AutoLoad";
const char *const MsConfig::KeyStarted = "Started";
const char *const MsConfig::KeyStartedIn = "StartedIn";
const char *const MsConfig::KeyLogonDir = "LogonDir";

MsConfig::MsConfig(const QString &organization, const QString &application, QObject *parent)
    : QSettings(QSettings::NativeFormat, QSettings::UserScope, organization, application, parent)
{
}

MsConfig::~MsConfig() = default;

void MsConfig::read()
{
    workDir = value(QLatin1String(KeyWorkDir), QString()).toString();
    writeLog = value(QLatin1String(KeyLogic), false).toBool();
    addDevice = value(QLatin1String(KeyAddDevice), false).toBool();
    delDevice = value(QLatin1String(KeyDelDevice), false).toBool();
    autoLoad = value(QLatin1String(KeyAutoLoad), false).toBool();
}

void MsConfig::save()
{
    setValue(QLatin1String(KeyWorkDir), workDir);
    setValue(QLatin1String(KeyLogic), writeLog);
    setValue(QLatin1String(KeyAddDevice), addDevice);
    setValue(QLatin1String(KeyDelDevice), delDevice);
    setValue(QLatin1String(KeyAutoLoad), autoLoad);
    // Written now, not when the store is next flushed: the program is about to end.
    sync();
}

QList<int> MsConfig::startedIn(const QString &folder) const
{
    QList<int> ids;
    if (value(QLatin1String(KeyStartedIn)).toString() != folder)
        return ids;
    // A plain text "1,3", readable in the registry as in the ini file. Written by hand into the
    // ini file, unquoted, it reads back as a list of texts: both are taken.
    const QStringList parts = value(QLatin1String(KeyStarted))
                                  .toStringList()
                                  .join(QLatin1Char(','))
                                  .split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        bool ok = false;
        const int id = part.trimmed().toInt(&ok);
        if (ok && id > 0 && !ids.contains(id))
            ids << id;
    }
    return ids;
}

void MsConfig::setStarted(const QList<int> &ids, const QString &folder)
{
    QStringList parts;
    for (int id : ids)
        parts << QString::number(id);
    setValue(QLatin1String(KeyStarted), parts.join(QLatin1Char(',')));
    setValue(QLatin1String(KeyStartedIn), folder);
    sync();
}

QString MsConfig::logonDir() const
{
    return value(QLatin1String(KeyLogonDir)).toString();
}

void MsConfig::setLogonDir(const QString &folder)
{
    setValue(QLatin1String(KeyLogonDir), folder);
    sync();
}
