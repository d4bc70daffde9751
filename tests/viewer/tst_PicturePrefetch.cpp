// Local
#include "JpegCodec.h"
#include "PicList.h"
#include "PictureLoader.h"
#include "PicturePrefetch.h"
#include "TestFiles.h"
#include "TestPaths.h"

// Qt
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

// Std
#include <utime.h>

namespace {

void CompareShown(const TShownPicture &got, const TShownPicture &expected)
{
    QCOMPARE(got.Scale, expected.Scale);
    QCOMPARE(got.Width, expected.Width);
    QCOMPARE(got.Height, expected.Height);
    QCOMPARE(got.Bitmap, expected.Bitmap);
    QCOMPARE(got.Paint, expected.Paint);
    QCOMPARE(got.Bitmap.devicePixelRatio(), expected.Bitmap.devicePixelRatio());
}

} // namespace

class tst_PicturePrefetch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sameAsReadHere_data();
    void sameAsReadHere();
    void takenWhileRead();
    void invalidated();
    void keepsTwoWithinBudget();
    void pictureAreaStepsWithoutReading();

private:
    QString Photo(int index, int width = 1200, int height = 600);
    QTemporaryDir FDir;
};

void tst_PicturePrefetch::initTestCase()
{
    QVERIFY(FDir.isValid());
}

QString tst_PicturePrefetch::Photo(int index, int width, int height)
{
    const QString path = FDir.filePath(QStringLiteral("p%1.jpg").arg(index, 2, 10, QLatin1Char('0')));
    if (!QFile::exists(path))
        SaveJpeg(DetailedPicture(width + index, height), path, 80);
    return path;
}

// Whatever a file holds, the worker's picture is the one the picture area
// would read itself: bitmap, sizes, scale or error text.
void tst_PicturePrefetch::sameAsReadHere_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("prefetched");

    const QString corpus = CorpusDir();
    QTest::newRow("jpeg, tagged") << corpus + "/jpeg/pillow/pil_sample_rgb.jpg" << true;
    QTest::newRow("jpeg, turned") << corpus + "/jpeg/pillow/hopper_orientation_6.jpg" << true;
    QTest::newRow("bitmap, profile") << corpus + "/bmp/bmpsuite/q/rgb24prof2.bmp" << true;
    QTest::newRow("bitmap, broken") << corpus + "/bmp/bmpsuite/b/badbitcount.bmp" << true;
    QTest::newRow("icon") << corpus + "/ico/image-rs/images/bmp-32bpp-alpha.ico" << true;
    QTest::newRow("missing") << corpus + "/jpeg/none.jpg" << true;
    QTest::newRow("metafile") << corpus + "/wmf/good/" << false;
}

void tst_PicturePrefetch::sameAsReadHere()
{
    QFETCH(QString, file);
    QFETCH(bool, prefetched);
    if (!HaveCorpus())
        QSKIP("no corpus");
    if (file.endsWith('/')) {
        const QStringList metafiles = QDir(file).entryList({"*.wmf"}, QDir::Files, QDir::Name);
        QVERIFY(!metafiles.isEmpty());
        file += metafiles.first();
    }
    QCOMPARE(CanPrefetch(file), prefetched);
    if (!prefetched)
        return;
    for (const qreal ratio : {1.0, 2.0}) {
        const TShowRequest request{file, QSize(150, 90), ratio};
        TPicturePrefetch prefetch;
        prefetch.Want({request});
        QTRY_COMPARE(prefetch.KeptCount(), 1);
        const std::optional<TShownPicture> got = prefetch.Take(request);
        QVERIFY(got.has_value() == QFile::exists(file));
        if (got)
            CompareShown(*got, ReadShownPicture(request));
        QVERIFY(!prefetch.Take(request));  // handed over, not kept
    }
}

// A picture asked for while the worker reads it is that read's, not a second.
void tst_PicturePrefetch::takenWhileRead()
{
    const QStringList photos = QDir(PhotosDir() + "/24mp").entryList({"*.jpg"}, QDir::Files, QDir::Name);
    if (photos.isEmpty())
        QSKIP("no photos");
    const TShowRequest request{PhotosDir() + "/24mp/" + photos.first(), QSize(1594, 994), 1};
    TPicturePrefetch prefetch;
    prefetch.Want({request});
    while (!prefetch.IsReading() && prefetch.ReadCount() == 0) {
    }
    const std::optional<TShownPicture> got = prefetch.Take(request);
    QVERIFY(got);
    QCOMPARE(prefetch.ReadCount(), 1);
    QCOMPARE(got->Bitmap.size(), QSize(1491, 994));
}

