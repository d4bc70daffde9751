#include "ShellOps.h"

// Local
#include "AppError.h"
#include "AppPaths.h"
#include "FileIo.h"
#include "TextUtils.h"
#include "TrashLib.h"
#include "UserFiles.h"
#include "UserPrompts.h"

// Qt
#include <QFile>
#include <QFileInfo>

// Std
#include <cerrno>
#include <cstdio>
#include <vector>

// System
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kCopyChunk = 1 << 20;

QString Reason(int error)
{
    return qt_error_string(error);
}

QByteArray Native(const QString &path)
{
    return QFile::encodeName(path);
}

// The system's rename; without replace it never replaces an existing file.
int SystemRename(const QString &from, const QString &to, bool replace)
{
    const QByteArray src = Native(from);
    const QByteArray dst = Native(to);
    return replace ? FileIo::Rename(src, dst) : FileIo::RenameNoReplace(src, dst);
}

ShellRenameFunction &MoveRename()
{
    static ShellRenameFunction rename;
    return rename;
}

int RenameForMove(const QString &from, const QString &to, bool replace)
{
    const ShellRenameFunction &f = MoveRename();
    return f ? f(from, to, replace) : SystemRename(from, to, replace);
}

class FileHandle
{
public:
    explicit FileHandle(int fd = -1) : FFd(fd) {}
    ~FileHandle() { reset(); }
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;
    int get() const { return FFd; }
    void reset(int fd = -1)
    {
        if (FFd >= 0)
            ::close(FFd);
        FFd = fd;
    }
    // Gives the descriptor up without closing it.
    void release() { FFd = -1; }

private:
    int FFd;
};

