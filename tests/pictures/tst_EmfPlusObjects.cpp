// Qt
#include <QLinearGradient>
#include <QRadialGradient>
#include <QtTest>

// Std
#include <cstring>
#include <limits>

// Local
#include "EmfPlusObjects.h"
#include "MetafileBuilder.h"

using namespace MetafileBuilder;
using T = TPlusObjectType;

namespace {

constexpr quint32 kVersion = 0xDBC01002;

// Object bytes written field by field.
struct Blob
{
    QByteArray B;
    Blob &U32(qint64 v) { Put32(B, v); return *this; }
    Blob &U16(qint64 v) { Put16(B, v); return *this; }
    Blob &U8(int v) { B.append(char(v)); return *this; }
    Blob &F(float f)
    {
        quint32 u;
        std::memcpy(&u, &f, 4);
        return U32(u);
    }
    Blob &Add(const QByteArray &b) { B += b; return *this; }
    Blob &Pad() { while (B.size() % 4) B.append('\0'); return *this; }
};

QByteArray Path(const QVector<QPointF> &points, const QByteArray &types)
{
    Blob b;
    b.U32(kVersion).U32(points.size()).U32(0);
    for (QPointF p : points)
        b.F(p.x()).F(p.y());
    return b.Add(types).Pad().B;
}

QByteArray RectNode(float x, float y, float w, float h)
{
    return Blob().U32(0x10000000).F(x).F(y).F(w).F(h).B;
}

QByteArray Combine(quint32 op, const QByteArray &left, const QByteArray &right)
{
    return Blob().U32(op).Add(left).Add(right).B;
}

QByteArray Region(const QByteArray &nodes)
{
    return Blob().U32(kVersion).U32(2).Add(nodes).B;
}

QByteArray SolidBrush(quint32 argb)
{
    return Blob().U32(kVersion).U32(0).U32(argb).B;
}

QByteArray BitmapImage(int w, int h, int stride, quint32 format, const QByteArray &data)
{
    return Blob().U32(kVersion).U32(1).U32(w).U32(h).U32(stride).U32(format).U32(0).Add(data).B;
}

// A BMP file of one row: blue, then green.
QByteArray Bmp2x1()
{
    const QByteArray dib = Dib24({{0xFF0000FF, 0xFF00FF00}});
    QByteArray file("BM");
    Put32(file, 14 + dib.size());
    Put32(file, 0);
    Put32(file, 14 + 40);
    return file + dib;
}

struct Canvas
{
    QImage Image{16, 16, QImage::Format_BGR888};
    TMetaEngine Engine{Image, QTransform(), QPointF(1, 1)};
};

TPlusObject Read(T type, const QByteArray &blob)
{
    Canvas canvas;
    return ReadPlusObject(type, TMetaBytes(blob), canvas.Engine);
}

// Lines through the points, closed or not.
QPainterPath Figure(const QPolygonF &points, bool closed)
{
    QPainterPath path;
    path.addPolygon(points);
    if (closed)
        path.closeSubpath();
    return path;
}

} // namespace

Q_DECLARE_METATYPE(TPlusObjectType)
Q_DECLARE_METATYPE(QPainterPath)

class tst_EmfPlusObjects : public QObject
{
    Q_OBJECT

private slots:
    void paths_data();
    void paths();
    void regions_data();
    void regions();
    void pens_data();
    void pens();
    void brushes();
    void images_data();
    void images();
    void font();
    void hostile_data();
    void hostile();
};

