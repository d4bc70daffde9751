#pragma once

// Qt
#include <QObject>
#include <QString>

// Std
#include <functional>

class FolderDialogHandle;
class QWidget;

enum TRootItem { riMyComputer, riDesktop };

// The folder picker: a component owned by a form that lets the user choose a
// folder in a modal folder dialog (through the Prompts seam). The root item
// riMyComputer is "/", riDesktop the user's desktop folder. Errors raised by
// the OnShow and OnSelect handlers never reach the dialog: an AppError shows
// its text in a plain message box and the dialog stays open; anything else is
// ignored.
class TPathDialog : public QObject
{
    Q_OBJECT

public:
    explicit TPathDialog(QObject *owner = nullptr);

    QString Title;
    bool ShowStatus = false;
    TRootItem RootItem = riMyComputer;
    int Tag = 0;
    std::function<void(TPathDialog *sender)> OnShow;
    std::function<void(TPathDialog *sender, const QString &path)> OnSelect;

    QString Directory() const { return FDirectory; }
    // Drops one trailing "/" unless the value is "/"; "" becomes the current
    // directory. While the dialog is open, moves its selection there.
    void SetDirectory(const QString &value);

    QString StatusText() const { return FStatusText; }
    // While the dialog is open and ShowStatus is on, shows the text.
    void SetStatusText(const QString &value);

    // Shows the dialog; true when a folder was chosen (then in Directory,
    // exactly as the dialog returned it). Cancel leaves Directory as it was.
    bool Execute();

    // The folder at the root of the dialog's tree for RootItem.
    QString RootPath() const;

private:
    void RunHandler(const std::function<void()> &handler);

    QString FDirectory;
    QString FStatusText;
    FolderDialogHandle *FOpenDialog = nullptr;
};
