// Qt
#include <QtTest>

// Std
#include <cstring>
#include <sys/resource.h>

// Local
#include "AppError.h"
#include "Metafile.h"
#include "MetafileBuilder.h"

using namespace MetafileBuilder;

namespace {

struct Probe
{
    int X, Y;
    QRgb Color;
};
using Probes = QVector<Probe>;

constexpr QRgb kWhite = 0xFFFFFF, kBlack = 0x000000, kRed = 0xFF0000, kBlue = 0x0000FF, kGreen = 0x00FF00,
               kYellow = 0xFFFF00;

// EMF record types used here
enum : quint32 {
    SETWINDOWEXTEX = 9, SETWINDOWORGEX = 10, SETVIEWPORTEXTEX = 11, SETVIEWPORTORGEX = 12, SETMAPMODE = 17,
    SETBKMODE = 18, SETPOLYFILLMODE = 19, SETROP2 = 20, SETTEXTALIGN = 22, SETTEXTCOLOR = 24, SETBKCOLOR = 25,
    OFFSETCLIPRGN = 26, SETMETARGN = 28, EXCLUDECLIPRECT = 29, INTERSECTCLIPRECT = 30, SAVEDC = 33,
    RESTOREDC = 34, SETWORLDTRANSFORM = 35, DELETEOBJECT = 40, ELLIPSE = 42, BEGINPATH = 59, ENDPATH = 60,
    FILLPATH = 62, SELECTCLIPPATH = 67, COMMENT = 70, EXTSELECTCLIPRGN = 75, BITBLT = 76, STRETCHDIBITS = 81,
    EXTCREATEFONTINDIRECTW = 82, EXTTEXTOUTW = 84, CREATEDIBPATTERNBRUSHPT = 94,
};

qint64 Float(float f)
{
    quint32 bits;
    std::memcpy(&bits, &f, 4);
    return bits;
}

QImage Render(const QByteArray &file)
{
    return RenderMetafile(file, MetafileKind::Emf);
}

// A solid red brush and no pen: fills show exactly where the shape is.
Emf RedFill(Emf emf = Emf())
{
    return emf.Select(Emf::kNullPen).Brush(1, 0, Rgb(255, 0, 0)).Select(1);
}

// Region data: header and rectangles (device units).
QByteArray RegionData(const QVector<QRect> &rects)
{
    QByteArray b;
    Put32(b, 32);
    Put32(b, 1);
    Put32(b, rects.size());
    Put32(b, rects.size() * 16);
    for (int i = 0; i < 4; ++i)
        Put32(b, 0);
    for (const QRect &r : rects) {
        Put32(b, r.left());
        Put32(b, r.top());
        Put32(b, r.right() + 1);
        Put32(b, r.bottom() + 1);
    }
    return b;
}

QByteArray SelectClipRegion(const QVector<QRect> &rects, int mode)
{
    const QByteArray data = RegionData(rects);
    QByteArray body;
    Put32(body, data.size());
    Put32(body, mode);
    return body + data;
}

// A font record: height in logical units, face name.
QByteArray Font(quint32 index, int height, const QString &face, int escapement = 0, bool underline = false)
{
    QByteArray b;
    Put32(b, index);
    Put32(b, height);
    Put32(b, 0);
    Put32(b, escapement);
    Put32(b, escapement);
    Put32(b, 400);
    Put32(b, underline ? 0x01000100 : 0x01000000);    // italic, underline, strike-out, charset 1
    Put32(b, 0);
    for (int i = 0; i < 32; ++i)
        Put16(b, i < face.size() ? face[i].unicode() : 0);
    return b;
}

// ExtTextOutW at (x, y), optional advances.
QByteArray Text(int x, int y, const QString &text, const QVector<int> &dx = {})
{
    QByteArray b;
    for (int i = 0; i < 4; ++i)
        Put32(b, 0);                         // bounds
    Put32(b, 1);                             // graphics mode
    Put32(b, Float(1));
    Put32(b, Float(1));
    Put32(b, x);
    Put32(b, y);
    Put32(b, text.size());
    const int offString = 8 + 28 + 40;
    Put32(b, offString);
    Put32(b, 0);                             // options
    for (int i = 0; i < 4; ++i)
        Put32(b, 0);                         // rectangle
    const int stringBytes = (text.size() * 2 + 3) / 4 * 4;
    Put32(b, dx.isEmpty() ? 0 : offString + stringBytes);
    QByteArray s;
    for (QChar c : text)
        Put16(s, c.unicode());
    while (s.size() % 4)
        s.append('\0');
    b += s;
    for (int d : dx)
        Put32(b, d);
    return b;
}

// StretchDIBits of a whole DIB (or a part of it) onto a rectangle.
QByteArray StretchDib(QRect dest, QRect src, const QByteArray &header, const QByteArray &bits,
                      quint32 rop = 0x00CC0020)
{
    QByteArray b;
    for (int i = 0; i < 4; ++i)
        Put32(b, 0);
    for (int v : {dest.x(), dest.y(), src.x(), src.y(), src.width(), src.height()})
        Put32(b, v);
    const int offBmi = 8 + 72;
    Put32(b, offBmi);
    Put32(b, header.size());
    Put32(b, offBmi + header.size());
    Put32(b, bits.size());
    Put32(b, 0);
    Put32(b, rop);
    Put32(b, dest.width());
    Put32(b, dest.height());
    return b + header + bits;
}

QByteArray BitBlt(QRect dest, QPoint src, const QByteArray &header, const QByteArray &bits, quint32 rop = 0x00CC0020)
{
    QByteArray b;
    for (int i = 0; i < 4; ++i)
        Put32(b, 0);
    for (int v : {dest.x(), dest.y(), dest.width(), dest.height()})
        Put32(b, v);
    Put32(b, rop);
    Put32(b, src.x());
    Put32(b, src.y());
    for (float f : {1.f, 0.f, 0.f, 1.f, 0.f, 0.f})
        Put32(b, Float(f));
    Put32(b, 0xFFFFFF);
    Put32(b, 0);
    const int offBmi = 8 + 92;
    Put32(b, offBmi);
    Put32(b, header.size());
    Put32(b, offBmi + header.size());
    Put32(b, bits.size());
    return b + header + bits;
}

const QVector<QVector<QRgb>> kQuadrants = {{0xffff0000, 0xff00ff00}, {0xff0000ff, 0xffffff00}};

} // namespace