void tst_EmfPlusObjects::paths_data()
{
    QTest::addColumn<QByteArray>("blob");
    QTest::addColumn<QPainterPath>("expected");
    const QPainterPath triangle = Figure({{1, 2}, {5, 2}, {5, 6}}, true);
    QTest::newRow("float lines, closed")
        << Path({{1, 2}, {5, 2}, {5, 6}}, QByteArray("\x00\x01\x81", 3)) << triangle;
    QTest::newRow("compressed points")
        << Blob().U32(kVersion).U32(3).U32(0x4000).U16(1).U16(2).U16(5).U16(2).U16(5).U16(6)
               .Add(QByteArray("\x00\x01\x81", 3)).Pad().B
        << triangle;
    // Offsets 1,2 then +4,0 then 0,+4; the last pair tries the two-byte
    // form and negative values: +256 and -16384, then -1 and -64.
    QTest::newRow("relative points")
        << Blob().U32(kVersion).U32(5).U32(0x0800).U8(1).U8(2).U8(4).U8(0).U8(0).U8(4).U8(0x81).U8(0)
               .U8(0xC0).U8(0).U8(0x7F).U8(0x40).Add(QByteArray("\x00\x01\x01\x01\x01", 5)).Pad().B
        << Figure({{1, 2}, {5, 2}, {5, 6}, {261, 6 - 16384}, {260, 6 - 16384 - 64}}, false);
    // Run-length types: a start, then three Bezier points, the last closing;
    // then a lone start point.
    QPainterPath curve;
    curve.moveTo(0, 0);
    curve.cubicTo(1, 1, 2, 1, 3, 0);
    curve.closeSubpath();
    curve.moveTo(9, 9);
    QTest::newRow("run-length types, Bezier")
        << Blob().U32(kVersion).U32(5).U32(0x1000).F(0).F(0).F(1).F(1).F(2).F(1).F(3).F(0).F(9).F(9)
               .U8(0x41).U8(0).U8(0xC2).U8(3).U8(0xC1).U8(0x83).U8(0x41).U8(0).B
        << curve;
}

void tst_EmfPlusObjects::paths()
{
    QFETCH(QByteArray, blob);
    QFETCH(QPainterPath, expected);
    const TPlusObject object = Read(T::Path, blob);
    const auto *path = std::get_if<TPlusPath>(&object);
    QVERIFY(path);
    QCOMPARE(path->Path, expected);
}

void tst_EmfPlusObjects::regions_data()
{
    QTest::addColumn<QByteArray>("blob");
    QTest::addColumn<bool>("infinite");
    QTest::addColumn<QVector<QPointF>>("inside");
    QTest::addColumn<QVector<QPointF>>("outside");
    // Two overlapping squares: a = (0,0)-(10,10), b = (5,5)-(15,15).
    const QByteArray a = RectNode(0, 0, 10, 10), b = RectNode(5, 5, 10, 10);
    const QByteArray infinite = Blob().U32(0x10000003).B;
    const QPointF onlyA(2, 2), both(7, 7), onlyB(12, 12), neither(20, 1), far(1e6, -1e6);
    using P = QVector<QPointF>;
    QTest::newRow("and") << Region(Combine(1, a, b)) << false << P{both} << P{onlyA, onlyB, neither};
    QTest::newRow("or") << Region(Combine(2, a, b)) << false << P{onlyA, both, onlyB} << P{neither};
    QTest::newRow("xor") << Region(Combine(3, a, b)) << false << P{onlyA, onlyB} << P{both, neither};
    QTest::newRow("exclude") << Region(Combine(4, a, b)) << false << P{onlyA} << P{both, onlyB, neither};
    QTest::newRow("complement") << Region(Combine(5, a, b)) << false << P{onlyB} << P{onlyA, both, neither};
    QTest::newRow("infinite and a") << Region(Combine(1, infinite, a)) << false << P{onlyA} << P{onlyB};
    QTest::newRow("a or infinite") << Region(Combine(2, a, infinite)) << true << P{} << P{};
    QTest::newRow("a exclude infinite") << Region(Combine(4, a, infinite)) << false << P{} << P{onlyA, far};
    QTest::newRow("infinite exclude a") << Region(Combine(4, infinite, a)) << false << P{onlyB, far} << P{onlyA};
    QTest::newRow("path node") << Region(Blob().U32(0x10000001).U32(Path({{0, 0}, {4, 0}, {0, 4}},
                                                                        QByteArray("\x00\x01\x81", 3)).size())
                                             .Add(Path({{0, 0}, {4, 0}, {0, 4}}, QByteArray("\x00\x01\x81", 3))).B)
                               << false << P{{1, 1}} << P{{3, 3}};
}

