#include "pipefile.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSaveFile>

PipeFile::ReadResult PipeFile::read(const QString &fileName, QJsonArray *records)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return NotOpened;
    const QByteArray text = file.readAll();
    file.close();

    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray()) {
        // The next save would replace the user's file with an empty collection: a copy of it
        // beside the original keeps a typo from costing every connection.
        const QString backup = fileName + QStringLiteral(".bak");
        QFile::remove(backup);
        QFile::copy(fileName, backup);
        return NotAList;
    }
    *records = doc.array();
    return Read;
}

bool PipeFile::write(const QString &fileName, const QJsonArray &records)
{
    const QByteArray text = QJsonDocument(records).toJson(QJsonDocument::Indented);
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        file.cancelWriting();
        return false;
    }
    return true;
}
