// Local
#include "JpegCodec.h"
#include "OtherPictures.h"
#include "PicList.h"
#include "PictureFormats.h"
#include "TestFiles.h"

// Qt
#include <QClipboard>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QtTest>

// Colour of pictures made by the tests: red carries the column, so a pixel
// read from the screen tells which picture column it shows.
static QImage gradient(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb(x % 256, 200, 100));
    return image;
}

static void writeBmp(const QString &path, int w, int h)
{
    QVERIFY(gradient(w, h).save(path, "BMP"));
}

// A picture list shown in a window with a client area of the given size,
// counting its OnChange calls.
struct Shown
{
    TPicList list;
    int changes = 0;

    explicit Shown(QSize client = QSize(806, 606))
    {
        list.OnChange = [this](TPicList *) { ++changes; };
        list.resize(client);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        changes = 0;
    }
    QRgb pixel(int x, int y) { return list.grab().toImage().pixel(x, y); }
};

class tst_PicList : public QObject
{
    Q_OBJECT

private slots:
    void listingAndOrder();
    void openSelects_data();
    void openSelects();
    void missingFolder();
    void navigation_data();
    void navigation();
    void smallPictureCentredUnscaled();
    void widePictureFitted();
    void jpegDecodedAtReducedScale();
    void failureThenSuccess();
    void unknownExtensionShowsMessage();
    void paintEnableLoadsOnce();
    void removeCurrent_data();
    void removeCurrent();
    void largerBitmapIsCropped();
    void tinyAreaShowsNothing();
    void copyToClipboardFullSize();
    void otherFormatsWithTheOption();
};

void tst_PicList::listingAndOrder()
{
    QTemporaryDir dir;
    for (const char *name : {"b.JPG", "a.bmp", "c.txt", "d", "e.jp", "B.bmp", "A.jpg", ".hidden.bmp"})
        WriteFile(dir.filePath(name), "x");
    QVERIFY(QDir(dir.path()).mkdir("sub.bmp"));

    TPicList list;
    list.OpenFolder(dir.path(), QString());
    QStringList names;
    for (int i = 0; i < list.Count(); ++i)
        names << list.FileNames(i).mid(dir.path().size() + 1);
    // Case-insensitive order; names that differ only in case are both kept.
    QCOMPARE(names, (QStringList{"a.bmp", "A.jpg", "B.bmp", "b.JPG", "e.jp"}));
    QCOMPARE(list.ItemIndex(), 0);
}

void tst_PicList::openSelects_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<int>("expected");
    QTest::newRow("exact") << "c.bmp" << 2;
    QTest::newRow("other case") << "C.BMP" << 2;
    QTest::newRow("not a picture") << "notes.txt" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("other folder") << "/elsewhere/c.bmp" << 0;
}

void tst_PicList::openSelects()
{
    QFETCH(QString, fileName);
    QFETCH(int, expected);
    QTemporaryDir dir;
    for (const char *name : {"a.bmp", "b.bmp", "c.bmp", "notes.txt"})
        WriteFile(dir.filePath(name), "x");
    TPicList list;
    const QString full = fileName.isEmpty() || fileName.startsWith('/') ? fileName : dir.filePath(fileName);
    list.OpenFolder(dir.path(), full);
    QCOMPARE(list.ItemIndex(), expected);
}

void tst_PicList::missingFolder()
{
    Shown shown;
    shown.list.OpenFolder("/no/such/folder", QString());
    QCOMPARE(shown.list.Count(), 0);
    QCOMPARE(shown.list.ItemIndex(), -1);
    QCOMPARE(shown.changes, 1);
    QCOMPARE(shown.list.LoadCount(), 0);
}

