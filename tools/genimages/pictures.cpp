#include "pictures.h"

#include <QFont>
#include <QRadialGradient>
#include <QTransform>
#include <QtMath>

namespace {

const QPointF kCenter(50, 50);

// Colours beyond the common palette.
const QColor kTestBlue(0x2f, 0x8f, 0xe8);
const QColor kHelpBlue(0x14, 0x9c, 0xc4);
const QColor kGearBlue(0x5f, 0x73, 0x8a);
const QColor kTerminal(0x1c, 0x23, 0x2a);
const QColor kTrace(0x4c, 0xe0, 0x5a);
const QColor kSocketGrey(0x6a, 0x77, 0x86);

// Shared compositions ------------------------------------------------------

PlugStyle plugStyle(const QColor &body)
{
    return PlugStyle{body, pal::steel, pal::dark, kEdge};
}

// Plug and socket on a horizontal line through the painter's origin. When
// joined the plug's face touches the socket's face and the prongs are hidden.
void plugPair(QPainter &p, qreal h, qreal len, qreal cable, qreal gap, const PlugStyle &plug, const PlugStyle &socket)
{
    drawPlug(p, QPointF(-gap / 2, 0), h, len, cable, plug);
    drawSocket(p, QPointF(gap / 2, 0), h, len, cable, socket);
}

// Red slash across a gap: the sign for "not connected", centred at c in the
// painter's current (rotated) frame and running across the x axis.
void cutMark(QPainter &p, QPointF c, qreal half)
{
    fillShape(p, thick(line(c + QPointF(-half * 0.25, half), c + QPointF(half * 0.25, -half)), 10), pal::red, 3);
}

void netServiceEmblem(QPainter &p, const Ctx &ctx)
{
    drawGlobe(p, QPointF(60, 40), 35, ctx);
    drawDb9(p, QRectF(4, 56, 64, 36), ctx);
}

void flaskWithBadge(QPainter &p, const Ctx &ctx, const QPainterPath &symbol)
{
    drawFlask(p, QRectF(0, 0, 84, 84), kTestBlue, ctx);
    badge(p, QPointF(75, 75), 20, pal::green, symbol);
}

QPainterPath badgePlay()
{
    return playTriangle(QRectF(67, 63, 20, 24));
}

QPainterPath badgePlus()
{
    return plus(QPointF(75, 75), 12, 8);
}

QPainterPath usbTrident()
{
    QPainterPath lines = line(QPointF(50, 22), QPointF(50, 80));
    lines.addPath(polyline({QPointF(50, 66), QPointF(27, 52), QPointF(27, 38)}));
    lines.addPath(polyline({QPointF(50, 56), QPointF(73, 42), QPointF(73, 34)}));
    QPainterPath path = thick(lines, 9);
    path = path.united(polygon({QPointF(50, 4), QPointF(63, 24), QPointF(37, 24)}));
    path = path.united(circle(QPointF(50, 82), 11));
    path = path.united(circle(QPointF(27, 34), 8));
    path = path.united(rounded(QRectF(65, 20, 16, 16), 2));
    return path;
}

// Pictures -------------------------------------------------------------------

void about(QPainter &p, const Ctx &)
{
    symbolDisc(p, kCenter, 45, pal::blue, glyphInfo(QRectF(17, 17, 66, 66)));
}

void active(QPainter &p, const Ctx &)
{
    fillShape(p, circle(kCenter, 46), pal::steel);
    QRadialGradient g(QPointF(44, 42), 42);
    g.setColorAt(0.0, QColor(0xb8, 0xff, 0xb0));
    g.setColorAt(0.45, QColor(0x3c, 0xd8, 0x46));
    g.setColorAt(1.0, QColor(0x13, 0x82, 0x24));
    p.setBrush(g);
    p.setPen(QPen(QColor(0x0e, 0x5c, 0x1a), kEdge));
    p.drawEllipse(kCenter, 36, 36);
    QPainterPath shine;
    shine.addEllipse(QRectF(30, 22, 30, 18));
    fillFlat(p, shine, QColor(255, 255, 255, 150));
}

void apply(QPainter &p, const Ctx &)
{
    fillShape(p, checkMark(QRectF(6, 8, 88, 88), 21), pal::green);
}

void eraser(QPainter &p, const Ctx &ctx)
{
    // Swept trail under the eraser.
    const QColor dust(0xa8, 0xb2, 0xbc);
    fillFlat(p, thick(line(QPointF(8, 90), QPointF(60, 90)), 6), dust);
    if (!ctx.tiny())
        fillFlat(p, thick(line(QPointF(14, 78), QPointF(34, 78)), 5), dust);

    p.save();
    p.translate(56, 48);
    p.rotate(-38);
    const QColor rubber(0xf2, 0x6f, 0x93);
    const QRectF block(-40, -20, 80, 40);
    fillShape(p, rounded(block, 7), rubber);
    // Paper sleeve around the back half.
    fillShape(p, rounded(QRectF(-4, -21, 40, 42), 4), pal::blue);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(edgeOf(rubber), kEdge));
    p.drawPath(rounded(block, 7));
    p.restore();
}

