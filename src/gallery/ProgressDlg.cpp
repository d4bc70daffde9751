#include "ProgressDlg.h"

// Qt
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

// Std
#include <chrono>
#include <utility>

namespace {

qint64 SteadyMilliseconds()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

TfrmProgress::TfrmProgress(QWidget *owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , FClock(SteadyMilliseconds)
{
    setObjectName(QStringLiteral("frmProgress"));
    setWindowTitle(QStringLiteral("Processing..."));

    auto *panel = new QFrame(this);
    panel->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    lblText = new QLabel(panel);
    lblText->setObjectName(QStringLiteral("lblText"));
    // The text may name a file or folder; it is shown as written.
    lblText->setTextFormat(Qt::PlainText);
    ProgressBar = new QProgressBar(panel);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);
    ProgressBar->setFixedHeight(16);
    ProgressBar->setMinimumWidth(340);
    lblTime = new QLabel(panel);
    lblTime->setObjectName(QStringLiteral("lblTime"));

    auto *panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(15, 8, 15, 8);
    panelLayout->addWidget(lblText);
    panelLayout->addWidget(ProgressBar);
    panelLayout->addWidget(lblTime);

    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setFixedSize(75, 25);
    // Not a tab stop, and Enter does not press it.
    btnCancel->setFocusPolicy(Qt::ClickFocus);
    btnCancel->setAutoDefault(false);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmProgress::btnCancelClick);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnCancel);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->addWidget(panel);
    layout->addLayout(buttons);

    setFixedSize(sizeHint().expandedTo(QSize(392, 148)));
}

TfrmProgress::~TfrmProgress()
{
    // The hide that Qt performs while destroying no longer reaches
    // hideEvent, so give the other windows back here.
    EnableOtherWindows();
}

void TfrmProgress::SetText(const QString &text)
{
    lblText->setText(text);
}

void TfrmProgress::SetPosition(int value)
{
    value = qBound(0, value, 100);
    if (value == FPosition)
        return;
    ProgressBar->setValue(value);
    FPosition = value;
    if (FShowTime) {
        if (const std::optional<QString> text = FTimeLeft.Update(FPosition, FClock()))
            lblTime->setText(*text);
    }
}

bool TfrmProgress::Cancelled()
{
    QCoreApplication::processEvents();
    return FCancelled;
}

void TfrmProgress::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    FCancelled = false;
    FPosition = 0;
    DisableOtherWindows();
}

void TfrmProgress::hideEvent(QHideEvent *event)
{
    QDialog::hideEvent(event);
    if (!event->spontaneous())
        EnableOtherWindows();
}

void TfrmProgress::closeEvent(QCloseEvent *event)
{
    FCancelled = true;
    event->accept();
}

void TfrmProgress::reject()
{
    btnCancelClick();
}

void TfrmProgress::btnCancelClick()
{
    FCancelled = true;
}

void TfrmProgress::DisableOtherWindows()
{
    EnableOtherWindows();
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (window == this || !window->isVisible() || !window->isEnabled())
            continue;
        window->setEnabled(false);
        FDisabledWindows << QPointer<QWidget>(window);
    }
    // Disabling our owner disables us too; a window may be enabled again on
    // its own.
    if (!isEnabled())
        setEnabled(true);
}

void TfrmProgress::EnableOtherWindows()
{
    const QList<QPointer<QWidget>> windows = std::exchange(FDisabledWindows, {});
    for (const QPointer<QWidget> &window : windows) {
        if (window)
            window->setEnabled(true);
    }
}
