// One connection between a virtual COM port and a TCP endpoint (QPipeItem), and the
// collection of all connections with its file "pipes.json" (QPipeMap).
#ifndef QPIPEMAP_H
#define QPIPEMAP_H

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QString>
#include <QVariantMap>
#include <QVector>

#include "telnetfilter.h"

#include <atomic>
#include <memory>

class QSerialPort;
class QTcpServer;
class QTcpSocket;
class QTimer;
class PeerListener;

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

    // The longest line the monitor shows of what the serial side sent: a read is cut into lines
    // of at most this many bytes.
    static const int SerialChunk = 128;
    // Unwritten bytes on one side above which the relay stops reading the other side, until they
    // drain. The sender then feels it: the COM port stops taking writes, or the TCP window closes.
    static const int Backlog = 64 * 1024;
    // A side that failed or dropped is tried again after FirstRetryMs, doubling up to LastRetryMs;
    // a success brings the delay back to FirstRetryMs.
    static const int FirstRetryMs = 1000;
    static const int LastRetryMs = 30000;
    // An open port is asked this often whether its device is still there: some drivers leave
    // their pending reads and writes hanging when the device goes away, and report nothing.
    static const int SerialWatchMs = 1000;
    // A connection attempt that has not been answered by then is given up and tried again.
    static const int ConnectTimeoutMs = 5000;
    // TCP keep-alive: first probe after this many idle seconds, then one every interval, and the
    // peer counts as gone after that many unanswered probes.
    static const int KeepAliveIdleS = 10;
    static const int KeepAliveIntervalS = 5;
    static const int KeepAliveCount = 3;
    // Bytes sent and not acknowledged for this long mean the peer is gone, even while data
    // flows (keep-alive probes only an idle link).
    static const int UnackedTimeoutMs = 30000;
    // How often the traffic counters are reported while they change.
    static const int CountEveryMs = 500;
    // An RFC 2217 peer that has not agreed to the COM port option by then is told of in the log.
    static const int TelnetAnswerMs = 3000;
    // While traffic flows, the watchers (the monitor) are told of it at most this often; each
    // read still has a signal of its own.
    static const int WatchEveryMs = 10;

    // How the socket comes to exist: dialled out to ipaddr:ipport (Client), or taken from a
    // peer that dials in to a listener on ipaddr:ipport (Server).
    enum Mode { Client, Server };
    // Which side a report is about.
    enum Side { SerialSide = 0, SocketSide = 1 };

    // Call before the relays' threads start: they then run Qt's own event dispatcher, which
    // costs a relayed message some 5 us less than GLib's (the window's thread keeps GLib's).
    // A QT_NO_THREADED_GLIB already in the environment, even an empty one, is left as it is.
    static void preferPlainDispatcher();

    explicit QPipeItem(QString name, QObject *parent = nullptr);
    virtual ~QPipeItem();

    int id() const { return m_id; }
    void setId(int id) { m_id = id; }
    // Bit 0 exactly while the serial port is open, bit 1 exactly while the socket is connected.
    // Safe to read from any thread.
    PipeState state() const { return PipeState(m_state.load()); }
    // From onConnection() until onDisconnection(): the connection keeps both sides up by itself,
    // whatever its state bits show at the moment. Safe to read from any thread.
    bool isStarted() const { return m_started.load(); }
    // Bytes read from one side while the other side was down, and so dropped.
    qint64 droppedToSocket() const { return m_droppedToSocket.load(); }
    qint64 droppedToSerial() const { return m_droppedToSerial.load(); }
    // The connection's mode; set with the parameters, while stopped.
    Mode mode() const { return m_mode; }
    // What was wrong in the last fromJson, a line for each key that was refused; empty when
    // nothing was.
    QStringList loadProblems() const { return m_loadProblems; }

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
    // Each read, whole; emitted in the application's (the window's) thread, whichever thread
    // relays, up to WatchEveryMs after the bytes went on.
    void readSerialBuffer(QByteArray buffer);
    void readSocketBuffer(QByteArray buffer);
    // The state bits or the started flag changed; read them with state() and isStarted().
    void stateChanged();
    // A side went down or came back, once per change: a side that keeps failing for the same
    // reason reports again only when its next try's delay reaches the cap. what names the side
    // (the port, the address); reason says why it is down (empty when up); retryMs is the delay
    // of its next try (0 when up or stopped).
    void sideChanged(int side, bool up, QString what, QString reason, int retryMs);
    // A side that is still down for the same reason: its next try is in retryMs.
    void sideRetrying(int side, int retryMs);
    // Something the log should tell about the connection: a peer replaced, the converter's
    // answers.
    void note(QString text);
    // The traffic counters, sent while they change and at each start and stop.
    void countersChanged(qint64 toSocket, qint64 toSerial, qint64 droppedToSocket, qint64 droppedToSerial);