void closeCross(QPainter &p, const Ctx &)
{
    fillShape(p, cross(kCenter, 31, 23), pal::red);
}

void command(QPainter &p, const Ctx &ctx)
{
    // A pair of serial ports with the gear of the manager.
    drawDb9(p, QRectF(4, 6, 64, 36), ctx);
    drawDb9(p, QRectF(4, 44, 64, 36), ctx);
    fillShape(p, gear(QPointF(72, 72), 25, 19, 8, 8), pal::orange);
}

void connected(QPainter &p, const Ctx &)
{
    p.save();
    p.translate(50, 50);
    p.rotate(-40);
    plugPair(p, 30, 30, 18, 0, plugStyle(pal::green), plugStyle(kSocketGrey));
    p.restore();
}

void connectedState(QPainter &p, const Ctx &)
{
    p.translate(50, 50);
    p.rotate(-40);
    plugPair(p, 40, 28, 9, 0, plugStyle(pal::green), plugStyle(kSocketGrey));
}

void connectBadge(QPainter &p, const Ctx &)
{
    symbolDisc(p, kCenter, 46, pal::green, QPainterPath());
    p.save();
    p.translate(50, 50);
    p.rotate(-35);
    const PlugStyle white{pal::white, pal::white, pal::white, 3};
    plugPair(p, 24, 20, 14, 0, white, white);
    p.restore();
}

void database(QPainter &p, const Ctx &ctx)
{
    const qreal rx = 40, ry = 12, top = 18, bottom = 82;
    QPainterPath body;
    body.addRect(QRectF(50 - rx, top, 2 * rx, bottom - top));
    body.addEllipse(QPointF(50, bottom), rx, ry);
    body = body.simplified();
    QLinearGradient g(QPointF(50 - rx, 0), QPointF(50 + rx, 0));
    g.setColorAt(0.0, pal::blue.darker(125));
    g.setColorAt(0.4, pal::blue.lighter(135));
    g.setColorAt(1.0, pal::blue.darker(135));
    p.setBrush(g);
    p.setPen(QPen(edgeOf(pal::blue), kEdge));
    p.drawPath(body);
    // Disk separators: the lower halves of ellipses.
    const int bands = ctx.tiny() ? 1 : 2;
    for (int i = 1; i <= bands; ++i) {
        const qreal y = top + (bottom - top) * i / (bands + 1);
        QPainterPath arc;
        arc.arcMoveTo(QRectF(50 - rx, y - ry, 2 * rx, 2 * ry), 180);
        arc.arcTo(QRectF(50 - rx, y - ry, 2 * rx, 2 * ry), 180, 180);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(edgeOf(pal::blue), kEdge, Qt::SolidLine, Qt::RoundCap));
        p.drawPath(arc);
    }
    QPainterPath cap;
    cap.addEllipse(QPointF(50, top), rx, ry);
    fillShape(p, cap, pal::lightBlue);
}

void disconnectLink(QPainter &p, const Ctx &)
{
    // One chain link cut in two, the halves pulled apart.
    p.translate(50, 50);
    p.rotate(-45);
    const QPainterPath ring = thick(rounded(QRectF(-42, -17, 84, 34), 17), 11);
    QPainterPath left, right;
    left.addRect(QRectF(-60, -40, 48, 80));
    right.addRect(QRectF(12, -40, 48, 80));
    fillShape(p, ring.intersected(left), pal::grey);
    fillShape(p, ring.intersected(right), pal::grey);
    cutMark(p, QPointF(0, 0), 26);
}

