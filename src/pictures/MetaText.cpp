// TMetaEngine: text output: character sets, the Symbol and Wingdings fonts,
// choosing and caching fonts, laying out and drawing runs.

#include "MetaEngine.h"
#include "MetaEngineInternal.h"

// Qt
#include <QFontDatabase>
#include <QGlyphRun>
#include <QMutex>
#include <QStringDecoder>

// Std
#include <algorithm>
#include <cmath>

using namespace MetaEngineInternal;

namespace {

// Text costs more than its area: making a font matches it through
// fontconfig and opens its file, and a character the font lacks is shaped on
// its own with a fallback font. They are charged as the pixels they are
// worth, so that a file of ever new font sizes or of characters no font has
// cannot keep the renderer busy.
constexpr qint64 kWorkPerFont = 262144;
constexpr qint64 kWorkPerFallbackCharacter = 4096;

// The size in pixels beyond which Qt draws glyphs as outlines rather than
// from images it keeps (QT_MAX_CACHED_GLYPH_SIZE).
constexpr double kMaxGlyphImageSize = 64;

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

} // namespace

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

QFont TMetaEngine::TextFont(const QString &face, bool bold, bool italic, int pixels)
{
    TMetaFont font;
    font.Face = face;
    font.Weight = bold ? 700 : 400;
    font.Italic = italic;
    return FontFor(font, pixels)->Font;
}
