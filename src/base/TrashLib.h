#pragma once

// Qt
#include <QByteArray>
#include <QString>

// Std
#include <functional>

// The freedesktop Trash, written the way the desktop's own tools read it.
//
// A file on the file system of the user's home goes to the home Trash,
// $XDG_DATA_HOME/Trash (~/.local/share/Trash); a file on another volume goes
// to that volume's $topdir/.Trash/$uid (only when $topdir/.Trash is a real
// folder with the sticky bit) or else to $topdir/.Trash-$uid. In the Trash
// folder, files/ holds the file under a name no other entry uses ("name",
// "name.2", "name.3", ...) and info/ holds name.trashinfo with its original
// path (absolute for the home Trash, relative to $topdir on a volume),
// percent-encoded byte by byte, and the local deletion time.
//
// The .trashinfo file is created exclusively, written and flushed before the
// file is renamed into files/, and removed again when the rename fails, so a
// crash leaves at worst an entry without a file, never a file without its
// original path. The file is only ever renamed, never copied: a file that
// cannot be renamed into its Trash (another file system, as with a bind
// mount) stays where it is and the move fails.

// Moves the file (or symbolic link) at path to the Trash. Works on the
// file system's own bytes, so names that are not UTF-8 keep them. Returns
// true on success; otherwise reason, when given, says why, and the file is
// where it was.
bool MoveToTrash(const QByteArray &path, QString *reason = nullptr);
// The same for a path as Qt gives it.
bool MoveToTrash(const QString &path, QString *reason = nullptr);

// The home Trash folder: $XDG_DATA_HOME/Trash, or ~/.local/share/Trash when
// the variable is not set or not an absolute path.
QByteArray HomeTrashFolder();

// A path as the Path key of a .trashinfo file holds it: every byte other
// than letters, digits, "-", ".", "_", "~" and "/" becomes %XX.
QByteArray TrashPathEncode(const QByteArray &path);

// The rename that puts the file into the Trash. It returns 0 or an errno
// value and must not replace an existing file (EEXIST). Tests install one
// that fails. Returns the previous function; an empty one restores the
// system's.
using TrashRenameFunction = std::function<int(const QByteArray &from, const QByteArray &to)>;
TrashRenameFunction SetTrashRenameFunction(TrashRenameFunction rename);
