// One connection between a virtual COM port and a TCP endpoint (QPipeItem), and the
// collection of all connections with its file "pipes.json" (QPipeMap).
#ifndef QPIPEMAP_H
#define QPIPEMAP_H

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QVariantMap>

class QSerialPort;
class QTcpSocket;

class QPipeItem : public QObject
{
    Q_OBJECT

public:
    enum PipeState {
        NotConnect = 0,
        SerialConnect = 1,
        SocketConnect = 2,
        PipeConnect = 3
    };
    Q_ENUM(PipeState)

    // The largest block handed on from the serial side at once; the monitor shows one line per
    // block, so COM-side lines never exceed this.
    static const int SerialChunk = 128;

    explicit QPipeItem(QString name, QObject *parent = nullptr);
    virtual ~QPipeItem();

    int id() const { return m_id; }
    void setId(int id) { m_id = id; }
    PipeState state() const { return m_state; }

    QString getName() const { return m_name; }
    void setName(const QString &name) { m_name = name; }
    QString getNote() const { return m_note; }
    void setNote(const QString &note) { m_note = note; }
    QString getIpAddr() const { return m_ipAddr; }
    void setIpAddr(const QString &ipAddr) { m_ipAddr = ipAddr; }
    int getIpPort() const { return m_ipPort; }
    void setIpPort(int ipPort) { m_ipPort = ipPort; }

    QString portWork() const;
    QString portNull() const;

    QVariantMap getPropertyMap();
    void setPropertyMap(const QVariantMap &map);

    QJsonObject toJson() const;
    void fromJson(const QJsonObject &obj);

signals:
    void readSerialBuffer(QByteArray buffer);
    void readSocketBuffer(QByteArray buffer);

public slots:
    void onConnection();
    void onDisconnection();

private slots:
    void onSerialRead();
    void onSocketRead();

private:
    QString serialProperty(const char *name) const;

    QString m_port_work;
    QString m_port_null;
    QString m_name;
    QString m_note;
    QString m_ipAddr;
    int m_ipPort = 0;
    int m_id = -1;
    PipeState m_state = NotConnect;
    QSerialPort *serial = nullptr;
    QTcpSocket *socket = nullptr;
};

class QPipeMap : public QObject
{
    Q_OBJECT

public:
    explicit QPipeMap(QObject *parent = nullptr);
    virtual ~QPipeMap();

    int addPipe(QPipeItem *item);
    void deletePipe(const int &id);
    QPipeItem *itemById(const int &id);
    QList<QPipeItem *> getList();
    int count();

    void saveToFile(const QString &fileName);
    void loadFromFile(const QString &fileName);

signals:
    void changeMap();
    void sendStatus(QString state);

private:
    int maxID() const;

    QMap<int, QPipeItem *> m_map;
};

#endif // QPIPEMAP_H
