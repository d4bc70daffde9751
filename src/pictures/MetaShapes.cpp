// TMetaEngine: the painter (pen, brush, raster operation, clip), paths, and
// the lines and shapes drawn with them.

#include "MetaEngine.h"
#include "MetaEngineInternal.h"

// Qt
#include <QPainterPathStroker>

// Std
#include <algorithm>
#include <cmath>
#include <cstring>

using namespace MetaEngineInternal;

namespace {

// A flood fill reads the whole canvas into a mask, scans it and fills what
// it found: it is charged as this many covers of the canvas.
constexpr qint64 kFloodFillCovers = 4;

// The 8x8 hatch patterns, one bit per pixel (set: line).
bool HatchBit(int hatch, int x, int y)
{
    switch (hatch) {
    case 0: return y == 0;                      // horizontal
    case 1: return x == 0;                      // vertical
    case 2: return x == y;                      // forward diagonal, top left to bottom right
    case 3: return x + y == 7;                  // backward diagonal
    case 4: return x == 0 || y == 0;            // cross
    case 5: return x == y || x + y == 7;        // diagonal cross
    default: return false;
    }
}

} // namespace

QPainter::CompositionMode TMetaEngine::Rop2Mode(int rop2) const
{
    switch (rop2) {
    case 1: return QPainter::CompositionMode_Clear;
    case 2: return QPainter::RasterOp_NotSourceAndNotDestination;
    case 3: return QPainter::RasterOp_NotSourceAndDestination;
    case 4: return QPainter::RasterOp_NotSource;
    case 5: return QPainter::RasterOp_SourceAndNotDestination;
    case 6: return QPainter::RasterOp_NotDestination;
    case 7: return QPainter::RasterOp_SourceXorDestination;
    case 8: return QPainter::RasterOp_NotSourceOrNotDestination;
    case 9: return QPainter::RasterOp_SourceAndDestination;
    case 10: return QPainter::RasterOp_NotSourceXorDestination;
    case 12: return QPainter::RasterOp_NotSourceOrDestination;
    case 14: return QPainter::RasterOp_SourceOrNotDestination;
    case 15: return QPainter::RasterOp_SourceOrDestination;
    case 16: return QPainter::RasterOp_SetDestination;
    default: return QPainter::CompositionMode_SourceOver;
    }
}

void TMetaEngine::ApplyClip()
{
    if (!FClipDirty)
        return;
    FClipDirty = false;
    FPainter.resetTransform();
    if (const std::optional<QRegion> clip = EffectiveClip())
        FPainter.setClipRegion(*clip);
    else
        FPainter.setClipping(false);
}

// A thin pen (one device pixel) stays one pixel wide at any scale, with
// Windows' dash lengths in pixels; a wide pen scales with the mapping.
QPen TMetaEngine::MakeQPen() const
{
    const TMetaPen &p = FState.Pen;
    if (p.Style == Gdi::PS_NULL)
        return QPen(Qt::NoPen);
    const double deviceWidth = p.Width * DeviceScale();
    const bool thin = p.Width <= 0 || deviceWidth <= 1.0;
    QPen pen(p.Color);
    if (thin) {
        pen.setWidth(0);
        pen.setCosmetic(true);
        pen.setCapStyle(Qt::FlatCap);
        pen.setJoinStyle(Qt::MiterJoin);
    } else {
        pen.setWidthF(p.Width);
        pen.setCapStyle(p.Cap);
        pen.setJoinStyle(p.Join);
        pen.setMiterLimit(FState.MiterLimit);
    }
    QVector<qreal> dashes;
    const bool styled = thin || (p.Extended && p.Geometric);
    switch (p.Style) {
    case Gdi::PS_DASH:
        if (styled)
            dashes = thin ? QVector<qreal>{18, 6} : QVector<qreal>{3, 1};
        break;
    case Gdi::PS_DOT:
        if (styled)
            dashes = thin ? QVector<qreal>{3, 3} : QVector<qreal>{1, 1};
        break;
    case Gdi::PS_DASHDOT:
        if (styled)
            dashes = thin ? QVector<qreal>{9, 6, 3, 6} : QVector<qreal>{3, 1, 1, 1};
        break;
    case Gdi::PS_DASHDOTDOT:
        if (styled)
            dashes = thin ? QVector<qreal>{9, 3, 3, 3, 3, 3} : QVector<qreal>{3, 1, 1, 1, 1, 1};
        break;
    case Gdi::PS_ALTERNATE:
        dashes = {1, 1};
        break;
    case Gdi::PS_USERSTYLE:
        for (qreal d : p.UserDashes) {
            if (dashes.size() >= 32)
                break;
            const qreal unit = thin ? d : d / std::max(p.Width, 1e-9);
            dashes << std::clamp<qreal>(std::isfinite(unit) ? unit : 1, 0.05, 1e6);
        }
        if (dashes.size() % 2)
            dashes += dashes;
        break;
    default:
        break;
    }
    if (!dashes.isEmpty())
        pen.setDashPattern(dashes);
    return pen;
}

