// Local
#include "AppError.h"
#include "BmpDecoder.h"
#include "ImageResize.h"
#include "ImageUtils.h"
#include "JpegCodec.h"
#include "TestFiles.h"
#include "TestPaths.h"

// Qt
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

 // namespace

class tst_ImageUtils : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fitted_data();
    void fitted();
    void iconsAndMetafilesFail_data();
    void iconsAndMetafilesFail();
    void failureKeepsBitmap();

private:
    QTemporaryDir FDir;
};

void tst_ImageUtils::initTestCase()
{
    QVERIFY(FDir.isValid());
}

void tst_ImageUtils::fitted_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QSize>("box");
    QTest::addColumn<bool>("fast");
    QTest::addColumn<int>("denom");            // the JPEG scale expected
    QTest::addColumn<QSize>("expectedSize");

    // 4000 > 320 halves to 2000, 1000, then 500x375; r = 0.32.
    QTest::newRow("4000x3000 into 160x120") << "jpg" << QSize(4000, 3000) << QSize(160, 120) << false << 8 << QSize(160, 120);
    // 1/8 gives 125x19 (rounded up); r = 0.8.
    QTest::newRow("1000x150 into 100x100") << "jpg" << QSize(1000, 150) << QSize(100, 100) << false << 8 << QSize(100, 15);
    QTest::newRow("300x200 into 100x100") << "jpg" << QSize(300, 200) << QSize(100, 100) << false << 2 << QSize(100, 67);
    // Equal to the box, and smaller: the size stays, the resampler still runs.
    QTest::newRow("640x480 into 640x480") << "jpg" << QSize(640, 480) << QSize(640, 480) << false << 1 << QSize(640, 480);
    QTest::newRow("200x100 bitmap into 640x480") << "bmp" << QSize(200, 100) << QSize(640, 480) << false << 1 << QSize(200, 100);
    // One direction beyond twice the box is enough to halve.
    QTest::newRow("only the width beyond twice") << "jpg" << QSize(500, 100) << QSize(200, 200) << false << 2 << QSize(200, 40);
    QTest::newRow("exactly twice stays") << "jpg" << QSize(400, 400) << QSize(200, 200) << false << 1 << QSize(200, 200);
    // The gallery's two sizes for a 6000x4000 photo, scaled down 4 times.
    QTest::newRow("gallery thumbnail shape") << "jpg" << QSize(1500, 1000) << QSize(30, 30) << false << 8 << QSize(30, 20);
    QTest::newRow("fast mode") << "jpg" << QSize(1200, 900) << QSize(250, 250) << true << 4 << QSize(250, 187);
    QTest::newRow("fast mode bitmap") << "bmp" << QSize(300, 200) << QSize(150, 150) << true << 1 << QSize(150, 100);
    QTest::newRow("box without room") << "jpg" << QSize(64, 48) << QSize(0, 0) << false << 8 << QSize(1, 1);
}

void tst_ImageUtils::fitted()
{
    QFETCH(QString, kind);
    QFETCH(QSize, picture);
    QFETCH(QSize, box);
    QFETCH(bool, fast);
    QFETCH(int, denom);
    QFETCH(QSize, expectedSize);

    const QString path = FDir.filePath(QStringLiteral("%1x%2.%3").arg(picture.width()).arg(picture.height()).arg(kind));
    QImage working;
    if (kind == "bmp") {
        QVERIFY(DetailedPicture(picture.width(), picture.height()).save(path, "BMP"));
        working = DecodeBmp(ReadAll(path)).convertToFormat(QImage::Format_BGR888);
    } else {
        if (!QFile::exists(path))
            SaveJpeg(DetailedPicture(picture.width(), picture.height()), path, 75);
        working = JpegDecoder(ReadAll(path)).Decode(denom, fast);
    }

    QImage bitmap;
    LoadFittedBitmap(path, bitmap, box.width(), box.height(), fast);
    QCOMPARE(bitmap.size(), expectedSize);
    QCOMPARE(bitmap.format(), QImage::Format_BGR888);

    // The same bytes as the working bitmap at the expected scale through
    // the mode's resampler, also when the size does not change.
    QImage expected(expectedSize, QImage::Format_BGR888);
    if (fast)
        BilinearResize(working, expected);
    else
        FilterResize(working, expected, kLanczos3);
    QVERIFY(bitmap == expected);
}

void tst_ImageUtils::iconsAndMetafilesFail_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("expected");
    QTest::newRow("icon") << "ico/pillow/hopper.ico" << "Cannot make a bitmap from an icon";
    QTest::newRow("metafile") << "wmf/good/pillow__drawing.wmf" << "Cannot make a bitmap from a metafile";
}

void tst_ImageUtils::iconsAndMetafilesFail()
{
    QFETCH(QString, file);
    QFETCH(QString, expected);
    const QString path = CorpusDir() + "/" + file;
    if (!QFile::exists(path))
        QSKIP("no corpus");
    QImage bitmap;
    try {
        LoadFittedBitmap(path, bitmap, 100, 100, false);
        QFAIL("no error");
    } catch (const AppError &e) {
        QCOMPARE(e.message(), expected);
    }
    QVERIFY(bitmap.isNull());
}

void tst_ImageUtils::failureKeepsBitmap()
{
    QImage bitmap(7, 5, QImage::Format_BGR888);
    bitmap.fill(Qt::red);
    const QImage before = bitmap;
    const QString damaged = FDir.filePath("damaged.jpg");
    {
        QFile file(damaged);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("\xFF\xD8\xFF\xE0 not a JPEG");
    }
    QVERIFY_THROWS_EXCEPTION(AppError, LoadFittedBitmap(damaged, bitmap, 100, 100, false));
    QVERIFY_THROWS_EXCEPTION(AppError, LoadFittedBitmap(FDir.filePath("missing.jpg"), bitmap, 100, 100, true));
    QVERIFY(bitmap == before);
}

QTEST_MAIN(tst_ImageUtils)
#include "tst_ImageUtils.moc"
