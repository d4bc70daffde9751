#include "EmfPlusReader.h"

// Local
#include "AppError.h"
#include "EmfPlusObjects.h"
#include "EmfReader.h"
#include "Metafile.h"
#include "WmfReader.h"

// Qt
#include <QFont>
#include <QGlyphRun>
#include <QPainterPath>
#include <QRawFont>
#include <QTextOption>

// Std
#include <array>
#include <cmath>
#include <optional>
#include <vector>

namespace {

enum : quint16 {
    PlusHeader = 0x4001, PlusEndOfFile = 0x4002, PlusComment = 0x4003, PlusGetDC = 0x4004,
    PlusMultiFormatStart = 0x4005, PlusMultiFormatSection = 0x4006, PlusMultiFormatEnd = 0x4007,
    PlusObject = 0x4008, PlusClear = 0x4009, PlusFillRects = 0x400A, PlusDrawRects = 0x400B,
    PlusFillPolygon = 0x400C, PlusDrawLines = 0x400D, PlusFillEllipse = 0x400E, PlusDrawEllipse = 0x400F,
    PlusFillPie = 0x4010, PlusDrawPie = 0x4011, PlusDrawArc = 0x4012, PlusFillRegion = 0x4013,
    PlusFillPath = 0x4014, PlusDrawPath = 0x4015, PlusFillClosedCurve = 0x4016, PlusDrawClosedCurve = 0x4017,
    PlusDrawCurve = 0x4018, PlusDrawBeziers = 0x4019, PlusDrawImage = 0x401A, PlusDrawImagePoints = 0x401B,
    PlusDrawString = 0x401C, PlusSetRenderingOrigin = 0x401D, PlusSetAntiAliasMode = 0x401E,
    PlusSetTextRenderingHint = 0x401F, PlusSetTextContrast = 0x4020, PlusSetInterpolationMode = 0x4021,
    PlusSetPixelOffsetMode = 0x4022, PlusSetCompositingMode = 0x4023, PlusSetCompositingQuality = 0x4024,
    PlusSave = 0x4025, PlusRestore = 0x4026, PlusBeginContainer = 0x4027, PlusBeginContainerNoParams = 0x4028,
    PlusEndContainer = 0x4029, PlusSetWorldTransform = 0x402A, PlusResetWorldTransform = 0x402B,
    PlusMultiplyWorldTransform = 0x402C, PlusTranslateWorldTransform = 0x402D, PlusScaleWorldTransform = 0x402E,
    PlusRotateWorldTransform = 0x402F, PlusSetPageTransform = 0x4030, PlusResetClip = 0x4031,
    PlusSetClipRect = 0x4032, PlusSetClipPath = 0x4033, PlusSetClipRegion = 0x4034, PlusOffsetClip = 0x4035,
    PlusDrawDriverString = 0x4036, PlusStrokeFillPath = 0x4037, PlusSerializableObject = 0x4038,
    PlusSetTSGraphics = 0x4039, PlusSetTSClip = 0x403A,
};

constexpr quint32 kPlusSignature = 0x2B464D45;   // "EMF+"
constexpr quint32 EMR_COMMENT = 70;
constexpr int kMaxObjects = 64;
constexpr int kMaxNesting = 2;                   // metafile images inside metafile images
// A metafile image is drawn at its natural size, at most this large.
constexpr qint64 kMaxNestedPixels = MetaWorkLimit(qint64(1) << 24);

// Flag bits shared by many drawing records.
constexpr quint16 kColourBrush = 0x8000;         // S: the brush is an ARGB colour
constexpr quint16 kCompressed = 0x4000;          // C: 16-bit integer coordinates
constexpr quint16 kRelative = 0x0800;            // P: relative points
constexpr quint16 kAppend = 0x2000;              // A: transforms multiply after the world transform

bool KnownRecord(quint16 type)
{
    return type >= PlusHeader && type <= PlusSetTSClip && type != PlusStrokeFillPath;
}

int NestingDepth(int change)
{
    thread_local int depth = 0;
    depth += change;
    return depth;
}

} // namespace

bool IsEmfPlusComment(const TMetaBytes &record)
{
    return record.Has(8, 8) && record.U32(0) == EMR_COMMENT && record.U32(12) == kPlusSignature;
}

TEmfPlusSurvey SurveyEmfPlus(const QByteArray &data, qint64 firstRecord)
{
    TEmfPlusSurvey survey;
    bool sawHeader = false;
    const qint64 end = data.size();
    qint64 off = firstRecord;
    while (end - off >= 8) {
        const TMetaBytes head(data.constData() + off, 8);
        const qint64 size = head.U32(4);
        if (size < 8 || size % 4 != 0 || size > end - off || head.U32(0) == 14)
            break;
        const TMetaBytes record(data.constData() + off, size);
        if (IsEmfPlusComment(record)) {
            const qint64 dataEnd = std::min<qint64>(size, 12 + qint64(record.U32(8)));
            qint64 p = 16;
            while (dataEnd - p >= 12) {
                const quint16 type = record.U16(p);
                const qint64 recordSize = record.U32(p + 4);
                if (recordSize < 12 || recordSize > dataEnd - p)
                    break;
                if (!sawHeader) {
                    if (type != PlusHeader || recordSize < 28)
                        return {};
                    sawHeader = true;
                    survey.HasPlus = true;
                    survey.Dual = (record.U16(p + 2) & 1) != 0;   // the header record's D flag
                } else if (!KnownRecord(type)) {
                    survey.AllKnown = false;
                }
                p += recordSize;
            }
        }
        off += size;
    }
    return survey;
}

