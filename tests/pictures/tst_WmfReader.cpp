// Qt
#include <QtTest>

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

enum : quint16 {
    SAVEDC = 0x001E, SETBKMODE = 0x0102, SETMAPMODE = 0x0103, SETPOLYFILLMODE = 0x0106, RESTOREDC = 0x0127,
    SETTEXTALIGN = 0x012E, DIBCREATEPATTERNBRUSH = 0x0142, INTERSECTCLIPRECT = 0x0416, FILLREGION = 0x0228,
    INVERTREGION = 0x012A, PAINTREGION = 0x012B, SELECTCLIPREGION = 0x012C, OFFSETCLIPRGN = 0x0220,
    FRAMEREGION = 0x0429,
    CREATEFONTINDIRECT = 0x02FB, POLYGON = 0x0324, TEXTOUT = 0x0521, CREATEREGION = 0x06FF, PIE = 0x081A,
    EXTTEXTOUT = 0x0A32, STRETCHBLT = 0x0B23, DIBSTRETCHBLT = 0x0B41, STRETCHDIB = 0x0F43,
};

QImage Render(const QByteArray &file)
{
    return RenderMetafile(file, MetafileKind::Wmf);
}

// A null pen (slot 0) and a solid red brush (slot 1), both selected.
Wmf RedFill(Wmf wmf = Wmf())
{
    return wmf.Pen(5, 0, 0).Select(0).Brush(0, Rgb(255, 0, 0)).Select(1);
}

QByteArray Font(int height, const QByteArray &face, int charset = 0)
{
    QByteArray b;
    for (int v : {height, 0, 0, 0, 400})
        Put16(b, v);
    b.append('\0').append('\0').append('\0').append(char(charset));
    b.append(QByteArray(4, '\0'));
    b += face.leftJustified(32, '\0');
    return b;
}

QByteArray ExtText(int x, int y, const QByteArray &text, const QVector<int> &dx = {})
{
    QByteArray b;
    Put16(b, y);
    Put16(b, x);
    Put16(b, text.size());
    Put16(b, 0);
    b += text;
    if (b.size() % 2)
        b.append('\0');
    for (int d : dx)
        Put16(b, d);
    return b;
}

const QVector<QVector<QRgb>> kQuadrants = {{0xffff0000, 0xff00ff00}, {0xff0000ff, 0xffffff00}};

QByteArray Blit(std::initializer_list<int> params, const QByteArray &bitmap, quint32 rop = 0x00CC0020)
{
    QByteArray b;
    Put32(b, rop);
    for (int p : params)
        Put16(b, p);
    return b + bitmap;
}

// A device-dependent 24-bit bitmap, rows from the top, padded to words.
QByteArray Bitmap16(const QVector<QVector<QRgb>> &rows)
{
    const int w = int(rows[0].size()), h = int(rows.size());
    const int stride = (w * 3 + 1) / 2 * 2;
    QByteArray b;
    for (int v : {0, w, h, stride})
        Put16(b, v);
    b.append(char(1)).append(char(24));
    for (const auto &row : rows) {
        QByteArray line;
        for (QRgb c : row)
            line.append(char(qBlue(c))).append(char(qGreen(c))).append(char(qRed(c)));
        b += line.leftJustified(stride, '\0');
    }
    return b;
}

// A region of one band: y from top to bottom, x from left to right.
QByteArray Region(int left, int top, int right, int bottom)
{
    QByteArray b;
    for (int v : {0, 6, 0, 34, 1, 10, left, top, right, bottom, 2, top, bottom, left, right, 2})
        Put16(b, v);
    return b;
}

} // namespace

Q_DECLARE_METATYPE(Probe)
Q_DECLARE_METATYPE(Probes)

class tst_WmfReader : public QObject
{
    Q_OBJECT

private slots:
    void naturalSize_data();
    void naturalSize();
    void pixels_data();
    void pixels();
    void text();
    void characterSets();
};

void tst_WmfReader::naturalSize_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QSize>("size");
    QTest::newRow("placeable, 1440 per inch") << Wmf(1440, 720, 1440).Finish() << QSize(96, 48);
    QTest::newRow("placeable, 96 per inch") << Wmf(100, 60, 96).Finish() << QSize(100, 60);
    QTest::newRow("placeable, rounded") << Wmf(320, 320, 2309).Finish() << QSize(13, 13);
    QTest::newRow("window extent") << Wmf(1, 1, 1, false).Window(0, 0, 40, 30).Finish() << QSize(40, 30);
    QTest::newRow("window extent upwards") << Wmf(1, 1, 1, false).Window(5, 5, 40, -30).Finish() << QSize(40, 30);
}

