#include "WmfReader.h"

// Local
#include "AppError.h"
#include "MetaEngine.h"

// Std
#include <cmath>
#include <new>

namespace {

enum : quint16 {
    META_EOF = 0x0000, META_SAVEDC = 0x001E, META_REALIZEPALETTE = 0x0035, META_CREATEPALETTE = 0x00F7,
    META_SETBKMODE = 0x0102, META_SETMAPMODE = 0x0103, META_SETROP2 = 0x0104, META_SETPOLYFILLMODE = 0x0106,
    META_SETSTRETCHBLTMODE = 0x0107, META_SETTEXTCHAREXTRA = 0x0108, META_RESTOREDC = 0x0127,
    META_INVERTREGION = 0x012A, META_PAINTREGION = 0x012B, META_SELECTCLIPREGION = 0x012C,
    META_SELECTOBJECT = 0x012D, META_SETTEXTALIGN = 0x012E, META_DIBCREATEPATTERNBRUSH = 0x0142,
    META_DELETEOBJECT = 0x01F0, META_CREATEPATTERNBRUSH = 0x01F9, META_SETBKCOLOR = 0x0201,
    META_SETTEXTCOLOR = 0x0209, META_SETTEXTJUSTIFICATION = 0x020A, META_SETWINDOWORG = 0x020B,
    META_SETWINDOWEXT = 0x020C, META_SETVIEWPORTORG = 0x020D, META_SETVIEWPORTEXT = 0x020E,
    META_OFFSETWINDOWORG = 0x020F, META_OFFSETVIEWPORTORG = 0x0211, META_LINETO = 0x0213, META_MOVETO = 0x0214,
    META_OFFSETCLIPRGN = 0x0220, META_FILLREGION = 0x0228, META_SELECTPALETTE = 0x0234,
    META_CREATEPENINDIRECT = 0x02FA, META_CREATEFONTINDIRECT = 0x02FB, META_CREATEBRUSHINDIRECT = 0x02FC,
    META_POLYGON = 0x0324, META_POLYLINE = 0x0325, META_SCALEWINDOWEXT = 0x0410, META_SCALEVIEWPORTEXT = 0x0412,
    META_EXCLUDECLIPRECT = 0x0415, META_INTERSECTCLIPRECT = 0x0416, META_ELLIPSE = 0x0418, META_FLOODFILL = 0x0419,
    META_RECTANGLE = 0x041B, META_SETPIXEL = 0x041F, META_FRAMEREGION = 0x0429, META_TEXTOUT = 0x0521,
    META_POLYPOLYGON = 0x0538, META_EXTFLOODFILL = 0x0548, META_ROUNDRECT = 0x061C, META_PATBLT = 0x061D,
    META_CREATEREGION = 0x06FF, META_ARC = 0x0817, META_PIE = 0x081A, META_BITBLT = 0x0922,
    META_DIBBITBLT = 0x0940, META_EXTTEXTOUT = 0x0A32, META_STRETCHBLT = 0x0B23, META_DIBSTRETCHBLT = 0x0B41,
    META_SETDIBTODEV = 0x0D33, META_STRETCHDIB = 0x0F43, META_CHORD = 0x0830,
};

constexpr quint32 kPlaceableKey = 0x9AC6CDD7;

[[noreturn]] void NotValid()
{
    throw AppError(QStringLiteral("Metafile is not valid"));
}

class TWmfPlayer
{
public:
    explicit TWmfPlayer(TMetaEngine &engine) : FEngine(engine) {}
    // Plays one record whose size fits the file. A record whose contents
    // cannot be used is skipped; one that should have made an object leaves
    // an empty one in its slot, so that the objects after it keep their
    // indexes.
    void PlayRecord(quint16 function, const TMetaBytes &r);

private:
    void Play(quint16 function, const TMetaBytes &r);
    // The n-th 16-bit parameter.
    static double P(const TMetaBytes &r, int n) { return r.S16(6 + 2 * qint64(n)); }
    // Rectangles are stored bottom, right, top, left from parameter n on.
    static QRectF Rect(const TMetaBytes &r, int n)
    {
        return QRectF(QPointF(P(r, n + 3), P(r, n + 2)), QPointF(P(r, n + 1), P(r, n)));
    }
    QPolygonF Points(const TMetaBytes &r, qint64 offset, qint64 count);
    std::optional<TMetaBitmap> Dib(const TMetaBytes &r, qint64 offset, quint32 usage);
    QImage Bitmap16(const TMetaBytes &r, qint64 offset, bool *mono = nullptr);
    void CreateFont(const TMetaBytes &r);
    void CreateRegion(const TMetaBytes &r);
    void DibPatternBrush(const TMetaBytes &r);
    void Text(const TMetaBytes &r);
    void ExtText(const TMetaBytes &r);
    void Blit(quint16 function, const TMetaBytes &r);
    const TMetaRegion *RegionObject(quint32 index) const;
    const TMetaBrush *BrushObject(quint32 index) const;

