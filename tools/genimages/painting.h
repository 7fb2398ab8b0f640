// Shared drawing helpers for the picture generator.
//
// Every picture except the logo is drawn in a 100 x 100 "box" coordinate
// system; the caller scales the painter so that the box fills the picture.
// Keep shapes inside roughly [4, 96] so the outlines are not clipped.
#pragma once

#include <QColor>
#include <QPainter>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>

// Information a drawing function may use to pick the amount of detail.
struct Ctx {
    qreal px = 1.0; // device pixels per box unit (0.16 for a 16 px icon)
    int width = 100; // picture size in pixels
    int height = 100;

    // True when the picture is so small that fine marks would only blur.
    bool tiny() const { return px < 0.34; }
};

namespace pal {
const QColor blue(0x1f, 0x6f, 0xd6);
const QColor lightBlue(0x5d, 0xaa, 0xf0);
const QColor green(0x2c, 0xa8, 0x3c);
const QColor red(0xdc, 0x2e, 0x2a);
const QColor orange(0xf0, 0x86, 0x14);
const QColor yellow(0xf8, 0xc4, 0x1c);
const QColor grey(0x8c, 0x95, 0x9f);
const QColor steel(0xc3, 0xcb, 0xd3);
const QColor slate(0x4a, 0x55, 0x62);
const QColor dark(0x26, 0x2e, 0x37);
const QColor gold(0xe8, 0xb0, 0x2a);
const QColor wood(0xb5, 0x73, 0x3a);
const QColor paper(0xfb, 0xfb, 0xf8);
const QColor glass(0xdd, 0xee, 0xfb);
const QColor white(0xff, 0xff, 0xff);
} // namespace pal

// Width of the dark rim drawn around filled shapes, in box units.
constexpr qreal kEdge = 4.0;

// The dark shade used to outline a shape of colour c.
QColor edgeOf(const QColor &c);

// Fill with a soft top-to-bottom gradient of base and outline with the
// darker shade of base. edge <= 0 draws no outline.
void fillShape(QPainter &p, const QPainterPath &path, const QColor &base, qreal edge = kEdge);
// Plain fill, no gradient and no outline.
void fillFlat(QPainter &p, const QPainterPath &path, const QColor &c);
// Fill and outline with an explicit rim colour.
void fillWithRim(QPainter &p, const QPainterPath &path, const QColor &base, const QColor &rim,
                 qreal edge = kEdge);

// Basic shapes ------------------------------------------------------------

QPainterPath circle(QPointF c, qreal r);
QPainterPath rounded(const QRectF &r, qreal radius);
QPainterPath polygon(std::initializer_list<QPointF> pts);
// Turns a centre line into a closed outline of the given width.
QPainterPath thick(const QPainterPath &centerLine, qreal width, Qt::PenCapStyle cap = Qt::RoundCap,
                   Qt::PenJoinStyle join = Qt::RoundJoin);
QPainterPath line(QPointF a, QPointF b);
QPainterPath polyline(std::initializer_list<QPointF> pts);
// Maps a path drawn in a 100 x 100 box onto target.
QPainterPath fitBox(const QPainterPath &boxPath, const QRectF &target);

// Symbols ----------------------------------------------------------------

// Straight block arrow from `from` to `to` (tip at `to`).
QPainterPath arrow(QPointF from, QPointF to, qreal shaftWidth, qreal headWidth, qreal headLength);
// Band along a circular arc with an arrow head at the end of the arc.
// Angles are in degrees, counter-clockwise from 3 o'clock, as QPainterPath::arcTo.
QPainterPath arcArrow(QPointF c, qreal radius, qreal startDeg, qreal spanDeg, qreal thickness,
                      qreal headWidth, qreal headLength);
QPainterPath gear(QPointF c, qreal outerR, qreal rootR, int teeth, qreal holeR);
QPainterPath checkMark(const QRectF &box, qreal width);
QPainterPath cross(QPointF c, qreal half, qreal width);
QPainterPath plus(QPointF c, qreal half, qreal width);
QPainterPath playTriangle(const QRectF &box);
// Glyphs drawn as geometry so they never depend on installed fonts.
QPainterPath glyphInfo(const QRectF &box);
QPainterPath glyphQuestion(const QRectF &box);
QPainterPath glyphExclaim(const QRectF &box);

// Composite parts --------------------------------------------------------

// A disc with a gradient, dark rim and a white symbol on top.
void symbolDisc(QPainter &p, QPointF c, qreal r, const QColor &base, const QPainterPath &symbol);
// A small round corner badge (white ring around a coloured disc with a white symbol).
void badge(QPainter &p, QPointF c, qreal r, const QColor &base, const QPainterPath &symbol);

struct PlugStyle {
    QColor body;
    QColor prongs;
    QColor cable;
    qreal edge = kEdge;
};
// Side view of a two-prong plug whose front face is at `face`, pointing along
// +x; height h, body length len, cable running back for cableLen.
void drawPlug(QPainter &p, QPointF face, qreal h, qreal len, qreal cableLen, const PlugStyle &s);
// Side view of the matching socket, face at `face`, body extending along +x.
void drawSocket(QPainter &p, QPointF face, qreal h, qreal len, qreal cableLen, const PlugStyle &s);

// Front view of a 9-pin D-sub connector filling box (wide, about 2:1).
void drawDb9(QPainter &p, const QRectF &box, const Ctx &ctx);
// A globe with meridians, centre c, radius r.
void drawGlobe(QPainter &p, QPointF c, qreal r, const Ctx &ctx);
// A desktop monitor filling box; returns the screen area for the content.
QRectF drawMonitor(QPainter &p, const QRectF &box, const QColor &screen);
// Erlenmeyer flask filling box, liquid of the given colour.
void drawFlask(QPainter &p, const QRectF &box, const QColor &liquid, const Ctx &ctx);
// Clipboard with ticked lines filling box.
void drawClipboard(QPainter &p, const QRectF &box, const Ctx &ctx);
// Stack of rack units filling box.
void drawServerRack(QPainter &p, const QRectF &box, int units, const Ctx &ctx);
// Front view of an RJ45 jack opening (dark hole with key and contacts).
void drawRj45Jack(QPainter &p, const QRectF &box, const Ctx &ctx);
// Front view of an RJ45 plug with boot and cable going down.
void drawRj45Plug(QPainter &p, const QRectF &box, const QColor &boot, const Ctx &ctx);
