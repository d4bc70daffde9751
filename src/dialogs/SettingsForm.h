#pragma once

// Qt
#include <QFlags>

class QWidget;

enum TFileType { ftBMP = 1, ftJPEG = 2 };
Q_DECLARE_FLAGS(TFileTypes, TFileType)
Q_DECLARE_OPERATORS_FOR_FLAGS(TFileTypes)

// Runs the file-associations dialog and writes the associations when it
// closes (OK or Cancel).
void ShowSettingsForm(QWidget *owner);

// Writes the desktop entry, then the JPEG and BMP defaults of mimeapps.list.
void RegisterFileTypes(TFileTypes types);
