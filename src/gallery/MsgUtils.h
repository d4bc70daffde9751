#pragma once

// Qt
#include <QMessageBox>
#include <QString>

// The gallery's message box: an information box ("Information", OK) or a
// confirmation box ("Confirm", question icon, Yes and Cancel). It belongs to
// the window the user is working in, so it opens centred over it, and it goes
// through the program's prompt seam. Returns the button pressed.
QMessageBox::StandardButton CenteredMessageDlg(const QString &text, QMessageBox::Icon kind,
                                               QMessageBox::StandardButtons buttons);
