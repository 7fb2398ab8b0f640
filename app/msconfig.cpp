#include "msconfig.h"

const char *const MsConfig::KeyWorkDir = "WorkDir";
const char *const MsConfig::KeyLogic = "Logic";
const char *const MsConfig::KeyAddDevice = "AddDevice";
const char *const MsConfig::KeyDelDevice = "DelDevice";
const char *const MsConfig::KeyAutoLoad = "AutoLoad";

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
