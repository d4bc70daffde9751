// Local
#include "AppError.h"
#include "BmpDecoder.h"
#include "ColourProfile.h"
#include "ExifOrientation.h"
#include "IcoDecoder.h"
#include "ImageResize.h"
#include "ImageUtils.h"
#include "JpegCodec.h"
#include "PictureLoader.h"
#include "TestFiles.h"
#include "TestPaths.h"
#include "TestProfiles.h"

// Qt
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// libjpeg's message numbers
#include <cstdio>
#include <optional>
#include <lcms2.h>
#include <jpeglib.h>
#include <jerror.h>

namespace {

QString LoadError(const QString &fileName)
{
    try {
        TPicture::Load(fileName);
    } catch (const AppError &e) {
        return e.message();
    }
    return QString();
}

// The JPEG with an EXIF block holding only the orientation tag.
QByteArray Tagged(const QByteArray &jpeg, int orientation)
{
    const QByteArray block = QByteArray("Exif\0\0MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0", 25)
                             + char(orientation) + QByteArray(6, '\0');
    const int length = int(block.size()) + 2;
    return jpeg.left(2) + "\xFF\xE1" + char(length >> 8) + char(length & 0xFF) + block + jpeg.mid(2);
}

// The JPEG with a colour profile in APP2 chunks (as many as it takes).
QByteArray WithProfile(const QByteArray &jpeg, const QByteArray &profile)
{
    constexpr qsizetype kPerChunk = 65000;
    const int count = int((profile.size() + kPerChunk - 1) / kPerChunk);
    QByteArray chunks;
    for (int i = 0; i < count; ++i) {
        const QByteArray chunk = QByteArray("ICC_PROFILE", 12) + char(i + 1) + char(count)
                                 + profile.mid(i * kPerChunk, kPerChunk);
        const int length = int(chunk.size()) + 2;
        chunks += QByteArray("\xFF\xE2") + char(length >> 8) + char(length & 0xFF) + chunk;
    }
    return jpeg.left(2) + chunks + jpeg.mid(2);
}

// The inks of a CMYK JPEG as libjpeg decodes them, four bytes a pixel.
QByteArray RawInks(const QByteArray &jpeg, int &width, int &height)
{
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char *>(jpeg.constData()), (unsigned long)jpeg.size());
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_CMYK;
    jpeg_start_decompress(&info);
    width = int(info.output_width);
    height = int(info.output_height);
    QByteArray inks(width * height * 4, '\0');
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = reinterpret_cast<JSAMPROW>(inks.data()) + info.output_scanline * width * 4;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return inks;
}

} // namespace

class tst_PictureLoader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void unknownExtension_data();
    void unknownExtension();
    void cannotOpen();
    void decoderFollowsExtension();
    void readPicture_data();
    void readPicture();
    void readIcon();
    void boxWithoutRoomGivesNothing_data();
    void boxWithoutRoomGivesNothing();
    void failureResetsSizeOnly();
    void orientationTurnsThePicture_data();
    void orientationTurnsThePicture();
    void colourProfileGivesSrgb();
    void cmykThroughItsProfile();
    void bandsGiveTheSameBytes();

private:
    QTemporaryDir FDir;
    QString Jpeg(int width, int height, const QString &name = QString());
};

void tst_PictureLoader::initTestCase()
{
    QVERIFY(FDir.isValid());
}

QString tst_PictureLoader::Jpeg(int width, int height, const QString &name)
{
    const QString path = FDir.filePath(name.isEmpty() ? QStringLiteral("%1x%2.jpg").arg(width).arg(height) : name);
    if (!QFile::exists(path))
        SaveJpeg(DetailedPicture(width, height), path, 75);
    return path;
}

void tst_PictureLoader::unknownExtension_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    QTest::newRow("text") << "notes.txt" << "Unknown picture file extension (.txt)";
    QTest::newRow("as written") << "PHOTO.PNG" << "Unknown picture file extension (.PNG)";
    QTest::newRow("part of a known one") << "e.jp" << "Unknown picture file extension (.jp)";
    QTest::newRow("last dot") << "archive.tar.gz" << "Unknown picture file extension (.gz)";
    QTest::newRow("none") << "README" << "Unknown picture file extension (.)";
    QTest::newRow("trailing dot") << "name." << "Unknown picture file extension (.)";
}

