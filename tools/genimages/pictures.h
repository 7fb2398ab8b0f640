// The list of pictures the program ships, with their sizes and painters.
#pragma once

#include "painting.h"

#include <QList>
#include <QString>

using DrawFn = void (*)(QPainter &, const Ctx &);

struct Picture {
    QString file;
    int width;
    int height;
    DrawFn draw;
    // Most pictures are drawn in the 100 x 100 box; a few (the logo) work in pixels.
    bool pixelCoordinates = false;
};

// A Windows icon made of the same drawing at several sizes.
struct IconFile {
    QString file;
    QList<int> sizes;
    DrawFn draw;
};

const QList<Picture> &pictures();
const QList<IconFile> &iconFiles();
// The desktop icon for the Linux package (hicolor theme), not part of the resource collection.
const QList<Picture> &themeIcons();
