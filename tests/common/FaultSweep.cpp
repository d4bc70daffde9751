#include "FaultSweep.h"

// Local
#include "AppError.h"
#include "FakePrompts.h"
#include "TestFiles.h"

// Qt
#include <QTest>

// Std
#include <algorithm>
#include <cerrno>

// System
#include <unistd.h>

namespace {

QByteArray Normalized(const QString &path, QByteArray data)
{
    if (path.endsWith(QLatin1String(".trashinfo"))) {
        const qsizetype at = data.indexOf("DeletionDate=");
        if (at >= 0)
            data.truncate(at);
    }
    return data;
}

// "" when after is made of whole files of before and clean (and partial).
QString Torn(const FolderState &after, const QList<FolderState> &whole)
{
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        bool found = false;
        for (const FolderState &state : whole)
            found = found || (state.contains(it.key()) && state.value(it.key()) == it.value());
        if (!found)
            return QStringLiteral("%1 is neither as before nor as after a clean run").arg(it.key());
    }
    return QString();
}

QString Describe(FileCall kind, int n, int error)
{
    return QStringLiteral("%1 call %2 failing with %3").arg(QLatin1String(FileFaults::CallName(kind))).arg(n).arg(
        FileIo::ErrorText(error));
}

} // namespace

FolderState StateOf(const QStringList &folders)
{
    FolderState state;
    for (const QString &folder : folders) {
        for (const QString &file : FilesBelow(folder)) {
            const QString path = folder + u'/' + file;
            state.insert(path, Normalized(path, ReadAll(path)));
        }
    }
    return state;
}

QList<int> DiskErrors()
{
    return {ENOSPC, EACCES, EROFS, EIO};
}

int RunFaultSweep(const FaultSweep &sweep)
{
    const QList<int> errors = sweep.errors.isEmpty() ? DiskErrors() : sweep.errors;

    sweep.prepare();
    const QStringList cleanErrors = sweep.run();
    if (!cleanErrors.isEmpty()) {
        QTest::qFail(qPrintable(QStringLiteral("The clean run failed: ") + cleanErrors.join(u'\n')), __FILE__, __LINE__);
        return 0;
    }
    const FolderState clean = StateOf(sweep.folders);
    QList<FolderState> whole{clean};
    for (const std::function<void()> &partial : sweep.partials) {
        sweep.prepare();
        partial();
        whole << StateOf(sweep.folders);
    }

    sweep.prepare();
    FileFaults::Arm();
    sweep.run();
    const int calls = FileFaults::Count(sweep.kind);
    FileFaults::Disarm();
    if (calls == 0) {
        QTest::qFail("The operation makes no call of that kind", __FILE__, __LINE__);
        return 0;
    }

    int points = 0;
    for (const int error : errors) {
        for (int n = 1; n <= calls; ++n) {
            const QString what = Describe(sweep.kind, n, error);
            const auto fail = [&](const QString &problem) {
                QTest::qFail(qPrintable(what + QStringLiteral(": ") + problem), __FILE__, __LINE__);
            };
            sweep.prepare();
            const FolderState before = StateOf(sweep.folders);
            FileFaults::Arm(sweep.kind, n, error);
            const QStringList reported = sweep.run();
            const bool fired = FileFaults::Fired();
            FileFaults::Disarm();
            ++points;
            if (!fired) {
                // A run that took another way (a fallback) made fewer calls.
                fail(QStringLiteral("the fault was never reached"));
                return points;
            }
            const FolderState after = StateOf(sweep.folders);
            if (reported.isEmpty()) {
                // Done another way (a move across file systems copies).
                if (after != clean) {
                    fail(QStringLiteral("nothing was reported, yet the result is not the clean one"));
                    return points;
                }
                continue;
            } else {
                const QString text = reported.join(u'\n');
                const bool named = std::any_of(sweep.names.cbegin(), sweep.names.cend(),
                                               [&](const QString &name) { return text.contains(name); });
                const bool caused = text.contains(FileIo::ErrorText(error))
                                    || std::any_of(sweep.causes.cbegin(), sweep.causes.cend(),
                                                   [&](const QString &cause) { return text.contains(cause); });
                if (!caused || text.contains(QLatin1String("Unknown error")) || !named) {
                    fail(QStringLiteral("the message does not name the file and the cause: ") + text);
                    return points;
                }
            }
            QList<FolderState> allowed = whole;
            allowed << before;
            const QString torn = Torn(after, allowed);
            if (!torn.isEmpty()) {
                fail(torn);
                return points;
            }
            for (auto it = before.cbegin(); it != before.cend(); ++it) {
                if (!after.contains(it.key()) && clean.contains(it.key())) {
                    fail(it.key() + QStringLiteral(" was lost"));
                    return points;
                }
            }
            if (sweep.intact) {
                const QString problem = sweep.intact();
                if (!problem.isEmpty()) {
                    fail(problem);
                    return points;
                }
            }
            const QStringList again = sweep.run();
            if (!again.isEmpty() || StateOf(sweep.folders) != clean) {
                fail(QStringLiteral("running again does not give the clean result: ") + again.join(u'\n'));
                return points;
            }
        }
    }
    return points;
}

std::unique_ptr<QTemporaryDir> SweepFolder(const QString &name, const QString &elsewhere)
{
    const bool inMemory = ::access("/dev/shm", W_OK) == 0;
    return std::make_unique<QTemporaryDir>((inMemory ? QStringLiteral("/dev/shm") : elsewhere) + u'/' + name
                                           + QStringLiteral("-XXXXXX"));
}

QStringList BoxesOf(const std::function<void()> &f, const QList<QMessageBox::Icon> &icons)
{
    FakePrompts prompts;
    prompts.answers = {QMessageBox::Yes, QMessageBox::Yes, QMessageBox::Yes};
    RunGuarded(f);
    QStringList boxes;
    for (const FakePrompts::Message &m : std::as_const(prompts.messages)) {
        if (icons.contains(m.icon))
            boxes << m.text;
    }
    return boxes;
}
