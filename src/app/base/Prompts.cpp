#include "Prompts.h"

// Qt
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLayout>
#include <QUrl>

namespace {

DesktopPrompts &desktopPrompts()
{
    static DesktopPrompts instance;
    return instance;
}

Prompts *g_installed = nullptr;

// Status line and selection of an open QFileDialog, as the folder picker
// drives them.
class QtFolderDialogHandle : public FolderDialogHandle
{
public:
    QtFolderDialogHandle(QFileDialog *dialog, QLabel *status)
        : FDialog(dialog), FStatus(status) {}

    void setSelection(const QString &path) override
    {
        QFileInfo info(path);
        if (info.isDir())
            FDialog->setDirectory(path);
    }
    void setStatusText(const QString &text) override
    {
        if (FStatus)
            FStatus->setText(text);
    }

private:
    QFileDialog *FDialog;
    QLabel *FStatus;
};

} // namespace

FolderDialogHandle::~FolderDialogHandle() = default;
Prompts::~Prompts() = default;

Prompts &Prompts::current()
{
    return g_installed ? *g_installed : desktopPrompts();
}

Prompts *Prompts::install(Prompts *prompts)
{
    Prompts *previous = g_installed;
    g_installed = prompts;
    return previous;
}

QMessageBox::StandardButton DesktopPrompts::message(QWidget *parent, QMessageBox::Icon icon,
                                                    const QString &caption, const QString &text,
                                                    QMessageBox::StandardButtons buttons,
                                                    QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, caption, text, buttons, parent);
    box.setDefaultButton(defaultButton);
    box.exec();
    QAbstractButton *clicked = box.clickedButton();
    if (!clicked)
        return QMessageBox::Cancel;
    return box.standardButton(clicked);
}

QStringList DesktopPrompts::openFiles(const OpenFileRequest &request)
{
    QFileDialog dialog(request.owner, request.title, request.initialDir);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(request.multiSelect ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    dialog.setNameFilters(request.nameFilters);
    if (request.filterIndex >= 0 && request.filterIndex < request.nameFilters.size())
        dialog.selectNameFilter(request.nameFilters.at(request.filterIndex));
    if (dialog.exec() != QDialog::Accepted)
        return {};
    QStringList files;
    for (const QString &f : dialog.selectedFiles())
        files << QDir::cleanPath(QFileInfo(f).absoluteFilePath());
    return files;
}

QString DesktopPrompts::chooseFolder(FolderRequest &request)
{
    QFileDialog dialog(request.owner, request.title, request.directory);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    // Qt's own dialog, so that the status line can sit in it and the
    // selection can be followed.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    QLabel *status = nullptr;
    if (request.showStatus) {
        status = new QLabel(&dialog);
        if (QLayout *layout = dialog.layout())
            layout->addWidget(status);
    }
    QtFolderDialogHandle handle(&dialog, status);
    if (request.onSelect) {
        QObject::connect(&dialog, &QFileDialog::currentChanged, &dialog,
                         [&request](const QString &path) {
                             request.onSelect(QFileInfo(path).isDir() ? path : QString());
                         });
    }
    if (request.onOpened)
        request.onOpened(&handle);
    const int result = dialog.exec();
    if (request.onClosed)
        request.onClosed();
    if (result != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

void DesktopPrompts::openDocument(const QString &pathOrUrl)
{
    const QUrl url = pathOrUrl.contains(QLatin1String("://"))
                         ? QUrl(pathOrUrl)
                         : QUrl::fromLocalFile(pathOrUrl);
    QDesktopServices::openUrl(url);
}

bool ConfirmYes(QWidget *parent, const QString &text, QMessageBox::StandardButtons buttons)
{
    return Prompts::current().message(parent, QMessageBox::Question, QStringLiteral("Confirm"), text,
                                      buttons, QMessageBox::Yes)
           == QMessageBox::Yes;
}

void ShowWarning(QWidget *parent, const QString &text)
{
    Prompts::current().message(parent, QMessageBox::Warning, QStringLiteral("Warning"), text,
                               QMessageBox::Ok, QMessageBox::Ok);
}

void ShowInformation(QWidget *parent, const QString &text)
{
    Prompts::current().message(parent, QMessageBox::Information, QStringLiteral("Information"), text,
                               QMessageBox::Ok, QMessageBox::Ok);
}
