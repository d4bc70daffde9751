#pragma once

// Qt
#include <QString>

// Blanks and control characters (every code up to the space) removed from
// both ends; what users type and what the word file holds is read this way.
QString TrimBlanks(const QString &text);

// The path with "/" appended unless it already ends in one; "" gives "/".
QString IncludeBackslash(const QString &path);