void tst_PicturePrefetch::invalidated()
{
    const TShowRequest request{Photo(1), QSize(300, 200), 1};
    const auto ready = [&](TPicturePrefetch &prefetch) {
        prefetch.Want({request});
        QTRY_COMPARE(prefetch.KeptCount(), 1);
    };
    TPicturePrefetch prefetch;
    // Another box or ratio is another picture.
    ready(prefetch);
    QVERIFY(!prefetch.Take({request.File, QSize(301, 200), 1}));
    QVERIFY(!prefetch.Take({request.File, request.Box, 2}));
    QVERIFY(prefetch.Take(request));
    // The file changed since it was read: its modification time alone.
    ready(prefetch);
    const utimbuf past{1000000000, 1000000000};
    QCOMPARE(utime(QFile::encodeName(request.File).constData(), &past), 0);
    QVERIFY(!prefetch.Take(request));
    // The orientation setting changed.
    ready(prefetch);
    SetTurnByOrientation(false);
    QVERIFY(!prefetch.Take(request));
    SetTurnByOrientation(true);
    // Dropped, cleared, no longer wanted.
    ready(prefetch);
    prefetch.Drop(request.File);
    QVERIFY(!prefetch.Take(request));
    ready(prefetch);
    prefetch.Clear();
    QVERIFY(!prefetch.Take(request));
    ready(prefetch);
    prefetch.Want({});
    QCOMPARE(prefetch.KeptCount(), 0);
}

void tst_PicturePrefetch::keepsTwoWithinBudget()
{
    QList<TShowRequest> three;
    for (int i = 0; i < 3; ++i)
        three.append({Photo(i), QSize(300, 200), 1});
    const TShownPicture first = ReadShownPicture(three[0]);
    const qint64 one = first.Bitmap.sizeInBytes() + first.Paint.sizeInBytes();
    {
        TPicturePrefetch prefetch;
        prefetch.Want(three);
        QTRY_COMPARE(prefetch.ReadCount(), 3);
        QCOMPARE(prefetch.KeptCount(), 2);
        // The least wanted one went.
        QVERIFY(prefetch.Take(three[0]));
        QVERIFY(prefetch.Take(three[1]));
    }
    {
        TPicturePrefetch prefetch(one + one / 2);
        prefetch.Want(three);
        QTRY_COMPARE(prefetch.ReadCount(), 3);
        QCOMPARE(prefetch.KeptCount(), 1);
        QVERIFY(prefetch.KeptBytes() <= one + one / 2);
    }
    QVERIFY(DefaultPrefetchBudget() <= qint64(256) * 1024 * 1024);
    QVERIFY(DefaultPrefetchBudget() > 0);
}

// Through the real picture area: after a step the neighbour in the direction
// of travel is read while the program is idle, and the next step shows it
// without reading: the same pixels and texts, one change notification.
void tst_PicturePrefetch::pictureAreaStepsWithoutReading()
{
    for (int i = 0; i < 5; ++i)
        Photo(i);
    TPicList list;
    int changes = 0;
    list.OnChange = [&](TPicList *) { ++changes; };
    list.resize(406, 306);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    list.OpenFolder(FDir.path(), Photo(2));
    QTRY_COMPARE(list.Prefetch().KeptCount(), 2);

    for (const bool forward : {true, false}) {
        changes = 0;
        const int reads = list.Prefetch().ReadCount();
        const int from = list.ItemIndex();
        forward ? list.Next() : list.Prev();
        QCOMPARE(changes, 1);
        QCOMPARE(list.Prefetch().ReadCount(), reads);   // nothing read for the step itself
        const TShownPicture expected = ReadShownPicture({list.FileNames(from + (forward ? 1 : -1)),
                                                         QSize(400, 300), list.devicePixelRatioF()});
        QCOMPARE(list.DisplayBitmap(), expected.Bitmap);
        QCOMPARE(list.ImageScale(), expected.Scale);
        QCOMPARE(list.ImageWidth(), expected.Width);
        QTRY_COMPARE(list.Prefetch().KeptCount(), 2);
    }

    // A new size makes the kept pictures useless: they are read again.
    list.resize(506, 306);
    QTRY_COMPARE(list.Prefetch().KeptCount(), 2);
    const int reads = list.Prefetch().ReadCount();
    list.Prev();
    QCOMPARE(list.Prefetch().ReadCount(), reads);
    QCOMPARE(list.DisplayBitmap().width(), 500);
    // Minimized or hidden, nothing is read ahead.
    list.showMinimized();
    QTRY_COMPARE(list.Prefetch().KeptCount(), 0);
    list.showNormal();
    QTRY_COMPARE(list.Prefetch().KeptCount(), 2);
    list.hide();
    QCOMPARE(list.Prefetch().KeptCount(), 0);
}

QTEST_MAIN(tst_PicturePrefetch)
#include "tst_PicturePrefetch.moc"
