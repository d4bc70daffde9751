#include "FileLib.h"

// Local
#include "AppError.h"
#include "FileIo.h"
#include "PictureFormats.h"
#include "TextUtils.h"
#include "UserFiles.h"

// Qt
#include <QCollator>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

// Std
#include <algorithm>

TFileFolder::TFileFolder(const QString &folder, TFileKinds kinds)
    : Folder(folder)
{
    // Unsorted: entries stand in the order the file system returns them.
    QDirIterator it(folder.isEmpty() ? QStringLiteral("/") : folder,
                    QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    const QString prefix = IncludeBackslash(folder);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        const QString name = info.fileName();
        const bool isFolder = info.isDir();
        if (!isFolder && !(kinds & fkFile))
            continue;
        if (isFolder && !(kinds & fkFolder))
            continue;
        if (name.startsWith(u'.') && !(kinds & fkHidden))
            continue;
        append(prefix + name);
    }
}

qint64 FileSizeOf(const QString &fileName)
{
    QFile file;
    if (!OpenRegularFile(file, fileName))
        return 0;
    return file.size();
}

namespace {

// Pattern "0.##": at most two decimals, rounded, trailing zeros and a
// trailing separator dropped, no grouping.
QString FormatTwoDecimals(double value)
{
    QString text = QString::number(value, 'f', 2);
    while (text.endsWith(u'0'))
        text.chop(1);
    if (text.endsWith(u'.'))
        text.chop(1);
    return text.replace(u'.', QLocale().decimalPoint());
}

} // namespace

QString FormatFileSize(qint64 size)
{
    if (size < 1000)
        return QString::number(size) + QStringLiteral(" byte");
    if (size < 1000000)
        return FormatTwoDecimals(double(size) / 1024) + QStringLiteral(" KB");
    return FormatTwoDecimals(double(size) / 1048576) + QStringLiteral(" MB");
}

void CopyFileData(const QString &source, const QString &destination)
{
    QFile in;
    QString reason;
    if (!OpenRegularFile(in, source, &reason))
        throw AppError(QStringLiteral("Cannot open file %1: %2").arg(source, reason));
    // The copy goes to a temporary file that replaces the destination only
    // when complete, so a full disk never leaves a half-written file under
    // the real name.
    TAtomicFile out(destination);
    if (const int error = out.open())
        throw AppError(QStringLiteral("Cannot create file %1: %2").arg(destination, FileIo::ErrorText(error)));
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 n = in.read(buffer.data(), buffer.size());
        if (n < 0)
            throw AppError(QStringLiteral("Cannot read file %1: %2").arg(source, in.errorString()));
        if (n == 0)
            break;
        if (const int error = out.write(buffer.constData(), size_t(n)))
            throw AppError(QStringLiteral("Cannot write file %1: %2").arg(destination, FileIo::ErrorText(error)));
    }
    if (const int error = out.commit())
        throw AppError(QStringLiteral("Cannot write file %1: %2").arg(destination, FileIo::ErrorText(error)));
}

bool IsPictureExtension(const QString &fileName)
{
    const QString name = fileName.mid(fileName.lastIndexOf(u'/') + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot < 0)
        return false;
    const QString ext = name.mid(dot + 1).toLower();
    if (ext.isEmpty())
        return false;
    // The list takes an extension found anywhere in its text ("jp" passes,
    // and then shows as an unknown extension).
    const QString list = FolderListExtensions();
    if (!AllPictureFormats())
        return list.contains(ext);
    // The formats the wider setting adds count by their whole extension
    // only, so that "x.if" or "x.a" is not taken for a picture.
    const QStringList names = list.split(u':');
    if (names.contains(ext))
        return true;
    return std::any_of(names.begin(), names.end(), [&ext](const QString &known) {
        return DecoderForExtension(known) != PictureDecoder::Other && known.contains(ext);
    });
}

void SortPictureList(QStringList &files)
{
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(false);
    std::sort(files.begin(), files.end(), [&collator](const QString &a, const QString &b) {
        const int c = collator.compare(a, b);
        if (c != 0)
            return c < 0;
        // Names that differ only in case are different files here: keep both,
        // in a fixed order.
        return a < b;
    });
}

int FindPicture(const QStringList &files, const QString &fileName)
{
    const qsizetype exact = files.indexOf(fileName);
    if (exact >= 0)
        return int(exact);
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (files.at(i).compare(fileName, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    return -1;
}
