// Local
#include "EditLib.h"

// Qt
#include <QApplication>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTest>

namespace {

// Receives the keys the edit leaves alone.
class KeyRecorder : public QWidget
{
public:
    QList<int> keys;

protected:
    void keyPressEvent(QKeyEvent *event) override { keys << event->key(); }
};

// Types text one character at a time as the keyboard would (QTest's own
// helper knows ASCII only).
void TypeText(QWidget *widget, const QString &text)
{
    for (QChar c : text) {
        const int key = c.unicode() < 0x80 ? c.toUpper().unicode() : int(Qt::Key_unknown);
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &release);
    }
}

constexpr qint32 kIntMin = -2147483647 - 1;
constexpr qint32 kIntMax = 2147483647;

} // namespace

class tst_EditLib : public QObject
{
    Q_OBJECT

private slots:
    void defaults();
    void valueReadsClamped_data();
    void valueReadsClamped();
    void setValueWritesUnclamped_data();
    void setValueWritesUnclamped();
    void steps_data();
    void steps();
    void typing_data();
    void typing();
    void shortcutsStillWork();
    void stepKeepsCaret_data();
    void stepKeepsCaret();
    void arrowAtBoundReachesTheEdit();
    void spinArrows_data();
    void spinArrows();
    void holdingSpinArrowRepeatsUpToMax();
};

void tst_EditLib::defaults()
{
    TNaturalEdit edit;
    QCOMPARE(edit.text(), QStringLiteral("0"));
    QCOMPARE(edit.MinValue(), 0);
    QCOMPARE(edit.MaxValue(), kIntMax);
    QCOMPARE(edit.Value(), 0);
    QCOMPARE(edit.height(), 20);
    QVERIFY(edit.SpinBar());
    QCOMPARE(edit.SpinBar()->orientation(), Qt::Vertical);
    QCOMPARE(edit.SpinBar()->focusPolicy(), Qt::NoFocus);
}

void tst_EditLib::valueReadsClamped_data()
{
    QTest::addColumn<qint32>("minValue");
    QTest::addColumn<qint32>("maxValue");
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint32>("expected");

    QTest::newRow("empty") << 10 << 9999 << "" << 10;
    QTest::newRow("below min") << 10 << 9999 << "5" << 10;
    QTest::newRow("inside") << 10 << 9999 << "120" << 120;
    QTest::newRow("above max") << 10 << 9999 << "12345" << 9999;
    QTest::newRow("letters") << 10 << 9999 << "abc" << 10;
    QTest::newRow("digits then letter") << 10 << 9999 << "12a" << 10;
    QTest::newRow("leading blank") << 10 << 9999 << " 120" << 10;
    QTest::newRow("trailing blank") << 10 << 9999 << "120 " << 10;
    QTest::newRow("hex") << 10 << 9999 << "0x20" << 10;
    QTest::newRow("exponent") << 10 << 9999 << "1e3" << 10;
    QTest::newRow("plus sign") << 10 << 9999 << "+120" << 120;
    QTest::newRow("sign alone") << 10 << 9999 << "-" << 10;
    QTest::newRow("negative") << 10 << 9999 << "-120" << 10;
    QTest::newRow("too large for 32 bits") << 10 << 9999 << "2147483648" << 10;
    QTest::newRow("far too large") << 10 << 9999 << "99999999999999999999999" << 10;
    QTest::newRow("largest") << kIntMin << kIntMax << "2147483647" << kIntMax;
    QTest::newRow("smallest") << kIntMin << kIntMax << "-2147483648" << kIntMin;
    QTest::newRow("below smallest reads 0") << -100 << 100 << "-2147483649" << 0;
    QTest::newRow("negative inside") << -100 << 100 << "-50" << -50;
    QTest::newRow("negative below") << -100 << 100 << "-2147483648" << -100;
    QTest::newRow("leading zeros") << 0 << 100 << "007" << 7;
    QTest::newRow("arabic-indic digits") << 0 << 100 << QString::fromUtf8("\u0661\u0662") << 0;
    QTest::newRow("min above max, empty") << 50 << 20 << "" << 20;
    QTest::newRow("min above max, between") << 50 << 20 << "35" << 20;
    QTest::newRow("min above max, below") << 50 << 20 << "10" << 20;
    QTest::newRow("min above max, above") << 50 << 20 << "100" << 20;
}

