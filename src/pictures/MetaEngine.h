#pragma once

// Local
#include "Bitmap.h"
#include "ByteReader.h"

// Qt
#include <QByteArrayView>
#include <QColor>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRawFont>
#include <QRegion>
#include <QString>
#include <QTransform>
#include <QVector>

// Std
#include <algorithm>
#include <array>
#include <memory>
#include <new>
#include <optional>
#include <set>
#include <variant>
#include <vector>

// The drawing engine both metafile readers play their records onto: the
// device context of a Windows metafile (objects, saved states, mapping,
// clipping, paths) drawn with QPainter on a 24-bit canvas. Coordinates that
// reach it are the metafile's logical units; everything is mapped through
// world transform, window and viewport, and finally from the metafile's
// device units onto canvas pixels.

// Thrown inside a player to end the drawing: a work limit is reached. What
// was drawn before stays.
struct TMetaStop
{
};

// Thrown inside a player when a record whose size is sound holds contents
// that cannot be used (a count or offset beyond the record, data that does
// not hold together). The record is skipped and drawing goes on with the
// next one; an object it would have made takes its slot as a TMetaEmpty.
struct TMetaBadRecord
{
};

// Little-endian reads from one record. A read outside the record makes the
// record bad (TMetaBadRecord), so a reader never looks past what it holds.
using TMetaBytes = TByteReader<TMetaBadRecord>;

// A colour as the files store it (COLORREF: red, green, blue, flags).
struct TMetaColor
{
    quint32 Ref = 0;
};

struct TMetaPen
{
    int Style = 0;             // PS_SOLID, PS_DASH, ... PS_NULL, PS_INSIDEFRAME, PS_USERSTYLE, PS_ALTERNATE
    double Width = 0;          // logical units; 0 draws one device pixel
    bool Geometric = false;    // an extended pen whose dashes scale with its width
    bool Extended = false;     // wide pens of the old kind are always solid
    QColor Color = Qt::black;
    Qt::PenCapStyle Cap = Qt::RoundCap;
    Qt::PenJoinStyle Join = Qt::RoundJoin;
    QVector<qreal> UserDashes;
};

struct TMetaBrush
{
    enum TKind { Solid, Null, Hatched, Pattern };
    TKind Kind = Solid;
    QColor Color = Qt::white;
    int Hatch = 0;
    QImage PatternImage;       // Format_RGB32; for Mono only black and white
    bool Mono = false;         // drawn in the text and background colours
};

struct TMetaFont
{
    double Height = 0;         // < 0: character height, > 0: cell height, 0: default
    double Width = 0;
    int Escapement = 0;        // tenths of a degree, counter-clockwise
    int Weight = 400;
    bool Italic = false;
    bool Underline = false;
    bool StrikeOut = false;
    int Charset = 1;
    int PitchAndFamily = 0;
    QString Face;
};

struct TMetaPalette
{
    QVector<QRgb> Entries;
};

// A region as a file defines it: WMF regions are in logical units, EMF
// regions in the metafile's device units.
struct TMetaRegion
{
    QRegion Region;
    bool DeviceUnits = false;
};

// What a record that should have made an object leaves in its slot when its
// contents could not be used: the slot is taken (so later objects keep their
// indexes) and selecting it changes nothing.
struct TMetaEmpty
{
};

// std::monostate marks a free slot.
using TMetaObject =
    std::variant<std::monostate, TMetaPen, TMetaBrush, TMetaFont, TMetaPalette, TMetaRegion, TMetaEmpty>;

// One text output: reference point, text, ExtTextOut options, optional
// rectangle and per-character advances (logical units).
struct TMetaText
{
    QPointF Ref;
    QString Text;
    quint32 Options = 0;
    std::optional<QRectF> Rect;
    QVector<double> Dx;
};

// A bitmap as a blit record carries it, already decoded.
struct TMetaBitmap
{
    QImage Image;              // RGB32, or ARGB32 when alpha matters
    bool BottomUp = true;      // the DIB's rows run bottom to top
};

