// Local
#include "PicList.h"

// Qt
#include <QApplication>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

// The picture list on a screen that scales by 2 (QT_SCALE_FACTOR, set
// before the application starts): pictures are fitted into device pixels
// and drawn 1:1 on them.
class tst_PicListHiDpi : public QObject
{
    Q_OBJECT

private slots:
    void drawnOneToOneInDevicePixels();
};

void tst_PicListHiDpi::drawnOneToOneInDevicePixels()
{
    QCOMPARE(qApp->devicePixelRatio(), 2.0);
    // Every device pixel differs from its neighbours: any scaling shows.
    QImage picture(1600, 400, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, (x + y) % 2 ? qRgb(250, x % 256, 10) : qRgb(5, y % 256, 240));
    QTemporaryDir dir;
    QVERIFY(picture.save(dir.filePath("wide.bmp"), "BMP"));

    TPicList list;
    list.resize(806, 300);      // an area 800 logical pixels wide
    list.OpenFolder(dir.path(), dir.filePath("wide.bmp"));
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QCOMPARE(list.ImageScale(), QString("100%"));
    QCOMPARE(list.DisplayBitmap().size(), QSize(1600, 400));

    // On screen: 1612 x 600 device pixels, the picture at (6, 100).
    const QImage shown = list.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.size(), QSize(1612, 600));
    for (const QPoint p : {QPoint(0, 0), QPoint(1, 0), QPoint(1599, 399), QPoint(800, 201)})
        QCOMPARE(shown.pixel(p + QPoint(6, 100)), picture.pixel(p));
    QCOMPARE(shown.pixel(5, 100), qRgb(0, 0, 0));
}

int main(int argc, char *argv[])
{
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    tst_PicListHiDpi test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_PicListHiDpi.moc"
