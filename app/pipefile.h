// The file of the connections on disk: read as a JSON array, written back whole or not at all, and
// only ever a regular file: a link or a special file by that name is neither read nor replaced.
#ifndef PIPEFILE_H
#define PIPEFILE_H

#include <QCoreApplication>
#include <QJsonArray>
#include <QString>

class QFile;

class PipeFile
{
    Q_DECLARE_TR_FUNCTIONS(PipeFile)

public:
    // Four connections take a few KB: a larger file is no list of ours, and reading it whole would
    // only cost memory.
    static constexpr qint64 MaxSize = 4 * 1024 * 1024;

    // Why a file was not read or not written.
    enum class Refusal {
        None,
        // Left alone for what stands under the name.
        Link,
        Folder,
        Special,
        // It exists, but opening or reading it failed.
        Unreadable,
        // It was read, but it is no JSON array, or it is larger than MaxSize.
        NotAList,
        TooLarge,
    };

    struct ReadResult
    {
        Refusal refusal = Refusal::None;
        // No file by that name (yet): nothing was refused, and the first save makes it.
        bool missing = false;
        // A copy of the refused file, read back and found equal, is <name>.bak: the file itself may
        // be replaced. Never so for a file that could not be read.
        bool backedUp = false;
        // The system's or the parser's words on the refusal, and on a copy that failed.
        QString detail;
        QString backupDetail;
    };

    static QString backupName(const QString &fileName) { return fileName + QStringLiteral(".bak"); }

    // The records, or why there are none.
    static ReadResult read(const QString &fileName, QJsonArray *records);
    // Writes the array in the indented layout into a new file that takes the name once it is
    // complete; the old file stays whole until then. False when it could not be written, and
    // *refusal then names a link, folder or special file that was left in place.
    static bool write(const QString &fileName, const QJsonArray &records, Refusal *refusal = nullptr);

private:
    static bool backUp(const QString &fileName, QFile *source, QString *why);
};

#endif // PIPEFILE_H
