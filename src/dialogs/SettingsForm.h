#pragma once

// Qt
#include <QDialog>
#include <QFlags>

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSpinBox;

enum TFileType { ftBMP = 1, ftJPEG = 2 };
Q_DECLARE_FLAGS(TFileTypes, TFileType)
Q_DECLARE_OPERATORS_FOR_FLAGS(TFileTypes)

// The settings dialog: file associations and how photos are shown. The
// association boxes always open unchecked: it does not read the current
// associations. The photo boxes show the stored settings.
class TfrmSettings : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmSettings(QWidget *owner = nullptr);

    QGroupBox *grpAssociations;
    QLabel *lblAssociate;
    QCheckBox *cbxBMP;
    QCheckBox *cbxJPEG;
    QGroupBox *grpPhotos;
    QCheckBox *cbxTurnByOrientation;
    QCheckBox *cbxAllFormats;
    QSpinBox *edtSlideSeconds;
    QPushButton *btnOK;
    QPushButton *btnCancel;
};

// Runs the settings dialog and writes the associations when it closes (OK
// or Cancel); OK also stores the photo settings. Returns what could not be
// written ("" when all was), for the caller's status bar.
QString ShowSettingsForm(QWidget *owner);

// Whether photos are turned upright by their orientation tag: the stored
// value "TurnByOrientation" (1 or 0) of the program's key; on when it is
// missing or not a number.
bool StoredTurnByOrientation();
void StoreTurnByOrientation(bool on);

// Whether PNG, GIF, WebP, TIFF, AVIF and HEIF pictures are shown too: the
// stored value "AllPictureFormats" (1) of the program's key; off when it is
// missing, 0 or not a number, as the orientation value reads. Turning it off removes the value, so that the
// store then holds what it held before the option existed.
bool StoredAllPictureFormats();
void StoreAllPictureFormats(bool on);

// Seconds each picture stays in the slide show: the stored value
// "SlideShowSeconds" of the program's key, 3 when it is missing or out of
// range.
inline constexpr int kMinSlideSeconds = 1;
inline constexpr int kMaxSlideSeconds = 60;
inline constexpr int kDefaultSlideSeconds = 3;
int StoredSlideSeconds();
void StoreSlideSeconds(int seconds);

// Writes the desktop entry, then the JPEG and BMP defaults of mimeapps.list
// (both in one write of it).
// A location that cannot be written is skipped without a message box;
// nothing already there is removed. Returns the first failure, naming the
// file and the cause, or "" when everything was written.
QString RegisterFileTypes(TFileTypes types);
// The same for another program file (the tests' way to vary the path).
QString RegisterFileTypes(TFileTypes types, const QString &programFile);

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
