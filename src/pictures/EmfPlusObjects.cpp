// The EMF+ graphics objects (brushes, pens, paths, regions, images, fonts,
// string formats, image attributes) read from the bytes of their object
// records into what the EMF+ player draws with.

#include "EmfPlusObjects.h"

// Local
#include "AppError.h"
#include "BmpDecoder.h"
#include "JpegCodec.h"

// Qt
#include <QBuffer>
#include <QImageReader>
#include <QLinearGradient>
#include <QRadialGradient>

// Std
#include <algorithm>
#include <cmath>

namespace {

// Brush types and the flags of their optional data
enum : quint32 {
    BrushSolid = 0, BrushHatch = 1, BrushTexture = 2, BrushPathGradient = 3, BrushLinearGradient = 4,
};
enum : quint32 {
    BrushDataPath = 0x01, BrushDataTransform = 0x02, BrushDataPresetColors = 0x04, BrushDataBlendFactorsH = 0x08,
    BrushDataBlendFactorsV = 0x10, BrushDataFocusScales = 0x40,
};

// Pen data flags: which optional fields follow the width, in this order
enum : quint32 {
    PenDataTransform = 0x0001, PenDataStartCap = 0x0002, PenDataEndCap = 0x0004, PenDataJoin = 0x0008,
    PenDataMiterLimit = 0x0010, PenDataLineStyle = 0x0020, PenDataDashedLineCap = 0x0040,
    PenDataDashedLineOffset = 0x0080, PenDataDashedLine = 0x0100, PenDataNonCenter = 0x0200,
    PenDataCompoundLine = 0x0400, PenDataCustomStartCap = 0x0800, PenDataCustomEndCap = 0x1000,
};

// Path point flags: compressed (16-bit) points, run-length point types,
// relative points
enum : quint32 { PathCompressed = 0x4000, PathRunLength = 0x1000, PathRelative = 0x0800 };

enum : quint32 {
    RegionAnd = 1, RegionOr = 2, RegionXor = 3, RegionExclude = 4, RegionComplement = 5,
    RegionRect = 0x10000000, RegionPath = 0x10000001, RegionEmpty = 0x10000002, RegionInfinite = 0x10000003,
};

// Nested region nodes are read recursively; deeper trees than this are not
// made by any program that writes regions by combining a few shapes.
constexpr int kMaxRegionDepth = 256;
// What an infinite region becomes where it has to be an outline (complements
// and differences): larger than any picture's world.
constexpr double kInfiniteSide = double(1 << 22);

[[noreturn]] void Bad()
{
    throw TMetaBadRecord();
}

double Float(const TMetaBytes &d, qint64 off)
{
    const float f = d.F32(off);
    if (!std::isfinite(f))
        Bad();
    return f;
}

// A count at off whose items of itemSize bytes must follow it.
qint64 CountOf(const TMetaBytes &d, qint64 off, qint64 itemSize)
{
    const qint64 count = d.U32(off);
    d.Need(off + 4, count * itemSize);
    return count;
}

TPlusUnit Unit(quint32 u)
{
    if (u > quint32(TPlusUnit::Millimeter))
        Bad();
    return TPlusUnit(u);
}

QColor Mix(const QColor &a, const QColor &b, double t)
{
    t = std::clamp(t, 0.0, 1.0);
    auto mix = [t](int x, int y) { return int(std::lround(x + (y - x) * t)); };
    return QColor(mix(a.red(), b.red()), mix(a.green(), b.green()), mix(a.blue(), b.blue()),
                  mix(a.alpha(), b.alpha()));
}

QGradient::Spread Spread(quint32 wrapMode)
{
    switch (wrapMode) {
    case 0: case 2: return QGradient::RepeatSpread;    // tile; flipping Y does not change a horizontal ramp
    case 1: case 3: return QGradient::ReflectSpread;
    default: return QGradient::PadSpread;               // clamp
    }
}

// The 8x8 patterns of the 53 hatch styles, rows from the top, bit 7 the
// leftmost pixel, set bits in the fore colour. The percent styles come from
// an ordered dither; the others are drawn after the look of each style.
constexpr quint8 kHatchPatterns[][8] = {
    {0xFF, 0, 0, 0, 0, 0, 0, 0},                                   // horizontal
    {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80},              // vertical
    {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01},              // forward diagonal
    {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80},              // backward diagonal
    {0xFF, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80},              // cross
    {0x81, 0x42, 0x24, 0x18, 0x18, 0x24, 0x42, 0x81},              // diagonal cross
    {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {},                // 5 .. 90 percent: dithered
    {0x88, 0x44, 0x22, 0x11, 0x88, 0x44, 0x22, 0x11},              // light downward diagonal
    {0x11, 0x22, 0x44, 0x88, 0x11, 0x22, 0x44, 0x88},              // light upward diagonal
    {0xCC, 0x66, 0x33, 0x99, 0xCC, 0x66, 0x33, 0x99},              // dark downward diagonal
    {0x33, 0x66, 0xCC, 0x99, 0x33, 0x66, 0xCC, 0x99},              // dark upward diagonal
    {0xE0, 0x70, 0x38, 0x1C, 0x0E, 0x07, 0x83, 0xC1},              // wide downward diagonal
    {0x07, 0x0E, 0x1C, 0x38, 0x70, 0xE0, 0xC1, 0x83},              // wide upward diagonal
    {0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x88},              // light vertical
    {0xFF, 0, 0, 0, 0xFF, 0, 0, 0},                                // light horizontal
    {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA},              // narrow vertical
    {0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0},                          // narrow horizontal
    {0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC},              // dark vertical
    {0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0},                          // dark horizontal
    {0x80, 0x40, 0x20, 0x10, 0, 0, 0, 0},                          // dashed downward diagonal
    {0x10, 0x20, 0x40, 0x80, 0, 0, 0, 0},                          // dashed upward diagonal
    {0xF0, 0, 0, 0, 0x0F, 0, 0, 0},                                // dashed horizontal
    {0x80, 0x80, 0x80, 0x80, 0x08, 0x08, 0x08, 0x08},              // dashed vertical
    {0x80, 0x04, 0x20, 0x01, 0x10, 0x02, 0x40, 0x08},              // small confetti
    {0xC0, 0xC6, 0x06, 0x30, 0x33, 0x03, 0x60, 0x6C},              // large confetti
    {0x81, 0x42, 0x24, 0x18, 0x81, 0x42, 0x24, 0x18},              // zig zag
    {0x00, 0x18, 0xA4, 0x03, 0x00, 0x18, 0xA4, 0x03},              // wave
    {0x01, 0x02, 0x04, 0x08, 0x18, 0x24, 0x42, 0x81},              // diagonal brick
    {0xFF, 0x80, 0x80, 0x80, 0xFF, 0x08, 0x08, 0x08},              // horizontal brick
    {0x88, 0x54, 0x22, 0x45, 0x88, 0x14, 0x22, 0x51},              // weave
    {0xAA, 0x55, 0xAA, 0x55, 0xF0, 0xF0, 0xF0, 0xF0},              // plaid
    {0x80, 0x40, 0x80, 0, 0x08, 0x04, 0x08, 0},                    // divot
    {0xAA, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80},              // dotted grid
    {0x80, 0, 0x22, 0, 0x08, 0, 0x22, 0},                          // dotted diamond
    {0x03, 0x84, 0x48, 0x30, 0x0C, 0x02, 0x01, 0x01},              // shingle
    {0xFF, 0x66, 0xFF, 0x99, 0xFF, 0x66, 0xFF, 0x99},              // trellis
    {0x77, 0x89, 0x8F, 0x8F, 0x77, 0x98, 0xF8, 0xF8},              // sphere
    {0xFF, 0x88, 0x88, 0x88, 0xFF, 0x88, 0x88, 0x88},              // small grid
    {0xCC, 0xCC, 0x33, 0x33, 0xCC, 0xCC, 0x33, 0x33},              // small checker board
    {0xF0, 0xF0, 0xF0, 0xF0, 0x0F, 0x0F, 0x0F, 0x0F},              // large checker board
    {0x82, 0x44, 0x28, 0x10, 0x28, 0x44, 0x82, 0x01},              // outlined diamond
    {0x10, 0x38, 0x7C, 0xFE, 0x7C, 0x38, 0x10, 0x00},              // solid diamond
};
static_assert(std::size(kHatchPatterns) == 53);

// The coverage of the percent styles (05, 10, 20, 25, 30, 40, 50, 60, 70,
// 75, 80, 90) in 64ths.
constexpr int kHatchPercent[12] = {3, 6, 13, 16, 19, 26, 32, 38, 45, 48, 51, 58};

bool HatchBit(int style, int x, int y)
{
    if (style >= 6 && style <= 17) {
        static constexpr int bayer[8][8] = {
            {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
            {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
            {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21},
        };
        return bayer[y][x] < kHatchPercent[style - 6];
    }
    return kHatchPatterns[style][y] & (0x80 >> x);
}

QBrush HatchBrush(int style, const QColor &fore, const QColor &back)
{
    if (style < 0 || style >= int(std::size(kHatchPatterns)))
        style = 0;
    QImage pattern(8, 8, QImage::Format_ARGB32);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            pattern.setPixel(x, y, (HatchBit(style, x, y) ? fore : back).rgba());
    return QBrush(pattern.convertToFormat(QImage::Format_ARGB32_Premultiplied));
}

// A bitmap's size, before anything of that size is made.
void CheckSize(qint64 width, qint64 height, TMetaEngine &engine)
{
    try {
        CheckBitmapSize(width, height);
    } catch (const AppError &) {
        Bad();
    }
    if (!engine.AcceptBitmap(width, height))
        Bad();
}

class TPlusReader
{
public:
    explicit TPlusReader(TMetaEngine &engine) : FEngine(engine) {}

    TPlusBrush Brush(const TMetaBytes &d);
    TPlusPen Pen(const TMetaBytes &d);
    QPainterPath Path(const TMetaBytes &d);
    TPlusRegion Region(const TMetaBytes &d);
    TPlusImage Image(const TMetaBytes &d);
    TPlusFont Font(const TMetaBytes &d);
    TPlusStringFormat StringFormat(const TMetaBytes &d);
    TPlusImageAttributes ImageAttributes(const TMetaBytes &d);

private:
    struct TBlend
    {
        QVector<double> Positions;
        QVector<QColor> Colors;       // preset colours
        QVector<double> Factors;      // or blend factors
    };
    TBlend Blend(const TMetaBytes &d, qint64 &off, bool colors);
    QBrush LinearGradient(const TMetaBytes &d);
    QBrush PathGradient(const TMetaBytes &d);
    QBrush Texture(const TMetaBytes &d);
    TPlusRegion RegionNode(const TMetaBytes &d, qint64 &off, int depth);
    TPlusRegion Combine(quint32 op, TPlusRegion a, TPlusRegion b);
    QImage Bitmap(const TMetaBytes &d);
    QImage CompressedBitmap(QByteArrayView bytes);

    TMetaEngine &FEngine;
};

TPlusReader::TBlend TPlusReader::Blend(const TMetaBytes &d, qint64 &off, bool colors)
{
    TBlend blend;
    const qint64 count = CountOf(d, off, 8);
    off += 4;
    FEngine.ChargePoints(count);
    blend.Positions.reserve(count);
    for (qint64 i = 0; i < count; ++i)
        blend.Positions << std::clamp(Float(d, off + i * 4), 0.0, 1.0);
    off += count * 4;
    for (qint64 i = 0; i < count; ++i) {
        if (colors)
            blend.Colors << PlusArgb(d.U32(off + i * 4));
        else
            blend.Factors << std::clamp(Float(d, off + i * 4), 0.0, 1.0);
    }
    off += count * 4;
    return blend;
}

// A linear gradient runs across its rectangle from left to right; the
// brush's transform gives it any other direction.
QBrush TPlusReader::LinearGradient(const TMetaBytes &d)
{
    const quint32 flags = d.U32(0);
    const quint32 wrap = d.U32(4);
    const QRectF rect = ReadPlusRect(d, 8, false);
    const QColor start = PlusArgb(d.U32(24)), end = PlusArgb(d.U32(28));
    qint64 off = 40;
    QTransform transform;
    if (flags & BrushDataTransform) {
        transform = ReadPlusTransform(d, off);
        off += 24;
    }
    QLinearGradient gradient(rect.topLeft(), QPointF(rect.right(), rect.top()));
    bool stopsSet = false;
    gradient.setSpread(Spread(wrap));
    if (flags & BrushDataPresetColors) {
        const TBlend blend = Blend(d, off, true);
        stopsSet = !blend.Positions.isEmpty();
        for (int i = 0; i < blend.Positions.size(); ++i)
            gradient.setColorAt(blend.Positions[i], blend.Colors[i]);
    } else if (flags & BrushDataBlendFactorsH) {
        // Each factor is the share of the end colour at its position.
        const TBlend blend = Blend(d, off, false);
        stopsSet = !blend.Positions.isEmpty();
        for (int i = 0; i < blend.Positions.size(); ++i)
            gradient.setColorAt(blend.Positions[i], Mix(start, end, blend.Factors[i]));
    }
    if (flags & BrushDataBlendFactorsV)
        Blend(d, off, false);   // across a horizontal ramp: nothing to show
    // stops() gives black to white while none are set.
    if (!stopsSet) {
        gradient.setColorAt(0, start);
        gradient.setColorAt(1, end);
    }
    QBrush brush(gradient);
    brush.setTransform(transform);
    return brush;
}

// A path gradient blends from its centre colour at the centre point to the
// surrounding colour at the boundary. Drawn as a radial gradient that
// reaches the boundary's bounding box (an ellipse when the box is not
// square), with the surrounding colour of the first boundary point.
QBrush TPlusReader::PathGradient(const TMetaBytes &d)
{
    // The wrap mode (at 4) tiles the boundary shape: drawn padded.
    const quint32 flags = d.U32(0);
    const QColor centreColor = PlusArgb(d.U32(8));
    const QPointF centre(Float(d, 12), Float(d, 16));
    const qint64 surroundCount = CountOf(d, 20, 4);
    FEngine.ChargePoints(surroundCount);
    const QColor surround = surroundCount > 0 ? PlusArgb(d.U32(24)) : centreColor;
    qint64 off = 24 + surroundCount * 4;
    QRectF box;
    if (flags & BrushDataPath) {
        const qint64 size = d.U32(off);
        d.Need(off + 4, size);
        box = Path(TMetaBytes(d.View(off + 4, size))).boundingRect();
        off += 4 + size;
    } else {
        const qint64 count = CountOf(d, off, 8);
        box = ReadPlusPoints(d, off + 4, count, false, false, FEngine, &off).boundingRect();
    }
    QTransform transform;
    if (flags & BrushDataTransform) {
        transform = ReadPlusTransform(d, off);
        off += 24;
    }
    // Blend positions run from the boundary (0) to the centre (1).
    QRadialGradient gradient(QPointF(0, 0), 1);
    bool stopsSet = false;
    if (flags & BrushDataPresetColors) {
        const TBlend blend = Blend(d, off, true);
        stopsSet = !blend.Positions.isEmpty();
        for (int i = 0; i < blend.Positions.size(); ++i)
            gradient.setColorAt(1 - blend.Positions[i], blend.Colors[i]);
    } else if (flags & BrushDataBlendFactorsH) {
        const TBlend blend = Blend(d, off, false);
        stopsSet = !blend.Positions.isEmpty();
        for (int i = 0; i < blend.Positions.size(); ++i)
            gradient.setColorAt(1 - blend.Positions[i], Mix(surround, centreColor, blend.Factors[i]));
    }
    if (flags & BrushDataFocusScales) {
        d.Need(off, 12);   // a count of two, then the x and y scales: not drawn
        off += 12;
    }
    if (!stopsSet) {
        gradient.setColorAt(0, centreColor);
        gradient.setColorAt(1, surround);
    }
    double rx = std::max(centre.x() - box.left(), box.right() - centre.x());
    double ry = std::max(centre.y() - box.top(), box.bottom() - centre.y());
    if (!(rx > 1e-9) && !(ry > 1e-9))
        rx = ry = 1;
    else if (!(rx > 1e-9))
        rx = ry;
    else if (!(ry > 1e-9))
        ry = rx;
    QBrush brush(gradient);
    brush.setTransform(QTransform::fromScale(rx, ry) * QTransform::fromTranslate(centre.x(), centre.y())
                       * transform);
    return brush;
}

QBrush TPlusReader::Texture(const TMetaBytes &d)
{
    const quint32 flags = d.U32(0);
    qint64 off = 8;
    QTransform transform;
    if (flags & BrushDataTransform) {
        transform = ReadPlusTransform(d, off);
        off += 24;
    }
    const TPlusImage image = Image(d.From(off));
    if (image.Bitmap.isNull())
        return QBrush(Qt::NoBrush);   // a metafile texture is not tiled
    QBrush brush(image.Bitmap);
    brush.setTransform(transform);
    return brush;
}

TPlusBrush TPlusReader::Brush(const TMetaBytes &d)
{
    const quint32 type = d.U32(4);
    const TMetaBytes data = d.From(8);
    TPlusBrush brush;
    switch (type) {
    case BrushSolid:
        brush.Brush = QBrush(PlusArgb(data.U32(0)));
        break;
    case BrushHatch:
        brush.Brush = HatchBrush(data.S32(0), PlusArgb(data.U32(4)), PlusArgb(data.U32(8)));
        break;
    case BrushTexture:
        brush.Brush = Texture(data);
        break;
    case BrushPathGradient:
        brush.Brush = PathGradient(data);
        break;
    case BrushLinearGradient:
        brush.Brush = LinearGradient(data);
        break;
    default:
        Bad();
    }
    return brush;
}

Qt::PenCapStyle Cap(qint32 cap)
{
    switch (cap) {
    case 1: case 0x11: return Qt::SquareCap;       // square, square anchor
    case 2: case 0x12: return Qt::RoundCap;        // round, round anchor
    default: return Qt::FlatCap;                   // flat, triangle, arrows, custom
    }
}

TPlusPen TPlusReader::Pen(const TMetaBytes &d)
{
    TPlusPen pen;
    const quint32 flags = d.U32(8);
    pen.Unit = Unit(d.U32(12));
    pen.Width = Float(d, 16);
    if (pen.Width < 0)
        Bad();
    pen.Width = std::min(pen.Width, 1e7);
    qint64 off = 20;
    if (flags & PenDataTransform) {
        pen.Transform = ReadPlusTransform(d, off);
        off += 24;
    }
    bool hasCap = false;
    if (flags & PenDataStartCap) {
        pen.Cap = Cap(d.S32(off));
        hasCap = true;
        off += 4;
    }
    if (flags & PenDataEndCap) {
        if (!hasCap)
            pen.Cap = Cap(d.S32(off));
        off += 4;
    }
    if (flags & PenDataJoin) {
        switch (d.S32(off)) {
        case 1: pen.Join = Qt::BevelJoin; break;
        case 2: pen.Join = Qt::RoundJoin; break;
        case 3: pen.Join = Qt::SvgMiterJoin; break;   // beveled past the miter limit
        default: pen.Join = Qt::MiterJoin; break;
        }
        off += 4;
    }
    if (flags & PenDataMiterLimit) {
        pen.MiterLimit = std::clamp(Float(d, off), 1.0, 1e4);
        off += 4;
    }
    int lineStyle = 0;
    if (flags & PenDataLineStyle) {
        lineStyle = d.S32(off);
        off += 4;
    }
    if (flags & PenDataDashedLineCap) {
        d.Need(off, 4);   // the caps of the dashes: drawn as the line's
        off += 4;
    }
    if (flags & PenDataDashedLineOffset) {
        pen.DashOffset = std::clamp(Float(d, off), -1e6, 1e6);
        off += 4;
    }
    QVector<qreal> custom;
    if (flags & PenDataDashedLine) {
        const qint64 count = CountOf(d, off, 4);
        FEngine.ChargePoints(count);
        custom.reserve(count);
        for (qint64 i = 0; i < count; ++i)
            custom << std::clamp(Float(d, off + 4 + i * 4), 1e-3, 1e6);
        off += 4 + count * 4;
    }
    if (flags & PenDataNonCenter) {
        pen.Inset = d.S32(off) == 1;
        off += 4;
    }
    if (flags & PenDataCompoundLine) {
        const qint64 count = CountOf(d, off, 4);
        off += 4 + count * 4;
    }
    if (flags & PenDataCustomStartCap) {
        const qint64 size = CountOf(d, off, 1);
        off += 4 + size;
    }
    if (flags & PenDataCustomEndCap) {
        const qint64 size = CountOf(d, off, 1);
        off += 4 + size;
    }
    // The dashes of the line styles, in pen widths, as GDI+ draws them.
    switch (lineStyle) {
    case 1: pen.Dashes = {3, 1}; break;
    case 2: pen.Dashes = {1, 1}; break;
    case 3: pen.Dashes = {3, 1, 1, 1}; break;
    case 4: pen.Dashes = {3, 1, 1, 1, 1, 1}; break;
    case 5: pen.Dashes = custom; break;
    default: break;
    }
    if (!pen.Dashes.isEmpty()) {
        if (pen.Dashes.size() % 2)   // dashes and gaps alternate: an odd pattern runs twice
            pen.Dashes += QVector<qreal>(pen.Dashes);
        pen.Style = Qt::CustomDashLine;
    }
    pen.Brush = Brush(d.From(off)).Brush;
    return pen;
}

QPainterPath TPlusReader::Path(const TMetaBytes &d)
{
    const qint64 count = d.U32(4);
    const quint32 flags = d.U32(8);
    const bool relative = flags & PathRelative;
    qint64 typesOffset = 0;
    const QPolygonF points =
        ReadPlusPoints(d, 12, count, flags & PathCompressed, relative, FEngine, &typesOffset);
    QByteArray types;
    if (flags & PathRunLength) {
        // Pairs of a run count (low 6 bits) and the type of the run.
        types.reserve(count);
        qint64 off = typesOffset;
        while (types.size() < count) {
            const int run = d.U8(off) & 0x3F;
            const char type = char(d.U8(off + 1));
            types.append(QByteArray(int(std::min<qint64>(run, count - types.size())), type));
            off += 2;
        }
    } else {
        types = d.View(typesOffset, count).toByteArray();
    }
    QPainterPath path;
    bool open = false;
    for (qint64 i = 0; i < count; ++i) {
        qint64 last = i;
        switch (quint8(types[i]) & 0x0F) {
        case 0:
            path.moveTo(points[i]);
            open = true;
            break;
        case 1:
            if (open)
                path.lineTo(points[i]);
            else
                path.moveTo(points[i]);
            open = true;
            break;
        case 3:
            if (i + 2 >= count)
                Bad();
            if (!open)
                path.moveTo(points[i]);
            path.cubicTo(points[i], points[i + 1], points[i + 2]);
            last = i + 2;
            open = true;
            break;
        default:
            Bad();
        }
        if (quint8(types[last]) & 0x80) {
            path.closeSubpath();
            open = false;
        }
        i = last;
    }
    return path;
}

// The complement of a region within the finite stand-in for the plane.
QPainterPath Outside(const QPainterPath &path)
{
    QPainterPath all;
    all.addRect(QRectF(-kInfiniteSide, -kInfiniteSide, 2 * kInfiniteSide, 2 * kInfiniteSide));
    return all.subtracted(path);
}

TPlusRegion TPlusReader::Combine(quint32 op, TPlusRegion a, TPlusRegion b)
{
    FEngine.ChargePoints(qint64(a.Path.elementCount()) + b.Path.elementCount());
    TPlusRegion r;
    switch (op) {
    case RegionAnd:
        if (a.Infinite)
            return b;
        if (b.Infinite)
            return a;
        r.Path = a.Path.intersected(b.Path);
        break;
    case RegionOr:
        if (a.Infinite || b.Infinite)
            r.Infinite = true;
        else
            r.Path = a.Path.united(b.Path);
        break;
    case RegionXor:
        if (a.Infinite && b.Infinite)
            break;
        if (a.Infinite || b.Infinite)
            r.Path = Outside(a.Infinite ? b.Path : a.Path);
        else
            r.Path = a.Path.united(b.Path).subtracted(a.Path.intersected(b.Path));
        break;
    case RegionExclude:   // a without b
        if (b.Infinite)
            break;
        r.Path = a.Infinite ? Outside(b.Path) : a.Path.subtracted(b.Path);
        break;
    case RegionComplement:   // b without a
        if (a.Infinite)
            break;
        r.Path = b.Infinite ? Outside(a.Path) : b.Path.subtracted(a.Path);
        break;
    default:
        Bad();
    }
    return r;
}

TPlusRegion TPlusReader::RegionNode(const TMetaBytes &d, qint64 &off, int depth)
{
    if (depth > kMaxRegionDepth)
        Bad();
    FEngine.ChargePoints(1);
    const quint32 type = d.U32(off);
    off += 4;
    TPlusRegion region;
    switch (type) {
    case RegionRect: {
        const QRectF r = ReadPlusRect(d, off, false);
        off += 16;
        region.Path.addRect(r.normalized());
        break;
    }
    case RegionPath: {
        const qint64 size = d.U32(off);
        d.Need(off + 4, size);
        region.Path = Path(TMetaBytes(d.View(off + 4, size)));
        off += 4 + size;
        break;
    }
    case RegionEmpty:
        break;
    case RegionInfinite:
        region.Infinite = true;
        break;
    default: {
        TPlusRegion left = RegionNode(d, off, depth + 1);
        TPlusRegion right = RegionNode(d, off, depth + 1);
        region = Combine(type, std::move(left), std::move(right));
        break;
    }
    }
    return region;
}

TPlusRegion TPlusReader::Region(const TMetaBytes &d)
{
    // The node count (at 4) only says how many nodes follow; the nodes
    // themselves say where they end.
    qint64 off = 8;
    return RegionNode(d, off, 0);
}

QImage TPlusReader::CompressedBitmap(QByteArrayView bytes)
{
    const TMetaBytes d(bytes);
    try {
        if (d.Has(0, 26) && bytes.startsWith("BM")) {
            const bool core = d.U32(14) == 12;
            const qint64 w = core ? d.U16(18) : d.S32(18);
            const qint64 h = core ? d.S16(20) : d.S32(22);
            CheckSize(std::llabs(w), std::llabs(h), FEngine);
            return DecodeBmp(bytes.toByteArray()).convertToFormat(QImage::Format_RGB32);
        }
        if (bytes.startsWith("\xFF\xD8\xFF")) {
            const JpegDecoder decoder(bytes.toByteArray());
            CheckSize(decoder.Width(), decoder.Height(), FEngine);
            return decoder.Decode(1, false).convertToFormat(QImage::Format_RGB32);
        }
        if (bytes.startsWith("\x89PNG") || bytes.startsWith("GIF8")) {
            QByteArray copy = bytes.toByteArray();
            QBuffer buffer(&copy);
            buffer.open(QIODevice::ReadOnly);
            QImageReader reader(&buffer, bytes.startsWith("GIF8") ? "gif" : "png");
            const QSize size = reader.size();
            CheckSize(size.width(), size.height(), FEngine);
            QImage image = reader.read();
            if (image.isNull())
                Bad();
            return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                                 : QImage::Format_RGB32);
        }
    } catch (const AppError &) {
        Bad();
    }
    return QImage();   // TIFF, EXIF and the like: not drawn
}

// Pixel formats: bits per pixel in bits 8-15, indexed 0x10000, alpha
// 0x40000, premultiplied 0x80000; the format's number in the low byte.
QImage TPlusReader::Bitmap(const TMetaBytes &d)
{
    const qint64 width = d.S32(0), height = d.S32(4), stride = d.S32(8);
    const quint32 format = d.U32(12);
    const quint32 type = d.U32(16);
    if (type == 1)
        return CompressedBitmap(d.View(20, d.Size() - 20));
    if (type != 0)
        Bad();
    const int id = int(format & 0xFF);
    if (id < 1 || id > 11)
        return QImage();   // 48 and 64 bits per pixel (linear light): not drawn
    const int bpp = int((format >> 8) & 0xFF);
    static constexpr int kBpp[12] = {0, 1, 4, 8, 16, 16, 16, 16, 24, 32, 32, 32};
    if (bpp != kBpp[id])
        Bad();
    CheckSize(width, height, FEngine);
    qint64 off = 20;
    QVector<QRgb> palette;
    if (id <= 3) {
        const quint32 paletteFlags = d.U32(off);
        const qint64 count = CountOf(d, off + 4, 4);
        if (count > 256)
            Bad();
        for (qint64 i = 0; i < count; ++i) {
            const QColor c = PlusArgb(d.U32(off + 8 + i * 4));
            palette << ((paletteFlags & 1) ? c.rgba() : (c.rgba() | 0xFF000000));
        }
        off += 8 + count * 4;
    }
    const qint64 rowBytes = (width * bpp + 7) / 8;
    if (stride < rowBytes)
        Bad();
    d.Need(off, stride * (height - 1) + rowBytes);
    const bool alpha = id == 7 || id == 10 || id == 11
                       || std::any_of(palette.begin(), palette.end(), [](QRgb c) { return qAlpha(c) != 255; });
    QImage image(int(width), int(height), id == 11 ? QImage::Format_ARGB32_Premultiplied : QImage::Format_ARGB32);
    if (image.isNull())
        throw std::bad_alloc();
    auto expand5 = [](int v) { return (v << 3) | (v >> 2); };
    for (qint64 y = 0; y < height; ++y) {
        const uchar *row = d.Data() + off + y * stride;
        QRgb *out = reinterpret_cast<QRgb *>(image.scanLine(int(y)));
        for (qint64 x = 0; x < width; ++x) {
            QRgb c = 0;
            auto indexed = [&](int index) { return index < palette.size() ? palette[index] : qRgb(0, 0, 0); };
            switch (id) {
            case 1: c = indexed((row[x / 8] >> (7 - x % 8)) & 1); break;
            case 2: c = indexed((row[x / 2] >> (x % 2 ? 0 : 4)) & 15); break;
            case 3: c = indexed(row[x]); break;
            case 4: c = qRgb(row[x * 2 + 1], row[x * 2 + 1], row[x * 2 + 1]); break;
            case 5: case 7: {
                const int v = row[x * 2] | row[x * 2 + 1] << 8;
                c = qRgba(expand5((v >> 10) & 31), expand5((v >> 5) & 31), expand5(v & 31),
                          id == 7 && !(v & 0x8000) ? 0 : 255);
                break;
            }
            case 6: {
                const int v = row[x * 2] | row[x * 2 + 1] << 8;
                const int g = (v >> 5) & 63;
                c = qRgb(expand5(v >> 11), (g << 2) | (g >> 4), expand5(v & 31));
                break;
            }
            case 8: c = qRgb(row[x * 3 + 2], row[x * 3 + 1], row[x * 3]); break;
            case 9: c = qRgb(row[x * 4 + 2], row[x * 4 + 1], row[x * 4]); break;
            case 10: c = qRgba(row[x * 4 + 2], row[x * 4 + 1], row[x * 4], row[x * 4 + 3]); break;
            case 11: {
                // Premultiplied: no colour may exceed its alpha.
                const int a = row[x * 4 + 3];
                c = qRgba(std::min<int>(row[x * 4 + 2], a), std::min<int>(row[x * 4 + 1], a),
                          std::min<int>(row[x * 4], a), a);
                break;
            }
            }
            out[x] = c;
        }
    }
    return image.convertToFormat(alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
}

TPlusImage TPlusReader::Image(const TMetaBytes &d)
{
    TPlusImage image;
    switch (d.U32(4)) {
    case 1:
        image.Bitmap = Bitmap(d.From(8));
        break;
    case 2: {
        const quint32 type = d.U32(8);
        if (type < 1 || type > 5)
            Bad();
        const qint64 size = d.U32(12);
        image.Metafile = d.View(16, size).toByteArray();
        image.MetafileType = int(type);
        break;
    }
    default:
        break;   // of an unknown kind: nothing to draw
    }
    return image;
}

TPlusFont TPlusReader::Font(const TMetaBytes &d)
{
    TPlusFont font;
    font.EmSize = Float(d, 4);
    if (font.EmSize < 0)
        Bad();
    font.SizeUnit = Unit(d.U32(8));
    const quint32 style = d.U32(12);
    font.Bold = style & 1;
    font.Italic = style & 2;
    font.Underline = style & 4;
    font.StrikeOut = style & 8;
    const qint64 length = CountOf(d, 20, 2);
    if (length > TMetaEngine::kMaxTextLength)
        Bad();
    font.Family.reserve(int(length));
    for (qint64 i = 0; i < length; ++i) {
        const char16_t c = char16_t(d.U16(24 + i * 2));
        if (c == 0)
            break;
        font.Family.append(QChar(c));
    }
    return font;
}

TPlusStringFormat TPlusReader::StringFormat(const TMetaBytes &d)
{
    TPlusStringFormat format;
    format.Flags = d.U32(4);
    format.Alignment = std::clamp(d.S32(12), 0, 2);
    format.LineAlign = std::clamp(d.S32(16), 0, 2);
    format.LeadingMargin = std::clamp(Float(d, 36), -1e3, 1e3);
    format.TrailingMargin = std::clamp(Float(d, 40), -1e3, 1e3);
    format.Tracking = std::clamp(Float(d, 44), 0.0, 1e3);
    // Tab stops (floats) and character ranges (pairs of integers) follow.
    const qint64 tabs = d.U32(52), ranges = d.U32(56);
    d.Need(60, tabs * 4 + ranges * 8);
    return format;
}

TPlusImageAttributes TPlusReader::ImageAttributes(const TMetaBytes &d)
{
    TPlusImageAttributes attributes;
    attributes.WrapMode = d.S32(8);
    attributes.ClampColor = PlusArgb(d.U32(12));
    return attributes;
}

} // namespace

QColor PlusArgb(quint32 argb)
{
    return QColor::fromRgba(QRgb(argb));
}

QPolygonF ReadPlusPoints(const TMetaBytes &data, qint64 offset, qint64 count, bool compressed, bool relative,
                         TMetaEngine &engine, qint64 *end)
{
    if (count < 0)
        Bad();
    // Each point takes at least this much: a count the bytes cannot hold
    // fails before anything is made.
    const qint64 minSize = relative ? 2 : compressed ? 4 : 8;
    data.Need(offset, count * minSize);
    engine.ChargePoints(count);
    QPolygonF points;
    points.reserve(count);
    qint64 off = offset;
    if (relative) {
        // 7-bit values in one byte, 15-bit ones (top bit set) in two, high
        // byte first; each an offset from the previous point.
        auto value = [&]() -> int {
            const int b = data.U8(off++);
            if (!(b & 0x80))
                return (b ^ 0x40) - 0x40;
            const int v = (b & 0x7F) << 8 | data.U8(off++);
            return (v ^ 0x4000) - 0x4000;
        };
        double x = 0, y = 0;
        for (qint64 i = 0; i < count; ++i) {
            x += value();
            y += value();
            points << QPointF(x, y);
        }
    } else {
        for (qint64 i = 0; i < count; ++i, off += minSize) {
            if (compressed)
                points << QPointF(data.S16(off), data.S16(off + 2));
            else
                points << QPointF(Float(data, off), Float(data, off + 4));
        }
    }
    if (end)
        *end = off;
    return points;
}

QRectF ReadPlusRect(const TMetaBytes &data, qint64 offset, bool compressed)
{
    if (compressed)
        return QRectF(data.S16(offset), data.S16(offset + 2), data.S16(offset + 4), data.S16(offset + 6));
    return QRectF(Float(data, offset), Float(data, offset + 4), Float(data, offset + 8), Float(data, offset + 12));
}

QTransform ReadPlusTransform(const TMetaBytes &data, qint64 offset)
{
    return QTransform(Float(data, offset), Float(data, offset + 4), Float(data, offset + 8),
                      Float(data, offset + 12), Float(data, offset + 16), Float(data, offset + 20));
}

TPlusObject ReadPlusObject(TPlusObjectType type, const TMetaBytes &data, TMetaEngine &engine)
{
    TPlusReader reader(engine);
    switch (type) {
    case TPlusObjectType::Brush: return reader.Brush(data);
    case TPlusObjectType::Pen: return reader.Pen(data);
    case TPlusObjectType::Path: return TPlusPath{reader.Path(data)};
    case TPlusObjectType::Region: return reader.Region(data);
    case TPlusObjectType::Image: return reader.Image(data);
    case TPlusObjectType::Font: return reader.Font(data);
    case TPlusObjectType::StringFormat: return reader.StringFormat(data);
    case TPlusObjectType::ImageAttributes: return reader.ImageAttributes(data);
    default: return std::monostate();
    }
}
