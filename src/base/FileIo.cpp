#include "FileIo.h"

// Qt
#include <QFile>
#include <QRandomGenerator>

// Std
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>

// System
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FileFaults {

std::atomic<bool> g_armed{false};

namespace {

struct Plan
{
    std::mutex mutex;
    FileCall kind = FileCall::Any;
    int nth = 0;
    int error = 0;
    bool fired = false;
    std::array<int, kFileCallKinds> counts = {};
    int total = 0;
};

Plan &ThePlan()
{
    static Plan plan;
    return plan;
}

} // namespace

int InjectSlow(FileCall call)
{
    Plan &plan = ThePlan();
    std::lock_guard lock(plan.mutex);
    if (!g_armed.load())
        return 0;
    const int count = ++plan.counts[size_t(call)];
    ++plan.total;
    if (plan.fired || plan.nth <= 0)
        return 0;
    const int position = plan.kind == FileCall::Any ? plan.total : plan.kind == call ? count : 0;
    if (position != plan.nth)
        return 0;
    plan.fired = true;
    return plan.error;
}

void Arm(FileCall kind, int nth, int error)
{
    Plan &plan = ThePlan();
    std::lock_guard lock(plan.mutex);
    plan.kind = kind;
    plan.nth = nth;
    plan.error = error;
    plan.fired = false;
    plan.counts = {};
    plan.total = 0;
    g_armed.store(true);
}

void Disarm()
{
    Plan &plan = ThePlan();
    std::lock_guard lock(plan.mutex);
    g_armed.store(false);
}

int Count(FileCall kind)
{
    Plan &plan = ThePlan();
    std::lock_guard lock(plan.mutex);
    return kind == FileCall::Any ? plan.total : plan.counts[size_t(kind)];
}

bool Fired()
{
    Plan &plan = ThePlan();
    std::lock_guard lock(plan.mutex);
    return plan.fired;
}

const char *CallName(FileCall kind)
{
    static const char *const names[] = {"open", "write", "flush", "close", "rename", "mkdir", "unlink", "any"};
    return names[int(kind)];
}

} // namespace FileFaults

namespace FileIo {

using FileFaults::Inject;

int OpenForWriting(const QByteArray &path, int flags, mode_t mode, int &fd)
{
    fd = -1;
    if (const int error = Inject(FileCall::Open))
        return error;
    fd = ::open(path.constData(), flags | O_CLOEXEC, mode);
    return fd < 0 ? errno : 0;
}

int CreateTemporary(const QByteArray &folder, const QByteArray &prefix, QByteArray &path, int &fd)
{
    const QByteArray start = (folder.endsWith('/') ? folder : folder + '/') + prefix;
    for (int attempt = 0;; ++attempt) {
        path = start + QByteArray::number(QRandomGenerator::global()->generate() & 0xffffff, 16).rightJustified(6, '0');
        const int error = OpenForWriting(path, O_WRONLY | O_CREAT | O_EXCL, 0666, fd);
        if (error == 0)
            return 0;
        path.clear();
        if (error != EEXIST || attempt >= 100)
            return error;
    }
}

int WriteAll(int fd, const char *data, size_t size)
{
    // One call of the plan per write, however many pieces the system takes.
    if (const int error = Inject(FileCall::Write))
        return error;
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += n;
        size -= size_t(n);
    }
    return 0;
}

int Flush(int fd)
{
    if (const int error = Inject(FileCall::Flush))
        return error;
    return ::fsync(fd) == 0 ? 0 : errno;
}

int Close(int fd)
{
    const int injected = Inject(FileCall::Close);
    // The descriptor is released either way, as the system does.
    const int result = ::close(fd);
    if (injected)
        return injected;
    return result == 0 ? 0 : errno;
}

int Rename(const QByteArray &from, const QByteArray &to)
{
    if (const int error = Inject(FileCall::Rename))
        return error;
    return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
}

