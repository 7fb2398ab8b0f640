// The program's settings: the per-user native settings store and a copy of its five values.
#ifndef MSCONFIG_H
#define MSCONFIG_H

#include <QSettings>
#include <QList>
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
    // Written at once, not at exit, so that a crash or a power cut loses nothing: the ids of the
    // connections that were started, with the folder whose pipes.json they belong to, and the
    // folder in which start at logon was switched on.
    static const char *const KeyStarted;
    static const char *const KeyStartedIn;
    static const char *const KeyLogonDir;

    MsConfig(const QString &organization, const QString &application, QObject *parent = nullptr);
    virtual ~MsConfig();

    void read();
    void save();

    // The connections started in folder, as last recorded for it; none for another folder.
    QList<int> startedIn(const QString &folder) const;
    void setStarted(const QList<int> &ids, const QString &folder);
    QString logonDir() const;
    void setLogonDir(const QString &folder);

    bool autoLoad = false;
    bool writeLog = false;
    bool addDevice = false;
    bool delDevice = false;
    QString workDir;
};

#endif // MSCONFIG_H