    TMetaEngine &FEngine;
};

QPolygonF TWmfPlayer::Points(const TMetaBytes &r, qint64 offset, qint64 count)
{
    r.Need(offset, count * 4);
    FEngine.ChargePoints(count);
    QPolygonF points;
    points.reserve(count);
    for (qint64 i = 0; i < count; ++i)
        points << QPointF(r.S16(offset + i * 4), r.S16(offset + i * 4 + 2));
    return points;
}

// A packed DIB (header, colour table, rows) from offset to the record's end.
std::optional<TMetaBitmap> TWmfPlayer::Dib(const TMetaBytes &r, qint64 offset, quint32 usage)
{
    return FEngine.DecodeBitmap(r.View(offset, r.Size() - offset), QByteArrayView(), usage, false, true);
}

// A device-dependent bitmap: width, height, bytes per row, planes and bits
// per pixel, then rows from the top. A stated row size too small for the
// width is replaced by the word-aligned one; rows the record does not hold
// stay black.
QImage TWmfPlayer::Bitmap16(const TMetaBytes &r, qint64 offset, bool *mono)
{
    const qint64 width = r.S16(offset + 2), height = r.S16(offset + 4), widthBytes = r.S16(offset + 6);
    const int planes = r.U8(offset + 8), bits = r.U8(offset + 9);
    if (planes != 1 || !(bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32))
        return QImage();
    if (!FEngine.AcceptBitmap(width, height))
        return QImage();
    const qint64 data = offset + 10;
    const qint64 tight = (width * bits + 7) / 8;
    const qint64 stride = widthBytes >= tight ? widthBytes : (width * bits + 15) / 16 * 2;
    if (!r.Has(data, stride))
        return QImage();
    if (mono)
        *mono = bits == 1;
    QImage image(int(width), int(height), QImage::Format_RGB32);
    if (image.isNull())
        return QImage();
    image.fill(Qt::black);
    for (qint64 y = 0; y < height && r.Has(data + y * stride, tight); ++y) {
        // The whole row lies within the record: it is read directly.
        const auto *row = reinterpret_cast<const uchar *>(r.View(data + y * stride, tight).data());
        QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(int(y)));
        for (qint64 x = 0; x < width; ++x) {
            QRgb c = 0;
            switch (bits) {
            case 1: c = (row[x / 8] >> (7 - x % 8)) & 1 ? 0xffffffff : 0xff000000; break;
            case 4: c = FEngine.PaletteColor((row[x / 2] >> (x % 2 ? 0 : 4)) & 0xF); break;
            case 8: c = FEngine.PaletteColor(row[x]); break;
            case 16: {
                const quint16 v = quint16(row[2 * x] | row[2 * x + 1] << 8);
                c = qRgb(((v >> 10) & 31) * 255 / 31, ((v >> 5) & 31) * 255 / 31, (v & 31) * 255 / 31);
                break;
            }
            case 24: c = qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]); break;
            case 32: c = qRgb(row[4 * x + 2], row[4 * x + 1], row[4 * x]); break;
            }
            line[x] = c;
        }
    }
    return image;
}

