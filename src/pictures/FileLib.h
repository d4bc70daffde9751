#pragma once

// Qt
#include <QString>
#include <QStringList>

// Std
#include <cstdint>

// Kinds of folder entry a TFileFolder keeps.
enum TFileKind : std::uint8_t { fkFile = 1, fkFolder = 2, fkHidden = 4 };
using TFileKinds = std::uint8_t;

// The entries of one folder, filtered by kind, as full paths in the order
// the directory enumeration returns them. A missing or unreadable folder
// gives an empty list.
class TFileFolder : public QStringList
{
public:
    TFileFolder(const QString &folder, TFileKinds kinds);

    QString Folder;
};

// The file's size in bytes; 0 when it cannot be opened or measured, or is
// not a regular file (a pipe is never opened).
qint64 FileSizeOf(const QString &fileName);

// "999 byte", "1.5 KB", "0.95 MB": decimal thresholds, binary divisors,
// pattern "0.##" with the locale's decimal separator.
QString FormatFileSize(qint64 size);

// Copies every byte of source, which must be a regular file, into
// destination (created or replaced).
// Throws AppError naming the file and the reason; the destination is
// replaced only once the copy is complete.
void CopyFileData(const QString &source, const QString &destination);

// True when the file's extension (without the dot, lower case, not empty)
// occurs anywhere in FolderListExtensions() ("bmp:jpg:jpeg:wmf:emf:ico").
bool IsPictureExtension(const QString &fileName);

// Sorts paths by the locale's case-insensitive collation, ties broken by an
// exact comparison.
void SortPictureList(QStringList &files);

// Position of fileName in a sorted list: the exact spelling first, else a
// case-insensitive match; -1 when absent.
int FindPicture(const QStringList &files, const QString &fileName);
