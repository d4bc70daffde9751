// Qt
#include <QDir>
#include <QtEndian>
#include <QtTest>

// Local
#include "AppError.h"
#include "BmpDecoder.h"
#include "DibTestData.h"
#include "JpegCodec.h"
#include "TestPaths.h"

namespace {

const QString kInvalid = QStringLiteral("Bitmap image is not valid");

struct Masks
{
    quint32 r = 0, g = 0, b = 0, a = 0;
};

// A Windows info header of headerSize bytes; beyond the first 40 come the
// four masks, then zeros.
QByteArray Header(qint32 width, qint32 height, int bitCount, quint32 compression = 0,
                  quint32 colorsUsed = 0, int headerSize = 40, Masks m = {})
{
    QByteArray b;
    Put32(b, headerSize);
    Put32(b, quint32(width));
    Put32(b, quint32(height));
    Put16(b, 1);
    Put16(b, bitCount);
    Put32(b, compression);
    Put32(b, 0);
    Put32(b, 2835);
    Put32(b, 2835);
    Put32(b, colorsUsed);
    Put32(b, 0);
    for (quint32 mask : {m.r, m.g, m.b, m.a})
        if (b.size() < headerSize)
            Put32(b, mask);
    b.append(QByteArray(headerSize - b.size(), '\0'));
    return b;
}

// OS/2 1.x header (12 bytes) and OS/2 2.x header (64 bytes).
QByteArray CoreHeader(int width, int height, int bitCount)
{
    QByteArray b;
    for (quint32 v : {12, 0, width, height, 1, bitCount})
        Put16(b, v);
    return b;
}

QByteArray Os2Header(int width, int height, int bitCount, quint32 compression)
{
    QByteArray b;
    for (quint32 v : {64u, quint32(width), quint32(height), 1u | quint32(bitCount) << 16, compression})
        Put32(b, v);
    return b + QByteArray(64 - b.size(), '\0');
}

// Little-endian 16- and 32-bit values (pixels, masks).
QByteArray Words(std::initializer_list<quint32> values)
{
    QByteArray b;
    for (quint32 v : values)
        Put16(b, v);
    return b;
}

QByteArray Dwords(std::initializer_list<quint32> values)
{
    QByteArray b;
    for (quint32 v : values)
        Put32(b, v);
    return b;
}

// Rows as stored, each padded to four bytes.
QByteArray Rows(std::initializer_list<QByteArray> rows)
{
    QByteArray b;
    for (const QByteArray &row : rows)
        b += Pad4(row);
    return b;
}

// A whole file: file header, then the header with its table, then the rows.
QByteArray File(const QByteArray &infoAndTable, const QByteArray &bits)
{
    QByteArray b("BM");
    Put32(b, 14 + infoAndTable.size() + bits.size());
    Put32(b, 0);
    Put32(b, 14 + infoAndTable.size());
    return b + infoAndTable + bits;
}

QString BmpDir()
{
    return CorpusDir() + QStringLiteral("/bmp");
}

} // namespace

class tst_BmpDecoder : public QObject
{
    Q_OBJECT

private slots:
    void pixels_data();
    void pixels();
    void invalid_data();
    void invalid();
    void dib_data();
    void dib();
    void references_data();
    void references();
    void hostileFiles_data();
    void hostileFiles();
};

