#pragma once

// Local
#include "UserPrompts.h"

// Qt
#include <QImage>
#include <QMessageBox>
#include <QSize>
#include <QString>
#include <QStringList>

// Std
#include <functional>

class QWidget;

// What an open-file dialog is asked for and what it answers.
struct OpenFileRequest
{
    QWidget *owner = nullptr;
    QString title;          // empty: the system's own title
    QString initialDir;     // empty: the system chooses
    QStringList nameFilters; // Qt filters, e.g. "Image Files (*.jpeg *.jpg)"
    int filterIndex = 0;    // filter selected at start
    bool multiSelect = false;
    bool previewPane = false; // the gallery's picture dialog shows a preview
    // Makes the preview of a file fitted into box; a null image shows none.
    std::function<QImage(const QString &file, const QSize &box)> preview;
};

// While a folder dialog is open, the folder picker can move its selection and
// set its status line through this handle.
class FolderDialogHandle
{
public:
    virtual ~FolderDialogHandle();
    virtual void setSelection(const QString &path) = 0;
    virtual void setStatusText(const QString &text) = 0;
};

// What a folder dialog is asked for. The callbacks let the folder picker
// follow the dialog while it is open.
struct FolderRequest
{
    QWidget *owner = nullptr;
    QString title;
    QString directory;      // folder to preselect
    QString rootPath;       // root of the tree ("/" or the desktop folder)
    bool showStatus = false;
    // Called once the dialog is up, with a handle valid until onClosed.
    std::function<void(FolderDialogHandle *)> onOpened;
    // Called each time the selection changes, with its path ("" if none).
    std::function<void(const QString &path)> onSelect;
    // Called when the dialog has closed, before chooseFolder returns.
    std::function<void()> onClosed;
};

// The one seam through which the program asks the user anything or hands a
// document to the desktop. The real implementation shows Qt's message boxes
// and file dialogs and calls QDesktopServices; tests install their own and
// answer without a person. It also answers the widget-free half of the seam
// (UserPrompts), through which the shell layer and the error handler ask.
class Prompts : public UserPrompts
{
public:
    ~Prompts() override;

    // A standard message box; returns the button pressed (or the escape
    // button's value when the box is closed).
    virtual QMessageBox::StandardButton message(QWidget *parent, QMessageBox::Icon icon,
                                                const QString &caption, const QString &text,
                                                QMessageBox::StandardButtons buttons,
                                                QMessageBox::StandardButton defaultButton) = 0;

    // A modal open-file dialog; returns the chosen files as full paths, empty
    // when cancelled.
    virtual QStringList openFiles(const OpenFileRequest &request) = 0;

    // A modal folder dialog; returns the chosen folder, or an empty string
    // when cancelled.
    virtual QString chooseFolder(FolderRequest &request) = 0;

    // The widget-free questions, as message boxes.
    int askMessage(QWidget *parent, Box::Icon icon, const QString &caption, const QString &text,
                   int buttons, int defaultButton) final;
    // The error box belongs to the window on top: the active modal dialog,
    // else the active window, so that it opens over the dialog that failed.
    void showError(const QString &caption, const QString &text) final;

    // The installed instance (the real one unless a test replaced it).
    static Prompts &current();
    // Replaces the instance, for this seam and for UserPrompts alike;
    // nullptr restores the real one. Returns the previous one. The program
    // calls install(nullptr) at start-up so that the widget-free code asks
    // through the real boxes.
    static Prompts *install(Prompts *prompts);
};

// The real, interactive implementation.
class DesktopPrompts : public Prompts
{
public:
    QMessageBox::StandardButton message(QWidget *parent, QMessageBox::Icon icon,
                                        const QString &caption, const QString &text,
                                        QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton) override;
    QStringList openFiles(const OpenFileRequest &request) override;
    QString chooseFolder(FolderRequest &request) override;
    void openDocument(const QString &pathOrUrl) override;
};

// Shorthands for the three standard boxes of the program.
// "Confirm": question icon; returns true only for Yes.
bool ConfirmYes(QWidget *parent, const QString &text,
                QMessageBox::StandardButtons buttons = QMessageBox::Yes | QMessageBox::Cancel);
// "Warning": exclamation icon, OK.
void ShowWarning(QWidget *parent, const QString &text);
// "Information": information icon, OK.
void ShowInformation(QWidget *parent, const QString &text);

// File and folder names may hold characters that Qt reads as markup in the
// texts it shows. Every name shown goes through one of these, or into a
// widget showing plain text, so that it reads exactly as written.
// A menu entry's text: "&" doubled, so that it shows instead of marking an
// access key.
QString MenuEntryText(const QString &name);
// A window title: "[*]" doubled, so that it shows instead of standing for the
// window's modified mark.
QString WindowTitleText(const QString &text);
