#pragma once

// Qt
#include <QByteArray>
#include <QString>

// Std
#include <atomic>
#include <cstddef>

// System
#include <sys/types.h>

// Every write the program makes to the user's files goes through here:
// creating a file for writing, writing, flushing to disk, closing, renaming,
// making folders and removing files. The calls are the system's own, so that
// a failure keeps its errno and the user reads "No space left on device"
// rather than "Unknown error"; each returns 0 or an errno value.
//
// The same place lets the tests make any of these calls fail: they arm the
// fault plan (FileFaults below), count the calls an operation makes, then
// fail each of them in turn. In the shipped program the plan is never armed
// and each call costs one test of a flag.

// The kinds of call the plan counts and fails.
enum class FileCall : int { Open, Write, Flush, Close, Rename, MakeFolder, Remove, Any };
inline constexpr int kFileCallKinds = int(FileCall::Any);

namespace FileFaults {

extern std::atomic<bool> g_armed;
int InjectSlow(FileCall call);

// The errno value the plan wants this call to fail with, or 0.
inline int Inject(FileCall call)
{
    if (!g_armed.load(std::memory_order_relaxed)) [[likely]]
        return 0;
    return InjectSlow(call);
}

// Starts counting calls from zero; with nth > 0, the nth call of kind (of
// every kind for FileCall::Any) fails with error, once.
void Arm(FileCall kind = FileCall::Any, int nth = 0, int error = 0);
// Stops counting and failing.
void Disarm();
// Calls of kind (FileCall::Any: all) since Arm.
int Count(FileCall kind = FileCall::Any);
// Whether the planned failure has happened.
bool Fired();
// "open", "write", ... for test names and messages.
const char *CallName(FileCall kind);

} // namespace FileFaults

namespace FileIo {

// open(2) of a file for writing (flags must include O_WRONLY or O_RDWR);
// fd receives the descriptor.
int OpenForWriting(const QByteArray &path, int flags, mode_t mode, int &fd);
// Creates a new file of its own in folder, named prefix and six random
// characters, with mode 0666 less the umask; path and fd receive it.
int CreateTemporary(const QByteArray &folder, const QByteArray &prefix, QByteArray &path, int &fd);
// Writes all of data, going on after short writes and interruptions.
int WriteAll(int fd, const char *data, size_t size);
// fsync(2): a full disk may only show here.
int Flush(int fd);
// close(2); the descriptor is gone whatever it returns.
int Close(int fd);
// rename(2), replacing what is at to.
int Rename(const QByteArray &from, const QByteArray &to);
// Renames without ever replacing what is at to (RENAME_NOREPLACE; on a file
// system without it, a check for an entry at to first): EEXIST then.
int RenameNoReplace(const QByteArray &from, const QByteArray &to);
// mkdir(2); an existing entry gives EEXIST.
int MakeFolder(const QByteArray &path, mode_t mode = 0777);
// Makes path and every missing folder above it; an existing folder is no
// error, an existing file is (ENOTDIR).
int MakePath(const QString &path);
// unlink(2) of a user's file.
int Remove(const QByteArray &path);
// Removes a temporary file of ours after a failure. Not a user's file, so it
// is neither counted nor ever failed on purpose.
void Discard(const QByteArray &path);
// Flushes a folder's entries, so that a rename in it survives a crash.
// Failures are ignored.
void SyncFolder(const QByteArray &folder);

// The system's words for an errno value: "No space left on device".
QString ErrorText(int error);

} // namespace FileIo

// A whole file written under a temporary name in its own folder and put in
// place only once complete and flushed to disk, so that a full disk or a
// crash never leaves a torn file under the real name. The temporary is
// removed on any failure and when the object dies uncommitted. An existing
// file keeps its permissions; a symbolic link is followed, the link kept.
class TAtomicFile
{
public:
    explicit TAtomicFile(const QString &fileName);
    ~TAtomicFile();
    TAtomicFile(const TAtomicFile &) = delete;
    TAtomicFile &operator=(const TAtomicFile &) = delete;

    // Each returns 0 or an errno value; after a failure the temporary is gone
    // and every later call returns that error again.
    int open();
    int write(const char *data, size_t size);
    int write(const QByteArray &data) { return write(data.constData(), size_t(data.size())); }
    int commit();

private:
    int fail(int error);

    QString FFileName;
    QByteArray FTarget;
    QByteArray FTemp;
    int FFd = -1;
    int FError = 0;
};