void tst_WmfReader::naturalSize()
{
    QFETCH(QByteArray, file);
    QFETCH(QSize, size);
    const QImage image = Render(file);
    QCOMPARE(image.size(), size);
    QCOMPARE(image.format(), QImage::Format_BGR888);
    QCOMPARE(At(image, 0, 0), kWhite);
}

void tst_WmfReader::pixels_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<Probes>("probes");

    // The window is shown across the whole picture, whatever its units.
    QTest::newRow("window on the box")
        << RedFill(Wmf().Window(0, 0, 1000, 1000)).Rectangle(500, 500, 1000, 1000).Finish()
        << Probes{{50, 50, kRed}, {95, 95, kRed}, {46, 46, kWhite}};
    QTest::newRow("window smaller than the box")
        << RedFill(Wmf().Window(0, 0, 48, 48)).Rectangle(0, 0, 24, 24).Finish()
        << Probes{{2, 2, kRed}, {46, 46, kRed}, {50, 50, kWhite}};
    QTest::newRow("window upwards")
        << RedFill(Wmf().Window(0, 96, 96, -96)).Rectangle(0, 0, 48, 24).Finish()
        << Probes{{10, 90, kRed}, {10, 73, kRed}, {10, 70, kWhite}};
    // In the text mode a unit is a unit of the box.
    QTest::newRow("text mode")
        << RedFill(Wmf(192, 192, 192).Window(0, 0, 10, 10).Rec(SETMAPMODE, {1})).Rectangle(20, 20, 40, 40).Finish()
        << Probes{{15, 15, kRed}, {11, 11, kRed}, {21, 21, kWhite}, {9, 9, kWhite}};
    QTest::newRow("line") << Wmf().Pen(0, 0, Rgb(0, 0, 255)).Select(0).MoveTo(10, 20).LineTo(60, 20).Finish()
                          << Probes{{10, 20, kBlue}, {59, 20, kBlue}, {60, 20, kWhite}, {30, 21, kWhite}};
    QTest::newRow("polygon") << RedFill().Rec(POLYGON, {3, 10, 10, 80, 10, 10, 80}).Finish()
                             << Probes{{20, 20, kRed}, {70, 70, kWhite}};

    // Created objects take the lowest free slot.
    QTest::newRow("object slots")
        << Wmf().Pen(5, 0, 0).Brush(0, Rgb(255, 0, 0)).Brush(0, Rgb(0, 0, 255)).Delete(1).Brush(0, Rgb(0, 255, 0))
               .Select(0).Select(1).Rectangle(0, 0, 20, 20).Select(2).Rectangle(40, 40, 60, 60).Finish()
        << Probes{{10, 10, kGreen}, {50, 50, kBlue}};
    QTest::newRow("selecting a free slot")
        << RedFill().Brush(0, Rgb(0, 0, 255)).Delete(2).Select(2).Rectangle(0, 0, 20, 20).Finish()
        << Probes{{10, 10, kRed}};

    QTest::newRow("region")
        << RedFill().Raw(CREATEREGION, Region(10, 20, 30, 40)).Rec(FILLREGION, {2, 1}).Finish()
        << Probes{{15, 25, kRed}, {29, 39, kRed}, {30, 25, kWhite}, {15, 40, kWhite}};
    QTest::newRow("clip until restored")
        << RedFill().Rec(SAVEDC, {}).Rec(INTERSECTCLIPRECT, {20, 20, 10, 10}).Rectangle(0, 0, 40, 40)
               .Rec(RESTOREDC, {-1}).Rectangle(50, 50, 60, 60).Finish()
        << Probes{{15, 15, kRed}, {25, 25, kWhite}, {55, 55, kRed}};
    // A quarter from three o'clock counter-clockwise to twelve.
    QTest::newRow("pie") << RedFill().Rec(PIE, {10, 50, 50, 90, 90, 90, 10, 10}).Finish()
                         << Probes{{70, 30, kRed}, {30, 30, kWhite}, {70, 70, kWhite}, {30, 70, kWhite}};

    // Bitmaps come upright.
    const Probes quadrants{{15, 15, kRed}, {45, 15, kGreen}, {15, 45, kBlue}, {45, 45, kYellow}, {65, 30, kWhite}};
    QByteArray dib = Dib24(kQuadrants);
    QByteArray stretch;
    Put32(stretch, 0x00CC0020);
    for (int v : {0, 2, 2, 0, 0, 60, 60, 0, 0})
        Put16(stretch, v);
    QTest::newRow("stretched DIB") << Wmf().Raw(STRETCHDIB, stretch + dib).Finish() << quadrants;
    QTest::newRow("DIB blit") << Wmf().Raw(DIBSTRETCHBLT, Blit({2, 2, 0, 0, 60, 60, 0, 0}, dib)).Finish() << quadrants;
    QTest::newRow("device bitmap blit")
        << Wmf().Raw(STRETCHBLT, Blit({2, 2, 0, 0, 60, 60, 0, 0}, Bitmap16(kQuadrants))).Finish() << quadrants;
    QByteArray pattern;
    Put16(pattern, 5);
    Put16(pattern, 0);
    pattern += Dib24({{0xff000000, 0xffffffff}, {0xffffffff, 0xff000000}});
    QTest::newRow("DIB pattern brush")
        << Wmf().Pen(5, 0, 0).Select(0).Raw(DIBCREATEPATTERNBRUSH, pattern).Select(1).Rectangle(0, 0, 96, 96).Finish()
        << Probes{{10, 10, kBlack}, {11, 10, kWhite}, {11, 11, kBlack}};

    // A region record too short for a region leaves an empty slot 2: the good
    // region (3) is filled, painted red, inverted to cyan and framed in blue
    // (4); selecting slot 2 as the clip changes nothing.
    QByteArray shortRegion;
    for (int v : {0, 6, 0, 20})
        Put16(shortRegion, v);
    QTest::newRow("region too short")
        << RedFill().Raw(CREATEREGION, shortRegion).Raw(CREATEREGION, Region(10, 20, 30, 40)).Brush(0, Rgb(0, 0, 255))
               .Rec(FILLREGION, {3, 4}).Rec(SELECTCLIPREGION, {2}).Rec(OFFSETCLIPRGN, {5, 5}).Rec(PAINTREGION, {3})
               .Rec(INVERTREGION, {3}).Rec(FRAMEREGION, {3, 4, 2, 2}).Rectangle(40, 40, 60, 60).Finish()
        << Probes{{20, 30, 0x00FFFF}, {10, 30, kBlue}, {29, 39, kBlue}, {9, 30, kWhite}, {50, 50, kRed}};

    // Damage in a record's size ends the drawing; a record of sound size
    // whose contents cannot be used is skipped.
    QByteArray huge;
    Put32(huge, 0x7FFFFFFF);
    Put16(huge, 0x041B);
    QTest::newRow("record size beyond the file")
        << RedFill().Rectangle(0, 0, 20, 20).Bytes(huge).Rectangle(40, 40, 60, 60).Finish()
        << Probes{{10, 10, kRed}, {50, 50, kWhite}};
    QTest::newRow("point count beyond the record")
        << RedFill().Rectangle(0, 0, 20, 20).Rec(POLYGON, {30000, 0, 0, 90, 90}).Rectangle(40, 40, 60, 60).Finish()
        << Probes{{10, 10, kRed}, {50, 50, kRed}};
    // Every kind of record the reader plays, without its parameters. One
    // that makes an object leaves an empty one in slot 2: selecting it
    // changes nothing, and the blue brush after it goes to slot 3.
    const QList<int> makers = {0x00F7, 0x0142, 0x01F9, 0x02FA, 0x02FB, 0x02FC, 0x06FF};
    for (const int function : {0x0035, 0x00F7, 0x0102, 0x0103, 0x0104, 0x0106, 0x0107, 0x0108, 0x0127, 0x012A,
                               0x012B, 0x012C, 0x012D, 0x012E, 0x0142, 0x01F0, 0x01F9, 0x0201, 0x0209, 0x020A,
                               0x020B, 0x020C, 0x020D, 0x020E, 0x020F, 0x0211, 0x0213, 0x0214, 0x0220, 0x0228,
                               0x0234, 0x02FA, 0x02FB, 0x02FC, 0x0324, 0x0325, 0x0410, 0x0412, 0x0415, 0x0416,
                               0x0418, 0x0419, 0x041B, 0x041F, 0x0429, 0x0521, 0x0538, 0x0548, 0x061C, 0x061D,
                               0x06FF, 0x0817, 0x081A, 0x0922, 0x0940, 0x0A32, 0x0B23, 0x0B41, 0x0D33, 0x0F43, 0x0830})
        QTest::newRow(qPrintable(QStringLiteral("empty record %1").arg(function, 4, 16, QLatin1Char('0'))))
            << RedFill().Raw(quint16(function), {}).Brush(0, Rgb(0, 0, 255)).Select(2).Rectangle(0, 0, 20, 20)
                   .Select(3).Rectangle(40, 40, 60, 60).Finish()
            << Probes{{10, 10, makers.contains(function) ? kRed : kBlue}, {50, 50, kBlue}};
    QTest::newRow("no end record") << RedFill().Rectangle(0, 0, 20, 20).Finish(false) << Probes{{10, 10, kRed}};
}