void tst_BmpDecoder::pixels_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QList<QRgb>>("expected");

    const QRgb white = qRgb(255, 255, 255), black = qRgb(0, 0, 0);
    const QRgb red = qRgb(255, 0, 0), blue = qRgb(0, 0, 255), olive = qRgb(10, 20, 30);

    // Full 5- and 6-bit values must reach 255 (a plain shift gives 248/252),
    // and middle values round: 16/31 -> 132, 32/63 -> 130.
    QTest::newRow("16-bit 5-6-5 bitfields")
        << File(Header(3, 1, 16, 3) + Dwords({0xF800, 0x07E0, 0x001F}), Rows({Words({0xFFFF, 0x8410, 0xF800})}))
        << QSize(3, 1) << QList<QRgb>{white, qRgb(132, 130, 132), red};
    QTest::newRow("16-bit default is 5-5-5 with the top bit unused")
        << File(Header(3, 1, 16), Rows({Words({0x7FFF, 0x7C00, 0x8000})}))
        << QSize(3, 1) << QList<QRgb>{white, red, black};
    // 512/1023 -> 128 and 1/1023 -> 0, not a truncated shift.
    QTest::newRow("32-bit 10-bit masks")
        << File(Header(2, 1, 32, 3) + Dwords({0x3FF00000, 0x000FFC00, 0x000003FF}),
                Rows({Dwords({0x3FFFFFFF, 512u << 20 | 1023u << 10 | 1})}))
        << QSize(2, 1) << QList<QRgb>{white, qRgb(128, 255, 0)};
    QTest::newRow("32-bit masks in a version 5 header, alpha composed onto white")
        << File(Header(3, 1, 32, 3, 0, 124, {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}),
                Rows({Dwords({0x80000000, 0xFFFF0000, 0x00000000})}))
        << QSize(3, 1) << QList<QRgb>{qRgb(127, 127, 127), red, white};
    QTest::newRow("32-bit without masks ignores the fourth byte")
        << File(Header(2, 1, 32), Rows({Dwords({0x00FF0000, 0x7F0000FF})}))
        << QSize(2, 1) << QList<QRgb>{red, blue};
    QTest::newRow("24-bit rows are blue, green, red, bottom-up")
        << File(Header(2, 2, 24), Rows({Bgr({red, blue}), Bgr({olive, white})}))
        << QSize(2, 2) << QList<QRgb>{olive, white, red, blue};
    QTest::newRow("8-bit top-down")
        << File(Header(1, -2, 8, 0, 2) + Quads({red, blue}), Rows({Bytes({0}), Bytes({1})}))
        << QSize(1, 2) << QList<QRgb>{red, blue};
    QTest::newRow("short palette reads missing entries as black")
        << File(Header(3, 1, 8, 0, 2) + Quads({red, blue}), Rows({Bytes({1, 5, 0})}))
        << QSize(3, 1) << QList<QRgb>{blue, black, red};
    QTest::newRow("2-bit palette")
        << File(Header(4, 1, 2, 0, 4) + Quads({black, red, blue, white}), Rows({Bytes({0b00011011})}))
        << QSize(4, 1) << QList<QRgb>{black, red, blue, white};
    QTest::newRow("OS/2 1.x header with three-byte palette entries")
        << File(CoreHeader(3, 1, 1) + Bgr({red, blue}), Rows({Bytes({0b01000000})}))
        << QSize(3, 1) << QList<QRgb>{red, blue, red};
    // Two red at the bottom left, a delta right 3 and up 1, one blue, end of
    // bitmap: everything else is undefined and shows white.
    QTest::newRow("RLE8 delta and early end")
        << File(Header(4, 3, 8, 1, 3) + Quads({olive, red, blue}),
                Bytes({2, 1, 0, 2, 1, 1, 1, 2, 0, 1}))
        << QSize(4, 3) << QList<QRgb>{white, white, white, white, white, white, white, blue, red, red, white, white};
    QTest::newRow("RLE8 absolute run with padding and end of line")
        << File(Header(3, 2, 8, 1, 3) + Quads({olive, red, blue}),
                Bytes({0, 3, 2, 1, 0, 0, 0, 0, 3, 0, 0, 1}))
        << QSize(3, 2) << QList<QRgb>{olive, olive, olive, blue, red, olive};
    QTest::newRow("RLE8 run past the right edge is clipped")
        << File(Header(2, 2, 8, 1, 2) + Quads({olive, red}), Bytes({9, 1, 0, 0, 1, 0, 0, 1}))
        << QSize(2, 2) << QList<QRgb>{olive, white, red, red};
    QTest::newRow("RLE4 runs alternate the two nibbles")
        << File(Header(5, 1, 4, 2, 3) + Quads({olive, red, blue}), Bytes({5, 0x12, 0, 1}))
        << QSize(5, 1) << QList<QRgb>{red, blue, red, blue, red};
    QTest::newRow("RLE4 absolute run")
        << File(Header(3, 1, 4, 2, 3) + Quads({olive, red, blue}), Bytes({0, 3, 0x21, 0x00, 0, 1}))
        << QSize(3, 1) << QList<QRgb>{blue, red, olive};
    const QRgb green = qRgb(0, 255, 0);
    QTest::newRow("OS/2 RLE24 absolute run and run")
        << File(Os2Header(3, 2, 24, 4),
                Bytes({0, 3, 0, 0, 255, 0, 0, 255, 255, 0, 0, 0, 0, 0, 3, 0, 255, 0, 0, 1}))
        << QSize(3, 2) << QList<QRgb>{green, green, green, red, red, blue};
    QTest::newRow("truncated rows stay white")
        << File(Header(1, 3, 8, 0, 2) + Quads({red, blue}), Bytes({1, 0, 0, 0}))
        << QSize(1, 3) << QList<QRgb>{white, white, blue};
}