Q_DECLARE_METATYPE(Probe)
Q_DECLARE_METATYPE(Probes)

class tst_EmfReader : public QObject
{
    Q_OBJECT

private slots:
    void hugeTextCostsLittleMemory();
    void naturalSizeIsTheFrame_data();
    void naturalSizeIsTheFrame();
    void pixels_data();
    void pixels();
    void textAlignment_data();
    void textAlignment();
    void textBackgroundAndRotation();
    void symbolFontDrawsGreek();
    void damagedRecords_data();
    void damagedRecords();
    void workLimitEndsTheDrawing();
};

// Peak memory of the process so far, in MiB.
long PeakMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

// Text 20000 pixels high in characters the font lacks: Qt would keep the
// fallback fonts' glyphs as images of that size (over 500 MB). It runs
// first, while the process's peak memory is still low.
void tst_EmfReader::hugeTextCostsLittleMemory()
{
    const QString text = QStringLiteral("\u0915\u0916 \u05D0\u05D1 \u4E00\u4E8C");
    const QByteArray file = Emf().Rec(SETMAPMODE, {8}).Rec(SETWINDOWEXTEX, {1, 1}).Rec(SETVIEWPORTEXTEX, {1, 2000})
                                .Raw(EXTCREATEFONTINDIRECTW, Font(1, -10, QStringLiteral("Arial"))).Select(1)
                                .Raw(EXTTEXTOUTW, Text(0, 0, text)).Finish();
    const long before = PeakMiB();
    QCOMPARE(Render(file).size(), QSize(96, 96));
    QVERIFY2(PeakMiB() - before < 256, qPrintable(QStringLiteral("peak grew by %1 MiB").arg(PeakMiB() - before)));
}

// An A4 page drawn by a 1200 dpi printer (frame 296.99 x 209.99 mm): the
// picture is the frame at 96 dpi, rounded, whatever the mapping mode, and a
// rectangle over the whole page fills it.
void tst_EmfReader::naturalSizeIsTheFrame_data()
{
    QTest::addColumn<QByteArray>("file");
    const Emf page(QRect(QPoint(0, 0), QPoint(29699, 20999)), QSize(10205, 13181), QSize(216, 279));
    QTest::newRow("low metric")
        << RedFill(Emf(page).Rec(SETMAPMODE, {2})).Rectangle(0, 0, 2970, -2100).Finish();
    QTest::newRow("anisotropic")
        << RedFill(Emf(page).Rec(SETMAPMODE, {8}).Rec(SETWINDOWEXTEX, {2970, 2100}).Rec(SETVIEWPORTEXTEX, {14032, 9922}))
               .Rectangle(0, 0, 2970, 2100).Finish();
    QTest::newRow("device pixels") << RedFill(Emf(page)).Rectangle(0, 0, 14032, 9922).Finish();
}

void tst_EmfReader::naturalSizeIsTheFrame()
{
    QFETCH(QByteArray, file);
    const QImage image = Render(file);
    QCOMPARE(image.size(), QSize(1122, 794));
    QCOMPARE(Ink(image), QRect(0, 0, 1122, 794));
}

