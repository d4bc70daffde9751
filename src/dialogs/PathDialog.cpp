#include "PathDialog.h"

// Local
#include "AppError.h"
#include "Prompts.h"

// Qt
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QWidget>

TPathDialog::TPathDialog(QObject *owner)
    : QObject(owner)
{
}

void TPathDialog::SetDirectory(const QString &value)
{
    if (value.isEmpty())
        FDirectory = QDir::currentPath();
    else if (value.endsWith(u'/') && value != QLatin1String("/"))
        FDirectory = value.chopped(1);
    else
        FDirectory = value;
    if (FOpenDialog && !FDirectory.isEmpty())
        FOpenDialog->setSelection(FDirectory);
}

void TPathDialog::SetStatusText(const QString &value)
{
    FStatusText = value;
    if (FOpenDialog && ShowStatus)
        FOpenDialog->setStatusText(value);
}

QString TPathDialog::RootPath() const
{
    if (RootItem == riMyComputer)
        return QStringLiteral("/");
    // Not every desktop has a desktop folder; the home folder stands in.
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (!desktop.isEmpty() && QFileInfo(desktop).isDir())
        return desktop;
    return QDir::homePath();
}

void TPathDialog::RunHandler(const std::function<void()> &handler)
{
    try {
        handler();
    } catch (const AppError &e) {
        QWidget *owner = qobject_cast<QWidget *>(parent());
        Prompts::current().message(owner, QMessageBox::NoIcon, QCoreApplication::applicationName(),
                                   e.message(), QMessageBox::Ok, QMessageBox::Ok);
    } catch (...) {
        // A failure without a text for the user has nothing to show; the dialog goes on.
    }
}

bool TPathDialog::Execute()
{
    FolderRequest request;
    if (auto *owner = qobject_cast<QWidget *>(parent()))
        request.owner = owner->window();
    request.title = Title;
    request.directory = FDirectory;
    request.rootPath = RootPath();
    request.showStatus = ShowStatus;
    request.onOpened = [this](FolderDialogHandle *handle) {
        FOpenDialog = handle;
        // Writing both again normalises the folder and shows both in the
        // dialog that has just come up.
        SetDirectory(FDirectory);
        SetStatusText(FStatusText);
        if (OnShow)
            RunHandler([this] { OnShow(this); });
    };
    request.onSelect = [this](const QString &path) {
        if (OnSelect)
            RunHandler([this, &path] { OnSelect(this, path); });
    };
    request.onClosed = [this] { FOpenDialog = nullptr; };

    const QString chosen = Prompts::current().chooseFolder(request);
    FOpenDialog = nullptr;
    if (chosen.isEmpty())
        return false;
    FDirectory = chosen;
    return true;
}