void tst_WmfReader::pixels()
{
    QFETCH(QByteArray, file);
    QFETCH(Probes, probes);
    const QImage image = Render(file);
    QCOMPARE(image.size(), QSize(96, 96));
    for (const Probe &p : probes) {
        QVERIFY2(At(image, p.X, p.Y) == p.Color,
                 qPrintable(QStringLiteral("pixel %1,%2 is %3").arg(p.X).arg(p.Y).arg(At(image, p.X, p.Y), 6, 16)));
    }
}

void tst_WmfReader::text()
{
    const Wmf withFont = Wmf().Raw(CREATEFONTINDIRECT, Font(-20, "Arial")).Select(0).Rec(SETBKMODE, {1});
    // Plain text at its reference point, aligned on the baseline.
    QByteArray textOut;
    Put16(textOut, 2);
    textOut += "HH";
    Put16(textOut, 40);
    Put16(textOut, 10);
    const QRect plain = Ink(Render(Wmf(withFont).Rec(SETTEXTALIGN, {24}).Raw(TEXTOUT, textOut).Finish()));
    QVERIFY(!plain.isEmpty());
    QVERIFY(plain.left() >= 10 && plain.left() <= 13);
    QVERIFY(plain.bottom() < 40 && plain.bottom() >= 37);

    // With the current position, each text starts where the last ended and
    // the coordinates in the record are ignored.
    const QRect one = Ink(Render(Wmf(withFont).Rec(SETTEXTALIGN, {25}).MoveTo(10, 40).Raw(EXTTEXTOUT, ExtText(70, 90, "H")).Finish()));
    const QRect two = Ink(Render(Wmf(withFont)
                                     .Rec(SETTEXTALIGN, {25})
                                     .MoveTo(10, 40)
                                     .Raw(EXTTEXTOUT, ExtText(70, 90, "H"))
                                     .Raw(EXTTEXTOUT, ExtText(70, 90, "H"))
                                     .Finish()));
    QCOMPARE(one.left(), two.left());
    QVERIFY(one.left() <= 13 && one.bottom() < 40);
    QVERIFY(two.width() > one.width() + 10);
}

