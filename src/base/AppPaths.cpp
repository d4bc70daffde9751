#include "AppPaths.h"

// Local
#include "TamselConfig.h"

// Qt
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QString ProgramFile()
{
    return QCoreApplication::applicationFilePath();
}

QString ProgramFolder()
{
    return QCoreApplication::applicationDirPath();
}

QString BesideProgram(const QString &name)
{
    const QString local = ProgramFolder() + u'/' + name;
    if (QFileInfo::exists(local))
        return local;
    // The data folder of the installation the program runs from (any
    // prefix), then the one it was built for.
    const QString relative = QDir::cleanPath(ProgramFolder() + QStringLiteral("/../" TAMSEL_DATA_SUBDIR "/") + name);
    if (QFileInfo::exists(relative))
        return relative;
    const QString installed = QStringLiteral(TAMSEL_DATA_DIR) + u'/' + name;
    if (QFileInfo::exists(installed))
        return installed;
    return local;
}

QString FolderOfPath(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash < 0)
        return QString();
    if (slash == 0)
        return QStringLiteral("/");
    return path.left(slash);
}

QString NameOfPath(const QString &path)
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}