void tst_PictureLoader::unknownExtension()
{
    QFETCH(QString, name);
    QFETCH(QString, expected);
    // The extension decides before the file is even opened.
    QCOMPARE(LoadError(FDir.filePath(name)), expected);
    WriteFile(FDir.filePath(name), ReadAll(Jpeg(8, 8)));
    QCOMPARE(LoadError(FDir.filePath(name)), expected);
}

void tst_PictureLoader::cannotOpen()
{
    const QString missing = FDir.filePath("missing.jpg");
    QFile probe(missing);
    QVERIFY(!probe.open(QIODevice::ReadOnly));
    QCOMPARE(LoadError(missing), QStringLiteral("Cannot open file %1: %2").arg(missing, probe.errorString()));

    const QString folder = FDir.filePath("folder.jpg");
    QVERIFY(QDir().mkpath(folder));
    QCOMPARE(LoadError(folder), QStringLiteral("Cannot open file %1: It is a folder").arg(folder));
}

void tst_PictureLoader::decoderFollowsExtension()
{
    // A JPEG named .bmp goes to the bitmap decoder, and the other way round.
    const QString jpegAsBmp = FDir.filePath("really-a-jpeg.bmp");
    WriteFile(jpegAsBmp, ReadAll(Jpeg(16, 16)));
    QCOMPARE(LoadError(jpegAsBmp), QStringLiteral("Bitmap image is not valid"));

    QByteArray bmp;
    {
        const QString path = FDir.filePath("plain.bmp");
        QVERIFY(DetailedPicture(16, 16).save(path, "BMP"));
        bmp = ReadAll(path);
    }
    const QString bmpAsJpeg = FDir.filePath("really-a-bitmap.jpg");
    WriteFile(bmpAsJpeg, bmp);
    QCOMPARE(LoadError(bmpAsJpeg), QStringLiteral("JPEG error #%1").arg(JERR_NO_SOI));
}

void tst_PictureLoader::readPicture_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QSize>("box");
    QTest::addColumn<int>("denom");            // the JPEG scale expected
    QTest::addColumn<QSize>("expectedSize");
    QTest::addColumn<QString>("expectedScale");

    // Halves 2000x1500 and 1000x750 cover 800x600, 500x375 does not.
    QTest::newRow("4000x3000 in 800x600") << "jpg" << QSize(4000, 3000) << QSize(800, 600) << 4 << QSize(800, 600) << "20%";
    QTest::newRow("1600x400 in 800x600") << "jpg" << QSize(1600, 400) << QSize(800, 600) << 1 << QSize(800, 200) << "50%";
    QTest::newRow("bitmap that fits") << "bmp" << QSize(300, 200) << QSize(800, 600) << 1 << QSize(300, 200) << "100%";
    QTest::newRow("bitmap shrunk") << "bmp" << QSize(300, 200) << QSize(100, 100) << 1 << QSize(100, 67) << "33%";
    QTest::newRow("JPEG that fits") << "jpg" << QSize(640, 480) << QSize(800, 600) << 1 << QSize(640, 480) << "100%";
    // Both halves exactly the box: decoded at 1/2, which fits as it is.
    QTest::newRow("halves equal the box") << "jpg" << QSize(1600, 1200) << QSize(800, 600) << 2 << QSize(800, 600) << "50%";
    // One half a pixel short: full size, 799.5 rounds to the even 800.
    QTest::newRow("half one short") << "jpg" << QSize(1599, 1200) << QSize(800, 600) << 1 << QSize(800, 600) << "50%";
    QTest::newRow("down to 1/8") << "jpg" << QSize(1000, 800) << QSize(100, 90) << 8 << QSize(100, 80) << "10%";
    // 1/8 of 1001x801 is 126x101 (rounded up), still covering 100x90.
    QTest::newRow("odd size") << "jpg" << QSize(1001, 801) << QSize(100, 90) << 8 << QSize(100, 80) << "10%";
    QTest::newRow("one direction short") << "jpg" << QSize(1000, 150) << QSize(100, 100) << 1 << QSize(100, 15) << "10%";
    QTest::newRow("upper-case extension") << "JPEG" << QSize(400, 300) << QSize(100, 100) << 2 << QSize(100, 75) << "25%";
    // The clipboard's box: full size, nothing scaled.
    QTest::newRow("unlimited box") << "jpg" << QSize(640, 480) << QSize(2147483647, 2147483647) << 1 << QSize(640, 480) << "100%";
}

