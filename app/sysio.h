// What the relay needs of the operating system beyond Qt: socket options and descriptor calls, a
// serial device that went away, the event dispatcher of the relay threads. sysio_linux.cpp and
// sysio_win.cpp hold each system's calls.
#ifndef SYSIO_H
#define SYSIO_H

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

    // Keep-alive with the given timings on a connected socket, and a peer that leaves sent bytes
    // unacknowledged for unackedMs counts as gone.
    static void setKeepAlive(QTcpSocket *socket, int idleS, int intervalS, int count, int unackedMs);
    // Makes the next close reset the connection instead of queueing a FIN behind bytes that a
    // peer that stopped reading may never take: the peer then sees the end at once.
    static void resetOnClose(QTcpSocket *socket);
    // Whether the system still holds bytes of ours it could not send yet (the peer's window is
    // closed). Bytes sent and not yet acknowledged do not count.
    static bool holdsUnsent(QTcpSocket *socket);

    // A copy of a connected socket's descriptor, which keeps the connection to be asked after the
    // library has closed its own; -1 where none is needed.
    static int keepCopy(qintptr descriptor);
    static void dropCopy(int copy);
    // Whether the peer reset the connection rather than closing it; copy is keepCopy()'s.
    static bool peerReset(int copy);
    // Closes a descriptor that no socket object took.
    static void closeDescriptor(qintptr descriptor);
};

#endif // SYSIO_H