QImage TMetaEngine::HatchImage(int hatch, QColor color) const
{
    QImage image(8, 8, QImage::Format_ARGB32);
    const QRgb background = FState.BkOpaque ? FState.BkColor.rgb() : qRgba(0, 0, 0, 0);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x)
            image.setPixel(x, y, HatchBit(hatch, x, y) ? color.rgb() : background);
    }
    return image;
}

// Patterns and hatches keep to the canvas grid whatever the mapping, as
// they do on a Windows device.
QBrush TMetaEngine::MakeQBrush(const TMetaBrush &b, const QTransform &painterTransform) const
{
    QBrush brush;
    switch (b.Kind) {
    case TMetaBrush::Null:
        return QBrush(Qt::NoBrush);
    case TMetaBrush::Solid:
        return QBrush(b.Color);
    case TMetaBrush::Hatched:
        brush = QBrush(HatchImage(b.Hatch, b.Color));
        break;
    case TMetaBrush::Pattern:
        if (b.Mono) {
            QImage image(b.PatternImage.size(), QImage::Format_RGB32);
            const QRgb fore = FState.TextColor.rgb(), back = FState.BkColor.rgb();
            for (int y = 0; y < image.height(); ++y) {
                const QRgb *src = reinterpret_cast<const QRgb *>(b.PatternImage.constScanLine(y));
                QRgb *dst = reinterpret_cast<QRgb *>(image.scanLine(y));
                for (int x = 0; x < image.width(); ++x)
                    dst[x] = qGray(src[x]) < 128 ? fore : back;
            }
            brush = QBrush(image);
        } else {
            brush = QBrush(b.PatternImage);
        }
        break;
    }
    const QPointF org = FDeviceToCanvas.map(FState.BrushOrg) - FDeviceToCanvas.map(QPointF(0, 0));
    bool ok = false;
    const QTransform inverse = painterTransform.inverted(&ok);
    brush.setTransform(QTransform::fromTranslate(org.x(), org.y()) * (ok ? inverse : QTransform()));
    return brush;
}

// Readies the painter for one drawing in logical units. False when nothing
// would be drawn.
bool TMetaEngine::EnsurePainter(bool usePen, bool useBrush)
{
    UpdateTransform();
    if (!FInvertible || FState.Rop2 == Gdi::R2_NOP)
        return false;
    const bool pen = usePen && FState.Pen.Style != Gdi::PS_NULL;
    const bool brush = useBrush && FState.Brush.Kind != TMetaBrush::Null;
    if (!pen && !brush)
        return false;
    ApplyClip();
    FPainter.setTransform(FTransform);
    FPainter.setPen(pen ? MakeQPen() : QPen(Qt::NoPen));
    FPainter.setBrush(brush ? MakeQBrush(FState.Brush, FTransform) : QBrush(Qt::NoBrush));
    FPainter.setCompositionMode(Rop2Mode(FState.Rop2));
    FPainter.setOpacity(1.0);
    return true;
}

// Draws once with the pen and brush prepared for it.
template <class F>
void TMetaEngine::Paint(bool usePen, bool useBrush, F &&draw)
{
    if (EnsurePainter(usePen, useBrush))
        draw();
}