void tst_PicList::navigation_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("expected");   // -2: nothing happens
    QTest::newRow("next") << 3 << "Next" << 4;
    QTest::newRow("next on last") << 7 << "Next" << -2;
    QTest::newRow("prev") << 3 << "Prev" << 2;
    QTest::newRow("prev on first") << 0 << "Prev" << -2;
    QTest::newRow("next10 from 3 of 8") << 3 << "Next10" << 7;
    QTest::newRow("next10 on last") << 7 << "Next10" << -2;
    QTest::newRow("next10 from N-3") << 5 << "Next10" << 7;
    QTest::newRow("prev10 from 4") << 4 << "Prev10" << 0;
    QTest::newRow("prev10 on first") << 0 << "Prev10" << -2;
    QTest::newRow("first") << 5 << "First" << 0;
    QTest::newRow("first on first") << 0 << "First" << -2;
    QTest::newRow("last") << 2 << "Last" << 7;
    QTest::newRow("last on last") << 7 << "Last" << -2;
}

void tst_PicList::navigation()
{
    QFETCH(int, start);
    QFETCH(QString, command);
    QFETCH(int, expected);
    QTemporaryDir dir;
    for (int i = 0; i < 8; ++i)
        writeBmp(dir.filePath(QString("p%1.bmp").arg(i)), 20, 10);
    Shown shown;
    shown.list.OpenFolder(dir.path(), dir.filePath(QString("p%1.bmp").arg(start)));
    QCOMPARE(shown.list.ItemIndex(), start);
    const int loads = shown.list.LoadCount();
    const int changes = shown.changes;

    using Command = void (TPicList::*)();
    const QMap<QString, Command> commands{
        {"Next", &TPicList::Next},     {"Prev", &TPicList::Prev},   {"Next10", &TPicList::Next10},
        {"Prev10", &TPicList::Prev10}, {"First", &TPicList::First}, {"Last", &TPicList::Last}};
    (shown.list.*commands.value(command))();

    if (expected == -2) {
        QCOMPARE(shown.list.ItemIndex(), start);
        QCOMPARE(shown.list.LoadCount(), loads);
        QCOMPARE(shown.changes, changes);
    } else {
        QCOMPARE(shown.list.ItemIndex(), expected);
        QCOMPARE(shown.list.LoadCount(), loads + 1);
        QCOMPARE(shown.changes, changes + 1);
    }
}

void tst_PicList::smallPictureCentredUnscaled()
{
    QTemporaryDir dir;
    writeBmp(dir.filePath("small.bmp"), 300, 200);
    Shown shown;
    shown.list.OpenFolder(dir.path(), QString());
    QCOMPARE(shown.list.ImageScale(), QString("100%"));
    QCOMPARE(shown.list.ImageWidth(), 300);
    QCOMPARE(shown.list.DisplayBitmap().size(), QSize(300, 200));
    // Left edge at (806 - 300) div 2 = 253, top at (606 - 200) div 2 = 203.
    QCOMPARE(qRed(shown.pixel(253, 203)), 0);
    QCOMPARE(qGreen(shown.pixel(253, 203)), 200);
    QCOMPARE(shown.pixel(252, 203), qRgb(0, 0, 0));
    QCOMPARE(shown.pixel(253, 202), qRgb(0, 0, 0));
    QCOMPARE(qRed(shown.pixel(253 + 299, 203 + 199)), 299 % 256);
    QCOMPARE(shown.pixel(253 + 300, 203), qRgb(0, 0, 0));
}

void tst_PicList::widePictureFitted()
{
    QTemporaryDir dir;
    writeBmp(dir.filePath("wide.bmp"), 1600, 400);
    Shown shown;
    shown.list.OpenFolder(dir.path(), QString());
    QCOMPARE(shown.list.DisplayBitmap().size(), QSize(800, 200));
    QCOMPARE(shown.list.ImageScale(), QString("50%"));
    QCOMPARE(shown.list.ImageHeight(), 400);
    // Vertical offset (606 - 200) div 2 = 203; horizontal (806 - 800) div 2 = 3.
    QCOMPARE(qGreen(shown.pixel(3, 203)), 200);
    QCOMPARE(shown.pixel(3, 202), qRgb(0, 0, 0));
    QCOMPARE(shown.pixel(2, 203), qRgb(0, 0, 0));
}

