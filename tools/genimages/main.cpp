// genimages: draws the program's pictures and icons.
//
//   genimages [OUTDIR]               write every picture, the .ico files, the desktop
//                                    icons, resurce.qrc and vantrelvcom.rc into OUTDIR
//   genimages --check OUTDIR         verify an output folder (sizes, icons, qrc)
//   genimages --sheet OUTDIR SHEET   contact sheet of OUTDIR at 32 and 24 px
//
// Output is deterministic: the same build writes the same bytes every run.
#include "icofile.h"
#include "pictures.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImageReader>
#include <QImageWriter>
#include <QRegularExpression>
#include <QSet>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

namespace {

const char *const kQrcName = "resurce.qrc";
const char *const kRcName = "vantrelvcom.rc";

QImage render(DrawFn draw, int w, int h, bool pixelCoordinates)
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    Ctx ctx;
    ctx.width = w;
    ctx.height = h;
    if (!pixelCoordinates) {
        const qreal side = qMin(w, h);
        p.translate((w - side) / 2.0, (h - side) / 2.0);
        p.scale(side / 100.0, side / 100.0);
        ctx.px = side / 100.0;
    }
    draw(p, ctx);
    p.end();
    return img.convertToFormat(QImage::Format_ARGB32);
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(data) != data.size()) {
        fprintf(stderr, "genimages: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

// Every file the resource collection must list, in a stable order.
QStringList resourceFiles()
{
    QStringList names;
    for (const Picture &pic : pictures())
        names << pic.file;
    for (const IconFile &ico : iconFiles())
        names << ico.file;
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int c = QString::compare(a, b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

QByteArray qrcContents()
{
    QByteArray out = "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n<qresource prefix=\"/images\">\n";
    for (const QString &name : resourceFiles())
        out += "    <file>" + name.toUtf8() + "</file>\n";
    out += "</qresource>\n</RCC>\n";
    return out;
}

QByteArray rcContents()
{
    return "IDI_ICON1 ICON \"net_service.ico\"\n";
}

int generate(const QString &outDir)
{
    if (!QDir().mkpath(outDir)) {
        fprintf(stderr, "genimages: cannot create %s\n", qPrintable(outDir));
        return 1;
    }
    const QDir dir(outDir);
    for (const Picture &pic : pictures() + themeIcons()) {
        const QImage img = render(pic.draw, pic.width, pic.height, pic.pixelCoordinates);
        QImageWriter writer(dir.filePath(pic.file), "png");
        if (!writer.write(img)) {
            fprintf(stderr, "genimages: %s: %s\n", qPrintable(pic.file), qPrintable(writer.errorString()));
            return 1;
        }
    }
    for (const IconFile &ico : iconFiles()) {
        QList<QImage> images;
        for (int size : ico.sizes)
            images << render(ico.draw, size, size, false);
        if (!writeFile(dir.filePath(ico.file), encodeIco(images)))
            return 1;
    }
    if (!writeFile(dir.filePath(kQrcName), qrcContents()) || !writeFile(dir.filePath(kRcName), rcContents()))
        return 1;
    printf("genimages: wrote %d pictures and %d icons to %s\n", int(pictures().size() + themeIcons().size()),
           int(iconFiles().size()),
           qPrintable(QDir::cleanPath(dir.absolutePath())));
    return 0;
}

int check(const QString &outDir)
{
    const QDir dir(outDir);
    int errors = 0;
    auto fail = [&](const QString &msg) {
        fprintf(stderr, "genimages --check: %s\n", qPrintable(msg));
        ++errors;
    };

    for (const Picture &pic : pictures() + themeIcons()) {
        QImageReader reader(dir.filePath(pic.file));
        if (reader.format() != "png") {
            fail(pic.file + ": missing or not a PNG");
            continue;
        }
        const QImage img = reader.read();
        if (img.size() != QSize(pic.width, pic.height))
            fail(QStringLiteral("%1: %2x%3, expected %4x%5")
                     .arg(pic.file)
                     .arg(img.width())
                     .arg(img.height())
                     .arg(pic.width)
                     .arg(pic.height));
        if (!img.hasAlphaChannel())
            fail(pic.file + ": no alpha channel");
        // A picture that came out empty or fully opaque means a broken painter.
        int clear = 0, solid = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const int a = qAlpha(img.pixel(x, y));
                clear += a == 0;
                solid += a == 255;
            }
        if (solid == 0)
            fail(pic.file + ": nothing drawn");
        if (clear == 0)
            fail(pic.file + ": no transparent pixel");
    }

    for (const IconFile &ico : iconFiles()) {
        QFile f(dir.filePath(ico.file));
        QList<IcoEntry> entries;
        if (!f.open(QIODevice::ReadOnly) || !readIcoDirectory(f.readAll(), &entries)) {
            fail(ico.file + ": missing or not a valid icon file");
            continue;
        }
        QStringList got, want;
        for (const IcoEntry &e : entries)
            got << QStringLiteral("%1x%2@%3").arg(e.size.width()).arg(e.size.height()).arg(e.bitCount);
        for (int s : ico.sizes)
            want << QStringLiteral("%1x%1@32").arg(s);
        if (got != want)
            fail(ico.file + ": holds " + got.join(' ') + ", expected " + want.join(' '));
    }

    QFile qrc(dir.filePath(kQrcName));
    if (!qrc.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("%1 missing").arg(kQrcName));
    } else {
        const QString text = QString::fromUtf8(qrc.readAll());
        if (!text.contains(QStringLiteral("<qresource prefix=\"/images\">")))
            fail(QStringLiteral("%1: prefix is not /images").arg(kQrcName));
        QStringList listed;
        QRegularExpression re(QStringLiteral("<file>([^<]+)</file>"));
        for (auto it = re.globalMatch(text); it.hasNext();)
            listed << it.next().captured(1);
        if (listed != resourceFiles())
            fail(QStringLiteral("%1 does not list exactly the generated files").arg(kQrcName));
        for (const QString &name : listed)
            if (!dir.exists(name))
                fail(QStringLiteral("%1 lists %2, which does not exist").arg(kQrcName, name));
    }

    QFile rc(dir.filePath(kRcName));
    if (!rc.open(QIODevice::ReadOnly) || rc.readAll() != rcContents())
        fail(QStringLiteral("%1 missing or changed").arg(kRcName));

    if (errors == 0)
        printf("genimages --check: %s is complete\n", qPrintable(outDir));
    return errors == 0 ? 0 : 1;
}

// One cell per file: 32 px and 24 px on light, 24 px on dark, and the 24 px
// picture enlarged three times so single pixels can be judged.
int sheet(const QString &outDir, const QString &sheetFile)
{
    const QDir dir(outDir);
    struct Entry {
        QString name;
        QList<QImage> images; // source images (an .ico gives all of its sizes)
    };
    QList<Entry> entries;
    for (const QString &name : resourceFiles()) {
        Entry e{name, {}};
        QImageReader reader(dir.filePath(name));
        for (int i = 0; i < qMax(1, reader.imageCount()); ++i) {
            if (i > 0)
                reader.jumpToImage(i);
            const QImage img = reader.read();
            if (!img.isNull())
                e.images << img;
        }
        entries << e;
    }

    const int cols = 4, cellW = 330, cellH = 104;
    const int rows = (int(entries.size()) + cols - 1) / cols;
    QImage out(cols * cellW, rows * cellH, QImage::Format_ARGB32);
    out.fill(QColor(0xf4, 0xf4, 0xf4));
    QPainter p(&out);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    p.setFont(font);
    const QColor darkBg(0x30, 0x34, 0x3a);
    for (int i = 0; i < entries.size(); ++i) {
        const Entry &e = entries.at(i);
        const QPoint o((i % cols) * cellW, (i / cols) * cellH);
        p.setPen(Qt::black);
        p.drawText(o + QPoint(6, 14), e.name);
        p.setPen(QColor(0xcc, 0xcc, 0xcc));
        p.drawRect(QRect(o, QSize(cellW - 1, cellH - 1)));
        if (e.images.isEmpty()) {
            p.setPen(Qt::red);
            p.drawText(o + QPoint(6, 40), QStringLiteral("unreadable"));
            continue;
        }
        // Use the largest image of an icon file as the source for scaling.
        QImage src = e.images.last();
        auto scaled = [&](int s) { return src.scaled(s, s, Qt::KeepAspectRatio, Qt::SmoothTransformation); };
        int x = o.x() + 6;
        const int y = o.y() + 24;
        const QImage s32 = scaled(32), s24 = scaled(24);
        p.drawImage(x, y, s32);
        x += 40;
        p.drawImage(x, y, s24);
        x += 30;
        p.fillRect(QRect(x, y - 4, 32, 32), darkBg);
        p.drawImage(x + 4, y, s24);
        x += 40;
        p.fillRect(QRect(x, y, 72, 72), Qt::white);
        p.drawImage(QRect(x, y, s24.width() * 3, s24.height() * 3), s24);
        x += 80;
        // Icon files: their own stored sizes, unscaled.
        if (e.images.size() > 1) {
            for (const QImage &img : e.images) {
                p.drawImage(x, y, img);
                x += img.width() + 6;
            }
        } else if (src.width() > src.height() * 2) {
            // Wide pictures (the logo) also at their real size.
            p.drawImage(QRect(o.x() + 6, y + 36, cellW - 12, int((cellW - 12.0) * src.height() / src.width())), src);
        }
    }
    p.end();
    if (!out.save(sheetFile, "png")) {
        fprintf(stderr, "genimages: cannot write %s\n", qPrintable(sheetFile));
        return 1;
    }
    printf("genimages: contact sheet %s\n", qPrintable(sheetFile));
    return 0;
}

int usage()
{
    fprintf(stderr, "usage: genimages [OUTDIR]\n"
                    "       genimages --check OUTDIR\n"
                    "       genimages --sheet OUTDIR SHEET.png\n");
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    // No display is needed; all drawing goes to images.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);

    if (args.value(0) == QLatin1String("--check"))
        return args.size() == 2 ? check(args.at(1)) : usage();
    if (args.value(0) == QLatin1String("--sheet"))
        return args.size() == 3 ? sheet(args.at(1), args.at(2)) : usage();
    if (args.size() > 1 || args.value(0).startsWith(QLatin1Char('-')))
        return usage();
    return generate(args.isEmpty() ? QStringLiteral(GENIMAGES_DEFAULT_OUT) : args.at(0));
}
