#pragma once

// Qt
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