namespace Gdi {
enum : int {
    // mapping modes
    MM_TEXT = 1, MM_LOMETRIC = 2, MM_HIMETRIC = 3, MM_LOENGLISH = 4, MM_HIENGLISH = 5,
    MM_TWIPS = 6, MM_ISOTROPIC = 7, MM_ANISOTROPIC = 8,
    // pen styles
    PS_SOLID = 0, PS_DASH = 1, PS_DOT = 2, PS_DASHDOT = 3, PS_DASHDOTDOT = 4, PS_NULL = 5,
    PS_INSIDEFRAME = 6, PS_USERSTYLE = 7, PS_ALTERNATE = 8,
    // brush styles
    BS_SOLID = 0, BS_NULL = 1, BS_HATCHED = 2, BS_PATTERN = 3, BS_INDEXED = 4, BS_DIBPATTERN = 5,
    BS_DIBPATTERNPT = 6, BS_PATTERN8X8 = 7, BS_DIBPATTERN8X8 = 8, BS_MONOPATTERN = 9,
    // region modes
    RGN_AND = 1, RGN_OR = 2, RGN_XOR = 3, RGN_DIFF = 4, RGN_COPY = 5,
    // text alignment
    TA_UPDATECP = 1, TA_RIGHT = 2, TA_CENTER = 6, TA_BOTTOM = 8, TA_BASELINE = 24,
    // ExtTextOut options
    ETO_OPAQUE = 0x2, ETO_CLIPPED = 0x4, ETO_GLYPH_INDEX = 0x10, ETO_NO_RECT = 0x100,
    ETO_SMALL_CHARS = 0x200, ETO_PDY = 0x2000,
    // binary raster operations
    R2_COPYPEN = 13, R2_NOP = 11,
    // stretch modes
    HALFTONE = 4,
};
// ternary raster operations
enum : quint32 {
    SRCCOPY = 0x00CC0020, SRCPAINT = 0x00EE0086, SRCAND = 0x008800C6, SRCINVERT = 0x00660046,
    SRCERASE = 0x00440328, NOTSRCCOPY = 0x00330008, NOTSRCERASE = 0x001100A6,
    MERGEPAINT = 0x00BB0226, PATCOPY = 0x00F00021, PATINVERT = 0x005A0049,
    DSTINVERT = 0x00550009, BLACKNESS = 0x00000042, WHITENESS = 0x00FF0062,
};
} // namespace Gdi

// The readers' work limits are set for the program's 512 MiB bitmap cap; a
// build with a smaller cap (the fuzz build) scales them down in proportion,
// but never below 1/256 of them, so that a file there may still have a few
// hundred objects, saved states and characters.
constexpr qint64 MetaWorkLimit(qint64 limit)
{
    const qint64 scaled = limit * (kMaxBitmapBytes >> 10) / (qint64(512) << 10);
    return std::max({qint64(1), scaled, limit / 256});
}

class TMetaEngine
{
public:
    // canvas: the white picture to draw on; deviceToCanvas maps the
    // metafile's device units to canvas pixels; devicePerMm is the number of
    // device units per millimetre (for the metric mapping modes).
    TMetaEngine(QImage &canvas, const QTransform &deviceToCanvas, QPointF devicePerMm);
    ~TMetaEngine();
    TMetaEngine(const TMetaEngine &) = delete;
    TMetaEngine &operator=(const TMetaEngine &) = delete;

    // Work limits: every record is counted and every drawing charged; past
    // the limit the drawing ends (TMetaStop).
    void CountRecord();
    void ChargePoints(qint64 count);

    // The starting mapping of a picture (before any record).
    void InitMapping(int mapMode, QPointF windowOrg, QPointF windowExt, QPointF viewportOrg, QPointF viewportExt);

    // Colours
    QColor Color(quint32 colorRef) const;
    QRgb PaletteColor(int index) const;

    // Mapping
    void SetMapMode(int mode);
    void SetWindowOrg(QPointF p);
    void SetWindowExt(QPointF e);
    void SetViewportOrg(QPointF p);
    void SetViewportExt(QPointF e);
    void OffsetWindowOrg(QPointF d);
    void OffsetViewportOrg(QPointF d);
    void ScaleWindowExt(double xNum, double xDenom, double yNum, double yDenom);
    void ScaleViewportExt(double xNum, double xDenom, double yNum, double yDenom);
    void SetWorldTransform(const QTransform &t);
    void ModifyWorldTransform(const QTransform &t, int mode);

