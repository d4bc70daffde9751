#include "TrashLib.h"

// Local
#include "FileIo.h"

// Qt
#include <QFile>

// Std
#include <cerrno>
#include <cstdlib>
#include <ctime>

// System
#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The longest file name most Linux file systems take.
constexpr qsizetype kNameMax = 255;
const QByteArray kInfoSuffix = QByteArrayLiteral(".trashinfo");

// One Trash folder a file may go to, and how its entries name the original.
struct TrashFolder
{
    QByteArray path;
    QByteArray topDir; // empty for the home Trash: its paths are absolute
};

QString Reason(int error)
{
    return qt_error_string(error);
}

QString Display(const QByteArray &path)
{
    return QFile::decodeName(path);
}

QByteArray Join(const QByteArray &folder, const QByteArray &name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

TrashRenameFunction &TrashRename()
{
    static TrashRenameFunction rename;
    return rename;
}

int RenameIntoTrash(const QByteArray &from, const QByteArray &to)
{
    const TrashRenameFunction &f = TrashRename();
    return f ? f(from, to) : FileIo::RenameNoReplace(from, to);
}

// Makes folder (mode 0700) unless it is there. With owned, the folder must
// belong to the user: a Trash folder someone else made is not ours to use.
// Returns 0 or an errno value.
int MakeFolder(const QByteArray &folder, bool owned = false)
{
    const int made = FileIo::MakeFolder(folder, 0700);
    if (made != 0 && made != EEXIST)
        return made;
    struct stat st;
    if (::lstat(folder.constData(), &st) != 0)
        return errno;
    if (!S_ISDIR(st.st_mode))
        return ENOTDIR;
    if (owned && st.st_uid != ::getuid())
        return EACCES;
    return 0;
}

// Makes folder and the folders above it that are missing.
int MakeFolderPath(const QByteArray &folder)
{
    struct stat st;
    if (folder.isEmpty() || ::stat(folder.constData(), &st) == 0)
        return 0;
    const qsizetype slash = folder.lastIndexOf('/');
    if (slash > 0)
        if (const int error = MakeFolderPath(folder.left(slash)))
            return error;
    return MakeFolder(folder);
}

// The device of path, or of the nearest folder above it that exists.
bool DeviceOf(QByteArray path, dev_t &device)
{
    struct stat st;
    while (::stat(path.constData(), &st) != 0) {
        const qsizetype slash = path.lastIndexOf('/');
        if (errno != ENOENT || slash < 0)
            return false;
        path = slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
    }
    device = st.st_dev;
    return true;
}

// The top folder of the mounted file system that holds folder (a canonical
// path on device): the last folder on the way up that is still on it.
QByteArray TopDirOf(QByteArray folder, dev_t device)
{
    while (folder != "/") {
        const qsizetype slash = folder.lastIndexOf('/');
        const QByteArray parent = slash <= 0 ? QByteArrayLiteral("/") : folder.left(slash);
        struct stat st;
        if (::stat(parent.constData(), &st) != 0 || st.st_dev != device)
            break;
        folder = parent;
    }
    return folder;
}

// The Trash folders a file on another volume may use, in the order to try.
QList<TrashFolder> VolumeTrashFolders(const QByteArray &topDir)
{
    const QByteArray uid = QByteArray::number(::getuid());
    QList<TrashFolder> folders;
    // An administrator's shared .Trash counts only when nobody can swap it
    // for a link or take over other users' folders in it.
    const QByteArray shared = Join(topDir, ".Trash");
    struct stat st;
    if (::lstat(shared.constData(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX))
        folders.append({Join(shared, uid), topDir});
    folders.append({Join(topDir, ".Trash-" + uid), topDir});
    return folders;
}

// The Trash folder with its files/ and info/ folders. Returns 0 or an errno
// value.
int PrepareTrashFolder(const TrashFolder &trash)
{
    int error = trash.topDir.isEmpty() ? MakeFolderPath(trash.path) : MakeFolder(trash.path, true);
    if (!error)
        error = MakeFolder(Join(trash.path, "files"));
    if (!error)
        error = MakeFolder(Join(trash.path, "info"));
    return error;
}

// The name of the n-th try: "name", "name.2", "name.3", ... shortened so that
// the .trashinfo file's name still fits, without splitting a UTF-8 sequence.
QByteArray TrashName(const QByteArray &name, int n)
{
    const QByteArray suffix = n == 1 ? QByteArray() : '.' + QByteArray::number(n);
    qsizetype keep = qMin(name.size(), kNameMax - kInfoSuffix.size() - suffix.size());
    while (keep > 0 && keep < name.size() && (uchar(name[keep]) & 0xC0) == 0x80)
        --keep;
    return name.left(keep) + suffix;
}

QByteArray DeletionDate()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return QByteArray(text, qsizetype(n));
}

// Writes the whole .trashinfo file and flushes it. Returns 0 or an errno
// value.
int WriteInfo(int fd, const QByteArray &content)
{
    if (const int error = FileIo::WriteAll(fd, content.constData(), size_t(content.size())))
        return error;
    return FileIo::Flush(fd);
}

// Puts the file at original (a canonical path; name is its last part) into
// trash. Returns 0, or an errno value with the file where it was; EXDEV means
// another Trash folder may still take it.
int TrashInto(const TrashFolder &trash, const QByteArray &original, const QByteArray &name)
{
    const QByteArray files = Join(trash.path, "files");
    const QByteArray info = Join(trash.path, "info");
    const QByteArray pathValue =
        trash.topDir.isEmpty() ? original : original.mid(trash.topDir == "/" ? 1 : trash.topDir.size() + 1);
    const QByteArray content = QByteArrayLiteral("[Trash Info]\nPath=") + TrashPathEncode(pathValue)
                               + QByteArrayLiteral("\nDeletionDate=") + DeletionDate() + '\n';

    for (int n = 1; n < 100000; ++n) {
        const QByteArray trashName = TrashName(name, n);
        const QByteArray infoFile = Join(info, trashName + kInfoSuffix);
        // The exclusive creation of the .trashinfo file claims the name
        // against every other program trashing at the same moment.
        int fd = -1;
        if (const int error = FileIo::OpenForWriting(infoFile, O_WRONLY | O_CREAT | O_EXCL, 0600, fd)) {
            if (error == EEXIST)
                continue;
            return error;
        }
        struct stat st;
        const QByteArray target = Join(files, trashName);
        if (::lstat(target.constData(), &st) == 0) {
            // A file left without its .trashinfo: the name is not free.
            ::close(fd);
            FileIo::Discard(infoFile);
            continue;
        }
        int error = WriteInfo(fd, content);
        if (const int closed = FileIo::Close(fd); closed && !error)
            error = closed;
        if (!error) {
            // The entry's name must be on disk before the file moves.
            FileIo::SyncFolder(info);
            error = RenameIntoTrash(original, target);
            if (!error) {
                FileIo::SyncFolder(files);
                return 0;
            }
        }
        FileIo::Discard(infoFile);
        if (error != EEXIST)
            return error;
    }
    return EEXIST;
}

} // namespace