void deleteAll(QPainter &p, const Ctx &ctx)
{
    fillShape(p, rounded(QRectF(10, 4, 62, 80), 6), pal::paper);
    const int rows = ctx.tiny() ? 2 : 4;
    for (int i = 0; i < rows; ++i)
        fillFlat(p, rounded(QRectF(20, 18 + i * 14, 42, 7), 3), pal::grey);
    fillShape(p, cross(QPointF(66, 68), 19, 15), pal::red);
}

void delay(QPainter &p, const Ctx &ctx)
{
    fillShape(p, circle(kCenter, 44), pal::blue);
    fillShape(p, circle(kCenter, 34), pal::paper, 2.5);
    if (!ctx.tiny()) {
        for (int i = 0; i < 4; ++i) {
            const qreal a = i * M_PI / 2;
            const QPointF d(qCos(a), qSin(a));
            fillFlat(p, thick(line(kCenter + d * 27, kCenter + d * 31), 5), pal::slate);
        }
    }
    QPainterPath hands = polyline({QPointF(50, 24), QPointF(50, 50), QPointF(68, 60)});
    fillFlat(p, thick(hands, 8), pal::dark);
    fillFlat(p, circle(kCenter, 6), pal::red);
}

void unplugged(QPainter &p, const Ctx &)
{
    p.save();
    p.translate(50, 50);
    p.rotate(-40);
    plugPair(p, 28, 26, 14, 30, plugStyle(pal::grey), plugStyle(pal::grey));
    p.restore();
}

void unpluggedState(QPainter &p, const Ctx &)
{
    p.translate(50, 50);
    p.rotate(-40);
    plugPair(p, 34, 20, 6, 38, plugStyle(pal::grey), plugStyle(pal::grey));
    cutMark(p, QPointF(9, 0), 30);
}

void disconnectBadge(QPainter &p, const Ctx &)
{
    symbolDisc(p, kCenter, 46, pal::red, QPainterPath());
    p.save();
    p.translate(50, 50);
    p.rotate(-35);
    const PlugStyle white{pal::white, pal::white, pal::white, 3};
    plugPair(p, 22, 17, 10, 22, white, white);
    p.restore();
}

void editor(QPainter &p, const Ctx &)
{
    p.translate(50, 50);
    p.rotate(-45);
    const qreal h = 26;
    const QColor rubber(0xf2, 0x6f, 0x93);
    fillShape(p, rounded(QRectF(30, -h / 2, 16, h), 5), rubber);
    fillShape(p, rounded(QRectF(22, -h / 2, 12, h), 1), pal::steel);
    fillShape(p, polygon({QPointF(-26, -h / 2), QPointF(24, -h / 2), QPointF(24, h / 2), QPointF(-26, h / 2)}),
              pal::yellow);
    const QPainterPath cone = polygon({QPointF(-26, -h / 2), QPointF(-26, h / 2), QPointF(-48, 0)});
    fillShape(p, cone, QColor(0xf0, 0xc8, 0x90));
    fillShape(p, polygon({QPointF(-40, -h * 0.18), QPointF(-40, h * 0.18), QPointF(-48, 0)}), pal::dark, 2);
}

void ethernetJack(QPainter &p, const Ctx &ctx)
{
    drawRj45Jack(p, QRectF(0, 0, 100, 100), ctx);
}

void ethernetPlug(QPainter &p, const Ctx &ctx)
{
    drawRj45Plug(p, QRectF(0, 0, 100, 100), pal::blue, ctx);
}

void ethernetPort(QPainter &p, const Ctx &ctx)
{
    // A switch port with its link (green) and activity (amber) lights.
    fillShape(p, rounded(QRectF(4, 4, 92, 92), 10), pal::slate);
    fillShape(p, rounded(QRectF(12, 10, 22, 12), 3), kTrace, 2.5);
    fillShape(p, rounded(QRectF(66, 10, 22, 12), 3), pal::orange, 2.5);
    drawRj45Jack(p, QRectF(10, 24, 80, 72), ctx);
}

