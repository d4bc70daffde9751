// Local
#include "AppError.h"
#include "FakePrompts.h"

// Qt
#include <QApplication>
#include <QDialog>
#include <QMainWindow>
#include <QtTest>

class tst_AppError : public QObject
{
    Q_OBJECT

private slots:
    void errorBoxOverWindowOnTop_data();
    void errorBoxOverWindowOnTop();
};

void tst_AppError::errorBoxOverWindowOnTop_data()
{
    QTest::addColumn<bool>("showWindow");
    QTest::addColumn<bool>("showModal");
    QTest::newRow("no window") << false << false;
    QTest::newRow("active window") << true << false;
    QTest::newRow("modal dialog over the window") << true << true;
}

// An error raised in a dialog must open over that dialog: a box without an
// owner can open behind a modal dialog, out of reach.
void tst_AppError::errorBoxOverWindowOnTop()
{
    QFETCH(bool, showWindow);
    QFETCH(bool, showModal);
    FakePrompts prompts;
    QMainWindow window;
    QDialog dialog(&window);
    QWidget *expected = nullptr;
    if (showWindow) {
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        expected = &window;
    }
    if (showModal) {
        dialog.setModal(true);
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        expected = &dialog;
    }

    ShowAppError(QStringLiteral("Cannot read a.bmp"));

    QCOMPARE(prompts.messages.size(), 1);
    QCOMPARE(prompts.messages[0].parent, expected);
    QCOMPARE(prompts.messages[0].icon, QMessageBox::Critical);
    QCOMPARE(prompts.messages[0].text, QStringLiteral("Cannot read a.bmp."));
}

QTEST_MAIN(tst_AppError)
#include "tst_AppError.moc"
