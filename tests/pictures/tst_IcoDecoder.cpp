// Qt
#include <QBuffer>
#include <QDir>
#include <QtTest>

// Std
#include <sys/resource.h>

// Local
#include "AppError.h"
#include "DibTestData.h"
#include "IcoDecoder.h"
#include "TestPaths.h"

namespace {

const QString kInvalid = QStringLiteral("Icon image is not valid");

// An icon entry's DIB: 40-byte header with the doubled height, colour table,
// colour rows (bottom-up) and AND mask rows, each row padded to four bytes.
QByteArray IconDib(int width, int height, int bitCount, const QList<QRgb> &table,
                   const QList<QByteArray> &colourRows, const QList<QByteArray> &maskRows, quint32 compression = 0)
{
    QByteArray b;
    Put32(b, 40);
    Put32(b, width);
    Put32(b, height * 2);
    Put16(b, 1);
    Put16(b, bitCount);
    Put32(b, compression);
    Put32(b, 0);
    Put32(b, 0);
    Put32(b, 0);
    Put32(b, table.size());
    Put32(b, 0);
    for (QRgb c : table)
        b += Quads({c});
    for (const QByteArray &row : colourRows)
        b += Pad4(row);
    for (const QByteArray &row : maskRows)
        b += Pad4(row);
    return b;
}

QByteArray Png(const QImage &image)
{
    QByteArray b;
    QBuffer buffer(&b);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return b;
}

struct Entry
{
    int dirWidth;   // as the directory states it (0 means 256)
    int dirHeight;
    int dirBitCount;
    QByteArray data;
};

QByteArray IconFile(const QList<Entry> &entries)
{
    QByteArray b;
    Put16(b, 0);
    Put16(b, 1);
    Put16(b, entries.size());
    quint32 offset = 6 + 16 * entries.size();
    for (const Entry &e : entries) {
        b += Bytes({e.dirWidth, e.dirHeight, 0, 0});
        Put16(b, 1);
        Put16(b, e.dirBitCount);
        Put32(b, e.data.size());
        Put32(b, offset);
        offset += e.data.size();
    }
    for (const Entry &e : entries)
        b += e.data;
    return b;
}

} // namespace

class tst_IcoDecoder : public QObject
{
    Q_OBJECT

private slots:
    void pngChunkClaimingGigabytes();
    void pixels_data();
    void pixels();
    void invalid_data();
    void invalid();
    void corpus_data();
    void corpus();
};

// Peak memory of the process so far, in MiB.
long PeakMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

// A 300-byte icon whose PNG has a text chunk claiming 1.7 GB: libpng would
// allocate that much before finding the data missing. It runs first, while
// the process's peak memory is still low.
void tst_IcoDecoder::pngChunkClaimingGigabytes()
{
    QByteArray png = Png(QImage(256, 256, QImage::Format_Mono));
    png.insert(8 + 25, QByteArray("\x67\x00\x00\x25tEXtdate:create", 19));   // after the header chunk
    const long before = PeakMiB();
    try {
        DecodeIco(IconFile({{0, 0, 1, png}}));
        QFAIL("decoded");
    } catch (const AppError &e) {
        QCOMPARE(e.message(), kInvalid);
    }
    QVERIFY2(PeakMiB() - before < 256, qPrintable(QStringLiteral("peak grew by %1 MiB").arg(PeakMiB() - before)));
}