void tst_EditLib::valueReadsClamped()
{
    QFETCH(qint32, minValue);
    QFETCH(qint32, maxValue);
    QFETCH(QString, text);
    QFETCH(qint32, expected);

    TNaturalEdit edit;
    edit.SetMinValue(minValue);
    edit.SetMaxValue(maxValue);
    edit.setText(text);
    QCOMPARE(edit.Value(), expected);
    QCOMPARE(edit.text(), text);
}

void tst_EditLib::setValueWritesUnclamped_data()
{
    QTest::addColumn<qint32>("value");
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint32>("readBack");

    QTest::newRow("below bounds") << 0 << "0" << 10;
    QTest::newRow("inside") << 42 << "42" << 42;
    QTest::newRow("above bounds") << 1000 << "1000" << 100;
    QTest::newRow("negative") << -7 << "-7" << 10;
}

void tst_EditLib::setValueWritesUnclamped()
{
    QFETCH(qint32, value);
    QFETCH(QString, text);
    QFETCH(qint32, readBack);

    TNaturalEdit edit;
    edit.SetMinValue(10);
    edit.SetMaxValue(100);
    edit.SetValue(value);
    QCOMPARE(edit.text(), text);
    QCOMPARE(edit.Value(), readBack);
}

void tst_EditLib::steps_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("up");
    QTest::addColumn<bool>("stepped");
    QTest::addColumn<QString>("after");

    // Bounds 10..9999 throughout.
    QTest::newRow("up inside") << "120" << true << true << "121";
    QTest::newRow("down inside") << "120" << false << true << "119";
    QTest::newRow("up at max") << "9999" << true << false << "9999";
    QTest::newRow("down at min") << "10" << false << false << "10";
    QTest::newRow("up from below min") << "5" << true << true << "11";
    QTest::newRow("down from below min") << "5" << false << false << "5";
    QTest::newRow("down from above max") << "12345" << false << true << "9998";
    QTest::newRow("up from above max") << "12345" << true << false << "12345";
    QTest::newRow("up from garbage") << "x" << true << true << "11";
}

void tst_EditLib::steps()
{
    QFETCH(QString, text);
    QFETCH(bool, up);
    QFETCH(bool, stepped);
    QFETCH(QString, after);

    TNaturalEdit edit;
    edit.SetMinValue(10);
    edit.SetMaxValue(9999);
    edit.setText(text);
    QCOMPARE(up ? edit.StepUp() : edit.StepDown(), stepped);
    QCOMPARE(edit.text(), after);

    // The arrow keys step the same way.
    edit.setText(text);
    QTest::keyClick(&edit, up ? Qt::Key_Up : Qt::Key_Down);
    QCOMPARE(edit.text(), after);
}

void tst_EditLib::typing_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<int>("caret");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("after");

    QTest::newRow("digits") << "" << 0 << "1234" << "1234";
    QTest::newRow("minus sign") << "12" << 2 << "-" << "12";
    QTest::newRow("plus sign") << "12" << 0 << "+" << "12";
    QTest::newRow("blank") << "12" << 1 << " " << "12";
    QTest::newRow("letters") << "12" << 2 << "abcXYZ" << "12";
    QTest::newRow("point and comma") << "12" << 2 << ".," << "12";
    QTest::newRow("mixed") << "" << 0 << "1a2 3-4" << "1234";
    QTest::newRow("non-ascii letter") << "" << 0 << QString::fromUtf8("\u00e9") << "";
}

void tst_EditLib::typing()
{
    QFETCH(QString, start);
    QFETCH(int, caret);
    QFETCH(QString, typed);
    QFETCH(QString, after);

    TNaturalEdit edit;
    edit.setText(start);
    edit.setCursorPosition(caret);
    TypeText(&edit, typed);
    QCOMPARE(edit.text(), after);
}

