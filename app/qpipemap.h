// One connection between a virtual COM port and a TCP endpoint (QPipeItem: its settings and its
// relay), and the collection of all connections with its file "pipes.json" (QPipeMap).
#ifndef QPIPEMAP_H
#define QPIPEMAP_H

#include "pipefile.h"
#include "piperelay.h"
#include "pipesettings.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class QPipeItem : public PipeRelay
{
    Q_OBJECT

public:
    explicit QPipeItem(QString name, QObject *parent = nullptr);
    ~QPipeItem() override;

    int id() const { return m_settings.id; }
    void setId(int id) { m_settings.id = id; }
    // The settings as given; the relay works on a copy taken at each start.
    const PipeSettings &settings() const { return m_settings; }
    PipeSettings::Mode mode() const { return m_settings.mode; }
    // What was wrong in the last fromJson or setPropertyMap, a line for each key that was
    // refused; empty when nothing was.
    QStringList loadProblems() const { return m_loadProblems; }

    QString getName() const { return m_settings.name; }
    QString getNote() const { return m_settings.note; }
    QString getIpAddr() const { return m_settings.ipAddr; }
    int getIpPort() const { return m_settings.ipPort; }
    QString portWork() const { return m_settings.portWork; }
    QString portNull() const { return m_settings.portNull; }

    QVariantMap getPropertyMap();
    // Stops the connection first: new parameters never apply to a running relay.
    void setPropertyMap(const QVariantMap &map);

    QJsonObject toJson() const;
    void fromJson(const QJsonObject &obj);

public slots:
    // Opens both sides and keeps them up until onDisconnection(). Returns at once; call it in the
    // thread the record lives in.
    void onConnection();
    // Closes both sides at once, however much they hold unwritten.
    void onDisconnection();

private:
    PipeSettings m_settings;
    QStringList m_loadProblems;
};

class QPipeMap : public QObject
{
    Q_OBJECT

public:
    explicit QPipeMap(QObject *parent = nullptr);
    ~QPipeMap() override;

    // Gives the record the next id and adds it; returns that id, or 0 (nothing added) when no
    // id is left above the largest in use.
    int addPipe(QPipeItem *item);
    // The id addPipe would give, or 0 when none is left.
    int nextId() const;
    void deletePipe(const int &id);
    QPipeItem *itemById(const int &id);
    QList<QPipeItem *> getList();
    int count();

    // Writes the whole file or leaves the old one; false when it could not be written, or when
    // it is a file this run must not write (whyNotSaved).
    bool saveToFile(const QString &fileName);
    // Loads the first Vcom::MaxConnections records; the others stay in the file as they are.
    void loadFromFile(const QString &fileName);
    // Why fileName is never written in this run, for the user (in the window's language): it
    // could not be read, or is no regular file, and there is no copy of it that is sure to be
    // whole. Empty when it may be written.
    QString whyNotSaved(const QString &fileName) const;
    // The last load found no file at all: a first start in that folder.
    bool fileWasMissing() const { return m_missing; }

signals:
    void changeMap();
    void sendStatus(QString state);
    // A line for the log: what in the file was refused, renumbered or left out.
    void sendLog(QString text);

private:
    int maxID() const;
    void takeRecords(const QJsonArray &array);
    void tellRefusal(const QString &fileName, const PipeFile::ReadResult &read);

    QMap<int, QPipeItem *> m_map;
    // The records of the file beyond the ones loaded, written back after them as they came.
    QJsonArray m_unloaded;
    // The largest usable id among them: no id handed out may clash with theirs.
    int m_unloadedTop = 0;
    // The files not to be written, by absolute name, and why.
    QHash<QString, PipeFile::Refusal> m_keptOff;
    bool m_missing = false;
};

#endif // QPIPEMAP_H
