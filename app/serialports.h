// The serial port names offered to the user, the device each name opens, and how a port is set
// for a connection's line.
#ifndef SERIALPORTS_H
#define SERIALPORTS_H

#include <QCoreApplication>
#include <QString>
#include <QStringList>

class QSerialPort;
struct LineSettings;

class SerialPorts
{
    Q_DECLARE_TR_FUNCTIONS(SerialPorts)

public:
    // Every port the user may pick: the system's serial ports and, off Windows, the COM links
    // of the virtual-port folder, in the order the dialogs list them.
    static QStringList portNames();

    // What QSerialPort must open for a port name: on Windows the name itself; elsewhere a COM
    // link of a trusted virtual-port folder that leads to a character device resolves to that
    // device, and any other name (a system port such as ttyUSB0, or a full path) passes through
    // unchanged.
    static QString devicePath(const QString &name);

    // Sets a port (open or not) to a connection's line settings.
    static void setLine(QSerialPort *port, const LineSettings &line);

    // The folder holding the virtual port links: $XDG_RUNTIME_DIR/vcom when that variable is
    // set, else /tmp/vcom-<uid>. Empty on Windows, where the ports are the driver's.
    static QString virtualPortDir();

    // Why the virtual-port folder is not used, in one line; empty when it is, or when there is
    // none yet. It is used only as a real folder, owned by this user and writable by no one
    // else: anyone who could place a link there could take a connection's traffic.
    static QString virtualPortDirProblem();

    // The COM links of a trusted virtual-port folder that lead to character devices, sorted by
    // their number.
    static QStringList virtualPortNames();
};

#endif // SERIALPORTS_H