void TMetaEngine::AddToPath(const QPainterPath &logical, bool connect)
{
    UpdateTransform();
    if (!FInvertible)
        return;
    const QPainterPath mapped = FTransform.map(logical);
    if (connect && FFigureOpen && !mapped.isEmpty()) {
        // Continue the open figure instead of starting a new one.
        for (int i = 0; i < mapped.elementCount(); ++i) {
            const QPainterPath::Element e = mapped.elementAt(i);
            if (e.type == QPainterPath::MoveToElement)
                FPath.lineTo(e.x, e.y);
            else if (e.type == QPainterPath::LineToElement)
                FPath.lineTo(e.x, e.y);
            else if (e.type == QPainterPath::CurveToElement && i + 2 < mapped.elementCount()) {
                const QPainterPath::Element c2 = mapped.elementAt(i + 1), end = mapped.elementAt(i + 2);
                FPath.cubicTo(QPointF(e.x, e.y), QPointF(c2.x, c2.y), QPointF(end.x, end.y));
                i += 2;
            }
        }
    } else {
        FPath.addPath(mapped);
    }
    FFigureOpen = connect;
}

void TMetaEngine::BeginPath()
{
    FPath = QPainterPath();
    FInPath = true;
    FFigureOpen = false;
}

void TMetaEngine::EndPath()
{
    FInPath = false;
}

void TMetaEngine::AbortPath()
{
    FPath = QPainterPath();
    FInPath = false;
    FFigureOpen = false;
}

void TMetaEngine::CloseFigure()
{
    if (!FPath.isEmpty())
        FPath.closeSubpath();
    FFigureOpen = false;
}

void TMetaEngine::PaintCanvasPath(const QPainterPath &canvasPath, bool fill, bool stroke)
{
    FInPath = false;
    FFigureOpen = false;
    if (canvasPath.isEmpty())
        return;
    ChargePoints(canvasPath.elementCount());
    ChargeArea(canvasPath.controlPointRect());
    QPainterPath path = canvasPath;
    path.setFillRule(FState.Winding ? Qt::WindingFill : Qt::OddEvenFill);
    if (fill && EnsurePainter(false, true)) {
        // Filled in canvas pixels, so that the brush keeps to the canvas grid.
        FPainter.resetTransform();
        FPainter.setBrush(MakeQBrush(FState.Brush, QTransform()));
        FPainter.drawPath(path);
    }
    if (stroke) {
        const QPainterPath logical = FInverse.map(path);
        Paint(true, false, [&] { FPainter.drawPath(logical); });
    }
}

void TMetaEngine::FillPath()
{
    const QPainterPath path = FPath;
    FPath = QPainterPath();
    PaintCanvasPath(path, true, false);
}

void TMetaEngine::StrokePath()
{
    const QPainterPath path = FPath;
    FPath = QPainterPath();
    PaintCanvasPath(path, false, true);
}

void TMetaEngine::StrokeAndFillPath()
{
    const QPainterPath path = FPath;
    FPath = QPainterPath();
    PaintCanvasPath(path, true, true);
}

void TMetaEngine::FlattenPath()
{
    QPainterPath flat;
    const QList<QPolygonF> polygons = FPath.toSubpathPolygons();
    for (const QPolygonF &poly : polygons) {
        ChargePoints(poly.size());
        flat.addPolygon(poly);
        if (poly.size() > 2 && poly.isClosed())
            flat.closeSubpath();
    }
    FPath = flat;
    FFigureOpen = false;
}

void TMetaEngine::WidenPath()
{
    UpdateTransform();
    QPainterPathStroker stroker;
    const TMetaPen &p = FState.Pen;
    stroker.setWidth(std::max(1.0, p.Width * DeviceScale()));
    stroker.setCapStyle(p.Cap);
    stroker.setJoinStyle(p.Join);
    stroker.setMiterLimit(FState.MiterLimit);
    ChargePoints(FPath.elementCount());
    FPath = stroker.createStroke(FPath);
    FFigureOpen = false;
}