bool MoveToTrash(const QByteArray &path, QString *reason)
{
    const auto fail = [reason](const QString &why) {
        if (reason)
            *reason = why;
        return false;
    };

    QByteArray cleaned = path;
    while (cleaned.size() > 1 && cleaned.endsWith('/'))
        cleaned.chop(1);
    const qsizetype slash = cleaned.lastIndexOf('/');
    const QByteArray name = cleaned.mid(slash + 1);
    if (name.isEmpty() || name == "." || name == "..")
        return fail(QStringLiteral("It is not a file"));
    struct stat st;
    if (::lstat(cleaned.constData(), &st) != 0)
        return fail(Reason(errno));
    if (S_ISDIR(st.st_mode))
        return fail(QStringLiteral("It is not a file"));

    // The folder's real path: a volume's Trash names the file relative to the
    // volume's top, which only the real path shows.
    const QByteArray folder = slash < 0 ? QByteArrayLiteral(".") : slash == 0 ? QByteArrayLiteral("/") : cleaned.left(slash);
    char *real = ::realpath(folder.constData(), nullptr);
    if (!real)
        return fail(Reason(errno));
    const QByteArray realFolder(real);
    std::free(real);
    const QByteArray original = Join(realFolder, name);

    QList<TrashFolder> candidates;
    dev_t homeDevice = 0;
    const QByteArray home = HomeTrashFolder();
    if (DeviceOf(home, homeDevice) && homeDevice == st.st_dev)
        candidates.append({home, {}});
    else
        candidates = VolumeTrashFolders(TopDirOf(realFolder, st.st_dev));

    QString why;
    for (const TrashFolder &trash : std::as_const(candidates)) {
        int error = PrepareTrashFolder(trash);
        if (error) {
            why = QStringLiteral("The Trash folder \"%1\" cannot be used: %2").arg(Display(trash.path), Reason(error));
            continue;
        }
        error = TrashInto(trash, original, name);
        if (!error)
            return true;
        if (error != EXDEV)
            return fail(Reason(error));
        why = QStringLiteral("The Trash folder \"%1\" is on another file system").arg(Display(trash.path));
    }
    return fail(why);
}

bool MoveToTrash(const QString &path, QString *reason)
{
    return MoveToTrash(QFile::encodeName(path), reason);
}

QByteArray HomeTrashFolder()
{
    QByteArray data = qgetenv("XDG_DATA_HOME");
    if (!data.startsWith('/')) {
        QByteArray home = qgetenv("HOME");
        if (home.isEmpty()) {
            if (const passwd *pw = ::getpwuid(::getuid()))
                home = pw->pw_dir;
        }
        data = Join(home, ".local/share");
    }
    return Join(data, "Trash");
}

QByteArray TrashPathEncode(const QByteArray &path)
{
    return path.toPercentEncoding("/", QByteArray(), '%');
}

TrashRenameFunction SetTrashRenameFunction(TrashRenameFunction rename)
{
    TrashRenameFunction previous = std::move(TrashRename());
    TrashRename() = std::move(rename);
    return previous;
}
