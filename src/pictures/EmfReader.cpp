#include "EmfReader.h"

// Local
#include "AppError.h"
#include "EmfPlusReader.h"
#include "MetaEngine.h"

// Std
#include <cmath>
#include <new>
#include <optional>

namespace {

enum : quint32 {
    EMR_HEADER = 1, EMR_POLYBEZIER = 2, EMR_POLYGON = 3, EMR_POLYLINE = 4, EMR_POLYBEZIERTO = 5,
    EMR_POLYLINETO = 6, EMR_POLYPOLYLINE = 7, EMR_POLYPOLYGON = 8, EMR_SETWINDOWEXTEX = 9,
    EMR_SETWINDOWORGEX = 10, EMR_SETVIEWPORTEXTEX = 11, EMR_SETVIEWPORTORGEX = 12, EMR_SETBRUSHORGEX = 13,
    EMR_EOF = 14, EMR_SETPIXELV = 15, EMR_SETMAPMODE = 17, EMR_SETBKMODE = 18,
    EMR_SETPOLYFILLMODE = 19, EMR_SETROP2 = 20, EMR_SETSTRETCHBLTMODE = 21, EMR_SETTEXTALIGN = 22,
    EMR_SETTEXTCOLOR = 24, EMR_SETBKCOLOR = 25, EMR_OFFSETCLIPRGN = 26, EMR_MOVETOEX = 27,
    EMR_SETMETARGN = 28, EMR_EXCLUDECLIPRECT = 29, EMR_INTERSECTCLIPRECT = 30, EMR_SCALEVIEWPORTEXTEX = 31,
    EMR_SCALEWINDOWEXTEX = 32, EMR_SAVEDC = 33, EMR_RESTOREDC = 34, EMR_SETWORLDTRANSFORM = 35,
    EMR_MODIFYWORLDTRANSFORM = 36, EMR_SELECTOBJECT = 37, EMR_CREATEPEN = 38, EMR_CREATEBRUSHINDIRECT = 39,
    EMR_DELETEOBJECT = 40, EMR_ANGLEARC = 41, EMR_ELLIPSE = 42, EMR_RECTANGLE = 43, EMR_ROUNDRECT = 44,
    EMR_ARC = 45, EMR_CHORD = 46, EMR_PIE = 47, EMR_SELECTPALETTE = 48, EMR_CREATEPALETTE = 49,
    EMR_SETPALETTEENTRIES = 50, EMR_RESIZEPALETTE = 51, EMR_EXTFLOODFILL = 53, EMR_LINETO = 54,
    EMR_ARCTO = 55, EMR_POLYDRAW = 56, EMR_SETARCDIRECTION = 57, EMR_SETMITERLIMIT = 58, EMR_BEGINPATH = 59,
    EMR_ENDPATH = 60, EMR_CLOSEFIGURE = 61, EMR_FILLPATH = 62, EMR_STROKEANDFILLPATH = 63,
    EMR_STROKEPATH = 64, EMR_FLATTENPATH = 65, EMR_WIDENPATH = 66, EMR_SELECTCLIPPATH = 67,
    EMR_ABORTPATH = 68, EMR_FILLRGN = 71, EMR_FRAMERGN = 72, EMR_INVERTRGN = 73, EMR_PAINTRGN = 74,
    EMR_EXTSELECTCLIPRGN = 75, EMR_BITBLT = 76, EMR_STRETCHBLT = 77, EMR_MASKBLT = 78, EMR_PLGBLT = 79,
    EMR_SETDIBITSTODEVICE = 80, EMR_STRETCHDIBITS = 81, EMR_EXTCREATEFONTINDIRECTW = 82,
    EMR_EXTTEXTOUTA = 83, EMR_EXTTEXTOUTW = 84, EMR_POLYBEZIER16 = 85, EMR_POLYGON16 = 86,
    EMR_POLYLINE16 = 87, EMR_POLYBEZIERTO16 = 88, EMR_POLYLINETO16 = 89, EMR_POLYPOLYLINE16 = 90,
    EMR_POLYPOLYGON16 = 91, EMR_POLYDRAW16 = 92, EMR_CREATEMONOBRUSH = 93, EMR_CREATEDIBPATTERNBRUSHPT = 94,
    EMR_EXTCREATEPEN = 95, EMR_POLYTEXTOUTA = 96, EMR_POLYTEXTOUTW = 97, EMR_SMALLTEXTOUT = 108,
    EMR_CREATECOLORSPACE = 99, EMR_ALPHABLEND = 114, EMR_TRANSPARENTBLT = 116, EMR_GRADIENTFILL = 118,
    EMR_SETTEXTJUSTIFICATION = 120, EMR_CREATECOLORSPACEW = 122,
};

constexpr quint32 kSignature = 0x464D4520;   // " EMF"

[[noreturn]] void NotValid()
{
    throw AppError(QStringLiteral("Metafile is not valid"));
}

QPointF PointL(const TMetaBytes &r, qint64 off)
{
    return QPointF(r.S32(off), r.S32(off + 4));
}

QRectF RectL(const TMetaBytes &r, qint64 off)
{
    return QRectF(PointL(r, off), PointL(r, off + 8));
}

QTransform XForm(const TMetaBytes &r, qint64 off)
{
    return QTransform(r.F32(off), r.F32(off + 4), r.F32(off + 8), r.F32(off + 12), r.F32(off + 16), r.F32(off + 20));
}

class TEmfPlayer
{
public:
    explicit TEmfPlayer(TMetaEngine &engine) : FEngine(engine) {}
    // Plays one record whose size fits the file. A record whose contents
    // cannot be used is skipped; one that should have made an object leaves
    // an empty one at its index, so that no older object stands in for it.
    void PlayRecord(quint32 type, const TMetaBytes &r);

private:
    void Play(quint32 type, const TMetaBytes &r);
    QPolygonF Points(const TMetaBytes &r, qint64 countOffset, qint64 pointsOffset, bool small);
    QVector<QPolygonF> PolyPoints(const TMetaBytes &r, bool small);
    void PolyDraw(const TMetaBytes &r, bool small);
    std::optional<TMetaBitmap> Dib(const TMetaBytes &r, qint64 fieldsOffset, quint32 usage, bool keepAlpha = false);
    std::optional<TMetaRegion> Region(const TMetaBytes &r, qint64 sizeOffset, qint64 dataOffset);
    void CreateFont(const TMetaBytes &r);
    void CreateExtPen(const TMetaBytes &r);
    void CreatePalette(const TMetaBytes &r);
    void DibBrush(const TMetaBytes &r, bool mono);
    void Text(const TMetaBytes &r, qint64 emrText, bool wide);
    void SmallText(const TMetaBytes &r);
    void Blit(const TMetaBytes &r, quint32 type);
    void StretchDibits(const TMetaBytes &r);
    void SetDibitsToDevice(const TMetaBytes &r);
    void MaskBlt(const TMetaBytes &r);
    void PlgBlt(const TMetaBytes &r);
    void Gradient(const TMetaBytes &r);

