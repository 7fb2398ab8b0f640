// The program's settings: the per-user native settings store and a copy of its five values.
#ifndef MSCONFIG_H
#define MSCONFIG_H

#include <QSettings>
#include <QString>

class MsConfig : public QSettings
{
public:
    // Key names as they stand in the store; "Logic" holds writeLog.
    static const char *const KeyWorkDir;
    static const char *const KeyLogic;
    static const char *const KeyAddDevice;
    static const char *const KeyDelDevice;
    static const char *const KeyAutoLoad;

    MsConfig(const QString &organization, const QString &application, QObject *parent = nullptr);
    virtual ~MsConfig();

    void read();
    void save();

    bool autoLoad = false;
    bool writeLog = false;
    bool addDevice = false;
    bool delDevice = false;
    QString workDir;
};

#endif // MSCONFIG_H
