#pragma once

// Qt
#include <QDialog>
#include <QString>

// Std
#include <memory>

class QComboBox;
class QLineEdit;
class QPushButton;
class QWidget;
class TPathDialog;

namespace Ui {
class TfrmCopy;
}

// The copy and move dialog: the source file, read-only, and the destination
// folder typed or chosen from the history of destinations used before
// (sorted ignoring letter case; folders that differ only in case are
// different folders). The history and the last destination live in the
// settings store.
class TfrmCopy : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmCopy(QWidget *owner = nullptr);
    ~TfrmCopy() override;

    QLineEdit *edtSource;
    QComboBox *cbxDest;
    QPushButton *btnSelectFolder;
    QPushButton *btnOK;
    QPushButton *btnCancel;
    TPathDialog *PathDialog;

    // Fills the destination box from the store: the last destination as its
    // text, the history (indices 0 to 30, up to the first empty value) as its
    // list, leaving out folders that no longer exist.
    void LoadDestFolders();
    // Stores the destination text (when not blank) and the history, the
    // destination added to it.
    void SaveDestFolders();
    // Adds folder to the list at its sorted place, unless the list holds it.
    void AddDestFolder(const QString &folder);

public slots:
    void btnSelectFolderClick();

private:
    std::unique_ptr<Ui::TfrmCopy> ui;
};

// Asks for a destination folder and copies (or moves) sourceFile into it.
// The caller checks afterwards whether a moved file is gone.
void ShowCopyForm(QWidget *owner, const QString &sourceFile, bool move);

// Ensures destFolder exists (asking "<folder> folder does not exist. Create
// it?") and copies or moves the file into it through the shell layer.
void ShellCopyFile(QWidget *owner, const QString &sourceFile, const QString &destFolder, bool move);
