#pragma once

// Qt
#include <QString>

class QWidget;

// Asks for a destination folder and copies (or moves) sourceFile into it.
// The caller checks afterwards whether a moved file is gone.
void ShowCopyForm(QWidget *owner, const QString &sourceFile, bool move);

// Ensures destFolder exists (asking "<folder> folder does not exist. Create
// it?") and copies or moves the file into it through the shell layer.
void ShellCopyFile(QWidget *owner, const QString &sourceFile, const QString &destFolder, bool move);
