// Local
#include "PictureFormats.h"

// Qt
#include <QtTest>

// The texts each place showed before they were built from one table: a row
// added to the table must not change what an existing place offers.
class tst_PictureFormats : public QObject
{
    Q_OBJECT

private slots:
    void filterTexts_data();
    void filterTexts();
    void extensions_data();
    void extensions();
    void allFormats_data();
    void allFormats();
};

void tst_PictureFormats::filterTexts_data()
{
    QTest::addColumn<QString>("built");
    QTest::addColumn<QString>("expected");
    QTest::newRow("folder list") << FolderListExtensions() << "bmp:jpg:jpeg:wmf:emf:ico";
    QTest::newRow("open dialog") << OpenDialogFilter() << "Image Files|*.jpeg;*.jpg;*.bmp;*.tif;*.tiff|All Files|*.*";
    QTest::newRow("gallery dialog")
        << GalleryPhotoFilter()
        << "All (*.jpg;*.jpeg;*.bmp)|*.jpg;*.jpeg;*.bmp|JPEG Image File (*.jpg)|*.jpg|"
           "JPEG Image File (*.jpeg)|*.jpeg|Bitmaps (*.bmp)|*.bmp";
}

void tst_PictureFormats::filterTexts()
{
    QFETCH(QString, built);
    QFETCH(QString, expected);
    QCOMPARE(built, expected);
}

void tst_PictureFormats::extensions_data()
{
    QTest::addColumn<QString>("extension");
    QTest::addColumn<PictureDecoder>("decoder");
    QTest::addColumn<bool>("galleryPhoto");
    QTest::newRow("BMP") << "BMP" << PictureDecoder::Bitmap << true;
    QTest::newRow("Jpeg") << "Jpeg" << PictureDecoder::Jpeg << true;
    QTest::newRow("jpg") << "jpg" << PictureDecoder::Jpeg << true;
    QTest::newRow("wmf") << "wmf" << PictureDecoder::Wmf << false;
    QTest::newRow("EMF") << "EMF" << PictureDecoder::Emf << false;
    QTest::newRow("ico") << "ico" << PictureDecoder::Icon << false;
    QTest::newRow("tif: offered, not read") << "tif" << PictureDecoder::None << false;
    QTest::newRow("part of one") << "jp" << PictureDecoder::None << false;
    QTest::newRow("empty") << "" << PictureDecoder::None << false;
}

void tst_PictureFormats::extensions()
{
    QFETCH(QString, extension);
    QFETCH(PictureDecoder, decoder);
    QFETCH(bool, galleryPhoto);
    QCOMPARE(DecoderForExtension(extension), decoder);
    QCOMPARE(IsGalleryPhotoExtension(extension), galleryPhoto);
}

void tst_PictureFormats::allFormats_data()
{
    QTest::addColumn<int>("place");
    QTest::addColumn<QString>("expected");
    QTest::newRow("folder list") << 0 << "bmp:jpg:jpeg:wmf:emf:ico:png:gif:webp:tif:tiff:avif:heif:heic";
    QTest::newRow("open dialog")
        << 1 << "Image Files|*.jpeg;*.jpg;*.bmp;*.tif;*.tiff;*.png;*.gif;*.webp;*.avif;*.heif;*.heic|All Files|*.*";
    QTest::newRow("gallery dialog")
        << 2
        << "All (*.jpg;*.jpeg;*.bmp;*.png;*.gif;*.webp;*.tif;*.tiff;*.avif;*.heif;*.heic)|"
           "*.jpg;*.jpeg;*.bmp;*.png;*.gif;*.webp;*.tif;*.tiff;*.avif;*.heif;*.heic|"
           "JPEG Image File (*.jpg)|*.jpg|JPEG Image File (*.jpeg)|*.jpeg|Bitmaps (*.bmp)|*.bmp|"
           "PNG Image (*.png)|*.png|GIF Image (*.gif)|*.gif|WebP Image (*.webp)|*.webp|"
           "TIFF Image (*.tif)|*.tif|TIFF Image (*.tiff)|*.tiff|AVIF Image (*.avif)|*.avif|"
           "HEIF Image (*.heif)|*.heif|HEIF Image (*.heic)|*.heic";
}

// With the option on, every list adds the formats; turned off again, each
// is as before (filterTexts).
void tst_PictureFormats::allFormats()
{
    QFETCH(int, place);
    QFETCH(QString, expected);
    const auto built = [place] {
        return place == 0 ? FolderListExtensions() : place == 1 ? OpenDialogFilter() : GalleryPhotoFilter();
    };
    const QString before = built();
    SetAllPictureFormats(true);
    const QString on = built();
    const bool decodesTiff = DecoderForExtension(QStringLiteral("TIFF")) == PictureDecoder::Other;
    const bool galleryHeic = IsGalleryPhotoExtension(QStringLiteral("heic"));
    const bool copiesHeic = GalleryCopiesPhoto(QStringLiteral("heic"));
    SetAllPictureFormats(false);
    QCOMPARE(on, expected);
    QVERIFY(decodesTiff);
    QVERIFY(galleryHeic);
    QVERIFY(!copiesHeic);
    QCOMPARE(built(), before);
    QCOMPARE(DecoderForExtension(QStringLiteral("TIFF")), PictureDecoder::None);
    QVERIFY(GalleryCopiesPhoto(QStringLiteral("heic")));
}

QTEST_GUILESS_MAIN(tst_PictureFormats)
#include "tst_PictureFormats.moc"
