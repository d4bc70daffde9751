#include "CopyForm.h"
#include "ui_CopyForm.h"

// Local
#include "AppError.h"
#include "FileIo.h"
#include "GuardedSlots.h"
#include "PathDialog.h"
#include "Prompts.h"
#include "RegLib.h"
#include "ShellOps.h"
#include "TextUtils.h"

// Qt
#include <QCollator>
#include <QCompleter>
#include <QDir>
#include <QFileInfo>

// Std
#include <cerrno>

namespace {

const int kLastReadIndex = 30;
const int kLastWrittenIndex = 31;

QString LastDestFolderName()
{
    return QStringLiteral("LastDestFolder");
}

} // namespace

TfrmCopy::TfrmCopy(QWidget *owner)
    : QDialog(owner)
    , ui(std::make_unique<Ui::TfrmCopy>())
{
    ui->setupUi(this);
    edtSource = ui->edtSource;
    cbxDest = ui->cbxDest;
    btnSelectFolder = ui->btnSelectFolder;
    btnOK = ui->btnOK;
    btnCancel = ui->btnCancel;

    QPalette readOnly = edtSource->palette();
    readOnly.setColor(QPalette::Base, readOnly.color(QPalette::Button));
    edtSource->setPalette(readOnly);
    // Folders that differ only in letter case are different folders: the
    // box must neither complete nor match across case.
    if (QCompleter *completer = cbxDest->completer())
        completer->setCaseSensitivity(Qt::CaseSensitive);

    PathDialog = new TPathDialog(this);
    PathDialog->Title = QStringLiteral("Select the destination folder");

    ConnectGuarded(btnSelectFolder, &QPushButton::clicked, this, &TfrmCopy::btnSelectFolderClick);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    setFixedSize(QSize(392, 191).expandedTo(sizeHint()));
}

TfrmCopy::~TfrmCopy() = default;

void TfrmCopy::AddDestFolder(const QString &folder)
{
    if (cbxDest->findText(folder, Qt::MatchFixedString | Qt::MatchCaseSensitive) >= 0)
        return;
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    int index = 0;
    while (index < cbxDest->count()) {
        const QString item = cbxDest->itemText(index);
        int order = collator.compare(item, folder);
        if (order == 0)
            order = item.compare(folder);
        if (order > 0)
            break;
        ++index;
    }
    // Inserting into an empty box would make the item current and replace
    // the typed text.
    const QString text = cbxDest->currentText();
    cbxDest->insertItem(index, folder);
    if (cbxDest->currentText() != text)
        cbxDest->setEditText(text);
}

void TfrmCopy::LoadDestFolders()
{
    const QString last = ReadRegString(kAppKey, LastDestFolderName());
    ReadFolderHistory(kDestFoldersKey, kLastReadIndex, [this](const QString &folder) { AddDestFolder(folder); });
    cbxDest->setCurrentIndex(-1);
    cbxDest->setEditText(last);
}

void TfrmCopy::SaveDestFolders()
{
    const QString text = cbxDest->currentText();
    if (!TrimBlanks(text).isEmpty()) {
        WriteRegString(kAppKey, LastDestFolderName(), text);
        AddDestFolder(text);
    }
    QStringList folders;
    for (int i = 0; i < cbxDest->count(); ++i)
        folders << cbxDest->itemText(i);
    RewriteRegStringList(kDestFoldersKey, folders, kLastWrittenIndex);
}

void TfrmCopy::btnSelectFolderClick()
{
    const QString text = cbxDest->currentText();
    PathDialog->SetDirectory(TrimBlanks(text).isEmpty() ? QStringLiteral("/") : text);
    if (PathDialog->Execute())
        cbxDest->setEditText(PathDialog->Directory());
    cbxDest->setFocus();
}

void ShowCopyForm(QWidget *owner, const QString &sourceFile, bool move)
{
    TfrmCopy form(owner);
    form.setWindowTitle(move ? QStringLiteral("Move File") : QStringLiteral("Copy File"));
    form.edtSource->setText(sourceFile);
    form.edtSource->setCursorPosition(0);
    form.LoadDestFolders();
    if (form.exec() != QDialog::Accepted)
        return;
    form.SaveDestFolders();
    const QString destFolder = form.cbxDest->currentText();
    ShellCopyFile(owner, sourceFile, destFolder, move);
}

void ShellCopyFile(QWidget *owner, const QString &sourceFile, const QString &destFolder, bool move)
{
    if (!QFileInfo(destFolder).isDir()) {
        // Centred on the screen, as the question is not about the dialog.
        if (!ConfirmYes(nullptr, destFolder + QStringLiteral(" folder does not exist. Create it?"),
                        QMessageBox::Yes | QMessageBox::Cancel))
            return;
        if (destFolder.isEmpty())
            throw AppError(QStringLiteral("Unable to create directory"));
        const int error = FileIo::MakePath(destFolder);
        if (error || !QFileInfo(destFolder).isDir()) {
            ShowWarning(nullptr, QStringLiteral("Unable to create the destination folder.\n%1: %2")
                                     .arg(destFolder, FileIo::ErrorText(error ? error : ENOTDIR)));
            return;
        }
    }
    ShellCopyOrMove(owner, sourceFile, destFolder, move);
}
