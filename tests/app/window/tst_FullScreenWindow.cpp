// Local
#include "FakePrompts.h"
#include "MainForm.h"
#include "PicList.h"

// Qt
#include <QApplication>
#include <QImage>
#include <QScreen>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>

// Full screen on a real X display, under a real window manager or none:
// each switch loads the picture exactly once, for the window's final size,
// however late the manager's answer comes.
class tst_FullScreenWindow : public QObject
{
    Q_OBJECT

private slots:
    void eachSwitchLoadsOnce();
};

void tst_FullScreenWindow::eachSwitchLoadsOnce()
{
    const bool managed = !qEnvironmentVariableIsEmpty("TAMSEL_TEST_WINDOW_MANAGER");
    FakePrompts prompts;
    QTemporaryDir dir;
    const QString file = dir.filePath("wide.bmp");
    QImage picture(1600, 1000, QImage::Format_RGB32);
    picture.fill(qRgb(200, 120, 40));
    QVERIFY(picture.save(file, "BMP"));

    TfrmMain form({file});
    form.setGeometry(100, 100, 500, 400);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // Whatever the manager does to a new window is over before the switches.
    QTest::qWait(1500);
    const QRect normal = form.geometry();
    const QSize screen = form.screen()->geometry().size();

    // From a normal window twice, then from a maximized one.
    for (int step = 0; step < 6; ++step) {
        if (step == 4) {
            form.showMaximized();
            QTest::qWait(1500);
        }
        const bool entering = step % 2 == 0;
        const int loads = form.FPicList->LoadCount();
        form.acnFullScreen->trigger();
        // A late resize would load the picture a second time.
        QTest::qWait(1500);
        QCOMPARE(form.IsFullScreenMode(), entering);
        QCOMPARE(form.FPicList->LoadCount(), loads + 1);
        if (!managed)
            continue;
        if (entering) {
            QVERIFY(form.windowHandle()->windowStates() & Qt::WindowFullScreen);
            QCOMPARE(form.size(), screen);
            // The picture was loaded for the full-screen size: 1600 x 1000
            // fitted into the whole screen less 6 pixels.
            QCOMPARE(form.FPicList->size(), screen);
            QCOMPARE(form.FPicList->DisplayBitmap().width(), screen.width() - 6);
        } else if (step < 4) {
            QCOMPARE(form.geometry(), normal);
        } else {
            QVERIFY(form.isMaximized());
        }
    }
}

QTEST_MAIN(tst_FullScreenWindow)
#include "tst_FullScreenWindow.moc"