bool DrawEmfPlus(const TEmfPlusSurvey &survey)
{
    return survey.HasPlus && (!survey.Dual || survey.AllKnown);
}

struct TEmfPlusPlayer::Impl
{
    struct TState
    {
        QTransform World;
        TPlusUnit PageUnit = TPlusUnit::Display;
        double PageScale = 1;
        std::optional<QPainterPath> Clip;   // canvas pixels; none: everything
        bool AntiAlias = false;
        bool TextAntiAlias = true;
        bool SourceCopy = false;
    };

    TMetaEngine &Engine;
    QPointF Dpi;
    TState State;
    std::vector<std::pair<quint32, TState>> Saved;
    std::vector<TPlusObject> Objects = std::vector<TPlusObject>(kMaxObjects);
    // Metafile images as drawn, by slot: each is drawn once.
    std::vector<QImage> Rendered = std::vector<QImage>(kMaxObjects);
    bool GetDC = false;
    bool Started = false;
    // The image effect the next DrawImagePoints with the E flag applies.
    enum TEffect { NoEffect, Blur, BrightnessContrast };
    TEffect Effect = NoEffect;
    double EffectA = 0, EffectB = 0;   // the EMF+ header has been played

    // An object whose data spans several records.
    int PendingId = -1;
    TPlusObjectType PendingType = TPlusObjectType::Invalid;
    qint64 PendingTotal = 0;
    QByteArray Pending;

    Impl(TMetaEngine &engine, QPointF dpi) : Engine(engine), Dpi(dpi) {}

    double UnitPixels(TPlusUnit unit, bool vertical) const
    {
        const double dpi = vertical ? Dpi.y() : Dpi.x();
        switch (unit) {
        case TPlusUnit::Point: return dpi / 72;
        case TPlusUnit::Inch: return dpi;
        case TPlusUnit::Document: return dpi / 300;
        case TPlusUnit::Millimeter: return dpi / 25.4;
        default: return 1;   // world, display and pixel: device pixels
        }
    }

    // World units to canvas pixels.
    QTransform PageTransform() const
    {
        return QTransform::fromScale(UnitPixels(State.PageUnit, false) * State.PageScale,
                                     UnitPixels(State.PageUnit, true) * State.PageScale);
    }
    QTransform ToCanvas() const { return State.World * PageTransform() * Engine.DeviceToCanvas(); }

    // Pixels of a unit other than world, in world units.
    double WorldPerPixel() const
    {
        const double scale = UnitPixels(State.PageUnit, false) * State.PageScale;
        return scale > 0 ? 1 / scale : 1;
    }

    template <class T>
    const T *Get(quint32 id) const
    {
        return id < quint32(kMaxObjects) ? std::get_if<T>(&Objects[id]) : nullptr;
    }

    std::optional<QBrush> Brush(quint16 flags, quint32 brushId) const
    {
        if (flags & kColourBrush)
            return QBrush(PlusArgb(brushId));
        if (const TPlusBrush *brush = Get<TPlusBrush>(brushId))
            return brush->Brush;
        return std::nullopt;
    }

    std::optional<QPen> Pen(quint32 penId) const
    {
        const TPlusPen *p = Get<TPlusPen>(penId & 0xFF);
        if (!p)
            return std::nullopt;
        double width = p->Width;
        if (p->Unit != TPlusUnit::World)
            width *= UnitPixels(p->Unit, false) * WorldPerPixel();
        // Qt takes widths below 2^23 only; a wider pen covers the canvas anyway.
        width = std::isfinite(width) ? std::clamp(width, 0.0, 1e6) : 0.0;
        QPen pen(p->Brush, width, p->Style, p->Cap, p->Join);
        pen.setMiterLimit(p->MiterLimit);
        if (p->Style == Qt::CustomDashLine && !p->Dashes.isEmpty()) {
            pen.setDashPattern(p->Dashes);
            pen.setDashOffset(p->DashOffset);
        }
        // A line thinner than a device pixel is drawn one pixel wide.
        const QTransform t = ToCanvas();
        const double scale = std::sqrt(std::fabs(t.determinant()));
        if (width <= 0 || width * scale < 1) {
            pen.setWidth(0);
            pen.setCosmetic(true);
        }
        return pen;
    }

    // Sets up the painter for one drawing in world units and runs it.
    template <class F>
    void Draw(const QRectF &worldBounds, F &&draw)
    {
        const QTransform t = ToCanvas();
        if (!t.isInvertible())
            return;
        Engine.ChargeCanvasArea(t.mapRect(worldBounds));
        QPainter &p = Engine.BeginForeignDrawing();
        if (State.Clip)
            p.setClipPath(*State.Clip);
        p.setTransform(t);
        p.setRenderHint(QPainter::Antialiasing, State.AntiAlias);
        p.setRenderHint(QPainter::TextAntialiasing, State.TextAntiAlias);
        p.setRenderHint(QPainter::SmoothPixmapTransform, true);
        p.setCompositionMode(State.SourceCopy ? QPainter::CompositionMode_Source
                                              : QPainter::CompositionMode_SourceOver);
        try {
            draw(p);
        } catch (...) {
            Engine.EndForeignDrawing();
            throw;
        }
        Engine.EndForeignDrawing();
    }

    void FillPath(const QPainterPath &path, const QBrush &brush)
    {
        Draw(path.boundingRect(), [&](QPainter &p) { p.fillPath(path, brush); });
    }

