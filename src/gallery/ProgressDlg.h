#pragma once

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

// "59 seconds remaining", "1 minutes remaining", "3 hours remaining": below a
// minute in seconds, below three hours in whole minutes, else in whole hours.
QString TimeRemainingText(qint64 seconds);

// The time-remaining estimate of a progress display. It assumes every
// remaining percent takes as long as the last change of position did, and
// only a change more than one second after the previous one gives a new text.
class TTimeLeft
{
public:
    // Call on each change of position; nowMs is a monotonic clock in
    // milliseconds. Returns the new text, or nothing when the old one stays.
    std::optional<QString> Update(int position, qint64 nowMs);

private:
    std::optional<qint64> FLastTime;
};

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
