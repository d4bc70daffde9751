// TMetaEngine: the clip region, and the region records that fill, frame,
// paint and invert regions.

#include "MetaEngine.h"
#include "MetaEngineInternal.h"

// Std
#include <algorithm>
#include <cmath>

using namespace MetaEngineInternal;

namespace {

// The part of a polygon on one side of a horizontal line (Sutherland and
// Hodgman): above it (smaller y) or below it.
QPolygonF CutAtLine(const QPolygonF &in, double y, bool keepAbove)
{
    auto keep = [&](QPointF p) { return keepAbove ? p.y() <= y : p.y() >= y; };
    QPolygonF out;
    const qsizetype n = in.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QPointF a = in[i], b = in[(i + 1) % n];
        if (keep(a))
            out << a;
        if (keep(a) != keep(b))
            out << QPointF(a.x() + (y - a.y()) / (b.y() - a.y()) * (b.x() - a.x()), y);
    }
    return out;
}

// A polygon in canvas pixels as a region. Qt gives up on a polygon region
// more than 100000 pixels tall (it comes back empty, and Qt leaks what it had
// made of it), and a slanted one has a rectangle for every row, which later
// clipping goes through one by one. Polygons are first cut to the canvas and
// 1024 pixels above and below it: enough for the offsets files give their
// clip regions.
QRegion PolygonRegion(const QPolygonF &polygon, int canvasHeight, Qt::FillRule rule)
{
    constexpr double kMargin = 1024;
    const QPolygonF cut = CutAtLine(CutAtLine(polygon, -kMargin, false), canvasHeight + kMargin, true);
    QPolygon ip;
    ip.reserve(cut.size());
    for (const QPointF &p : cut)
        ip << QPoint(ClampRound(p.x()), ClampRound(p.y()));
    return QRegion(ip, rule);
}

} // namespace

QRegion TMetaEngine::Everything() const
{
    const int margin = 1 << 20;
    return QRegion(-margin, -margin, FCanvas.width() + 2 * margin, FCanvas.height() + 2 * margin);
}

// A logical rectangle as canvas pixels; the right and bottom edges are
// outside, as Windows has them.
QRegion TMetaEngine::LogicalRectRegion(const QRectF &r) const
{
    if (!FInvertible)
        return QRegion();
    if (FAxisAligned) {
        const QRectF c = FTransform.mapRect(r.normalized());
        const int l = ClampRound(c.left()), t = ClampRound(c.top());
        const int rr = ClampRound(c.right()), b = ClampRound(c.bottom());
        if (rr <= l || b <= t)
            return QRegion();
        return QRegion(l, t, rr - l, b - t);
    }
    return PolygonRegion(FTransform.map(QPolygonF(r.normalized())), FCanvas.height(), Qt::OddEvenFill);
}

QRegion TMetaEngine::CanvasRegion(const TMetaRegion &region) const
{
    QRegion out;
    if (region.DeviceUnits) {
        for (const QRect &r : region.Region) {
            const QRectF c = FDeviceToCanvas.mapRect(QRectF(r));
            const int l = ClampRound(c.left()), t = ClampRound(c.top());
            const int rr = ClampRound(c.right()), b = ClampRound(c.bottom());
            if (rr > l && b > t)
                out += QRect(l, t, rr - l, b - t);
        }
        return out;
    }
    for (const QRect &r : region.Region)
        out += LogicalRectRegion(QRectF(r));
    return out;
}

std::optional<QRegion> TMetaEngine::EffectiveClip() const
{
    if (FState.Clip && FState.MetaClip)
        return *FState.Clip & *FState.MetaClip;
    if (FState.Clip)
        return FState.Clip;
    return FState.MetaClip;
}

void TMetaEngine::CombineClip(const QRegion &region, int mode)
{
    QRegion current = FState.Clip ? *FState.Clip : Everything();
    switch (mode) {
    case Gdi::RGN_AND: current &= region; break;
    case Gdi::RGN_OR: current |= region; break;
    case Gdi::RGN_XOR: current ^= region; break;
    case Gdi::RGN_DIFF: current -= region; break;
    case Gdi::RGN_COPY: current = region; break;
    default: return;
    }
    FState.Clip = current;
    FClipDirty = true;
}

void TMetaEngine::IntersectClipRect(const QRectF &r)
{
    UpdateTransform();
    const QRegion region = LogicalRectRegion(r);
    ChargePoints(region.rectCount());
    CombineClip(region, Gdi::RGN_AND);
}