void tst_PicList::jpegDecodedAtReducedScale()
{
    QTemporaryDir dir;
    QImage photo(4000, 3000, QImage::Format_BGR888);
    photo.fill(QColor(40, 120, 200));
    SaveJpeg(photo, dir.filePath("photo.jpg"), 80);
    Shown shown;
    shown.list.OpenFolder(dir.path(), QString());
    QCOMPARE(shown.list.ImageWidth(), 4000);
    QCOMPARE(shown.list.ImageHeight(), 3000);
    QCOMPARE(shown.list.DisplayBitmap().size(), QSize(800, 600));
    QCOMPARE(shown.list.ImageScale(), QString("20%"));
}

void tst_PicList::failureThenSuccess()
{
    QTemporaryDir dir;
    WriteFile(dir.filePath("a-broken.bmp"), "this is not a bitmap");
    writeBmp(dir.filePath("b-good.bmp"), 30, 20);
    Shown shown;
    shown.list.OpenFolder(dir.path(), QString());
    QCOMPARE(shown.list.ImageScale(), QString("Bitmap image is not valid"));
    QCOMPARE(shown.list.ImageWidth(), 0);
    QVERIFY(shown.list.DisplayBitmap().isNull());
    QCOMPARE(shown.pixel(403, 303), qRgb(0, 0, 0));
    shown.list.Next();
    QCOMPARE(shown.list.ImageScale(), QString("100%"));
    QCOMPARE(shown.list.ImageWidth(), 30);
    shown.list.Prev();
    QCOMPARE(shown.list.ImageScale(), QString("Bitmap image is not valid"));
}

void tst_PicList::unknownExtensionShowsMessage()
{
    QTemporaryDir dir;
    WriteFile(dir.filePath("e.jp"), "x");
    Shown shown;
    shown.list.OpenFolder(dir.path(), QString());
    QCOMPARE(shown.list.ItemIndex(), 0);
    QCOMPARE(shown.list.ImageScale(), QString("Unknown picture file extension (.jp)"));
    QCOMPARE(shown.changes, 1);
}

void tst_PicList::paintEnableLoadsOnce()
{
    QTemporaryDir dir;
    writeBmp(dir.filePath("a.bmp"), 30, 20);
    Shown shown;
    shown.list.OpenFolder(dir.path(), QString());
    const int loads = shown.list.LoadCount();
    shown.list.SetPaintEnable(false);
    shown.list.resize(500, 400);
    shown.list.resize(300, 200);
    shown.list.resize(640, 480);
    QCoreApplication::processEvents();
    QCOMPARE(shown.list.LoadCount(), loads);
    shown.list.SetPaintEnable(true);
    QCOMPARE(shown.list.LoadCount(), loads + 1);
    // Writing true again updates once more.
    shown.list.SetPaintEnable(true);
    QCOMPARE(shown.list.LoadCount(), loads + 2);
}

void tst_PicList::removeCurrent_data()
{
    QTest::addColumn<int>("files");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("expected");
    QTest::addColumn<QString>("expectedName");
    QTest::newRow("middle") << 3 << 1 << 1 << "p2.bmp";
    QTest::newRow("last") << 3 << 2 << 1 << "p1.bmp";
    QTest::newRow("only") << 1 << 0 << -1 << "";
}

void tst_PicList::removeCurrent()
{
    QFETCH(int, files);
    QFETCH(int, start);
    QFETCH(int, expected);
    QFETCH(QString, expectedName);
    QTemporaryDir dir;
    for (int i = 0; i < files; ++i)
        writeBmp(dir.filePath(QString("p%1.bmp").arg(i)), 30, 20);
    Shown shown;
    shown.list.OpenFolder(dir.path(), dir.filePath(QString("p%1.bmp").arg(start)));
    const int changes = shown.changes;
    shown.list.RemoveCurrent();
    QCOMPARE(shown.list.Count(), files - 1);
    QCOMPARE(shown.list.ItemIndex(), expected);
    QCOMPARE(shown.changes, changes + 1);
    // The file itself is not touched.
    QVERIFY(QFile::exists(dir.filePath(QString("p%1.bmp").arg(start))));
    if (expected >= 0) {
        QCOMPARE(shown.list.FileNames(expected), dir.filePath(expectedName));
    } else {
        // An emptied list shows plain black.
        QVERIFY(shown.list.DisplayBitmap().isNull());
        QCOMPARE(shown.pixel(403, 303), qRgb(0, 0, 0));
        shown.list.RemoveCurrent();
        QCOMPARE(shown.changes, changes + 1);
    }
}