void TMetaEngine::StrokeLogicalPolyline(const QPolygonF &points)
{
    if (points.size() < 2)
        return;
    ChargeLogical(points.boundingRect());
    Paint(true, false, [&] { FPainter.drawPolyline(points); });
}

void TMetaEngine::DrawPathShape(const QPainterPath &logical, bool fill, bool insideFrame)
{
    if (FInPath) {
        AddToPath(logical, false);
        return;
    }
    ChargePoints(logical.elementCount());
    ChargeLogical(logical.controlPointRect());
    QPainterPath path = logical;
    path.setFillRule(FState.Winding ? Qt::WindingFill : Qt::OddEvenFill);
    if (insideFrame && FState.Pen.Style == Gdi::PS_INSIDEFRAME && FState.Pen.Width > 0) {
        // The pen stays inside the shape's box: shrink the shape by half its width.
        const QRectF box = path.boundingRect();
        const double w = FState.Pen.Width / 2;
        if (box.width() > 2 * w && box.height() > 2 * w) {
            QTransform shrink = QTransform::fromTranslate(-box.center().x(), -box.center().y());
            shrink *= QTransform::fromScale((box.width() - 2 * w) / box.width(), (box.height() - 2 * w) / box.height());
            shrink *= QTransform::fromTranslate(box.center().x(), box.center().y());
            path = shrink.map(path);
        }
    }
    Paint(true, fill, [&] { FPainter.drawPath(path); });
}

void TMetaEngine::MoveTo(QPointF p)
{
    if (FInPath) {
        UpdateTransform();
        FPath.moveTo(Map(p));
        FFigureOpen = true;
    }
    FState.Position = p;
}

void TMetaEngine::LineTo(QPointF p)
{
    if (FInPath) {
        UpdateTransform();
        if (!FFigureOpen || FPath.isEmpty())
            FPath.moveTo(Map(FState.Position));
        FPath.lineTo(Map(p));
        FFigureOpen = true;
    } else {
        StrokeLogicalPolyline(QPolygonF({FState.Position, p}));
    }
    FState.Position = p;
}

void TMetaEngine::Polyline(const QPolygonF &points)
{
    ChargePoints(points.size());
    if (FInPath) {
        QPainterPath path;
        path.addPolygon(points);
        AddToPath(path, false);
        FFigureOpen = true;
        return;
    }
    StrokeLogicalPolyline(points);
}

void TMetaEngine::PolylineTo(const QPolygonF &points)
{
    if (points.isEmpty())
        return;
    ChargePoints(points.size());
    QPolygonF all;
    all.reserve(points.size() + 1);
    all << FState.Position << points;
    if (FInPath) {
        QPainterPath path;
        path.addPolygon(all);
        AddToPath(path, true);
    } else {
        StrokeLogicalPolyline(all);
    }
    FState.Position = points.last();
}

void TMetaEngine::PolyBezier(const QPolygonF &points)
{
    if (points.size() < 4)
        return;
    ChargePoints(points.size());
    QPainterPath path(points[0]);
    for (qsizetype i = 1; i + 2 < points.size(); i += 3)
        path.cubicTo(points[i], points[i + 1], points[i + 2]);
    if (FInPath) {
        AddToPath(path, false);
        FFigureOpen = true;
        return;
    }
    DrawPathShape(path, false);
}

void TMetaEngine::PolyBezierTo(const QPolygonF &points)
{
    if (points.size() < 3)
        return;
    ChargePoints(points.size());
    QPainterPath path(FState.Position);
    qsizetype i = 0;
    for (; i + 2 < points.size(); i += 3)
        path.cubicTo(points[i], points[i + 1], points[i + 2]);
    if (FInPath)
        AddToPath(path, true);
    else
        DrawPathShape(path, false);
    FState.Position = points[i - 1];
}