void tst_EditLib::shortcutsStillWork()
{
    TNaturalEdit edit;
    edit.setText(QStringLiteral("1234"));
    edit.setCursorPosition(2);
    QTest::keyClick(&edit, Qt::Key_Backspace);
    QCOMPARE(edit.text(), QStringLiteral("134"));
    QTest::keyClick(&edit, Qt::Key_Delete);
    QCOMPARE(edit.text(), QStringLiteral("14"));
    QTest::keyClick(&edit, Qt::Key_Home);
    QCOMPARE(edit.cursorPosition(), 0);
    QTest::keyClick(&edit, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(edit.selectedText(), QStringLiteral("14"));
}

void tst_EditLib::stepKeepsCaret_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("caret");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("after");

    QTest::newRow("down after second digit") << "120" << 2 << int(Qt::Key_Down) << "119";
    QTest::newRow("up at start") << "120" << 0 << int(Qt::Key_Up) << "121";
    QTest::newRow("up in the middle") << "999" << 1 << int(Qt::Key_Up) << "1000";
    QTest::newRow("down to a shorter text") << "100" << 3 << int(Qt::Key_Down) << "99";
}

void tst_EditLib::stepKeepsCaret()
{
    QFETCH(QString, text);
    QFETCH(int, caret);
    QFETCH(int, key);
    QFETCH(QString, after);

    TNaturalEdit edit;
    edit.SetMinValue(10);
    edit.SetMaxValue(9999);
    edit.setText(text);
    edit.setCursorPosition(caret);
    QTest::keyClick(&edit, Qt::Key(key));
    QCOMPARE(edit.text(), after);
    QCOMPARE(edit.cursorPosition(), qMin(caret, int(after.size())));
}

void tst_EditLib::arrowAtBoundReachesTheEdit()
{
    KeyRecorder parent;
    auto *edit = new TNaturalEdit(&parent);
    edit->SetMinValue(10);
    edit->SetMaxValue(9999);

    edit->setText(QStringLiteral("9999"));
    edit->setCursorPosition(2);
    QTest::keyClick(edit, Qt::Key_Up);
    QCOMPARE(edit->text(), QStringLiteral("9999"));
    QCOMPARE(edit->cursorPosition(), 2);
    // The edit does not use the arrow either, so it travels on to the parent.
    QCOMPARE(parent.keys, QList<int>{Qt::Key_Up});

    // A step consumes the key.
    parent.keys.clear();
    QTest::keyClick(edit, Qt::Key_Down);
    QCOMPARE(edit->text(), QStringLiteral("9998"));
    QVERIFY(parent.keys.isEmpty());
}

void tst_EditLib::spinArrows_data()
{
    QTest::addColumn<bool>("upperArrow");
    QTest::addColumn<QString>("after");

    QTest::newRow("upper arrow steps up") << true << "121";
    QTest::newRow("lower arrow steps down") << false << "119";
}

void tst_EditLib::spinArrows()
{
    QFETCH(bool, upperArrow);
    QFETCH(QString, after);

    TNaturalEdit edit;
    edit.SetMinValue(10);
    edit.SetMaxValue(9999);
    edit.resize(80, 24);
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    edit.setText(QStringLiteral("120"));
    edit.setCursorPosition(1);

    QScrollBar *bar = edit.SpinBar();
    QVERIFY(bar->isVisible());
    QVERIFY(bar->geometry().right() <= edit.width() - 1);
    const QPoint arrow(bar->width() / 2, upperArrow ? 1 : bar->height() - 2);
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, arrow);
    QCOMPARE(edit.text(), after);
    QCOMPARE(edit.cursorPosition(), 1);

    // A second click steps again: the bar never runs into an end.
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, arrow);
    QCOMPARE(edit.Value(), upperArrow ? 122 : 118);
}

void tst_EditLib::holdingSpinArrowRepeatsUpToMax()
{
    TNaturalEdit edit;
    edit.SetMinValue(10);
    edit.SetMaxValue(100);
    edit.resize(80, 24);
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    edit.setText(QStringLiteral("96"));

    QScrollBar *bar = edit.SpinBar();
    QTest::mousePress(bar, Qt::LeftButton, Qt::NoModifier, QPoint(bar->width() / 2, 1));
    QTRY_COMPARE_WITH_TIMEOUT(edit.text(), QStringLiteral("100"), 10000);
    // Held on at the bound, it stays there.
    QTest::qWait(200);
    QCOMPARE(edit.text(), QStringLiteral("100"));
    QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, QPoint(bar->width() / 2, 1));
}

QTEST_MAIN(tst_EditLib)
#include "tst_EditLib.moc"
