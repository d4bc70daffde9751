#include "TextUtils.h"

QString TrimBlanks(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first).unicode() <= u' ')
        ++first;
    while (last > first && text.at(last - 1).unicode() <= u' ')
        --last;
    return text.mid(first, last - first);
}

QString IncludeBackslash(const QString &path)
{
    if (path.endsWith(u'/'))
        return path;
    return path + u'/';
}
