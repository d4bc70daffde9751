#pragma once

// Qt
#include <QString>

class QWidget;

// The half of the prompt seam that code without widgets speaks: the shell
// layer and the error handler ask and tell the user through it. The window
// passes its QWidget along as the box's owner; nothing here looks inside it.
//
// The widget library's Prompts is a UserPrompts and shows Qt's message boxes;
// installing one (Prompts::install) makes it answer these questions too. With
// none installed, as in the command-line tool, nobody is asked: messages go
// to the standard error output and every question is answered with "no".

// Message box icons and buttons with the values of QMessageBox::Icon and
// QMessageBox::StandardButton, so that the box layer hands them on as they
// are.
namespace Box {
enum Icon { NoIcon = 0, Information = 1, Warning = 2, Critical = 3, Question = 4 };
enum Button : int {
    NoButton = 0,
    Ok = 0x00000400,
    Yes = 0x00004000,
    No = 0x00010000,
    Cancel = 0x00400000,
};
} // namespace Box

class UserPrompts
{
public:
    virtual ~UserPrompts();

    // A standard message box; returns the Box::Button pressed.
    virtual int askMessage(QWidget *parent, Box::Icon icon, const QString &caption, const QString &text,
                           int buttons, int defaultButton) = 0;

    // The error box of the general error handler (one OK button), over the
    // window the user is working in.
    virtual void showError(const QString &caption, const QString &text);

    // Opens a document, folder or web address with its default program. The
    // result is not examined.
    virtual void openDocument(const QString &pathOrUrl) = 0;

    // The installed instance, or the one that asks nobody.
    static UserPrompts &current();
    // Replaces the instance; nullptr restores the one that asks nobody.
    // Returns the previous one.
    static UserPrompts *install(UserPrompts *prompts);
};

// Opens a document, folder or web address with the desktop's default
// program (QDesktopServices); the result is not examined.
void OpenWithDesktop(const QString &pathOrUrl);