    void StrokePath(const QPainterPath &path, const QPen &pen)
    {
        const double grow = pen.widthF() + 1;
        Draw(path.boundingRect().adjusted(-grow, -grow, grow, grow), [&](QPainter &p) { p.strokePath(path, pen); });
    }

    // A shape filled with the record's brush (the S flag, BrushId at 12) or
    // drawn with the pen its flags name.
    void FillOrStroke(bool fill, quint16 flags, const TMetaBytes &r, const QPainterPath &path)
    {
        if (fill) {
            if (const std::optional<QBrush> brush = Brush(flags, r.U32(12)))
                FillPath(path, *brush);
        } else if (const std::optional<QPen> pen = Pen(flags)) {
            StrokePath(path, *pen);
        }
    }

    void SetClip(const QPainterPath &world, bool infinite, int mode)
    {
        std::optional<QPainterPath> shape;
        if (!infinite)
            shape = ToCanvas().map(world);
        const QPainterPath everything = [&] {
            QPainterPath all;
            all.addRect(QRectF(QPointF(-1, -1), QSizeF(Engine.CanvasSize()) + QSizeF(2, 2)));
            return all;
        }();
        const QPainterPath current = State.Clip ? *State.Clip : everything;
        const QPainterPath next = shape ? *shape : everything;
        // Combining outlines costs about the product of their sizes.
        Engine.ChargePoints(qint64(current.elementCount()) + next.elementCount());
        switch (mode) {
        case 0: State.Clip = shape; return;                                   // replace
        case 1: State.Clip = current.intersected(next); return;              // intersect
        case 2: State.Clip = current.united(next); return;                   // union
        case 3: State.Clip = current.united(next).subtracted(current.intersected(next)); return;   // xor
        case 4: State.Clip = current.subtracted(next); return;               // exclude
        case 5: State.Clip = next.subtracted(current); return;               // complement
        default: return;
        }
    }

    void PlayObject(quint16 flags, const TMetaBytes &r)
    {
        const int id = flags & 0xFF;
        const auto type = TPlusObjectType((flags >> 8) & 0x7F);
        if (id >= kMaxObjects)
            throw TMetaBadRecord();
        if (flags & 0x8000) {
            // Continued: the total size, then this part of the data.
            const qint64 total = r.U32(12);
            const qint64 size = r.Size() - 16;
            if (PendingId != id || PendingType != type) {
                if (total <= 0 || total > TMetaEngine::kMaxBitmapPixels * 4)
                    throw TMetaBadRecord();
                PendingId = id;
                PendingType = type;
                PendingTotal = total;
                Pending.clear();
            }
            if (Pending.size() + size > PendingTotal)
                throw TMetaBadRecord();
            Pending.append(reinterpret_cast<const char *>(r.Data()) + 16, qsizetype(size));
            if (Pending.size() < PendingTotal)
                return;
        } else if (PendingId == id && PendingType == type && !Pending.isEmpty()) {
            // The last part of a continued object.
            const qint64 size = r.Size() - 12;
            if (Pending.size() + size > PendingTotal + 16)
                throw TMetaBadRecord();
            Pending.append(reinterpret_cast<const char *>(r.Data()) + 12, qsizetype(size));
        } else {
            PendingId = -1;
            Pending.clear();
            Objects[size_t(id)] = std::monostate();
            Rendered[size_t(id)] = QImage();
            Objects[size_t(id)] = ReadPlusObject(type, TMetaBytes(reinterpret_cast<const char *>(r.Data()) + 12, r.Size() - 12), Engine);
            return;
        }
        const QByteArray whole = std::exchange(Pending, QByteArray());
        PendingId = -1;
        Objects[size_t(id)] = std::monostate();
        Rendered[size_t(id)] = QImage();
        Objects[size_t(id)] = ReadPlusObject(type, TMetaBytes(whole.constData(), whole.size()), Engine);
    }

    QPolygonF Points(const TMetaBytes &r, quint16 flags, qint64 countOffset, qint64 *end = nullptr)
    {
        return ReadPlusPoints(r, countOffset + 4, r.U32(countOffset), flags & kCompressed, flags & kRelative, Engine,
                              end);
    }

    static QPainterPath Curve(const QPolygonF &points, double tension, bool closed, int offset = 0,
                              int segments = -1)
    {
        // A cardinal spline through the points, as Bezier segments.
        QPainterPath path;
        const int n = int(points.size());
        if (n < 2)
            return path;
        const int total = closed ? n : n - 1;
        if (segments < 0)
            segments = total - offset;
        if (offset < 0 || segments <= 0 || offset + segments > total)
            return path;
        auto at = [&](int i) {
            if (closed)
                return points[((i % n) + n) % n];
            return points[std::clamp(i, 0, n - 1)];
        };
        const double k = tension / 3;
        path.moveTo(at(offset));
        for (int i = offset; i < offset + segments; ++i) {
            const QPointF c1 = at(i) + (at(i + 1) - at(i - 1)) * k;
            const QPointF c2 = at(i + 1) - (at(i + 2) - at(i)) * k;
            path.cubicTo(c1, c2, at(i + 1));
        }
        if (closed)
            path.closeSubpath();
        return path;
    }

    static QPainterPath Arc(const QRectF &box, double start, double sweep, bool pie)
    {
        // GDI+ angles run clockwise from the x axis on screen; Qt's
        // counter-clockwise.
        QPainterPath path;
        if (pie) {
            path.moveTo(box.center());
            path.arcTo(box, -start, -sweep);
            path.closeSubpath();
        } else {
            path.arcMoveTo(box, -start);
            path.arcTo(box, -start, -sweep);
        }
        return path;
    }

