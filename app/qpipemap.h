// One connection between a virtual COM port and a TCP endpoint (QPipeItem: its settings and its
// relay), and the collection of all connections with its file "pipes.json" (QPipeMap).
#ifndef QPIPEMAP_H
#define QPIPEMAP_H

#include "piperelay.h"
#include "pipesettings.h"

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

    // Writes the whole file or leaves the old one; false when it could not be written.
    bool saveToFile(const QString &fileName);
    void loadFromFile(const QString &fileName);

signals:
    void changeMap();
    void sendStatus(QString state);
    // A line for the log: a value of a connection in the file that was refused.
    void sendLog(QString text);

private:
    int maxID() const;

    QMap<int, QPipeItem *> m_map;
};

#endif // QPIPEMAP_H
