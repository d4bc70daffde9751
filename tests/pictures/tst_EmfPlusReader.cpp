// Local
#include "MetafileBuilder.h"
#include "Metafile.h"
#include "TestPaths.h"

// Qt
#include <QtTest>

// Std
#include <cstring>

using namespace MetafileBuilder;

namespace {

void PutF(QByteArray &b, float v)
{
    quint32 bits;
    std::memcpy(&bits, &v, 4);
    Put32(b, bits);
}

QByteArray Floats(std::initializer_list<float> values)
{
    QByteArray b;
    for (const float v : values)
        PutF(b, v);
    return b;
}

QByteArray Dwords(std::initializer_list<qint64> values)
{
    QByteArray b;
    for (const qint64 v : values)
        Put32(b, v);
    return b;
}

// EMF+ records, to be put into one comment record.
class Plus
{
public:
    Plus &Rec(quint16 type, quint16 flags, const QByteArray &data = {})
    {
        Put16(FRecords, type);
        Put16(FRecords, flags);
        Put32(FRecords, 12 + data.size());
        Put32(FRecords, data.size());
        FRecords += data;
        return *this;
    }
    Plus &Header(bool dual) { return Rec(0x4001, dual ? 1 : 0, Dwords({0xDBC01002, 1, 96, 96})); }
    Plus &FillRect(quint32 argb, float x, float y, float w, float h)
    {
        return Rec(0x400A, 0x8000, Dwords({argb, 1}) + Floats({x, y, w, h}));
    }
    QByteArray Comment() const
    {
        QByteArray body;
        Put32(body, 4 + FRecords.size());
        Put32(body, 0x2B464D45);
        return body + FRecords;
    }

private:
    QByteArray FRecords;
};

constexpr quint32 kRed = 0xFFFF0000;
constexpr quint32 kBlue = 0xFF0000FF;

// A plain black rectangle over canvas pixels 60..79 (device pixels are
// canvas pixels in the builder's default file).
Emf &PlainRect(Emf &emf)
{
    return emf.Rec(37, {0x80000004}).Rectangle(60, 60, 80, 80);
}

} // namespace

class tst_EmfPlusReader : public QObject
{
    Q_OBJECT

private slots:
    void plainOrPlus_data();
    void plainOrPlus();
    void drawing_data();
    void drawing();
    void textUnderWildTransforms_data();
    void textUnderWildTransforms();
};

// Which of a file's two pictures is drawn.
void tst_EmfPlusReader::plainOrPlus_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("plusDrawn");
    QTest::addColumn<bool>("plainDrawn");

    {
        Emf e;
        e.Raw(70, Plus().Header(false).FillRect(kRed, 10, 10, 20, 20).Comment());
        QTest::newRow("EMF+ only") << PlainRect(e).Finish() << true << false;
    }
    {
        Emf e;
        e.Raw(70, Plus().Header(true).FillRect(kRed, 10, 10, 20, 20).Comment());
        QTest::newRow("dual: the plain records are passed over") << PlainRect(e).Finish() << true << false;
    }
    {
        Emf e;
        e.Raw(70, Plus().Header(true).FillRect(kRed, 10, 10, 20, 20).Rec(0x4004, 0).Comment());
        QTest::newRow("dual: drawn after GetDC") << PlainRect(e).Finish() << true << true;
    }
    {
        Emf e;
        PlainRect(e).Raw(70, Plus().Header(true).FillRect(kRed, 10, 10, 20, 20).Comment());
        QTest::newRow("dual: plain records before the EMF+ header draw") << e.Finish() << true << true;
    }
    {
        Emf e;
        e.Raw(70, Plus().Header(true).Rec(0x4004, 0).Comment());
        e.Raw(70, Plus().FillRect(kRed, 10, 10, 20, 20).Comment());
        QTest::newRow("dual: the next EMF+ record ends GetDC") << PlainRect(e).Finish() << true << false;
    }
    {
        Emf e;
        e.Raw(70, Plus().Header(true).FillRect(kRed, 10, 10, 20, 20).Rec(0x4077, 0, Dwords({1})).Comment());
        QTest::newRow("dual with an unknown record: plain") << PlainRect(e).Finish() << false << true;
    }
    {
        Emf e;
        e.Raw(70, Plus().Header(false).FillRect(kRed, 10, 10, 20, 20).Rec(0x4077, 0, Dwords({1})).Comment());
        QTest::newRow("EMF+ only with an unknown record: EMF+") << PlainRect(e).Finish() << true << false;
    }
    {
        Emf e;
        e.Raw(70, Plus().FillRect(kRed, 10, 10, 20, 20).Header(false).Comment());
        QTest::newRow("no header first: plain") << PlainRect(e).Finish() << false << true;
    }
    {
        Emf e;
        e.Raw(70, Plus().Header(false).Rec(0x400A, 0x8000, Dwords({kRed, 0x7FFFFFFF}) + Floats({10, 10, 20, 20}))
                      .FillRect(kRed, 10, 10, 20, 20).Comment());
        QTest::newRow("a damaged record is skipped") << PlainRect(e).Finish() << true << false;
    }
}

