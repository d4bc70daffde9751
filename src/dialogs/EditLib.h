#pragma once

// Qt
#include <QLineEdit>

// A single-line edit for a whole number within bounds, with a small spin bar
// at its right edge. Value is read from the text and clamped.
class TNaturalEdit : public QLineEdit
{
    Q_OBJECT

public:
    explicit TNaturalEdit(QWidget *parent = nullptr);

    qint32 MinValue() const { return FMinValue; }
    void SetMinValue(qint32 value) { FMinValue = value; }
    qint32 MaxValue() const { return FMaxValue; }
    void SetMaxValue(qint32 value) { FMaxValue = value; }

    qint32 Value() const;
    void SetValue(qint32 value);

    bool StepUp();
    bool StepDown();

private:
    qint32 FMinValue = 0;
    qint32 FMaxValue = 2147483647;
};
