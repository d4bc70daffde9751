#pragma once

// Qt
#include <QString>

class QWidget;

// What the program asks of the desktop shell: delete one file (to the Trash
// or for good, each after a confirmation), copy or move one file into a
// folder (asking before replacing a file of the same name), and open a
// document, folder or web address with its default program.
//
// Every question goes through Prompts, so tests answer them. Failures are
// shown in an error box that names the file and the reason; no failure ever
// loses a file.

// Deletes FileName after the confirmation; AllowUndo moves it to the Trash.
// Returns true when the file was deleted.
bool ShellDeleteFile(QWidget *owner, const QString &fileName, bool allowUndo);

// Copies or moves SourceFile into DestFolder under its own name. Returns true
// when the operation completed.
bool ShellCopyOrMove(QWidget *owner, const QString &sourceFile, const QString &destFolder, bool move);

// Opens a document, folder or address with its default program; the result
// is not examined.
void ShellOpen(const QString &pathOrUrl);