// Copies source into a new hidden file in folder, complete and flushed to
// disk, with the source's permissions and times. On success tempPath names
// it; on failure nothing is left behind and reason says why.
bool CopyToTemporary(const QString &source, const QString &folder, QString &tempPath, QString &reason)
{
    FileHandle in(::open(Native(source).constData(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) {
        reason = Reason(errno);
        return false;
    }
    struct stat srcStat;
    if (::fstat(in.get(), &srcStat) != 0) {
        reason = Reason(errno);
        return false;
    }
    if (!S_ISREG(srcStat.st_mode)) {
        reason = QStringLiteral("It is not a file");
        return false;
    }

    QByteArray name;
    int fd = -1;
    if (const int error = FileIo::CreateTemporary(Native(folder), ".tamsel-copy-", name, fd)) {
        reason = Reason(error);
        return false;
    }
    FileHandle out(fd);
    tempPath = QFile::decodeName(name);
    const auto fail = [&](const QString &why) {
        out.reset();
        FileIo::Discard(name);
        tempPath.clear();
        reason = why;
        return false;
    };

    std::vector<char> buffer(kCopyChunk);
    qint64 total = 0;
    for (;;) {
        const ssize_t n = ::read(in.get(), buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(Reason(errno));
        }
        if (n == 0)
            break;
        if (const int error = FileIo::WriteAll(out.get(), buffer.data(), size_t(n)))
            return fail(Reason(error));
        total += n;
    }

    struct stat afterStat;
    if (::fstat(in.get(), &afterStat) != 0)
        return fail(Reason(errno));
    if (total != qint64(srcStat.st_size) || afterStat.st_size != srcStat.st_size
        || afterStat.st_mtim.tv_sec != srcStat.st_mtim.tv_sec
        || afterStat.st_mtim.tv_nsec != srcStat.st_mtim.tv_nsec)
        return fail(QStringLiteral("The file changed while it was being copied"));

    ::fchmod(out.get(), srcStat.st_mode & 0777);
    const struct timespec times[2] = {srcStat.st_atim, srcStat.st_mtim};
    ::futimens(out.get(), times);
    // A full disk may only show when the data is flushed.
    if (const int error = FileIo::Flush(out.get()))
        return fail(Reason(error));
    struct stat outStat;
    if (::fstat(out.get(), &outStat) != 0)
        return fail(Reason(errno));
    if (outStat.st_size != srcStat.st_size)
        return fail(QStringLiteral("The copy is incomplete"));
    fd = out.get();
    out.release();
    if (const int error = FileIo::Close(fd))
        return fail(Reason(error));
    return true;
}

} // namespace

bool ShellDeleteFile(QWidget *owner, const QString &fileName, bool allowUndo)
{
    const QFileInfo info(fileName);
    if (!info.exists() && !info.isSymLink()) {
        ShowAppError(QStringLiteral("Cannot delete \"%1\": the file does not exist").arg(fileName));
        return false;
    }
    const QString name = NameOfPath(fileName);
    const QString question = allowUndo
        ? QStringLiteral("Move \"%1\" to the Trash?").arg(name)
        : QStringLiteral("Delete \"%1\" permanently? This cannot be undone.").arg(name);
    if (UserPrompts::current().askMessage(owner, Box::Question, QStringLiteral("Confirm"), question,
                                          Box::Yes | Box::No, Box::Yes)
        != Box::Yes)
        return false;

    if (allowUndo) {
        // Our own Trash writer, not QFile::moveToTrash: Qt 6.4 stores the
        // original path without the escaping the Trash's readers undo, so a
        // name like "50%25.jpg" came back as "50%.jpg".
        QString reason;
        if (!MoveToTrash(fileName, &reason)) {
            ShowAppError(QStringLiteral("Cannot move \"%1\" to the Trash: %2").arg(fileName, reason));
            return false;
        }
        return true;
    }
    if (const int error = FileIo::Remove(Native(fileName))) {
        ShowAppError(QStringLiteral("Cannot delete \"%1\": %2").arg(fileName, Reason(error)));
        return false;
    }
    return true;
}

bool ShellCopyOrMove(QWidget *owner, const QString &sourceFile, const QString &destFolder, bool move)
{
    const QString verb = move ? QStringLiteral("move") : QStringLiteral("copy");
    const auto fail = [&](const QString &reason) {
        ShowAppError(QStringLiteral("Cannot %1 \"%2\" to \"%3\": %4").arg(verb, sourceFile, destFolder, reason));
        return false;
    };

    const QByteArray source = Native(sourceFile);
    struct stat srcStat;
    if (sourceFile.isEmpty() || ::stat(source.constData(), &srcStat) != 0) {
        if (errno == ENOENT || sourceFile.isEmpty()) {
            ShowAppError(QStringLiteral("Cannot %1 \"%2\": the file does not exist").arg(verb, sourceFile));
            return false;
        }
        return fail(Reason(errno));
    }
    if (!S_ISREG(srcStat.st_mode))
        return fail(QStringLiteral("It is not a file"));

    struct stat dirStat;
    if (destFolder.isEmpty() || ::stat(Native(destFolder).constData(), &dirStat) != 0 || !S_ISDIR(dirStat.st_mode))
        return fail(QStringLiteral("The folder does not exist"));

    const QString name = NameOfPath(sourceFile);
    const QString target = IncludeBackslash(destFolder) + name;
    bool replace = false;
    struct stat targetStat;
    if (::lstat(Native(target).constData(), &targetStat) == 0) {
        struct stat resolved;
        if (::stat(Native(target).constData(), &resolved) == 0) {
            // Copying a file onto itself would destroy it.
            if (resolved.st_dev == srcStat.st_dev && resolved.st_ino == srcStat.st_ino)
                return fail(QStringLiteral("The source and the destination are the same file"));
            if (S_ISDIR(resolved.st_mode))
                return fail(QStringLiteral("A folder named \"%1\" is in the way").arg(name));
        }
        const QString question = QStringLiteral("The folder \"%1\" already contains a file named \"%2\".\nReplace it?")
                                     .arg(destFolder, name);
        if (UserPrompts::current().askMessage(owner, Box::Question, QStringLiteral("Confirm"), question,
                                              Box::Yes | Box::No, Box::No)
            != Box::Yes)
            return false;
        replace = true;
    }
    const QString appeared = QStringLiteral("A file named \"%1\" appeared in the folder meanwhile").arg(name);

    if (move) {
        const int error = RenameForMove(sourceFile, target, replace);
        if (error == 0) {
            FileIo::SyncFolder(Native(destFolder));
            return true;
        }
        if (error == EEXIST)
            return fail(appeared);
        if (error != EXDEV)
            return fail(Reason(error));
        // Another file system: copy, then remove the source.
    }

    QString temp;
    QString reason;
    if (!CopyToTemporary(sourceFile, destFolder, temp, reason))
        return fail(reason);
    const int placed = SystemRename(temp, target, replace);
    if (placed != 0) {
        FileIo::Discard(Native(temp));
        return fail(placed == EEXIST ? appeared : Reason(placed));
    }
    FileIo::SyncFolder(Native(destFolder));
    if (!move)
        return true;

    struct stat copied;
    if (::stat(Native(target).constData(), &copied) != 0 || copied.st_size != srcStat.st_size)
        return fail(QStringLiteral("The copy is incomplete; the original was kept"));
    if (const int error = FileIo::Remove(source)) {
        ShowAppError(QStringLiteral("\"%1\" was copied to \"%2\", but the original could not be removed: %3")
                         .arg(sourceFile, destFolder, Reason(error)));
        return false;
    }
    return true;
}

void ShellOpen(const QString &pathOrUrl)
{
    UserPrompts::current().openDocument(pathOrUrl);
}

ShellRenameFunction SetShellRenameFunction(ShellRenameFunction rename)
{
    ShellRenameFunction previous = std::move(MoveRename());
    MoveRename() = std::move(rename);
    return previous;
}