void tst_EmfPlusObjects::regions()
{
    QFETCH(QByteArray, blob);
    QFETCH(bool, infinite);
    QFETCH(QVector<QPointF>, inside);
    QFETCH(QVector<QPointF>, outside);
    const TPlusObject object = Read(T::Region, blob);
    const auto *region = std::get_if<TPlusRegion>(&object);
    QVERIFY(region);
    QCOMPARE(region->Infinite, infinite);
    for (QPointF p : inside)
        QVERIFY2(region->Path.contains(p), qPrintable(QString("%1,%2").arg(p.x()).arg(p.y())));
    for (QPointF p : outside)
        QVERIFY2(!region->Path.contains(p), qPrintable(QString("%1,%2").arg(p.x()).arg(p.y())));
}

void tst_EmfPlusObjects::pens_data()
{
    QTest::addColumn<QByteArray>("blob");
    QTest::addColumn<QString>("expected");   // width cap join dashes offset inset transform
    auto pen = [](quint32 flags, float width, const QByteArray &optional) {
        return Blob().U32(kVersion).U32(0).U32(flags).U32(2).F(width).Add(optional).Add(SolidBrush(0xFF00FF00)).B;
    };
    QTest::newRow("plain") << pen(0, 2.5f, {}) << "2.5 0 0 [] 0 0 1,0,0,1,0,0";
    // Transform, start cap round, end cap square (the start cap wins),
    // bevel join, miter limit, dashed line cap, dash offset, custom dashes
    // of an odd count, inset, compound line, custom start and end caps.
    QTest::newRow("every field")
        << pen(0x1FFF, 1,
               Blob().F(2).F(0).F(0).F(2).F(3).F(4).U32(2).U32(1).U32(1).F(4).U32(5).U32(0).F(0.5f)
                   .U32(3).F(2).F(1).F(0.5f).U32(1).U32(2).F(0).F(1).U32(4).U32(0).U32(8).U32(0).U32(0).B)
        << "1 32 64 [2,1,0.5,2,1,0.5] 0.5 1 2,0,0,2,3,4";
    QTest::newRow("dash style, end cap") << pen(0x24, 3, Blob().U32(1).U32(1).B) << "3 16 0 [3,1] 0 0 1,0,0,1,0,0";
    QTest::newRow("round join, dash dot") << pen(0x28, 1, Blob().U32(2).U32(3).B) << "1 0 128 [3,1,1,1] 0 0 1,0,0,1,0,0";
}

void tst_EmfPlusObjects::pens()
{
    QFETCH(QByteArray, blob);
    const TPlusObject object = Read(T::Pen, blob);
    const auto *pen = std::get_if<TPlusPen>(&object);
    QVERIFY(pen);
    QStringList dashes;
    for (qreal d : pen->Dashes)
        dashes << QString::number(d);
    const QTransform &t = pen->Transform;
    QTEST(QStringLiteral("%1 %2 %3 [%4] %5 %6 %7,%8,%9,%10,%11,%12")
              .arg(pen->Width).arg(int(pen->Cap)).arg(int(pen->Join)).arg(dashes.join(','))
              .arg(pen->DashOffset).arg(int(pen->Inset)).arg(t.m11()).arg(t.m12()).arg(t.m21()).arg(t.m22())
              .arg(t.dx()).arg(t.dy()),
          "expected");
    QCOMPARE(pen->Style, pen->Dashes.isEmpty() ? Qt::SolidLine : Qt::CustomDashLine);
    QCOMPARE(pen->Unit, TPlusUnit::Pixel);
    QCOMPARE(pen->Brush.color(), QColor(0, 255, 0));
}