    // Plain state
    void SaveDc();
    void RestoreDc(int which);
    void SetBkMode(int mode);
    void SetBkColor(quint32 colorRef);
    void SetTextColor(quint32 colorRef);
    void SetTextAlign(quint32 align);
    void SetPolyFillMode(int mode);
    void SetRop2(int rop);
    void SetStretchBltMode(int mode);
    void SetArcDirection(int direction);
    void SetMiterLimit(double limit);
    void SetBrushOrg(QPointF p);
    void SetTextCharExtra(double extra);
    void SetTextJustification(double breakExtra, int breakCount);

    // Objects
    static TMetaPen PenFromLogPen(quint32 style, double width, QColor color);
    static TMetaPen PenFromExtPen(quint32 style, double width, QColor color, const QVector<qreal> &dashes);
    TMetaBrush BrushFromLogBrush(quint32 style, quint32 colorRef, quint32 hatch) const;
    static TMetaBrush PatternBrush(const QImage &pattern, bool mono);
    void StoreObject(quint32 index, TMetaObject object);   // EMF: at a given index
    void AddObject(TMetaObject object);                   // WMF: the lowest free index
    // How many objects the records have stored or added so far.
    qint64 ObjectsMade() const { return FObjectsMade; }
    // Plays one record; one whose contents cannot be used (or that needs
    // more memory than is left) is skipped. True when it made an object, so
    // that a reader can fill a failed object record's slot with an empty one.
    template <class Play>
    bool PlaySkippingDamage(Play &&play)
    {
        const qint64 made = FObjectsMade;
        try {
            play();
        } catch (const TMetaBadRecord &) {
        } catch (const std::bad_alloc &) {
        }
        return FObjectsMade != made;
    }
    void SelectObject(quint32 index);
    void SelectStockObject(quint32 id);
    void DeleteObject(quint32 index);
    const TMetaObject *Object(quint32 index) const;
    void SelectPalette(quint32 index);
    void SetPaletteEntries(quint32 index, int start, const QVector<QRgb> &entries);
    void ResizePalette(quint32 index, int count);

    // Clipping
    void IntersectClipRect(const QRectF &r);
    void ExcludeClipRect(const QRectF &r);
    void OffsetClipRgn(QPointF d);
    void SelectClipRegion(const TMetaRegion *region, int mode);
    void SelectClipPath(int mode);
    void SetMetaRgn();

    // Paths
    void BeginPath();
    void EndPath();
    void AbortPath();
    void CloseFigure();
    void FillPath();
    void StrokePath();
    void StrokeAndFillPath();
    void FlattenPath();
    void WidenPath();

    // Lines and shapes
    void MoveTo(QPointF p);
    void LineTo(QPointF p);
    void Polyline(const QPolygonF &points);
    void PolylineTo(const QPolygonF &points);
    void PolyBezier(const QPolygonF &points);
    void PolyBezierTo(const QPolygonF &points);
    void PolyDraw(const QPolygonF &points, const QByteArray &types);
    void Polygon(const QPolygonF &points);
    void PolyPolygon(const QVector<QPolygonF> &polygons);
    void PolyPolyline(const QVector<QPolygonF> &polylines);
    void Rectangle(const QRectF &r);
    void RoundRect(const QRectF &r, QSizeF corner);
    void Ellipse(const QRectF &r);
    enum TArcKind { ArcOnly, ArcTo, Chord, Pie };
    void Arc(const QRectF &box, QPointF start, QPointF end, TArcKind kind);
    void AngleArc(QPointF center, double radius, double startDeg, double sweepDeg);
    void SetPixel(QPointF p, quint32 colorRef);
    void FloodFill(QPointF p, quint32 colorRef, bool surface);

    // Regions
    void FillRegion(const TMetaRegion &region, const TMetaBrush &brush);
    void FrameRegion(const TMetaRegion &region, const TMetaBrush &brush, double width, double height);
    void InvertRegion(const TMetaRegion &region);
    void PaintRegion(const TMetaRegion &region);

