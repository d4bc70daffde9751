#include "SettingsForm.h"

// Local
#include "AppPaths.h"
#include "DesktopEntryTemplate.h"
#include "FileIo.h"
#include "RegLib.h"
#include "UserFiles.h"

// Qt
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QVBoxLayout>

// Std
#include <algorithm>

namespace {

const QByteArray kDefaultsSection = QByteArrayLiteral("[Default Applications]");

// Writes the whole file or leaves the old one as it was. Whatever cannot be
// written is skipped without a message box, as with a read-only location;
// the first failure is kept in *failure, naming the file and the cause.
void WriteSettingsFile(const QString &fileName, const QByteArray &data, QString *failure)
{
    const QString folder = QFileInfo(fileName).absolutePath();
    QString why;
    if (const int error = FileIo::MakePath(folder))
        why = QStringLiteral("Cannot create folder %1: %2").arg(folder, FileIo::ErrorText(error));
    else if (QString reason; !WriteFileAtomically(fileName, data, &reason))
        why = QStringLiteral("Cannot create file %1: %2").arg(fileName, reason);
    if (!why.isEmpty() && failure && failure->isEmpty())
        *failure = why;
}

// Whether a program path can stand in Exec as it is: no character the
// Desktop Entry Specification reserves (those need quotes), no control
// character and no percent sign (Exec would take it for a field code).
bool IsPlainProgramPath(const QString &path)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`%");
    for (QChar c : path) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || reserved.contains(c))
            return false;
    }
    return true;
}

// A desktop entry string value: backslash and the control characters it
// names escaped.
QString StringValue(const QString &text)
{
    QString value;
    for (QChar c : text) {
        switch (c.unicode()) {
        case u'\\': value += QLatin1String("\\\\"); break;
        case u'\n': value += QLatin1String("\\n"); break;
        case u'\t': value += QLatin1String("\\t"); break;
        case u'\r': value += QLatin1String("\\r"); break;
        default: value += c; break;
        }
    }
    return value;
}

QByteArray DesktopEntry(const QString &programFile)
{
    // With env first in Exec, only TryExec still tells a desktop whether the
    // program is there; otherwise Exec does, as in the installed entry.
    const QByteArray tryExec = IsPlainProgramPath(programFile)
        ? QByteArray()
        : QByteArrayLiteral("\nTryExec=") + StringValue(programFile).toUtf8();
    QByteArray entry(kDesktopEntryTemplate);
    const qsizetype start = entry.indexOf("\nExec=") + 1;
    const qsizetype end = entry.indexOf('\n', start);
    return entry.replace(start, end - start, "Exec=" + DesktopEntryExec(programFile).toUtf8() + tryExec);
}

// A line's content without the carriage return of a CRLF file.
QByteArray LineBody(const QByteArray &line)
{
    return line.endsWith('\r') ? line.left(line.size() - 1) : line;
}

bool IsSectionHeader(const QByteArray &line)
{
    return line.trimmed().startsWith('[');
}

// Our entry first among the defaults of each type, in one write of the
// file: a failure leaves it as it was, never with some of the types.
void SetDefaultApplications(const QList<QByteArray> &mimeTypes, QString *failure)
{
    const QString fileName = MimeAppsFile();
    QByteArray old;
    QFile file(fileName);
    if (file.exists()) {
        // A file we cannot read is one we must not replace.
        QString reason;
        if (!OpenRegularFile(file, fileName, &reason)) {
            if (failure && failure->isEmpty())
                *failure = QStringLiteral("Cannot open file %1: %2").arg(fileName, reason);
            return;
        }
        old = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return;
        file.close();
    }
    QByteArray updated = old;
    for (const QByteArray &mimeType : mimeTypes)
        updated = WithDefaultApplication(updated, mimeType);
    if (updated != old)
        WriteSettingsFile(fileName, updated, failure);
}

} // namespace

TfrmSettings::TfrmSettings(QWidget *owner)
    : QDialog(owner)
{
    setObjectName(QStringLiteral("frmSettings"));
    setWindowTitle(QStringLiteral("Settings"));

    grpAssociations = new QGroupBox(QStringLiteral(" File associations "), this);
    lblAssociate = new QLabel(QStringLiteral("Associate Lisquon with following file types :"), grpAssociations);
    cbxBMP = new QCheckBox(QStringLiteral("BMP"), grpAssociations);
    cbxJPEG = new QCheckBox(QStringLiteral("JPEG"), grpAssociations);

    auto *group = new QVBoxLayout(grpAssociations);
    group->setContentsMargins(15, 14, 15, 14);
    group->addWidget(lblAssociate);
    group->addSpacing(14);
    auto addIndented = [group](QWidget *w) {
        auto *row = new QHBoxLayout;
        row->addSpacing(10);
        row->addWidget(w);
        row->addStretch();
        group->addLayout(row);
    };
    addIndented(cbxBMP);
    addIndented(cbxJPEG);
    group->addStretch();
    grpAssociations->setMinimumSize(252, 173);

    grpPhotos = new QGroupBox(QStringLiteral(" Photos "), this);
    cbxTurnByOrientation = new QCheckBox(QStringLiteral("Turn photos by their orientation tag"), grpPhotos);
    cbxTurnByOrientation->setChecked(StoredTurnByOrientation());
    cbxAllFormats = new QCheckBox(QStringLiteral("Also show PNG, GIF, WebP, TIFF, AVIF and HEIF pictures"), grpPhotos);
    cbxAllFormats->setChecked(StoredAllPictureFormats());
    edtSlideSeconds = new QSpinBox(grpPhotos);
    edtSlideSeconds->setRange(kMinSlideSeconds, kMaxSlideSeconds);
    edtSlideSeconds->setValue(StoredSlideSeconds());
    auto *slideLabel = new QLabel(QStringLiteral("Seconds a picture in the slide show:"), grpPhotos);
    slideLabel->setBuddy(edtSlideSeconds);
    auto *photos = new QVBoxLayout(grpPhotos);
    photos->setContentsMargins(15, 10, 15, 10);
    photos->addWidget(cbxTurnByOrientation);
    photos->addWidget(cbxAllFormats);
    auto *slideRow = new QHBoxLayout;
    slideRow->addWidget(slideLabel);
    slideRow->addWidget(edtSlideSeconds);
    slideRow->addStretch();
    photos->addLayout(slideRow);

    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setDefault(true);
    btnOK->setFocusPolicy(Qt::ClickFocus);
    btnOK->setMinimumSize(75, 25);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);

    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setFocusPolicy(Qt::ClickFocus);
    btnCancel->setMinimumSize(75, 25);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(7, 8, 8, 10);
    layout->addWidget(grpAssociations);
    layout->addWidget(grpPhotos);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString ShowSettingsForm(QWidget *owner)
{
    TFileTypes types;
    {
        TfrmSettings form(owner);
        if (form.exec() == QDialog::Accepted) {
            if (form.cbxBMP->isChecked())
                types |= ftBMP;
            if (form.cbxJPEG->isChecked())
                types |= ftJPEG;
            if (form.cbxTurnByOrientation->isChecked() != StoredTurnByOrientation())
                StoreTurnByOrientation(form.cbxTurnByOrientation->isChecked());
            if (form.cbxAllFormats->isChecked() != StoredAllPictureFormats())
                StoreAllPictureFormats(form.cbxAllFormats->isChecked());
            // Stored only when changed, so an untouched store stays as it was.
            if (form.edtSlideSeconds->value() != StoredSlideSeconds())
                StoreSlideSeconds(form.edtSlideSeconds->value());
        }
    }
    // Also after Cancel: the desktop entry then follows the program file
    // wherever it now lies.
    return RegisterFileTypes(types);
}

bool StoredTurnByOrientation()
{
    qint32 value = 1;
    OpenRegKey(kAppKey)->TryReadInteger(QStringLiteral("TurnByOrientation"), value);
    return value != 0;
}

void StoreTurnByOrientation(bool on)
{
    OpenRegKey(kAppKey)->WriteInteger(QStringLiteral("TurnByOrientation"), on ? 1 : 0);
}

bool StoredAllPictureFormats()
{
    qint32 value = 0;
    OpenRegKey(kAppKey)->TryReadInteger(QStringLiteral("AllPictureFormats"), value);
    return value != 0;
}

void StoreAllPictureFormats(bool on)
{
    if (on)
        OpenRegKey(kAppKey)->WriteInteger(QStringLiteral("AllPictureFormats"), 1);
    else
        OpenRegKey(kAppKey)->DeleteValue(QStringLiteral("AllPictureFormats"));
}

int StoredSlideSeconds()
{
    qint32 value = kDefaultSlideSeconds;
    OpenRegKey(kAppKey)->TryReadInteger(QStringLiteral("SlideShowSeconds"), value);
    return value >= kMinSlideSeconds && value <= kMaxSlideSeconds ? value : kDefaultSlideSeconds;
}

void StoreSlideSeconds(int seconds)
{
    OpenRegKey(kAppKey)->WriteInteger(QStringLiteral("SlideShowSeconds"),
                                      std::clamp(seconds, kMinSlideSeconds, kMaxSlideSeconds));
}

QString RegisterFileTypes(TFileTypes types)
{
    return RegisterFileTypes(types, ProgramFile());
}

QString RegisterFileTypes(TFileTypes types, const QString &programFile)
{
    QString failure;
    WriteSettingsFile(DesktopEntryFile(), DesktopEntry(programFile), &failure);
    QList<QByteArray> mimeTypes;
    if (types & ftJPEG)
        mimeTypes << QByteArrayLiteral("image/jpeg");
    if (types & ftBMP)
        mimeTypes << QByteArrayLiteral("image/bmp");
    if (!mimeTypes.isEmpty())
        SetDefaultApplications(mimeTypes, &failure);
    return failure;
}

QString DesktopEntryFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/applications/") + QLatin1String(kDesktopEntryName);
}

QString MimeAppsFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + QStringLiteral("/mimeapps.list");
}

QString DesktopEntryExec(const QString &programFile)
{
    // A path of plain characters is written as it is. xdg-mime (xdg-utils
    // 1.1) takes the first word of Exec literally as the program, quotes
    // included, and GLib does not turn "%%" back into "%" before looking for
    // it; both then skip the entry. So a path that needs quoting or a doubled
    // percent sign becomes the argument of env, which every reader finds,
    // and the path follows quoted: the quote, backtick, dollar and backslash
    // take a backslash; a literal percent sign is doubled.
    if (IsPlainProgramPath(programFile))
        return programFile + QStringLiteral(" %f");
    QString quoted;
    for (QChar c : programFile) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        if (c == u'%')
            quoted += u'%';
        quoted += c;
    }
    return QStringLiteral("env ") + StringValue(u'"' + quoted + u'"') + QStringLiteral(" %f");
}

QByteArray WithDefaultApplication(const QByteArray &mimeApps, const QByteArray &mimeType)
{
    const QByteArray ours(kDesktopEntryName);
    QList<QByteArray> lines = mimeApps.split('\n');
    // A file ending in a newline splits into a last, empty piece.
    const bool endsWithNewline = mimeApps.isEmpty() || mimeApps.endsWith('\n');
    if (endsWithNewline)
        lines.removeLast();

    qsizetype section = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (LineBody(lines[i]).trimmed() == kDefaultsSection) {
            section = i;
            break;
        }
    }

    if (section < 0) {
        if (!lines.isEmpty() && !LineBody(lines.last()).trimmed().isEmpty())
            lines << QByteArray();
        lines << kDefaultsSection << mimeType + '=' + ours + ';';
    } else {
        qsizetype lastContent = section;
        qsizetype found = -1;
        for (qsizetype i = section + 1; i < lines.size() && !IsSectionHeader(lines[i]); ++i) {
            const QByteArray body = LineBody(lines[i]).trimmed();
            if (body.isEmpty())
                continue;
            lastContent = i;
            if (body.startsWith('#'))
                continue;
            const qsizetype equals = body.indexOf('=');
            if (found < 0 && equals > 0 && body.left(equals).trimmed() == mimeType)
                found = i;
        }
        if (found >= 0) {
            const QByteArray body = LineBody(lines[found]);
            const QByteArray value = body.mid(body.indexOf('=') + 1).trimmed();
            QList<QByteArray> entries{ours};
            for (const QByteArray &entry : value.split(';')) {
                const QByteArray id = entry.trimmed();
                if (!id.isEmpty() && id != ours)
                    entries << id;
            }
            const QByteArray line = mimeType + '=' + entries.join(';') + ';';
            lines[found] = lines[found].endsWith('\r') ? line + '\r' : line;
        } else {
            lines.insert(lastContent + 1, mimeType + '=' + ours + ';');
        }
    }
    return lines.join('\n') + '\n';
}
