// TMetaEngine: set-up and work limits, embedded bitmaps, colours, mapping
// (world transform, window, viewport) and the plain state of the device
// context. Objects, clipping, drawing, text and bitmaps are in the other
// Meta*.cpp files; what several of them need is in MetaEngineInternal.h.

#include "MetaEngine.h"
#include "MetaEngineInternal.h"

// Local
#include "AppError.h"
#include "BmpDecoder.h"

// Std
#include <algorithm>
#include <cmath>

using namespace MetaEngineInternal;

namespace {

// The work allowed per file: a number of full covers of the canvas plus a
// fixed amount, never more than an absolute ceiling.
constexpr qint64 kWorkPerCanvas = MetaWorkLimit(64);
constexpr qint64 kWorkBase = MetaWorkLimit(qint64(1) << 26);
constexpr qint64 kWorkCeiling = MetaWorkLimit(qint64(1) << 32);

// The twenty colours of the default palette.
constexpr QRgb kDefaultPalette[20] = {
    0xff000000, 0xff800000, 0xff008000, 0xff808000, 0xff000080, 0xff800080, 0xff008080,
    0xffc0c0c0, 0xffc0dcc0, 0xffa6caf0, 0xfffffbf0, 0xffa0a0a4, 0xff808080, 0xffff0000,
    0xff00ff00, 0xffffff00, 0xff0000ff, 0xffff00ff, 0xff00ffff, 0xffffffff,
};

} // namespace

TMetaEngine::TMetaEngine(QImage &canvas, const QTransform &deviceToCanvas, QPointF devicePerMm)
    : FCanvas(canvas), FDeviceToCanvas(deviceToCanvas), FDevicePerMm(devicePerMm)
{
    FPainter.begin(&FCanvas);
    FPainter.setRenderHint(QPainter::Antialiasing, false);
    FPainter.setRenderHint(QPainter::TextAntialiasing, true);
    const qint64 area = qint64(canvas.width()) * canvas.height();
    FWorkLimit = std::min(kWorkPerCanvas * area + kWorkBase, kWorkCeiling);
}

TMetaEngine::~TMetaEngine()
{
    FPainter.end();
}

void TMetaEngine::CountRecord()
{
    if (++FRecords > kMaxRecords)
        throw TMetaStop();
}

void TMetaEngine::ChargePoints(qint64 count)
{
    FPoints += std::max<qint64>(count, 0);
    FWork += std::max<qint64>(count, 0);
    if (FPoints > kMaxPoints || FWork > FWorkLimit)
        throw TMetaStop();
}

void TMetaEngine::ChargeWork(qint64 work)
{
    FWork += work;
    if (FWork > FWorkLimit)
        throw TMetaStop();
}

void TMetaEngine::ChargeArea(const QRectF &canvasBounds)
{
    qint64 area = 1;
    if (std::isfinite(canvasBounds.left()) && std::isfinite(canvasBounds.top()) && std::isfinite(canvasBounds.right())
        && std::isfinite(canvasBounds.bottom())) {
        const QRectF r = canvasBounds.normalized().adjusted(-1, -1, 1, 1).intersected(QRectF(FCanvas.rect()));
        if (!r.isEmpty())
            area += qint64(r.width()) * qint64(r.height());
    }
    FWork += area;
    if (FWork > FWorkLimit)
        throw TMetaStop();
}

void TMetaEngine::ChargeLogical(const QRectF &logicalBounds)
{
    UpdateTransform();
    ChargeArea(FTransform.mapRect(logicalBounds.normalized()));
}

bool TMetaEngine::AcceptBitmap(qint64 width, qint64 height)
{
    if (width <= 0 || height <= 0 || width > kMaxBitmapPixels || height > kMaxBitmapPixels
        || width * height > kMaxBitmapPixels)
        return false;
    FWork += width * height;
    if (FWork > FWorkLimit)
        throw TMetaStop();
    return true;
}

std::optional<TMetaBitmap> TMetaEngine::DecodeBitmap(QByteArrayView info, QByteArrayView bits, quint32 usage,
                                                     bool keepAlpha, bool packed)
{
    const TMetaBytes header(info.data(), info.size());
    if (!header.Has(0, 12))
        return std::nullopt;
    const quint32 headerSize = header.U32(0);
    qint64 width = 0, height = 0, colorsUsed = 0;
    int bitCount = 0;
    if (headerSize == 12) {
        width = header.U16(4);
        height = header.S16(6);
        bitCount = header.U16(10);
    } else if (headerSize >= 40 && header.Has(0, 40)) {
        width = header.S32(4);
        height = header.S32(8);
        bitCount = header.U16(14);
        colorsUsed = header.U32(32);
    } else {
        return std::nullopt;
    }
    if (!AcceptBitmap(std::llabs(width), std::llabs(height)))
        return std::nullopt;
    QByteArray data = info.toByteArray();
    if (usage == 1 && bitCount <= 8 && headerSize >= 40) {
        const qint64 entries = colorsUsed > 0 ? std::min<qint64>(colorsUsed, 256) : (qint64(1) << bitCount);
        if (!header.Has(headerSize, entries * 2))
            return std::nullopt;
        QByteArray table;
        for (qint64 i = 0; i < entries; ++i) {
            const QRgb rgb = PaletteColor(header.U16(headerSize + i * 2));
            table.append(char(qBlue(rgb))).append(char(qGreen(rgb))).append(char(qRed(rgb))).append('\0');
        }
        data = data.left(headerSize) + table + (packed ? data.mid(headerSize + entries * 2) : QByteArray());
    }
    try {
        TMetaBitmap bitmap;
        bitmap.Image = packed ? DecodePackedDib(data, keepAlpha) : DecodeDib(data, bits, keepAlpha);
        bitmap.BottomUp = height > 0;
        return bitmap;
    } catch (const AppError &) {
        return std::nullopt;
    }
}