void tst_EmfPlusObjects::brushes()
{
    auto brushOf = [](const QByteArray &blob) {
        const TPlusObject object = Read(T::Brush, blob);
        const auto *brush = std::get_if<TPlusBrush>(&object);
        return brush ? brush->Brush : QBrush(Qt::NoBrush);
    };
    // Stored blue, green, red, alpha.
    QCOMPARE(brushOf(SolidBrush(0x80112233)).color(), QColor(0x11, 0x22, 0x33, 0x80));
    // Horizontal hatch: the top row in the fore colour, the next in the back.
    const QBrush hatch = brushOf(Blob().U32(kVersion).U32(1).U32(0).U32(0xFFFF0000).U32(0xFF0000FF).B);
    QCOMPARE(hatch.style(), Qt::TexturePattern);
    QCOMPARE(hatch.textureImage().pixel(3, 0), 0xFFFF0000);
    QCOMPARE(hatch.textureImage().pixel(3, 1), 0xFF0000FF);
    // Linear gradient with a transform and blend factors: the factor is the
    // end colour's share.
    const QBrush linear = brushOf(Blob().U32(kVersion).U32(4).U32(0x0A).U32(4).F(10).F(20).F(100).F(50)
                                      .U32(0xFF000000).U32(0xFFFFFFFF).U32(0).U32(0)
                                      .F(1).F(0).F(0).F(1).F(5).F(0).U32(3).F(0).F(0.5f).F(1).F(0).F(0.2f).F(1).B);
    QCOMPARE(linear.style(), Qt::LinearGradientPattern);
    const auto *lg = static_cast<const QLinearGradient *>(linear.gradient());
    QCOMPARE(lg->start(), QPointF(10, 20));
    QCOMPARE(lg->finalStop(), QPointF(110, 20));
    QCOMPARE(lg->spread(), QGradient::PadSpread);
    QCOMPARE(lg->stops().size(), 3);
    QCOMPARE(lg->stops()[1].first, 0.5);
    QCOMPARE(lg->stops()[1].second, QColor(51, 51, 51));
    QCOMPARE(linear.transform(), QTransform(1, 0, 0, 1, 5, 0));
    // Path gradient over boundary points (0,0)-(20,10) with its centre at
    // (10,5): an ellipse of radii 10 and 5 around it.
    const QBrush path = brushOf(Blob().U32(kVersion).U32(3).U32(0).U32(0).U32(0xFFFFFFFF).F(10).F(5).U32(1)
                                    .U32(0xFF0000FF).U32(2).F(0).F(0).F(20).F(10).B);
    QCOMPARE(path.style(), Qt::RadialGradientPattern);
    QCOMPARE(path.gradient()->stops(), (QGradientStops{{0, QColor(255, 255, 255)}, {1, QColor(0, 0, 255)}}));
    QCOMPARE(path.transform().map(QPointF(1, 0)), QPointF(20, 5));
    QCOMPARE(path.transform().map(QPointF(0, -1)), QPointF(10, 0));
    // Texture: a 1x1 bitmap, with a transform.
    const QBrush texture = brushOf(Blob().U32(kVersion).U32(2).U32(0x02).U32(0).F(2).F(0).F(0).F(2).F(0).F(0)
                                       .Add(BitmapImage(1, 1, 4, 0x00022009, Blob().U32(0xFF123456).B)).B);
    QCOMPARE(texture.style(), Qt::TexturePattern);
    QCOMPARE(texture.textureImage().pixel(0, 0), 0xFF123456);
    QCOMPARE(texture.transform(), QTransform::fromScale(2, 2));
}