void tst_IcoDecoder::pixels_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QList<QRgb>>("expected");

    const QRgb white = qRgb(255, 255, 255), red = qRgb(255, 0, 0), blue = qRgb(0, 0, 255);
    const QRgb green = qRgb(0, 255, 0), olive = qRgb(10, 20, 30);

    // Rows are bottom-up in both bitmaps; a set mask bit shows white.
    QTest::newRow("AND mask on a 24-bit entry")
        << IconFile({{2, 2, 24, IconDib(2, 2, 24, {}, {Bgr({red, blue}), Bgr({olive, red})},
                                         {Bytes({0b01000000}), Bytes({0b10000000})})}})
        << QSize(2, 2) << QList<QRgb>{white, red, red, white};
    QTest::newRow("AND mask on a 4-bit entry")
        << IconFile({{2, 1, 4, IconDib(2, 1, 4, {red, blue}, {Bytes({0x01})}, {Bytes({0b10000000})})}})
        << QSize(2, 1) << QList<QRgb>{white, blue};
    QTest::newRow("32-bit alpha wins over the mask")
        << IconFile({{2, 1, 32, IconDib(2, 1, 32, {}, {Bgra({qRgba(0, 0, 0, 128), qRgba(255, 0, 0, 255)})},
                                         {Bytes({0b11000000})})}})
        << QSize(2, 1) << QList<QRgb>{qRgb(127, 127, 127), red};
    QTest::newRow("32-bit with alpha 0 everywhere uses the mask")
        << IconFile({{2, 1, 32, IconDib(2, 1, 32, {}, {Bgra({qRgba(255, 0, 0, 0), qRgba(0, 0, 255, 0)})},
                                         {Bytes({0b01000000})})}})
        << QSize(2, 1) << QList<QRgb>{red, white};
    QTest::newRow("missing mask leaves the entry opaque")
        << IconFile({{1, 1, 24, IconDib(1, 1, 24, {}, {Bgr({blue})}, {})}})
        << QSize(1, 1) << QList<QRgb>{blue};

    // The directory understates B (1 x 1) and overstates A (0 = 256): the
    // entries' own headers decide. B and C are both 3 x 3; B is deeper.
    const QByteArray a = IconDib(2, 2, 8, {red}, {Bytes({0, 0}), Bytes({0, 0})}, {});
    const QByteArray b = IconDib(3, 3, 24, {}, {Bgr({blue, blue, blue}), Bgr({blue, blue, blue}), Bgr({blue, blue, blue})}, {});
    const QByteArray c = IconDib(3, 3, 4, {green}, {Bytes({0, 0}), Bytes({0, 0}), Bytes({0, 0})}, {});
    QTest::newRow("largest entry by its own header, then deepest")
        << IconFile({{0, 0, 8, a}, {3, 3, 4, c}, {1, 1, 24, b}}) << QSize(3, 3) << QList<QRgb>(9, blue);
    QTest::newRow("equal entries: the first")
        << IconFile({{1, 1, 24, IconDib(1, 1, 24, {}, {Bgr({red})}, {})},
                     {1, 1, 24, IconDib(1, 1, 24, {}, {Bgr({blue})}, {})}})
        << QSize(1, 1) << QList<QRgb>{red};

    QImage png(3, 1, QImage::Format_ARGB32);
    png.setPixel(0, 0, qRgba(0, 255, 0, 255));
    png.setPixel(1, 0, qRgba(0, 0, 0, 0));
    png.setPixel(2, 0, qRgba(0, 0, 0, 128));
    QTest::newRow("PNG entry larger than the DIB entry, alpha onto white")
        << IconFile({{1, 1, 24, IconDib(1, 1, 24, {}, {Bgr({red})}, {})}, {3, 1, 32, Png(png)}})
        << QSize(3, 1) << QList<QRgb>{green, white, qRgb(127, 127, 127)};

    QByteArray cut = IconDib(4, 4, 24, {}, {Bgr({red, red, red, red})}, {});
    QTest::newRow("broken largest entry gives way to the next")
        << IconFile({{4, 4, 24, cut}, {1, 1, 24, IconDib(1, 1, 24, {}, {Bgr({blue})}, {})}})
        << QSize(1, 1) << QList<QRgb>{blue};
}

void tst_IcoDecoder::pixels()
{
    QFETCH(QByteArray, file);
    QFETCH(QSize, size);
    QFETCH(QList<QRgb>, expected);

    const QImage image = DecodeIco(file);
    QCOMPARE(image.format(), QImage::Format_BGR888);
    QCOMPARE(image.size(), size);
    QCOMPARE(PixelsOf(image), expected);
}

void tst_IcoDecoder::invalid_data()
{
    QTest::addColumn<QByteArray>("file");

    const QByteArray good = IconDib(1, 1, 24, {}, {Bgr({qRgb(1, 2, 3)})}, {});
    QByteArray wrongType = IconFile({{1, 1, 24, good}});
    wrongType[2] = 3;
    QByteArray noEntries = IconFile({{1, 1, 24, good}});
    noEntries[4] = 0;
    QByteArray offsetPastEnd = IconFile({{1, 1, 24, good}});
    offsetPastEnd[6 + 12] = char(0xF0);

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("resource type 3") << wrongType;
    QTest::newRow("no entries") << noEntries;
    QTest::newRow("directory cut short") << IconFile({{1, 1, 24, good}}).left(12);
    QTest::newRow("entry beyond the file") << offsetPastEnd;
    QTest::newRow("colour rows cut short")
        << IconFile({{2, 2, 24, IconDib(2, 2, 24, {}, {Bgr({0, 0})}, {})}});
    QTest::newRow("RLE entry")
        << IconFile({{1, 1, 8, IconDib(1, 1, 8, {0}, {Bytes({1, 0, 0, 1})}, {}, 1)}});
    QTest::newRow("width 0") << IconFile({{1, 1, 24, IconDib(0, 1, 24, {}, {Bgr({0})}, {})}});
    QTest::newRow("garbage entry") << IconFile({{1, 1, 24, QByteArray(64, 'x')}});
    // Claims 60000 x 60000 in 10 bytes: refused before anything is allocated.
    QByteArray bigPng = Png(QImage(1, 1, QImage::Format_RGB32));
    for (int i : {16, 20}) {
        bigPng[i + 2] = char(0xEA);
        bigPng[i + 3] = char(0x60);
    }
    QTest::newRow("PNG claiming 60000 x 60000") << IconFile({{0, 0, 32, bigPng}});
}

