#include "MetaEngine.h"

// Local
#include "AppError.h"
#include "BmpDecoder.h"

// Qt
#include <QFontDatabase>
#include <QGlyphRun>
#include <QLinearGradient>
#include <QMutex>
#include <QPainterPathStroker>
#include <QStringDecoder>

// Std
#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr double kPi = 3.14159265358979323846;

// Canvas coordinates beyond this are clamped before they become integers.
constexpr int kCoordLimit = 1 << 24;

// The work allowed per file: a number of full covers of the canvas plus a
// fixed amount, never more than an absolute ceiling.
constexpr qint64 kWorkPerCanvas = MetaWorkLimit(64);
constexpr qint64 kWorkBase = MetaWorkLimit(qint64(1) << 26);
constexpr qint64 kWorkCeiling = MetaWorkLimit(qint64(1) << 32);

// Text costs more than its area: making a font matches it through
// fontconfig and opens its file, and a character the font lacks is shaped on
// its own with a fallback font. They are charged as the pixels they are
// worth, so that a file of ever new font sizes or of characters no font has
// cannot keep the renderer busy.
constexpr qint64 kWorkPerFont = 65536;
constexpr qint64 kWorkPerFallbackCharacter = 4096;

// The size in pixels beyond which Qt draws glyphs as outlines rather than
// from images it keeps (QT_MAX_CACHED_GLYPH_SIZE).
constexpr double kMaxGlyphImageSize = 64;

int ClampRound(double v)
{
    if (!std::isfinite(v))
        return 0;
    if (v > kCoordLimit)
        return kCoordLimit;
    if (v < -kCoordLimit)
        return -kCoordLimit;
    return int(std::lround(v));
}

bool Finite(const QTransform &t)
{
    const double m[] = {t.m11(), t.m12(), t.m13(), t.m21(), t.m22(), t.m23(), t.m31(), t.m32(), t.m33()};
    for (double v : m) {
        if (!std::isfinite(v) || std::fabs(v) > 1e12)
            return false;
    }
    return true;
}

// The twenty colours of the default palette.
constexpr QRgb kDefaultPalette[20] = {
    0xff000000, 0xff800000, 0xff008000, 0xff808000, 0xff000080, 0xff800080, 0xff008080,
    0xffc0c0c0, 0xffc0dcc0, 0xffa6caf0, 0xfffffbf0, 0xffa0a0a4, 0xff808080, 0xffff0000,
    0xff00ff00, 0xffffff00, 0xff0000ff, 0xffff00ff, 0xff00ffff, 0xffffffff,
};

// The Symbol font's code points 0x20..0xFF as Unicode (0: nothing to draw).
constexpr char16_t kSymbolMap[224] = {
    0x0020, 0x0021, 0x2200, 0x0023, 0x2203, 0x0025, 0x0026, 0x220B, 0x0028, 0x0029, 0x2217, 0x002B,
    0x002C, 0x2212, 0x002E, 0x002F, 0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F, 0x2245, 0x0391, 0x0392, 0x03A7,
    0x0394, 0x0395, 0x03A6, 0x0393, 0x0397, 0x0399, 0x03D1, 0x039A, 0x039B, 0x039C, 0x039D, 0x039F,
    0x03A0, 0x0398, 0x03A1, 0x03A3, 0x03A4, 0x03A5, 0x03C2, 0x03A9, 0x039E, 0x03A8, 0x0396, 0x005B,
    0x2234, 0x005D, 0x22A5, 0x005F, 0x203E, 0x03B1, 0x03B2, 0x03C7, 0x03B4, 0x03B5, 0x03C6, 0x03B3,
    0x03B7, 0x03B9, 0x03D5, 0x03BA, 0x03BB, 0x03BC, 0x03BD, 0x03BF, 0x03C0, 0x03B8, 0x03C1, 0x03C3,
    0x03C4, 0x03C5, 0x03D6, 0x03C9, 0x03BE, 0x03C8, 0x03B6, 0x007B, 0x007C, 0x007D, 0x223C, 0,
    // 0x80..0x9F are not used by the font
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0x20AC, 0x03D2, 0x2032, 0x2264, 0x2044, 0x221E, 0x0192, 0x2663, 0x2666, 0x2665, 0x2660, 0x2194,
    0x2190, 0x2191, 0x2192, 0x2193, 0x00B0, 0x00B1, 0x2033, 0x2265, 0x00D7, 0x221D, 0x2202, 0x2022,
    0x00F7, 0x2260, 0x2261, 0x2248, 0x2026, 0x23D0, 0x23AF, 0x21B5, 0x2135, 0x2111, 0x211C, 0x2118,
    0x2297, 0x2295, 0x2205, 0x2229, 0x222A, 0x2283, 0x2287, 0x2284, 0x2282, 0x2286, 0x2208, 0x2209,
    0x2220, 0x2207, 0x00AE, 0x00A9, 0x2122, 0x220F, 0x221A, 0x22C5, 0x00AC, 0x2227, 0x2228, 0x21D4,
    0x21D0, 0x21D1, 0x21D2, 0x21D3, 0x25CA, 0x27E8, 0x00AE, 0x00A9, 0x2122, 0x2211, 0x239B, 0x239C,
    0x239D, 0x23A1, 0x23A2, 0x23A3, 0x23A7, 0x23A8, 0x23A9, 0x23AA, 0, 0x27E9, 0x222B, 0x2320,
    0x23AE, 0x2321, 0x239E, 0x239F, 0x23A0, 0x23A4, 0x23A5, 0x23A6, 0x23AB, 0x23AC, 0x23AD, 0,
};

