// Minimal Windows .ico container: writes and reads back 32-bit images.
#pragma once

#include <QByteArray>
#include <QList>
#include <QImage>
#include <QSize>

// Packs the images (each at most 256 x 256) into ICO file contents. Each image
// is stored as a 32-bit BGRA bitmap with its 1-bit transparency mask, the
// form every Windows version and resource compiler accepts.
QByteArray encodeIco(const QList<QImage> &images);

struct IcoEntry {
    QSize size;
    int bitCount = 0;
};
// Reads the directory of ICO contents. Returns false when the data is not a
// well-formed icon file (bad header, entries pointing outside the data, or a
// bitmap header that disagrees with its directory entry).
bool readIcoDirectory(const QByteArray &data, QList<IcoEntry> *entries);