void tst_EmfPlusObjects::images_data()
{
    QTest::addColumn<QByteArray>("blob");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QVector<QRgb>>("pixels");   // row by row, premultiplied
    QTest::newRow("32-bit ARGB")
        << BitmapImage(2, 2, 8, 0x0026200A, Blob().U32(0xFFFF0000).U32(0x800000FF).U32(0x00FFFFFF).U32(0xFF00FF00).B)
        << QSize(2, 2) << QVector<QRgb>{0xFFFF0000, 0x80000080, 0, 0xFF00FF00};
    // Palette (flags, count, entries), then rows of 4 bytes: 1 0 1 / 0 1 0.
    QTest::newRow("1 bpp indexed")
        << BitmapImage(3, 2, 4, 0x00030101,
                       Blob().U32(0).U32(2).U32(0xFF000000).U32(0xFFFFFF00).U32(0xA0).U32(0x40).B)
        << QSize(3, 2) << QVector<QRgb>{0xFFFFFF00, 0xFF000000, 0xFFFFFF00, 0xFF000000, 0xFFFFFF00, 0xFF000000};
    QTest::newRow("embedded BMP") << Blob().U32(kVersion).U32(1).U32(2).U32(1).U32(0).U32(0).U32(1).Add(Bmp2x1()).B
                                  << QSize(2, 1) << QVector<QRgb>{0xFF0000FF, 0xFF00FF00};
}

void tst_EmfPlusObjects::images()
{
    QFETCH(QByteArray, blob);
    QFETCH(QSize, size);
    QFETCH(QVector<QRgb>, pixels);
    const TPlusObject object = Read(T::Image, blob);
    const auto *image = std::get_if<TPlusImage>(&object);
    QVERIFY(image);
    QCOMPARE(image->Bitmap.size(), size);
    const QImage premultiplied = image->Bitmap.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int i = 0; i < pixels.size(); ++i)
        QCOMPARE(premultiplied.pixel(i % size.width(), i / size.width()), pixels[i]);
}

void tst_EmfPlusObjects::font()
{
    const TPlusObject font = Read(T::Font, Blob().U32(kVersion).F(12).U32(3).U32(1 | 8).U32(0).U32(5)
                                               .U16('A').U16('r').U16('i').U16('a').U16('l').Pad().B);
    const auto *f = std::get_if<TPlusFont>(&font);
    QVERIFY(f);
    QCOMPARE(f->Family, QStringLiteral("Arial"));
    QCOMPARE(f->EmSize, 12.0);
    QCOMPARE(f->SizeUnit, TPlusUnit::Point);
    QVERIFY(f->Bold && f->StrikeOut && !f->Italic && !f->Underline);
}

