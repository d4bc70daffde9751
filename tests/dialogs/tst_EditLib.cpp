// Local
#include "EditLib.h"

// Qt
#include <QApplication>
#include <QKeyEvent>
#include <QScrollBar>
#include <QStyle>
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
    }
}

constexpr qint32 kIntMin = -2147483647 - 1;
constexpr qint32 kIntMax = 2147483647;

} // namespace

class tst_EditLib : public QObject
{
    Q_OBJECT

private slots:
    void valueReadsClamped_data();
    void valueReadsClamped();
    void steps_data();
    void steps();
    void typing_data();
    void typing();
    void chords_data();
    void chords();
    void arrowAtBoundReachesTheEdit();
    void spinBar();
};

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
    QTest::newRow("not a number") << 10 << 9999 << "12a" << 10;
    QTest::newRow("blank around") << 10 << 9999 << " 120" << 10;
    QTest::newRow("plus sign") << 10 << 9999 << "+120" << 120;
    QTest::newRow("sign alone") << 10 << 9999 << "-" << 10;
    QTest::newRow("too large for 32 bits") << 10 << 9999 << "2147483648" << 10;
    QTest::newRow("largest") << kIntMin << kIntMax << "2147483647" << kIntMax;
    QTest::newRow("smallest") << kIntMin << kIntMax << "-2147483648" << kIntMin;
    QTest::newRow("below smallest reads 0") << -100 << 100 << "-2147483649" << 0;
    QTest::newRow("negative clamped") << -100 << 100 << "-2147483648" << -100;
    QTest::newRow("non-ascii digits") << 0 << 100 << QString::fromUtf8("\u0661\u0662") << 0;
    QTest::newRow("min above max, empty") << 50 << 20 << "" << 20;
    QTest::newRow("min above max, between") << 50 << 20 << "35" << 20;
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

void tst_EditLib::steps_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("caret");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("after");

    // Bounds 10..9999 throughout; the caret stays where it was.
    QTest::newRow("down after second digit") << "120" << 2 << int(Qt::Key_Down) << "119";
    QTest::newRow("up at start") << "120" << 0 << int(Qt::Key_Up) << "121";
    QTest::newRow("up to a longer text") << "999" << 1 << int(Qt::Key_Up) << "1000";
    QTest::newRow("down to a shorter text") << "100" << 3 << int(Qt::Key_Down) << "99";
    QTest::newRow("up at max") << "9999" << 2 << int(Qt::Key_Up) << "9999";
    QTest::newRow("down at min") << "10" << 1 << int(Qt::Key_Down) << "10";
    QTest::newRow("up from below min") << "5" << 1 << int(Qt::Key_Up) << "11";
    QTest::newRow("down from below min") << "5" << 1 << int(Qt::Key_Down) << "5";
    QTest::newRow("down from above max") << "12345" << 0 << int(Qt::Key_Down) << "9998";
    QTest::newRow("up from garbage") << "x" << 0 << int(Qt::Key_Up) << "11";
}

void tst_EditLib::steps()
{
    QFETCH(QString, text);
    QFETCH(int, caret);
    QFETCH(int, key);
    QFETCH(QString, after);

    TNaturalEdit edit;
    edit.SetMinValue(10);
    edit.SetMaxValue(9999);
    edit.setText(text);
    QCOMPARE(key == Qt::Key_Up ? edit.StepUp() : edit.StepDown(), after != text);
    QCOMPARE(edit.text(), after);

    edit.setText(text);
    edit.setCursorPosition(caret);
    QTest::keyClick(&edit, Qt::Key(key));
    QCOMPARE(edit.text(), after);
    QCOMPARE(edit.cursorPosition(), qMin(caret, int(after.size())));

    // Writing Value never clamps; reading does.
    edit.SetValue(0);
    QCOMPARE(edit.text(), QStringLiteral("0"));
    QCOMPARE(edit.Value(), 10);
}

