// Local
#include "AppError.h"
#include "JpegCodec.h"
#include "TestFiles.h"
#include "TestPaths.h"

// Qt
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

// Std
#include <cmath>

// libjpeg's message numbers
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>

namespace {

QString JpegDir()
{
    return CorpusDir() + QStringLiteral("/jpeg/");
}

QImage DecodeFile(const QString &relative, int denom = 1, bool fast = false)
{
    return JpegDecoder(ReadAll(JpegDir() + relative)).Decode(denom, fast);
}

// Mean and largest difference of all bytes of two same-sized pictures.
struct Difference
{
    double mean = 0;
    int max = 0;
};

Difference Compare(const QImage &a, const QImage &b)
{
    const QImage x = a.convertToFormat(QImage::Format_BGR888);
    const QImage y = b.convertToFormat(QImage::Format_BGR888);
    if (x.size() != y.size())
        qFatal("sizes differ: %dx%d and %dx%d", x.width(), x.height(), y.width(), y.height());
    Difference d;
    qint64 sum = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int i = 0; i < 3 * x.width(); ++i) {
            const int diff = std::abs(x.constScanLine(row)[i] - y.constScanLine(row)[i]);
            sum += diff;
            d.max = std::max(d.max, diff);
        }
    d.mean = double(sum) / (3.0 * x.width() * x.height());
    return d;
}

// A picture with smooth colours and sharp grey edges, as photos have. (The
// encoder halves the colour resolution, so colour edges would blur.)
QImage TestPicture(int width, int height)
{
    QImage image(width, height, QImage::Format_BGR888);
    for (int y = 0; y < height; ++y) {
        uchar *row = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const int edge = ((x / 16 + y / 16) & 1) ? 120 : 0;
            row[3 * x] = uchar(edge + x * 120 / std::max(1, width - 1));
            row[3 * x + 1] = uchar(edge + y * 120 / std::max(1, height - 1));
            row[3 * x + 2] = uchar(edge + 60);
        }
    }
    return image;
}

// Splits a JPEG stream into its marker segments; a scan keeps its coded
// data. Enough for the files this test makes.
QList<QByteArray> Segments(const QByteArray &jpeg)
{
    QList<QByteArray> segments;
    qsizetype pos = 2;
    segments << jpeg.left(2);
    while (pos + 4 <= jpeg.size()) {
        const uchar marker = uchar(jpeg[pos + 1]);
        if (marker == 0xD9) {
            segments << jpeg.mid(pos);
            break;
        }
        const int length = (uchar(jpeg[pos + 2]) << 8) | uchar(jpeg[pos + 3]);
        qsizetype end = pos + 2 + length;
        if (marker == 0xDA) {
            while (end + 1 < jpeg.size()
                   && !(uchar(jpeg[end]) == 0xFF && uchar(jpeg[end + 1]) != 0 && (uchar(jpeg[end + 1]) & 0xF8) != 0xD0))
                ++end;
        }
        segments << jpeg.mid(pos, end - pos);
        pos = end;
    }
    return segments;
}

} // namespace

class tst_JpegCodec : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void matchesReference_data();
    void matchesReference();
    void arithmeticCodingMatchesHuffman();
    void scaledSizes_data();
    void scaledSizes();
    void grayscaleComesOutGrey();
    void cmykComesOutInColour();
    void truncatedFileShowsWhatWasDecoded();
    void failures_data();
    void failures();
    void corpusNeverCrashes_data();
    void corpusNeverCrashes();
    void hugeProgressiveFailsQuickly();
    void baselineFrameBeyondTheLimitFails();
    void endlessScansFail();
    void encodeRoundTrip_data();
    void encodeRoundTrip();
    void encodeClampsQuality();
    void saveJpeg();
};

void tst_JpegCodec::initTestCase()
{
    if (!HaveCorpus())
        QSKIP("no corpus");
}

