// Local
#include "AppError.h"
#include "ExifDetails.h"
#include "ExifOrientation.h"
#include "JpegCodec.h"
#include "TestFiles.h"
#include "TestPaths.h"

// Qt
#include <QtTest>

namespace {

QString Pillow(const QString &name)
{
    return CorpusDir() + QStringLiteral("/jpeg/pillow/") + name;
}

// Mean absolute difference per byte of two pictures of one size.
double MeanDifference(const QImage &a, const QImage &b)
{
    qint64 sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        const uchar *p = a.constScanLine(y);
        const uchar *q = b.constScanLine(y);
        for (int x = 0; x < a.width() * 3; ++x)
            sum += std::abs(int(p[x]) - int(q[x]));
    }
    return double(sum) / (qint64(a.width()) * a.height() * 3);
}

} // namespace

class tst_ExifOrientation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void tagOfCorpusFiles_data();
    void tagOfCorpusFiles();
    void hostileBlocks_data();
    void hostileBlocks();
    void turnedPhotosStandUpright();
    void pixelsMoveExactly();
    void turnsCompose();
    void orientationWritten_data();
    void orientationWritten();
};

void tst_ExifOrientation::initTestCase()
{
    if (!HaveCorpus())
        QSKIP("No test corpus");
}

void tst_ExifOrientation::tagOfCorpusFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("orientation");
    for (int n = 2; n <= 8; ++n)
        QTest::addRow("orientation %d", n) << QStringLiteral("hopper_orientation_%1.jpg").arg(n) << n;
    QTest::newRow("no EXIF") << "hopper.jpg" << 1;
    // Broken blocks are shown unturned.
    for (const char *name : {"hopper_bad_exif.jpg", "truncated_exif_dpi.jpg", "invalid-exif.jpg",
                             "exif-ifd-offset.jpg", "broken_exif_dpi.jpg", "junk_jpeg_header.jpg",
                             "truncated_jpeg.jpg"})
        QTest::newRow(name) << QString::fromLatin1(name) << 1;
}

void tst_ExifOrientation::tagOfCorpusFiles()
{
    QFETCH(QString, file);
    QFETCH(int, orientation);
    const QByteArray data = ReadAll(Pillow(file));
    QVERIFY2(!data.isEmpty(), qPrintable(file));
    QCOMPARE(JpegOrientation(data), orientation);
}

void tst_ExifOrientation::hostileBlocks_data()
{
    QTest::addColumn<QByteArray>("jpeg");
    QTest::addColumn<int>("orientation");
    // SOI, APP1 "Exif", a little-endian TIFF header, IFD0 at 8 with one entry.
    const auto exif = [](const QByteArray &tiff) {
        QByteArray app1 = QByteArray("Exif\0\0", 6) + tiff;
        const int length = int(app1.size()) + 2;
        return QByteArray("\xFF\xD8\xFF\xE1", 4) + char(length >> 8) + char(length & 0xFF) + app1
               + QByteArray("\xFF\xDA\x00\x02", 4);
    };
    const QByteArray header("II*\0\x08\0\0\0", 8);
    const QByteArray entry6("\x12\x01\x03\0\x01\0\0\0\x06\0\0\0", 12);
    QTest::newRow("sound") << exif(header + QByteArray("\x01\0", 2) + entry6) << 6;
    QTest::newRow("big-endian") << exif(QByteArray("MM\0*\0\0\0\x08\0\x01", 10)
                                        + QByteArray("\x01\x12\0\x03\0\0\0\x01\0\x03\0\0", 12)) << 3;
    QTest::newRow("entry count past the end") << exif(header + QByteArray("\xFF\x7F", 2) + entry6) << 1;
    QTest::newRow("IFD offset past the end") << exif(QByteArray("II*\0\xF0\xFF\xFF\x7F", 8)) << 1;
    QTest::newRow("value out of range") << exif(header + QByteArray("\x01\0", 2)
                                                + QByteArray("\x12\x01\x03\0\x01\0\0\0\x09\0\0\0", 12)) << 1;
    QTest::newRow("wrong type") << exif(header + QByteArray("\x01\0", 2)
                                        + QByteArray("\x12\x01\x04\0\x01\0\0\0\x06\0\0\0", 12)) << 1;
    QTest::newRow("segment longer than the file") << QByteArray("\xFF\xD8\xFF\xE1\xFF\xF0" "Exif\0\0II", 14) << 1;
    QTest::newRow("only SOI") << QByteArray("\xFF\xD8", 2) << 1;
    QTest::newRow("empty") << QByteArray() << 1;
    // A block after the first scan belongs to no picture header.
    QTest::newRow("after the scan") << QByteArray("\xFF\xD8\xFF\xDA\x00\x02", 6)
                                           + exif(header + QByteArray("\x01\0", 2) + entry6).mid(2) << 1;
}

void tst_ExifOrientation::hostileBlocks()
{
    QFETCH(QByteArray, jpeg);
    QFETCH(int, orientation);
    QCOMPARE(JpegOrientation(jpeg), orientation);
}

void tst_ExifOrientation::turnedPhotosStandUpright()
{
    // Each file stores the same upright picture turned or mirrored the way
    // its tag undoes.
    const QImage upright = JpegDecoder(ReadAll(Pillow("hopper.jpg"))).Decode(1, false);
    for (int n = 2; n <= 8; ++n) {
        const QByteArray data = ReadAll(Pillow(QStringLiteral("hopper_orientation_%1.jpg").arg(n)));
        const QImage stored = JpegDecoder(data).Decode(1, false);
        const QImage turned = OrientedImage(stored, n);
        QCOMPARE(turned.size(), upright.size());
        const double difference = MeanDifference(turned, upright);
        // JPEG noise stays near 5; any other turn differs by 50 and more.
        QVERIFY2(difference < 12, qPrintable(QStringLiteral("orientation %1: %2").arg(n).arg(difference)));
    }
}