void tst_EmfReader::pixels_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<Probes>("probes");

    // Lines leave out their last pixel.
    QTest::newRow("line") << Emf().Pen(1, 0, 0, Rgb(0, 0, 0)).Select(1).MoveTo(10, 20).LineTo(60, 20).Finish()
                          << Probes{{10, 20, kBlack}, {59, 20, kBlack}, {60, 20, kWhite}, {35, 21, kWhite}};
    // A thin frame lies inside the rectangle, whose right and bottom edges are outside.
    QTest::newRow("rectangle with frame")
        << Emf().Pen(1, 0, 0, Rgb(0, 0, 0)).Select(1).Brush(2, 0, Rgb(255, 0, 0)).Select(2).Rectangle(10, 10, 40, 30).Finish()
        << Probes{{10, 20, kBlack}, {39, 20, kBlack}, {40, 20, kWhite}, {20, 10, kBlack}, {20, 29, kBlack},
                  {20, 30, kWhite}, {20, 20, kRed}};
    QTest::newRow("rectangle without pen")
        << RedFill().Rectangle(10, 10, 40, 30).Finish()
        << Probes{{10, 10, kRed}, {39, 29, kRed}, {40, 20, kWhite}, {20, 30, kWhite}, {9, 20, kWhite}};
    QTest::newRow("ellipse") << RedFill().Rec(ELLIPSE, {10, 10, 50, 50}).Finish()
                             << Probes{{30, 30, kRed}, {11, 11, kWhite}, {30, 11, kRed}, {48, 48, kWhite}};

    // A pentagram: its middle is inside twice, empty with alternate filling.
    const QVector<QPoint> star = {{48, 5}, {74, 85}, {8, 35}, {88, 35}, {22, 85}};
    QTest::newRow("alternate fill") << RedFill().Rec(SETPOLYFILLMODE, {1}).Polygon16(star).Finish()
                                    << Probes{{48, 50, kWhite}, {48, 15, kRed}, {90, 90, kWhite}};
    QTest::newRow("winding fill") << RedFill().Rec(SETPOLYFILLMODE, {2}).Polygon16(star).Finish()
                                  << Probes{{48, 50, kRed}, {48, 15, kRed}};

    // Raster operations: exclusive or with white turns black to white.
    QTest::newRow("xor pen")
        << Emf().Select(Emf::kNullPen).Rec(37, {0x80000004}).Rectangle(0, 0, 48, 96).Rec(SETROP2, {7})
               .Rec(37, {0x80000000}).Rectangle(24, 0, 72, 96).Finish()
        << Probes{{10, 10, kBlack}, {30, 10, kWhite}, {60, 10, kBlack}, {80, 10, kWhite}};

    // Hatches keep to the canvas grid; the gaps take the background colour
    // when the background is opaque.
    QTest::newRow("cross hatch, opaque")
        << Emf().Select(Emf::kNullPen).Rec(SETBKMODE, {2}).Rec(SETBKCOLOR, {Rgb(0, 0, 255)})
               .Brush(1, 2, Rgb(255, 0, 0), 4).Select(1).Rectangle(0, 0, 96, 96).Finish()
        << Probes{{16, 20, kRed}, {20, 16, kRed}, {20, 20, kBlue}, {17, 17, kBlue}};
    QTest::newRow("cross hatch, transparent")
        << Emf().Select(Emf::kNullPen).Rec(SETBKMODE, {1}).Brush(1, 2, Rgb(255, 0, 0), 4).Select(1)
               .Rectangle(0, 0, 96, 96).Finish()
        << Probes{{16, 20, kRed}, {20, 20, kWhite}};

    // Mapping modes.
    QTest::newRow("world transform")
        << RedFill().Rec(SETWORLDTRANSFORM, {Float(2), 0, 0, Float(2), Float(4), 0}).Rectangle(5, 5, 15, 15).Finish()
        << Probes{{15, 11, kRed}, {33, 29, kRed}, {35, 31, kWhite}, {12, 9, kWhite}};
    // 0.1 mm units, y upwards: 10 mm is 37.8 pixels.
    QTest::newRow("low metric")
        << RedFill(Emf().Rec(SETMAPMODE, {2})).Rectangle(0, 0, 100, -100).Finish()
        << Probes{{2, 2, kRed}, {36, 36, kRed}, {39, 5, kWhite}, {5, 39, kWhite}};
    QTest::newRow("anisotropic")
        << RedFill(Emf().Rec(SETMAPMODE, {8}).Rec(SETWINDOWEXTEX, {1000, 1000}).Rec(SETVIEWPORTEXTEX, {96, 48}))
               .Rectangle(500, 500, 1000, 1000).Finish()
        << Probes{{50, 26, kRed}, {95, 47, kRed}, {46, 26, kWhite}, {50, 22, kWhite}, {50, 50, kWhite}};
    // The same extents keep the smaller scale in both directions.
    QTest::newRow("isotropic")
        << RedFill(Emf().Rec(SETMAPMODE, {7}).Rec(SETWINDOWEXTEX, {1000, 1000}).Rec(SETVIEWPORTEXTEX, {96, 48}))
               .Rectangle(500, 500, 1000, 1000).Finish()
        << Probes{{30, 30, kRed}, {47, 47, kRed}, {50, 30, kWhite}, {30, 50, kWhite}};
    QTest::newRow("window origin")
        << RedFill(Emf().Rec(SETMAPMODE, {8}).Rec(SETWINDOWORGEX, {100, 100}).Rec(SETWINDOWEXTEX, {100, 100})
                       .Rec(SETVIEWPORTEXTEX, {96, 96}))
               .Rectangle(100, 100, 150, 150).Finish()
        << Probes{{10, 10, kRed}, {46, 46, kRed}, {50, 50, kWhite}};
    QTest::newRow("viewport upwards")
        << RedFill(Emf().Rec(SETMAPMODE, {8}).Rec(SETWINDOWEXTEX, {96, 96}).Rec(SETVIEWPORTORGEX, {0, 96})
                       .Rec(SETVIEWPORTEXTEX, {96, -96}))
               .Rectangle(0, 0, 48, 24).Finish()
        << Probes{{10, 90, kRed}, {10, 73, kRed}, {10, 70, kWhite}, {10, 10, kWhite}};
    // Extents mean nothing in the text mode.
    QTest::newRow("text mode ignores extents")
        << RedFill().Rec(SETWINDOWEXTEX, {10, 10}).Rec(SETVIEWPORTEXTEX, {96, 96}).Rectangle(0, 0, 10, 10).Finish()
        << Probes{{5, 5, kRed}, {12, 12, kWhite}};

    // Clipping.
    const auto fill = [](Emf e) { return RedFill(e).Rectangle(0, 0, 96, 96).Finish(); };
    QTest::newRow("intersect clip") << fill(Emf().Rec(INTERSECTCLIPRECT, {20, 20, 40, 40}))
                                    << Probes{{30, 30, kRed}, {39, 39, kRed}, {40, 40, kWhite}, {10, 10, kWhite}};
    QTest::newRow("exclude clip") << fill(Emf().Rec(EXCLUDECLIPRECT, {20, 20, 40, 40}))
                                  << Probes{{30, 30, kWhite}, {10, 10, kRed}, {40, 40, kRed}};
    QTest::newRow("restore removes clip")
        << fill(Emf().Rec(SAVEDC, {}).Rec(INTERSECTCLIPRECT, {20, 20, 40, 40}).Rec(RESTOREDC, {-1}))
        << Probes{{30, 30, kRed}, {10, 10, kRed}, {80, 80, kRed}};
    QTest::newRow("clip region")
        << fill(Emf().Raw(EXTSELECTCLIPRGN, SelectClipRegion({QRect(0, 0, 10, 10), QRect(50, 50, 10, 10)}, 5)))
        << Probes{{5, 5, kRed}, {55, 55, kRed}, {30, 30, kWhite}, {65, 65, kWhite}};
    // Regions are in device units: the mapping does not move them.
    QTest::newRow("clip region ignores mapping")
        << fill(Emf().Rec(SETMAPMODE, {8}).Rec(SETWINDOWEXTEX, {1, 1}).Rec(SETVIEWPORTEXTEX, {2, 2})
                    .Raw(EXTSELECTCLIPRGN, SelectClipRegion({QRect(10, 10, 10, 10)}, 5)))
        << Probes{{15, 15, kRed}, {25, 25, kWhite}};
    QTest::newRow("clip region removed")
        << fill(Emf().Rec(INTERSECTCLIPRECT, {0, 0, 10, 10}).Rec(EXTSELECTCLIPRGN, {0, 5}))
        << Probes{{50, 50, kRed}};
    QTest::newRow("clip path")
        << fill(Emf().Rec(BEGINPATH, {}).Rectangle(10, 10, 30, 30).Rec(ENDPATH, {}).Rec(SELECTCLIPPATH, {5}))
        << Probes{{20, 20, kRed}, {40, 40, kWhite}, {5, 5, kWhite}};
    QTest::newRow("meta region")
        << fill(Emf().Rec(INTERSECTCLIPRECT, {0, 0, 50, 50}).Rec(SETMETARGN, {}).Rec(INTERSECTCLIPRECT, {40, 40, 96, 96}))
        << Probes{{45, 45, kRed}, {30, 30, kWhite}, {60, 60, kWhite}};
    // Flood fills stop at a border colour, or keep to a surface colour, and
    // to the clip.
    QTest::newRow("flood fill to a border")
        << Emf().Select(Emf::kBlackPen).Select(Emf::kNullBrush).Rectangle(10, 10, 50, 50)
               .Brush(1, 0, Rgb(255, 0, 0)).Select(1).Rec(53, {30, 30, Rgb(0, 0, 0), 0}).Finish()
        << Probes{{30, 30, kRed}, {11, 48, kRed}, {10, 30, kBlack}, {60, 60, kWhite}, {5, 5, kWhite}};
    QTest::newRow("flood fill of a surface, clipped")
        << Emf().Select(Emf::kNullPen).Brush(1, 0, Rgb(0, 0, 255)).Select(1).Rectangle(0, 0, 60, 60)
               .Rec(INTERSECTCLIPRECT, {0, 0, 30, 96}).Brush(2, 0, Rgb(255, 0, 0)).Select(2)
               .Rec(53, {10, 10, Rgb(0, 0, 255), 1}).Finish()
        << Probes{{10, 10, kRed}, {29, 59, kRed}, {40, 10, kBlue}, {10, 70, kWhite}};
    // Rotated, the clip rectangle is a polygon 280000 pixels tall: Qt gives
    // up on polygon regions over 100000 pixels tall.
    QTest::newRow("huge rotated clip")
        << fill(Emf().Rec(SETWORLDTRANSFORM, {Float(0.6f), Float(0.8f), Float(-0.8f), Float(0.6f), 0, 0})
                    .Rec(INTERSECTCLIPRECT, {-100000, -100000, 100000, 100000})
                    .Rec(SETWORLDTRANSFORM, {Float(1), 0, 0, Float(1), 0, 0}))
        << Probes{{5, 5, kRed}, {90, 90, kRed}};
    QTest::newRow("offset clip")
        << fill(Emf().Rec(INTERSECTCLIPRECT, {0, 0, 20, 20}).Rec(OFFSETCLIPRGN, {40, 40}))
        << Probes{{50, 50, kRed}, {10, 10, kWhite}};

    // Paths fill what they enclose.
    QTest::newRow("filled path")
        << RedFill().Rec(BEGINPATH, {}).MoveTo(10, 10).LineTo(60, 10).LineTo(60, 40).Rec(ENDPATH, {})
               .Rec(FILLPATH, {0, 0, 0, 0}).Finish()
        << Probes{{50, 15, kRed}, {20, 35, kWhite}};

    // Bitmaps: a bottom-up DIB appears upright, whatever the record.
    QByteArray bits;
    const QByteArray header = Dib24(kQuadrants, &bits);
    const Probes quadrants{{15, 15, kRed}, {45, 15, kGreen}, {15, 45, kBlue}, {45, 45, kYellow}, {65, 30, kWhite}};
    QTest::newRow("stretched DIB")
        << Emf().Raw(STRETCHDIBITS, StretchDib(QRect(0, 0, 60, 60), QRect(0, 0, 2, 2), header, bits)).Finish() << quadrants;
    QTest::newRow("blit stretched by the mapping")
        << Emf().Rec(SETMAPMODE, {8}).Rec(SETWINDOWEXTEX, {2, 2}).Rec(SETVIEWPORTEXTEX, {60, 60})
               .Raw(BITBLT, BitBlt(QRect(0, 0, 2, 2), QPoint(0, 0), header, bits)).Finish()
        << quadrants;
    // StretchDIBits counts source rows of a bottom-up DIB from the bottom;
    // a blit's source is an upright picture.
    QTest::newRow("DIB source from the bottom")
        << Emf().Raw(STRETCHDIBITS, StretchDib(QRect(0, 0, 20, 20), QRect(0, 0, 1, 1), header, bits)).Finish()
        << Probes{{10, 10, kBlue}, {25, 10, kWhite}};
    QTest::newRow("blit source from the top")
        << Emf().Raw(BITBLT, BitBlt(QRect(0, 0, 1, 1), QPoint(1, 0), header, bits)).Finish()
        << Probes{{0, 0, kGreen}, {1, 1, kWhite}};
    QTest::newRow("source invert")
        << Emf().Select(Emf::kNullPen).Rec(37, {0x80000004}).Rectangle(0, 0, 96, 96)
               .Raw(STRETCHDIBITS, StretchDib(QRect(0, 0, 60, 60), QRect(0, 0, 2, 2), header, bits, 0x00660046))
               .Finish()
        << Probes{{15, 15, kRed}, {45, 45, kYellow}, {70, 70, kBlack}};
    // A rare ternary operation (where the source is white, the brush; elsewhere
    // the canvas stays), done pixel by pixel.
    const QByteArray mask = Dib24({{0xffffffff, 0xff000000}}, &bits);
    QTest::newRow("masked brush operation")
        << RedFill().Raw(STRETCHDIBITS, StretchDib(QRect(0, 0, 40, 20), QRect(0, 0, 2, 1), mask, bits, 0x00E20746)).Finish()
        << Probes{{10, 10, kRed}, {30, 10, kWhite}};
    // A DIB brush repeats on the canvas grid.
    QByteArray brushBits;
    const QByteArray brushHeader = Dib24({{0xff000000, 0xffffffff}, {0xffffffff, 0xff000000}}, &brushBits);
    QByteArray brushRecord;
    Put32(brushRecord, 1);
    Put32(brushRecord, 0);
    Put32(brushRecord, 32);
    Put32(brushRecord, brushHeader.size());
    Put32(brushRecord, 32 + brushHeader.size());
    Put32(brushRecord, brushBits.size());
    QTest::newRow("DIB pattern brush")
        << Emf().Select(Emf::kNullPen).Raw(CREATEDIBPATTERNBRUSHPT, brushRecord + brushHeader + brushBits).Select(1)
               .Rectangle(0, 0, 96, 96).Finish()
        << Probes{{10, 10, kBlack}, {11, 10, kWhite}, {11, 11, kBlack}, {50, 51, kWhite}};

    // Objects: a deleted brush stays selected; an unknown index changes nothing.
    QTest::newRow("deleted brush stays selected")
        << RedFill().Rec(DELETEOBJECT, {1}).Rectangle(0, 0, 10, 10).Finish() << Probes{{5, 5, kRed}};
    QTest::newRow("unknown object index")
        << RedFill().Select(999999).Select(70000).Rectangle(0, 0, 10, 10).Finish() << Probes{{5, 5, kRed}};
    QTest::newRow("restore beyond saved states")
        << RedFill().Rec(SAVEDC, {}).Rec(RESTOREDC, {-5}).Rec(RESTOREDC, {3}).Rectangle(0, 0, 10, 10).Finish()
        << Probes{{5, 5, kRed}};
    // EMF+ records travel in comments; the plain records beside them draw.
    QByteArray plus("EMF+\x01\x40\x00\x00\x0c\x00\x00\x00\x00\x00\x00\x00", 16);
    QByteArray comment;
    Put32(comment, plus.size());
    QTest::newRow("EMF+ comment skipped")
        << RedFill().Raw(COMMENT, comment + plus).Rectangle(0, 0, 10, 10).Finish() << Probes{{5, 5, kRed}};
}

