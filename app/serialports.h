// The serial port names offered to the user, and the device each name opens.
#ifndef SERIALPORTS_H
#define SERIALPORTS_H

#include <QString>
#include <QStringList>

class SerialPorts
{
public:
    // Every port the user may pick: the system's serial ports and, off Windows, the COM links
    // of the virtual-port folder, in the order the dialogs list them.
    static QStringList portNames();

    // What QSerialPort must open for a port name: on Windows the name itself; elsewhere a COM
    // link of the virtual-port folder resolves to its device, and any other name (a system
    // port such as ttyUSB0, or a full path) passes through unchanged.
    static QString devicePath(const QString &name);

    // The folder holding the virtual port links: $XDG_RUNTIME_DIR/vcom when that variable is
    // set, else /tmp/vcom-<uid>. Empty on Windows, where the ports are the driver's.
    static QString virtualPortDir();

    // The COM links present in the virtual-port folder, sorted by their number.
    static QStringList virtualPortNames();
};

#endif // SERIALPORTS_H