void tst_EmfPlusReader::plainOrPlus()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, plusDrawn);
    QFETCH(bool, plainDrawn);
    const QImage image = RenderMetafile(file, MetafileKind::Emf);
    QCOMPARE(image.size(), QSize(96, 96));
    QCOMPARE(At(image, 20, 20), plusDrawn ? QRgb(0xFF0000) : QRgb(0xFFFFFF));
    QCOMPARE(At(image, 70, 70), plainDrawn ? QRgb(0) : QRgb(0xFFFFFF));
}

// Drawing records with the state that places them: each row fills or
// draws in red or blue and names pixels that must take that colour and
// pixels that must stay white.
void tst_EmfPlusReader::drawing_data()
{
    QTest::addColumn<QByteArray>("records");
    QTest::addColumn<QPoint>("coloured");
    QTest::addColumn<QPoint>("white");
    QTest::addColumn<QRgb>("colour");

    auto file = [&](const Plus &p) { return p.Comment(); };
    QTest::newRow("world transform: translate")
        << file(Plus().Rec(0x402D, 0, Floats({40, 0})).FillRect(kRed, 10, 10, 20, 20)) << QPoint(55, 20)
        << QPoint(20, 20) << QRgb(0xFF0000);
    QTest::newRow("page transform: millimetres")
        << file(Plus().Rec(0x4030, 6, Floats({1})).FillRect(kRed, 10, 10, 5, 5)) << QPoint(45, 45)
        << QPoint(20, 20) << QRgb(0xFF0000);
    QTest::newRow("save and restore")
        << file(Plus().Rec(0x4025, 0, Dwords({7})).Rec(0x402D, 0, Floats({40, 0})).Rec(0x4026, 0, Dwords({7}))
                    .FillRect(kRed, 10, 10, 20, 20))
        << QPoint(20, 20) << QPoint(55, 20) << QRgb(0xFF0000);
    QTest::newRow("clip rect: replace")
        << file(Plus().Rec(0x4032, 0, Floats({0, 0, 30, 96})).FillRect(kBlue, 0, 0, 96, 96)) << QPoint(10, 50)
        << QPoint(50, 50) << QRgb(0x0000FF);
    QTest::newRow("clip rect: exclude")
        << file(Plus().Rec(0x4032, 0x0400, Floats({0, 0, 30, 96})).FillRect(kBlue, 0, 0, 96, 96))
        << QPoint(50, 50) << QPoint(10, 50) << QRgb(0x0000FF);
    QTest::newRow("reset clip")
        << file(Plus().Rec(0x4032, 0, Floats({0, 0, 30, 96})).Rec(0x4031, 0).FillRect(kBlue, 0, 0, 96, 96))
        << QPoint(50, 50) << QPoint(-1, -1) << QRgb(0x0000FF);
    QTest::newRow("fill ellipse")
        << file(Plus().Rec(0x400E, 0x8000, Dwords({kRed}) + Floats({10, 10, 60, 60}))) << QPoint(40, 40)
        << QPoint(12, 12) << QRgb(0xFF0000);
    QTest::newRow("fill polygon, compressed points")
        << file(Plus().Rec(0x400C, 0xC000, Dwords({kRed, 3, 10 | 10 << 16, 80 | 10 << 16, 10 | 80 << 16})))
        << QPoint(20, 20) << QPoint(70, 70) << QRgb(0xFF0000);
    QTest::newRow("fill pie: a quarter below the centre, right")
        << file(Plus().Rec(0x4010, 0x8000, Dwords({kRed}) + Floats({0, 90, 10, 10, 60, 60}))) << QPoint(50, 50)
        << QPoint(30, 30) << QRgb(0xFF0000);
    // A path object (two lines closed) filled with a solid brush object.
    const QByteArray brush = Dwords({0xDBC01002, 0, kBlue});
    const QByteArray path = Dwords({0xDBC01002, 4, 0}) + Floats({10, 10, 80, 10, 80, 80, 10, 80})
                          + QByteArray("\x00\x01\x01\x81", 4);
    QTest::newRow("path and brush objects")
        << file(Plus().Rec(0x4008, 0x0101, brush).Rec(0x4008, 0x0302, path).Rec(0x4014, 0x0002, Dwords({1})))
        << QPoint(50, 50) << QPoint(5, 5) << QRgb(0x0000FF);
    // The same path object in two records: the first continues.
    QTest::newRow("object continued")
        << file(Plus().Rec(0x4008, 0x0101, brush)
                    .Rec(0x4008, 0x8302, Dwords({path.size()}) + path.left(20))
                    .Rec(0x4008, 0x0302, path.mid(20))
                    .Rec(0x4014, 0x0002, Dwords({1})))
        << QPoint(50, 50) << QPoint(5, 5) << QRgb(0x0000FF);
    // A pen object 10 pixels wide, red, drawing a line across.
    const QByteArray pen = Dwords({0xDBC01002, 0, 0, 2}) + Floats({10}) + brush.left(8) + Dwords({kRed});
    QTest::newRow("pen object, draw lines")
        << file(Plus().Rec(0x4008, 0x0203, pen).Rec(0x400D, 0x0003, Dwords({2}) + Floats({0, 50, 96, 50})))
        << QPoint(50, 53) << QPoint(50, 40) << QRgb(0xFF0000);
    // A grey 2 x 2 image drawn on three points, plain and after a
    // brightness effect (+100) that the E flag applies.
    const QByteArray image = Dwords({0xDBC01002, 1, 2, 2, 8, 0x0026200A, 0, 0xFF808080, 0xFF808080, 0xFF808080,
                                     0xFF808080});
    const QByteArray points = Dwords({0, 2}) + Floats({0, 0, 2, 2}) + Dwords({3}) + Floats({10, 10, 50, 10, 10, 50});
    const QByteArray brighter = QByteArray::fromHex("e1dba1d3c48e174c9f4cea97ad1c343d") + Dwords({8, 100, 0});
    QTest::newRow("image on points")
        << file(Plus().Rec(0x4008, 0x0504, image).Rec(0x401B, 0x0004, points)) << QPoint(30, 30) << QPoint(60, 60)
        << QRgb(0x808080);
    QTest::newRow("image with an effect")
        << file(Plus().Rec(0x4008, 0x0504, image).Rec(0x4038, 0, brighter).Rec(0x401B, 0x2004, points))
        << QPoint(30, 30) << QPoint(60, 60) << QRgb(0xE4E4E4);
    QTest::newRow("clear")
        << file(Plus().Rec(0x4009, 0, Dwords({kBlue}))) << QPoint(0, 0) << QPoint(-1, -1) << QRgb(0x0000FF);
}