void tst_EmfReader::pixels()
{
    QFETCH(QByteArray, file);
    QFETCH(Probes, probes);
    const QImage image = Render(file);
    QCOMPARE(image.size(), QSize(96, 96));
    QCOMPARE(image.format(), QImage::Format_BGR888);
    for (const Probe &p : probes) {
        const QString where = QStringLiteral("pixel %1,%2").arg(p.X).arg(p.Y);
        QVERIFY2(At(image, p.X, p.Y) == p.Color,
                 qPrintable(where + QStringLiteral(" is %1, not %2").arg(At(image, p.X, p.Y), 6, 16, QLatin1Char('0'))
                                        .arg(p.Color, 6, 16, QLatin1Char('0'))));
    }
}

// Text around the reference point (48, 48) as the alignment says.
void tst_EmfReader::textAlignment_data()
{
    QTest::addColumn<int>("align");
    QTest::addColumn<QString>("expect");
    QTest::newRow("left top") << 0 << "right below";
    QTest::newRow("right bottom") << (2 | 8) << "left above";
    QTest::newRow("centre baseline") << (6 | 24) << "both above";
}

void tst_EmfReader::textAlignment()
{
    QFETCH(int, align);
    QFETCH(QString, expect);
    const QByteArray file = Emf()
                                .Raw(EXTCREATEFONTINDIRECTW, Font(1, -20, QStringLiteral("Arial")))
                                .Select(1)
                                .Rec(SETBKMODE, {1})
                                .Rec(SETTEXTCOLOR, {Rgb(255, 0, 0)})
                                .Rec(SETTEXTALIGN, {align})
                                .Raw(EXTTEXTOUTW, Text(48, 48, QStringLiteral("HH")))
                                .Finish();
    const QImage image = Render(file);
    const QRect ink = Ink(image);
    QVERIFY(!ink.isEmpty());
    // Capital letters of a 20-pixel font are about 14 pixels high.
    QVERIFY2(ink.height() >= 11 && ink.height() <= 17, qPrintable(QString::number(ink.height())));
    if (expect.startsWith(QLatin1String("right")))
        QVERIFY(ink.left() >= 48 && ink.left() <= 52);
    else if (expect.startsWith(QLatin1String("left")))
        QVERIFY(ink.right() < 48 && ink.right() >= 44);
    else
        QVERIFY(ink.left() < 46 && ink.right() > 50 && std::abs(ink.center().x() - 48) <= 2);
    if (expect.endsWith(QLatin1String("below")))
        QVERIFY(ink.top() >= 48 && ink.top() <= 53);
    else
        QVERIFY(ink.bottom() < 48 && ink.bottom() >= 42);
    // The text colour is the one set, not the pen's.
    bool red = false;
    for (int y = ink.top(); y <= ink.bottom(); ++y) {
        for (int x = ink.left(); x <= ink.right(); ++x) {
            red = red || At(image, x, y) == kRed;
            QVERIFY(qRed(At(image, x, y)) == 255);
        }
    }
    QVERIFY(red);
}