void TMetaEngine::ExcludeClipRect(const QRectF &r)
{
    UpdateTransform();
    const QRegion region = LogicalRectRegion(r);
    ChargePoints(region.rectCount());
    CombineClip(region, Gdi::RGN_DIFF);
}

void TMetaEngine::OffsetClipRgn(QPointF d)
{
    UpdateTransform();
    if (!FState.Clip || !FInvertible)
        return;
    const QPointF v = FTransform.map(d) - FTransform.map(QPointF(0, 0));
    FState.Clip->translate(ClampRound(v.x()), ClampRound(v.y()));
    // Keep repeated offsets from carrying the region beyond integer range.
    *FState.Clip &= Everything();
    FClipDirty = true;
}

void TMetaEngine::SelectClipRegion(const TMetaRegion *region, int mode)
{
    UpdateTransform();
    if (!region) {
        if (mode == Gdi::RGN_COPY) {
            FState.Clip.reset();
            FClipDirty = true;
        }
        return;
    }
    ChargePoints(region->Region.rectCount());
    CombineClip(CanvasRegion(*region), mode);
}

void TMetaEngine::SelectClipPath(int mode)
{
    // Without a path there is nothing to select: the clip stays.
    if (FPath.isEmpty()) {
        FInPath = false;
        return;
    }
    QRegion region;
    const Qt::FillRule rule = FState.Winding ? Qt::WindingFill : Qt::OddEvenFill;
    const QList<QPolygonF> polygons = FPath.toSubpathPolygons();
    for (const QPolygonF &poly : polygons) {
        ChargePoints(poly.size());
        const QRegion part = PolygonRegion(poly, FCanvas.height(), rule);
        ChargePoints(part.rectCount());
        region = FState.Winding ? region.united(part) : region.xored(part);
    }
    FPath = QPainterPath();
    FInPath = false;
    CombineClip(region, mode);
}

void TMetaEngine::SetMetaRgn()
{
    FState.MetaClip = EffectiveClip();
    FState.Clip.reset();
    FClipDirty = true;
}

void TMetaEngine::FillCanvasRegion(const QRegion &region, const QBrush &brush, QPainter::CompositionMode mode)
{
    UpdateTransform();
    if (region.isEmpty())
        return;
    ChargePoints(region.rectCount());
    ChargeArea(region.boundingRect());
    ApplyClip();
    FPainter.resetTransform();
    FPainter.setOpacity(1.0);
    FPainter.setCompositionMode(mode);
    for (const QRect &r : region)
        FPainter.fillRect(r, brush);
}

void TMetaEngine::FillRegion(const TMetaRegion &region, const TMetaBrush &brush)
{
    UpdateTransform();
    if (!FInvertible || brush.Kind == TMetaBrush::Null)
        return;
    ChargePoints(region.Region.rectCount());
    FillCanvasRegion(CanvasRegion(region), MakeQBrush(brush, QTransform()), Rop2Mode(FState.Rop2));
}

void TMetaEngine::PaintRegion(const TMetaRegion &region)
{
    FillRegion(region, FState.Brush);
}

void TMetaEngine::InvertRegion(const TMetaRegion &region)
{
    UpdateTransform();
    if (!FInvertible)
        return;
    ChargePoints(region.Region.rectCount());
    FillCanvasRegion(CanvasRegion(region), QBrush(Qt::black), QPainter::RasterOp_NotDestination);
}

void TMetaEngine::FrameRegion(const TMetaRegion &region, const TMetaBrush &brush, double width, double height)
{
    UpdateTransform();
    if (!FInvertible || brush.Kind == TMetaBrush::Null)
        return;
    ChargePoints(region.Region.rectCount());
    const QRegion r = CanvasRegion(region);
    const QPointF v = FTransform.map(QPointF(width, height)) - FTransform.map(QPointF(0, 0));
    const int w = std::clamp(ClampRound(std::fabs(v.x())), 1, 4096);
    const int h = std::clamp(ClampRound(std::fabs(v.y())), 1, 4096);
    const QRegion inner = r & r.translated(w, 0) & r.translated(-w, 0) & r.translated(0, h) & r.translated(0, -h);
    FillCanvasRegion(r - inner, MakeQBrush(brush, QTransform()), Rop2Mode(FState.Rop2));
}
