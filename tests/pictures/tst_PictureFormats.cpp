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

QTEST_GUILESS_MAIN(tst_PictureFormats)
#include "tst_PictureFormats.moc"