void TWmfPlayer::CreateFont(const TMetaBytes &r)
{
    TMetaFont font;
    font.Height = r.S16(6);
    font.Width = r.S16(8);
    font.Escapement = r.S16(10);
    font.Weight = r.S16(14);
    font.Italic = r.U8(16);
    font.Underline = r.U8(17);
    font.StrikeOut = r.U8(18);
    font.Charset = r.U8(19);
    font.PitchAndFamily = r.U8(23);
    QByteArray face;
    for (qint64 off = 24; off < std::min<qint64>(r.Size(), 24 + 32); ++off) {
        const char ch = char(r.U8(off));
        if (ch == 0)
            break;
        face += ch;
    }
    font.Face = QString::fromLatin1(face).trimmed();
    FEngine.AddObject(font);
}

// Regions are rows of scans: each scan a band of y with pairs of left and
// right edges. A region that does not hold together stays empty.
void TWmfPlayer::CreateRegion(const TMetaBytes &r)
{
    TMetaRegion region;
    const qint64 scans = r.U16(14);
    qint64 off = 26;
    FEngine.ChargePoints(scans);
    for (qint64 s = 0; s < scans; ++s) {
        if (!r.Has(off, 6))
            break;
        const qint64 count = r.U16(off);
        const qint64 top = r.S16(off + 2), bottom = r.S16(off + 4);
        if (count % 2 != 0 || !r.Has(off + 6, count * 2 + 2) || r.U16(off + 6 + count * 2) != count) {
            region.Region = QRegion();
            break;
        }
        FEngine.ChargePoints(count);
        for (qint64 i = 0; i < count; i += 2) {
            const qint64 left = r.S16(off + 6 + i * 2), right = r.S16(off + 8 + i * 2);
            if (right > left && bottom > top)
                region.Region += QRect(int(left), int(top), int(right - left), int(bottom - top));
        }
        off += 6 + count * 2 + 2;
    }
    FEngine.AddObject(region);
}

void TWmfPlayer::DibPatternBrush(const TMetaBytes &r)
{
    const quint16 style = r.U16(6);
    if (style == Gdi::BS_PATTERN) {
        bool mono = false;
        const QImage image = Bitmap16(r, 10, &mono);
        FEngine.AddObject(TMetaEngine::PatternBrush(image, mono));
        return;
    }
    const std::optional<TMetaBitmap> bitmap = Dib(r, 10, r.U16(8));
    FEngine.AddObject(TMetaEngine::PatternBrush(bitmap ? bitmap->Image : QImage(), false));
}

void TWmfPlayer::Text(const TMetaBytes &r)
{
    const qint64 length = std::max<qint64>(r.S16(6), 0);
    const qint64 padded = length + (length & 1);
    TMetaText text;
    text.Text = FEngine.DecodeAnsi(r.View(8, length));
    text.Ref = QPointF(r.S16(8 + padded + 2), r.S16(8 + padded));
    FEngine.TextOut(text);
}

void TWmfPlayer::ExtText(const TMetaBytes &r)
{
    TMetaText text;
    text.Ref = QPointF(r.S16(8), r.S16(6));
    const qint64 length = std::max<qint64>(r.S16(10), 0);
    text.Options = r.U16(12);
    qint64 off = 14;
    if (text.Options & (Gdi::ETO_OPAQUE | Gdi::ETO_CLIPPED)) {
        text.Rect = QRectF(QPointF(r.S16(14), r.S16(16)), QPointF(r.S16(18), r.S16(20)));
        off += 8;
    }
    QVector<int> bytesPerChar;
    text.Text = FEngine.DecodeAnsi(r.View(off, length), &bytesPerChar);
    off += length + (length & 1);
    if (r.Has(off, length * 2)) {
        QVector<double> dx;
        for (qint64 i = 0; i < length; ++i)
            dx << r.S16(off + i * 2);
        text.Dx = TMetaEngine::AdvancesPerChar(dx, bytesPerChar);
    }
    FEngine.TextOut(text);
}

