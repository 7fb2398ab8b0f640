// What the relay needs of the operating system beyond Qt: socket options and descriptor calls, a
// serial device that went away, the event dispatcher of the relay threads. sysio_linux.cpp and
// sysio_win.cpp hold each system's calls.
#ifndef SYSIO_H
#define SYSIO_H

#include <QHostAddress>
#include <QSerialPort>
#include <QtGlobal>

class QTcpSocket;

class SysIo
{
public:
    // Call before the relays' threads start: they then run Qt's own event dispatcher, which
    // costs a relayed message some microseconds less than GLib's (the main thread keeps GLib's).
    // A QT_NO_THREADED_GLIB already in the environment, even an empty one, is left as it is.
    static void preferPlainDispatcher();

    // Whether an open port's device has gone away.
    static bool deviceGone(QSerialPort *port);
    // What a port is set to for 1.5 stop bits: a terminal on Linux has none, and the library
    // refuses to open the port with them.
    static QSerialPort::StopBits oneAndHalfStop();

    // Keep-alive with the given timings on a connected socket. Where the system is not asked how
    // the peer acknowledges (acks() is false), a peer that leaves sent bytes unacknowledged for
    // unackedMs counts as gone too.
    static void setKeepAlive(QTcpSocket *socket, int idleS, int intervalS, int count, int unackedMs);
    // Makes the next close reset the connection instead of queueing a FIN behind bytes that a
    // peer that stopped reading may never take: the peer then sees the end at once.
    static void resetOnClose(QTcpSocket *socket);
    // Whether the system still holds bytes of ours it could not send yet (the peer's window is
    // closed). Bytes sent and not yet acknowledged do not count.
    static bool holdsUnsent(QTcpSocket *socket);

    // Bytes handed to the system for the peer that it has not acknowledged (sent or not yet);
    // 0 where the system does not tell.
    static qint64 unacknowledged(QTcpSocket *socket);
    // How a connected socket's peer acknowledges, as the system knows it.
    struct Acks
    {
        // Since it last acknowledged anything, a probe of its closed window too.
        qint64 sinceAckMs = 0;
        // Segments sent and not acknowledged.
        int inFlight = 0;
        // Probes of its closed window that it has not answered.
        int probesUnanswered = 0;
    };
    // False where the system does not tell.
    static bool acks(QTcpSocket *socket, Acks *acks);

    // The address and port of a connected descriptor's peer; a null address when not known.
    static QHostAddress peerOf(qintptr descriptor, quint16 *port);

    // A copy of a connected socket's descriptor, which keeps the connection to be asked after the
    // library has closed its own; -1 where none is needed.
    static int keepCopy(qintptr descriptor);
    static void dropCopy(int copy);
    // Whether the peer reset the connection rather than closing it; copy is keepCopy()'s.
    static bool peerReset(int copy);
    // How a connection that the library still dials stands (copy is keepCopy()'s): the system
    // still dials, the peer answered, or it is closed: refused, or answered and reset since.
    // *answered: a closed one surely got as far as an answer (a refusal gets none); false also
    // when that cannot be told any more.
    enum Dial { Dialling, Answered, Closed };
    static Dial dialState(int copy, bool *answered);
    // Whether two descriptors lead to the same socket.
    static bool sameSocket(int copy, qintptr descriptor);
    // Closes a descriptor that no socket object took; with reset, its peer is told so at once
    // and the connection leaves nothing behind here.
    static void closeDescriptor(qintptr descriptor, bool reset = false);
};

#endif // SYSIO_H
