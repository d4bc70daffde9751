#pragma once

// Qt
#include <QMessageBox>
#include <QString>

// The gallery's message box, centred over the main window: an information
// box (OK) or a confirmation box (Yes and Cancel). Returns the button.
QMessageBox::StandardButton CenteredMessageDlg(const QString &text, QMessageBox::Icon kind,
                                               QMessageBox::StandardButtons buttons);