void tst_ExifOrientation::pixelsMoveExactly()
{
    // A 3 x 2 picture with one colour a pixel: every orientation moves the
    // stored pixels to where the tag says and changes none.
    QImage stored(3, 2, QImage::Format_BGR888);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            stored.setPixel(x, y, qRgb(x * 80, y * 80, 7));
    // The upright pictures as rows of stored (x, y) positions.
    const QList<QList<QPoint>> uprights[9] = {
        {}, {},
        {{{2, 0}, {1, 0}, {0, 0}}, {{2, 1}, {1, 1}, {0, 1}}},
        {{{2, 1}, {1, 1}, {0, 1}}, {{2, 0}, {1, 0}, {0, 0}}},
        {{{0, 1}, {1, 1}, {2, 1}}, {{0, 0}, {1, 0}, {2, 0}}},
        {{{0, 0}, {0, 1}}, {{1, 0}, {1, 1}}, {{2, 0}, {2, 1}}},
        {{{0, 1}, {0, 0}}, {{1, 1}, {1, 0}}, {{2, 1}, {2, 0}}},
        {{{2, 1}, {2, 0}}, {{1, 1}, {1, 0}}, {{0, 1}, {0, 0}}},
        {{{2, 0}, {2, 1}}, {{1, 0}, {1, 1}}, {{0, 0}, {0, 1}}},
    };
    QCOMPARE(OrientedImage(stored, 1), stored);
    for (int n = 2; n <= 8; ++n) {
        const QImage turned = OrientedImage(stored, n);
        const QList<QList<QPoint>> &rows = uprights[n];
        QCOMPARE(turned.height(), rows.size());
        QCOMPARE(turned.format(), QImage::Format_BGR888);
        QCOMPARE(OrientationSwapsSides(n), turned.width() == 2);
        for (int y = 0; y < rows.size(); ++y) {
            QCOMPARE(turned.width(), rows[y].size());
            for (int x = 0; x < rows[y].size(); ++x)
                QCOMPARE(turned.pixel(x, y), stored.pixel(rows[y][x]));
        }
    }
}

void tst_ExifOrientation::turnsCompose()
{
    // Turning the upright view a quarter right is what tag 6 asks of a
    // stored picture; two quarters, tag 3; a quarter left, tag 8.
    QCOMPARE(TurnedOrientation(1, 1), 6);
    QCOMPARE(TurnedOrientation(1, 2), 3);
    QCOMPARE(TurnedOrientation(1, -1), 8);
    QCOMPARE(TurnedOrientation(6, 1), 3);
    QCOMPARE(TurnedOrientation(6, -1), 1);
    QCOMPARE(TurnedOrientation(3, 2), 1);
    for (int o = 1; o <= 8; ++o) {
        QCOMPARE(TurnedOrientation(o, 4), o);
        QCOMPARE(TurnedOrientation(TurnedOrientation(o, 1), -1), o);
        // A mirrored photo stays mirrored, an unmirrored one unmirrored.
        const auto mirrored = [](int t) { return t == 2 || t == 4 || t == 5 || t == 7; };
        QCOMPARE(mirrored(TurnedOrientation(o, 1)), mirrored(o));
    }
}

void tst_ExifOrientation::orientationWritten_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("growth");   // bytes the file grows by; -1: refused
    QTest::newRow("tag changed in place") << "hopper_orientation_6.jpg" << 0;
    QTest::newRow("block without the tag") << "invalid-exif-without-x-resolution.jpg" << 102;
    QTest::newRow("camera block without the tag") << "sugarshack_bad_mpo_header.jpg" << 126;
    QTest::newRow("odd-sized block") << "multiple_exif.jpg" << 31;
    QTest::newRow("no block, after the JFIF header") << "hopper.jpg" << 36;
    QTest::newRow("damaged block") << "hopper_bad_exif.jpg" << -1;
    QTest::newRow("block too short for its directory") << "truncated_exif_dpi.jpg" << -1;
}

void tst_ExifOrientation::orientationWritten()
{
    QFETCH(QString, file);
    QFETCH(int, growth);
    const QByteArray jpeg = ReadAll(Pillow(file));
    if (growth < 0) {
        QVERIFY_THROWS_EXCEPTION(AppError, JpegWithOrientation(jpeg, 3));
        return;
    }
    const auto lines = ExifDetailLines(ReadJpegExifDetails(jpeg));
    const QImage stored = JpegDecoder(jpeg).Decode(8, true);
    for (int o = 1; o <= 8; ++o) {
        const QByteArray out = JpegWithOrientation(jpeg, o);
        QCOMPARE(JpegOrientation(out), o);
        QCOMPARE(out.size(), jpeg.size() + growth);
        // The picture data and every other field are as they were.
        QCOMPARE(JpegDecoder(out).Decode(8, true), stored);
        QCOMPARE(ExifDetailLines(ReadJpegExifDetails(out)), lines);
        QCOMPARE(out.left(4), jpeg.left(4));
        // Written once, the tag is there to be changed in place.
        const QByteArray again = JpegWithOrientation(out, TurnedOrientation(o, 1));
        QCOMPARE(again.size(), out.size());
        QCOMPARE(JpegOrientation(again), TurnedOrientation(o, 1));
    }
}

QTEST_GUILESS_MAIN(tst_ExifOrientation)
#include "tst_ExifOrientation.moc"