void TMetaEngine::PolyDraw(const QPolygonF &points, const QByteArray &types)
{
    const qsizetype n = std::min(points.size(), types.size());
    ChargePoints(n);
    QPainterPath path(FState.Position);
    QPointF figureStart = FState.Position;
    for (qsizetype i = 0; i < n; ++i) {
        const int t = quint8(types[i]);
        switch (t & ~1) {
        case 6:     // move to
            path.moveTo(points[i]);
            figureStart = points[i];
            break;
        case 2:     // line to
            path.lineTo(points[i]);
            break;
        case 4:     // Bézier to: three points
            if (i + 2 >= n)
                return;
            path.cubicTo(points[i], points[i + 1], points[i + 2]);
            i += 2;
            break;
        default:
            return;    // a type Windows rejects: nothing is drawn
        }
        if (t & 1) {
            path.closeSubpath();
            path.moveTo(figureStart);
        }
    }
    if (FInPath)
        AddToPath(path, true);
    else
        DrawPathShape(path, false);
    if (n > 0)
        FState.Position = path.currentPosition();
}

void TMetaEngine::Polygon(const QPolygonF &points)
{
    if (points.size() < 2)
        return;
    ChargePoints(points.size());
    if (FInPath) {
        QPainterPath path;
        path.addPolygon(points);
        path.closeSubpath();
        AddToPath(path, false);
        return;
    }
    ChargeLogical(points.boundingRect());
    const Qt::FillRule rule = FState.Winding ? Qt::WindingFill : Qt::OddEvenFill;
    Paint(true, true, [&] { FPainter.drawPolygon(points, rule); });
}

void TMetaEngine::PolyPolygon(const QVector<QPolygonF> &polygons)
{
    QPainterPath path;
    for (const QPolygonF &poly : polygons) {
        ChargePoints(poly.size());
        if (poly.size() < 2)
            continue;
        path.addPolygon(poly);
        path.closeSubpath();
    }
    if (!path.isEmpty())
        DrawPathShape(path, true);
}

void TMetaEngine::PolyPolyline(const QVector<QPolygonF> &polylines)
{
    for (const QPolygonF &poly : polylines)
        Polyline(poly);
}

// Rectangles keep Windows' pixel rule where the mapping allows it: the
// right and bottom edges lie outside, a thin frame inside.
void TMetaEngine::Rectangle(const QRectF &r)
{
    const QRectF n = r.normalized();
    if (FInPath) {
        QPainterPath path;
        path.addRect(n);
        AddToPath(path, false);
        return;
    }
    UpdateTransform();
    const TMetaPen &pen = FState.Pen;
    const bool thinPen = pen.Style == Gdi::PS_NULL || pen.Width <= 0 || pen.Width * DeviceScale() <= 1.0;
    if (!FAxisAligned || !thinPen) {
        QPainterPath path;
        path.addRect(n);
        DrawPathShape(path, true, true);
        return;
    }
    if (!EnsurePainter(true, true))
        return;
    const QRectF c = FTransform.mapRect(n);
    const int l = ClampRound(c.left()), t = ClampRound(c.top());
    const int rr = ClampRound(c.right()), b = ClampRound(c.bottom());
    if (rr <= l || b <= t)
        return;
    ChargeArea(c);
    const QPen qpen = FPainter.pen();
    FPainter.resetTransform();
    if (FState.Brush.Kind != TMetaBrush::Null) {
        FPainter.setPen(Qt::NoPen);
        FPainter.setBrush(MakeQBrush(FState.Brush, QTransform()));
        FPainter.drawRect(QRect(l, t, rr - l, b - t));
    }
    if (qpen.style() != Qt::NoPen) {
        FPainter.setPen(qpen);
        FPainter.setBrush(Qt::NoBrush);
        if (rr - l == 1 || b - t == 1)
            FPainter.drawLine(QPoint(l, t), QPoint(rr - 1, b - 1));
        else
            FPainter.drawRect(QRect(l, t, rr - l - 1, b - t - 1));
    }
}

void TMetaEngine::RoundRect(const QRectF &r, QSizeF corner)
{
    QPainterPath path;
    path.addRoundedRect(r.normalized(), std::fabs(corner.width()) / 2, std::fabs(corner.height()) / 2);
    DrawPathShape(path, true, true);
}