// Eight-bit text is read in the font's character set; the advances of a
// two-byte character add up.
void tst_WmfReader::characterSets()
{
    auto text = [](const QByteArray &face, int charset, const QByteArray &bytes, const QVector<int> &dx = {}) {
        return Render(Wmf()
                          .Raw(CREATEFONTINDIRECT, Font(-30, face, charset))
                          .Select(0)
                          .Rec(SETBKMODE, {1})
                          .Rec(SETTEXTALIGN, {24})
                          .Raw(EXTTEXTOUT, ExtText(10, 60, bytes, dx))
                          .Finish());
    };
    // 0xC0 is a Cyrillic A in the Russian set, an A with grave accent in the Western one.
    const QImage russian = text("Arial", 204, "\xC0");
    const QImage western = text("Arial", 0, "\xC0");
    QVERIFY(russian != western);
    QCOMPARE(russian, text("Arial", 0, "A"));
    QVERIFY(Ink(western).top() < Ink(russian).top());
    // Big5: two bytes make one character; the H after it starts 40 units on.
    const QRect h = Ink(text("Arial", 136, "\xA4\x40H", {20, 20, 20}));
    const QRect hAlone = Ink(text("Arial", 136, "H"));
    QVERIFY2(h.right() - hAlone.right() >= 38 && h.right() - hAlone.right() <= 42,
             qPrintable(QString::number(h.right() - hAlone.right())));
}

QTEST_MAIN(tst_WmfReader)
#include "tst_WmfReader.moc"