void TMetaEngine::InitMapping(int mapMode, QPointF windowOrg, QPointF windowExt, QPointF viewportOrg,
                              QPointF viewportExt)
{
    FState.MapMode = mapMode;
    FState.WindowOrg = windowOrg;
    FState.WindowExt = windowExt;
    FState.ViewportOrg = viewportOrg;
    FState.ViewportExt = viewportExt;
    FTransformDirty = true;
}

QRgb TMetaEngine::PaletteColor(int index) const
{
    if (!FState.Palette.isEmpty())
        return index >= 0 && index < FState.Palette.size() ? FState.Palette[index] : FState.Palette[0];
    return index >= 0 && index < 20 ? kDefaultPalette[index] : kDefaultPalette[0];
}

QColor TMetaEngine::Color(quint32 colorRef) const
{
    if ((colorRef >> 24) == 1)
        return QColor::fromRgb(PaletteColor(int(colorRef & 0xFFFF)));
    return QColor(int(colorRef & 0xFF), int((colorRef >> 8) & 0xFF), int((colorRef >> 16) & 0xFF));
}

void TMetaEngine::UpdateTransform()
{
    if (!FTransformDirty)
        return;
    FTransformDirty = false;
    const TDcState &s = FState;
    double sx = 1, sy = 1;
    if (s.MapMode != Gdi::MM_TEXT) {
        sx = s.ViewportExt.x() / s.WindowExt.x();
        sy = s.ViewportExt.y() / s.WindowExt.y();
        if (s.MapMode == Gdi::MM_ISOTROPIC) {
            const double m = std::min(std::fabs(sx), std::fabs(sy));
            sx = std::copysign(m, sx);
            sy = std::copysign(m, sy);
        }
    }
    const QTransform page(sx, 0, 0, sy, s.ViewportOrg.x() - s.WindowOrg.x() * sx,
                          s.ViewportOrg.y() - s.WindowOrg.y() * sy);
    FTransform = s.World * page * FDeviceToCanvas;
    FInvertible = false;
    if (Finite(FTransform)) {
        const double det = FTransform.m11() * FTransform.m22() - FTransform.m12() * FTransform.m21();
        if (std::isfinite(det) && std::fabs(det) > 1e-18) {
            bool ok = false;
            FInverse = FTransform.inverted(&ok);
            FInvertible = ok && Finite(FInverse);
        }
    }
    const double scale = std::fabs(FTransform.m11()) + std::fabs(FTransform.m22());
    FAxisAligned = std::fabs(FTransform.m12()) <= 1e-9 * scale && std::fabs(FTransform.m21()) <= 1e-9 * scale;
}

QPointF TMetaEngine::Map(QPointF p) const
{
    return FTransform.map(p);
}

double TMetaEngine::DeviceScale() const
{
    return std::sqrt(std::fabs(FTransform.m11() * FTransform.m22() - FTransform.m12() * FTransform.m21()));
}

void TMetaEngine::SetMapMode(int mode)
{
    if (mode < Gdi::MM_TEXT || mode > Gdi::MM_ANISOTROPIC)
        return;
    TDcState &s = FState;
    s.MapMode = mode;
    double unitsPerMm = 0;
    switch (mode) {
    case Gdi::MM_TEXT:
        s.WindowExt = s.ViewportExt = QPointF(1, 1);
        break;
    case Gdi::MM_LOMETRIC: unitsPerMm = 10; break;
    case Gdi::MM_HIMETRIC: unitsPerMm = 100; break;
    case Gdi::MM_LOENGLISH: unitsPerMm = 100 / 25.4; break;
    case Gdi::MM_HIENGLISH: unitsPerMm = 1000 / 25.4; break;
    case Gdi::MM_TWIPS: unitsPerMm = 1440 / 25.4; break;
    default: break;    // isotropic and anisotropic keep the extents they had
    }
    if (unitsPerMm > 0) {
        s.WindowExt = QPointF(unitsPerMm, unitsPerMm);
        s.ViewportExt = QPointF(FDevicePerMm.x(), -FDevicePerMm.y());
    }
    FTransformDirty = true;
}

void TMetaEngine::SetWindowOrg(QPointF p)
{
    FState.WindowOrg = p;
    FTransformDirty = true;
}

void TMetaEngine::SetViewportOrg(QPointF p)
{
    FState.ViewportOrg = p;
    FTransformDirty = true;
}

