// Local
#include "ProgressDlg.h"

// Qt
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

// Std
#include <memory>

using Steps = QList<QPair<qint64, int>>;   // clock in ms, new position

class tst_ProgressDlg : public QObject
{
    Q_OBJECT

private slots:
    void freshDialog();
    void timeRemainingText_data();
    void timeRemainingText();
    void timeLine_data();
    void timeLine();
    void showDisablesTheOtherWindows();
    void destroyingEnablesTheOtherWindows();
    void cancelButtonKeepsTheDialog();
    void closeRequestCountsAsCancel();
    void escapePressesCancel();
    void textShownAsWritten_data();
    void textShownAsWritten();
};

void tst_ProgressDlg::freshDialog()
{
    TfrmProgress dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Processing..."));
    QCOMPARE(dialog.lblText->text(), QString());
    QCOMPARE(dialog.lblTime->text(), QString());
    QCOMPARE(dialog.ProgressBar->minimum(), 0);
    QCOMPARE(dialog.ProgressBar->maximum(), 100);
    QCOMPARE(dialog.btnCancel->text(), QStringLiteral("Cancel"));
    QVERIFY(!(dialog.btnCancel->focusPolicy() & Qt::TabFocus));
    QVERIFY(!dialog.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(dialog.windowFlags().testFlag(Qt::CustomizeWindowHint));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    QVERIFY(dialog.width() >= 392 && dialog.height() >= 148);
    QVERIFY(!dialog.Cancelled());
}

void tst_ProgressDlg::timeRemainingText_data()
{
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("none") << qint64(0) << "0 seconds remaining";
    QTest::newRow("59") << qint64(59) << "59 seconds remaining";
    QTest::newRow("60") << qint64(60) << "1 minutes remaining";
    QTest::newRow("119") << qint64(119) << "1 minutes remaining";
    QTest::newRow("10799") << qint64(10799) << "179 minutes remaining";
    QTest::newRow("10800") << qint64(10800) << "3 hours remaining";
    QTest::newRow("a day") << qint64(86400) << "24 hours remaining";
}

void tst_ProgressDlg::timeRemainingText()
{
    QFETCH(qint64, seconds);
    QFETCH(QString, text);
    QCOMPARE(TimeRemainingText(seconds), text);
}

void tst_ProgressDlg::timeLine_data()
{
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<bool>("showTime");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("bar");

    QTest::newRow("first change shows nothing") << Steps{{0, 10}} << true << "" << 10;
    QTest::newRow("10 to 20 in five seconds") << Steps{{0, 10}, {5000, 20}} << true << "6 minutes remaining" << 20;
    QTest::newRow("exactly one second is not enough") << Steps{{0, 10}, {1000, 20}} << true << "" << 20;
    QTest::newRow("just over one second") << Steps{{0, 50}, {1001, 51}} << true << "49 seconds remaining" << 51;
    QTest::newRow("half rounds down to even") << Steps{{0, 40}, {1010, 50}} << true << "50 seconds remaining" << 50;
    QTest::newRow("half rounds up to even") << Steps{{0, 40}, {1030, 50}} << true << "52 seconds remaining" << 50;
    QTest::newRow("quick change keeps the text")
        << Steps{{0, 10}, {5000, 20}, {5500, 30}} << true << "6 minutes remaining" << 30;
    // The quick change still restarts the clock: 60 x 1.5 s, not 60 x 2 s.
    QTest::newRow("quick change moves the clock")
        << Steps{{0, 10}, {5000, 20}, {5500, 30}, {7000, 40}} << true << "1 minutes remaining" << 40;
    // Setting the same position again does not restart the clock: 80 x 5.5 s.
    QTest::newRow("same position changes nothing")
        << Steps{{0, 10}, {5000, 10}, {5500, 20}} << true << "7 minutes remaining" << 20;
    QTest::newRow("hours") << Steps{{0, 1}, {200000, 2}} << true << "5 hours remaining" << 2;
    QTest::newRow("done") << Steps{{0, 99}, {5000, 100}} << true << "0 seconds remaining" << 100;
    QTest::newRow("time line off") << Steps{{0, 10}, {5000, 20}} << false << "" << 20;
}

void tst_ProgressDlg::timeLine()
{
    QFETCH(Steps, steps);
    QFETCH(bool, showTime);
    QFETCH(QString, text);
    QFETCH(int, bar);

    qint64 now = 0;
    TfrmProgress dialog;
    dialog.SetClock([&now] { return now; });
    dialog.FShowTime = showTime;
    for (const auto &[time, position] : steps) {
        now = time;
        dialog.SetPosition(position);
    }
    QCOMPARE(dialog.lblTime->text(), text);
    QCOMPARE(dialog.ProgressBar->value(), bar);
    QCOMPARE(dialog.Position(), bar);
}

void tst_ProgressDlg::showDisablesTheOtherWindows()
{
    QMainWindow main;
    main.show();
    QWidget other;
    other.show();
    QWidget hidden;
    QWidget disabled;
    disabled.setEnabled(false);
    disabled.show();

    TfrmProgress dialog(&main);
    dialog.show();
    QVERIFY(!main.isEnabled());
    QVERIFY(!other.isEnabled());
    QVERIFY(hidden.isEnabled());
    // The dialog itself, although owned by a disabled window, stays usable.
    QVERIFY(dialog.isEnabled());
    QVERIFY(dialog.btnCancel->isEnabled());

    dialog.hide();
    QVERIFY(main.isEnabled());
    QVERIFY(other.isEnabled());
    QVERIFY(hidden.isEnabled());
    QVERIFY(!disabled.isEnabled());
}

void tst_ProgressDlg::destroyingEnablesTheOtherWindows()
{
    QMainWindow main;
    main.show();
    auto dialog = std::make_unique<TfrmProgress>(&main);
    dialog->show();
    QVERIFY(!main.isEnabled());
    dialog.reset();
    QVERIFY(main.isEnabled());
}

void tst_ProgressDlg::cancelButtonKeepsTheDialog()
{
    QMainWindow main;
    main.show();
    TfrmProgress dialog(&main);
    dialog.SetText(QStringLiteral("Working"));
    dialog.show();
    dialog.SetPosition(30);
    QVERIFY(!dialog.Cancelled());

    QTest::mouseClick(dialog.btnCancel, Qt::LeftButton);
    QVERIFY(dialog.Cancelled());
    QVERIFY(dialog.isVisible());
    QVERIFY(!main.isEnabled());
    QCOMPARE(dialog.ProgressBar->value(), 30);
    QCOMPARE(dialog.lblText->text(), QStringLiteral("Working"));
}

void tst_ProgressDlg::closeRequestCountsAsCancel()
{
    QMainWindow main;
    main.show();
    TfrmProgress dialog(&main);
    dialog.show();
    dialog.SetPosition(40);

    QVERIFY(dialog.close());
    QVERIFY(dialog.Cancelled());
    QVERIFY(!dialog.isVisible());
    QVERIFY(main.isEnabled());

    // Showing it again starts afresh.
    dialog.show();
    QVERIFY(!dialog.Cancelled());
    QCOMPARE(dialog.Position(), 0);
    QVERIFY(!main.isEnabled());
}

void tst_ProgressDlg::escapePressesCancel()
{
    TfrmProgress dialog;
    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(dialog.Cancelled());
    QVERIFY(dialog.isVisible());
}

void tst_ProgressDlg::textShownAsWritten_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("markup") << "x<b>bold.bmp";
    QTest::newRow("ampersand") << "Tom & Jerry";
}

void tst_ProgressDlg::textShownAsWritten()
{
    QFETCH(QString, text);
    TfrmProgress dialog;
    dialog.SetText(text);
    QCOMPARE(dialog.lblText->text(), text);
    QCOMPARE(dialog.lblText->textFormat(), Qt::PlainText);
}

QTEST_MAIN(tst_ProgressDlg)
#include "tst_ProgressDlg.moc"
