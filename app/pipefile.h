// The file of the connections on disk: read as a JSON array, written back whole or not at all.
#ifndef PIPEFILE_H
#define PIPEFILE_H

#include <QJsonArray>
#include <QString>

class PipeFile
{
public:
    enum ReadResult {
        Read,
        // It could not be opened (it does not exist yet, for one).
        NotOpened,
        // It is not a JSON array; a copy of it was kept beside it as <name>.bak.
        NotAList,
    };

    static ReadResult read(const QString &fileName, QJsonArray *records);
    // Writes the array in the indented layout; the old file stays whole until the new one is
    // completely written. False when it could not be written.
    static bool write(const QString &fileName, const QJsonArray &records);
};

#endif // PIPEFILE_H