void tst_IcoDecoder::invalid()
{
    QFETCH(QByteArray, file);

    try {
        const QImage image = DecodeIco(file);
        QFAIL(qPrintable(QStringLiteral("decoded a %1 x %2 picture").arg(image.width()).arg(image.height())));
    } catch (const AppError &e) {
        QCOMPARE(e.message(), kInvalid);
    }
}

void tst_IcoDecoder::corpus_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("size");        // invalid: the file is refused
    QTest::addColumn<QString>("reference"); // expected pixels, when there is one

    if (!HaveCorpus())
        return;
    const QString ico = CorpusDir() + QStringLiteral("/ico/");
    const QString images = ico + QStringLiteral("image-rs/images/");
    const QString refs = ico + QStringLiteral("image-rs/reference/");
    for (const QString &name : QDir(images).entryList({QStringLiteral("*.ico")}, QDir::Files)) {
        const QString ref = refs + name + QStringLiteral(".png");
        if (QFile::exists(ref))
            QTest::newRow(qPrintable(name)) << images + name << QImage(ref).size() << ref;
    }
    // A version 5 bitmap made an icon: its colour profile sits where the
    // mask would be, so it shows as the plain bitmap.
    QTest::newRow("bmp_v5_with_icc.ico") << images + QStringLiteral("bmp_v5_with_icc.ico") << QSize(127, 64)
                                         << CorpusDir() + QStringLiteral("/bmp/bmpsuite/ref/rgb24.png");

    const QList<std::pair<QString, QSize>> others{
        {QStringLiteral("image-rs/images/bmp-32bpp-conflicting-and-mask.ico"), QSize(16, 16)},
        {QStringLiteral("image-rs/images/truncated_mask_32bpp.ico"), QSize(64, 64)},
        {QStringLiteral("pillow/black_and_white.ico"), QSize(16, 16)},
        {QStringLiteral("pillow/hopper.ico"), QSize(16, 16)},
        {QStringLiteral("pillow/hopper_256x256.ico"), QSize(256, 256)},
        {QStringLiteral("pillow/hopper_draw.ico"), QSize(16, 16)},
        {QStringLiteral("pillow/hopper_mask.ico"), QSize(16, 16)},
        {QStringLiteral("pillow/hopper_unexpected.ico"), QSize(16, 16)},  // the directory says 16 x 32
        {QStringLiteral("pillow/pillow.ico"), QSize(256, 256)},
        {QStringLiteral("pillow/python.ico"), QSize(48, 48)},             // largest is the last entry
        {QStringLiteral("imagemagick/ImageMagick.ico"), QSize(64, 64)},
        {QStringLiteral("imagemagick/input.ico"), QSize(32, 32)},
        {QStringLiteral("pillow/decompression_bomb.ico"), QSize()},      // claims 65535 x 32767
        {QStringLiteral("regress/embedded-png-65536.ico"), QSize()},     // a PNG chunk claims 1.7 GB
    };
    for (const auto &[name, size] : others)
        QTest::newRow(qPrintable(name)) << ico + name << size << QString();
    const QDir bad(ico + QStringLiteral("image-rs/bad"));
    for (const QString &name : bad.entryList(QDir::Files))
        QTest::newRow(qPrintable(QStringLiteral("bad/") + name)) << bad.filePath(name) << QSize() << QString();
}

void tst_IcoDecoder::corpus()
{
    if (!HaveCorpus())
        QSKIP("no corpus");
    QFETCH(QString, file);
    QFETCH(QSize, size);
    QFETCH(QString, reference);

    const QByteArray data = ReadAll(file);
    QVERIFY(!data.isEmpty());
    if (!size.isValid()) {
        try {
            DecodeIco(data);
            QFAIL("a broken icon was decoded");
        } catch (const AppError &e) {
            QCOMPARE(e.message(), kInvalid);
        }
        return;
    }
    const QImage image = DecodeIco(data);
    QCOMPARE(image.format(), QImage::Format_BGR888);
    QCOMPARE(image.size(), size);
    if (!reference.isEmpty()) {
        const int difference = MaxDifference(image, ReferenceOnWhite(QImage(reference)));
        QVERIFY2(difference == 0, qPrintable(QStringLiteral("differs by up to %1").arg(difference)));
    }
}

QTEST_GUILESS_MAIN(tst_IcoDecoder)
#include "tst_IcoDecoder.moc"
