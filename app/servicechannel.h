// Where the service of a folder takes its commands, and the bounds of the talk. The channel's
// name follows from the folder, so that the services of two folders run side by side and a
// client finds the one it means.
#ifndef SERVICECHANNEL_H
#define SERVICECHANNEL_H

#include <QString>
#include <QStringList>

class ServiceChannel
{
public:
    // A request is one line of at most this many bytes, its newline not counted.
    static const int MaxLine = 64 * 1024;
    // What a client takes of an answer line; a list of four connections takes a few KiB.
    static const int MaxAnswer = 1024 * 1024;

    // The folder of the service that runs without being told one: its pipes.json is there.
    static QString defaultFolder();
    // The folder as the channel knows it (its canonical path), or empty when it is no folder.
    static QString canonicalFolder(const QString &folder);
    // "vantrelvcom-" and 16 hex digits of a hash of the canonical folder.
    static QString name(const QString &canonicalFolder);
    // The server names a client tries, in this order. Off Windows: the runtime folder the
    // system's service manager makes for the service, then the temporary folder, where a
    // service run by hand listens.
    static QStringList places(const QString &canonicalFolder);
    // The first of places() whose folder this process may make its socket in.
    static QString placeToListen(const QString &canonicalFolder);
};

#endif // SERVICECHANNEL_H