void tst_PictureLoader::readPicture()
{
    QFETCH(QString, kind);
    QFETCH(QSize, picture);
    QFETCH(QSize, box);
    QFETCH(int, denom);
    QFETCH(QSize, expectedSize);
    QFETCH(QString, expectedScale);

    QString path;
    QImage working;
    if (kind == "bmp") {
        path = FDir.filePath(QStringLiteral("%1x%2.bmp").arg(picture.width()).arg(picture.height()));
        QVERIFY(DetailedPicture(picture.width(), picture.height()).save(path, "BMP"));
        working = DecodeBmp(ReadAll(path)).convertToFormat(QImage::Format_BGR888);
    } else {
        path = Jpeg(picture.width(), picture.height(),
                    QStringLiteral("%1x%2.%3").arg(picture.width()).arg(picture.height()).arg(kind));
        working = JpegDecoder(ReadAll(path)).Decode(denom, false);
    }

    QImage bitmap;
    int imageWidth = -1;
    int imageHeight = -1;
    QString scale;
    ReadPicture(path, bitmap, box.width(), box.height(), imageWidth, imageHeight, scale);
    QCOMPARE(imageWidth, picture.width());
    QCOMPARE(imageHeight, picture.height());
    QCOMPARE(bitmap.size(), expectedSize);
    QCOMPARE(bitmap.format(), QImage::Format_BGR888);
    QCOMPARE(scale, expectedScale);

    // The same bytes as the working bitmap shrunk in one piece.
    QImage expected = working;
    if (working.size() != expectedSize) {
        expected = QImage(expectedSize, QImage::Format_BGR888);
        BilinearResize(working, expected);
    }
    QVERIFY(bitmap == expected);
}

void tst_PictureLoader::readIcon()
{
    const QString path = CorpusDir() + "/ico/pillow/hopper.ico";
    if (!QFile::exists(path))
        QSKIP("no corpus");
    const QImage icon = DecodeIco(ReadAll(path));
    QImage bitmap;
    int width = 0;
    int height = 0;
    QString scale;
    ReadPicture(path, bitmap, 1000, 1000, width, height, scale);
    QCOMPARE(QSize(width, height), icon.size());
    QVERIFY(bitmap == icon.convertToFormat(QImage::Format_BGR888));
    QCOMPARE(scale, QStringLiteral("100%"));

    QCOMPARE(icon.width() % 2, 0);
    ReadPicture(path, bitmap, icon.width() / 2, icon.height(), width, height, scale);
    QCOMPARE(bitmap.width(), icon.width() / 2);
    QCOMPARE(scale, QStringLiteral("50%"));
}

void tst_PictureLoader::boxWithoutRoomGivesNothing_data()
{
    QTest::addColumn<QSize>("box");
    QTest::newRow("zero width") << QSize(0, 600);
    QTest::newRow("zero height") << QSize(600, 0);
    QTest::newRow("negative") << QSize(-6, -6);
}

void tst_PictureLoader::boxWithoutRoomGivesNothing()
{
    // A window of 6 pixels or less leaves no box: nothing to show, no error.
    QFETCH(QSize, box);
    QImage bitmap(10, 10, QImage::Format_BGR888);
    int width = 0;
    int height = 0;
    QString scale;
    ReadPicture(Jpeg(320, 240), bitmap, box.width(), box.height(), width, height, scale);
    QVERIFY(bitmap.isNull());
    QCOMPARE(QSize(width, height), QSize(320, 240));
    QCOMPARE(scale, QStringLiteral("0%"));
}