    static bool Finite(std::initializer_list<double> values)
    {
        for (const double v : values)
            if (!std::isfinite(v))
                return false;
        return true;
    }

    // The image effects a file sets for its next image: blur and
    // brightness-contrast are applied; any other is left out (the image is
    // drawn plain).
    void ReadEffect(const TMetaBytes &r)
    {
        static const QByteArray blur = QByteArray::fromHex("a4803c6343182b489ef2be2834c5fdd4");
        static const QByteArray brightness = QByteArray::fromHex("e1dba1d3c48e174c9f4cea97ad1c343d");
        const QByteArray guid(reinterpret_cast<const char *>(r.Data()) + 12, r.Has(12, 16) ? 16 : 0);
        Effect = NoEffect;
        if (guid == blur) {
            const double radius = r.F32(32);
            if (!std::isfinite(radius))
                throw TMetaBadRecord();
            Effect = Blur;
            EffectA = std::clamp(radius, 0.0, 255.0);
        } else if (guid == brightness) {
            Effect = BrightnessContrast;
            EffectA = std::clamp(r.S32(32), -255, 255);
            EffectB = std::clamp(r.S32(36), -100, 100);
        }
    }

    QImage Effected(const QImage &image)
    {
        QImage out = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        if (out.isNull())
            return image;
        // An effect works on every pixel of the image, whatever it covers.
        Engine.ChargePoints(qint64(out.width()) * out.height() / 4);
        if (Effect == BrightnessContrast) {
            // Brightness moves every level; contrast stretches them about
            // the middle (100 doubles the distance, -100 flattens).
            std::array<uchar, 256> table{};
            const double gain = 1 + EffectB / 100;
            for (int v = 0; v < 256; ++v)
                table[size_t(v)] = uchar(std::clamp(std::lround((v + EffectA - 127.5) * gain + 127.5), 0L, 255L));
            for (int y = 0; y < out.height(); ++y) {
                auto *row = reinterpret_cast<QRgb *>(out.scanLine(y));
                for (int x = 0; x < out.width(); ++x) {
                    const QRgb c = qUnpremultiply(row[x]);
                    row[x] = qPremultiply(qRgba(table[size_t(qRed(c))], table[size_t(qGreen(c))],
                                                table[size_t(qBlue(c))], qAlpha(c)));
                }
            }
        } else if (Effect == Blur && EffectA >= 1) {
            // Three box blurs, each way, come close to a Gaussian of the radius.
            const int box = std::max(1, int(EffectA / 3));
            for (int pass = 0; pass < 3; ++pass) {
                BoxBlur(out, box, true);
                BoxBlur(out, box, false);
            }
        }
        return out;
    }

    static void BoxBlur(QImage &image, int radius, bool horizontal)
    {
        const int w = image.width(), h = image.height();
        const int lines = horizontal ? h : w, length = horizontal ? w : h;
        std::vector<QRgb> line(static_cast<size_t>(length));
        for (int i = 0; i < lines; ++i) {
            auto at = [&](int k) -> QRgb & {
                return horizontal ? reinterpret_cast<QRgb *>(image.scanLine(i))[k]
                                  : reinterpret_cast<QRgb *>(image.scanLine(k))[i];
            };
            for (int k = 0; k < length; ++k)
                line[size_t(k)] = at(k);
            std::array<int, 4> sum{};
            auto add = [&](int k, int sign) {
                const QRgb c = line[size_t(std::clamp(k, 0, length - 1))];
                sum[0] += sign * qAlpha(c);
                sum[1] += sign * qRed(c);
                sum[2] += sign * qGreen(c);
                sum[3] += sign * qBlue(c);
            };
            for (int k = -radius; k <= radius; ++k)
                add(k, 1);
            const int n = 2 * radius + 1;
            for (int k = 0; k < length; ++k) {
                at(k) = qRgba(sum[1] / n, sum[2] / n, sum[3] / n, sum[0] / n);
                add(k + radius + 1, 1);
                add(k - radius, -1);
            }
        }
    }

    void DrawImage(quint16 flags, const TMetaBytes &r, bool points)
    {
        const TPlusImage *image = Get<TPlusImage>(flags & 0xFF);
        if (!image)
            return;
        const QRectF src = ReadPlusRect(r, 20, false);
        QTransform place;   // source pixels to world
        QRectF bounds;
        if (points) {
            if (r.U32(36) != 3)
                throw TMetaBadRecord();
            const QPolygonF p = ReadPlusPoints(r, 40, 3, flags & kCompressed, flags & kRelative, Engine);
            if (src.width() == 0 || src.height() == 0)
                return;
            const QPointF dx = (p[1] - p[0]) / src.width();
            const QPointF dy = (p[2] - p[0]) / src.height();
            place = QTransform(dx.x(), dx.y(), dy.x(), dy.y(), p[0].x(), p[0].y());
            place = QTransform::fromTranslate(-src.left(), -src.top()) * place;
            QPolygonF corners = p;
            corners << (p[1] + p[2] - p[0]);
            bounds = corners.boundingRect();
        } else {
            const QRectF dest = ReadPlusRect(r, 36, flags & kCompressed);
            if (src.width() == 0 || src.height() == 0)
                return;
            place = QTransform::fromTranslate(-src.left(), -src.top())
                  * QTransform::fromScale(dest.width() / src.width(), dest.height() / src.height())
                  * QTransform::fromTranslate(dest.left(), dest.top());
            bounds = dest;
        }
        if (!Finite({src.left(), src.top(), src.width(), src.height(), place.m11(), place.m22(), place.dx(),
                     place.dy()}))
            throw TMetaBadRecord();
        QImage bitmap = image->Bitmap;
        QRectF source = src;
        if (bitmap.isNull() && !image->Metafile.isEmpty())
            bitmap = RenderedMetafile(flags & 0xFF, *image);
        if (bitmap.isNull())
            return;
        if (points && (flags & 0x2000) && Effect != NoEffect)   // E: the effect set before
            bitmap = Effected(bitmap);
        Draw(bounds, [&](QPainter &p) {
            p.setTransform(place * p.transform());
            p.drawImage(source, bitmap, source);
        });
    }

