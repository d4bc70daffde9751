#pragma once

// Qt
#include <QString>

// Std
#include <functional>

class QWidget;

// What the program asks of the desktop shell: delete one file (to the Trash
// or for good, each after a confirmation), copy or move one file into a
// folder (asking before replacing a file of the same name), and open a
// document, folder or web address with its default program.
//
// Every question goes through the prompt seam (UserPrompts), so tests answer them. Failures are
// shown in the error box, naming the file and the reason; no failure ever
// loses a file. A copy is written to a hidden temporary file in the
// destination folder, flushed to disk and only then renamed to the file's
// name, so that neither a full disk nor a crash leaves a half file under
// that name or destroys the file it replaces. A move within one file system
// is a rename; across file systems it is such a copy, and the source is
// removed only after the copy is complete.

// Deletes FileName after the confirmation; AllowUndo moves it to the Trash.
// Returns true when the file was deleted.
bool ShellDeleteFile(QWidget *owner, const QString &fileName, bool allowUndo);

// Copies or moves SourceFile into DestFolder under its own name. Returns true
// when the operation completed; false when it failed (after the error box) or
// the user declined to replace a file.
bool ShellCopyOrMove(QWidget *owner, const QString &sourceFile, const QString &destFolder, bool move);

// Opens a document, folder or address with its default program; the result
// is not examined.
void ShellOpen(const QString &pathOrUrl);

// The rename a move tries first. It returns 0 or an errno value; with
// replace false it must not replace an existing file (EEXIST). Tests install
// one that fails with EXDEV to take the path of a move across file systems.
// Returns the previous function; an empty one restores the system's.
using ShellRenameFunction = std::function<int(const QString &from, const QString &to, bool replace)>;
ShellRenameFunction SetShellRenameFunction(ShellRenameFunction rename);