int RenameNoReplace(const QByteArray &from, const QByteArray &to)
{
    if (const int error = Inject(FileCall::Rename))
        return error;
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

int MakeFolder(const QByteArray &path, mode_t mode)
{
    if (const int error = Inject(FileCall::MakeFolder))
        return error;
    return ::mkdir(path.constData(), mode) == 0 ? 0 : errno;
}

int MakePath(const QString &path)
{
    QByteArray native = QFile::encodeName(path);
    while (native.size() > 1 && native.endsWith('/'))
        native.chop(1);
    struct stat st;
    if (native.isEmpty())
        return ENOENT;
    if (::stat(native.constData(), &st) == 0)
        return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    if (errno != ENOENT)
        return errno;
    const qsizetype slash = native.lastIndexOf('/');
    if (slash > 0)
        if (const int error = MakePath(QFile::decodeName(native.left(slash))))
            return error;
    const int error = MakeFolder(native);
    // Another thread or program may have made it meanwhile.
    if (error == EEXIST && ::stat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode))
        return 0;
    return error;
}

int Remove(const QByteArray &path)
{
    if (const int error = Inject(FileCall::Remove))
        return error;
    return ::unlink(path.constData()) == 0 ? 0 : errno;
}

void Discard(const QByteArray &path)
{
    ::unlink(path.constData());
}

void SyncFolder(const QByteArray &folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

QString ErrorText(int error)
{
    return qt_error_string(error);
}

} // namespace FileIo

namespace {

QByteArray FolderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArrayLiteral(".") : slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

} // namespace

TAtomicFile::TAtomicFile(const QString &fileName)
    : FFileName(fileName)
{
}

TAtomicFile::~TAtomicFile()
{
    if (FFd >= 0)
        ::close(FFd);
    if (!FTemp.isEmpty())
        FileIo::Discard(FTemp);
}

int TAtomicFile::fail(int error)
{
    if (FFd >= 0)
        ::close(FFd);
    FFd = -1;
    if (!FTemp.isEmpty())
        FileIo::Discard(FTemp);
    FTemp.clear();
    FError = error;
    return error;
}

int TAtomicFile::open()
{
    if (FError)
        return FError;
    if (FFileName.isEmpty())
        return fail(ENOENT);
    FTarget = QFile::encodeName(FFileName);
    // A link is followed: the file it points to is the one replaced.
    struct stat st;
    bool exists = ::lstat(FTarget.constData(), &st) == 0;
    if (exists && S_ISLNK(st.st_mode)) {
        if (char *real = ::realpath(FTarget.constData(), nullptr)) {
            FTarget = QByteArray(real);
            std::free(real);
        }
        exists = ::stat(FTarget.constData(), &st) == 0;
    }
    if (exists) {
        if (S_ISDIR(st.st_mode))
            return fail(EISDIR);
        // A file the user may not write is not replaced behind his back.
        if (::access(FTarget.constData(), W_OK) != 0)
            return fail(errno);
    }

    // A hidden name in the same folder: the final rename never crosses file
    // systems. Created with the usual permissions (the umask applies); an
    // existing file's own are given to it below.
    if (const int error = FileIo::CreateTemporary(FolderOf(FTarget), ".tamsel-save-", FTemp, FFd))
        return fail(error);
    if (exists)
        ::fchmod(FFd, st.st_mode & 07777);
    return 0;
}

int TAtomicFile::write(const char *data, size_t size)
{
    if (FError)
        return FError;
    if (FFd < 0)
        return fail(EBADF);
    if (const int error = FileIo::WriteAll(FFd, data, size))
        return fail(error);
    return 0;
}

int TAtomicFile::commit()
{
    if (FError)
        return FError;
    if (FFd < 0)
        return fail(EBADF);
    if (const int error = FileIo::Flush(FFd))
        return fail(error);
    const int fd = FFd;
    FFd = -1;
    if (const int error = FileIo::Close(fd))
        return fail(error);
    if (const int error = FileIo::Rename(FTemp, FTarget))
        return fail(error);
    FTemp.clear();
    FileIo::SyncFolder(FolderOf(FTarget));
    return 0;
}