void tst_JpegCodec::matchesReference_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("reference");
    QTest::addColumn<double>("maxMean");
    QTest::addColumn<int>("maxDifference");

    // testorig.ppm is the picture testorig.jpg was made from.
    QTest::newRow("baseline") << "libjpeg-turbo/testorig.jpg" << "libjpeg-turbo/testorig.ppm" << 0.5 << 4;
    QTest::newRow("arithmetic") << "libjpeg-turbo/testimgari.jpg" << "libjpeg-turbo/testorig.ppm" << 1.0 << 20;
    // Decoded by another decoder: other rounding in its transform.
    QTest::newRow("progressive 3") << "image-rs/progressive/3.jpg" << "image-rs/reference/3.jpg.png" << 0.3 << 4;
    QTest::newRow("progressive cat") << "image-rs/progressive/cat.jpg" << "image-rs/reference/cat.jpg.png" << 0.3 << 5;
    QTest::newRow("progressive test") << "image-rs/progressive/test.jpg" << "image-rs/reference/test.jpg.png" << 0.3 << 4;
}

void tst_JpegCodec::matchesReference()
{
    QFETCH(QString, file);
    QFETCH(QString, reference);
    QFETCH(double, maxMean);
    QFETCH(int, maxDifference);
    const QImage decoded = DecodeFile(file);
    QCOMPARE(decoded.format(), QImage::Format_BGR888);
    const QImage expected(JpegDir() + reference);
    QVERIFY(!expected.isNull());
    QCOMPARE(decoded.size(), expected.size());
    const Difference d = Compare(decoded, expected);
    QVERIFY2(d.mean <= maxMean && d.max <= maxDifference,
             qPrintable(QStringLiteral("mean %1 max %2").arg(d.mean).arg(d.max)));
}

void tst_JpegCodec::arithmeticCodingMatchesHuffman()
{
    // The same coefficients, coded two ways.
    const Difference d = Compare(DecodeFile("libjpeg-turbo/testimgari.jpg"), DecodeFile("libjpeg-turbo/testimgint.jpg"));
    QCOMPARE(d.max, 0);
}

void tst_JpegCodec::scaledSizes_data()
{
    QTest::addColumn<int>("denom");
    QTest::addColumn<QSize>("expected");
    // testorig.jpg is 227 x 149; reduced sizes are rounded up.
    QTest::newRow("1/1") << 1 << QSize(227, 149);
    QTest::newRow("1/2") << 2 << QSize(114, 75);
    QTest::newRow("1/4") << 4 << QSize(57, 38);
    QTest::newRow("1/8") << 8 << QSize(29, 19);
}

void tst_JpegCodec::scaledSizes()
{
    QFETCH(int, denom);
    QFETCH(QSize, expected);
    const JpegDecoder decoder(ReadAll(JpegDir() + "libjpeg-turbo/testorig.jpg"));
    QCOMPARE(QSize(decoder.Width(), decoder.Height()), QSize(227, 149));
    QCOMPARE(decoder.ScaledSize(denom), expected);
    QCOMPARE(decoder.Decode(denom, false).size(), expected);
}

void tst_JpegCodec::grayscaleComesOutGrey()
{
    const QImage grey = DecodeFile("pillow/hopper_gray.jpg");
    QCOMPARE(grey.format(), QImage::Format_BGR888);
    for (int y = 0; y < grey.height(); y += 7)
        for (int x = 0; x < grey.width(); x += 5) {
            const uchar *p = grey.constScanLine(y) + 3 * x;
            QVERIFY(p[0] == p[1] && p[1] == p[2]);
        }
}

void tst_JpegCodec::cmykComesOutInColour()
{
    // The same picture stored as (Adobe, inverted) CMYK and as RGB.
    const QImage cmyk = DecodeFile("pillow/pil_sample_cmyk.jpg");
    const QImage rgb = DecodeFile("pillow/pil_sample_rgb.jpg");
    const Difference d = Compare(cmyk, rgb);
    QVERIFY2(d.mean < 8, qPrintable(QString::number(d.mean)));
}

void tst_JpegCodec::truncatedFileShowsWhatWasDecoded()
{
    const QImage full = DecodeFile("libjpeg-turbo/testorig.jpg");
    // Only the end-of-image marker is missing: everything is there.
    QCOMPARE(Compare(DecodeFile("derived/trunc-no-eoi.jpg"), full).max, 0);

    // Half the file: the top is the picture, the rest is filled in.
    const QImage half = DecodeFile("derived/trunc-half.jpg");
    QCOMPARE(half.size(), full.size());
    const Difference top = Compare(half.copy(0, 0, 227, 16), full.copy(0, 0, 227, 16));
    QCOMPARE(top.max, 0);
    const Difference bottom = Compare(half.copy(0, 133, 227, 16), full.copy(0, 133, 227, 16));
    QVERIFY(bottom.mean > 5);
}