void TMetaEngine::OffsetWindowOrg(QPointF d)
{
    FState.WindowOrg += d;
    FTransformDirty = true;
}

void TMetaEngine::OffsetViewportOrg(QPointF d)
{
    FState.ViewportOrg += d;
    FTransformDirty = true;
}

// Extents only count in the two scalable modes, and never become zero.
void TMetaEngine::SetWindowExt(QPointF e)
{
    if (FState.MapMode < Gdi::MM_ISOTROPIC || e.x() == 0 || e.y() == 0)
        return;
    FState.WindowExt = e;
    FTransformDirty = true;
}

void TMetaEngine::SetViewportExt(QPointF e)
{
    if (FState.MapMode < Gdi::MM_ISOTROPIC || e.x() == 0 || e.y() == 0)
        return;
    FState.ViewportExt = e;
    FTransformDirty = true;
}

void TMetaEngine::ScaleWindowExt(double xNum, double xDenom, double yNum, double yDenom)
{
    if (xDenom == 0 || yDenom == 0)
        return;
    SetWindowExt(QPointF(FState.WindowExt.x() * xNum / xDenom, FState.WindowExt.y() * yNum / yDenom));
}

void TMetaEngine::ScaleViewportExt(double xNum, double xDenom, double yNum, double yDenom)
{
    if (xDenom == 0 || yDenom == 0)
        return;
    SetViewportExt(QPointF(FState.ViewportExt.x() * xNum / xDenom, FState.ViewportExt.y() * yNum / yDenom));
}

void TMetaEngine::SetWorldTransform(const QTransform &t)
{
    if (!Finite(t))
        return;
    FState.World = t;
    FTransformDirty = true;
}

void TMetaEngine::ModifyWorldTransform(const QTransform &t, int mode)
{
    switch (mode) {
    case 1:  // identity
        FState.World = QTransform();
        break;
    case 2:  // the new transform applies first
        if (Finite(t) && Finite(t * FState.World))
            FState.World = t * FState.World;
        break;
    case 3:  // the new transform applies last
        if (Finite(t) && Finite(FState.World * t))
            FState.World = FState.World * t;
        break;
    case 4:
        SetWorldTransform(t);
        break;
    default:
        return;
    }
    FTransformDirty = true;
}

void TMetaEngine::SaveDc()
{
    if (int(FSaved.size()) >= kMaxSavedStates)
        throw TMetaStop();
    FSaved.push_back(FState);
}

// A negative number goes back that many saved states; a positive one goes
// back to the state with that number (the first save is 1).
void TMetaEngine::RestoreDc(int which)
{
    const qint64 count = qint64(FSaved.size());
    const qint64 target = which < 0 ? count + which : qint64(which) - 1;
    if (which == 0 || target < 0 || target >= count)
        return;
    FState = FSaved[size_t(target)];
    FSaved.resize(size_t(target));
    FTransformDirty = true;
    FClipDirty = true;
}

void TMetaEngine::SetBkMode(int mode)
{
    if (mode == 1 || mode == 2)
        FState.BkOpaque = mode == 2;
}

void TMetaEngine::SetBkColor(quint32 colorRef) { FState.BkColor = Color(colorRef); }
void TMetaEngine::SetTextColor(quint32 colorRef) { FState.TextColor = Color(colorRef); }
void TMetaEngine::SetTextAlign(quint32 align) { FState.TextAlign = align; }

void TMetaEngine::SetPolyFillMode(int mode)
{
    if (mode == 1 || mode == 2)
        FState.Winding = mode == 2;
}

void TMetaEngine::SetRop2(int rop)
{
    if (rop >= 1 && rop <= 16)
        FState.Rop2 = rop;
}

void TMetaEngine::SetStretchBltMode(int mode) { FState.StretchMode = mode; }

void TMetaEngine::SetArcDirection(int direction)
{
    if (direction == 1 || direction == 2)
        FState.Clockwise = direction == 2;
}

void TMetaEngine::SetMiterLimit(double limit)
{
    if (std::isfinite(limit) && limit >= 1 && limit <= 1000)
        FState.MiterLimit = limit;
}

void TMetaEngine::SetBrushOrg(QPointF p) { FState.BrushOrg = p; }

void TMetaEngine::SetTextCharExtra(double extra)
{
    if (std::isfinite(extra) && std::fabs(extra) < 1e6)
        FState.CharExtra = extra;
}

void TMetaEngine::SetTextJustification(double breakExtra, int breakCount)
{
    if (!std::isfinite(breakExtra) || std::fabs(breakExtra) > 1e6)
        return;
    FState.BreakExtra = breakCount > 0 ? breakExtra : 0;
    FState.BreakCount = std::max(breakCount, 0);
}

QPainter &TMetaEngine::BeginForeignDrawing()
{
    FPainter.save();
    FPainter.resetTransform();
    FPainter.setClipping(false);
    FPainter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    FPainter.setOpacity(1.0);
    return FPainter;
}

void TMetaEngine::EndForeignDrawing()
{
    FPainter.restore();
    FClipDirty = true;
}