void ethernetCable(QPainter &p, const Ctx &ctx)
{
    // Side view of a patch cable's plug, latch on top, pointing right.
    QPainterPath cable;
    cable.moveTo(6, 94);
    cable.cubicTo(8, 66, 14, 52, 30, 52);
    fillShape(p, thick(cable, 13, Qt::FlatCap), pal::yellow);
    fillShape(p, polygon({QPointF(26, 40), QPointF(46, 34), QPointF(46, 70), QPointF(26, 64)}), pal::yellow);
    fillShape(p, thick(line(QPointF(50, 32), QPointF(78, 20)), 6), QColor(0xc8, 0xe2, 0xf2));
    fillShape(p, rounded(QRectF(44, 30, 48, 40), 4), QColor(0xc8, 0xe2, 0xf2));
    if (!ctx.tiny())
        for (int i = 0; i < 3; ++i)
            fillFlat(p, rounded(QRectF(70 + i * 6.5, 31, 4, 12), 1), pal::gold);
}

void exitDoor(QPainter &p, const Ctx &)
{
    // Door frame with the dark opening, the door swung open towards us, and the way out.
    fillShape(p, rounded(QRectF(10, 6, 52, 86), 3), pal::dark);
    const QColor door(0xa8, 0x6a, 0x34);
    fillShape(p, polygon({QPointF(10, 6), QPointF(40, 14), QPointF(40, 98), QPointF(10, 92)}), door);
    fillFlat(p, circle(QPointF(34, 56), 4), pal::yellow);
    fillShape(p, arrow(QPointF(42, 50), QPointF(96, 50), 18, 44, 26), pal::green);
}

void eye(QPainter &p, const Ctx &)
{
    QPainterPath outline;
    outline.moveTo(4, 50);
    outline.quadTo(50, 2, 96, 50);
    outline.quadTo(50, 98, 4, 50);
    outline.closeSubpath();
    fillShape(p, outline, pal::paper, 6);
    p.save();
    p.setClipPath(outline);
    fillShape(p, circle(kCenter, 22), pal::blue, 3);
    p.restore();
    fillFlat(p, circle(kCenter, 10), pal::dark);
    fillFlat(p, circle(QPointF(43, 42), 5), pal::white);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(pal::dark, 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(outline);
}

void helpWeb(QPainter &p, const Ctx &)
{
    symbolDisc(p, kCenter, 45, kHelpBlue, glyphQuestion(QRectF(17, 17, 66, 66)));
}

void helpQuestion(QPainter &p, const Ctx &)
{
    // Speech bubble: the question the program is asking.
    QPainterPath bubble = rounded(QRectF(5, 6, 90, 72), 20);
    bubble = bubble.united(polygon({QPointF(22, 70), QPointF(46, 74), QPointF(14, 96)}));
    fillShape(p, bubble, pal::blue);
    fillFlat(p, glyphQuestion(QRectF(20, 12, 60, 60)), pal::white);
}

void json(QPainter &p, const Ctx &)
{
    QPainterPath left;
    left.moveTo(42, 10);
    left.cubicTo(30, 10, 29, 16, 29, 26);
    left.lineTo(29, 40);
    left.cubicTo(29, 47, 25, 50, 15, 50);
    left.cubicTo(25, 50, 29, 53, 29, 60);
    left.lineTo(29, 74);
    left.cubicTo(29, 84, 30, 90, 42, 90);
    QPainterPath both = left;
    both.addPath(QTransform(-1, 0, 0, 1, 100, 0).map(left));
    fillShape(p, thick(both, 12), pal::orange);
}

void logo(QPainter &p, const Ctx &ctx)
{
    const qreal h = ctx.height;
    p.save();
    p.translate(2, 0);
    p.scale(h / 100.0, h / 100.0);
    Ctx emblem;
    emblem.px = h / 100.0;
    netServiceEmblem(p, emblem);
    p.restore();

    // Lay the name out large, then scale it to fill the space right of the emblem.
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(100);
    font.setBold(true);
    QPainterPath first, second;
    first.addText(QPointF(0, 0), font, QStringLiteral("Vantrel"));
    second.addText(QPointF(first.boundingRect().right() + 6, 0), font, QStringLiteral("VCom"));
    const QRectF all = first.boundingRect().united(second.boundingRect());
    const qreal left = h + 8, right = ctx.width - 3, bottom = h - 9;
    const qreal scale = qMin((right - left) / all.width(), (bottom - 3) / all.height());
    QTransform t;
    t.translate(left, bottom);
    t.scale(scale, scale);
    t.translate(-all.left(), -all.bottom());
    fillFlat(p, t.map(first), pal::dark);
    const QPainterPath product = t.map(second);
    fillFlat(p, product, pal::blue);
    // Accent bar under the product part of the name.
    const QRectF s = product.boundingRect();
    fillFlat(p, rounded(QRectF(s.left(), h - 5, s.width(), 3.5), 1.5), pal::orange);
}

void messageBox(QPainter &p, const Ctx &ctx)
{
    const QPainterPath window = rounded(QRectF(6, 10, 88, 80), 8);
    fillShape(p, window, pal::paper);
    p.save();
    p.setClipPath(window);
    fillFlat(p, rounded(QRectF(0, 0, 100, 30), 0), pal::blue);
    p.restore();
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(edgeOf(pal::paper), kEdge));
    p.drawPath(window);
    if (!ctx.tiny()) {
        fillFlat(p, rounded(QRectF(18, 40, 64, 7), 3.5), pal::grey);
        fillFlat(p, rounded(QRectF(18, 53, 44, 7), 3.5), pal::grey);
    }
    fillShape(p, rounded(QRectF(52, 66, 32, 16), 4), pal::green, 3);
}

