// One connection's settings as a plain value: what pipes.json and the dialog's property map hold,
// and which of those values can be used.
#ifndef PIPESETTINGS_H
#define PIPESETTINGS_H

#include "vcomdefs.h"

#include <QCoreApplication>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// The settings of a serial line.
struct LineSettings
{
    int baud = 9600;
    int dataBits = 8;
    Vcom::Parity parity = Vcom::Parity::None;
    Vcom::StopBits stopBits = Vcom::StopBits::One;

    bool operator==(const LineSettings &o) const
    {
        return baud == o.baud && dataBits == o.dataBits && parity == o.parity && stopBits == o.stopBits;
    }
    bool operator!=(const LineSettings &o) const { return !(*this == o); }
};

class PipeSettings
{
    Q_DECLARE_TR_FUNCTIONS(PipeSettings)

public:
    // How the socket comes to exist: dialled out to ipaddr:ipport (Client), or taken from a
    // peer that dials in to a listener on ipaddr:ipport (Server).
    enum Mode { Client, Server };

    int id = -1;
    QString name;
    QString note;
    // COM-WORK is only shown; the relay opens COM-NULL.
    QString portWork;
    QString portNull;
    QString ipAddr;
    int ipPort = 0;
    Mode mode = Client;
    bool rfc2217 = false;
    LineSettings line;
    // Server mode: who may connect, as addresses ("192.0.2.7") and networks ("198.51.100.0/24",
    // "2001:db8::/32"); empty means any peer.
    QStringList allow;

    // An element of pipes.json. A text or number of the wrong type reads as empty or 0 (a port
    // name as the JSON value's text), a port outside 1..65535 is kept, a mode or line key that
    // cannot be used keeps its default, and *problems gets a line for each such key. The id is
    // read as it stands; whether it can be used is the collection's concern (see usableId).
    static PipeSettings fromJson(const QJsonObject &obj, QStringList *problems);
    // Only what differs from the defaults of the mode and line keys is written.
    QJsonObject toJson() const;

    // The dialog's property map: the same keys, converted as QVariant converts. A missing key
    // reads as empty or 0.
    static PipeSettings fromMap(const QVariantMap &map, QStringList *problems);
    // The values toJson() writes, as variants: ints, a bool, texts.
    QVariantMap toMap() const;

    // The id a JSON value holds when it is a positive whole number within int, else 0.
    static int usableId(const QJsonValue &value);
    // A value or a text as a log line shows it: cut short, since a file may hold megabytes.
    static QString shown(const QJsonValue &value);
    static QString shortened(const QString &text);
    // Whether an entry of allow is an address or a network (address/prefix).
    static bool isAllowEntry(const QString &text);

private:
    void readModeKeys(const QVariantMap &map, QStringList *problems);
    void readAllow(const QVariant &value, QStringList *problems);
};

#endif // PIPESETTINGS_H