// The Wingdings signs that documents use most (bullets, boxes, ticks).
struct TWingding
{
    quint8 Code;
    char16_t Unicode;
};
constexpr TWingding kWingdings[] = {
    {0x4A, 0x263A}, {0x4C, 0x2639}, {0x6C, 0x25CF}, {0x6E, 0x25A0}, {0x6F, 0x25A1}, {0x70, 0x25FB},
    {0x71, 0x2751}, {0x72, 0x2752}, {0x73, 0x2B27}, {0x74, 0x29EB}, {0x75, 0x25C6}, {0x76, 0x2756},
    {0x77, 0x2B25}, {0x9F, 0x2022}, {0xA1, 0x25CB}, {0xA7, 0x25AA}, {0xA8, 0x25FB}, {0xD8, 0x27A2},
    {0xE0, 0x27A0}, {0xE8, 0x2794}, {0xF0, 0x21E8}, {0xFB, 0x2717}, {0xFC, 0x2714}, {0xFD, 0x2612},
    {0xFE, 0x2611},
};

QStringList FindFamilies(const QString &face, int pitchAndFamily)
{
    static const QStringList sans = {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")};
    static const QStringList narrow = {QStringLiteral("Liberation Sans Narrow"), QStringLiteral("DejaVu Sans Condensed"),
                                       QStringLiteral("DejaVu Sans")};
    static const QStringList serif = {QStringLiteral("Liberation Serif"), QStringLiteral("DejaVu Serif")};
    static const QStringList mono = {QStringLiteral("Liberation Mono"), QStringLiteral("DejaVu Sans Mono")};

    const QString f = face.toLower();
    auto has = [&f](std::initializer_list<const char *> words) {
        for (const char *w : words) {
            if (f.contains(QLatin1String(w)))
                return true;
        }
        return false;
    };
    QStringList result;
    if (!face.isEmpty() && QFontDatabase::hasFamily(face))
        result << face;
    if (has({"narrow", "condensed"}))
        result << narrow;
    else if (has({"courier", "consola", "console", "mono", "fixedsys", "terminal", "typewriter"}))
        result << mono;
    else if (has({"symbol", "times", "georgia", "cambria", "garamond", "antiqua", "palatino", "roman", "serif",
                  "bookman", "schoolbook", "minion"})
             && !f.contains(QLatin1String("sans")))
        result << serif;
    else if (has({"arial", "helvetica", "verdana", "tahoma", "segoe", "calibri", "sans", "trebuchet", "gothic",
                  "system", "franklin", "frutiger", "univers", "futura"}))
        result << sans;
    else if ((pitchAndFamily & 0xF0) == 0x10)
        result << serif;
    else if ((pitchAndFamily & 0xF0) == 0x30 || (pitchAndFamily & 0x3) == 1)
        result << mono;
    else
        result << sans;
    return result;
}

// Asking the font database whether a family exists goes through fontconfig
// and is slow; the answers are kept for the life of the program.
QStringList FamiliesFor(const QString &face, int pitchAndFamily)
{
    static QMutex mutex;
    static QHash<QString, QStringList> known;
    const QString key = face + QLatin1Char('|') + QString::number(pitchAndFamily);
    const QMutexLocker lock(&mutex);
    if (auto it = known.constFind(key); it != known.constEnd())
        return *it;
    if (known.size() > 4096)
        known.clear();
    const QStringList families = FindFamilies(face, pitchAndFamily);
    known.insert(key, families);
    return families;
}

const char *CodecForCharset(int charset)
{
    switch (charset) {
    case 77: return "macintosh";
    case 128: return "Shift_JIS";
    case 129: return "windows-949";
    case 130: return "Johab";
    case 134: return "GBK";
    case 136: return "Big5";
    case 161: return "windows-1253";
    case 162: return "windows-1254";
    case 163: return "windows-1258";
    case 177: return "windows-1255";
    case 178: return "windows-1256";
    case 186: return "windows-1257";
    case 204: return "windows-1251";
    case 222: return "windows-874";
    case 238: return "windows-1250";
    case 255: return "IBM437";
    default: return "windows-1252";
    }
}

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

} // namespace