void tst_EmfReader::textBackgroundAndRotation()
{
    auto render = [](int bkMode, int escapement, const QVector<int> &dx, bool underline = false) {
        return Render(Emf()
                          .Raw(EXTCREATEFONTINDIRECTW, Font(1, -20, QStringLiteral("Arial"), escapement, underline))
                          .Select(1)
                          .Rec(SETBKMODE, {bkMode})
                          .Rec(SETBKCOLOR, {Rgb(0, 255, 0)})
                          .Rec(SETTEXTALIGN, {24})
                          .Raw(EXTTEXTOUTW, Text(20, 60, QStringLiteral("HHH"), dx))
                          .Finish());
    };
    // An opaque background fills the text's cell in the background colour.
    const QImage opaque = render(2, 0, {});
    QCOMPARE(At(opaque, 21, 44), kGreen);
    QCOMPARE(At(render(1, 0, {}), 21, 44), kWhite);
    // Escapement 90 degrees runs the text upwards.
    const QRect flat = Ink(render(1, 0, {}));
    const QRect up = Ink(render(1, 900, {}));
    QVERIFY(flat.width() > flat.height());
    QVERIFY(up.height() > up.width());
    QVERIFY(up.bottom() <= 61 && up.right() < 40);
    // The underline turns with the text (it once stayed level, far off).
    const QRect underlined = Ink(render(1, 900, {}, true));
    QVERIFY(underlined.width() > up.width());
    QVERIFY(underlined.right() <= 26 && underlined.height() <= up.height() + 4);
    // The file's advances place the characters.
    const QRect spaced = Ink(render(1, 0, {30, 30, 30}));
    QVERIFY2(flat.width() < 50 && spaced.width() > 65, qPrintable(QString::number(spaced.width())));
}

