#pragma once

// Qt
#include <QLineEdit>

class QScrollBar;

// A single-line edit for a whole number within bounds, with a small spin bar
// at its right edge. Value is read from the text and clamped; the text itself
// may hold anything a paste put there.
class TNaturalEdit : public QLineEdit
{
    Q_OBJECT

public:
    explicit TNaturalEdit(QWidget *parent = nullptr);

    qint32 MinValue() const { return FMinValue; }
    void SetMinValue(qint32 value) { FMinValue = value; }
    qint32 MaxValue() const { return FMaxValue; }
    void SetMaxValue(qint32 value) { FMaxValue = value; }

    // The text as a number (0 when it is none), raised to MinValue, then
    // lowered to MaxValue. Never changes the text.
    qint32 Value() const;
    // Writes the number into the text as it is, without clamping.
    void SetValue(qint32 value);

    // One step within the bounds; false (text untouched) at the bound.
    bool StepUp();
    bool StepDown();

    // The spin bar at the right edge; its up arrow steps up.
    QScrollBar *SpinBar() const { return FSpin; }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void SpinAction(int action);
    int CaretPosition() const;
    void RestoreCaret(int position);
    void PlaceSpinBar();

    qint32 FMinValue = 0;
    qint32 FMaxValue = 2147483647;
    QScrollBar *FSpin = nullptr;
};

// The text as an optional sign followed by decimal digits; 0 when it is not
// such a number or does not fit in 32 bits.
qint32 NaturalEditNumber(const QString &text);