void tst_JpegCodec::failures_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("expected");   // a regular expression

    QTest::newRow("12-bit") << "libjpeg-turbo/monkey12.jpg"
                            << QStringLiteral("^JPEG error #%1: 12-bit JPEG files are not supported$").arg(JERR_BAD_PRECISION);
    QTest::newRow("a PNG") << "derived/png-renamed.jpg" << QStringLiteral("^JPEG error #%1$").arg(JERR_NO_SOI);
    QTest::newRow("empty") << "derived/trunc-0bytes.jpg" << QStringLiteral("^JPEG error #\\d+$");
    QTest::newRow("header only") << "derived/trunc-before-sos.jpg" << QStringLiteral("^JPEG error #\\d+$");
    QTest::newRow("random bytes") << "derived/random-bytes.jpg" << QStringLiteral("^JPEG error #\\d+$");
}

void tst_JpegCodec::failures()
{
    QFETCH(QString, file);
    QFETCH(QString, expected);
    QString message;
    try {
        DecodeFile(file);
    } catch (const AppError &e) {
        message = e.message();
    }
    QVERIFY2(QRegularExpression(expected).match(message).hasMatch(), qPrintable(message));
}

void tst_JpegCodec::corpusNeverCrashes_data()
{
    QTest::addColumn<QString>("file");
    for (const char *folder : {"imagetestsuite", "pillow", "derived", "image-rs/regression", "libjpeg-turbo"}) {
        const QDir dir(JpegDir() + folder);
        for (const QString &name : dir.entryList({"*.jpg", "*.jpeg"}, QDir::Files))
            QTest::newRow(qPrintable(QStringLiteral("%1/%2").arg(folder, name))) << QStringLiteral("%1/%2").arg(folder, name);
    }
}

void tst_JpegCodec::corpusNeverCrashes()
{
    // Each damaged file gives a picture of its header's size or a JPEG
    // error, at every scale.
    QFETCH(QString, file);
    for (const int denom : {1, 8}) {
        try {
            const JpegDecoder decoder(ReadAll(JpegDir() + file));
            const QImage image = decoder.Decode(denom, denom == 8);
            QCOMPARE(image.size(), decoder.ScaledSize(denom));
        } catch (const AppError &e) {
            QVERIFY2(e.message().startsWith("JPEG error") || e.message().startsWith("The picture is too large"),
                     qPrintable(e.message()));
        }
    }
}

void tst_JpegCodec::hugeProgressiveFailsQuickly()
{
    // A tiny progressive file whose header claims 60000 x 60000 pixels:
    // decoding it at 1/8 would need all coefficients at full size (gigabytes).
    QByteArray jpeg = EncodeJpeg(TestPicture(64, 64), 75);
    const qsizetype sof = jpeg.indexOf("\xFF\xC2");
    QVERIFY(sof > 0);
    jpeg[sof + 5] = char(0xEA);
    jpeg[sof + 6] = char(0x60);
    jpeg[sof + 7] = char(0xEA);
    jpeg[sof + 8] = char(0x60);
    const JpegDecoder decoder(jpeg);
    QCOMPARE(decoder.Width(), 60000);
    QVERIFY_THROWS_EXCEPTION(AppError, decoder.Decode(8, false));
    // At full size the picture itself is beyond the bitmap limit.
    try {
        decoder.Decode(1, false);
        QFAIL("decoded");
    } catch (const AppError &e) {
        QVERIFY2(e.message().contains("too large"), qPrintable(e.message()));
    }
}

void tst_JpegCodec::baselineFrameBeyondTheLimitFails()
{
    // A baseline header claiming 20000 x 10000 pixels (572 MiB at 24 bits):
    // at 1/8 the picture would fit, but libjpeg would walk every block of
    // the frame.
    QByteArray jpeg = ReadAll(JpegDir() + "libjpeg-turbo/testorig.jpg");
    const qsizetype sof = jpeg.indexOf("\xFF\xC0");
    QVERIFY(sof > 0);
    jpeg.replace(sof + 5, 4, QByteArray("\x27\x10\x4E\x20", 4));
    const JpegDecoder decoder(jpeg);
    try {
        decoder.Decode(8, true);
        QFAIL("decoded");
    } catch (const AppError &e) {
        QCOMPARE(e.message(), QStringLiteral("The picture is too large (20000 x 10000 pixels)"));
    }
}