void tst_PictureLoader::failureResetsSizeOnly()
{
    QImage bitmap;
    int width = 0;
    int height = 0;
    QString scale;
    ReadPicture(Jpeg(320, 240), bitmap, 100, 100, width, height, scale);
    const QImage shown = bitmap;

    // Unreadable: the size is unknown again, the rest is the caller's.
    QVERIFY_THROWS_EXCEPTION(AppError, ReadPicture(FDir.filePath("gone.jpg"), bitmap, 100, 100, width, height, scale));
    QCOMPARE(QSize(width, height), QSize(0, 0));
    QVERIFY(bitmap == shown);
    QCOMPARE(scale, QStringLiteral("31%"));

    // Damaged after the header (the second scan of the progressive file
    // has impossible parameters): the size from the header stays.
    QByteArray damaged = ReadAll(Jpeg(320, 240));
    const qsizetype sos = damaged.indexOf("\xFF\xDA", damaged.indexOf("\xFF\xDA") + 2);
    QVERIFY(sos > 0);
    QCOMPARE(int(damaged[sos + 4]), 1);   // one component
    damaged[sos + 7] = char(63);          // spectral start after its end
    damaged[sos + 8] = char(1);
    const QString path = FDir.filePath("damaged.jpg");
    WriteFile(path, damaged);
    QVERIFY_THROWS_EXCEPTION(AppError, ReadPicture(path, bitmap, 100, 100, width, height, scale));
    QCOMPARE(QSize(width, height), QSize(320, 240));
}

void tst_PictureLoader::orientationTurnsThePicture_data()
{
    QTest::addColumn<int>("orientation");
    for (int n = 1; n <= 8; ++n)
        QTest::addRow("tag %d", n) << n;
}

void tst_PictureLoader::orientationTurnsThePicture()
{
    QFETCH(int, orientation);
    const QByteArray plain = EncodeJpeg(DetailedPicture(300, 200), 90);
    const QString plainFile = FDir.filePath(QStringLiteral("plain.jpg"));
    const QString taggedFile = FDir.filePath(QStringLiteral("tagged-%1.jpg").arg(orientation));
    WriteFile(plainFile, plain);
    WriteFile(taggedFile, Tagged(plain, orientation));
    const bool swaps = orientation >= 5;
    const QSize shown = swaps ? QSize(200, 300) : QSize(300, 200);

    // The viewer: the turned picture fitted into the box, the same pixels as
    // the stored one fitted and then turned. 1/2 covers neither box.
    for (const QSize box : {QSize(1000, 1000), QSize(120, 100)}) {
        QImage stored, turned;
        int w = 0, h = 0;
        QString scale;
        const QSize storedBox = swaps ? box.transposed() : box;
        ReadPicture(plainFile, stored, storedBox.width(), storedBox.height(), w, h, scale);
        ReadPicture(taggedFile, turned, box.width(), box.height(), w, h, scale);
        QCOMPARE(QSize(w, h), shown);
        QCOMPARE(turned, OrientedImage(stored, orientation));
    }
    // Thumbnails and gallery photos are made from the turned picture.
    QImage thumb;
    LoadFittedBitmap(taggedFile, thumb, 120, 120, false);
    QCOMPARE(thumb.size(), swaps ? QSize(80, 120) : QSize(120, 80));

    // Turned off, the tag is ignored: the stored picture as it is.
    SetTurnByOrientation(false);
    QImage off, stored;
    int w = 0, h = 0;
    QString scale;
    ReadPicture(taggedFile, off, 1000, 1000, w, h, scale);
    SetTurnByOrientation(true);
    ReadPicture(plainFile, stored, 1000, 1000, w, h, scale);
    QCOMPARE(QSize(w, h), QSize(300, 200));
    QCOMPARE(off, stored);
}

void tst_PictureLoader::colourProfileGivesSrgb()
{
    const QByteArray plain = EncodeJpeg(DetailedPicture(300, 200), 90);
    QByteArray broken = RgbProfile();
    broken[3] = char(broken[3] + 1);    // its size field no longer fits
    const struct
    {
        const char *name;
        QByteArray profile;
        bool converted;
    } rows[] = {{"wide", RgbProfile(), true},
                {"srgb", SrgbProfile(), false},
                {"broken", broken, false}};
    const QString plainFile = FDir.filePath(QStringLiteral("plain.jpg"));
    WriteFile(plainFile, plain);
    for (const auto &row : rows) {
        const QString file = FDir.filePath(QStringLiteral("%1.jpg").arg(row.name));
        WriteFile(file, WithProfile(plain, row.profile));
        // A box the picture fits (decoded as it is) and one it is scaled into.
        for (const QSize box : {QSize(1000, 1000), QSize(120, 100)}) {
            QImage stored, shown;
            int w = 0, h = 0;
            QString scale;
            ReadPicture(plainFile, stored, box.width(), box.height(), w, h, scale);
            ReadPicture(file, shown, box.width(), box.height(), w, h, scale);
            QImage expected = stored;
            if (row.converted) {
                QVERIFY(ConvertToSrgb(expected, row.profile));
                QVERIFY2(expected != stored, row.name);
            }
            QVERIFY2(shown == expected, row.name);
        }
    }
}