    TMetaEngine &FEngine;
};

QPolygonF TEmfPlayer::Points(const TMetaBytes &r, qint64 countOffset, qint64 pointsOffset, bool small)
{
    const qint64 count = r.U32(countOffset);
    const qint64 size = small ? 4 : 8;
    r.Need(pointsOffset, count * size);
    FEngine.ChargePoints(count);
    QPolygonF points;
    points.reserve(count);
    for (qint64 i = 0; i < count; ++i) {
        const qint64 off = pointsOffset + i * size;
        points << (small ? QPointF(r.S16(off), r.S16(off + 2)) : PointL(r, off));
    }
    return points;
}

// Poly-polylines and poly-polygons: the counts per figure, then all points.
QVector<QPolygonF> TEmfPlayer::PolyPoints(const TMetaBytes &r, bool small)
{
    const qint64 figures = r.U32(24);
    const qint64 total = r.U32(28);
    const qint64 size = small ? 4 : 8;
    r.Need(32, figures * 4);
    const qint64 pointsOffset = 32 + figures * 4;
    r.Need(pointsOffset, total * size);
    FEngine.ChargePoints(figures + total);
    QVector<QPolygonF> polygons;
    polygons.reserve(figures);
    qint64 next = 0;
    for (qint64 f = 0; f < figures; ++f) {
        const qint64 count = r.U32(32 + f * 4);
        if (count > total - next)
            throw TMetaBadRecord();
        QPolygonF poly;
        poly.reserve(count);
        for (qint64 i = 0; i < count; ++i, ++next) {
            const qint64 off = pointsOffset + next * size;
            poly << (small ? QPointF(r.S16(off), r.S16(off + 2)) : PointL(r, off));
        }
        polygons << poly;
    }
    return polygons;
}

void TEmfPlayer::PolyDraw(const TMetaBytes &r, bool small)
{
    const QPolygonF points = Points(r, 24, 28, small);
    const qint64 typesOffset = 28 + qint64(points.size()) * (small ? 4 : 8);
    const QByteArray types = r.View(typesOffset, points.size()).toByteArray();
    FEngine.PolyDraw(points, types);
}

// The bitmap of a record: header and colour table at one offset, rows at
// another, both inside the record.
std::optional<TMetaBitmap> TEmfPlayer::Dib(const TMetaBytes &r, qint64 fieldsOffset, quint32 usage, bool keepAlpha)
{
    const qint64 offBmi = r.U32(fieldsOffset), cbBmi = r.U32(fieldsOffset + 4);
    const qint64 offBits = r.U32(fieldsOffset + 8), cbBits = r.U32(fieldsOffset + 12);
    if (cbBmi == 0)
        return std::nullopt;
    return FEngine.DecodeBitmap(r.View(offBmi, cbBmi), r.View(offBits, cbBits), usage, keepAlpha, false);
}

// Region data: a header (size, type, count, size, bounds) and the
// rectangles, in device units.
std::optional<TMetaRegion> TEmfPlayer::Region(const TMetaBytes &r, qint64 sizeOffset, qint64 dataOffset)
{
    const qint64 size = r.U32(sizeOffset);
    if (size == 0)
        return std::nullopt;
    r.Need(dataOffset, size);
    const TMetaBytes data(r.View(dataOffset, size).data(), size);
    const qint64 headerSize = data.U32(0);
    const qint64 count = data.U32(8);
    if (headerSize < 32)
        throw TMetaBadRecord();
    data.Need(headerSize, count * 16);
    FEngine.ChargePoints(count);
    QVector<QRect> rects;
    rects.reserve(count);
    for (qint64 i = 0; i < count; ++i) {
        const qint64 off = headerSize + i * 16;
        const qint64 l = data.S32(off), t = data.S32(off + 4), rr = data.S32(off + 8), b = data.S32(off + 12);
        const qint64 limit = qint64(1) << 28;
        if (rr > l && b > t && l > -limit && t > -limit && rr < limit && b < limit)
            rects << QRect(int(l), int(t), int(rr - l), int(b - t));
    }
    TMetaRegion region;
    region.DeviceUnits = true;
    for (const QRect &rect : rects)
        region.Region += rect;
    return region;
}

void TEmfPlayer::CreateFont(const TMetaBytes &r)
{
    TMetaFont font;
    font.Height = r.S32(12);
    font.Width = r.S32(16);
    font.Escapement = r.S32(20);
    font.Weight = r.S32(28);
    font.Italic = r.U8(32);
    font.Underline = r.U8(33);
    font.StrikeOut = r.U8(34);
    font.Charset = r.U8(35);
    font.PitchAndFamily = r.U8(39);
    QString face;
    for (qint64 off = 40; off + 2 <= std::min<qint64>(r.Size(), 104); off += 2) {
        const char16_t ch = r.U16(off);
        if (ch == 0)
            break;
        face += QChar(ch);
    }
    font.Face = face;
    FEngine.StoreObject(r.U32(8), font);
}

void TEmfPlayer::CreateExtPen(const TMetaBytes &r)
{
    const quint32 style = r.U32(28);
    const double width = r.U32(32);
    const quint32 brushStyle = r.U32(36);
    const QColor color = FEngine.Color(r.U32(40));
    const qint64 entries = r.U32(48);
    QVector<qreal> dashes;
    if ((style & 0xF) == Gdi::PS_USERSTYLE) {
        r.Need(52, entries * 4);
        for (qint64 i = 0; i < entries && i < 32; ++i)
            dashes << r.U32(52 + i * 4);
    }
    TMetaPen pen = TMetaEngine::PenFromExtPen(style, width, color, dashes);
    if (brushStyle == Gdi::BS_NULL)
        pen.Style = Gdi::PS_NULL;
    FEngine.StoreObject(r.U32(8), pen);
}

void TEmfPlayer::CreatePalette(const TMetaBytes &r)
{
    const qint64 count = r.U16(14);
    r.Need(16, count * 4);
    TMetaPalette palette;
    for (qint64 i = 0; i < count; ++i)
        palette.Entries << qRgb(r.U8(16 + i * 4), r.U8(17 + i * 4), r.U8(18 + i * 4));
    FEngine.StoreObject(r.U32(8), palette);
}

void TEmfPlayer::DibBrush(const TMetaBytes &r, bool mono)
{
    const std::optional<TMetaBitmap> bitmap = Dib(r, 16, r.U32(12));
    if (!bitmap) {
        FEngine.StoreObject(r.U32(8), TMetaEngine::PatternBrush(QImage(), false));
        return;
    }
    FEngine.StoreObject(r.U32(8), TMetaEngine::PatternBrush(bitmap->Image, mono));
}

// One EmrText: reference point, character count, string offset, options,
// an optional rectangle and the offset of the advances (all offsets from
// the record's start).
void TEmfPlayer::Text(const TMetaBytes &r, qint64 at, bool wide)
{
    TMetaText text;
    text.Ref = PointL(r, at);
    const qint64 chars = std::min<qint64>(r.U32(at + 8), TMetaEngine::kMaxTextLength);
    const qint64 offString = r.U32(at + 12);
    text.Options = r.U32(at + 16);
    qint64 next = at + 20;
    if (!(text.Options & Gdi::ETO_NO_RECT)) {
        text.Rect = RectL(r, next);
        next += 16;
    }
    const qint64 offDx = r.U32(next);
    if (chars > 0) {
        const QByteArrayView bytes = r.View(offString, chars * (wide ? 2 : 1));
        QVector<int> bytesPerChar;
        if (wide) {
            QString s(chars, Qt::Uninitialized);
            for (qint64 i = 0; i < chars; ++i)
                s[i] = QChar(char16_t(quint8(bytes[2 * i]) | quint8(bytes[2 * i + 1]) << 8));
            text.Text = s;
            bytesPerChar.fill(1, chars);
        } else {
            text.Text = FEngine.DecodeAnsi(bytes, &bytesPerChar);
        }
        const int step = (text.Options & Gdi::ETO_PDY) ? 2 : 1;
        if (offDx > 0 && r.Has(offDx, chars * 4 * step)) {
            QVector<double> dx;
            for (qint64 i = 0; i < chars; ++i)
                dx << r.S32(offDx + i * 4 * step);
            text.Dx = TMetaEngine::AdvancesPerChar(dx, bytesPerChar);
        }
    }
    FEngine.TextOut(text);
}

void TEmfPlayer::SmallText(const TMetaBytes &r)
{
    TMetaText text;
    text.Ref = PointL(r, 8);
    const qint64 chars = std::min<qint64>(r.U32(16), TMetaEngine::kMaxTextLength);
    text.Options = r.U32(20);
    qint64 next = 36;
    if (!(text.Options & Gdi::ETO_NO_RECT)) {
        text.Rect = RectL(r, next);
        next += 16;
    }
    if (text.Options & Gdi::ETO_SMALL_CHARS) {
        text.Text = FEngine.DecodeAnsi(r.View(next, chars));
    } else {
        r.Need(next, chars * 2);
        for (qint64 i = 0; i < chars; ++i)
            text.Text += QChar(char16_t(r.U16(next + i * 2)));
    }
    FEngine.TextOut(text);
}

// BitBlt and StretchBlt: a destination rectangle, a raster operation and,
// unless the operation needs no source, the source bitmap and rectangle.
void TEmfPlayer::Blit(const TMetaBytes &r, quint32 type)
{
    const QRectF dest(r.S32(24), r.S32(28), r.S32(32), r.S32(36));
    const quint32 rop = r.U32(40);
    const double xSrc = r.S32(44), ySrc = r.S32(48);
    const quint32 usage = r.U32(80);
    std::optional<TMetaBitmap> bitmap;
    if (r.U32(88) != 0)
        bitmap = Dib(r, 84, usage);
    if (!bitmap) {
        if (r.U32(88) == 0)
            FEngine.PatBlt(dest, rop);
        return;
    }
    QSizeF srcSize = dest.size();
    if (type == EMR_STRETCHBLT)
        srcSize = QSizeF(r.S32(100), r.S32(104));
    // The source is the bitmap of a device context: its rows run top down.
    FEngine.DrawBitmap(dest, bitmap->Image, QRectF(QPointF(xSrc, ySrc), srcSize), rop);
}

// Rows of a bottom-up DIB are counted from its last row upwards.
QRectF DibSourceRect(const TMetaBitmap &bitmap, double x, double y, double w, double h)
{
    if (bitmap.BottomUp)
        return QRectF(x, bitmap.Image.height() - y - h, w, h);
    return QRectF(x, y, w, h);
}

void TEmfPlayer::StretchDibits(const TMetaBytes &r)
{
    const std::optional<TMetaBitmap> bitmap = Dib(r, 48, r.U32(64));
    if (!bitmap)
        return;
    const QRectF dest(r.S32(24), r.S32(28), r.S32(72), r.S32(76));
    const QRectF src = DibSourceRect(*bitmap, r.S32(32), r.S32(36), r.S32(40), r.S32(44));
    FEngine.DrawBitmap(dest, bitmap->Image, src, r.U32(68));
}

void TEmfPlayer::SetDibitsToDevice(const TMetaBytes &r)
{
    const std::optional<TMetaBitmap> bitmap = Dib(r, 48, r.U32(64));
    if (!bitmap)
        return;
    const double w = r.S32(40), h = r.S32(44);
    const QRectF dest(r.S32(24), r.S32(28), w, h);
    FEngine.DrawBitmap(dest, bitmap->Image, DibSourceRect(*bitmap, r.S32(32), r.S32(36), w, h), Gdi::SRCCOPY);
}

void TEmfPlayer::MaskBlt(const TMetaBytes &r)
{
    const QRectF dest(r.S32(24), r.S32(28), r.S32(32), r.S32(36));
    const quint32 rop4 = r.U32(40);
    const std::optional<TMetaBitmap> bitmap = r.U32(88) ? Dib(r, 84, r.U32(80)) : std::nullopt;
    const std::optional<TMetaBitmap> mask = r.U32(116) ? Dib(r, 112, r.U32(108)) : std::nullopt;
    const QRectF src(r.S32(44), r.S32(48), dest.width(), dest.height());
    FEngine.DrawBitmapMasked(dest, bitmap ? bitmap->Image : QImage(), src, mask ? mask->Image : QImage(),
                             QPointF(r.S32(100), r.S32(104)), rop4);
}

void TEmfPlayer::PlgBlt(const TMetaBytes &r)
{
    const std::optional<TMetaBitmap> bitmap = Dib(r, 96, r.U32(92));
    if (!bitmap)
        return;
    const QPointF dest[3] = {PointL(r, 24), PointL(r, 32), PointL(r, 40)};
    FEngine.DrawBitmapPlg(dest, bitmap->Image, QRectF(r.S32(48), r.S32(52), r.S32(56), r.S32(60)));
}

void TEmfPlayer::Gradient(const TMetaBytes &r)
{
    const qint64 vertices = r.U32(24), parts = r.U32(28);
    const int mode = int(r.U32(32));
    r.Need(36, vertices * 16);
    const qint64 partSize = mode == 2 ? 12 : 8;
    const qint64 partsOffset = 36 + vertices * 16;
    r.Need(partsOffset, parts * partSize);
    FEngine.ChargePoints(vertices + parts);
    QVector<TMetaEngine::TVertex> v;
    v.reserve(vertices);
    for (qint64 i = 0; i < vertices; ++i) {
        const qint64 off = 36 + i * 16;
        v << TMetaEngine::TVertex{PointL(r, off),
                                  QColor(r.U16(off + 8) >> 8, r.U16(off + 10) >> 8, r.U16(off + 12) >> 8)};
    }
    QVector<std::array<quint32, 3>> p;
    p.reserve(parts);
    for (qint64 i = 0; i < parts; ++i) {
        const qint64 off = partsOffset + i * partSize;
        p << std::array<quint32, 3>{r.U32(off), r.U32(off + 4), mode == 2 ? r.U32(off + 8) : 0u};
    }
    FEngine.GradientFill(v, p, mode);
}

void TEmfPlayer::Play(quint32 type, const TMetaBytes &r)
{
    TMetaEngine &e = FEngine;
    switch (type) {
    case EMR_POLYBEZIER: e.PolyBezier(Points(r, 24, 28, false)); break;
    case EMR_POLYGON: e.Polygon(Points(r, 24, 28, false)); break;
    case EMR_POLYLINE: e.Polyline(Points(r, 24, 28, false)); break;
    case EMR_POLYBEZIERTO: e.PolyBezierTo(Points(r, 24, 28, false)); break;
    case EMR_POLYLINETO: e.PolylineTo(Points(r, 24, 28, false)); break;
    case EMR_POLYBEZIER16: e.PolyBezier(Points(r, 24, 28, true)); break;
    case EMR_POLYGON16: e.Polygon(Points(r, 24, 28, true)); break;
    case EMR_POLYLINE16: e.Polyline(Points(r, 24, 28, true)); break;
    case EMR_POLYBEZIERTO16: e.PolyBezierTo(Points(r, 24, 28, true)); break;
    case EMR_POLYLINETO16: e.PolylineTo(Points(r, 24, 28, true)); break;
    case EMR_POLYPOLYLINE: e.PolyPolyline(PolyPoints(r, false)); break;
    case EMR_POLYPOLYGON: e.PolyPolygon(PolyPoints(r, false)); break;
    case EMR_POLYPOLYLINE16: e.PolyPolyline(PolyPoints(r, true)); break;
    case EMR_POLYPOLYGON16: e.PolyPolygon(PolyPoints(r, true)); break;
    case EMR_POLYDRAW: PolyDraw(r, false); break;
    case EMR_POLYDRAW16: PolyDraw(r, true); break;

    case EMR_SETWINDOWEXTEX: e.SetWindowExt(PointL(r, 8)); break;
    case EMR_SETWINDOWORGEX: e.SetWindowOrg(PointL(r, 8)); break;
    case EMR_SETVIEWPORTEXTEX: e.SetViewportExt(PointL(r, 8)); break;
    case EMR_SETVIEWPORTORGEX: e.SetViewportOrg(PointL(r, 8)); break;
    case EMR_SETBRUSHORGEX: e.SetBrushOrg(PointL(r, 8)); break;
    case EMR_SCALEVIEWPORTEXTEX: e.ScaleViewportExt(r.S32(8), r.S32(12), r.S32(16), r.S32(20)); break;
    case EMR_SCALEWINDOWEXTEX: e.ScaleWindowExt(r.S32(8), r.S32(12), r.S32(16), r.S32(20)); break;
    case EMR_SETMAPMODE: e.SetMapMode(int(r.U32(8))); break;
    case EMR_SETWORLDTRANSFORM: e.SetWorldTransform(XForm(r, 8)); break;
    case EMR_MODIFYWORLDTRANSFORM: e.ModifyWorldTransform(XForm(r, 8), int(r.U32(32))); break;

    case EMR_SETPIXELV: e.SetPixel(PointL(r, 8), r.U32(16)); break;
    case EMR_SETBKMODE: e.SetBkMode(int(r.U32(8))); break;
    case EMR_SETPOLYFILLMODE: e.SetPolyFillMode(int(r.U32(8))); break;
    case EMR_SETROP2: e.SetRop2(int(r.U32(8))); break;
    case EMR_SETSTRETCHBLTMODE: e.SetStretchBltMode(int(r.U32(8))); break;
    case EMR_SETTEXTALIGN: e.SetTextAlign(r.U32(8)); break;
    case EMR_SETTEXTCOLOR: e.SetTextColor(r.U32(8)); break;
    case EMR_SETBKCOLOR: e.SetBkColor(r.U32(8)); break;
    case EMR_SETARCDIRECTION: e.SetArcDirection(int(r.U32(8))); break;
    case EMR_SETMITERLIMIT: {
        // Some writers store the limit as a float.
        const quint32 raw = r.U32(8);
        e.SetMiterLimit(raw <= 1000 ? double(raw) : double(r.F32(8)));
        break;
    }
    case EMR_SETTEXTJUSTIFICATION: e.SetTextJustification(r.S32(8), r.S32(12)); break;
    case EMR_MOVETOEX: e.MoveTo(PointL(r, 8)); break;
    case EMR_LINETO: e.LineTo(PointL(r, 8)); break;

    case EMR_SAVEDC: e.SaveDc(); break;
    case EMR_RESTOREDC: e.RestoreDc(r.S32(8)); break;
    case EMR_SELECTOBJECT: e.SelectObject(r.U32(8)); break;
    case EMR_DELETEOBJECT: e.DeleteObject(r.U32(8)); break;
    case EMR_CREATEPEN:
        e.StoreObject(r.U32(8), TMetaEngine::PenFromLogPen(r.U32(12), r.S32(16), e.Color(r.U32(24))));
        break;
    case EMR_CREATEBRUSHINDIRECT:
        e.StoreObject(r.U32(8), e.BrushFromLogBrush(r.U32(12), r.U32(16), r.U32(20)));
        break;
    case EMR_EXTCREATEPEN: CreateExtPen(r); break;
    case EMR_EXTCREATEFONTINDIRECTW: CreateFont(r); break;
    case EMR_CREATEMONOBRUSH: DibBrush(r, true); break;
    case EMR_CREATEDIBPATTERNBRUSHPT: DibBrush(r, false); break;
    case EMR_CREATEPALETTE: CreatePalette(r); break;
    case EMR_SELECTPALETTE: e.SelectPalette(r.U32(8)); break;
    case EMR_SETPALETTEENTRIES: {
        const qint64 start = r.U32(12), count = r.U32(16);
        r.Need(20, count * 4);
        QVector<QRgb> entries;
        for (qint64 i = 0; i < count && i < 1024; ++i)
            entries << qRgb(r.U8(20 + i * 4), r.U8(21 + i * 4), r.U8(22 + i * 4));
        e.SetPaletteEntries(r.U32(8), int(std::min<qint64>(start, 1 << 20)), entries);
        break;
    }
    case EMR_RESIZEPALETTE: e.ResizePalette(r.U32(8), int(std::min<quint32>(r.U32(12), 1 << 20))); break;

    case EMR_ANGLEARC: e.AngleArc(PointL(r, 8), r.U32(16), r.F32(20), r.F32(24)); break;
    case EMR_ELLIPSE: e.Ellipse(RectL(r, 8)); break;
    case EMR_RECTANGLE: e.Rectangle(RectL(r, 8)); break;
    case EMR_ROUNDRECT: e.RoundRect(RectL(r, 8), QSizeF(r.S32(24), r.S32(28))); break;
    case EMR_ARC: e.Arc(RectL(r, 8), PointL(r, 24), PointL(r, 32), TMetaEngine::ArcOnly); break;
    case EMR_ARCTO: e.Arc(RectL(r, 8), PointL(r, 24), PointL(r, 32), TMetaEngine::ArcTo); break;
    case EMR_CHORD: e.Arc(RectL(r, 8), PointL(r, 24), PointL(r, 32), TMetaEngine::Chord); break;
    case EMR_PIE: e.Arc(RectL(r, 8), PointL(r, 24), PointL(r, 32), TMetaEngine::Pie); break;
    case EMR_EXTFLOODFILL: e.FloodFill(PointL(r, 8), r.U32(16), r.U32(20) == 1); break;

    case EMR_BEGINPATH: e.BeginPath(); break;
    case EMR_ENDPATH: e.EndPath(); break;
    case EMR_ABORTPATH: e.AbortPath(); break;
    case EMR_CLOSEFIGURE: e.CloseFigure(); break;
    case EMR_FILLPATH: e.FillPath(); break;
    case EMR_STROKEPATH: e.StrokePath(); break;
    case EMR_STROKEANDFILLPATH: e.StrokeAndFillPath(); break;
    case EMR_FLATTENPATH: e.FlattenPath(); break;
    case EMR_WIDENPATH: e.WidenPath(); break;
    case EMR_SELECTCLIPPATH: e.SelectClipPath(int(r.U32(8))); break;

    case EMR_SETMETARGN: e.SetMetaRgn(); break;
    case EMR_EXCLUDECLIPRECT: e.ExcludeClipRect(RectL(r, 8)); break;
    case EMR_INTERSECTCLIPRECT: e.IntersectClipRect(RectL(r, 8)); break;
    case EMR_OFFSETCLIPRGN: e.OffsetClipRgn(PointL(r, 8)); break;
    case EMR_EXTSELECTCLIPRGN: {
        const std::optional<TMetaRegion> region = Region(r, 8, 16);
        e.SelectClipRegion(region ? &*region : nullptr, int(r.U32(12)));
        break;
    }
    case EMR_FILLRGN:
    case EMR_FRAMERGN: {
        const std::optional<TMetaRegion> region = Region(r, 24, type == EMR_FILLRGN ? 32 : 40);
        const TMetaObject *object = e.Object(r.U32(28));
        const TMetaBrush *brush = object ? std::get_if<TMetaBrush>(object) : nullptr;
        if (region && brush) {
            if (type == EMR_FILLRGN)
                e.FillRegion(*region, *brush);
            else
                e.FrameRegion(*region, *brush, r.S32(32), r.S32(36));
        }
        break;
    }
    case EMR_INVERTRGN:
    case EMR_PAINTRGN:
        if (const std::optional<TMetaRegion> region = Region(r, 24, 28)) {
            if (type == EMR_INVERTRGN)
                e.InvertRegion(*region);
            else
                e.PaintRegion(*region);
        }
        break;

    case EMR_EXTTEXTOUTA: Text(r, 36, false); break;
    case EMR_EXTTEXTOUTW: Text(r, 36, true); break;
    case EMR_POLYTEXTOUTA:
    case EMR_POLYTEXTOUTW: {
        const qint64 strings = r.U32(36);
        r.Need(40, strings * 40);
        for (qint64 i = 0; i < strings; ++i)
            Text(r, 40 + i * 40, type == EMR_POLYTEXTOUTW);
        break;
    }
    case EMR_SMALLTEXTOUT: SmallText(r); break;

    case EMR_BITBLT:
    case EMR_STRETCHBLT: Blit(r, type); break;
    case EMR_STRETCHDIBITS: StretchDibits(r); break;
    case EMR_SETDIBITSTODEVICE: SetDibitsToDevice(r); break;
    case EMR_MASKBLT: MaskBlt(r); break;
    case EMR_PLGBLT: PlgBlt(r); break;
    case EMR_ALPHABLEND:
    case EMR_TRANSPARENTBLT: {
        const std::optional<TMetaBitmap> bitmap = Dib(r, 84, r.U32(80), type == EMR_ALPHABLEND);
        if (!bitmap)
            break;
        const QRectF dest(r.S32(24), r.S32(28), r.S32(32), r.S32(36));
        const QRectF src(r.S32(44), r.S32(48), r.S32(100), r.S32(104));
        if (type == EMR_ALPHABLEND)
            e.AlphaBlend(dest, bitmap->Image, src, r.U8(42), r.U8(43) & 1);
        else
            e.TransparentBlt(dest, bitmap->Image, src, r.U32(40));
        break;
    }
    case EMR_GRADIENTFILL: Gradient(r); break;

    // Colour spaces are not used, but they take their slot in the table.
    case EMR_CREATECOLORSPACE:
    case EMR_CREATECOLORSPACEW: e.StoreObject(r.U32(8), TMetaEmpty()); break;

    default:
        // Comments (EMF+ among them), colour management, palettes being
        // realised, OpenGL and escapes change nothing we draw.
        break;
    }
}

// The records that make an object at the index they give (at offset 8).
bool MakesObject(quint32 type)
{
    switch (type) {
    case EMR_CREATEPEN:
    case EMR_CREATEBRUSHINDIRECT:
    case EMR_CREATEPALETTE:
    case EMR_EXTCREATEFONTINDIRECTW:
    case EMR_CREATEMONOBRUSH:
    case EMR_CREATEDIBPATTERNBRUSHPT:
    case EMR_EXTCREATEPEN:
    case EMR_CREATECOLORSPACE:
    case EMR_CREATECOLORSPACEW:
        return true;
    default:
        return false;
    }
}

void TEmfPlayer::PlayRecord(quint32 type, const TMetaBytes &r)
{
    const bool made = FEngine.PlaySkippingDamage([&] { Play(type, r); });
    if (!made && MakesObject(type) && r.Has(8, 4))
        FEngine.StoreObject(r.U32(8), TMetaEmpty());
}

} // namespace