    // A metafile image at its natural size, placed like a bitmap of that
    // many pixels; null when it cannot be drawn (too deep, too large,
    // damaged).
    QImage RenderedMetafile(quint32 id, const TPlusImage &image)
    {
        QImage &rendered = Rendered[id];
        if (!rendered.isNull() || NestingDepth(0) >= kMaxNesting)
            return rendered;
        const bool wmf = image.MetafileType == 1 || image.MetafileType == 2;
        try {
            const QSize canvas = MetafileCanvasSize(wmf ? WmfNaturalSize(ReadWmfHeader(image.Metafile))
                                                        : EmfNaturalSize(ReadEmfHeader(image.Metafile)));
            const qint64 pixels = qint64(canvas.width()) * canvas.height();
            if (pixels > kMaxNestedPixels)
                return {};
            Engine.ChargePoints(pixels / 16);
            NestingDepth(1);
            try {
                rendered = RenderMetafile(image.Metafile, wmf ? MetafileKind::Wmf : MetafileKind::Emf);
            } catch (...) {
                NestingDepth(-1);
                throw;
            }
            NestingDepth(-1);
        } catch (const AppError &) {
            return {};
        }
        return rendered;
    }

    // How text drawn with the 100-pixel font under t comes out on the canvas.
    // Qt keeps glyphs as images up to 64 pixels, judging by the transform's
    // mean scale: a glyph stretched far along one axis only is still made
    // as an image, and one of a file's wild transforms (a shear of 10^10)
    // then crashes Qt's font engine. Text larger than 64 pixels along either
    // axis is therefore drawn as outlines here, text that fills no pixel or
    // is larger than any canvas not at all.
    enum class TTextWay { Skip, Glyphs, Outlines };
    static TTextWay TextWay(const QTransform &t)
    {
        const double big = 100 * std::max(std::hypot(t.m11(), t.m12()), std::hypot(t.m21(), t.m22()));
        const double area = 100 * 100 * std::fabs(t.determinant());
        if (!std::isfinite(big) || !std::isfinite(area) || !(area > 0.01) || big > 65536)
            return TTextWay::Skip;
        return big > 64 ? TTextWay::Outlines : TTextWay::Glyphs;
    }

    // Text is laid out with a 100-pixel font, scaled to the em size.
    QFont Font(const TPlusFont &f, double &emWorld)
    {
        emWorld = f.EmSize;
        if (f.SizeUnit != TPlusUnit::World)
            emWorld *= UnitPixels(f.SizeUnit, true) * WorldPerPixel();
        QFont font = Engine.TextFont(f.Family, f.Bold, f.Italic, 100);
        font.setUnderline(f.Underline);
        font.setStrikeOut(f.StrikeOut);
        return font;
    }

    void DrawString(quint16 flags, const TMetaBytes &r)
    {
        const TPlusFont *font = Get<TPlusFont>(flags & 0xFF);
        const std::optional<QBrush> brush = Brush(flags, r.U32(12));
        const qint64 length = r.U32(20);
        const QRectF layout = ReadPlusRect(r, 24, false);
        r.Need(40, length * 2);
        if (!font || !brush || length > TMetaEngine::kMaxTextLength)
            return;
        QString text(qsizetype(length), Qt::Uninitialized);
        for (qint64 i = 0; i < length; ++i)
            text[qsizetype(i)] = QChar(r.U16(40 + i * 2));
        double em = 0;
        const QFont qfont = Font(*font, em);
        if (!(em > 0) || !std::isfinite(em) || !Finite({layout.left(), layout.top(), layout.width(), layout.height()}))
            return;
        const TPlusStringFormat *format = Get<TPlusStringFormat>(r.U32(16));
        int align = Qt::AlignLeft | Qt::AlignTop;
        bool wrap = layout.width() > 0;
        if (format) {
            align = (format->Alignment == 1 ? Qt::AlignHCenter : format->Alignment == 2 ? Qt::AlignRight : Qt::AlignLeft)
                  | (format->LineAlign == 1 ? Qt::AlignVCenter : format->LineAlign == 2 ? Qt::AlignBottom : Qt::AlignTop);
            if (format->Flags & 0x1000)   // no wrap
                wrap = false;
        }
        const double k = em / 100;
        Engine.ChargePoints(length);
        const QRectF bounds = layout.width() > 0 && layout.height() > 0
                                  ? layout
                                  : QRectF(layout.topLeft(), QSizeF(em * length, em * 1.5));
        Draw(bounds, [&](QPainter &p) {
            p.setTransform(QTransform::fromScale(k, k) * p.transform());
            // Laid-out text is left to Qt, which draws large text as
            // outlines itself; only text stretched along one axis is not.
            const TTextWay way = TextWay(p.transform());
            const double mean = 100 * std::sqrt(std::fabs(p.transform().determinant()));
            if (way == TTextWay::Skip || (way == TTextWay::Outlines && mean <= 64))
                return;
            p.setFont(qfont);
            p.setPen(QPen(*brush, 0));
            const QRectF box(layout.left() / k, layout.top() / k, layout.width() / k, layout.height() / k);
            if (layout.width() > 0 && layout.height() > 0) {
                QTextOption option{Qt::Alignment(align)};
                option.setWrapMode(wrap ? QTextOption::WordWrap : QTextOption::NoWrap);
                const bool clip = !format || !(format->Flags & 0x4000);   // NoClip
                if (clip)
                    p.setClipRect(box, Qt::IntersectClip);
                p.drawText(box, text, option);
            } else {
                p.drawText(QRectF(box.topLeft(), QSizeF(1e6, 1e6)), int(Qt::AlignLeft | Qt::AlignTop), text);
            }
        });
    }