float TMetaBytes::F32(qint64 off) const
{
    const quint32 bits = U32(off);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// ---------------------------------------------------------------- set-up

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

// ---------------------------------------------------------------- colours

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

// ---------------------------------------------------------------- mapping

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

// ---------------------------------------------------------------- plain state

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

// ---------------------------------------------------------------- objects

TMetaPen TMetaEngine::PenFromLogPen(quint32 style, double width, QColor color)
{
    TMetaPen pen;
    pen.Style = int(style & 0xF);
    if (pen.Style > Gdi::PS_ALTERNATE)
        pen.Style = Gdi::PS_SOLID;
    pen.Width = std::isfinite(width) ? std::min(std::fabs(width), 1e7) : 0;
    pen.Color = color;
    switch (style & 0xF00) {
    case 0x100: pen.Cap = Qt::SquareCap; break;
    case 0x200: pen.Cap = Qt::FlatCap; break;
    default: pen.Cap = Qt::RoundCap; break;
    }
    switch (style & 0xF000) {
    case 0x1000: pen.Join = Qt::BevelJoin; break;
    case 0x2000: pen.Join = Qt::MiterJoin; break;
    default: pen.Join = Qt::RoundJoin; break;
    }
    return pen;
}

TMetaPen TMetaEngine::PenFromExtPen(quint32 style, double width, QColor color, const QVector<qreal> &dashes)
{
    TMetaPen pen = PenFromLogPen(style, width, color);
    pen.Extended = true;
    pen.Geometric = (style & 0xF0000) == 0x10000;
    if (!pen.Geometric)
        pen.Width = 0;
    pen.UserDashes = dashes;
    return pen;
}

TMetaBrush TMetaEngine::BrushFromLogBrush(quint32 style, quint32 colorRef, quint32 hatch) const
{
    TMetaBrush brush;
    brush.Color = Color(colorRef);
    switch (style) {
    case Gdi::BS_NULL:
        brush.Kind = TMetaBrush::Null;
        break;
    case Gdi::BS_HATCHED:
        brush.Kind = hatch <= 5 ? TMetaBrush::Hatched : TMetaBrush::Solid;
        brush.Hatch = int(hatch);
        break;
    default:
        brush.Kind = TMetaBrush::Solid;
        break;
    }
    return brush;
}

TMetaBrush TMetaEngine::PatternBrush(const QImage &pattern, bool mono)
{
    TMetaBrush brush;
    if (pattern.isNull()) {
        brush.Kind = TMetaBrush::Solid;
        brush.Color = Qt::black;
        return brush;
    }
    brush.Kind = TMetaBrush::Pattern;
    brush.PatternImage = pattern.convertToFormat(QImage::Format_RGB32);
    brush.Mono = mono;
    // Solid fallback for uses that take one colour (pens, flood fill).
    brush.Color = QColor::fromRgb(brush.PatternImage.pixel(0, 0));
    return brush;
}

void TMetaEngine::StoreObject(quint32 index, TMetaObject object)
{
    ++FObjectsMade;
    if (index == 0 || index >= kMaxObjects)
        return;
    for (quint32 i = quint32(FObjects.size()); i < index; ++i)
        FFreeSlots.insert(i);
    if (index >= FObjects.size())
        FObjects.resize(index + 1);
    FFreeSlots.erase(index);
    FObjects[index] = std::move(object);
}

// The free slots are kept in order, so that a file of many objects created
// and deleted does not search the whole table for each new one.
void TMetaEngine::AddObject(TMetaObject object)
{
    ++FObjectsMade;
    if (!FFreeSlots.empty()) {
        FObjects[*FFreeSlots.begin()] = std::move(object);
        FFreeSlots.erase(FFreeSlots.begin());
    } else if (qint64(FObjects.size()) < kMaxObjects) {
        FObjects.push_back(std::move(object));
    }
}

const TMetaObject *TMetaEngine::Object(quint32 index) const
{
    if (index >= FObjects.size() || std::holds_alternative<std::monostate>(FObjects[index]))
        return nullptr;
    return &FObjects[index];
}

void TMetaEngine::SelectObject(quint32 index)
{
    if (index & 0x80000000u) {
        SelectStockObject(index & 0x7FFFFFFFu);
        return;
    }
    const TMetaObject *object = Object(index);
    if (!object)
        return;
    if (auto pen = std::get_if<TMetaPen>(object))
        FState.Pen = *pen;
    else if (auto brush = std::get_if<TMetaBrush>(object))
        FState.Brush = *brush;
    else if (auto font = std::get_if<TMetaFont>(object))
        FState.Font = *font;
    else if (auto palette = std::get_if<TMetaPalette>(object))
        FState.Palette = palette->Entries;
    else if (auto region = std::get_if<TMetaRegion>(object))
        SelectClipRegion(region, Gdi::RGN_COPY);
}

void TMetaEngine::SelectStockObject(quint32 id)
{
    auto brush = [this](TMetaBrush::TKind kind, QRgb rgb) {
        FState.Brush = TMetaBrush();
        FState.Brush.Kind = kind;
        FState.Brush.Color = QColor::fromRgb(rgb);
    };
    auto pen = [this](int style, QRgb rgb) {
        FState.Pen = TMetaPen();
        FState.Pen.Style = style;
        FState.Pen.Color = QColor::fromRgb(rgb);
    };
    auto font = [this](const char *face, int pitch) {
        FState.Font = TMetaFont();
        FState.Font.Face = QString::fromLatin1(face);
        FState.Font.PitchAndFamily = pitch;
    };
    switch (id) {
    case 0: brush(TMetaBrush::Solid, 0xffffffff); break;
    case 1: brush(TMetaBrush::Solid, 0xffc0c0c0); break;
    case 2: brush(TMetaBrush::Solid, 0xff808080); break;
    case 3: brush(TMetaBrush::Solid, 0xff404040); break;
    case 4: brush(TMetaBrush::Solid, 0xff000000); break;
    case 5: brush(TMetaBrush::Null, 0xff000000); break;
    case 6: pen(Gdi::PS_SOLID, 0xffffffff); break;
    case 7: pen(Gdi::PS_SOLID, 0xff000000); break;
    case 8: pen(Gdi::PS_NULL, 0xff000000); break;
    case 10: case 11: case 16: font("Courier New", 0x31); break;
    case 12: case 13: case 14: case 17: font("Arial", 0x22); break;
    case 15: FState.Palette.clear(); break;
    case 18: brush(TMetaBrush::Solid, 0xffffffff); break;
    case 19: pen(Gdi::PS_SOLID, 0xff000000); break;
    default: break;
    }
}

void TMetaEngine::DeleteObject(quint32 index)
{
    if (index < FObjects.size() && !std::holds_alternative<std::monostate>(FObjects[index])) {
        FObjects[index] = std::monostate();
        FFreeSlots.insert(index);
    }
}

void TMetaEngine::SelectPalette(quint32 index)
{
    if (index & 0x80000000u) {
        FState.Palette.clear();
        return;
    }
    if (const TMetaObject *object = Object(index)) {
        if (auto palette = std::get_if<TMetaPalette>(object))
            FState.Palette = palette->Entries;
    }
}

void TMetaEngine::SetPaletteEntries(quint32 index, int start, const QVector<QRgb> &entries)
{
    if (index >= FObjects.size())
        return;
    auto palette = std::get_if<TMetaPalette>(&FObjects[index]);
    if (!palette || start < 0)
        return;
    for (qsizetype i = 0; i < entries.size() && start + i < palette->Entries.size(); ++i)
        palette->Entries[start + i] = entries[i];
}

void TMetaEngine::ResizePalette(quint32 index, int count)
{
    if (index >= FObjects.size() || count < 0 || count > 1024)
        return;
    if (auto palette = std::get_if<TMetaPalette>(&FObjects[index]))
        palette->Entries.resize(count, 0xff000000);
}

// ---------------------------------------------------------------- clipping

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
    const QPolygonF poly = FTransform.map(QPolygonF(r.normalized()));
    QPolygon ip;
    for (const QPointF &p : poly)
        ip << QPoint(ClampRound(p.x()), ClampRound(p.y()));
    return QRegion(ip);
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
    CombineClip(LogicalRectRegion(r), Gdi::RGN_AND);
}

