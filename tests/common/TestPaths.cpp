#include "TestPaths.h"

// Qt
#include <QDir>
#include <QFileInfo>

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