    void DrawDriverString(quint16 flags, const TMetaBytes &r)
    {
        const TPlusFont *font = Get<TPlusFont>(flags & 0xFF);
        const std::optional<QBrush> brush = Brush(flags, r.U32(12));
        const quint32 options = r.U32(16);
        const qint64 count = r.U32(24);
        r.Need(28, count * 10);
        if (!font || !brush || count > TMetaEngine::kMaxTextLength || count == 0)
            return;
        Engine.ChargePoints(count);
        const QPolygonF positions = ReadPlusPoints(r, 28 + count * 2, count, false, false, Engine);
        QTransform matrix;
        if (r.U32(20))
            matrix = ReadPlusTransform(r, 28 + count * 10);
        double em = 0;
        const QFont qfont = Font(*font, em);
        if (!(em > 0) || !std::isfinite(em))
            return;
        const double k = em / 100;
        const bool characters = options & 1;        // CmapLookup: the glyphs are characters
        const bool realized = options & 4;          // RealizedAdvance: only the first position
        Draw(positions.boundingRect().adjusted(-em, -em, em * count, em), [&](QPainter &p) {
            p.setTransform(QTransform::fromScale(k, k) * matrix * p.transform());
            const TTextWay way = TextWay(p.transform());
            if (way == TTextWay::Skip)
                return;
            p.setFont(qfont);
            p.setPen(QPen(*brush, 0));
            if (characters) {
                QString text(qsizetype(count), Qt::Uninitialized);
                for (qint64 i = 0; i < count; ++i)
                    text[qsizetype(i)] = QChar(r.U16(28 + i * 2));
                if (way == TTextWay::Outlines) {
                    QPainterPath path;
                    if (realized)
                        path.addText(positions[0] / k, qfont, text);
                    else
                        for (qint64 i = 0; i < count; ++i)
                            path.addText(positions[qsizetype(i)] / k, qfont, QString(text[qsizetype(i)]));
                    p.fillPath(path, *brush);
                    return;
                }
                if (realized) {
                    p.drawText(positions[0] / k, text);
                } else {
                    for (qint64 i = 0; i < count; ++i)
                        p.drawText(positions[qsizetype(i)] / k, QString(text[qsizetype(i)]));
                }
                return;
            }
            QRawFont raw = QRawFont::fromFont(qfont);
            if (!raw.isValid())
                return;
            QVector<quint32> glyphs(static_cast<qsizetype>(count));
            QVector<QPointF> at(static_cast<qsizetype>(count));
            for (qint64 i = 0; i < count; ++i)
                glyphs[qsizetype(i)] = r.U16(28 + i * 2);
            if (realized) {
                const QVector<QPointF> advances = raw.advancesForGlyphIndexes(glyphs);
                QPointF pen = positions[0] / k;
                for (qint64 i = 0; i < count; ++i) {
                    at[qsizetype(i)] = pen;
                    pen += advances.value(qsizetype(i));
                }
            } else {
                for (qint64 i = 0; i < count; ++i)
                    at[qsizetype(i)] = positions[qsizetype(i)] / k;
            }
            if (way == TTextWay::Outlines) {
                QPainterPath path;
                for (qint64 i = 0; i < count; ++i)
                    path.addPath(raw.pathForGlyph(glyphs[qsizetype(i)]).translated(at[qsizetype(i)]));
                p.fillPath(path, *brush);
                return;
            }
            QGlyphRun run;
            run.setRawFont(raw);
            run.setGlyphIndexes(glyphs);
            run.setPositions(at);
            p.drawGlyphRun(QPointF(), run);
        });
    }

    void Play(quint16 type, quint16 flags, const TMetaBytes &r);
};