// The blit records come with or without a bitmap; without one they paint
// with the brush. Parameters run backwards, as in every WMF record.
void TWmfPlayer::Blit(quint16 function, const TMetaBytes &r)
{
    const quint32 rop = r.U32(6);
    const bool noBitmap = r.Size() == ((function >> 8) + 3) * 2;
    switch (function) {
    case META_BITBLT:
    case META_DIBBITBLT: {
        if (noBitmap) {
            FEngine.PatBlt(QRectF(P(r, 8), P(r, 7), P(r, 6), P(r, 5)), rop);
            return;
        }
        const QRectF dest(P(r, 7), P(r, 6), P(r, 5), P(r, 4));
        const QRectF src(P(r, 3), P(r, 2), dest.width(), dest.height());
        if (function == META_BITBLT) {
            FEngine.DrawBitmap(dest, Bitmap16(r, 22), src, rop);
        } else if (const std::optional<TMetaBitmap> bitmap = Dib(r, 22, 0)) {
            FEngine.DrawBitmap(dest, bitmap->Image, src, rop);
        }
        return;
    }
    case META_STRETCHBLT:
    case META_DIBSTRETCHBLT: {
        if (noBitmap) {
            FEngine.PatBlt(QRectF(P(r, 10), P(r, 9), P(r, 8), P(r, 7)), rop);
            return;
        }
        const QRectF dest(P(r, 9), P(r, 8), P(r, 7), P(r, 6));
        const QRectF src(P(r, 5), P(r, 4), P(r, 3), P(r, 2));
        if (function == META_STRETCHBLT) {
            FEngine.DrawBitmap(dest, Bitmap16(r, 26), src, rop);
        } else if (const std::optional<TMetaBitmap> bitmap = Dib(r, 26, 0)) {
            FEngine.DrawBitmap(dest, bitmap->Image, src, rop);
        }
        return;
    }
    case META_STRETCHDIB: {
        const std::optional<TMetaBitmap> bitmap = Dib(r, 28, r.U16(10));
        if (!bitmap)
            return;
        const QRectF dest(P(r, 10), P(r, 9), P(r, 8), P(r, 7));
        const double w = P(r, 4), h = P(r, 3), x = P(r, 6), y = P(r, 5);
        const QRectF src(x, bitmap->BottomUp ? bitmap->Image.height() - y - h : y, w, h);
        FEngine.DrawBitmap(dest, bitmap->Image, src, rop);
        return;
    }
    case META_SETDIBTODEV: {
        const std::optional<TMetaBitmap> bitmap = Dib(r, 24, r.U16(6));
        if (!bitmap)
            return;
        const double w = P(r, 6), h = P(r, 5);
        const QRectF dest(P(r, 8), P(r, 7), w, h);
        const double x = P(r, 4), y = P(r, 3);
        const QRectF src(x, bitmap->BottomUp ? bitmap->Image.height() - y - h : y, w, h);
        FEngine.DrawBitmap(dest, bitmap->Image, src, Gdi::SRCCOPY);
        return;
    }
    default:
        return;
    }
}

const TMetaRegion *TWmfPlayer::RegionObject(quint32 index) const
{
    const TMetaObject *object = FEngine.Object(index);
    return object ? std::get_if<TMetaRegion>(object) : nullptr;
}

const TMetaBrush *TWmfPlayer::BrushObject(quint32 index) const
{
    const TMetaObject *object = FEngine.Object(index);
    return object ? std::get_if<TMetaBrush>(object) : nullptr;
}