TEmfHeader ReadEmfHeader(const QByteArray &data)
{
    const TMetaBytes b(data.constData(), data.size());
    if (!b.Has(0, 88) || b.U32(0) != EMR_HEADER || b.U32(40) != kSignature)
        NotValid();
    const qint64 size = b.U32(4);
    if (size < 88 || size % 4 != 0 || size > data.size())
        NotValid();
    const qint64 left = b.S32(24), top = b.S32(28), right = b.S32(32), bottom = b.S32(36);
    const qint64 deviceX = b.S32(72), deviceY = b.S32(76), mmX = b.S32(80), mmY = b.S32(84);
    if (right <= left || bottom <= top || deviceX <= 0 || deviceY <= 0 || mmX <= 0 || mmY <= 0)
        NotValid();
    TEmfHeader header;
    header.Frame = QRectF(QPointF(left, top), QPointF(right, bottom));
    header.Device = QSizeF(deviceX, deviceY);
    header.DeviceMm = QSizeF(mmX, mmY);
    // The size in micrometres is more precise, but some writers fill it with
    // nonsense: it is used only where it agrees with the millimetres.
    if (size >= 108) {
        const double umX = b.U32(100) / 1000.0, umY = b.U32(104) / 1000.0;
        if (std::fabs(umX - mmX) <= 1 && std::fabs(umY - mmY) <= 1 && umX > 0 && umY > 0)
            header.DeviceMm = QSizeF(umX, umY);
    }
    header.HeaderSize = size;
    const QSizeF natural = EmfNaturalSize(header);
    if (natural.width() > TMetaEngine::kMaxNaturalSide || natural.height() > TMetaEngine::kMaxNaturalSide)
        NotValid();
    return header;
}

