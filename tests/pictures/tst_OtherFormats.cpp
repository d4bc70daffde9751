// Local
#include "AppError.h"
#include "OtherPictures.h"
#include "PictureFormats.h"
#include "PictureLoader.h"
#include "TestFiles.h"

// Qt
#include <QTemporaryDir>
#include <QtTest>

// Std
#include <functional>

namespace {

using Patch = std::function<bool(QByteArray &)>;

quint32 Crc32(const QByteArray &data)
{
    quint32 crc = 0xFFFFFFFF;
    for (const char byte : data) {
        crc ^= uchar(byte);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

void PutU32Be(QByteArray &data, qsizetype at, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        data[at + i] = char(value >> (24 - 8 * i));
}

// Each patch makes the header claim a picture far over the bitmap cap.
bool BigPng(QByteArray &png)
{
    PutU32Be(png, 16, 60000);
    PutU32Be(png, 20, 60000);
    PutU32Be(png, 29, Crc32(png.mid(12, 17)));
    return true;
}

bool BigGif(QByteArray &gif)
{
    // The screen and the first frame (its descriptor follows the 4-colour
    // table and the frame's control block).
    for (const qsizetype at : {6, 8, 13 + 12 + 8 + 5, 13 + 12 + 8 + 7}) {
        gif[at] = char(0x60);
        gif[at + 1] = char(0xEA);
    }
    return true;
}

bool BigWebp(QByteArray &webp)
{
    if (webp.mid(12, 4) != "VP8L")
        return false;
    // 14 bits each of width - 1 and height - 1: 16384 x 16384.
    webp[21] = char(0xFF);
    webp[22] = char(0xFF);
    webp[23] = char(0xFF);
    webp[24] = char((uchar(webp[24]) & 0xF0) | 0x0F);
    return true;
}

bool BigTiff(QByteArray &tiff)
{
    if (!tiff.startsWith("II*"))
        return false;
    auto u16 = [&](qsizetype at) { return uchar(tiff[at]) | uchar(tiff[at + 1]) << 8; };
    const qsizetype ifd = qsizetype(u16(4) | u16(6) << 16);
    int patched = 0;
    for (int i = 0; i < u16(ifd); ++i) {
        const qsizetype entry = ifd + 2 + 12 * i;
        if (u16(entry) == 256 || u16(entry) == 257) {
            tiff[entry + 8] = char(0x30);   // 30000, as a short or a long
            tiff[entry + 9] = char(0x75);
            ++patched;
        }
    }
    return patched == 2;
}

// AVIF and HEIF: every ispe property (libheif writes one for the coded
// picture and one for the picture shown). 15000 x 15000 stays within the
// 256 megapixels libavif reads a header of.
bool BigIspe(QByteArray &file)
{
    qsizetype at = file.indexOf("ispe");
    if (at < 0)
        return false;
    for (; at >= 0 && at + 16 <= file.size(); at = file.indexOf("ispe", at + 4)) {
        PutU32Be(file, at + 8, 15000);
        PutU32Be(file, at + 12, 15000);
    }
    return true;
}

struct Format
{
    const char *Extension;
    QByteArray Reader;
    int Tolerance;   // lossy formats come back near the colours
    bool CutShows;   // a cut file shows the rows it has, as a cut bitmap does
    bool (*MakeBig)(QByteArray &);
    const char *BigSize;
};

const Format kFormats[] = {
    {"png", "png", 0, false, BigPng, "60000 x 60000"},
    {"GIF", "gif", 0, true, BigGif, "60000 x 60000"},
    {"webp", "webp", 0, false, BigWebp, "16384 x 16384"},
    {"tif", "tiff", 0, false, BigTiff, "30000 x 30000"},
    {"tiff", "tiff", 0, false, BigTiff, "30000 x 30000"},
    {"avif", "avif", 24, false, BigIspe, "15000 x 15000"},
    {"heic", "heif", 24, false, BigIspe, "15000 x 15000"},
    {"heif", "heif", 24, false, BigIspe, "15000 x 15000"},
};

QString LoadError(const QString &fileName)
{
    try {
        TPicture::Load(fileName);
    } catch (const AppError &e) {
        return e.message();
    }
    return QStringLiteral("(loaded)");
}

} // namespace

class tst_OtherFormats : public QObject
{
    Q_OBJECT

private slots:
    void init() { SetAllPictureFormats(true); }
    void cleanup() { SetAllPictureFormats(false); }
    void shownAsBitmapsAre_data();
    void shownAsBitmapsAre();
    void brokenFiles_data();
    void brokenFiles();
    void animatedGifShowsFirstFrame();
    void avifTurnedAsItAsks();

private:
    // The file of format row's picture, or a skip when no encoder exists.
    QString Write(const Format &format, const QImage &picture, const Patch &patch = {});
    QTemporaryDir FTemp;
};

QString tst_OtherFormats::Write(const Format &format, const QImage &picture, const Patch &patch)
{
    QByteArray file = OtherPictures::Encode(picture, format.Reader);
    if (file.isEmpty() || (patch && !patch(file)))
        return {};
    const QString path = FTemp.filePath(QStringLiteral("picture.") + QLatin1String(format.Extension));
    WriteFile(path, file);
    return path;
}

void tst_OtherFormats::shownAsBitmapsAre_data()
{
    QTest::addColumn<int>("row");
    for (int i = 0; i < int(std::size(kFormats)); ++i)
        QTest::newRow(kFormats[i].Extension) << i;
}

// Shown only with the option on; then loaded, fitted and scaled exactly as
// a bitmap of the same pixels (lossy formats: near them).
void tst_OtherFormats::shownAsBitmapsAre()
{
    QFETCH(int, row);
    const Format &format = kFormats[row];
    const QImage picture = OtherPictures::FourBlocks(64, 48);
    const QString path = Write(format, picture);
    if (path.isEmpty())
        QSKIP("No encoder for this format is installed");
    const QString bmp = FTemp.filePath(QStringLiteral("same.bmp"));
    QVERIFY(picture.save(bmp, "BMP"));

    const TPicture loaded = TPicture::Load(path);
    QCOMPARE(QSize(loaded.Width(), loaded.Height()), QSize(64, 48));
    const QImage bitmap = loaded.ToBitmap();
    QCOMPARE(bitmap.format(), QImage::Format_BGR888);
    for (const QPoint &p : {QPoint(10, 10), QPoint(50, 10), QPoint(10, 40), QPoint(50, 40)}) {
        const QRgb got = bitmap.pixel(p);
        const QRgb want = picture.pixel(p);
        QVERIFY2(qAbs(qRed(got) - qRed(want)) <= format.Tolerance && qAbs(qGreen(got) - qGreen(want)) <= format.Tolerance
                     && qAbs(qBlue(got) - qBlue(want)) <= format.Tolerance,
                 qPrintable(QStringLiteral("%1,%2: %3").arg(p.x()).arg(p.y()).arg(got, 0, 16)));
    }

    QImage shown, shownBmp;
    int width = 0, height = 0, widthBmp = 0, heightBmp = 0;
    QString scale, scaleBmp;
    ReadPicture(path, shown, 40, 40, width, height, scale);
    ReadPicture(bmp, shownBmp, 40, 40, widthBmp, heightBmp, scaleBmp);
    QCOMPARE(shown.size(), shownBmp.size());
    QCOMPARE(scale, scaleBmp);
    if (format.Tolerance == 0)
        QCOMPARE(shown, shownBmp);

    SetAllPictureFormats(false);
    QCOMPARE(LoadError(path), QStringLiteral("Unknown picture file extension (.%1)").arg(format.Extension));
}

void tst_OtherFormats::brokenFiles_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("oversize");
    for (int i = 0; i < int(std::size(kFormats)); ++i) {
        QTest::addRow("%s cut short", kFormats[i].Extension) << i << false;
        QTest::addRow("%s oversize", kFormats[i].Extension) << i << true;
    }
}

// A cut file fails with the format's text; a header claiming a picture over
// the cap is refused before the decoder allocates it.
void tst_OtherFormats::brokenFiles()
{
    QFETCH(int, row);
    QFETCH(bool, oversize);
    const Format &format = kFormats[row];
    const QImage picture = OtherPictures::FourBlocks(64, 48);
    const Patch cut = [](QByteArray &file) {
        file.truncate(file.size() / 3);
        return true;
    };
    const QString path = Write(format, picture, oversize ? Patch(format.MakeBig) : cut);
    if (path.isEmpty())
        QSKIP("No encoder for this format is installed");
    if (!oversize && format.CutShows) {
        const QImage shown = TPicture::Load(path).ToBitmap();
        QCOMPARE(shown.size(), QSize(64, 48));
        QCOMPARE(shown.pixel(0, 0), qRgb(255, 0, 0));
        return;
    }
    const QString name = QString::fromLatin1(format.Reader == "webp" ? "WebP" : format.Reader.toUpper());
    QCOMPARE(LoadError(path), oversize ? QStringLiteral("The picture is too large (%1 pixels)").arg(format.BigSize)
                                       : name + QStringLiteral(" image is not valid"));
}

void tst_OtherFormats::animatedGifShowsFirstFrame()
{
    QImage red(8, 8, QImage::Format_RGB32);
    red.fill(qRgb(255, 0, 0));
    QImage blue(8, 8, QImage::Format_RGB32);
    blue.fill(qRgb(0, 0, 255));
    const QString path = FTemp.filePath(QStringLiteral("moving.gif"));
    WriteFile(path, OtherPictures::Gif({red, blue}));
    QCOMPARE(TPicture::Load(path).ToBitmap().pixel(4, 4), qRgb(255, 0, 0));
}

void tst_OtherFormats::avifTurnedAsItAsks()
{
    const QByteArray file = OtherPictures::Avif(OtherPictures::FourBlocks(64, 48), 1);
    if (file.isEmpty())
        QSKIP("No AVIF encoder is installed");
    const QString path = FTemp.filePath(QStringLiteral("turned.avif"));
    WriteFile(path, file);
    const TPicture picture = TPicture::Load(path);
    QCOMPARE(QSize(picture.Width(), picture.Height()), QSize(48, 64));
    // A quarter turn anticlockwise brings the green top right to the top left.
    const QRgb topLeft = picture.ToBitmap().pixel(8, 8);
    QVERIFY2(qGreen(topLeft) > 200 && qRed(topLeft) < 60 && qBlue(topLeft) < 60, qPrintable(QString::number(topLeft, 16)));
}

QTEST_GUILESS_MAIN(tst_OtherFormats)
#include "tst_OtherFormats.moc"