void play(QPainter &p, const Ctx &)
{
    fillShape(p, playTriangle(QRectF(20, 8, 72, 84)), pal::green);
}

void stop(QPainter &p, const Ctx &)
{
    fillShape(p, rounded(QRectF(12, 12, 76, 76), 10), pal::red);
}

void minus(QPainter &p, const Ctx &)
{
    fillShape(p, rounded(QRectF(8, 37, 84, 26), 5), pal::red);
}

void plusSign(QPainter &p, const Ctx &)
{
    fillShape(p, plus(kCenter, 42, 26), pal::green);
}

void monitor(QPainter &p, const Ctx &)
{
    const QRectF s = drawMonitor(p, QRectF(4, 6, 92, 88), kTerminal);
    auto at = [&](qreal x, qreal y) { return QPointF(s.left() + s.width() * x, s.top() + s.height() * y); };
    const QPainterPath trace = polyline({at(0.04, 0.6), at(0.24, 0.6), at(0.34, 0.18), at(0.46, 0.86), at(0.56, 0.4),
                                         at(0.66, 0.6), at(0.96, 0.6)});
    fillFlat(p, thick(trace, 6.5), kTrace);
}

void navArrow(QPainter &p, const QColor &c)
{
    fillShape(p, arrow(QPointF(6, 50), QPointF(94, 50), 36, 82, 44), c);
}
void navBlue(QPainter &p, const Ctx &) { navArrow(p, pal::blue); }
void navGreen(QPainter &p, const Ctx &) { navArrow(p, pal::green); }
void navRed(QPainter &p, const Ctx &) { navArrow(p, pal::red); }

void netServer(QPainter &p, const Ctx &ctx)
{
    drawServerRack(p, QRectF(6, 6, 60, 84), 3, ctx);
    drawGlobe(p, QPointF(70, 70), 27, ctx);
}

void newTest(QPainter &p, const Ctx &ctx)
{
    flaskWithBadge(p, ctx, badgePlus());
}

void power(QPainter &p, const Ctx &)
{
    const QRectF ring(50 - 23, 54 - 23, 46, 46);
    QPainterPath symbol;
    symbol.arcMoveTo(ring, 125);
    symbol.arcTo(ring, 125, 290);
    symbol.addPath(line(QPointF(50, 20), QPointF(50, 50)));
    symbolDisc(p, kCenter, 46, pal::red, thick(symbol, 10));
}

void reload(QPainter &p, const Ctx &)
{
    fillShape(p, arcArrow(kCenter, 30, 45, -285, 15, 38, 24), pal::green);
}

