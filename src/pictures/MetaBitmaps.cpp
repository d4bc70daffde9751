// TMetaEngine: bitmap blits, ternary raster operations, alpha blending and
// gradient fills.

#include "MetaEngine.h"
#include "MetaEngineInternal.h"

// Qt
#include <QLinearGradient>

// Std
#include <algorithm>
#include <cmath>

using namespace MetaEngineInternal;

namespace {

quint32 TernaryRop(quint8 code, quint32 p, quint32 s, quint32 d)
{
    quint32 r = 0;
    for (int i = 0; i < 8; ++i) {
        if (code & (1u << i))
            r |= ((i & 4) ? p : ~p) & ((i & 2) ? s : ~s) & ((i & 1) ? d : ~d);
    }
    return r & 0xFFFFFFu;
}

bool RopUsesPattern(quint8 code) { return (code >> 4) != (code & 0x0F); }
bool RopUsesSource(quint8 code) { return ((code >> 2) & 0x33) != (code & 0x33); }

// The part of src that lies within bounds, and where it lands in dest
// (scaled as all of src is to dest). False when no part of src is within.
bool SourceInside(const QRectF &dest, const QRectF &src, const QRectF &bounds, QRectF &s, QRectF &d)
{
    s = src.intersected(bounds);
    if (s.isEmpty())
        return false;
    const double fx = dest.width() / src.width(), fy = dest.height() / src.height();
    d = QRectF(dest.x() + (s.x() - src.x()) * fx, dest.y() + (s.y() - src.y()) * fy, s.width() * fx,
               s.height() * fy);
    return true;
}

} // namespace

bool TMetaEngine::SimpleRop(quint32 rop, QPainter::CompositionMode &mode) const
{
    switch (rop) {
    case Gdi::SRCCOPY: mode = QPainter::CompositionMode_SourceOver; return true;
    case Gdi::SRCPAINT: mode = QPainter::RasterOp_SourceOrDestination; return true;
    case Gdi::SRCAND: mode = QPainter::RasterOp_SourceAndDestination; return true;
    case Gdi::SRCINVERT: mode = QPainter::RasterOp_SourceXorDestination; return true;
    case Gdi::SRCERASE: mode = QPainter::RasterOp_SourceAndNotDestination; return true;
    case Gdi::NOTSRCCOPY: mode = QPainter::RasterOp_NotSource; return true;
    case Gdi::NOTSRCERASE: mode = QPainter::RasterOp_NotSourceAndNotDestination; return true;
    case Gdi::MERGEPAINT: mode = QPainter::RasterOp_NotSourceOrDestination; return true;
    default: return false;
    }
}

void TMetaEngine::DrawImageMapped(const QRectF &dest, const QImage &image, const QRectF &src,
                                  QPainter::CompositionMode mode)
{
    if (src.width() <= 0 || src.height() <= 0 || dest.width() == 0 || dest.height() == 0)
        return;
    const double scaleX = dest.width() / src.width(), scaleY = dest.height() / src.height();
    const QTransform toLogical(scaleX, 0, 0, scaleY, dest.x() - src.x() * scaleX, dest.y() - src.y() * scaleY);
    const QTransform m = toLogical * FTransform;
    if (!Finite(m))
        return;
    ChargeArea(m.mapRect(src));
    ApplyClip();
    FPainter.setTransform(m);
    FPainter.setCompositionMode(mode);
    FPainter.setRenderHint(QPainter::SmoothPixmapTransform, FState.StretchMode == Gdi::HALFTONE);
    FPainter.drawImage(src, image, src);
    FPainter.setRenderHint(QPainter::SmoothPixmapTransform, false);
}

void TMetaEngine::DrawBitmap(const QRectF &dest, const QImage &image, const QRectF &src, quint32 rop)
{
    UpdateTransform();
    if (!FInvertible || image.isNull() || FInPath)
        return;
    const quint8 code = quint8(rop >> 16);
    if (!RopUsesSource(code)) {
        PatBlt(dest, rop);
        return;
    }
    // A source partly outside the bitmap copies only the part inside.
    QRectF s, d;
    if (!SourceInside(dest, src, QRectF(image.rect()), s, d))
        return;
    QPainter::CompositionMode mode;
    if (SimpleRop(rop, mode)) {
        FPainter.setOpacity(1.0);
        DrawImageMapped(d, image.hasAlphaChannel() ? image.convertToFormat(QImage::Format_RGB32) : image, s, mode);
    } else {
        RopBlit(d, &image, s, nullptr, QPointF(), rop, rop);
    }
}