void tst_EmfPlusReader::drawing()
{
    QFETCH(QByteArray, records);
    QFETCH(QPoint, coloured);
    QFETCH(QPoint, white);
    QFETCH(QRgb, colour);
    Emf e;
    e.Raw(70, Plus().Header(false).Comment());
    e.Raw(70, records);
    const QImage image = RenderMetafile(e.Finish(), MetafileKind::Emf);
    QCOMPARE(At(image, coloured.x(), coloured.y()), colour);
    if (white.x() >= 0)
        QCOMPARE(At(image, white.x(), white.y()), QRgb(0xFFFFFF));
}

void tst_EmfPlusReader::textUnderWildTransforms_data()
{
    QTest::addColumn<QByteArray>("matrix");
    QTest::addColumn<bool>("ink");
    QTest::newRow("plain") << Floats({1, 0, 0, 1, 0, 0}) << true;
    // Wider than Qt keeps glyph images for, along one axis only.
    QTest::newRow("stretched: outlines") << Floats({4, 0, 0, 1, 0, 0}) << true;
    // A shear that once crashed Qt's font engine; it fills no pixel.
    QTest::newRow("shear of 10^14: nothing") << Floats({4.7e-38f, 5.6e14f, 3.85e-34f, 3.85e-34f, 0, 0}) << false;
    QTest::newRow("larger than any canvas: nothing") << Floats({1e6f, 0, 0, 1e6f, 0, 0}) << false;
}

// Driver strings carry their own matrix; whatever it is, the text is drawn
// or left out, never handed to Qt in a way that crashes it.
void tst_EmfPlusReader::textUnderWildTransforms()
{
    QFETCH(QByteArray, matrix);
    QFETCH(bool, ink);
    // Qt's complaint when it tries to make an image of such a glyph; in
    // the fuzz build that attempt crashed.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("render glyph failed")));
    QByteArray font = Dwords({0xDBC01002}) + Floats({20}) + Dwords({2, 0, 0, 5});
    for (const char c : QByteArray("Arial"))
        Put16(font, quint16(c));
    // "HH", characters, realized advance, at (10, 50), with the matrix.
    const QByteArray text = Dwords({kRed, 1 | 4, 1, 2}) + QByteArray("H\0H\0", 4) + Floats({10, 50, 30, 50}) + matrix;
    Emf e;
    e.Raw(70, Plus().Header(false).Comment());
    e.Raw(70, Plus().Rec(0x4008, 0x0600, font).Rec(0x4036, 0x8000, text).Comment());
    const QImage image = RenderMetafile(e.Finish(), MetafileKind::Emf);
    int red = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            red += qRed(image.pixel(x, y)) > 200 && qGreen(image.pixel(x, y)) < 100;
    QCOMPARE(red > 20, ink);
}

QTEST_MAIN(tst_EmfPlusReader)
#include "tst_EmfPlusReader.moc"
