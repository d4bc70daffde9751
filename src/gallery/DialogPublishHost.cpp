#include "DialogPublishHost.h"

// Local
#include "MsgUtils.h"
#include "ProgressDlg.h"
#include "ShellOps.h"

// Qt
#include <QApplication>

namespace {

// The progress dialog of a run from the gallery dialog. The dialog belongs
// to a window and may in theory die with it; then the run stops.
class DialogProgress : public TPublishProgress
{
public:
    explicit DialogProgress(TfrmProgress *dialog) : FDialog(dialog) {}
    ~DialogProgress() override { delete FDialog.data(); }

    void SetPosition(int position) override
    {
        if (FDialog)
            FDialog->SetPosition(position);
    }
    bool Cancelled() override { return FDialog ? FDialog->Cancelled() : true; }
    void Waiting() override { QCoreApplication::processEvents(); }

private:
    QPointer<TfrmProgress> FDialog;
};

} // namespace

DialogPublishHost::DialogPublishHost(QWidget *owner)
    : FOwner(owner)
{
}

void DialogPublishHost::ShowPhotosPage()
{
    if (OnShowPhotosPage)
        OnShowPhotosPage();
}

void DialogPublishHost::ShowDestinationSetting()
{
    if (OnShowDestinationSetting)
        OnShowDestinationSetting();
}

void DialogPublishHost::Information(const QString &text)
{
    CenteredMessageDlg(text, QMessageBox::Information, QMessageBox::Ok);
}

bool DialogPublishHost::Confirm(const QString &text)
{
    return CenteredMessageDlg(text, QMessageBox::Question, QMessageBox::Yes | QMessageBox::Cancel)
           == QMessageBox::Yes;
}

std::unique_ptr<TPublishProgress> DialogPublishHost::StartProgress(const QString &caption, const QString &text)
{
    // A progress dialog owned by a window that a modal dialog blocks would be
    // blocked too, Cancel included.
    QWidget *owner = QApplication::activeModalWidget();
    if (!owner)
        owner = FOwner;
    auto *dialog = new TfrmProgress(owner);
    auto progress = std::make_unique<DialogProgress>(dialog);
    dialog->setWindowTitle(caption);
    dialog->SetText(text);
    dialog->show();
    QCoreApplication::processEvents();
    return progress;
}

void DialogPublishHost::OpenDocument(const QString &path)
{
    ShellOpen(path);
}