void TMetaEngine::DrawBitmapMasked(const QRectF &dest, const QImage &image, const QRectF &src, const QImage &mask,
                                   QPointF maskOrigin, quint32 rop4)
{
    UpdateTransform();
    if (!FInvertible || FInPath)
        return;
    // The high byte holds the operation where the mask is 0.
    const quint32 foreground = rop4 & 0x00FFFFFFu;
    const quint32 background = (rop4 >> 8) & 0x00FF0000u;
    if (mask.isNull()) {
        DrawBitmap(dest, image, src, foreground);
        return;
    }
    RopBlit(dest, image.isNull() ? nullptr : &image, src, &mask, maskOrigin, foreground, background);
}

void TMetaEngine::DrawBitmapPlg(const QPointF dest[3], const QImage &image, const QRectF &src)
{
    UpdateTransform();
    if (!FInvertible || image.isNull() || FInPath)
        return;
    const QRectF s = src.intersected(QRectF(image.rect()));
    if (s.isEmpty() || src.width() <= 0 || src.height() <= 0)
        return;
    const QPointF u = (dest[1] - dest[0]) / src.width(), v = (dest[2] - dest[0]) / src.height();
    const QTransform toLogical(u.x(), u.y(), v.x(), v.y(), dest[0].x() - src.x() * u.x() - src.y() * v.x(),
                               dest[0].y() - src.x() * u.y() - src.y() * v.y());
    const QTransform m = toLogical * FTransform;
    if (!Finite(m))
        return;
    ChargeArea(m.mapRect(s));
    ApplyClip();
    FPainter.setTransform(m);
    FPainter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    FPainter.setOpacity(1.0);
    FPainter.drawImage(s, image.convertToFormat(QImage::Format_RGB32), s);
}

void TMetaEngine::AlphaBlend(const QRectF &dest, const QImage &image, const QRectF &src, int constantAlpha,
                             bool sourceAlpha)
{
    UpdateTransform();
    if (!FInvertible || image.isNull() || FInPath)
        return;
    QImage picture;
    if (sourceAlpha) {
        // The file holds premultiplied pixels; keep each channel within its alpha.
        picture = image.convertToFormat(QImage::Format_ARGB32);
        picture.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < picture.height(); ++y) {
            QRgb *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
            for (int x = 0; x < picture.width(); ++x) {
                const int a = qAlpha(line[x]);
                line[x] = qRgba(std::min(qRed(line[x]), a), std::min(qGreen(line[x]), a), std::min(qBlue(line[x]), a), a);
            }
        }
    } else {
        picture = image.convertToFormat(QImage::Format_RGB32);
    }
    QRectF s, d;
    if (!SourceInside(dest, src, QRectF(picture.rect()), s, d))
        return;
    FPainter.setOpacity(std::clamp(constantAlpha, 0, 255) / 255.0);
    DrawImageMapped(d, picture, s, QPainter::CompositionMode_SourceOver);
    FPainter.setOpacity(1.0);
}

void TMetaEngine::TransparentBlt(const QRectF &dest, const QImage &image, const QRectF &src, quint32 transparentRef)
{
    UpdateTransform();
    if (!FInvertible || image.isNull() || FInPath)
        return;
    QImage picture = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = Color(transparentRef).rgb() & 0xFFFFFF;
    for (int y = 0; y < picture.height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            if ((line[x] & 0xFFFFFF) == key)
                line[x] = 0;
            else
                line[x] |= 0xFF000000u;
        }
    }
    QRectF s, d;
    if (!SourceInside(dest, src, QRectF(picture.rect()), s, d))
        return;
    FPainter.setOpacity(1.0);
    DrawImageMapped(d, picture, s, QPainter::CompositionMode_SourceOver);
}

