#pragma once

// Qt
#include <QString>

// The running program's own file and folder, and the data that lies "beside
// the program": the folder "schemes" and the file "words.dat". Beside the
// program means the executable's folder first; when that holds no such entry,
// the installed data folder: share/tamsel-photo-editor beside the executable's
// bin folder, then the one of the configured install prefix.

// Full path of the running executable.
QString ProgramFile();

// Folder of the running executable, without a trailing "/" (except "/").
QString ProgramFolder();

// Full path of the data entry `name` beside the program. When the entry
// exists in neither place, the path in the executable's folder is returned.
QString BesideProgram(const QString &name);

// Folder part of a path: the text up to the last "/", without that "/"
// unless it is the root. "/photos/a.jpg" gives "/photos"; "/a.jpg" gives "/".
QString FolderOfPath(const QString &path);

// The name part: the text after the last "/".
QString NameOfPath(const QString &path);
