#pragma once

// Small metafiles written byte by byte, for the renderer's tests.

// Qt
#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QtEndian>

// Std
#include <initializer_list>

namespace MetafileBuilder {

inline void Put16(QByteArray &b, qint64 v)
{
    const quint16 le = qToLittleEndian(quint16(v));
    b.append(reinterpret_cast<const char *>(&le), 2);
}

inline void Put32(QByteArray &b, qint64 v)
{
    const quint32 le = qToLittleEndian(quint32(v));
    b.append(reinterpret_cast<const char *>(&le), 4);
}

inline quint32 Rgb(int r, int g, int b) { return quint32(r) | quint32(g) << 8 | quint32(b) << 16; }

// A bottom-up 24-bit DIB (header and rows) of the given colours, rows given
// from the top.
inline QByteArray Dib24(const QVector<QVector<QRgb>> &rowsTopDown, QByteArray *bitsOut = nullptr)
{
    const int h = int(rowsTopDown.size()), w = int(rowsTopDown[0].size());
    QByteArray header;
    Put32(header, 40);
    Put32(header, w);
    Put32(header, h);
    Put16(header, 1);
    Put16(header, 24);
    for (int i = 0; i < 6; ++i)
        Put32(header, 0);
    QByteArray bits;
    for (int y = h - 1; y >= 0; --y) {
        for (QRgb c : rowsTopDown[y])
            bits.append(char(qBlue(c))).append(char(qGreen(c))).append(char(qRed(c)));
        while (bits.size() % 4)
            bits.append('\0');
    }
    if (bitsOut) {
        *bitsOut = bits;
        return header;
    }
    return header + bits;
}

// An enhanced metafile. By default the frame is one inch square, so the
// picture is 96 x 96 pixels and one device pixel is one picture pixel.
class Emf
{
public:
    explicit Emf(QRect frame = QRect(QPoint(0, 0), QPoint(2540, 2540)), QSize device = QSize(960, 960),
                 QSize millimetres = QSize(254, 254))
        : FFrame(frame), FDevice(device), FMm(millimetres)
    {
    }

    // One record: type, then 32-bit parameters.
    Emf &Rec(quint32 type, std::initializer_list<qint64> params)
    {
        QByteArray body;
        for (qint64 p : params)
            Put32(body, p);
        return Raw(type, body);
    }
    // One record with a prepared body (its size is added here).
    Emf &Raw(quint32 type, const QByteArray &body)
    {
        QByteArray padded = body;
        while (padded.size() % 4)
            padded.append('\0');
        Put32(FRecords, type);
        Put32(FRecords, 8 + padded.size());
        FRecords += padded;
        ++FCount;
        return *this;
    }
    // Bytes as they are, for damaged records.
    Emf &Bytes(const QByteArray &bytes)
    {
        FRecords += bytes;
        return *this;
    }

    QByteArray Finish(bool withEof = true) const
    {
        QByteArray records = FRecords;
        if (withEof) {
            Put32(records, 14);
            Put32(records, 20);
            Put32(records, 0);
            Put32(records, 16);
            Put32(records, 20);
        }
        QByteArray h;
        Put32(h, 1);
        Put32(h, 88);
        for (int v : {0, 0, FDevice.width(), FDevice.height()})
            Put32(h, v);
        for (int v : {FFrame.left(), FFrame.top(), FFrame.right(), FFrame.bottom()})
            Put32(h, v);
        Put32(h, 0x464D4520);
        Put32(h, 0x10000);
        Put32(h, 88 + records.size());
        Put32(h, FCount + 2);
        Put16(h, 16);
        Put16(h, 0);
        Put32(h, 0);
        Put32(h, 0);
        Put32(h, 0);
        Put32(h, FDevice.width());
        Put32(h, FDevice.height());
        Put32(h, FMm.width());
        Put32(h, FMm.height());
        return h + records;
    }