QSizeF EmfNaturalSize(const TEmfHeader &header)
{
    return QSizeF(header.Frame.width() / 2540 * 96, header.Frame.height() / 2540 * 96);
}

void PlayEmf(const QByteArray &data, const TEmfHeader &header, TMetaEngine &engine)
{
    TEmfPlayer player(engine);
    // EMF+ records, where the file has them and they are drawn, take the
    // place of the plain records but for those after a GetDC record.
    std::optional<TEmfPlusPlayer> plus;
    if (DrawEmfPlus(SurveyEmfPlus(data, header.HeaderSize)))
        plus.emplace(engine, QPointF(header.Device.width() / header.DeviceMm.width() * 25.4,
                                     header.Device.height() / header.DeviceMm.height() * 25.4));
    const qint64 end = data.size();
    qint64 off = header.HeaderSize;
    try {
        while (end - off >= 8) {
            engine.CountRecord();
            const TMetaBytes head(data.constData() + off, 8);
            const quint32 type = head.U32(0);
            const qint64 size = head.U32(4);
            if (size < 8 || size % 4 != 0 || size > end - off)
                return;
            if (type == EMR_EOF)
                return;
            const TMetaBytes record(data.constData() + off, size);
            if (plus && IsEmfPlusComment(record))
                plus->PlayComment(record);
            else if (!plus || plus->PlainRecordsDraw())
                player.PlayRecord(type, record);
            off += size;
        }
    } catch (const TMetaStop &) {
        // A work limit ends the drawing here; what was drawn before stays.
    }
}