// Symbol-font text is drawn as the Greek and mathematical signs it stands for.
void tst_EmfReader::symbolFontDrawsGreek()
{
    auto render = [](const QString &face, const QString &text) {
        return Render(Emf()
                          .Raw(EXTCREATEFONTINDIRECTW, Font(1, -40, face))
                          .Select(1)
                          .Rec(SETBKMODE, {1})
                          .Raw(EXTTEXTOUTW, Text(20, 20, text))
                          .Finish());
    };
    const QImage symbol = render(QStringLiteral("Symbol"), QStringLiteral("a"));
    QCOMPARE(symbol, render(QStringLiteral("DejaVu Serif"), QString(QChar(0x03B1))));
    QVERIFY(symbol != render(QStringLiteral("DejaVu Serif"), QStringLiteral("a")));
    // The private-use spelling of the same character.
    QCOMPARE(render(QStringLiteral("Symbol"), QString(QChar(0xF061))), symbol);
}

// A record size that does not fit the file, or a work limit, ends the
// drawing; what came before stays. A record of sound size whose contents
// cannot be used is skipped, and drawing goes on after it.
void tst_EmfReader::damagedRecords_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("drawnAfter");
    const Emf before = RedFill().Rectangle(0, 0, 20, 20);
    QByteArray huge;
    Put32(huge, 43);
    Put32(huge, 0x7FFFFFF0);
    QByteArray unaligned;
    Put32(unaligned, 43);
    Put32(unaligned, 26);
    QByteArray zero;
    Put32(zero, 43);
    Put32(zero, 0);
    QByteArray points;    // a polygon promising far more points than it holds
    for (int i = 0; i < 4; ++i)
        Put32(points, 0);
    Put32(points, 0x7FFFFFFF);
    Put32(points, 0);
    QByteArray text = Text(10, 10, QStringLiteral("x"));
    text.replace(36, 4, QByteArray("\xff\xff\xff\x7f", 4));    // character count
    QByteArray region;
    Put32(region, 0x40000000);
    Put32(region, 5);
    auto after = [](Emf e) { return e.Rectangle(40, 40, 60, 60).Finish(); };
    QTest::newRow("size beyond the file") << after(Emf(before).Bytes(huge)) << false;
    QTest::newRow("unaligned size") << after(Emf(before).Bytes(unaligned)) << false;
    QTest::newRow("zero size") << after(Emf(before).Bytes(zero)) << false;
    QTest::newRow("point count") << after(Emf(before).Raw(86, points)) << true;
    QTest::newRow("text length") << after(Emf(before).Raw(EXTTEXTOUTW, text)) << true;
    QTest::newRow("region size") << after(Emf(before).Raw(EXTSELECTCLIPRGN, region)) << true;
    Emf saves(before);
    for (int i = 0; i < 5000; ++i)
        saves.Rec(SAVEDC, {});
    QTest::newRow("saved states without end") << after(saves) << false;
    QByteArray cheap;    // one record that changes nothing, past the record limit
    Put32(cheap, 18);
    Put32(cheap, 12);
    Put32(cheap, 1);
    QTest::newRow("too many records") << after(Emf(before).Bytes(cheap.repeated(4000001))) << false;
    QTest::newRow("no end record") << Emf(before).Finish(false) << false;

    // Every kind of record the reader plays, without its parameters.
    for (const quint32 type : {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15, 17, 18, 19, 20, 21, 22, 24, 25, 26,
                               27, 29, 30, 31, 32, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49,
                               50, 51, 53, 54, 55, 56, 57, 58, 67, 71, 72, 73, 74, 75, 76, 77, 78, 79, 80, 81, 82,
                               83, 84, 85, 86, 87, 88, 89, 90, 91, 92, 93, 94, 95, 96, 97, 108, 114, 116, 118, 120})
        QTest::newRow(qPrintable(QStringLiteral("empty record %1").arg(type))) << after(Emf(before).Raw(type, {})) << true;
    // An object record of no use leaves an empty object at its index: the
    // blue brush there is gone, and selecting the index keeps the red one.
    for (const quint32 type : {38, 39, 49, 82, 93, 94, 95})
        QTest::newRow(qPrintable(QStringLiteral("object record %1").arg(type)))
            << after(Emf(before).Brush(2, 0, Rgb(0, 0, 255)).Rec(type, {2}).Select(2)) << true;
}