void TWmfPlayer::Play(quint16 function, const TMetaBytes &r)
{
    TMetaEngine &e = FEngine;
    switch (function) {
    case META_SETWINDOWORG: e.SetWindowOrg(QPointF(P(r, 1), P(r, 0))); break;
    case META_SETWINDOWEXT: e.SetWindowExt(QPointF(P(r, 1), P(r, 0))); break;
    case META_SETVIEWPORTORG: e.SetViewportOrg(QPointF(P(r, 1), P(r, 0))); break;
    case META_SETVIEWPORTEXT: e.SetViewportExt(QPointF(P(r, 1), P(r, 0))); break;
    case META_OFFSETWINDOWORG: e.OffsetWindowOrg(QPointF(P(r, 1), P(r, 0))); break;
    case META_OFFSETVIEWPORTORG: e.OffsetViewportOrg(QPointF(P(r, 1), P(r, 0))); break;
    case META_SCALEWINDOWEXT: e.ScaleWindowExt(P(r, 3), P(r, 2), P(r, 1), P(r, 0)); break;
    case META_SCALEVIEWPORTEXT: e.ScaleViewportExt(P(r, 3), P(r, 2), P(r, 1), P(r, 0)); break;
    case META_SETMAPMODE: e.SetMapMode(r.U16(6)); break;

    case META_SETBKMODE: e.SetBkMode(r.U16(6)); break;
    case META_SETBKCOLOR: e.SetBkColor(r.U32(6)); break;
    case META_SETTEXTCOLOR: e.SetTextColor(r.U32(6)); break;
    case META_SETTEXTALIGN: e.SetTextAlign(r.U16(6)); break;
    case META_SETROP2: e.SetRop2(r.U16(6)); break;
    case META_SETPOLYFILLMODE: e.SetPolyFillMode(r.U16(6)); break;
    case META_SETSTRETCHBLTMODE: e.SetStretchBltMode(r.U16(6)); break;
    case META_SETTEXTCHAREXTRA: e.SetTextCharExtra(P(r, 0)); break;
    case META_SETTEXTJUSTIFICATION: e.SetTextJustification(P(r, 1), int(P(r, 0))); break;
    case META_SAVEDC: e.SaveDc(); break;
    case META_RESTOREDC: e.RestoreDc(int(P(r, 0))); break;

    case META_SELECTOBJECT: e.SelectObject(r.U16(6)); break;
    case META_SELECTPALETTE: e.SelectPalette(r.U16(6)); break;
    case META_DELETEOBJECT: e.DeleteObject(r.U16(6)); break;
    case META_CREATEPENINDIRECT:
        e.AddObject(TMetaEngine::PenFromLogPen(r.U16(6), P(r, 1), e.Color(r.U32(12))));
        break;
    case META_CREATEBRUSHINDIRECT: e.AddObject(e.BrushFromLogBrush(r.U16(6), r.U32(8), r.U16(12))); break;
    case META_CREATEFONTINDIRECT: CreateFont(r); break;
    case META_CREATEPALETTE: {
        const qint64 count = r.U16(8);
        r.Need(10, count * 4);
        TMetaPalette palette;
        for (qint64 i = 0; i < count; ++i)
            palette.Entries << qRgb(r.U8(10 + i * 4), r.U8(11 + i * 4), r.U8(12 + i * 4));
        e.AddObject(palette);
        break;
    }
    case META_CREATEREGION: CreateRegion(r); break;
    case META_CREATEPATTERNBRUSH: {
        // The bitmap's header, a pointer and reserved bytes, then the rows.
        bool mono = false;
        r.Need(6, 32);
        const QByteArray copy = r.View(0, 16).toByteArray() + r.View(38, r.Size() - 38).toByteArray();
        const QImage image = Bitmap16(TMetaBytes(copy.constData(), copy.size()), 6, &mono);
        e.AddObject(TMetaEngine::PatternBrush(image, mono));
        break;
    }
    case META_DIBCREATEPATTERNBRUSH: DibPatternBrush(r); break;

    case META_MOVETO: e.MoveTo(QPointF(P(r, 1), P(r, 0))); break;
    case META_LINETO: e.LineTo(QPointF(P(r, 1), P(r, 0))); break;
    case META_POLYLINE: e.Polyline(Points(r, 8, std::max<qint64>(r.S16(6), 0))); break;
    case META_POLYGON: e.Polygon(Points(r, 8, std::max<qint64>(r.S16(6), 0))); break;
    case META_POLYPOLYGON: {
        const qint64 polygons = r.U16(6);
        r.Need(8, polygons * 2);
        qint64 off = 8 + polygons * 2;
        QVector<QPolygonF> all;
        for (qint64 i = 0; i < polygons; ++i) {
            const qint64 count = r.U16(8 + i * 2);
            all << Points(r, off, count);
            off += count * 4;
        }
        e.PolyPolygon(all);
        break;
    }
    case META_RECTANGLE: e.Rectangle(Rect(r, 0)); break;
    case META_ELLIPSE: e.Ellipse(Rect(r, 0)); break;
    case META_ROUNDRECT: e.RoundRect(Rect(r, 2), QSizeF(P(r, 1), P(r, 0))); break;
    case META_ARC:
    case META_PIE:
    case META_CHORD: {
        const TMetaEngine::TArcKind kind = function == META_ARC   ? TMetaEngine::ArcOnly
                                           : function == META_PIE ? TMetaEngine::Pie
                                                                  : TMetaEngine::Chord;
        e.Arc(Rect(r, 4), QPointF(P(r, 3), P(r, 2)), QPointF(P(r, 1), P(r, 0)), kind);
        break;
    }
    case META_SETPIXEL: e.SetPixel(QPointF(r.S16(12), r.S16(10)), r.U32(6)); break;
    case META_FLOODFILL: e.FloodFill(QPointF(r.S16(12), r.S16(10)), r.U32(6), false); break;
    case META_EXTFLOODFILL: e.FloodFill(QPointF(r.S16(14), r.S16(12)), r.U32(8), r.U16(6) == 1); break;

    case META_TEXTOUT: Text(r); break;
    case META_EXTTEXTOUT: ExtText(r); break;

    case META_INTERSECTCLIPRECT: e.IntersectClipRect(Rect(r, 0)); break;
    case META_EXCLUDECLIPRECT: e.ExcludeClipRect(Rect(r, 0)); break;
    case META_OFFSETCLIPRGN: e.OffsetClipRgn(QPointF(P(r, 1), P(r, 0))); break;
    case META_SELECTCLIPREGION:
        if (const TMetaRegion *region = RegionObject(r.U16(6)))
            e.SelectClipRegion(region, Gdi::RGN_COPY);
        break;
    case META_FILLREGION:
        if (const TMetaRegion *region = RegionObject(r.U16(6)); region && BrushObject(r.U16(8)))
            e.FillRegion(*region, *BrushObject(r.U16(8)));
        break;
    case META_FRAMEREGION:
        if (const TMetaRegion *region = RegionObject(r.U16(6)); region && BrushObject(r.U16(8)))
            e.FrameRegion(*region, *BrushObject(r.U16(8)), P(r, 3), P(r, 2));
        break;
    case META_PAINTREGION:
        if (const TMetaRegion *region = RegionObject(r.U16(6)))
            e.PaintRegion(*region);
        break;
    case META_INVERTREGION:
        if (const TMetaRegion *region = RegionObject(r.U16(6)))
            e.InvertRegion(*region);
        break;

    case META_PATBLT: e.PatBlt(QRectF(P(r, 5), P(r, 4), P(r, 3), P(r, 2)), r.U32(6)); break;
    case META_BITBLT:
    case META_STRETCHBLT:
    case META_DIBBITBLT:
    case META_DIBSTRETCHBLT:
    case META_STRETCHDIB:
    case META_SETDIBTODEV: Blit(function, r); break;

    default:
        // Escapes, palette animation and mapper flags change nothing we draw.
        break;
    }
}

