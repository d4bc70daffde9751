#pragma once

// Local
#include "PublishUtils.h"

// Qt
#include <QDialog>
#include <QList>
#include <QPointer>
#include <QString>

// Std
#include <functional>
#include <optional>

class QLabel;
class QProgressBar;
class QPushButton;

// Progress of a long job on the GUI thread: a bar from 0 to 100, a text
// line, the time remaining and Cancel. It is shown without being modal, but
// while it is visible every other window of the application is disabled, so
// the job's own loop keeps control and polls Cancelled. A close request
// counts as Cancel.
class TfrmProgress : public QDialog
{
    Q_OBJECT

public:
    // Milliseconds of a monotonic clock; tests supply their own.
    using Clock = std::function<qint64()>;

    explicit TfrmProgress(QWidget *owner = nullptr);
    ~TfrmProgress() override;

    void SetText(const QString &text);
    void SetPosition(int value);
    // Processes pending events, then answers whether the user cancelled.
    bool Cancelled();

    int Position() const { return FPosition; }
    void SetClock(Clock clock) { FClock = std::move(clock); }

    // Whether position changes update the time-remaining line.
    bool FShowTime = true;

    QLabel *lblText = nullptr;
    QProgressBar *ProgressBar = nullptr;
    QLabel *lblTime = nullptr;
    QPushButton *btnCancel = nullptr;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    // Esc presses Cancel instead of hiding the dialog behind its user's back.
    void reject() override;

private:
    void btnCancelClick();
    void DisableOtherWindows();
    void EnableOtherWindows();

    bool FCancelled = false;
    int FPosition = 0;
    TTimeLeft FTimeLeft;
    Clock FClock;
    QList<QPointer<QWidget>> FDisabledWindows;
};
