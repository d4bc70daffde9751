#include "FileDlg.h"

// Local
#include "Prompts.h"

// Qt
#include <QDir>
#include <QFileInfo>

namespace {

// Windows patterns in Qt's form: "*.*" matches every name there, also names
// without a dot, so it becomes "*".
QString QtPattern(const QString &pattern)
{
    return pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern;
}

QString FullPath(const QString &file)
{
    return QDir::cleanPath(QFileInfo(file).absoluteFilePath());
}

} // namespace

QStringList QtNameFilters(const QString &filter)
{
    QStringList result;
    const QStringList parts = filter.split(u'|');
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString &p : parts.at(i + 1).split(u';')) {
            const QString pattern = p.trimmed();
            if (!pattern.isEmpty())
                patterns << QtPattern(pattern);
        }
        if (patterns.isEmpty())
            continue;
        result << parts.at(i).trimmed() + QStringLiteral(" (") + patterns.join(u' ') + u')';
    }
    return result;
}

bool TFileOpenDialog::Execute()
{
    OpenFileRequest request;
    request.owner = OwnerHandle;
    request.title = Title;
    request.initialDir = InitialDir;
    request.nameFilters = QtNameFilters(Filter);
    request.filterIndex = FilterIndex > 0 ? FilterIndex - 1 : 0;
    if (request.filterIndex >= request.nameFilters.size())
        request.filterIndex = 0;
    request.multiSelect = AllowMultiSelect;
    request.previewPane = PreviewPane;
    if (PreviewPane)
        request.preview = PreviewLoader;

    const QStringList chosen = Prompts::current().openFiles(request);
    if (chosen.isEmpty())
        return false;
    QStringList files;
    for (const QString &f : chosen)
        files << FullPath(f);
    FileName = files.constFirst();
    if (AllowMultiSelect)
        Files = files;
    return true;
}