void tst_PictureLoader::cmykThroughItsProfile()
{
    if (!HaveCorpus())
        QSKIP("no corpus");
    // Adobe's inverted inks, with a CMYK printer profile spliced in.
    const QByteArray cmyk = ReadAll(CorpusDir() + "/jpeg/pillow/pil_sample_cmyk.jpg");
    const QByteArray profile = ReadAll(CorpusDir() + "/jpeg/libjpeg-turbo/test1.icc");
    QVERIFY(!cmyk.isEmpty() && !profile.isEmpty());
    const QString plainFile = FDir.filePath(QStringLiteral("cmyk.jpg"));
    const QString taggedFile = FDir.filePath(QStringLiteral("cmyk-tagged.jpg"));
    WriteFile(plainFile, cmyk);
    WriteFile(taggedFile, WithProfile(cmyk, profile));

    int width = 0, height = 0;
    const QByteArray inks = RawInks(cmyk, width, height);
    QImage expected(width, height, QImage::Format_BGR888);
    cmsHPROFILE in = cmsOpenProfileFromMem(profile.constData(), cmsUInt32Number(profile.size()));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM t = cmsCreateTransform(in, TYPE_CMYK_8_REV, srgb, TYPE_BGR_8, INTENT_PERCEPTUAL, 0);
    for (int y = 0; y < height; ++y)
        cmsDoTransform(t, inks.constData() + y * width * 4, expected.scanLine(y), cmsUInt32Number(width));
    cmsDeleteTransform(t);
    cmsCloseProfile(srgb);
    cmsCloseProfile(in);

    QImage plain, shown;
    int w = 0, h = 0;
    QString scale;
    ReadPicture(taggedFile, shown, 4000, 4000, w, h, scale);
    QCOMPARE(shown, expected);
    // Without the profile the program's own conversion stays.
    ReadPicture(plainFile, plain, 4000, 4000, w, h, scale);
    QVERIFY(plain != shown);
}

// A JPEG decoded and scaled in bands on several threads is the JPEG decoded
// in one piece, whatever its sampling, restart markers, size or scale.
void tst_PictureLoader::bandsGiveTheSameBytes()
{
    if (!HaveCorpus())
        QSKIP("no corpus");
    QStringList files;
    for (const char *folder : {"jpeg/libjpeg-turbo", "jpeg/pillow", "jpeg/imagetestsuite"})
        for (const QString &name : QDir(CorpusDir() + '/' + folder).entryList({"*.jpg", "*.jpeg"}, QDir::Files))
            files << CorpusDir() + '/' + QLatin1String(folder) + '/' + name;
    const QStringList photos = QDir(PhotosDir() + "/24mp").entryList({"*.jpg"}, QDir::Files, QDir::Name);
    if (!photos.isEmpty())
        files << PhotosDir() + "/24mp/" + photos.first();
    int banded = 0;
    for (const QString &file : files) {
        std::optional<TPicture> picture;
        try {
            picture.emplace(TPicture::Load(file));
        } catch (const AppError &) {
            continue;
        }
        for (const int denom : {1, 2, 8}) {
            const QSize scaled = picture->JpegScaledSize(denom);
            for (const QSize box : {QSize(97, 61), scaled / 3 * 2}) {
                const QSize size = FitSize(scaled.width(), scaled.height(), box.width(), box.height());
                QImage whole;
                try {
                    whole = picture->ToBilinearBitmap(size, denom, false, 1);
                } catch (const AppError &) {
                    continue;   // a file too damaged to decode
                }
                for (const int bands : {2, 3})
                    QVERIFY2(picture->ToBilinearBitmap(size, denom, false, bands) == whole,
                             qPrintable(QString("%1 at 1/%2, %3 bands").arg(file).arg(denom).arg(bands)));
                ++banded;
            }
        }
    }
    QVERIFY(banded > 100);
}

QTEST_MAIN(tst_PictureLoader)
#include "tst_PictureLoader.moc"