void tst_BmpDecoder::pixels()
{
    QFETCH(QByteArray, file);
    QFETCH(QSize, size);
    QFETCH(QList<QRgb>, expected);

    const QImage image = DecodeBmp(file);
    QCOMPARE(image.format(), QImage::Format_BGR888);
    QCOMPARE(image.size(), size);
    QCOMPARE(PixelsOf(image), expected);
}

void tst_BmpDecoder::invalid_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("message");

    const QByteArray pal = Quads({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    const QByteArray row = Rows({Bytes({0})});
    const QString tooLarge = QStringLiteral("The picture is too large");

    QByteArray bitmapArray = File(Header(1, 1, 8, 0, 2) + pal, row);
    bitmapArray[1] = 'A';
    QTest::newRow("bitmap array") << bitmapArray << kInvalid;
    QTest::newRow("shorter than the file header") << QByteArray("BM\0\0\0\0", 6) << kInvalid;
    QTest::newRow("header cut short") << File(Header(1, 1, 8).left(30), {}) << kInvalid;
    QTest::newRow("header size 66") << File(Header(1, 1, 8, 0, 2, 66) + pal, row) << kInvalid;
    QTest::newRow("zero width") << File(Header(0, 1, 8, 0, 2) + pal, row) << kInvalid;
    QTest::newRow("negative width") << File(Header(-1, 1, 8, 0, 2) + pal, row) << kInvalid;
    QTest::newRow("zero height") << File(Header(1, 0, 8, 0, 2) + pal, row) << kInvalid;
    QTest::newRow("3 bits per pixel") << File(Header(1, 1, 3, 0, 2) + pal, row) << kInvalid;
    QTest::newRow("RLE8 top-down") << File(Header(1, -1, 8, 1, 2) + pal, Bytes({1, 0, 0, 1})) << kInvalid;
    QTest::newRow("RLE8 with 4 bits") << File(Header(1, 1, 4, 1, 2) + pal, Bytes({1, 0, 0, 1})) << kInvalid;
    QTest::newRow("OS/2 Huffman 1D") << File(Os2Header(1, 1, 1, 3) + pal, row) << kInvalid;
    QTest::newRow("CMYK compression") << File(Header(1, 1, 32, 11), Dwords({0})) << kInvalid;
    QTest::newRow("bitfields without masks") << File(Header(1, 1, 16, 3), {}).left(14 + 44) << kInvalid;
    QTest::newRow("no pixel data") << File(Header(1, 1, 8, 0, 2) + pal, {}) << kInvalid;
    QTest::newRow("rows shorter than one row") << File(Header(16, 1, 24), Bytes({1, 2, 3})) << kInvalid;
    QTest::newRow("broken embedded PNG") << File(Header(1, 1, 0, 5), QByteArray("\x89PNG\r\n\x1a\nxxxx")) << kInvalid;
    QTest::newRow("broken embedded JPEG") << File(Header(1, 1, 0, 4), Bytes({0xFF, 0xD8, 0xFF, 0xD9})) << kInvalid;
    QTest::newRow("100000 x 100000") << File(Header(100000, 100000, 24), Bytes({0, 0, 0, 0})) << tooLarge;
    QTest::newRow("lowest height") << File(Header(1, INT_MIN, 24), Bytes({0, 0, 0, 0})) << tooLarge;
}

void tst_BmpDecoder::invalid()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, message);

    try {
        const QImage image = DecodeBmp(file);
        QFAIL(qPrintable(QStringLiteral("decoded a %1 x %2 picture").arg(image.width()).arg(image.height())));
    } catch (const AppError &e) {
        QVERIFY2(e.message().startsWith(message), qPrintable(e.message()));
    }
}