void tst_EditLib::typing_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<int>("caret");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("after");

    QTest::newRow("digits") << "" << 0 << "1234" << "1234";
    QTest::newRow("minus sign") << "12" << 2 << "-" << "12";
    QTest::newRow("blank") << "12" << 1 << " " << "12";
    QTest::newRow("letters and points") << "12" << 2 << "aZ.," << "12";
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

    // Editing keys and shortcuts still work.
    edit.setText(QStringLiteral("1234"));
    edit.setCursorPosition(2);
    QTest::keyClick(&edit, Qt::Key_Backspace);
    QTest::keyClick(&edit, Qt::Key_Delete);
    QCOMPARE(edit.text(), QStringLiteral("14"));
    QTest::keyClick(&edit, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(edit.selectedText(), QStringLiteral("14"));
}

void tst_EditLib::chords_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QString>("selected");

    // The edit holds "120" and then a typed "5".
    QTest::newRow("Alt+A") << "Alt+A" << "1205" << "";
    QTest::newRow("Alt+Shift+A") << "Alt+Shift+A" << "1205" << "";
    QTest::newRow("Meta+-") << "Meta+-" << "1205" << "";
    QTest::newRow("Ctrl+Alt+X") << "Ctrl+Alt+X" << "1205" << "";
    QTest::newRow("Ctrl+keypad -") << "Ctrl+Num+-" << "1205" << "";
    QTest::newRow("Alt+digit") << "Alt+7" << "12057" << "";
    QTest::newRow("select all") << "Ctrl+A" << "1205" << "1205";
    QTest::newRow("undo, redo") << "Ctrl+Z, Ctrl+Shift+Z" << "1205" << "";
    QTest::newRow("undo") << "Ctrl+Z" << "120" << "";
    QTest::newRow("copy, paste") << "Ctrl+A, Ctrl+C, End, Ctrl+V" << "12051205" << "";
}

void tst_EditLib::chords()
{
    QFETCH(QString, keys);
    QFETCH(QString, after);
    QFETCH(QString, selected);

    TNaturalEdit edit;
    edit.SetMinValue(10);
    edit.SetMaxValue(9999);
    edit.setText(QStringLiteral("120"));
    QTest::keyClick(&edit, Qt::Key_5);
    QTest::keySequence(&edit, QKeySequence::fromString(keys));
    QCOMPARE(edit.text(), after);
    QCOMPARE(edit.selectedText(), selected);
}

void tst_EditLib::arrowAtBoundReachesTheEdit()
{
    KeyRecorder parent;
    auto *edit = new TNaturalEdit(&parent);
    edit->SetMinValue(10);
    edit->SetMaxValue(9999);
    edit->setText(QStringLiteral("9999"));
    QTest::keyClick(edit, Qt::Key_Up);
    QCOMPARE(edit->text(), QStringLiteral("9999"));
    // The edit has no use for the arrow either, so it travels on.
    QCOMPARE(parent.keys, QList<int>{Qt::Key_Up});

    parent.keys.clear();
    QTest::keyClick(edit, Qt::Key_Down);
    QCOMPARE(edit->text(), QStringLiteral("9998"));
    QVERIFY(parent.keys.isEmpty());
}

void tst_EditLib::spinBar()
{
    TNaturalEdit edit;
    QCOMPARE(edit.text(), QStringLiteral("0"));
    QCOMPARE(edit.height(), 20);
    edit.SetMinValue(10);
    edit.SetMaxValue(100);
    edit.resize(80, 24);
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    edit.setText(QStringLiteral("50"));
    edit.setCursorPosition(1);

    QScrollBar *bar = edit.SpinBar();
    QCOMPARE(bar->focusPolicy(), Qt::NoFocus);
    QCOMPARE(bar->geometry().right(), edit.width() - 1 - edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth));
    const QPoint upper(bar->width() / 2, 1);
    const QPoint lower(bar->width() / 2, bar->height() - 2);
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, upper);
    QCOMPARE(edit.text(), QStringLiteral("51"));
    QCOMPARE(edit.cursorPosition(), 1);
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, lower);
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, lower);
    QCOMPARE(edit.text(), QStringLiteral("49"));

    // Held down, the upper arrow repeats up to the bound.
    edit.setText(QStringLiteral("96"));
    QTest::mousePress(bar, Qt::LeftButton, Qt::NoModifier, upper);
    QTRY_COMPARE_WITH_TIMEOUT(edit.text(), QStringLiteral("100"), 10000);
    QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, upper);
}

QTEST_MAIN(tst_EditLib)
#include "tst_EditLib.moc"