void TMetaEngine::PatBlt(const QRectF &r, quint32 rop)
{
    UpdateTransform();
    if (!FInvertible || FInPath)
        return;
    const QRegion region = LogicalRectRegion(r);
    switch (rop) {
    case Gdi::PATCOPY:
        if (FState.Brush.Kind != TMetaBrush::Null)
            FillCanvasRegion(region, MakeQBrush(FState.Brush, QTransform()), QPainter::CompositionMode_SourceOver);
        return;
    case Gdi::PATINVERT:
        if (FState.Brush.Kind != TMetaBrush::Null)
            FillCanvasRegion(region, MakeQBrush(FState.Brush, QTransform()), QPainter::RasterOp_SourceXorDestination);
        return;
    case Gdi::DSTINVERT:
        FillCanvasRegion(region, QBrush(Qt::black), QPainter::RasterOp_NotDestination);
        return;
    case Gdi::BLACKNESS:
        FillCanvasRegion(region, QBrush(Qt::black), QPainter::CompositionMode_SourceOver);
        return;
    case Gdi::WHITENESS:
        FillCanvasRegion(region, QBrush(Qt::white), QPainter::CompositionMode_SourceOver);
        return;
    case 0x00AA0029:    // the destination unchanged
        return;
    default:
        RopBlit(r, nullptr, QRectF(), nullptr, QPointF(), rop, rop);
        return;
    }
}

// Any raster operation, pixel by pixel: for every canvas pixel of the
// destination the source, pattern and destination bits are combined by the
// operation's truth table. Used for the operations the painter lacks; the
// mapping must keep axes upright (otherwise the source is simply copied).
void TMetaEngine::RopBlit(const QRectF &dest, const QImage *source, const QRectF &src, const QImage *mask,
                          QPointF maskOrigin, quint32 ropForeground, quint32 ropBackground)
{
    UpdateTransform();
    if (!FInvertible)
        return;
    const quint8 fore = quint8(ropForeground >> 16), back = quint8(ropBackground >> 16);
    if (!FAxisAligned) {
        if (source && !src.isEmpty())
            DrawImageMapped(dest, source->convertToFormat(QImage::Format_RGB32), src, QPainter::CompositionMode_SourceOver);
        return;
    }
    if ((RopUsesPattern(fore) || RopUsesPattern(back)) && FState.Brush.Kind == TMetaBrush::Null)
        return;
    const QPointF p0 = FTransform.map(dest.topLeft()), p1 = FTransform.map(dest.bottomRight());
    if (p0.x() == p1.x() || p0.y() == p1.y())
        return;
    QRegion area = LogicalRectRegion(dest) & QRegion(FCanvas.rect());
    if (const std::optional<QRegion> clip = EffectiveClip())
        area &= *clip;
    ChargeArea(area.boundingRect());

    // The pattern as a canvas-aligned image (one pixel for a solid brush).
    QImage pattern;
    const TMetaBrush &brush = FState.Brush;
    if (brush.Kind == TMetaBrush::Hatched)
        pattern = HatchImage(brush.Hatch, brush.Color).convertToFormat(QImage::Format_RGB32);
    else if (brush.Kind == TMetaBrush::Pattern)
        pattern = brush.PatternImage;
    const QRgb solid = brush.Color.rgb();
    const QPointF org = FDeviceToCanvas.map(FState.BrushOrg) - FDeviceToCanvas.map(QPointF(0, 0));
    const int ox = ClampRound(org.x()), oy = ClampRound(org.y());

    const QImage sourceImage = source ? source->convertToFormat(QImage::Format_RGB32) : QImage();
    const QImage maskImage = mask ? mask->convertToFormat(QImage::Format_RGB32) : QImage();
    for (const QRect &r : area) {
        for (int y = r.top(); y <= r.bottom(); ++y) {
            const double v = ((y + 0.5) - p0.y()) / (p1.y() - p0.y());
            uchar *line = FCanvas.scanLine(y);
            for (int x = r.left(); x <= r.right(); ++x) {
                const double u = ((x + 0.5) - p0.x()) / (p1.x() - p0.x());
                quint32 s = 0;
                bool maskBit = true;
                if (!sourceImage.isNull()) {
                    const int ix = int(std::clamp(std::floor(src.x() + u * src.width()), 0.0, sourceImage.width() - 1.0));
                    const int iy = int(std::clamp(std::floor(src.y() + v * src.height()), 0.0, sourceImage.height() - 1.0));
                    s = sourceImage.pixel(ix, iy) & 0xFFFFFF;
                }
                if (!maskImage.isNull()) {
                    const double mx = std::floor(maskOrigin.x() + u * src.width());
                    const double my = std::floor(maskOrigin.y() + v * src.height());
                    maskBit = mx >= 0 && my >= 0 && mx < maskImage.width() && my < maskImage.height()
                              && qGray(maskImage.pixel(int(mx), int(my))) >= 128;
                }
                quint32 p = solid & 0xFFFFFF;
                if (!pattern.isNull()) {
                    const int px = ((x - ox) % pattern.width() + pattern.width()) % pattern.width();
                    const int py = ((y - oy) % pattern.height() + pattern.height()) % pattern.height();
                    p = pattern.pixel(px, py) & 0xFFFFFF;
                }
                uchar *d = line + 3 * x;
                const quint32 dv = quint32(d[2]) << 16 | quint32(d[1]) << 8 | d[0];
                const quint32 result = TernaryRop(maskBit ? fore : back, p, s, dv);
                d[0] = uchar(result);
                d[1] = uchar(result >> 8);
                d[2] = uchar(result >> 16);
            }
        }
    }
}