// The records that make an object in the lowest free slot.
bool MakesObject(quint16 function)
{
    switch (function) {
    case META_CREATEPALETTE:
    case META_CREATEPENINDIRECT:
    case META_CREATEFONTINDIRECT:
    case META_CREATEBRUSHINDIRECT:
    case META_CREATEREGION:
    case META_CREATEPATTERNBRUSH:
    case META_DIBCREATEPATTERNBRUSH:
        return true;
    default:
        return false;
    }
}

void TWmfPlayer::PlayRecord(quint16 function, const TMetaBytes &r)
{
    const bool made = FEngine.PlaySkippingDamage([&] { Play(function, r); });
    if (!made && MakesObject(function))
        FEngine.AddObject(TMetaEmpty());
}

// The first window origin and extent of a file without a placeable header.
bool FindWindow(const QByteArray &data, qint64 offset, QPointF &origin, QPointF &extent)
{
    bool haveExtent = false;
    const qint64 end = data.size();
    for (qint64 records = 0; end - offset >= 6 && records < TMetaEngine::kMaxRecords; ++records) {
        const TMetaBytes r(data.constData() + offset, end - offset);
        const qint64 size = qint64(r.U32(0)) * 2;
        const quint16 function = r.U16(4);
        if (size < 6 || size > end - offset || function == META_EOF)
            break;
        if (function == META_SETWINDOWORG && size >= 10)
            origin = QPointF(r.S16(8), r.S16(6));
        if (function == META_SETWINDOWEXT && size >= 10) {
            extent = QPointF(r.S16(8), r.S16(6));
            haveExtent = true;
            break;
        }
        offset += size;
    }
    return haveExtent;
}

} // namespace