void removeAll(QPainter &p, const Ctx &ctx)
{
    const QColor can(0x6f, 0x80, 0x94);
    fillShape(p, thick(rounded(QRectF(38, 4, 24, 16), 5), 6), can);
    const QPainterPath body = polygon({QPointF(18, 28), QPointF(82, 28), QPointF(75, 94), QPointF(25, 94)});
    fillShape(p, body, can);
    const int ribs = ctx.tiny() ? 2 : 3;
    for (int i = 0; i < ribs; ++i) {
        const qreal x = ribs == 3 ? 36 + i * 14 : 41 + i * 18;
        fillFlat(p, thick(line(QPointF(x, 40), QPointF(x + (x - 50) * 0.05, 84)), 6), can.darker(140));
    }
    fillShape(p, rounded(QRectF(10, 16, 80, 14), 4), can);
}

void reset(QPainter &p, const Ctx &)
{
    fillShape(p, arcArrow(kCenter, 30, 135, 285, 15, 38, 24), pal::orange);
}

void serialPort(QPainter &p, const Ctx &ctx)
{
    drawDb9(p, QRectF(2, 24, 96, 52), ctx);
}

void search(QPainter &p, const Ctx &)
{
    fillShape(p, thick(line(QPointF(62, 62), QPointF(88, 88)), 17), pal::dark);
    fillFlat(p, circle(QPointF(40, 40), 28), QColor(0xd4, 0xea, 0xfb, 220));
    QPainterPath shine;
    shine.arcMoveTo(QRectF(24, 24, 32, 32), 100);
    shine.arcTo(QRectF(24, 24, 32, 32), 100, 70);
    fillFlat(p, thick(shine, 5), pal::white);
    fillShape(p, thick(circle(QPointF(40, 40), 28), 11), pal::slate);
}

void server(QPainter &p, const Ctx &ctx)
{
    drawServerRack(p, QRectF(8, 8, 84, 84), 3, ctx);
}

void settings(QPainter &p, const Ctx &)
{
    fillShape(p, gear(kCenter, 46, 35, 10, 14), kGearBlue);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kGearBlue.lighter(150), 4));
    p.drawEllipse(kCenter, 23, 23);
}

void stopAll(QPainter &p, const Ctx &)
{
    fillShape(p, rounded(QRectF(32, 6, 62, 62), 8), pal::red.darker(125));
    fillShape(p, rounded(QRectF(6, 32, 62, 62), 8), pal::red);
}

void startTask(QPainter &p, const Ctx &ctx)
{
    drawClipboard(p, QRectF(0, 0, 84, 84), ctx);
    badge(p, QPointF(75, 75), 20, pal::green, badgePlay());
}

void startTest(QPainter &p, const Ctx &ctx)
{
    flaskWithBadge(p, ctx, badgePlay());
}

void systemMonitor(QPainter &p, const Ctx &)
{
    const QRectF s = drawMonitor(p, QRectF(4, 6, 92, 88), kTerminal);
    const QColor colours[] = {kTrace, kTrace, pal::yellow, pal::red};
    const qreal heights[] = {0.45, 0.7, 0.55, 0.85};
    const qreal bw = s.width() / 5.2;
    for (int i = 0; i < 4; ++i) {
        const qreal x = s.left() + bw * 0.3 + i * bw * 1.25;
        const qreal top = s.bottom() - s.height() * heights[i];
        fillShape(p, rounded(QRectF(x, top, bw, s.bottom() - top - 3), 1.5), colours[i], 0);
    }
}

void terminal(QPainter &p, const Ctx &)
{
    const QPainterPath window = rounded(QRectF(4, 8, 92, 84), 9);
    fillWithRim(p, window, kTerminal, pal::dark);
    p.save();
    p.setClipPath(window);
    fillFlat(p, rounded(QRectF(0, 0, 100, 24), 0), pal::grey);
    p.restore();
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(pal::dark, kEdge));
    p.drawPath(window);
    fillFlat(p, thick(polyline({QPointF(20, 40), QPointF(38, 54), QPointF(20, 68)}), 10), kTrace);
    fillFlat(p, rounded(QRectF(44, 63, 28, 9), 2), kTrace);
}

void test(QPainter &p, const Ctx &ctx)
{
    drawFlask(p, QRectF(4, 2, 92, 92), kTestBlue, ctx);
}

void usbOff(QPainter &p, const Ctx &)
{
    fillShape(p, usbTrident(), pal::grey);
    fillShape(p, thick(line(QPointF(14, 14), QPointF(86, 86)), 11), pal::red);
}

