#include "TestPaths.h"

// Qt
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString SharedDir()
{
    const QByteArray env = qgetenv("TAMSEL_SHARED_DIR");
    return env.isEmpty() ? QStringLiteral(TAMSEL_SHARED_DIR) : QString::fromLocal8Bit(env);
}

QString CorpusDir() { return SharedDir() + QStringLiteral("/corpus"); }
QString PhotosDir() { return SharedDir() + QStringLiteral("/photos"); }
QString SourceDir() { return QStringLiteral(TAMSEL_SOURCE_DIR); }
QString TestsDir() { return QStringLiteral(TAMSEL_TESTS_DIR); }
QString BinaryDir() { return QStringLiteral(TAMSEL_BINARY_DIR); }

bool HaveCorpus()
{
    if (QFileInfo(CorpusDir()).isDir())
        return true;
    qWarning("Test corpus not found at %s (set TAMSEL_SHARED_DIR)", qPrintable(CorpusDir()));
    return false;
}

QString TestTrashFolder()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString testHomes = BinaryDir() + QStringLiteral("/test-home/");
    if (!QDir::homePath().startsWith(testHomes) || !data.startsWith(testHomes))
        qFatal("This suite empties the Trash: run it through ctest, which gives it a home of its own");
    return data + QStringLiteral("/Trash");
}