void TMetaEngine::Ellipse(const QRectF &r)
{
    QPainterPath path;
    path.addEllipse(r.normalized());
    DrawPathShape(path, true, true);
}

// The arc runs from the ellipse point on the ray towards start to the one on
// the ray towards end, counter-clockwise on the canvas unless the arc
// direction says clockwise.
QPainterPath TMetaEngine::ArcPath(const QRectF &box, QPointF start, QPointF end, TArcKind kind, QPointF *arcStart,
                                  QPointF *arcEnd) const
{
    const QRectF b = box.normalized();
    const QPointF c = b.center();
    const double rx = b.width() / 2, ry = b.height() / 2;
    QPainterPath path;
    if (!(rx > 0) || !(ry > 0))
        return path;
    const double a1 = std::atan2(-(start.y() - c.y()) / ry, (start.x() - c.x()) / rx) * 180 / kPi;
    const double a2 = std::atan2(-(end.y() - c.y()) / ry, (end.x() - c.x()) / rx) * 180 / kPi;
    const double det = FTransform.m11() * FTransform.m22() - FTransform.m12() * FTransform.m21();
    const bool counterClockwise = (!FState.Clockwise) != (det < 0);
    double sweep = a2 - a1;
    if (counterClockwise) {
        while (sweep <= 0)
            sweep += 360;
    } else {
        while (sweep >= 0)
            sweep -= 360;
    }
    path.arcMoveTo(b, a1);
    const QPointF first = path.currentPosition();
    if (kind == Pie) {
        path = QPainterPath(c);
        path.lineTo(first);
    }
    path.arcTo(b, a1, sweep);
    if (arcStart)
        *arcStart = first;
    if (arcEnd)
        *arcEnd = path.currentPosition();
    if (kind == Pie || kind == Chord)
        path.closeSubpath();
    return path;
}

void TMetaEngine::Arc(const QRectF &box, QPointF start, QPointF end, TArcKind kind)
{
    UpdateTransform();
    QPointF arcStart, arcEnd;
    QPainterPath path = ArcPath(box, start, end, kind, &arcStart, &arcEnd);
    if (path.isEmpty())
        return;
    if (kind == ArcTo) {
        QPainterPath line(FState.Position);
        line.lineTo(arcStart);
        line.connectPath(path);
        path = line;
        FState.Position = arcEnd;
        if (FInPath) {
            AddToPath(path, true);
            return;
        }
    }
    if (FInPath) {
        AddToPath(path, false);
        FFigureOpen = kind == ArcOnly;
        return;
    }
    DrawPathShape(path, kind == Chord || kind == Pie);
}

void TMetaEngine::AngleArc(QPointF center, double radius, double startDeg, double sweepDeg)
{
    if (!std::isfinite(radius) || !std::isfinite(startDeg) || !std::isfinite(sweepDeg) || radius < 0)
        return;
    UpdateTransform();
    const double det = FTransform.m11() * FTransform.m22() - FTransform.m12() * FTransform.m21();
    const double sign = det < 0 ? -1 : 1;
    sweepDeg = std::clamp(sweepDeg, -3600.0, 3600.0);
    const QRectF box(center.x() - radius, center.y() - radius, 2 * radius, 2 * radius);
    QPainterPath arc;
    arc.arcMoveTo(box, sign * startDeg);
    const QPointF first = arc.currentPosition();
    arc.arcTo(box, sign * startDeg, sign * sweepDeg);
    QPainterPath path(FState.Position);
    path.lineTo(first);
    path.connectPath(arc);
    FState.Position = arc.currentPosition();
    if (FInPath)
        AddToPath(path, true);
    else
        DrawPathShape(path, false);
}

void TMetaEngine::SetPixel(QPointF p, quint32 colorRef)
{
    UpdateTransform();
    if (!FInvertible)
        return;
    const QPointF c = Map(p);
    const int x = ClampRound(std::floor(c.x())), y = ClampRound(std::floor(c.y()));
    if (!FCanvas.rect().contains(x, y))
        return;
    if (const std::optional<QRegion> clip = EffectiveClip(); clip && !clip->contains(QPoint(x, y)))
        return;
    FWork += 1;
    const QRgb rgb = Color(colorRef).rgb();
    uchar *px = FCanvas.scanLine(y) + 3 * x;
    px[0] = uchar(qBlue(rgb));
    px[1] = uchar(qGreen(rgb));
    px[2] = uchar(qRed(rgb));
}