TWmfHeader ReadWmfHeader(const QByteArray &data)
{
    const TMetaBytes b(data.constData(), data.size());
    TWmfHeader header;
    qint64 offset = 0;
    if (b.Has(0, 4) && b.U32(0) == kPlaceableKey) {
        if (!b.Has(0, 22))
            NotValid();
        const double left = b.S16(6), top = b.S16(8), right = b.S16(10), bottom = b.S16(12);
        header.UnitsPerInch = b.U16(14);
        header.Box = QRectF(QPointF(left, top), QPointF(right, bottom)).normalized();
        header.Placeable = true;
        offset = 22;
        if (header.UnitsPerInch <= 0 || header.Box.width() <= 0 || header.Box.height() <= 0)
            NotValid();
    }
    if (!b.Has(offset, 18))
        NotValid();
    const quint16 type = b.U16(offset), headerWords = b.U16(offset + 2);
    if ((type != 1 && type != 2) || headerWords != 9)
        NotValid();
    header.RecordsOffset = offset + 18;
    if (!header.Placeable) {
        QPointF origin, extent;
        if (!FindWindow(data, header.RecordsOffset, origin, extent) || extent.x() == 0 || extent.y() == 0)
            NotValid();
        header.Box = QRectF(origin, QSizeF(extent.x(), extent.y())).normalized();
        header.UnitsPerInch = 96;
    }
    const QSizeF natural = WmfNaturalSize(header);
    if (natural.width() > TMetaEngine::kMaxNaturalSide || natural.height() > TMetaEngine::kMaxNaturalSide)
        NotValid();
    return header;
}

QSizeF WmfNaturalSize(const TWmfHeader &header)
{
    return QSizeF(header.Box.width() / header.UnitsPerInch * 96, header.Box.height() / header.UnitsPerInch * 96);
}

void PlayWmf(const QByteArray &data, const TWmfHeader &header, TMetaEngine &engine)
{
    TWmfPlayer player(engine);
    const qint64 end = data.size();
    qint64 off = header.RecordsOffset;
    try {
        while (end - off >= 6) {
            engine.CountRecord();
            const TMetaBytes head(data.constData() + off, 6);
            const qint64 size = qint64(head.U32(0)) * 2;
            const quint16 function = head.U16(4);
            if (size < 6 || size > end - off)
                return;
            if (function == META_EOF)
                return;
            player.PlayRecord(function, TMetaBytes(data.constData() + off, size));
            off += size;
        }
    } catch (const TMetaStop &) {
        // A work limit ends the drawing here; what was drawn before stays.
    }
}
