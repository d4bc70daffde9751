#include "UserFiles.h"

// Local
#include "FileIo.h"

// Qt
#include <QFile>

// System
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString NotAFileReason(mode_t mode)
{
    return S_ISDIR(mode) ? QStringLiteral("It is a folder") : QStringLiteral("It is not a plain file");
}

} // namespace

bool OpenRegularFile(QFile &file, const QString &fileName, QString *reason)
{
    const auto fail = [reason](const QString &why) {
        if (reason)
            *reason = why;
        return false;
    };
    const QByteArray native = QFile::encodeName(fileName);
    struct stat st;
    if (fileName.isEmpty() || ::stat(native.constData(), &st) != 0)
        return fail(qt_error_string(fileName.isEmpty() ? ENOENT : errno));
    // Devices and pipes are not even opened: opening some of them has
    // effects of its own.
    if (!S_ISREG(st.st_mode))
        return fail(NotAFileReason(st.st_mode));
    // The name may have been replaced by a pipe since: a non-blocking open
    // never waits, and the descriptor is checked once more.
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return fail(qt_error_string(errno));
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const QString why = S_ISREG(st.st_mode) ? qt_error_string(errno) : NotAFileReason(st.st_mode);
        ::close(fd);
        return fail(why);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail(file.errorString());
    }
    return true;
}

bool WriteFileAtomically(const QString &fileName, const QByteArray &data, QString *reason)
{
    // Through the file seam: the system's own calls keep the errno that
    // QSaveFile's errorString loses ("Unknown error" on a full disk).
    TAtomicFile file(fileName);
    int error = file.open();
    if (!error)
        error = file.write(data);
    if (!error)
        error = file.commit();
    if (error && reason)
        *reason = FileIo::ErrorText(error);
    return error == 0;
}

int RenameNoReplace(const QByteArray &from, const QByteArray &to)
{
    return FileIo::RenameNoReplace(from, to);
}

void SyncFolder(const QByteArray &folder)
{
    FileIo::SyncFolder(folder);
}
