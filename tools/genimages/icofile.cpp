#include "icofile.h"

namespace {

void put16(QByteArray &out, quint16 v)
{
    out.append(char(v & 0xff));
    out.append(char(v >> 8));
}

void put32(QByteArray &out, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        out.append(char((v >> (8 * i)) & 0xff));
}

quint32 get(const QByteArray &data, int pos, int bytes)
{
    quint32 v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | quint8(data.at(pos + i));
    return v;
}

// BITMAPINFOHEADER + bottom-up BGRA rows + bottom-up AND mask.
QByteArray encodeBitmap(const QImage &source)
{
    const QImage img = source.convertToFormat(QImage::Format_ARGB32);
    const int w = img.width(), h = img.height();
    const int maskStride = ((w + 31) / 32) * 4;

    QByteArray out;
    put32(out, 40);
    put32(out, quint32(w));
    put32(out, quint32(2 * h)); // colour rows followed by mask rows
    put16(out, 1);
    put16(out, 32);
    put32(out, 0); // BI_RGB
    put32(out, quint32(w * h * 4 + maskStride * h));
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);

    for (int y = h - 1; y >= 0; --y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(img.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            out.append(char(qBlue(row[x])));
            out.append(char(qGreen(row[x])));
            out.append(char(qRed(row[x])));
            out.append(char(qAlpha(row[x])));
        }
    }
    for (int y = h - 1; y >= 0; --y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(img.constScanLine(y));
        QByteArray bits(maskStride, '\0');
        for (int x = 0; x < w; ++x) {
            if (qAlpha(row[x]) == 0)
                bits[x / 8] = char(quint8(bits[x / 8]) | (0x80 >> (x % 8)));
        }
        out.append(bits);
    }
    return out;
}

} // namespace

QByteArray encodeIco(const QList<QImage> &images)
{
    QList<QByteArray> blobs;
    for (const QImage &img : images)
        blobs << encodeBitmap(img);

    QByteArray out;
    put16(out, 0);
    put16(out, 1); // icon
    put16(out, quint16(images.size()));
    quint32 offset = 6 + 16 * quint32(images.size());
    for (int i = 0; i < images.size(); ++i) {
        const QSize s = images.at(i).size();
        out.append(char(s.width() >= 256 ? 0 : s.width()));
        out.append(char(s.height() >= 256 ? 0 : s.height()));
        out.append(char(0)); // no palette
        out.append(char(0));
        put16(out, 1);  // planes
        put16(out, 32); // bits per pixel
        put32(out, quint32(blobs.at(i).size()));
        put32(out, offset);
        offset += quint32(blobs.at(i).size());
    }
    for (const QByteArray &b : blobs)
        out.append(b);
    return out;
}

bool readIcoDirectory(const QByteArray &data, QList<IcoEntry> *entries)
{
    entries->clear();
    if (data.size() < 6 || get(data, 0, 2) != 0 || get(data, 2, 2) != 1)
        return false;
    const int count = int(get(data, 4, 2));
    if (count == 0 || data.size() < 6 + 16 * count)
        return false;
    for (int i = 0; i < count; ++i) {
        const int e = 6 + 16 * i;
        IcoEntry entry;
        const int w = quint8(data.at(e)), h = quint8(data.at(e + 1));
        entry.size = QSize(w == 0 ? 256 : w, h == 0 ? 256 : h);
        entry.bitCount = int(get(data, e + 6, 2));
        const quint32 size = get(data, e + 8, 4), offset = get(data, e + 12, 4);
        if (size < 40 || quint64(offset) + size > quint64(data.size()))
            return false;
        // Bitmap header must agree with the directory (PNG-in-ICO is not produced here).
        if (get(data, int(offset), 4) != 40 || int(get(data, int(offset) + 4, 4)) != entry.size.width()
            || int(get(data, int(offset) + 8, 4)) != 2 * entry.size.height()
            || int(get(data, int(offset) + 14, 2)) != entry.bitCount)
            return false;
        entries->append(entry);
    }
    return true;
}
