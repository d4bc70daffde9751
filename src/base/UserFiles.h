#pragma once

// Qt
#include <QByteArray>
#include <QString>

class QFile;

// Opening the user's files. A name in a picture folder can stand for a named
// pipe, a device or a socket as well as a file; opening a pipe for reading
// waits until some other program writes to it, which would freeze the
// window. Everything that reads a user's file therefore opens it here, and
// only a regular file (or a symbolic link to one) is ever opened.

// Opens fileName read-only into file (which must be closed). Returns false,
// with the reason in *reason, when it is not a regular file or cannot be
// opened; a pipe is never waited on.
bool OpenRegularFile(QFile &file, const QString &fileName, QString *reason = nullptr);

// Writes data as the whole of fileName through a temporary file that
// replaces the old one only once complete, so that a full disk or a crash
// never leaves a torn file under the real name (TAtomicFile of FileIo).
// Returns false, with the system's reason in *reason ("No space left on
// device"), when it could not; the old file is then as it was.
bool WriteFileAtomically(const QString &fileName, const QByteArray &data, QString *reason = nullptr);

// Renames without ever replacing what is at to (RENAME_NOREPLACE; on a file
// system without it, a check for an entry at to first). Returns 0 or an
// errno value. The same as FileIo::RenameNoReplace.
int RenameNoReplace(const QByteArray &from, const QByteArray &to);

// Flushes a folder's entries, so that a rename in it survives a crash.
// Failures are ignored.
void SyncFolder(const QByteArray &folder);
