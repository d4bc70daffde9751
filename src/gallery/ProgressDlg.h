#pragma once

// Qt
#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

// Progress of a long job on the GUI thread: a bar from 0 to 100, a text
// line, the time remaining and Cancel. While shown it disables the other
// windows of the application.
class TfrmProgress : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmProgress(QWidget *owner = nullptr);
    ~TfrmProgress() override;

    void SetText(const QString &text);
    void SetPosition(int value);
    // Processes pending events, then answers whether the user cancelled.
    bool Cancelled();
};