    // Text
    void TextOut(const TMetaText &text);
    // Text in the selected font's character set. bytesPerChar, when given,
    // receives how many of the bytes each character took.
    QString DecodeAnsi(QByteArrayView bytes, QVector<int> *bytesPerChar = nullptr) const;
    // Advances given per byte, summed per character.
    static QVector<double> AdvancesPerChar(const QVector<double> &perByte, const QVector<int> &bytesPerChar);
    const TMetaFont &CurrentFont() const { return FState.Font; }

    // Bitmaps. dest is in logical units; src in the bitmap's pixels, from
    // its top row down.
    void DrawBitmap(const QRectF &dest, const QImage &image, const QRectF &src, quint32 rop);
    void DrawBitmapMasked(const QRectF &dest, const QImage &image, const QRectF &src, const QImage &mask,
                          QPointF maskOrigin, quint32 rop4);
    void DrawBitmapPlg(const QPointF dest[3], const QImage &image, const QRectF &src);
    void AlphaBlend(const QRectF &dest, const QImage &image, const QRectF &src, int constantAlpha, bool sourceAlpha);
    void TransparentBlt(const QRectF &dest, const QImage &image, const QRectF &src, quint32 transparentRef);
    void PatBlt(const QRectF &r, quint32 rop);

    struct TVertex
    {
        QPointF Pos;
        QColor Color;
    };
    void GradientFill(const QVector<TVertex> &vertices, const QVector<std::array<quint32, 3>> &parts, int mode);

    // Work limits shared by the readers.
    static constexpr qint64 kMaxObjects = MetaWorkLimit(65536);
    static constexpr int kMaxSavedStates = int(MetaWorkLimit(4096));
    static constexpr qint64 kMaxRecords = MetaWorkLimit(4000000);
    static constexpr qint64 kMaxPoints = MetaWorkLimit(16000000);
    static constexpr int kMaxTextLength = int(MetaWorkLimit(65536));
    static constexpr qint64 kMaxBitmapPixels = MetaWorkLimit(qint64(1) << 26);
    // A picture larger than this (about 17 m at 96 dpi) is not a picture.
    static constexpr double kMaxNaturalSide = 65536;

    // Charged before decoding an embedded bitmap; false when it is too large
    // (then the record is skipped).
    bool AcceptBitmap(qint64 width, qint64 height);

    // For the EMF+ player, which keeps its own graphics state: the canvas
    // painter, saved, for drawing in canvas pixels (the metafile's device
    // units map onto them by DeviceToCanvas); EndForeignDrawing restores it
    // and the engine sets its own clip again before its next drawing.
    QPainter &BeginForeignDrawing();
    void EndForeignDrawing();
    const QTransform &DeviceToCanvas() const { return FDeviceToCanvas; }
    QSize CanvasSize() const { return FCanvas.size(); }
    // A font for the EMF+ player's text, matched as the plain records'
    // fonts are (the same faces stand in for the same names), made once per
    // face, style and size and charged as they are.
    QFont TextFont(const QString &face, bool bold, bool italic, int pixels);
    // Charges a drawing that covers about these canvas pixels.
    void ChargeCanvasArea(const QRectF &canvasBounds) { ChargeArea(canvasBounds); }

    // The DIB of a record: header and colour table in info, rows in bits,
    // or with packed all of it in info. Colour tables of palette indexes
    // (usage 1) take their colours from the selected palette. Nothing when
    // the bitmap is too large or not valid.
    std::optional<TMetaBitmap> DecodeBitmap(QByteArrayView info, QByteArrayView bits, quint32 usage, bool keepAlpha,
                                            bool packed);

private:
    // What SaveDC keeps and RestoreDC brings back.
    struct TDcState
    {
        TMetaPen Pen;
        TMetaBrush Brush;
        TMetaFont Font;
        QVector<QRgb> Palette;              // empty: the default palette
        QColor TextColor = Qt::black;
        QColor BkColor = Qt::white;
        bool BkOpaque = true;
        quint32 TextAlign = 0;
        bool Winding = false;
        int Rop2 = Gdi::R2_COPYPEN;
        int StretchMode = 1;
        bool Clockwise = false;
        double MiterLimit = 10;
        QPointF BrushOrg;
        double CharExtra = 0;
        double BreakExtra = 0;
        int BreakCount = 0;
        int MapMode = Gdi::MM_TEXT;
        QPointF WindowOrg;
        QPointF WindowExt{1, 1};
        QPointF ViewportOrg;
        QPointF ViewportExt{1, 1};
        QTransform World;
        std::optional<QRegion> Clip;        // canvas pixels
        std::optional<QRegion> MetaClip;
        QPointF Position;                   // logical
    };

