// The relay of one connection: its COM-NULL port and its socket, every byte passed on between
// them, each side kept up by itself with growing delays, and what it carried, told by signals.
#ifndef PIPERELAY_H
#define PIPERELAY_H

#include "pipesettings.h"
#include "relaycounters.h"
#include "relayreports.h"
#include "sendledger.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>

class NoteLimiter;
class PeerListener;
class PeerWatch;
class RelayTap;
class RetryPlan;
class TelnetLink;
class QSerialPort;
class QTcpSocket;
class QTimer;

class PipeRelay : public QObject
{
    Q_OBJECT

public:
    // Bit 0 while the serial port is open, bit 1 while the socket is connected.
    enum PipeState { NotConnect = 0, SerialConnect = 1, SocketConnect = 2, PipeConnect = 3 };
    Q_ENUM(PipeState)
    // Which side a report is about.
    enum Side { SerialSide = 0, SocketSide = 1 };

    // The longest line the monitor shows of what the serial side sent: a read is cut into lines
    // of at most this many bytes.
    static const int SerialChunk = 128;
    // Unwritten bytes on one side above which the relay stops reading the other side, until they
    // drain. The sender then feels it: the COM port stops taking writes, or the TCP window closes.
    // The socket's own Telnet answers count too: above this it is not read either.
    static const int Backlog = 64 * 1024;
    // A side that failed or dropped is tried again after FirstRetryMs, doubling up to LastRetryMs;
    // a success brings the delay back to FirstRetryMs.
    static const int FirstRetryMs = 1000;
    static const int LastRetryMs = 30000;
    // A connection is a success once it has lasted this long. One that drops sooner (a peer that
    // accepts and resets at once) keeps the delays growing, and its coming up again is told only
    // once it lasts.
    static const int StableMs = 10000;
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
    // Where the system does not tell how the peer acknowledges (PeerWatch): bytes sent and not
    // acknowledged for this long mean the peer is gone (keep-alive probes only an idle link).
    static const int UnackedTimeoutMs = 30000;

    explicit PipeRelay(QObject *parent = nullptr);
    ~PipeRelay() override;

    // Safe to read from any thread.
    PipeState state() const { return PipeState(m_state.load()); }
    // From start() until stop(): the relay keeps both sides up by itself, whatever its state
    // bits show at the moment. Safe to read from any thread.
    bool isStarted() const { return m_started.load(); }
    // Bytes read from one side while the other side was down, and so dropped.
    qint64 droppedToSocket() const { return counts->droppedToSocket.load(); }
    qint64 droppedToSerial() const { return counts->droppedToSerial.load(); }

signals:
    // Each read, whole; emitted in the application's thread, whichever thread relays, a few ms
    // after the bytes went on.
    void readSerialBuffer(QByteArray buffer);
    void readSocketBuffer(QByteArray buffer);
    // The same, with the side it was read from and when (ms since the epoch).
    void blockRead(int side, QByteArray buffer, qint64 readAtMs);
    // The state bits or the started flag changed.
    void stateChanged(int state, bool started);
    // A side went down or came back, once per change: a side that keeps failing for the same
    // reason reports again only when its next try's delay reaches the cap. what names the side
    // (the port, the address); reason says why it is down (empty when up); retryMs is the delay
    // of its next try (0 when up or stopped).
    void sideChanged(int side, bool up, QString what, QString reason, int retryMs);
    // A side that is still down for the same reason: its next try is in retryMs.
    void sideRetrying(int side, int retryMs);
    // Something the log should tell about the connection: a peer replaced or refused, the
    // converter's answers. The same note at most once per NoteLimiter::QuietMs.
    void note(QString text);
    // The traffic counters, sent while they change and at each start and stop.
    void countersChanged(qint64 toSocket, qint64 toSerial, qint64 droppedToSocket, qint64 droppedToSerial);

protected:
    // Opens both sides with these settings and keeps them up until stop(). Returns at once: the
    // sides come up in the event loop of the thread the relay lives in, and say so by signal.
    void start(const PipeSettings &settings);
    // Closes both sides at once, however much they hold unwritten.
    void stop();

private slots:
    void onSerialRead();
    void onSocketRead();

private:
    void openSerial();
    void closeSerial();
    void connectSocket();
    void closeSocket();
    void onSerialError(int error);
    void serialLost();
    void onSocketState(int socketState);
    // Everything for the peer goes this way. May find the connection gone and close the socket:
    // the caller looks at it afresh afterwards.
    void sendToSocket(const QByteArray &bytes, bool isData);
    void dropSocketCopy();
    void updateState(bool forceSignal = false);
    void listen();
    void takePeer(qintptr descriptor);
    void socketUp();
    void reportSide(Side side, bool up, const QString &reason, int retryMs);
    // Tells the watchers of a read, if there are any.
    void watch(Side side, const QByteArray &data);

    // What start() was given.
    PipeSettings m_run;
    std::atomic<int> m_state{NotConnect};
    std::atomic<bool> m_started{false};

    QSerialPort *serial = nullptr;
    QTcpSocket *socket = nullptr;
    // Server mode: the listener that hands its peers to socket.
    PeerListener *listener = nullptr;
    // RFC 2217: the Telnet layer between the socket and the relay, open while connected.
    TelnetLink *telnet = nullptr;
    bool connectTimedOut = false;
    bool socketResetByPeer = false;
    bool socketWasUp = false;
    // Tells a silent peer from a slow one; set when it found one.
    PeerWatch *peerWatch = nullptr;
    bool peerSilent = false;
    // Server mode: what the socket holds for its peer, for a peer that replaces it.
    SendLedger ledger;
    NoteLimiter *notes = nullptr;
    // So that a reset can be told from a close after the library has closed its descriptor.
    int socketCopy = -1;
    RelayCounters *counts = nullptr;
    RelayReports reports;
    RetryPlan *serialRetry = nullptr;
    RetryPlan *socketRetry = nullptr;
    QTimer *connectTimeout = nullptr;
    QTimer *serialWatch = nullptr;
    // A relay direction that stopped reading because the other side's unwritten bytes passed
    // Backlog; it reads again once they drain.
    bool serialHeld = false;
    bool socketHeld = false;
    // Set while we close a side ourselves, so that its going down is not taken for a drop.
    bool closingSocket = false;
    bool closingSerial = false;
    // Made at the first read a watcher is told of.
    RelayTap *tap = nullptr;
};

#endif // PIPERELAY_H
