#include "painting.h"

#include <QLinearGradient>
#include <QPainterPathStroker>
#include <QTransform>
#include <QtMath>

QColor edgeOf(const QColor &c)
{
    // Very light colours (white, paper, glass) get a neutral dark rim.
    if (c.lightness() > 215)
        return QColor(0x5a, 0x63, 0x6e);
    return c.darker(185);
}

void fillWithRim(QPainter &p, const QPainterPath &path, const QColor &base, const QColor &rim, qreal edge)
{
    const QRectF b = path.boundingRect();
    QLinearGradient g(b.topLeft(), b.bottomLeft());
    g.setColorAt(0.0, base.lighter(128));
    g.setColorAt(1.0, base.darker(108));
    p.setBrush(g);
    if (edge > 0)
        p.setPen(QPen(rim, edge, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    else
        p.setPen(Qt::NoPen);
    p.drawPath(path);
}

void fillShape(QPainter &p, const QPainterPath &path, const QColor &base, qreal edge)
{
    fillWithRim(p, path, base, edgeOf(base), edge);
}

void fillFlat(QPainter &p, const QPainterPath &path, const QColor &c)
{
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPath(path);
}

QPainterPath circle(QPointF c, qreal r)
{
    QPainterPath path;
    path.addEllipse(c, r, r);
    return path;
}

QPainterPath rounded(const QRectF &r, qreal radius)
{
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    return path;
}

QPainterPath polygon(std::initializer_list<QPointF> pts)
{
    QPainterPath path;
    path.addPolygon(QPolygonF(QVector<QPointF>(pts)));
    path.closeSubpath();
    return path;
}

QPainterPath thick(const QPainterPath &centerLine, qreal width, Qt::PenCapStyle cap, Qt::PenJoinStyle join)
{
    QPainterPathStroker s;
    s.setWidth(width);
    s.setCapStyle(cap);
    s.setJoinStyle(join);
    return s.createStroke(centerLine).simplified();
}

QPainterPath line(QPointF a, QPointF b)
{
    QPainterPath path(a);
    path.lineTo(b);
    return path;
}

QPainterPath polyline(std::initializer_list<QPointF> pts)
{
    QPainterPath path;
    bool first = true;
    for (const QPointF &pt : pts) {
        if (first)
            path.moveTo(pt);
        else
            path.lineTo(pt);
        first = false;
    }
    return path;
}

QPainterPath fitBox(const QPainterPath &boxPath, const QRectF &target)
{
    QTransform t;
    t.translate(target.x(), target.y());
    t.scale(target.width() / 100.0, target.height() / 100.0);
    return t.map(boxPath);
}

static QPointF unit(QPointF v)
{
    const qreal len = qSqrt(v.x() * v.x() + v.y() * v.y());
    return len > 0 ? v / len : QPointF(1, 0);
}

QPainterPath arrow(QPointF from, QPointF to, qreal shaftWidth, qreal headWidth, qreal headLength)
{
    const QPointF d = unit(to - from);
    const QPointF n(-d.y(), d.x());
    const QPointF neck = to - d * headLength;
    const qreal s = shaftWidth / 2, h = headWidth / 2;
    return polygon({from + n * s, neck + n * s, neck + n * h, to, neck - n * h, neck - n * s, from - n * s});
}

QPainterPath arcArrow(QPointF c, qreal radius, qreal startDeg, qreal spanDeg, qreal thickness, qreal headWidth,
                      qreal headLength)
{
    const qreal ro = radius + thickness / 2, ri = radius - thickness / 2;
    const QRectF outer(c.x() - ro, c.y() - ro, 2 * ro, 2 * ro);
    const QRectF inner(c.x() - ri, c.y() - ri, 2 * ri, 2 * ri);

    QPainterPath band;
    band.arcMoveTo(outer, startDeg);
    band.arcTo(outer, startDeg, spanDeg);
    band.arcTo(inner, startDeg + spanDeg, -spanDeg);
    band.closeSubpath();

    const qreal a = qDegreesToRadians(startDeg + spanDeg);
    const QPointF radial(qCos(a), -qSin(a));
    const QPointF tangent = spanDeg >= 0 ? QPointF(-qSin(a), -qCos(a)) : QPointF(qSin(a), qCos(a));
    // Start the head a little behind the band's end so the two overlap.
    const QPointF e = c + radial * radius - tangent * 1.0;
    const QPainterPath head = polygon({e + radial * (headWidth / 2), e + tangent * headLength, e - radial * (headWidth / 2)});
    return band.united(head);
}

QPainterPath gear(QPointF c, qreal outerR, qreal rootR, int teeth, qreal holeR)
{
    const qreal pitch = 2 * M_PI / teeth;
    auto at = [&](qreal r, qreal ang) { return c + QPointF(r * qCos(ang), r * qSin(ang)); };
    QPolygonF poly;
    for (int i = 0; i < teeth; ++i) {
        const qreal t = i * pitch - M_PI / 2;
        poly << at(rootR, t - 0.30 * pitch) << at(outerR, t - 0.17 * pitch) << at(outerR, t + 0.17 * pitch)
             << at(rootR, t + 0.30 * pitch) << at(rootR, t + 0.50 * pitch);
    }
    QPainterPath path;
    path.addPolygon(poly);
    path.closeSubpath();
    if (holeR > 0)
        path = path.subtracted(circle(c, holeR));
    return path;
}

static QPointF boxPoint(const QRectF &box, qreal x, qreal y)
{
    return QPointF(box.x() + box.width() * x / 100.0, box.y() + box.height() * y / 100.0);
}

// A rectangle given in 100-box coordinates, mapped onto box.
static QRectF boxRect(const QRectF &box, const QRectF &r)
{
    return QRectF(boxPoint(box, r.left(), r.top()), boxPoint(box, r.right(), r.bottom()));
}

QPainterPath checkMark(const QRectF &box, qreal width)
{
    return thick(polyline({boxPoint(box, 12, 54), boxPoint(box, 38, 80), boxPoint(box, 88, 24)}), width);
}

QPainterPath cross(QPointF c, qreal half, qreal width)
{
    QPainterPath path = line(c + QPointF(-half, -half), c + QPointF(half, half));
    path.addPath(line(c + QPointF(half, -half), c + QPointF(-half, half)));
    return thick(path, width);
}

QPainterPath plus(QPointF c, qreal half, qreal width)
{
    const qreal r = width * 0.22;
    QPainterPath h = rounded(QRectF(c.x() - half, c.y() - width / 2, 2 * half, width), r);
    QPainterPath v = rounded(QRectF(c.x() - width / 2, c.y() - half, width, 2 * half), r);
    return h.united(v);
}

// Grows a shape by r in every direction with rounded corners.
static QPainterPath swell(const QPainterPath &path, qreal r)
{
    return path.united(thick(path, 2 * r));
}

QPainterPath playTriangle(const QRectF &box)
{
    const qreal r = box.width() * 0.08;
    const QRectF in = box.adjusted(r, r, -r, -r);
    return swell(polygon({in.topLeft(), QPointF(in.right(), in.center().y()), in.bottomLeft()}), r);
}

QPainterPath glyphInfo(const QRectF &box)
{
    QPainterPath path = circle(QPointF(50, 22), 10);
    path.addPath(rounded(QRectF(40, 38, 20, 48), 5));
    return fitBox(path, box);
}

QPainterPath glyphQuestion(const QRectF &box)
{
    const QRectF ring(32, 15, 36, 36);
    QPainterPath hook;
    hook.arcMoveTo(ring, 165);
    hook.arcTo(ring, 165, -220);
    hook.cubicTo(QPointF(53, 55), QPointF(50, 57), QPointF(50, 62));
    hook.lineTo(50, 64);
    QPainterPath path = thick(hook, 15);
    path.addPath(circle(QPointF(50, 82), 9));
    return fitBox(path, box);
}

QPainterPath glyphExclaim(const QRectF &box)
{
    QPainterPath path = swell(polygon({QPointF(42, 12), QPointF(58, 12), QPointF(54, 62), QPointF(46, 62)}), 3);
    path.addPath(circle(QPointF(50, 80), 9.5));
    return fitBox(path, box);
}

void symbolDisc(QPainter &p, QPointF c, qreal r, const QColor &base, const QPainterPath &symbol)
{
    fillShape(p, circle(c, r), base);
    // Soft gloss on the upper half.
    QPainterPath gloss;
    gloss.addEllipse(QRectF(c.x() - r * 0.72, c.y() - r * 0.92, r * 1.44, r * 0.9));
    fillFlat(p, gloss, QColor(255, 255, 255, 46));
    fillFlat(p, symbol, pal::white);
}

void badge(QPainter &p, QPointF c, qreal r, const QColor &base, const QPainterPath &symbol)
{
    fillFlat(p, circle(c, r + 4), pal::white);
    fillShape(p, circle(c, r), base, 3.5);
    fillFlat(p, symbol, pal::white);
}

void drawPlug(QPainter &p, QPointF face, qreal h, qreal len, qreal cableLen, const PlugStyle &s)
{
    const qreal x0 = face.x() - len, y = face.y();
    const qreal collar = h * 0.26;
    if (cableLen > 0)
        fillShape(p, thick(line(QPointF(x0 - collar + 1, y), QPointF(x0 - collar - cableLen, y)), h * 0.3, Qt::FlatCap),
                  s.cable, s.edge);
    fillShape(p, rounded(QRectF(x0 - collar, y - h * 0.3, collar + 2, h * 0.6), h * 0.08), s.body.darker(115), s.edge);
    for (qreal dy : {-h * 0.23, h * 0.23})
        fillShape(p, rounded(QRectF(face.x() - 2, y + dy - h * 0.075, h * 0.5 + 2, h * 0.15), h * 0.04), s.prongs,
                  s.edge * 0.8);
    fillShape(p, rounded(QRectF(x0, y - h / 2, len, h), h * 0.2), s.body, s.edge);
}

void drawSocket(QPainter &p, QPointF face, qreal h, qreal len, qreal cableLen, const PlugStyle &s)
{
    const qreal x1 = face.x() + len, y = face.y();
    const qreal collar = h * 0.26;
    if (cableLen > 0)
        fillShape(p, thick(line(QPointF(x1 + collar - 1, y), QPointF(x1 + collar + cableLen, y)), h * 0.3, Qt::FlatCap),
                  s.cable, s.edge);
    fillShape(p, rounded(QRectF(x1 - 2, y - h * 0.3, collar + 2, h * 0.6), h * 0.08), s.body.darker(115), s.edge);
    fillShape(p, rounded(QRectF(face.x(), y - h / 2, len, h), h * 0.2), s.body, s.edge);
    // Front flange: taller than the body, marks this part as the socket.
    fillShape(p, rounded(QRectF(face.x(), y - h * 0.64, h * 0.2, h * 1.28), h * 0.07), s.body.darker(112), s.edge);
}

void drawDb9(QPainter &p, const QRectF &box, const Ctx &ctx)
{
    const qreal w = box.width(), h = box.height();
    const QPointF c = box.center();
    fillShape(p, rounded(box, h * 0.18), pal::steel);
    if (!ctx.tiny()) {
        for (qreal sx : {-1.0, 1.0}) {
            const QPointF sc(c.x() + sx * w * 0.405, c.y());
            fillShape(p, circle(sc, h * 0.15), pal::grey, kEdge * 0.7);
            fillFlat(p, circle(sc, h * 0.07), pal::dark);
        }
    }
    // Metal shell (D shape: wider at the top) and the dark insulator inside.
    auto trapezoid = [&](qreal topHalf, qreal bottomHalf, qreal halfH) {
        return polygon({QPointF(c.x() - topHalf, c.y() - halfH), QPointF(c.x() + topHalf, c.y() - halfH),
                        QPointF(c.x() + bottomHalf, c.y() + halfH), QPointF(c.x() - bottomHalf, c.y() + halfH)});
    };
    fillShape(p, swell(trapezoid(w * 0.29, w * 0.23, h * 0.3), h * 0.08), pal::grey);
    fillShape(p, swell(trapezoid(w * 0.25, w * 0.195, h * 0.22), h * 0.05), pal::slate, kEdge * 0.6);
    if (ctx.tiny())
        return;
    const qreal pinR = h * 0.075;
    for (int i = 0; i < 5; ++i)
        fillShape(p, circle(QPointF(c.x() + (i - 2) * w * 0.09, c.y() - h * 0.1), pinR), pal::gold, kEdge * 0.4);
    for (int i = 0; i < 4; ++i)
        fillShape(p, circle(QPointF(c.x() + (i - 1.5) * w * 0.09, c.y() + h * 0.13), pinR), pal::gold, kEdge * 0.4);
}

void drawGlobe(QPainter &p, QPointF c, qreal r, const Ctx &ctx)
{
    const QPainterPath disc = circle(c, r);
    fillShape(p, disc, pal::blue);
    const qreal lw = ctx.tiny() ? r * 0.16 : r * 0.1;
    QPainterPath lines;
    lines.addEllipse(c, r * 0.42, r);
    lines.addPath(line(c - QPointF(r, 0), c + QPointF(r, 0)));
    if (!ctx.tiny()) {
        lines.addPath(line(c - QPointF(0, r), c + QPointF(0, r)));
        for (qreal dy : {-r * 0.52, r * 0.52}) {
            const qreal half = qSqrt(r * r - dy * dy);
            lines.addPath(line(c + QPointF(-half, dy), c + QPointF(half, dy)));
        }
    }
    p.save();
    p.setClipPath(disc);
    fillFlat(p, thick(lines, lw), QColor(255, 255, 255, 225));
    p.restore();
    // Redraw the rim so the lines end under it.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(edgeOf(pal::blue), kEdge));
    p.drawPath(disc);
}

QRectF drawMonitor(QPainter &p, const QRectF &box, const QColor &screen)
{
    const qreal w = box.width(), h = box.height();
    const QRectF frame(box.x(), box.y(), w, h * 0.76);
    const qreal cx = box.center().x();
    // Stand first, so the frame covers its top.
    fillShape(p, polygon({QPointF(cx - w * 0.09, frame.bottom() - 2), QPointF(cx + w * 0.09, frame.bottom() - 2),
                          QPointF(cx + w * 0.13, box.bottom() - h * 0.08), QPointF(cx - w * 0.13, box.bottom() - h * 0.08)}),
              pal::grey);
    fillShape(p, rounded(QRectF(cx - w * 0.3, box.bottom() - h * 0.11, w * 0.6, h * 0.11), h * 0.04), pal::grey);
    fillShape(p, rounded(frame, w * 0.06), pal::slate);
    const qreal m = w * 0.065;
    const QRectF scr = frame.adjusted(m, m, -m, -m);
    fillWithRim(p, rounded(scr, w * 0.02), screen, pal::dark, kEdge * 0.6);
    return scr;
}

void drawFlask(QPainter &p, const QRectF &box, const QColor &liquid, const Ctx &ctx)
{
    QPainterPath body;
    body.moveTo(38, 12);
    body.lineTo(62, 12);
    body.lineTo(62, 38);
    body.lineTo(86, 80);
    body.quadTo(92, 94, 76, 94);
    body.lineTo(24, 94);
    body.quadTo(8, 94, 14, 80);
    body.lineTo(38, 38);
    body.closeSubpath();
    body = fitBox(body, box);
    const QPainterPath lip = fitBox(rounded(QRectF(31, 4, 38, 12), 4), box);

    fillShape(p, body, pal::glass);
    QPainterPath below;
    below.addRect(QRectF(box.x() - 10, box.y() + box.height() * 0.58, box.width() + 20, box.height()));
    fillShape(p, body.intersected(below), liquid, 0);
    if (!ctx.tiny()) {
        const QPointF o = box.topLeft();
        const qreal s = box.width() / 100.0;
        for (const QPointF &b : {QPointF(40, 74), QPointF(58, 82), QPointF(52, 66)})
            fillFlat(p, circle(o + b * s, 4.5 * s), QColor(255, 255, 255, 170));
    }
    // Rim again on top of the liquid.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(edgeOf(pal::glass), kEdge, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(body);
    fillShape(p, lip, pal::glass);
}

void drawClipboard(QPainter &p, const QRectF &box, const Ctx &ctx)
{
    fillShape(p, fitBox(rounded(QRectF(12, 10, 76, 88), 8), box), pal::wood);
    fillShape(p, fitBox(rounded(QRectF(21, 20, 58, 70), 3), box), pal::paper, kEdge * 0.6);
    fillShape(p, fitBox(rounded(QRectF(33, 3, 34, 18), 5), box), pal::grey);
    const int rows = ctx.tiny() ? 2 : 3;
    for (int i = 0; i < rows; ++i) {
        const qreal y = rows == 3 ? 38 + i * 18 : 42 + i * 26;
        fillShape(p, checkMark(boxRect(box, QRectF(25, y - 8, 15, 15)), box.width() * 0.055), pal::green, kEdge * 0.5);
        fillFlat(p, fitBox(rounded(QRectF(45, y - 3.5, 27, 7), 3.5), box), pal::grey);
    }
}

void drawServerRack(QPainter &p, const QRectF &box, int units, const Ctx &ctx)
{
    const qreal gap = box.height() * 0.05;
    const qreal uh = (box.height() - gap * (units - 1)) / units;
    for (int i = 0; i < units; ++i) {
        const QRectF u(box.x(), box.y() + i * (uh + gap), box.width(), uh);
        fillShape(p, rounded(u, uh * 0.18), pal::slate);
        const qreal cy = u.center().y();
        fillShape(p, circle(QPointF(u.right() - uh * 0.42, cy), uh * 0.17), QColor(0x4c, 0xe0, 0x5a), kEdge * 0.5);
        if (!ctx.tiny()) {
            fillShape(p, circle(QPointF(u.right() - uh * 0.92, cy), uh * 0.17), pal::orange, kEdge * 0.5);
            fillFlat(p, rounded(QRectF(u.x() + uh * 0.3, cy - uh * 0.1, u.width() * 0.42, uh * 0.2), uh * 0.1),
                     pal::dark);
        }
    }
}

void drawRj45Jack(QPainter &p, const QRectF &box, const Ctx &ctx)
{
    fillShape(p, fitBox(rounded(QRectF(6, 6, 88, 88), 12), box), pal::steel);
    QPainterPath hole = rounded(QRectF(18, 20, 64, 50), 4).united(rounded(QRectF(35, 60, 30, 22), 3));
    fillWithRim(p, fitBox(hole, box), pal::dark, QColor(0x10, 0x14, 0x18), kEdge);
    if (ctx.tiny()) {
        fillFlat(p, fitBox(rounded(QRectF(24, 24, 52, 10), 2), box), pal::gold);
        return;
    }
    for (int i = 0; i < 8; ++i)
        fillFlat(p, fitBox(rounded(QRectF(24.5 + i * 6.6, 23, 4, 17), 1.5), box), pal::gold);
}

void drawRj45Plug(QPainter &p, const QRectF &box, const QColor &boot, const Ctx &ctx)
{
    fillShape(p, fitBox(rounded(QRectF(41, 70, 18, 28), 3), box), boot);
    fillShape(p, fitBox(polygon({QPointF(24, 52), QPointF(76, 52), QPointF(66, 78), QPointF(34, 78)}), box), boot);
    fillShape(p, fitBox(rounded(QRectF(18, 4, 64, 54), 6), box), QColor(0xc8, 0xe2, 0xf2));
    if (ctx.tiny()) {
        fillFlat(p, fitBox(rounded(QRectF(26, 9, 48, 14), 2), box), pal::gold);
        return;
    }
    for (int i = 0; i < 8; ++i)
        fillShape(p, fitBox(rounded(QRectF(25 + i * 6.5, 9, 4, 20), 1.5), box), pal::gold, kEdge * 0.35);
    // Latch seen through the clear body.
    fillFlat(p, fitBox(rounded(QRectF(36, 36, 28, 14), 3), box), QColor(0x8f, 0xb6, 0xcf));
}