void tst_PicList::largerBitmapIsCropped()
{
    QTemporaryDir dir;
    writeBmp(dir.filePath("a.bmp"), 201, 50);
    Shown shown(QSize(207, 100));
    shown.list.OpenFolder(dir.path(), QString());
    QCOMPARE(shown.list.DisplayBitmap().width(), 201);
    shown.list.SetPaintEnable(false);
    shown.list.resize(100, 100);
    // The left edge sits at (100 - 201) div 2 = -50: column 50 shows first.
    QCOMPARE(qRed(shown.pixel(0, 50)), 50);
    QCOMPARE(qRed(shown.pixel(99, 50)), 149);
}

void tst_PicList::tinyAreaShowsNothing()
{
    QTemporaryDir dir;
    writeBmp(dir.filePath("a.bmp"), 30, 20);
    Shown shown(QSize(6, 40));
    shown.list.OpenFolder(dir.path(), QString());
    QCOMPARE(shown.list.ItemIndex(), 0);
    QVERIFY(shown.list.DisplayBitmap().isNull());
    QCOMPARE(shown.pixel(3, 20), qRgb(0, 0, 0));
    shown.list.resize(40, 6);
    QVERIFY(shown.list.DisplayBitmap().isNull());
}

void tst_PicList::copyToClipboardFullSize()
{
    QTemporaryDir dir;
    writeBmp(dir.filePath("a.bmp"), 1600, 400);
    Shown shown;
    shown.list.OpenFolder(dir.path(), QString());
    const int loads = shown.list.LoadCount();
    const int changes = shown.changes;
    shown.list.CopyToClipboard();
    const QImage copied = QGuiApplication::clipboard()->image();
    QCOMPARE(copied.size(), QSize(1600, 400));
    QCOMPARE(qRed(copied.pixel(300, 10)), 300 % 256);
    // The view is not touched.
    QCOMPARE(shown.list.LoadCount(), loads);
    QCOMPARE(shown.changes, changes);
    QCOMPARE(shown.list.DisplayBitmap().size(), QSize(800, 200));
}

QTEST_MAIN(tst_PicList)
#include "tst_PicList.moc"

void tst_PicList::otherFormatsWithTheOption()
{
    QTemporaryDir dir;
    writeBmp(dir.filePath("a.bmp"), 30, 20);
    const QImage picture = OtherPictures::FourBlocks(1600, 40);
    QStringList others;
    for (const char *name : {"b.png", "c.gif", "d.webp", "e.tif", "f.avif", "g.heic"}) {
        const QByteArray reader = QByteArray(name).mid(2).replace("tif", "tiff").replace("heic", "heif");
        const QByteArray file = OtherPictures::Encode(picture, reader);
        if (file.isEmpty())
            continue;   // no encoder installed for it
        WriteFile(dir.filePath(name), file);
        others << name;
    }
    QVERIFY(others.size() >= 4);
    const auto listed = [&](TPicList &list) {
        QStringList names;
        for (int i = 0; i < list.Count(); ++i)
            names << list.FileNames(i).mid(dir.path().size() + 1);
        return names;
    };

    Shown shown;
    shown.list.OpenFolder(dir.path(), QString());
    QCOMPARE(listed(shown.list), QStringList{"a.bmp"});

    SetAllPictureFormats(true);
    shown.list.OpenFolder(dir.path(), QString());
    QCOMPARE(listed(shown.list), QStringList{"a.bmp"} + others);
    // Each is fitted into the window as a bitmap is.
    for (const QString &name : others) {
        shown.list.Next();
        QCOMPARE(shown.list.FileNames(shown.list.ItemIndex()), dir.filePath(name));
        QCOMPARE(shown.list.ImageWidth(), 1600);
        QCOMPARE(shown.list.DisplayBitmap().size(), QSize(800, 20));
        QCOMPARE(shown.list.ImageScale(), QString("50%"));
    }
    SetAllPictureFormats(false);
}
