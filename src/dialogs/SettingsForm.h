#pragma once

// Qt
#include <QDialog>
#include <QFlags>

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;

enum TFileType { ftBMP = 1, ftJPEG = 2 };
Q_DECLARE_FLAGS(TFileTypes, TFileType)
Q_DECLARE_OPERATORS_FOR_FLAGS(TFileTypes)

// The file-associations dialog. Its boxes always open unchecked: it does
// not read the current associations.
class TfrmSettings : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmSettings(QWidget *owner = nullptr);

    QGroupBox *grpAssociations;
    QLabel *lblAssociate;
    QCheckBox *cbxBMP;
    QCheckBox *cbxJPEG;
    QPushButton *btnOK;
    QPushButton *btnCancel;
};

// Runs the file-associations dialog and writes the associations when it
// closes (OK or Cancel).
void ShowSettingsForm(QWidget *owner);

// Writes the desktop entry, then the JPEG and BMP defaults of mimeapps.list.
// A location that cannot be written is skipped without a message; nothing
// already there is removed.
void RegisterFileTypes(TFileTypes types);
// The same for another program file (the tests' way to vary the path).
void RegisterFileTypes(TFileTypes types, const QString &programFile);

// Name of the program's desktop entry, and where the user's copy of it and
// the user's mimeapps.list live.
inline constexpr char kDesktopEntryName[] = "tamsel-photo-editor.desktop";
QString DesktopEntryFile();
QString MimeAppsFile();

// The Exec value of the desktop entry for a program file, then the file's
// placeholder: the path as it is when it has no character Exec reserves,
// else "env" and the path quoted and escaped as desktop entries require.
QString DesktopEntryExec(const QString &programFile);

// mimeapps.list with our entry first among the defaults of mimeType; every
// other line is kept as it was.
QByteArray WithDefaultApplication(const QByteArray &mimeApps, const QByteArray &mimeType);