void tst_BmpDecoder::dib_data()
{
    QTest::addColumn<QByteArray>("packed");
    QTest::addColumn<int>("rowsAt");
    QTest::addColumn<bool>("keepAlpha");
    QTest::addColumn<QImage::Format>("format");
    QTest::addColumn<QList<QRgb>>("expected");

    const QRgb red = qRgb(255, 0, 0), blue = qRgb(0, 0, 255);
    const QByteArray alpha32 = Header(3, 1, 32) + Rows({Dwords({0x80FF0000, 0xFF0000FF, 0x00000000})});
    QTest::newRow("32-bit fourth byte kept as alpha")
        << alpha32 << 40 << true << QImage::Format_ARGB32
        << QList<QRgb>{qRgba(255, 0, 0, 128), qRgba(0, 0, 255, 255), qRgba(0, 0, 0, 0)};
    QTest::newRow("32-bit fourth byte ignored without keepAlpha")
        << alpha32 << 40 << false << QImage::Format_RGB32 << QList<QRgb>{red, blue, qRgb(0, 0, 0)};
    QTest::newRow("32-bit fourth byte all 0 is opaque")
        << Header(2, 1, 32) + Rows({Dwords({0x00FF0000, 0x000000FF})}) << 40 << true << QImage::Format_RGB32
        << QList<QRgb>{red, blue};
    const QByteArray rle = Header(3, 1, 8, 1, 2) + Quads({red, blue}) + Bytes({1, 1, 0, 1});
    QTest::newRow("RLE undefined pixels transparent with keepAlpha")
        << rle << 48 << true << QImage::Format_ARGB32 << QList<QRgb>{qRgba(0, 0, 255, 255), 0u, 0u};
    QTest::newRow("RLE undefined pixels black without keepAlpha")
        << rle << 48 << false << QImage::Format_RGB32 << QList<QRgb>{blue, qRgb(0, 0, 0), qRgb(0, 0, 0)};
    // After a 40-byte header the three masks come before the rows.
    QTest::newRow("bitfields masks after the header")
        << Header(1, 1, 16, 3) + Dwords({0xF800, 0x07E0, 0x001F}) + Rows({Words({0x001F})}) << 52 << false
        << QImage::Format_RGB32 << QList<QRgb>{blue};
    // The table holds all 300 entries even though 8 bits reach only 256.
    QByteArray bigTable;
    for (int i = 0; i < 300; ++i)
        bigTable += Quads({qRgb(i % 256, 0, 0)});
    QTest::newRow("oversized colour table")
        << Header(2, 1, 8, 0, 300) + bigTable + Rows({Bytes({255, 7})}) << 40 + 1200 << false
        << QImage::Format_RGB32 << QList<QRgb>{qRgb(255, 0, 0), qRgb(7, 0, 0)};
    QTest::newRow("OS/2 1.x")
        << CoreHeader(2, 1, 1) + Bgr({red, blue}) + Rows({Bytes({0b10000000})}) << 18 << false
        << QImage::Format_RGB32 << QList<QRgb>{blue, red};
}

void tst_BmpDecoder::dib()
{
    QFETCH(QByteArray, packed);
    QFETCH(int, rowsAt);
    QFETCH(bool, keepAlpha);
    QFETCH(QImage::Format, format);
    QFETCH(QList<QRgb>, expected);

    const QImage image = DecodePackedDib(packed, keepAlpha);
    QCOMPARE(image.format(), format);
    QCOMPARE(PixelsOf(image), expected);

    // The same DIB split into header with table, and rows, as metafiles hold it.
    const QImage split = DecodeDib(QByteArrayView(packed).first(rowsAt), QByteArrayView(packed).sliced(rowsAt), keepAlpha);
    QCOMPARE(split.format(), format);
    QCOMPARE(PixelsOf(split), expected);
}

void tst_BmpDecoder::references_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("reference");
    QTest::addColumn<int>("tolerance");

    if (!HaveCorpus())
        return;
    const QString suite = BmpDir() + QStringLiteral("/bmpsuite");
    QFile list(suite + QStringLiteral("/refs.tsv"));
    QVERIFY(list.open(QIODevice::ReadOnly | QIODevice::Text));

    // Decoded as stored: the viewer reports and scales the stored pixels, so
    // the non-square one is compared with its unstretched rendering.
    const QHash<QString, QString> otherReference{
        {QStringLiteral("g/pal8nonsquare.bmp"), QStringLiteral("pal8nonsquare-e.png")}};
    // Values quantised to more than 8 bits cannot all round back to the
    // 8-bit reference; the colour profile conversion is not exact either.
    const QHash<QString, int> tolerance{{QStringLiteral("q/rgb32-111110.bmp"), 1},
                                        {QStringLiteral("q/rgba64.bmp"), 1},
                                        {QStringLiteral("q/rgb24prof2.bmp"), 12}};
    // Huffman-coded and bitmap-array files are refused (hostileFiles).
    const QStringList refused{QStringLiteral("q/pal1huffmsb.bmp"), QStringLiteral("x/ba-bm.bmp")};

    while (!list.atEnd()) {
        const QStringList fields = QString::fromUtf8(list.readLine()).split(u'\t');
        if (fields.size() < 2 || fields[1] == u'-' || refused.contains(fields[0]))
            continue;
        const QString reference = otherReference.value(fields[0], fields[1]);
        QTest::newRow(qPrintable(fields[0])) << suite + u'/' + fields[0] << suite + QStringLiteral("/ref/") + reference
                                             << tolerance.value(fields[0], 0);
    }
}