void TEmfPlusPlayer::Impl::Play(quint16 type, quint16 flags, const TMetaBytes &r)
{
    switch (type) {
    case PlusHeader: Started = true; break;
    case PlusEndOfFile:
    case PlusComment:
    case PlusMultiFormatStart:
    case PlusMultiFormatSection:
    case PlusMultiFormatEnd:
    case PlusSetTextContrast:
    case PlusSetInterpolationMode:
    case PlusSetPixelOffsetMode:
    case PlusSetCompositingQuality:
    case PlusSetRenderingOrigin:
    case PlusSetTSGraphics:
    case PlusSetTSClip:
        break;
    case PlusGetDC: GetDC = true; break;
    case PlusSerializableObject: ReadEffect(r); break;
    case PlusObject: PlayObject(flags, r); break;
    case PlusClear: {
        const QColor colour = PlusArgb(r.U32(12));
        const QRectF all(QPointF(0, 0), QSizeF(Engine.CanvasSize()));
        Engine.ChargeCanvasArea(all);
        QPainter &p = Engine.BeginForeignDrawing();
        if (State.Clip)
            p.setClipPath(*State.Clip);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.fillRect(all, colour);
        Engine.EndForeignDrawing();
        break;
    }
    case PlusFillRects:
    case PlusDrawRects: {
        const bool fill = type == PlusFillRects;
        const qint64 at = fill ? 16 : 12;
        const qint64 count = r.U32(at);
        const qint64 size = (flags & kCompressed) ? 8 : 16;
        r.Need(at + 4, count * size);
        Engine.ChargePoints(count * 4);
        QPainterPath path;
        for (qint64 i = 0; i < count; ++i) {
            const QRectF rect = ReadPlusRect(r, at + 4 + i * size, flags & kCompressed);
            if (!Finite({rect.left(), rect.top(), rect.width(), rect.height()}))
                throw TMetaBadRecord();
            path.addRect(rect);
        }
        path.setFillRule(Qt::WindingFill);
        FillOrStroke(fill, flags, r, path);
        break;
    }
    case PlusFillPolygon: {
        const QPolygonF points = Points(r, flags, 16);
        if (const std::optional<QBrush> brush = Brush(flags, r.U32(12))) {
            QPainterPath path;
            path.addPolygon(points);
            path.closeSubpath();
            FillPath(path, *brush);
        }
        break;
    }
    case PlusDrawLines:
    case PlusDrawBeziers: {
        const QPolygonF points = Points(r, flags, 12);
        const std::optional<QPen> pen = Pen(flags);
        if (!pen || points.size() < 2)
            break;
        QPainterPath path;
        if (type == PlusDrawLines) {
            path.addPolygon(points);
            if (flags & 0x2000)   // L: closed
                path.closeSubpath();
        } else {
            path.moveTo(points[0]);
            for (qsizetype i = 1; i + 2 < points.size(); i += 3)
                path.cubicTo(points[i], points[i + 1], points[i + 2]);
        }
        StrokePath(path, *pen);
        break;
    }
    case PlusFillEllipse:
    case PlusDrawEllipse: {
        const bool fill = type == PlusFillEllipse;
        const QRectF rect = ReadPlusRect(r, fill ? 16 : 12, flags & kCompressed);
        if (!Finite({rect.left(), rect.top(), rect.width(), rect.height()}))
            throw TMetaBadRecord();
        QPainterPath path;
        path.addEllipse(rect);
        FillOrStroke(fill, flags, r, path);
        break;
    }
    case PlusFillPie:
    case PlusDrawPie:
    case PlusDrawArc: {
        const bool fill = type == PlusFillPie;
        const qint64 at = fill ? 16 : 12;
        const double start = r.F32(at), sweep = r.F32(at + 4);
        const QRectF rect = ReadPlusRect(r, at + 8, flags & kCompressed);
        if (!Finite({start, sweep, rect.left(), rect.top(), rect.width(), rect.height()}))
            throw TMetaBadRecord();
        const QPainterPath path = Arc(rect, start, std::clamp(sweep, -3600.0, 3600.0), type != PlusDrawArc);
        FillOrStroke(fill, flags, r, path);
        break;
    }
    case PlusFillRegion: {
        const TPlusRegion *region = Get<TPlusRegion>(flags & 0xFF);
        const std::optional<QBrush> brush = Brush(flags, r.U32(12));
        if (!region || !brush)
            break;
        if (region->Infinite) {
            const QTransform t = ToCanvas();
            if (!t.isInvertible())
                break;
            QPainterPath all;
            all.addRect(t.inverted().mapRect(QRectF(QPointF(0, 0), QSizeF(Engine.CanvasSize()))));
            FillPath(all, *brush);
        } else {
            FillPath(region->Path, *brush);
        }
        break;
    }
    case PlusFillPath: {
        const TPlusPath *path = Get<TPlusPath>(flags & 0xFF);
        const std::optional<QBrush> brush = Brush(flags, r.U32(12));
        if (path && brush)
            FillPath(path->Path, *brush);
        break;
    }
    case PlusDrawPath: {
        const TPlusPath *path = Get<TPlusPath>(flags & 0xFF);
        const std::optional<QPen> pen = Pen(r.U32(12));
        if (path && pen)
            StrokePath(path->Path, *pen);
        break;
    }
    case PlusFillClosedCurve: {
        const double tension = r.F32(16);
        const QPolygonF points = Points(r, flags, 20);
        const std::optional<QBrush> brush = Brush(flags, r.U32(12));
        if (!brush || !std::isfinite(tension))
            break;
        QPainterPath path = Curve(points, tension, true);
        path.setFillRule((flags & 0x2000) ? Qt::WindingFill : Qt::OddEvenFill);
        FillPath(path, *brush);
        break;
    }
    case PlusDrawClosedCurve: {
        const double tension = r.F32(12);
        const QPolygonF points = Points(r, flags, 16);
        const std::optional<QPen> pen = Pen(flags);
        if (pen && std::isfinite(tension))
            StrokePath(Curve(points, tension, true), *pen);
        break;
    }
    case PlusDrawCurve: {
        const double tension = r.F32(12);
        const qint64 offset = r.U32(16);
        const qint64 segments = r.U32(20);
        const QPolygonF points = Points(r, flags & ~kRelative, 24);
        const std::optional<QPen> pen = Pen(flags);
        if (pen && std::isfinite(tension) && offset < points.size() && segments < points.size())
            StrokePath(Curve(points, tension, false, int(offset), int(segments)), *pen);
        break;
    }
    case PlusDrawImage: DrawImage(flags, r, false); break;
    case PlusDrawImagePoints: DrawImage(flags, r, true); break;
    case PlusDrawString: DrawString(flags, r); break;
    case PlusDrawDriverString: DrawDriverString(flags, r); break;
    case PlusSetAntiAliasMode: State.AntiAlias = flags & 1; break;
    case PlusSetTextRenderingHint: State.TextAntiAlias = (flags & 0xFF) != 1 && (flags & 0xFF) != 2; break;
    case PlusSetCompositingMode: State.SourceCopy = (flags & 0xFF) == 1; break;
    case PlusSave:
    case PlusBeginContainerNoParams:
        if (Saved.size() >= size_t(TMetaEngine::kMaxSavedStates))
            throw TMetaStop();
        Saved.emplace_back(r.U32(12), State);
        break;
    case PlusBeginContainer: {
        const QRectF dest = ReadPlusRect(r, 12, false);
        const QRectF src = ReadPlusRect(r, 28, false);
        if (Saved.size() >= size_t(TMetaEngine::kMaxSavedStates))
            throw TMetaStop();
        Saved.emplace_back(r.U32(44), State);
        if (src.width() != 0 && src.height() != 0 && Finite({dest.left(), dest.top(), dest.width(), dest.height()})) {
            // The source rectangle maps onto the destination in the world
            // units outside the container.
            const QTransform t = QTransform::fromTranslate(-src.left(), -src.top())
                               * QTransform::fromScale(dest.width() / src.width(), dest.height() / src.height())
                               * QTransform::fromTranslate(dest.left(), dest.top());
            State.World = t * State.World;
        }
        break;
    }
    case PlusRestore:
    case PlusEndContainer: {
        const quint32 index = r.U32(12);
        for (size_t i = Saved.size(); i-- > 0;) {
            if (Saved[i].first == index) {
                State = Saved[i].second;
                Saved.resize(i);
                break;
            }
        }
        break;
    }
    case PlusSetWorldTransform: State.World = ReadPlusTransform(r, 12); break;
    case PlusResetWorldTransform: State.World = QTransform(); break;
    case PlusMultiplyWorldTransform:
    case PlusTranslateWorldTransform:
    case PlusScaleWorldTransform:
    case PlusRotateWorldTransform: {
        QTransform m;
        if (type == PlusMultiplyWorldTransform) {
            m = ReadPlusTransform(r, 12);
        } else if (type == PlusTranslateWorldTransform) {
            m = QTransform::fromTranslate(r.F32(12), r.F32(16));
        } else if (type == PlusScaleWorldTransform) {
            m = QTransform::fromScale(r.F32(12), r.F32(16));
        } else {
            m.rotate(r.F32(12));
        }
        if (!Finite({m.m11(), m.m12(), m.m21(), m.m22(), m.dx(), m.dy()}))
            throw TMetaBadRecord();
        State.World = (flags & kAppend) ? State.World * m : m * State.World;
        break;
    }
    case PlusSetPageTransform: {
        const double scale = r.F32(12);
        const int unit = flags & 0xFF;
        if (!std::isfinite(scale) || scale <= 0 || unit > int(TPlusUnit::Millimeter) || unit == 0)
            throw TMetaBadRecord();
        State.PageUnit = TPlusUnit(unit);
        State.PageScale = scale;
        break;
    }
    case PlusResetClip: State.Clip.reset(); break;
    case PlusSetClipRect: {
        const QRectF rect = ReadPlusRect(r, 12, false);
        if (!Finite({rect.left(), rect.top(), rect.width(), rect.height()}))
            throw TMetaBadRecord();
        QPainterPath path;
        path.addRect(rect);
        SetClip(path, false, (flags >> 8) & 0xF);
        break;
    }
    case PlusSetClipPath:
        if (const TPlusPath *path = Get<TPlusPath>(flags & 0xFF))
            SetClip(path->Path, false, (flags >> 8) & 0xF);
        break;
    case PlusSetClipRegion:
        if (const TPlusRegion *region = Get<TPlusRegion>(flags & 0xFF))
            SetClip(region->Path, region->Infinite, (flags >> 8) & 0xF);
        break;
    case PlusOffsetClip: {
        const double dx = r.F32(12), dy = r.F32(16);
        if (!Finite({dx, dy}))
            throw TMetaBadRecord();
        if (State.Clip) {
            // The offset is in world units: moved as the world maps it.
            const QTransform t = ToCanvas();
            const QPointF shift = t.map(QPointF(dx, dy)) - t.map(QPointF(0, 0));
            State.Clip = State.Clip->translated(shift);
        }
        break;
    }
    default:
        break;
    }
}

TEmfPlusPlayer::TEmfPlusPlayer(TMetaEngine &engine, QPointF deviceDpi)
    : d(std::make_unique<Impl>(engine, deviceDpi))
{
}

TEmfPlusPlayer::~TEmfPlusPlayer() = default;

void TEmfPlusPlayer::PlayComment(const TMetaBytes &record)
{
    const qint64 end = std::min<qint64>(record.Size(), 12 + qint64(record.U32(8)));
    qint64 p = 16;
    while (end - p >= 12) {
        const quint16 type = record.U16(p);
        const quint16 flags = record.U16(p + 2);
        const qint64 size = record.U32(p + 4);
        if (size < 12 || size > end - p)
            return;
        d->Engine.CountRecord();
        // Any EMF+ record ends the plain records' turn.
        d->GetDC = false;
        const TMetaBytes r(reinterpret_cast<const char *>(record.Data()) + p, size);
        d->Engine.PlaySkippingDamage([&] { d->Play(type, flags, r); });
        p += size;
    }
}

bool TEmfPlusPlayer::PlainRecordsDraw() const
{
    return !d->Started || d->GetDC;
}
