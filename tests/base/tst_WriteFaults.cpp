// Local
#include "AppError.h"
#include "FakePrompts.h"
#include "FaultSweep.h"
#include "FileIo.h"
#include "FormPlacement.h"
#include "RegLib.h"
#include "ShellOps.h"
#include "TrashLib.h"
#include "TestPaths.h"
#include "TestFiles.h"

// Qt
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

// Std
#include <cerrno>
#include <memory>

// System
#include <sys/mount.h>
#include <unistd.h>

Q_DECLARE_METATYPE(FileCall)

namespace {

QStringList ErrorsOf(const std::function<void()> &f)
{
    return ::BoxesOf(f, {QMessageBox::Critical});
}

} // namespace

class tst_WriteFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void everyWriteFails_data();
    void everyWriteFails();
    void fullDisk();

private:
    std::unique_ptr<QTemporaryDir> FDir;
    QString FSource;
    QString FDest;
    QString FTrash;
};

void tst_WriteFaults::initTestCase()
{
    // Thousands of flushes: in memory when there is a memory file system,
    // with the files, the store and the Trash of the suite all there (the
    // Trash must be on the files' file system).
    TestTrashFolder();
    FDir = SweepFolder(QStringLiteral("tamsel-faults"), QDir::homePath());
    QVERIFY(FDir->isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(FDir->filePath(QStringLiteral("data"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(FDir->filePath(QStringLiteral("config"))));
    QVERIFY(QDir().mkpath(FDir->filePath(QStringLiteral("config"))));
    FSource = FDir->filePath(QStringLiteral("src"));
    FDest = FDir->filePath(QStringLiteral("dest"));
    FTrash = QFile::decodeName(HomeTrashFolder());
    QVERIFY(FTrash.startsWith(FDir->path()));
    QVERIFY(RegStoreFile().startsWith(FDir->path()));
}

void tst_WriteFaults::cleanup()
{
    FileFaults::Disarm();
    SetShellRenameFunction({});
}

void tst_WriteFaults::everyWriteFails_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<FileCall>("kind");
    QTest::addColumn<QList<int>>("errors");
    QTest::addColumn<int>("points"); // fault points the sweep must reach
    const QList<int> disk = DiskErrors();
    const QList<int> exdev{EXDEV};
    // Counted once by hand: a change to the calls shows here first.
    QTest::newRow("copy") << "copy" << FileCall::Any << disk << 5 * 4;
    QTest::newRow("copy, replacing") << "copy, replacing" << FileCall::Any << disk << 5 * 4;
    QTest::newRow("copy, rename across") << "copy" << FileCall::Rename << exdev << 1;
    QTest::newRow("move") << "move" << FileCall::Any << disk << 1 * 4;
    QTest::newRow("move, replacing") << "move, replacing" << FileCall::Any << disk << 1 * 4;
    QTest::newRow("move, rename across") << "move" << FileCall::Rename << exdev << 1;
    QTest::newRow("move to another file system") << "move across" << FileCall::Any << disk << 6 * 4;
    QTest::newRow("move to another file system, rename across") << "move across" << FileCall::Rename << exdev << 1;
    QTest::newRow("trash, first time") << "trash" << FileCall::Any << disk << 8 * 4;
    QTest::newRow("trash") << "trash again" << FileCall::Any << disk << 7 * 4;
    QTest::newRow("trash, rename across") << "trash again" << FileCall::Rename << exdev << 1;
    QTest::newRow("delete for good") << "delete" << FileCall::Any << disk << 1 * 4;
    QTest::newRow("store, first value") << "store first" << FileCall::Any << disk << 6 * 4;
    QTest::newRow("store, value") << "store value" << FileCall::Any << disk << 5 * 4;
    QTest::newRow("store, value, rename across") << "store value" << FileCall::Rename << exdev << 1;
    QTest::newRow("store, form placement") << "store placement" << FileCall::Any << disk << 5 * 4;
    QTest::newRow("store, string list") << "store list" << FileCall::Any << disk << 5 * 4;
    QTest::newRow("store, history rewrite") << "store history" << FileCall::Any << disk << 5 * 4;
}

void tst_WriteFaults::everyWriteFails()
{
    QFETCH(QString, operation);
    QFETCH(FileCall, kind);
    QFETCH(QList<int>, errors);
    QFETCH(int, points);

    const QString file = FSource + QStringLiteral("/pic.jpg");
    const QString target = FDest + QStringLiteral("/pic.jpg");
    const QByteArray data = PatternedBytes(200000, 1);
    const QByteArray old = PatternedBytes(5000, 2);
    const bool replacing = operation.endsWith(QLatin1String(", replacing"));
    const QString store = RegStoreFile();
    const QString storeFolder = QFileInfo(store).absolutePath();

    FaultSweep sweep;
    sweep.errors = errors;
    sweep.kind = kind;
    sweep.names = {file, FDest, store, storeFolder};

    if (operation.startsWith(QLatin1String("copy")) || operation.startsWith(QLatin1String("move"))) {
        const bool move = operation.startsWith(QLatin1String("move"));
        const bool across = operation == QLatin1String("move across");
        sweep.folders = {FSource, FDest};
        sweep.prepare = [=, this] {
            QDir(FSource).removeRecursively();
            QDir(FDest).removeRecursively();
            WriteFile(file, data);
            QVERIFY(QDir().mkpath(FDest));
            if (replacing)
                WriteFile(target, old);
        };
        sweep.run = [=, this] {
            if (across)
                SetShellRenameFunction([](const QString &, const QString &, bool) { return EXDEV; });
            const QStringList errors = ErrorsOf([&] { ShellCopyOrMove(nullptr, file, FDest, move); });
            SetShellRenameFunction({});
            return errors;
        };
        // A moved file is where it was, or whole where it went.
        if (move)
            sweep.intact = [=, this] {
                return ReadAll(file) == data || ReadAll(target) == data ? QString() : QStringLiteral("the file is lost");
            };
    } else if (operation.startsWith(QLatin1String("trash")) || operation == QLatin1String("delete")) {
        const bool trash = operation != QLatin1String("delete");
        const bool again = operation == QLatin1String("trash again");
        sweep.folders = {FSource, FTrash};
        sweep.prepare = [=, this] {
            QDir(FSource).removeRecursively();
            QDir(FTrash).removeRecursively();
            WriteFile(file, data);
            // The Trash's folders as an earlier deletion left them.
            if (again)
                QVERIFY(QDir().mkpath(FTrash + QStringLiteral("/files")) && QDir().mkpath(FTrash + QStringLiteral("/info")));
        };
        sweep.run = [=, this] { return ErrorsOf([&] { ShellDeleteFile(nullptr, file, trash); }); };
        if (trash)
            sweep.intact = [=, this] {
                const bool trashed = ReadAll(FTrash + QStringLiteral("/files/pic.jpg")) == data
                                     && QFile::exists(FTrash + QStringLiteral("/info/pic.jpg.trashinfo"));
                return ReadAll(file) == data || trashed ? QString() : QStringLiteral("the file is lost");
            };
        sweep.causes << QStringLiteral("is on another file system");
    } else {
        sweep.folders = {storeFolder};
        const bool first = operation == QLatin1String("store first");
        sweep.prepare = [=, this] {
            QDir(storeFolder).removeRecursively();
            if (!first) {
                WriteRegString(kAppKey, QStringLiteral("LastOpenFolder"), QStringLiteral("/old"));
                RewriteRegStringList(kFoldersKey, {QStringLiteral("/a"), QStringLiteral("/b")}, 20);
            }
        };
        std::function<void()> change;
        if (operation == QLatin1String("store placement")) {
            change = [] {
                QWidget form;
                form.setGeometry(10, 20, 300, 200);
                SaveFormPlacement(kFormsKey + QStringLiteral("frmMain"), &form);
            };
        } else if (operation == QLatin1String("store list")) {
            change = [] { SaveStringList(kLastDestFoldersKey, {QStringLiteral("/x"), QStringLiteral("/y")}, 20); };
        } else if (operation == QLatin1String("store history")) {
            change = [] { RewriteRegStringList(kFoldersKey, {QStringLiteral("/c")}, 20); };
        } else {
            change = [] { WriteRegString(kAppKey, QStringLiteral("LastOpenFolder"), QStringLiteral("/new")); };
        }
        sweep.run = [=, this] { return ErrorsOf(change); };
    }

    QCOMPARE(RunFaultSweep(sweep), points);
}

void tst_WriteFaults::fullDisk()
{
    // A real full disk: a small memory file system, which only root may
    // mount.
    const QString mountPoint = FDir->filePath(QStringLiteral("full"));
    QVERIFY(QDir().mkpath(mountPoint));
    if (::mount("tamsel-test", QFile::encodeName(mountPoint).constData(), "tmpfs", 0, "size=64k") != 0)
        QSKIP(qPrintable(QStringLiteral("No small file system to fill (mount: %1)").arg(FileIo::ErrorText(errno))));
    const QString file = FSource + QStringLiteral("/big.jpg");
    WriteFile(file, PatternedBytes(300000, 3));
    WriteFile(mountPoint + QStringLiteral("/kept.jpg"), PatternedBytes(3000, 4));
    const QStringList copied = ErrorsOf([&] { ShellCopyOrMove(nullptr, file, mountPoint, false); });
    const QStringList moved = ErrorsOf([&] { ShellCopyOrMove(nullptr, file, mountPoint, true); });
    const QStringList left = FilesBelow(mountPoint);
    const QByteArray kept = ReadAll(mountPoint + QStringLiteral("/kept.jpg"));
    ::umount(QFile::encodeName(mountPoint).constData());

    const QString expected = QStringLiteral("Cannot %1 \"%2\" to \"%3\": No space left on device.");
    QCOMPARE(copied, QStringList{expected.arg(QStringLiteral("copy"), file, mountPoint)});
    QCOMPARE(moved, QStringList{expected.arg(QStringLiteral("move"), file, mountPoint)});
    QCOMPARE(left, QStringList{QStringLiteral("kept.jpg")});
    QCOMPARE(kept, PatternedBytes(3000, 4));
    QCOMPARE(ReadAll(file), PatternedBytes(300000, 3));
}

QTEST_MAIN(tst_WriteFaults)
#include "tst_WriteFaults.moc"
