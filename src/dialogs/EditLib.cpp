#include "EditLib.h"

// Qt
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QScrollBar>
#include <QStyle>

namespace {

bool IsDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// What may reach the edit of a typed text: digits and the control characters
// of editing keys (Backspace, Delete) and of the dialog (Enter, Escape);
// letters, blanks, signs and points are dropped.
QString TypedCharacters(const QString &text)
{
    QString kept;
    for (QChar c : text) {
        if (IsDigit(c) || !c.isPrint())
            kept += c;
    }
    return kept;
}

QString DigitsOnly(const QString &text)
{
    QString kept;
    for (QChar c : text) {
        if (IsDigit(c))
            kept += c;
    }
    return kept;
}

} // namespace

qint32 NaturalEditNumber(const QString &text)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size())
        return 0;
    // One more than INT32_MAX is allowed only for the negative limit.
    const qint64 limit = negative ? qint64(2147483648LL) : qint64(2147483647LL);
    qint64 number = 0;
    for (; i < text.size(); ++i) {
        if (!IsDigit(text[i]))
            return 0;
        number = number * 10 + (text[i].unicode() - u'0');
        if (number > limit)
            return 0;
    }
    return qint32(negative ? -number : number);
}

TNaturalEdit::TNaturalEdit(QWidget *parent)
    : QLineEdit(parent)
{
    setText(QStringLiteral("0"));
    resize(width(), 20);

    // The spin bar is a scroll bar with just enough range for its arrows to
    // act; its position is put back after every request, so the arrows never
    // reach an end and keep repeating while held down.
    FSpin = new QScrollBar(Qt::Vertical, this);
    FSpin->setRange(0, 2);
    FSpin->setSingleStep(1);
    FSpin->setPageStep(1);
    FSpin->setValue(1);
    FSpin->setFocusPolicy(Qt::NoFocus);
    FSpin->setCursor(Qt::ArrowCursor);
    connect(FSpin, &QAbstractSlider::actionTriggered, this, &TNaturalEdit::SpinAction);
    PlaceSpinBar();
}

qint32 TNaturalEdit::Value() const
{
    qint32 value = NaturalEditNumber(text());
    if (value < FMinValue)
        value = FMinValue;
    if (value > FMaxValue)
        value = FMaxValue;
    return value;
}

void TNaturalEdit::SetValue(qint32 value)
{
    setText(QString::number(value));
}

bool TNaturalEdit::StepUp()
{
    const qint32 value = Value();
    if (value >= FMaxValue)
        return false;
    SetValue(value + 1);
    return true;
}

bool TNaturalEdit::StepDown()
{
    const qint32 value = Value();
    if (value <= FMinValue)
        return false;
    SetValue(value - 1);
    return true;
}

int TNaturalEdit::CaretPosition() const
{
    return hasSelectedText() ? selectionStart() : cursorPosition();
}

// Writing the text moves the caret to its end; a step leaves it where the
// user had it.
void TNaturalEdit::RestoreCaret(int position)
{
    if (hasSelectedText() || cursorPosition() != position)
        setCursorPosition(position);
}

void TNaturalEdit::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
        const int caret = CaretPosition();
        const bool stepped = key == Qt::Key_Up ? StepUp() : StepDown();
        if (stepped) {
            RestoreCaret(caret);
            event->accept();
            return;
        }
        // At a bound the arrow is the edit's own key.
        QLineEdit::keyPressEvent(event);
        return;
    }

    const QString text = event->text();
    const QString kept = TypedCharacters(text);
    if (kept == text) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    // Ctrl and Ctrl+Shift chords are the edit's shortcuts (copy, paste,
    // select all, undo, ...), which act on the key alone. They reach the edit
    // without their text: the line edit would type the text of some of them
    // (Ctrl with a keypad key) into the number.
    const Qt::KeyboardModifiers chord =
        event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (chord == Qt::ControlModifier) {
        QKeyEvent shortcut(event->type(), key, event->modifiers(), event->nativeScanCode(),
                           event->nativeVirtualKey(), event->nativeModifiers(), QString(),
                           event->isAutoRepeat(), event->count(), event->device());
        QLineEdit::keyPressEvent(&shortcut);
        event->setAccepted(shortcut.isAccepted());
        return;
    }
    // Any other key, with or without Alt or Meta held, is typing: the line
    // edit would take a letter typed with Alt or Meta as text, so only the
    // digits of it go in.
    if (!DigitsOnly(kept).isEmpty())
        insert(DigitsOnly(kept));
    event->accept();
}

void TNaturalEdit::inputMethodEvent(QInputMethodEvent *event)
{
    const QString digits = DigitsOnly(event->commitString());
    if (digits == event->commitString()) {
        QLineEdit::inputMethodEvent(event);
        return;
    }
    QInputMethodEvent filtered;
    filtered.setCommitString(digits, event->replacementStart(), event->replacementLength());
    QLineEdit::inputMethodEvent(&filtered);
}

void TNaturalEdit::resizeEvent(QResizeEvent *event)
{
    QLineEdit::resizeEvent(event);
    PlaceSpinBar();
}

void TNaturalEdit::PlaceSpinBar()
{
    const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    const int barWidth = qMax(8, style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, FSpin));
    FSpin->setGeometry(width() - frame - barWidth, frame, barWidth, qMax(0, height() - 2 * frame));
    setTextMargins(0, 0, barWidth, 0);
}

void TNaturalEdit::SpinAction(int action)
{
    const int caret = CaretPosition();
    // The upper arrow asks for a smaller scroll position: it steps up.
    if (action == QAbstractSlider::SliderSingleStepSub)
        StepUp();
    else if (action == QAbstractSlider::SliderSingleStepAdd)
        StepDown();
    FSpin->setSliderPosition(1);
    RestoreCaret(caret);
}
