#pragma once

// Local
#include "MetaEngine.h"

// Qt
#include <QBrush>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QPolygonF>
#include <QRectF>
#include <QString>
#include <QTransform>
#include <QVector>

// Std
#include <variant>

// The graphics objects of EMF+ records (the GDI+ records that office
// programs put into EMF comment records), read into what QPainter draws
// with. Every reader takes the object's bytes (an EmfPlusObject record's
// data after its 12-byte header, continued records already joined) and
// throws TMetaBadRecord when they do not hold together; counts and sizes are
// checked against the bytes before anything is allocated, and points are
// charged to the engine's work limits.

// GDI+ units (UnitType): what a pen width, a font size or the page unit is
// measured in.
enum class TPlusUnit : int {
    World = 0, Display = 1, Pixel = 2, Point = 3, Inch = 4, Document = 5, Millimeter = 6,
};

enum class TPlusObjectType : int {
    Invalid = 0, Brush = 1, Pen = 2, Path = 3, Region = 4, Image = 5, Font = 6, StringFormat = 7,
    ImageAttributes = 8, CustomLineCap = 9,
};

// A brush in world coordinates: solid, hatched, texture, linear or path
// gradient. Gradients and textures carry their own transform already
// applied to the QBrush.
struct TPlusBrush
{
    QBrush Brush;
};

struct TPlusPen
{
    double Width = 1;                 // in Unit; 0 draws the thinnest line
    TPlusUnit Unit = TPlusUnit::World;
    QBrush Brush{Qt::black};
    QTransform Transform;             // the pen's own transform (identity when none)
    Qt::PenCapStyle Cap = Qt::FlatCap;          // start and end cap (custom caps: flat)
    Qt::PenJoinStyle Join = Qt::MiterJoin;
    double MiterLimit = 10;
    Qt::PenStyle Style = Qt::SolidLine;
    QVector<qreal> Dashes;            // in pen widths, for Qt::CustomDashLine
    double DashOffset = 0;            // in pen widths
    bool Inset = false;               // PenAlignmentInset
};

// A path: figures of lines and Bezier curves, closed where the file closes
// them. Fill rule: Qt::OddEvenFill unless the path says winding.
struct TPlusPath
{
    QPainterPath Path;
};

// A region as an outline in world coordinates; Infinite stands for the
// whole plane (a region that limits nothing).
struct TPlusRegion
{
    QPainterPath Path;
    bool Infinite = false;
};

struct TPlusFont
{
    double EmSize = 0;                // in SizeUnit
    TPlusUnit SizeUnit = TPlusUnit::World;
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool StrikeOut = false;
    QString Family;
};

struct TPlusStringFormat
{
    quint32 Flags = 0;                // StringFormatFlags (direction, no wrap, no clip, ...)
    int Alignment = 0;                // StringAlignment: 0 near, 1 centre, 2 far (horizontal)
    int LineAlign = 0;                // the same, vertical
    double LeadingMargin = 0;         // in font em
    double TrailingMargin = 0;
    double Tracking = 1;
};

// An image: a bitmap decoded (with the program's decoders for BMP and JPEG,
// Qt's for PNG and GIF, within the bitmap limits), or a metafile kept as
// its bytes for the player to draw. A format that cannot be decoded leaves
// both empty.
struct TPlusImage
{
    QImage Bitmap;                    // ARGB32_Premultiplied or RGB32
    QByteArray Metafile;
    int MetafileType = 0;             // MetafileDataType: 1 WMF, 2 placeable WMF, 3 EMF, 4 EMF+ only, 5 EMF+ dual
};

struct TPlusImageAttributes
{
    int WrapMode = 0;
    QColor ClampColor;
};

// std::monostate: a free slot, or an object that could not be read.
using TPlusObject = std::variant<std::monostate, TPlusBrush, TPlusPen, TPlusPath, TPlusRegion, TPlusImage,
                                 TPlusFont, TPlusStringFormat, TPlusImageAttributes>;

// The object of the type the record's flags give, from its data. A custom
// line cap and unknown types give std::monostate.
TPlusObject ReadPlusObject(TPlusObjectType type, const TMetaBytes &data, TMetaEngine &engine);

// Readers shared with the drawing records.
QColor PlusArgb(quint32 argb);
// count points from offset: EmfPlusPointF (8 bytes), compressed EmfPlusPoint
// (two 16-bit integers) or relative EmfPlusPointR (each a 7- or 15-bit offset
// from the previous point). end receives the offset just past them.
QPolygonF ReadPlusPoints(const TMetaBytes &data, qint64 offset, qint64 count, bool compressed, bool relative,
                         TMetaEngine &engine, qint64 *end = nullptr);
// An EmfPlusRectF (four floats) or, compressed, an EmfPlusRect (four 16-bit
// integers): x, y, width, height.
QRectF ReadPlusRect(const TMetaBytes &data, qint64 offset, bool compressed);
// An EmfPlusTransformMatrix: six floats m11, m12, m21, m22, dx, dy.
QTransform ReadPlusTransform(const TMetaBytes &data, qint64 offset);