void usbOn(QPainter &p, const Ctx &)
{
    fillShape(p, usbTrident(), pal::blue);
    badge(p, QPointF(78, 80), 15, pal::green, checkMark(QRectF(69, 71, 18, 18), 5));
}

void warning(QPainter &p, const Ctx &)
{
    QPainterPath tri = polygon({QPointF(50, 12), QPointF(90, 84), QPointF(10, 84)});
    tri = tri.united(thick(tri, 12));
    fillShape(p, tri, pal::yellow, 5);
    fillFlat(p, glyphExclaim(QRectF(30, 30, 40, 56)), pal::dark);
}

} // namespace

const QList<Picture> &pictures()
{
    static const QList<Picture> list = {
        {"about.png", 64, 64, about},
        {"active.png", 67, 67, active},
        {"apply2.png", 64, 64, apply},
        {"clear.png", 128, 128, eraser},
        {"close.png", 96, 96, closeCross},
        {"command5.png", 100, 100, command},
        {"con11.png", 94, 94, connected},
        {"con33.png", 48, 48, connectedState},
        {"connect.png", 128, 128, connectBadge},
        {"dbase1.png", 158, 152, database},
        {"dcon12.png", 64, 64, disconnectLink},
        {"delall.png", 48, 48, deleteAll},
        {"delay.png", 40, 40, delay},
        {"discon11.png", 94, 94, unplugged},
        {"discon33.png", 48, 48, unpluggedState},
        {"disconnect.png", 128, 128, disconnectBadge},
        {"editor1.png", 64, 64, editor},
        {"ether1.png", 49, 49, ethernetJack},
        {"ether2.png", 47, 47, ethernetPlug},
        {"ether3.png", 64, 64, ethernetPort},
        {"ether4.png", 64, 64, ethernetCable},
        {"exit.png", 128, 128, exitDoor},
        {"eye.png", 64, 64, eye},
        {"help-icon.png", 64, 64, helpWeb},
        {"help.png", 64, 64, helpQuestion},
        {"json.png", 64, 64, json},
        {"logo.png", 321, 44, logo, true},
        {"mb21.png", 64, 64, messageBox},
        {"media_play_green.png", 48, 48, play},
        {"media_stop_red.png", 48, 48, stop},
        {"minus.png", 48, 48, minus},
        {"monitor.png", 100, 100, monitor},
        {"nav_plain_blue.png", 48, 48, navBlue},
        {"nav_plain_green.png", 48, 48, navGreen},
        {"nav_plain_red.png", 48, 48, navRed},
        {"newtest.png", 96, 96, newTest},
        {"plus.png", 48, 48, plusSign},
        {"power1.png", 96, 96, power},
        {"reload5.png", 67, 67, reload},
        {"remove.png", 100, 100, removeAll},
        {"reset5.png", 100, 100, reset},
        {"rs232.png", 100, 100, serialPort},
        {"search.png", 48, 48, search},
        {"server.png", 64, 64, server},
        {"settings.png", 128, 128, settings},
        {"stopall.png", 48, 48, stopAll},
        {"stTask.png", 96, 96, startTask},
        {"stTest.png", 96, 96, startTest},
        {"system-monitor-icon.png", 128, 128, systemMonitor},
        {"terminal2.png", 64, 64, terminal},
        {"test2.png", 96, 96, test},
        {"usboff.png", 96, 96, usbOff},
        {"usbon.png", 96, 96, usbOn},
        {"warning.png", 48, 48, warning},
    };
    return list;
}

const QList<IconFile> &iconFiles()
{
    static const QList<IconFile> list = {
        {"net_server.ico", {16, 32, 48}, netServer},
        {"net_service.ico", {16, 32, 48}, netServiceEmblem},
    };
    return list;
}

const QList<Picture> &themeIcons()
{
    // The program's icon, as the executable carries it, at the hicolor theme's sizes.
    static const QList<Picture> list = {
        {"vantrelvcom-16.png", 16, 16, netServiceEmblem},
        {"vantrelvcom-32.png", 32, 32, netServiceEmblem},
        {"vantrelvcom-48.png", 48, 48, netServiceEmblem},
        {"vantrelvcom-256.png", 256, 256, netServiceEmblem},
    };
    return list;
}
