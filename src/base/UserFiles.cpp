#include "UserFiles.h"

// Qt
#include <QFile>
#include <QSaveFile>

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
    QSaveFile file(fileName);
    const auto fail = [&file, reason] {
        // Taken before cancelWriting, which puts its own words in its place.
        if (reason)
            *reason = file.errorString();
        return false;
    };
    if (!file.open(QIODevice::WriteOnly))
        return fail();
    if (file.write(data) != data.size()) {
        fail();
        file.cancelWriting();
        return false;
    }
    return file.commit() || fail();
}

int RenameNoReplace(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    const int error = errno;
    if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP)
        return error;
    // A file system without no-replace renames: check, then rename.
    struct stat st;
    if (::lstat(to.constData(), &st) == 0)
        return EEXIST;
    return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
}

void SyncFolder(const QByteArray &folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}