    struct TFontCacheEntry
    {
        QFont Font;
        QRawFont Raw;
    };

    void UpdateTransform();
    bool EnsurePainter(bool usePen, bool useBrush);
    template <class F>
    void Paint(bool usePen, bool useBrush, F &&draw);
    void ApplyClip();
    QPen MakeQPen() const;
    QBrush MakeQBrush(const TMetaBrush &brush, const QTransform &painterTransform) const;
    QImage HatchImage(int hatch, QColor color) const;
    QPainter::CompositionMode Rop2Mode(int rop2) const;
    double DeviceScale() const;
    QPointF Map(QPointF p) const;
    QRegion CanvasRegion(const TMetaRegion &region) const;
    QRegion LogicalRectRegion(const QRectF &r) const;
    QRegion Everything() const;
    std::optional<QRegion> EffectiveClip() const;
    void CombineClip(const QRegion &region, int mode);
    void ChargeWork(qint64 work);
    void ChargeArea(const QRectF &canvasBounds);
    void ChargeLogical(const QRectF &logicalBounds);

    void DrawPathShape(const QPainterPath &logical, bool fill, bool insideFrame = false);
    void AddToPath(const QPainterPath &logical, bool connect);
    void StrokeLogicalPolyline(const QPolygonF &points);
    void FillCanvasRegion(const QRegion &region, const QBrush &brush, QPainter::CompositionMode mode);
    void PaintCanvasPath(const QPainterPath &canvasPath, bool fill, bool stroke);
    void RopBlit(const QRectF &dest, const QImage *source, const QRectF &src, const QImage *mask,
                 QPointF maskOrigin, quint32 ropForeground, quint32 ropBackground);
    bool SimpleRop(quint32 rop, QPainter::CompositionMode &mode) const;
    void DrawImageMapped(const QRectF &dest, const QImage &image, const QRectF &src, QPainter::CompositionMode mode);
    QPainterPath ArcPath(const QRectF &box, QPointF start, QPointF end, TArcKind kind, QPointF *arcStart,
                         QPointF *arcEnd) const;

    struct TTextLayout
    {
        QString Text;
        std::shared_ptr<const TFontCacheEntry> Entry;
        bool GlyphRun = false;
        QVector<quint32> Glyphs;
        QVector<double> Advances;   // canvas pixels along the baseline
        QVector<double> Shifts;     // of characters centred in a wide cell
        double Width = 0;
        double Ascent = 0, Descent = 0;
        double Em = 0;              // the font's height in canvas pixels
        double K = 1;               // canvas pixels per pixel of the font
        double Stretch = 1;         // the font's width against its natural one
    };
    double TextEm(const TMetaFont &font, double scaleY);
    TTextLayout LayOutText(const TMetaText &t, QString text, double em, double scaleX);
    void DrawTextRun(const TTextLayout &layout, const QTransform &frame, double x0, double baseline);
    void FillTextOutlines(const QPainterPath &path);
    std::shared_ptr<const TFontCacheEntry> FontFor(const TMetaFont &font, double emPixels);
    QString MapSymbolText(const QString &text) const;

    QImage &FCanvas;
    QPainter FPainter;
    QTransform FDeviceToCanvas;
    QPointF FDevicePerMm;
    TDcState FState;
    std::vector<TDcState> FSaved;
    std::vector<TMetaObject> FObjects;
    std::set<quint32> FFreeSlots;   // free slots below FObjects.size()
    qint64 FObjectsMade = 0;

    QTransform FTransform;          // logical -> canvas
    QTransform FInverse;
    bool FInvertible = true;
    bool FAxisAligned = true;
    bool FTransformDirty = true;
    bool FClipDirty = true;

    QPainterPath FPath;             // in canvas pixels
    bool FInPath = false;
    bool FFigureOpen = false;

    qint64 FRecords = 0;
    qint64 FPoints = 0;
    qint64 FWork = 0;
    qint64 FWorkLimit = 0;

    QHash<QString, std::shared_ptr<TFontCacheEntry>> FFonts;
};
