#include "Prompts.h"

// Qt
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLayout>
#include <QPixmap>
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

// Adds widget to the bottom of Qt's own file dialog, across its whole width.
void AddBelow(QFileDialog &dialog, QWidget *widget)
{
    if (auto *grid = qobject_cast<QGridLayout *>(dialog.layout()))
        grid->addWidget(widget, grid->rowCount(), 0, 1, grid->columnCount());
    else if (QLayout *layout = dialog.layout())
        layout->addWidget(widget);
}

// The picture preview at the right of Qt's own file dialog.
QLabel *AddPreview(QFileDialog &dialog, const OpenFileRequest &request)
{
    const QSize box(150, 189);
    auto *preview = new QLabel(&dialog);
    preview->setObjectName(QStringLiteral("preview"));
    preview->setFixedSize(box);
    preview->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    if (auto *grid = qobject_cast<QGridLayout *>(dialog.layout()))
        grid->addWidget(preview, 0, grid->columnCount(), grid->rowCount(), 1);
    QObject::connect(&dialog, &QFileDialog::currentChanged, preview, [preview, box, &request](const QString &path) {
        QImage image;
        if (QFileInfo(path).isFile()) {
            // A file that cannot be previewed simply shows nothing.
            try {
                image = request.preview(path, box);
            } catch (...) {
                // No preview is the whole report: the file is still there to choose.
                image = QImage();
            }
        }
        preview->setPixmap(image.isNull() ? QPixmap() : QPixmap::fromImage(image));
    });
    return preview;
}

bool IsWithinFolder(const QString &path, const QString &folder)
{
    const QString p = QDir::cleanPath(path);
    const QString f = QDir::cleanPath(folder);
    return f == QLatin1String("/") || p == f || p.startsWith(f + u'/');
}

// The box values of the widget-free seam are QMessageBox's own.
static_assert(int(Box::NoIcon) == int(QMessageBox::NoIcon) && int(Box::Information) == int(QMessageBox::Information)
              && int(Box::Warning) == int(QMessageBox::Warning) && int(Box::Critical) == int(QMessageBox::Critical)
              && int(Box::Question) == int(QMessageBox::Question));
static_assert(int(Box::NoButton) == int(QMessageBox::NoButton) && int(Box::Ok) == int(QMessageBox::Ok)
              && int(Box::Yes) == int(QMessageBox::Yes) && int(Box::No) == int(QMessageBox::No)
              && int(Box::Cancel) == int(QMessageBox::Cancel));

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
    UserPrompts::install(&current());
    return previous;
}

int Prompts::askMessage(QWidget *parent, Box::Icon icon, const QString &caption, const QString &text,
                        int buttons, int defaultButton)
{
    return message(parent, QMessageBox::Icon(icon), caption, text, QMessageBox::StandardButtons(buttons),
                   QMessageBox::StandardButton(defaultButton));
}

void Prompts::showError(const QString &caption, const QString &text)
{
    QWidget *parent = QApplication::activeModalWidget();
    if (!parent)
        parent = QApplication::activeWindow();
    message(parent, QMessageBox::Critical, caption, text, QMessageBox::Ok, QMessageBox::Ok);
}

QMessageBox::StandardButton DesktopPrompts::message(QWidget *parent, QMessageBox::Icon icon,
                                                    const QString &caption, const QString &text,
                                                    QMessageBox::StandardButtons buttons,
                                                    QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, caption, text, buttons, parent);
    // Messages name files and folders, whose names may look like markup
    // ("x<b>bold.bmp"); no message of the program is rich text.
    box.setTextFormat(Qt::PlainText);
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
    if (request.previewPane && request.preview) {
        // The preview lives in Qt's own dialog.
        dialog.setOption(QFileDialog::DontUseNativeDialog, true);
        AddPreview(dialog, request);
    }
    if (dialog.exec() != QDialog::Accepted)
        return {};
    QStringList files;
    for (const QString &f : dialog.selectedFiles())
        files << QDir::cleanPath(QFileInfo(f).absoluteFilePath());
    return files;
}

QString DesktopPrompts::chooseFolder(FolderRequest &request)
{
    QString start = request.directory;
    if (!request.rootPath.isEmpty() && (start.isEmpty() || !IsWithinFolder(start, request.rootPath)))
        start = request.rootPath;
    QFileDialog dialog(request.owner, request.title, start);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    // Qt's own dialog, so that the status line can sit in it and the
    // selection can be followed.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    if (!request.rootPath.isEmpty()) {
        // The dialog has no tree root; the root comes first in its side bar.
        QList<QUrl> places = dialog.sidebarUrls();
        const QUrl root = QUrl::fromLocalFile(request.rootPath);
        places.removeAll(root);
        places.prepend(root);
        dialog.setSidebarUrls(places);
    }
    QLabel *status = nullptr;
    if (request.showStatus) {
        status = new QLabel(&dialog);
        status->setObjectName(QStringLiteral("statusText"));
        status->setTextFormat(Qt::PlainText);
        AddBelow(dialog, status);
    }
    QtFolderDialogHandle handle(&dialog, status);
    // A handler that moves the selection changes it again; it is not told
    // about its own move.
    bool selecting = false;
    if (request.onSelect) {
        const auto select = [&request, &selecting](const QString &path) {
            if (selecting)
                return;
            selecting = true;
            try {
                request.onSelect(QFileInfo(path).isDir() ? path : QString());
            } catch (...) {
                // The folder picker's handlers show their own errors; nothing may unwind through the dialog's event loop.
            }
            selecting = false;
        };
        QObject::connect(&dialog, &QFileDialog::currentChanged, &dialog, select);
        QObject::connect(&dialog, &QFileDialog::directoryEntered, &dialog, select);
    }
    if (request.onOpened) {
        // Once the dialog is up, as the folder picker's OnShow expects.
        QMetaObject::invokeMethod(&dialog, [&request, &handle] {
            try {
                request.onOpened(&handle);
            } catch (...) {
                // As for onSelect: its owner shows its own errors, and the dialog must stay up.
            }
        }, Qt::QueuedConnection);
    }
    const int result = dialog.exec();
    if (request.onClosed)
        request.onClosed();
    if (result != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

void DesktopPrompts::openDocument(const QString &pathOrUrl)
{
    OpenWithDesktop(pathOrUrl);
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

QString MenuEntryText(const QString &name)
{
    return QString(name).replace(u'&', QLatin1String("&&"));
}

QString WindowTitleText(const QString &text)
{
    // Qt shows a pair of placeholders as one literal "[*]". One "[*]" cannot
    // overlap another, so doubling each leaves the rest of the text as it is.
    return QString(text).replace(QLatin1String("[*]"), QLatin1String("[*][*]"));
}