void tst_EmfPlusObjects::hostile_data()
{
    QTest::addColumn<TPlusObjectType>("type");
    QTest::addColumn<QByteArray>("blob");
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    QTest::newRow("path: huge count") << T::Path << Blob().U32(kVersion).U32(0x7FFFFFFF).U32(0).Add(QByteArray(28, 0)).B;
    QTest::newRow("path: types cut") << T::Path << Path({{0, 0}, {1, 1}}, QByteArray(1, 0)).left(29);
    QTest::newRow("path: run-length short")
        << T::Path << Blob().U32(kVersion).U32(4).U32(0x5000).U16(0).U16(0).U16(1).U16(1).U16(2).U16(2).U16(3)
                          .U16(3).U8(0x42).U8(1).B;
    QTest::newRow("path: relative value cut") << T::Path << Blob().U32(kVersion).U32(1).U32(0x0800).U8(1).U8(0x80).B;
    QTest::newRow("path: NaN point") << T::Path << Path({{0, 0}, {nan, 1}}, QByteArray("\x00\x01", 2));
    QTest::newRow("path: Bezier short") << T::Path << Path({{0, 0}, {1, 1}}, QByteArray("\x00\x03", 2));
    QByteArray deep = RectNode(0, 0, 1, 1);
    for (int i = 0; i < 2000; ++i)
        deep = Blob().U32(2).Add(deep).Add(Blob().U32(0x10000002).B).B;
    QTest::newRow("region: deep nesting") << T::Region << Region(deep);
    QTest::newRow("region: open tree") << T::Region << Region(Blob().U32(1).Add(RectNode(0, 0, 1, 1)).B);
    QTest::newRow("region: bad op") << T::Region << Region(Combine(9, RectNode(0, 0, 1, 1), RectNode(0, 0, 1, 1)));
    QTest::newRow("region: infinite rect") << T::Region << Region(RectNode(0, 0, inf, 1));
    QTest::newRow("pen: NaN width") << T::Pen << Blob().U32(kVersion).U32(0).U32(0).U32(0).F(nan).Add(SolidBrush(0)).B;
    QTest::newRow("pen: huge dash count")
        << T::Pen << Blob().U32(kVersion).U32(0).U32(0x100).U32(0).F(1).U32(0x7FFFFFFF).Add(SolidBrush(0)).B;
    QTest::newRow("pen: no brush") << T::Pen << Blob().U32(kVersion).U32(0).U32(0).U32(0).F(1).B;
    QTest::newRow("brush: huge blend count")
        << T::Brush << Blob().U32(kVersion).U32(4).U32(0x04).U32(0).F(0).F(0).F(1).F(1).U32(0).U32(0).U32(0).U32(0)
                           .U32(0x40000000).F(0).U32(0).B;
    QTest::newRow("brush: NaN transform")
        << T::Brush << Blob().U32(kVersion).U32(4).U32(0x02).U32(0).F(0).F(0).F(1).F(1).U32(0).U32(0).U32(0).U32(0)
                           .F(nan).F(0).F(0).F(1).F(0).F(0).B;
    QTest::newRow("brush: huge surrounding count")
        << T::Brush << Blob().U32(kVersion).U32(3).U32(0).U32(0).U32(0).F(0).F(0).U32(0x7FFFFFFF).U32(0).B;
    QTest::newRow("image: bitmap too large") << T::Image << BitmapImage(1 << 20, 1 << 20, 1 << 22, 0x0026200A, {});
    QTest::newRow("image: stride too small") << T::Image << BitmapImage(4, 1, 8, 0x0026200A, QByteArray(16, 0));
    QTest::newRow("image: rows cut") << T::Image << BitmapImage(2, 2, 8, 0x0026200A, QByteArray(12, 0));
    QTest::newRow("image: broken JPEG")
        << T::Image << Blob().U32(kVersion).U32(1).U32(1).U32(1).U32(0).U32(0).U32(1).U32(0xE0FFD8FF).U32(0).B;
    QTest::newRow("image: huge metafile") << T::Image << Blob().U32(kVersion).U32(2).U32(3).U32(0x7FFFFFFF).U32(0).B;
    QTest::newRow("font: huge name") << T::Font << Blob().U32(kVersion).F(12).U32(3).U32(0).U32(0).U32(0x7FFFFFFF).B;
    QTest::newRow("font: infinite size") << T::Font << Blob().U32(kVersion).F(inf).U32(3).U32(0).U32(0).U32(0).B;
    QTest::newRow("string format: huge ranges")
        << T::StringFormat << Blob().U32(kVersion).Add(QByteArray(40, 0)).F(1).U32(0).U32(0).U32(0x7FFFFFFF).B;
}

void tst_EmfPlusObjects::hostile()
{
    QFETCH(TPlusObjectType, type);
    QFETCH(QByteArray, blob);
    bool bad = false;
    TPlusObject object;
    try {
        object = Read(type, blob);
    } catch (const TMetaBadRecord &) {
        bad = true;
    }
    QVERIFY(bad || std::holds_alternative<std::monostate>(object));
}

QTEST_MAIN(tst_EmfPlusObjects)
#include "tst_EmfPlusObjects.moc"