void TMetaEngine::GradientFill(const QVector<TVertex> &vertices, const QVector<std::array<quint32, 3>> &parts, int mode)
{
    UpdateTransform();
    if (!FInvertible || FInPath)
        return;
    ChargePoints(vertices.size() + parts.size());
    auto vertex = [&vertices](quint32 i) -> const TVertex * {
        return i < quint32(vertices.size()) ? &vertices[i] : nullptr;
    };
    if (mode == 0 || mode == 1) {
        for (const auto &part : parts) {
            const TVertex *a = vertex(part[0]), *b = vertex(part[1]);
            if (!a || !b)
                continue;
            const QRectF r = QRectF(a->Pos, b->Pos).normalized();
            QLinearGradient gradient = mode == 0 ? QLinearGradient(a->Pos.x(), 0, b->Pos.x(), 0)
                                                 : QLinearGradient(0, a->Pos.y(), 0, b->Pos.y());
            gradient.setColorAt(0, a->Color);
            gradient.setColorAt(1, b->Color);
            ChargeLogical(r);
            ApplyClip();
            FPainter.setTransform(FTransform);
            FPainter.setCompositionMode(QPainter::CompositionMode_SourceOver);
            FPainter.setOpacity(1.0);
            FPainter.fillRect(r, gradient);
        }
        return;
    }
    if (mode != 2)
        return;
    for (const auto &part : parts) {
        const TVertex *v[3] = {vertex(part[0]), vertex(part[1]), vertex(part[2])};
        if (!v[0] || !v[1] || !v[2])
            continue;
        QPointF c[3];
        for (int i = 0; i < 3; ++i)
            c[i] = FTransform.map(v[i]->Pos);
        const QRectF bounds = QPolygonF({c[0], c[1], c[2]}).boundingRect().intersected(QRectF(FCanvas.rect()));
        if (bounds.isEmpty())
            continue;
        ChargeArea(bounds);
        const QRect box = bounds.toAlignedRect().intersected(FCanvas.rect());
        const double area = (c[1].x() - c[0].x()) * (c[2].y() - c[0].y()) - (c[2].x() - c[0].x()) * (c[1].y() - c[0].y());
        if (std::fabs(area) < 1e-9)
            continue;
        QImage shade(box.size(), QImage::Format_ARGB32);
        shade.fill(Qt::transparent);
        for (int y = 0; y < box.height(); ++y) {
            QRgb *line = reinterpret_cast<QRgb *>(shade.scanLine(y));
            for (int x = 0; x < box.width(); ++x) {
                const QPointF p(box.x() + x + 0.5, box.y() + y + 0.5);
                double w[3];
                for (int i = 0; i < 3; ++i) {
                    const QPointF &a = c[(i + 1) % 3], &b = c[(i + 2) % 3];
                    w[i] = ((b.x() - a.x()) * (p.y() - a.y()) - (p.x() - a.x()) * (b.y() - a.y())) / area;
                }
                if (w[0] < 0 || w[1] < 0 || w[2] < 0)
                    continue;
                double rgb[3] = {0, 0, 0};
                for (int i = 0; i < 3; ++i) {
                    rgb[0] += w[i] * v[i]->Color.red();
                    rgb[1] += w[i] * v[i]->Color.green();
                    rgb[2] += w[i] * v[i]->Color.blue();
                }
                line[x] = qRgb(std::clamp(int(rgb[0]), 0, 255), std::clamp(int(rgb[1]), 0, 255),
                               std::clamp(int(rgb[2]), 0, 255));
            }
        }
        ApplyClip();
        FPainter.resetTransform();
        FPainter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        FPainter.setOpacity(1.0);
        FPainter.drawImage(box.topLeft(), shade);
    }
}