void tst_BmpDecoder::references()
{
    if (!HaveCorpus())
        QSKIP("no corpus");
    QFETCH(QString, file);
    QFETCH(QString, reference);
    QFETCH(int, tolerance);

    const QImage image = DecodeBmp(ReadAll(file));
    QImage expected;
    if (reference.endsWith(QStringLiteral(".jpg")))
        expected = JpegDecoder(ReadAll(reference)).Decode(1, false);
    else
        expected = ReferenceOnWhite(QImage(reference));
    QVERIFY(!expected.isNull());
    QCOMPARE(image.size(), expected.size());
    const int difference = MaxDifference(image, expected);
    QVERIFY2(difference <= tolerance, qPrintable(QStringLiteral("differs by up to %1").arg(difference)));
}

void tst_BmpDecoder::hostileFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("decodes");

    if (!HaveCorpus())
        return;
    // Refused: nonsense headers, RLE stored top-down, sizes beyond any
    // memory, and the two codings we do not read. Everything else shows
    // what its data holds.
    const QStringList refused{
        QStringLiteral("bmpsuite/b/badbitcount.bmp"),    QStringLiteral("bmpsuite/b/badheadersize.bmp"),
        QStringLiteral("bmpsuite/b/badwidth.bmp"),       QStringLiteral("bmpsuite/b/reallybig.bmp"),
        QStringLiteral("bmpsuite/b/rletopdown.bmp"),     QStringLiteral("bmpsuite/x/ba-bm.bmp"),
        QStringLiteral("bmpsuite/q/pal1huffmsb.bmp"),    QStringLiteral("image-rs-bad/Bad_badbitcount.bmp"),
        QStringLiteral("image-rs-bad/Bad_height.bmp"),   QStringLiteral("image-rs-bad/Bad_reallybig.bmp"),
        QStringLiteral("image-rs-bad/Bad_width.bmp")};
    for (const QString &folder : {QStringLiteral("bmpsuite/b"), QStringLiteral("bmpsuite/x"),
                                 QStringLiteral("bmpsuite/q"), QStringLiteral("image-rs-bad")}) {
        const QDir dir(BmpDir() + u'/' + folder);
        for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
            const QString relative = folder + u'/' + name;
            QTest::newRow(qPrintable(relative)) << dir.filePath(name) << !refused.contains(relative);
        }
    }
}

void tst_BmpDecoder::hostileFiles()
{
    if (!HaveCorpus())
        QSKIP("no corpus");
    QFETCH(QString, file);
    QFETCH(bool, decodes);

    const QByteArray data = ReadAll(file);
    QVERIFY(!data.isEmpty());
    try {
        const QImage image = DecodeBmp(data);
        QVERIFY2(decodes, "decoded a file that should be refused");
        QCOMPARE(image.format(), QImage::Format_BGR888);
    } catch (const AppError &e) {
        QVERIFY2(!decodes, qPrintable(e.message()));
        QVERIFY2(e.message() == kInvalid || e.message().startsWith(QStringLiteral("The picture is too large")),
                 qPrintable(e.message()));
    }

    // The same bytes as metafiles embed them must never do worse than fail.
    const QByteArrayView dib = QByteArrayView(data).sliced(std::min<qsizetype>(14, data.size()));
    const qsizetype rowsAt = data.size() >= 14 ? std::clamp<qsizetype>(qFromLittleEndian<quint32>(data.constData() + 10) - 14, 0, dib.size()) : 0;
    for (bool keepAlpha : {false, true}) {
        try {
            DecodePackedDib(dib, keepAlpha);
        } catch (const AppError &e) {
            QCOMPARE(e.message().isEmpty(), false);
        }
        try {
            DecodeDib(dib.first(rowsAt), dib.sliced(rowsAt), keepAlpha);
        } catch (const AppError &e) {
            QCOMPARE(e.message().isEmpty(), false);
        }
    }
}

QTEST_GUILESS_MAIN(tst_BmpDecoder)
#include "tst_BmpDecoder.moc"