void TMetaEngine::ExcludeClipRect(const QRectF &r)
{
    UpdateTransform();
    CombineClip(LogicalRectRegion(r), Gdi::RGN_DIFF);
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
        QPolygon ip;
        for (const QPointF &p : poly)
            ip << QPoint(ClampRound(p.x()), ClampRound(p.y()));
        const QRegion part(ip, rule);
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

// ---------------------------------------------------------------- painter

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

// ---------------------------------------------------------------- paths

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

// ---------------------------------------------------------------- lines and shapes

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
    FWork += qint64(w) * h;
    if (FWork > FWorkLimit)
        throw TMetaStop();
    std::vector<bool> seen(size_t(w) * size_t(h), false);
    std::vector<QPoint> stack{QPoint(sx, sy)};
    QVector<QRect> spans;
    while (!stack.empty()) {
        const QPoint s = stack.back();
        stack.pop_back();
        const int y = s.y();
        if (seen[size_t(y) * w + s.x()] || !inside(s.x(), y))
            continue;
        int l = s.x(), r = s.x();
        while (l > 0 && !seen[size_t(y) * w + l - 1] && inside(l - 1, y))
            --l;
        while (r + 1 < w && !seen[size_t(y) * w + r + 1] && inside(r + 1, y))
            ++r;
        for (int x = l; x <= r; ++x)
            seen[size_t(y) * w + x] = true;
        spans << QRect(l, y, r - l + 1, 1);
        for (int ny : {y - 1, y + 1}) {
            if (ny < 0 || ny >= h)
                continue;
            for (int x = l; x <= r; ++x) {
                if (!seen[size_t(ny) * w + x] && inside(x, ny)) {
                    stack.push_back(QPoint(x, ny));
                    while (x <= r && !seen[size_t(ny) * w + x] && inside(x, ny))
                        ++x;
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

// ---------------------------------------------------------------- regions

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

// ---------------------------------------------------------------- text

QString TMetaEngine::DecodeAnsi(QByteArrayView bytes, QVector<int> *bytesPerChar) const
{
    bytes = bytes.first(std::min<qsizetype>(bytes.size(), kMaxTextLength));
    const TMetaFont &f = FState.Font;
    QString text;
    QStringDecoder decoder(CodecForCharset(f.Charset));
    const bool symbol = f.Charset == 2 || f.Face.compare(QLatin1String("Symbol"), Qt::CaseInsensitive) == 0
                        || f.Face.startsWith(QLatin1String("Wingdings"), Qt::CaseInsensitive);
    const bool doubleByte = f.Charset == 128 || f.Charset == 129 || f.Charset == 130 || f.Charset == 134
                            || f.Charset == 136;
    if (symbol || !decoder.isValid()) {
        text = QString::fromLatin1(bytes);
    } else if (!doubleByte) {
        text = decoder.decode(bytes);
    } else {
        // Characters of one or two bytes: decoded a byte at a time to learn
        // which bytes (and so which advances) belong to which character.
        int pending = 0;
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            ++pending;
            const QString part = decoder.decode(bytes.sliced(i, 1));
            for (qsizetype c = 0; c < part.size(); ++c) {
                text += part[c];
                if (bytesPerChar)
                    bytesPerChar->append(c == 0 ? pending : 0);
            }
            if (!part.isEmpty())
                pending = 0;
        }
        return text;
    }
    if (bytesPerChar && text.size() == bytes.size())
        bytesPerChar->fill(1, text.size());
    return text;
}

QVector<double> TMetaEngine::AdvancesPerChar(const QVector<double> &perByte, const QVector<int> &bytesPerChar)
{
    QVector<double> result;
    qsizetype next = 0;
    for (int count : bytesPerChar) {
        double sum = 0;
        for (int i = 0; i < count && next < perByte.size(); ++i)
            sum += perByte[next++];
        result << sum;
    }
    return next == perByte.size() ? result : QVector<double>();
}

QString TMetaEngine::MapSymbolText(const QString &text) const
{
    const QString &face = FState.Font.Face;
    const bool symbol = face.compare(QLatin1String("Symbol"), Qt::CaseInsensitive) == 0;
    const bool wingdings = face.startsWith(QLatin1String("Wingdings"), Qt::CaseInsensitive);
    if (!symbol && !wingdings)
        return text;
    QString out;
    out.reserve(text.size());
    for (QChar ch : text) {
        int code = ch.unicode();
        if (code >= 0xF020 && code <= 0xF0FF)
            code -= 0xF000;
        char16_t mapped = 0;
        if (code >= 0x20 && code <= 0xFF) {
            if (symbol) {
                mapped = kSymbolMap[code - 0x20];
            } else {
                for (const TWingding &w : kWingdings) {
                    if (w.Code == code)
                        mapped = w.Unicode;
                }
            }
        } else if (code > 0xFF) {
            mapped = char16_t(code);
        }
        out += mapped ? QChar(mapped) : QChar(u' ');
    }
    return out;
}

namespace {

// The pixel size a font is made at for text em pixels high; the text is then
// scaled by em / that size. Up to 48 pixels every size has its own font, as
// hinting shows there; above, sizes go in steps of a sixteenth of an octave,
// which cannot be seen once scaled, so that a file of ever new large sizes
// does not make a font for each.
int FontPixels(double em)
{
    constexpr double kExact = 48;
    if (!(em > kExact))
        return std::max(1, int(std::lround(em)));
    const double octaves = std::round(std::log2(em / kExact) * 16) / 16;
    return int(std::lround(kExact * std::exp2(octaves)));
}

} // namespace

std::shared_ptr<const TMetaEngine::TFontCacheEntry> TMetaEngine::FontFor(const TMetaFont &font, double emPixels)
{
    const int pixels = FontPixels(emPixels);
    const QString key = QStringLiteral("%1|%2|%3|%4|%5")
                            .arg(font.Face)
                            .arg(font.PitchAndFamily)
                            .arg(font.Weight)
                            .arg(int(font.Italic))
                            .arg(pixels);
    if (auto it = FFonts.constFind(key); it != FFonts.constEnd())
        return *it;
    if (FFonts.size() > 256)
        FFonts.clear();
    ChargeWork(kWorkPerFont);
    // Symbol and Wingdings text has become Unicode signs; DejaVu has most.
    const bool signs = font.Face.compare(QLatin1String("Symbol"), Qt::CaseInsensitive) == 0
                       || font.Face.startsWith(QLatin1String("Wingdings"), Qt::CaseInsensitive);
    auto entry = std::make_shared<TFontCacheEntry>();
    QFont f;
    f.setFamilies(signs ? QStringList{QStringLiteral("DejaVu Serif"), QStringLiteral("DejaVu Sans")}
                        : FamiliesFor(font.Face, font.PitchAndFamily));
    f.setPixelSize(pixels);
    f.setWeight(QFont::Weight(std::clamp(font.Weight > 0 ? font.Weight : 400, 1, 1000)));
    f.setItalic(font.Italic);
    f.setKerning(false);
    entry->Font = f;
    entry->Raw = QRawFont::fromFont(f);
    FFonts.insert(key, entry);
    return entry;
}

// The font's character height in canvas pixels: a negative height is the
// character height, a positive one the whole cell's, 0 a screen's default.
double TMetaEngine::TextEm(const TMetaFont &font, double scaleY)
{
    if (font.Height < 0)
        return -font.Height * scaleY;
    if (font.Height > 0) {
        const auto probe = FontFor(font, 100);
        const double cell = probe->Raw.isValid() ? probe->Raw.ascent() + probe->Raw.descent() : 100;
        return font.Height * scaleY * (cell > 0 ? 100 / cell : 1);
    }
    return 16;
}

// Chooses the glyphs and the advance of every character along the baseline,
// in canvas pixels: the file's advances where it gives them, the font's
// otherwise (with the extra character and word spacing).
TMetaEngine::TTextLayout TMetaEngine::LayOutText(const TMetaText &t, QString text, double em, double scaleX)
{
    TTextLayout l;
    l.Entry = FontFor(FState.Font, em);
    const QRawFont &raw = l.Entry->Raw;
    l.Em = em;
    l.K = em / FontPixels(em);
    if (FState.Font.Width != 0 && raw.isValid() && raw.averageCharWidth() > 0)
        l.Stretch = std::clamp(std::fabs(FState.Font.Width) * scaleX / (raw.averageCharWidth() * l.K), 0.05, 20.0);

    const qsizetype n = text.size();
    QVector<bool> wide(n, false);
    for (qsizetype i = 0; i < n && raw.isValid(); ++i) {
        // Full-width forms of East Asian fonts fall back to their plain
        // look-alikes, centred in their wide cell.
        const QChar ch = text[i];
        if (ch.isSurrogate() || raw.supportsCharacter(ch))
            continue;
        const QString plain = QString(ch).normalized(QString::NormalizationForm_KC);
        if (plain.size() == 1 && raw.supportsCharacter(plain[0])) {
            wide[i] = ch.unicode() >= 0x1100;
            text[i] = plain[0];
        }
    }
    l.GlyphRun = raw.isValid();
    for (QChar ch : text) {
        if (ch.isSurrogate() || !raw.supportsCharacter(ch))
            l.GlyphRun = false;
    }
    if (l.GlyphRun) {
        l.Glyphs = raw.glyphIndexesForString(text);
        l.GlyphRun = l.Glyphs.size() == n;
    }
    QVector<QPointF> natural;
    if (l.GlyphRun) {
        natural = raw.advancesForGlyphIndexes(l.Glyphs);
    } else {
        const QFontMetricsF metrics(l.Entry->Font);
        for (QChar ch : text)
            natural << QPointF(metrics.horizontalAdvance(ch), 0);
    }

    l.Advances.fill(0, n);
    l.Shifts.fill(0, n);
    const double unit = l.K * l.Stretch;
    if (t.Dx.size() >= n) {
        for (qsizetype i = 0; i < n; ++i) {
            l.Advances[i] = std::isfinite(t.Dx[i]) ? t.Dx[i] * scaleX : 0;
            if (wide[i] && i < natural.size())
                l.Shifts[i] = std::max(0.0, (std::min(l.Advances[i], em) - natural[i].x() * unit) / 2);
        }
    } else {
        const double breakExtra = FState.BreakCount > 0 ? FState.BreakExtra * scaleX / FState.BreakCount : 0;
        for (qsizetype i = 0; i < n && i < natural.size(); ++i) {
            l.Advances[i] = natural[i].x() * unit + FState.CharExtra * scaleX;
            if (text[i] == QLatin1Char(' '))
                l.Advances[i] += breakExtra;
        }
    }
    for (double a : l.Advances)
        l.Width += a;
    l.Ascent = (raw.isValid() ? raw.ascent() : em * 0.9) * l.K;
    l.Descent = (raw.isValid() ? raw.descent() : em * 0.2) * l.K;
    l.Text = text;
    return l;
}

// Outlines of glyphs, antialiased as text is.
void TMetaEngine::FillTextOutlines(const QPainterPath &path)
{
    ChargePoints(path.elementCount());
    FPainter.setRenderHint(QPainter::Antialiasing, true);
    FPainter.fillPath(path, FState.TextColor);
    FPainter.setRenderHint(QPainter::Antialiasing, false);
}

// Draws the laid-out text in its frame (canvas pixels along the baseline,
// origin at the reference point), starting at x0 on the given baseline.
void TMetaEngine::DrawTextRun(const TTextLayout &l, const QTransform &frame, double x0, double baseline)
{
    const qsizetype n = l.Text.size();
    const double unitX = l.K * l.Stretch;
    FPainter.setTransform(QTransform::fromScale(unitX, l.K) * frame);
    FPainter.setPen(FState.TextColor);
    FPainter.setBrush(Qt::NoBrush);
    double x = x0;
    // Qt keeps the glyphs it draws as images, a colour font's at any size and
    // a fallback font's too: large text drawn that way can take hundreds of
    // megabytes. Text larger than Qt's own limit for those images is filled
    // as outlines.
    const bool outlines = l.Em * std::max(1.0, l.Stretch) > kMaxGlyphImageSize;
    if (l.GlyphRun) {
        QVector<QPointF> positions(n);
        for (qsizetype i = 0; i < n; ++i) {
            positions[i] = QPointF((x + l.Shifts[i]) / unitX, baseline / l.K);
            x += l.Advances[i];
        }
        if (outlines) {
            QPainterPath path;
            for (qsizetype i = 0; i < n; ++i)
                path.addPath(l.Entry->Raw.pathForGlyph(l.Glyphs[i]).translated(positions[i]));
            FillTextOutlines(path);
        } else {
            QGlyphRun run;
            run.setRawFont(l.Entry->Raw);
            run.setGlyphIndexes(l.Glyphs);
            run.setPositions(positions);
            FPainter.drawGlyphRun(QPointF(0, 0), run);
        }
    } else {
        // Characters the font lacks: the painter finds another font.
        FPainter.setFont(l.Entry->Font);
        QPainterPath path;
        for (qsizetype i = 0; i < n; ++i) {
            if (!l.Text[i].isLowSurrogate()) {
                QString glyph(l.Text[i]);
                if (l.Text[i].isHighSurrogate() && i + 1 < n)
                    glyph += l.Text[i + 1];
                if (outlines)
                    path.addText(QPointF(x / unitX, baseline / l.K), l.Entry->Font, glyph);
                else
                    FPainter.drawText(QPointF(x / unitX, baseline / l.K), glyph);
            }
            x += l.Advances[i];
        }
        if (outlines)
            FillTextOutlines(path);
    }
    // Underline and strike-out run along the whole text.
    const TMetaFont &font = FState.Font;
    if (font.Underline || font.StrikeOut) {
        const QFontMetricsF metrics(l.Entry->Font);
        const double thickness = std::max(1.0, metrics.lineWidth() * l.K);
        FPainter.setTransform(frame);
        if (font.Underline)
            FPainter.fillRect(QRectF(x0, baseline + metrics.underlinePos() * l.K, l.Width, thickness), FState.TextColor);
        if (font.StrikeOut)
            FPainter.fillRect(QRectF(x0, baseline - metrics.strikeOutPos() * l.K, l.Width, thickness), FState.TextColor);
    }
}

// Text is laid out along its baseline in canvas pixels: the glyphs are
// drawn upright (rotated only by the escapement and a rotating world
// transform), at the font height the mapping gives, placed around the
// reference point as the text alignment says.
void TMetaEngine::TextOut(const TMetaText &t)
{
    UpdateTransform();
    if (!FInvertible)
        return;
    const quint32 align = FState.TextAlign;
    const bool updateCp = align & Gdi::TA_UPDATECP;
    const QPointF ref = updateCp ? FState.Position : t.Ref;
    const QString text = t.Text.left(kMaxTextLength);
    ChargePoints(text.size());

    if (t.Rect && (t.Options & Gdi::ETO_OPAQUE) && !FInPath)
        FillCanvasRegion(LogicalRectRegion(*t.Rect), QBrush(FState.BkColor), QPainter::CompositionMode_SourceOver);
    // Glyph numbers belong to the writer's font, which we do not have.
    if (text.isEmpty() || FInPath || (t.Options & Gdi::ETO_GLYPH_INDEX))
        return;

    const QPointF origin = FTransform.map(QPointF(0, 0));
    const QPointF ex = FTransform.map(QPointF(1, 0)) - origin;
    const QPointF ey = FTransform.map(QPointF(0, 1)) - origin;
    const double em = TextEm(FState.Font, std::hypot(ey.x(), ey.y()));
    if (!std::isfinite(em) || em < 0.5)
        return;
    const TTextLayout l = LayOutText(t, MapSymbolText(text), std::min(em, 16384.0), std::hypot(ex.x(), ex.y()));
    if (!std::isfinite(l.Width))
        return;

    double x0 = 0;
    switch (align & Gdi::TA_CENTER) {
    case Gdi::TA_RIGHT: x0 = -l.Width; break;
    case Gdi::TA_CENTER: x0 = -l.Width / 2; break;
    default: break;
    }
    double baseline = 0;
    switch (align & Gdi::TA_BASELINE) {
    case Gdi::TA_BASELINE: baseline = 0; break;
    case Gdi::TA_BOTTOM: baseline = -l.Descent; break;
    default: baseline = l.Ascent; break;
    }
    const double baseAngle = FAxisAligned ? 0 : std::atan2(ex.y(), ex.x());
    const double angle = baseAngle - FState.Font.Escapement / 10.0 * kPi / 180;
    const QPointF p = FTransform.map(ref);
    const QTransform frame(std::cos(angle), std::sin(angle), -std::sin(angle), std::cos(angle), p.x(), p.y());
    const QRectF cell(x0, baseline - l.Ascent, l.Width, l.Ascent + l.Descent);
    ChargeArea(frame.mapRect(cell));
    if (!l.GlyphRun)
        ChargeWork(l.Text.size() * kWorkPerFallbackCharacter);

    ApplyClip();
    if (t.Rect && (t.Options & Gdi::ETO_CLIPPED)) {
        FPainter.resetTransform();
        FPainter.setClipRegion(LogicalRectRegion(*t.Rect), FPainter.hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
        FClipDirty = true;
    }
    FPainter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    FPainter.setOpacity(1.0);
    if (FState.BkOpaque) {
        FPainter.setTransform(frame);
        FPainter.fillRect(cell, FState.BkColor);
    }
    DrawTextRun(l, frame, x0, baseline);

    if (updateCp) {
        // Left-aligned text moves the position past its end, right-aligned
        // text before its start.
        const double move = (align & Gdi::TA_CENTER) == Gdi::TA_RIGHT    ? -l.Width
                            : (align & Gdi::TA_CENTER) == Gdi::TA_CENTER ? 0
                                                                        : l.Width;
        FState.Position = FInverse.map(frame.map(QPointF(move, 0)));
    }
}

// ---------------------------------------------------------------- bitmaps

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
    const QRectF s = src.intersected(QRectF(image.rect()));
    if (s.isEmpty())
        return;
    // A source partly outside the bitmap copies only the part inside.
    const double fx = dest.width() / src.width(), fy = dest.height() / src.height();
    const QRectF d(dest.x() + (s.x() - src.x()) * fx, dest.y() + (s.y() - src.y()) * fy, s.width() * fx,
                   s.height() * fy);
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
    const QRectF s = src.intersected(QRectF(picture.rect()));
    if (s.isEmpty())
        return;
    const double fx = dest.width() / src.width(), fy = dest.height() / src.height();
    const QRectF d(dest.x() + (s.x() - src.x()) * fx, dest.y() + (s.y() - src.y()) * fy, s.width() * fx,
                   s.height() * fy);
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
    const QRectF s = src.intersected(QRectF(picture.rect()));
    if (s.isEmpty())
        return;
    const double fx = dest.width() / src.width(), fy = dest.height() / src.height();
    const QRectF d(dest.x() + (s.x() - src.x()) * fx, dest.y() + (s.y() - src.y()) * fy, s.width() * fx,
                   s.height() * fy);
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