// Fills from a point: with surface, the area of that colour; otherwise the
// area up to a border of that colour.
void TMetaEngine::FloodFill(QPointF p, quint32 colorRef, bool surface)
{
    UpdateTransform();
    if (!FInvertible || FState.Brush.Kind == TMetaBrush::Null)
        return;
    const QPointF c = Map(p);
    const int sx = ClampRound(std::floor(c.x())), sy = ClampRound(std::floor(c.y()));
    const int w = FCanvas.width(), h = FCanvas.height();
    if (sx < 0 || sy < 0 || sx >= w || sy >= h)
        return;
    const std::optional<QRegion> clip = EffectiveClip();
    const QRgb target = Color(colorRef).rgb() & 0xFFFFFF;
    auto pixel = [this](int x, int y) {
        const uchar *px = FCanvas.constScanLine(y) + 3 * x;
        return QRgb(px[2]) << 16 | QRgb(px[1]) << 8 | QRgb(px[0]);
    };
    auto inside = [&](int x, int y) {
        if (clip && !clip->contains(QPoint(x, y)))
            return false;
        return surface ? pixel(x, y) == target : pixel(x, y) != target;
    };
    if (!inside(sx, sy))
        return;
    ChargeWork(kFloodFillCovers * qint64(w) * h);
    // Which pixels may still be filled, worked out once for the whole canvas,
    // by Qt (asking the clip region and reading the colour at every visit of
    // a pixel cost many times more): 255 inside the clip and of the right
    // colour, 0 elsewhere and once filled.
    QImage mask = FCanvas.createMaskFromColor(0xFF000000 | target, surface ? Qt::MaskInColor : Qt::MaskOutColor);
    mask.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    QImage openPixels = mask.convertToFormat(QImage::Format_Grayscale8);
    if (openPixels.isNull())
        return;
    if (clip) {
        QPainter outside(&openPixels);
        outside.setClipRegion(QRegion(0, 0, w, h) - *clip);
        outside.fillRect(0, 0, w, h, Qt::black);
    }
    uchar *const open = openPixels.bits();
    const qsizetype stride = openPixels.bytesPerLine();
    // The end of the open run at x (not past end), found by the library.
    auto runEnd = [](const uchar *row, int x, int end) {
        const void *closed = std::memchr(row + x, 0, size_t(end - x));
        return closed ? int(static_cast<const uchar *>(closed) - row) : end;
    };
    std::vector<QPoint> stack{QPoint(sx, sy)};
    QVector<QRect> spans;
    while (!stack.empty()) {
        const QPoint s = stack.back();
        stack.pop_back();
        const int y = s.y();
        uchar *row = open + y * stride;
        if (!row[s.x()])
            continue;
        const void *before = memrchr(row, 0, size_t(s.x()));
        const int l = before ? int(static_cast<const uchar *>(before) - row) + 1 : 0;
        const int r = runEnd(row, s.x(), w) - 1;
        std::memset(row + l, 0, size_t(r - l + 1));
        spans << QRect(l, y, r - l + 1, 1);
        for (int ny : {y - 1, y + 1}) {
            if (ny < 0 || ny >= h)
                continue;
            const uchar *next = open + ny * stride;
            for (int x = l; x <= r; ++x) {
                if (next[x]) {
                    stack.push_back(QPoint(x, ny));
                    x = runEnd(next, x, r + 1);
                }
            }
        }
    }
    std::sort(spans.begin(), spans.end(), [](const QRect &a, const QRect &b) {
        return a.y() != b.y() ? a.y() < b.y() : a.x() < b.x();
    });
    QRegion region;
    region.setRects(spans.constData(), int(spans.size()));
    FillCanvasRegion(region, MakeQBrush(FState.Brush, QTransform()), QPainter::CompositionMode_SourceOver);
}