    // Common records.
    Emf &Pen(quint32 index, quint32 style, int width, quint32 color)
    {
        return Rec(38, {index, style, width, 0, color});
    }
    Emf &Brush(quint32 index, quint32 style, quint32 color, quint32 hatch = 0)
    {
        return Rec(39, {index, style, color, hatch});
    }
    Emf &Select(quint32 index) { return Rec(37, {index}); }
    Emf &Rectangle(int l, int t, int r, int b) { return Rec(43, {l, t, r, b}); }
    Emf &MoveTo(int x, int y) { return Rec(27, {x, y}); }
    Emf &LineTo(int x, int y) { return Rec(54, {x, y}); }
    Emf &Polygon16(const QVector<QPoint> &points)
    {
        QByteArray body;
        for (int i = 0; i < 4; ++i)
            Put32(body, 0);
        Put32(body, points.size());
        for (const QPoint &p : points) {
            Put16(body, p.x());
            Put16(body, p.y());
        }
        return Raw(86, body);
    }

    // Stock objects
    static constexpr quint32 kNullPen = 0x80000008, kNullBrush = 0x80000005, kBlackPen = 0x80000007;

private:
    QRect FFrame;
    QSize FDevice, FMm;
    QByteArray FRecords;
    int FCount = 0;
};

// A Windows metafile with a placeable header whose box is boxWidth x boxHeight
// units at unitsPerInch (by default 96 x 96 pixels, one unit a pixel).
class Wmf
{
public:
    explicit Wmf(int boxWidth = 96, int boxHeight = 96, int unitsPerInch = 96, bool placeable = true)
        : FWidth(boxWidth), FHeight(boxHeight), FInch(unitsPerInch), FPlaceable(placeable)
    {
    }

    // One record: function, then 16-bit parameters as stored.
    Wmf &Rec(quint16 function, std::initializer_list<qint64> params)
    {
        QByteArray body;
        for (qint64 p : params)
            Put16(body, p);
        return Raw(function, body);
    }
    Wmf &Raw(quint16 function, const QByteArray &body)
    {
        QByteArray padded = body;
        if (padded.size() % 2)
            padded.append('\0');
        Put32(FRecords, 3 + padded.size() / 2);
        Put16(FRecords, function);
        FRecords += padded;
        return *this;
    }
    Wmf &Bytes(const QByteArray &bytes)
    {
        FRecords += bytes;
        return *this;
    }

    QByteArray Finish(bool withEof = true) const
    {
        QByteArray records = FRecords;
        if (withEof) {
            Put32(records, 3);
            Put16(records, 0);
        }
        QByteArray out;
        if (FPlaceable) {
            Put32(out, 0x9AC6CDD7);
            Put16(out, 0);
            for (int v : {0, 0, FWidth, FHeight})
                Put16(out, v);
            Put16(out, FInch);
            Put32(out, 0);
            Put16(out, 0);
        }
        Put16(out, 1);
        Put16(out, 9);
        Put16(out, 0x300);
        Put32(out, (18 + records.size()) / 2);
        Put16(out, 8);
        Put32(out, 0);
        Put16(out, 0);
        return out + records;
    }

    // Common records (parameters in the order the file stores them).
    Wmf &Window(int x, int y, int w, int h) { return Rec(0x020B, {y, x}).Rec(0x020C, {h, w}); }
    Wmf &Pen(int style, int width, quint32 color)
    {
        return Rec(0x02FA, {style, width, 0, qint64(color & 0xFFFF), qint64(color >> 16)});
    }
    Wmf &Brush(int style, quint32 color, int hatch = 0)
    {
        return Rec(0x02FC, {style, qint64(color & 0xFFFF), qint64(color >> 16), hatch});
    }
    Wmf &Select(int index) { return Rec(0x012D, {index}); }
    Wmf &Delete(int index) { return Rec(0x01F0, {index}); }
    Wmf &Rectangle(int l, int t, int r, int b) { return Rec(0x041B, {b, r, t, l}); }
    Wmf &MoveTo(int x, int y) { return Rec(0x0214, {y, x}); }
    Wmf &LineTo(int x, int y) { return Rec(0x0213, {y, x}); }

private:
    int FWidth, FHeight, FInch;
    bool FPlaceable;
    QByteArray FRecords;
};

// Pixel helpers
inline QRgb At(const QImage &image, int x, int y) { return image.pixel(x, y) & 0xFFFFFF; }

// The bounding box of every pixel that is not white.
inline QRect Ink(const QImage &image)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (At(image, x, y) != 0xFFFFFF)
                box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

} // namespace MetafileBuilder