void tst_JpegCodec::endlessScansFail()
{
    // The first scan repeated 600 times: libjpeg only warns about the
    // progression, so without a limit it would decode them all.
    const QList<QByteArray> segments = Segments(EncodeJpeg(TestPicture(32, 32), 75));
    qsizetype firstScan = -1;
    for (qsizetype i = 0; i < segments.size(); ++i)
        if (segments[i].startsWith("\xFF\xDA")) {
            firstScan = i;
            break;
        }
    QVERIFY(firstScan > 0);
    QByteArray endless;
    for (qsizetype i = 0; i < segments.size(); ++i) {
        endless += segments[i];
        if (i == firstScan)
            for (int k = 0; k < 600; ++k)
                endless += segments[i];
    }
    // Within the limit the same file decodes.
    QByteArray some;
    for (qsizetype i = 0; i < segments.size(); ++i) {
        some += segments[i];
        if (i == firstScan)
            for (int k = 0; k < 100; ++k)
                some += segments[i];
    }
    QCOMPARE(JpegDecoder(some).Decode(1, false).size(), QSize(32, 32));
    try {
        JpegDecoder(endless).Decode(1, false);
        QFAIL("decoded");
    } catch (const AppError &e) {
        QVERIFY2(e.message().contains("scans"), qPrintable(e.message()));
    }
}

void tst_JpegCodec::encodeRoundTrip_data()
{
    QTest::addColumn<int>("quality");
    QTest::addColumn<double>("maxMean");
    QTest::newRow("quality 100") << 100 << 1.0;
    QTest::newRow("quality 80") << 80 << 3.0;
    QTest::newRow("quality 10") << 10 << 12.0;
}

void tst_JpegCodec::encodeRoundTrip()
{
    QFETCH(int, quality);
    QFETCH(double, maxMean);
    const QImage picture = TestPicture(203, 77);
    const QByteArray jpeg = EncodeJpeg(picture, quality);
    QVERIFY(jpeg.startsWith("\xFF\xD8"));
    QVERIFY(jpeg.endsWith("\xFF\xD9"));
    // Progressive (SOF2), not baseline (SOF0).
    QVERIFY(jpeg.contains("\xFF\xC2"));
    QVERIFY(!jpeg.contains("\xFF\xC0"));
    const QImage back = JpegDecoder(jpeg).Decode(1, false);
    QCOMPARE(back.size(), picture.size());
    const Difference d = Compare(back, picture);
    QVERIFY2(d.mean <= maxMean, qPrintable(QString::number(d.mean)));
}

void tst_JpegCodec::encodeClampsQuality()
{
    const QImage picture = TestPicture(40, 30);
    QCOMPARE(EncodeJpeg(picture, 3), EncodeJpeg(picture, 10));
    QCOMPARE(EncodeJpeg(picture, 250), EncodeJpeg(picture, 100));
    QVERIFY(EncodeJpeg(picture, 10).size() < EncodeJpeg(picture, 100).size());
}

void tst_JpegCodec::saveJpeg()
{
    QTemporaryDir dir;
    // Replaces what was there.
    const QString path = dir.filePath("out.jpg");
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(100000, 'x'));
    old.close();
    const QImage picture = TestPicture(50, 40);
    SaveJpeg(picture, path, 80);
    QCOMPARE(ReadAll(path), EncodeJpeg(picture, 80));

    const QString bad = dir.filePath("missing/out.jpg");
    try {
        SaveJpeg(picture, bad, 80);
        QFAIL("saved");
    } catch (const AppError &e) {
        const QString prefix = QStringLiteral("Cannot create file %1: ").arg(bad);
        QVERIFY2(e.message().startsWith(prefix) && e.message().size() > prefix.size(), qPrintable(e.message()));
    }
}

QTEST_GUILESS_MAIN(tst_JpegCodec)
#include "tst_JpegCodec.moc"