public slots:
    // Opens both sides and keeps them up until onDisconnection(). Returns with the state reached
    // within 200 ms. Call it in the thread the record lives in.
    void onConnection();
    // Closes both sides at once, however much they hold unwritten.
    void onDisconnection();

private slots:
    void onSerialRead();
    void onSocketRead();

private:
    QString serialProperty(const char *name) const;
    void openSerial();
    void closeSerial();
    void connectSocket();
    void closeSocket();
    void onSerialError(int error);
    void serialLost();
    void onSocketState(int socketState);
    void onSocketConnected();
    // Starts the timer for the next try, unless it runs already; returns its delay.
    int retryLater(QTimer *timer, int *delayMs);
    void setModeKeys(const QVariantMap &map);
    QByteArray fromTelnet(const QByteArray &raw);
    QString peerName() const;
    void dropSocketCopy();
    void updateState(bool forceSignal = false);
    void listen();
    void takePeer(qintptr descriptor);
    void socketUp();
    void reportSide(Side side, bool up, const QString &reason, int retryMs);
    void reportCounters(bool always = false);
    QString socketReason() const;
    QString serialReason() const;

    QString m_port_work;
    QString m_port_null;
    QString m_name;
    QString m_note;
    QString m_ipAddr;
    int m_ipPort = 0;
    int m_id = -1;
    std::atomic<int> m_state{NotConnect};
    QSerialPort *serial = nullptr;
    QTcpSocket *socket = nullptr;

    std::atomic<bool> m_started{false};
    std::atomic<qint64> m_droppedToSocket{0};
    std::atomic<qint64> m_droppedToSerial{0};
    std::atomic<qint64> m_relayedToSocket{0};
    std::atomic<qint64> m_relayedToSerial{0};
    Mode m_mode = Client;
    bool m_rfc2217 = false;
    LineSettings m_line;
    QStringList m_loadProblems;
    // Server mode: the listener that hands its peers to socket.
    PeerListener *listener = nullptr;
    // RFC 2217: the Telnet layer between the socket and the relay, while connected.
    std::unique_ptr<TelnetFilter> telnet;
    QTimer *telnetWait = nullptr;
    bool telnetRefusalTold = false;
    bool connectTimedOut = false;
    bool socketResetByPeer = false;
    bool socketWasUp = false;
    // A copy of the connected socket's descriptor, so that a reset can be told from a close
    // after the library has closed its own (Linux).
    int socketCopy = -1;
    QTimer *countTimer = nullptr;
    qint64 countedSum = -1;
    // What was last reported of each side, so that a repeated failure adds nothing.
    struct SideReport
    {
        bool known = false;
        bool up = false;
        QString reason;
        bool cappedTold = false;
    };
    SideReport reported[2];
    QTimer *serialRetry = nullptr;
    QTimer *socketRetry = nullptr;
    QTimer *connectTimeout = nullptr;
    QTimer *serialWatch = nullptr;
    int serialDelayMs = FirstRetryMs;
    int socketDelayMs = FirstRetryMs;
    // A relay direction that stopped reading because the other side's unwritten bytes passed
    // Backlog; it reads again once they drain.
    bool serialHeld = false;
    bool socketHeld = false;
    // Set while we close the socket ourselves, so that its going down is not taken for a drop.
    bool closingSocket = false;
    bool closingSerial = false;
    // The reads the watchers have not been told of yet, in the order they came. A signal to a
    // watcher in another thread wakes that thread, and a wake-up per read cost more than relaying
    // the read. A read after a quiet spell is told at once; those that follow within
    // WatchEveryMs are told together when it has passed: one queued call to the application's
    // thread emits their signals there, one after another.
    void watch(Side side, const QByteArray &data);
    void tellWatchers();
    QVector<QPair<Side, QByteArray>> watched;
    QTimer *watchTimer = nullptr;
};

class QPipeMap : public QObject
{
    Q_OBJECT

public:
    explicit QPipeMap(QObject *parent = nullptr);
    virtual ~QPipeMap();

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