void tst_EmfReader::damagedRecords()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, drawnAfter);
    const QImage image = Render(file);
    QCOMPARE(At(image, 10, 10), kRed);
    QCOMPARE(At(image, 50, 50), drawnAfter ? kRed : kWhite);
}

// Drawing is bounded: after many covers of the whole picture the rest of
// the file is left out.
void tst_EmfReader::workLimitEndsTheDrawing()
{
    QByteArray fill;
    Put32(fill, 43);
    Put32(fill, 24);
    for (int v : {0, 0, 96, 96})
        Put32(fill, v);
    const QImage image = Render(RedFill().Bytes(fill.repeated(20000)).Brush(2, 0, Rgb(0, 0, 255)).Select(2)
                                    .Rectangle(40, 40, 60, 60).Finish());
    QCOMPARE(At(image, 50, 50), kRed);
    // The same drawing a little shorter is done whole.
    const QImage whole = Render(RedFill().Bytes(fill.repeated(200)).Brush(2, 0, Rgb(0, 0, 255)).Select(2)
                                    .Rectangle(40, 40, 60, 60).Finish());
    QCOMPARE(At(whole, 50, 50), kBlue);
    // Characters the fonts lack are shaped one by one with a fallback font:
    // 20000 of them are more work than this picture allows.
    const QImage fallback = Render(RedFill().Raw(EXTTEXTOUTW, Text(0, 20, QString(20000, QChar(0x4E00))))
                                       .Brush(2, 0, Rgb(0, 0, 255)).Select(2).Rectangle(40, 40, 60, 60).Finish());
    QCOMPARE(At(fallback, 50, 50), kWhite);
    // Every new font is worth a quarter megapixel: three hundred of them (in
    // as many weights) are more than this picture allows.
    Emf fonts = RedFill();
    for (int weight = 1; weight <= 300; ++weight) {
        QByteArray font = Font(3, -12, QStringLiteral("Arial"));
        font.replace(20, 4, QByteArray(reinterpret_cast<const char *>(&weight), 4));
        fonts.Raw(EXTCREATEFONTINDIRECTW, font).Select(3).Raw(EXTTEXTOUTW, Text(0, 0, QStringLiteral("x")));
    }
    const QImage manyFonts = Render(fonts.Brush(2, 0, Rgb(0, 0, 255)).Select(2).Rectangle(40, 40, 60, 60).Finish());
    QCOMPARE(At(manyFonts, 50, 50), kWhite);
}

QTEST_MAIN(tst_EmfReader)
#include "tst_EmfReader.moc"
