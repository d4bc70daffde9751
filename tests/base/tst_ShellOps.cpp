// Local
#include "FakePrompts.h"
#include "ShellOps.h"
#include "TestFiles.h"
#include "TestPaths.h"

// Qt
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// Std
#include <cerrno>
#include <csignal>
#include <memory>

// System
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void Put(const QString &path, const QByteArray &data)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(f.write(data), data.size());
}

// The file's bytes, or "<missing>".
QByteArray Get(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Temporary copies the program may have left in a folder.
QStringList Leftovers(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral(".tamsel-copy-*")}, QDir::Files | QDir::Hidden);
}

// A file-size limit for this process, as a full disk shows itself to a
// writer: writes past it fail with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &FOld);
        rlimit limit = FOld;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &FOld);
        std::signal(SIGXFSZ, FOldHandler);
    }

private:
    rlimit FOld{};
    void (*FOldHandler)(int) = nullptr;
};

// Makes every move look like one across file systems.
class CrossDevice
{
public:
    CrossDevice()
    {
        SetShellRenameFunction([this](const QString &, const QString &, bool replace) {
            ++calls;
            lastReplace = replace;
            return EXDEV;
        });
    }
    ~CrossDevice() { SetShellRenameFunction({}); }
    int calls = 0;
    bool lastReplace = false;
};

// Answers the replace question after deleting the source: the file
// vanishes behind the program's back while it waits for the user.
class VanishingPrompts : public FakePrompts
{
public:
    QString victim;
    QMessageBox::StandardButton message(QWidget *parent, QMessageBox::Icon icon, const QString &caption,
                                        const QString &text, QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton) override
    {
        QFile::remove(victim);
        return FakePrompts::message(parent, icon, caption, text, buttons, defaultButton);
    }
};

enum Target { NoTarget, OldTarget, SameFolder, FolderInTheWay, SourceMissing, DestMissing };

} // namespace

class tst_ShellOps : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void deleteFile_data();
    void deleteFile();
    void deleteMissingFile();
    void copyOrMove_data();
    void copyOrMove();
    void crossDeviceMove_data();
    void crossDeviceMove();
    void fullDisk_data();
    void fullDisk();
    void destinationNotWritable();
    void sourceVanishesDuringQuestion_data();
    void sourceVanishesDuringQuestion();
    void openGoesToTheDesktop();

private:
    // Work below the home folder: the same file system as the user's Trash.
    std::unique_ptr<QTemporaryDir> FDir;
    QString FSource;
    QString FDest;
};

void tst_ShellOps::init()
{
    QVERIFY(QDir().mkpath(QDir::homePath()));
    FDir = std::make_unique<QTemporaryDir>(QDir::homePath() + QStringLiteral("/shell-XXXXXX"));
    QVERIFY(FDir->isValid());
    QVERIFY(QDir(FDir->path()).mkdir(QStringLiteral("src")));
    QVERIFY(QDir(FDir->path()).mkdir(QStringLiteral("dest")));
    FSource = FDir->filePath(QStringLiteral("src/photo 1.jpg"));
    FDest = FDir->filePath(QStringLiteral("dest"));
    Put(FSource, PatternedBytes(300 * 1024, 1));
}

void tst_ShellOps::cleanup()
{
    SetShellRenameFunction({});
    FDir.reset();
}

void tst_ShellOps::deleteFile_data()
{
    QTest::addColumn<bool>("allowUndo");
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<QString>("question");
    QTest::newRow("trash, yes") << true << QMessageBox::Yes << "Move \"photo 1.jpg\" to the Trash?";
    QTest::newRow("trash, no") << true << QMessageBox::No << "Move \"photo 1.jpg\" to the Trash?";
    QTest::newRow("for good, yes") << false << QMessageBox::Yes
                                   << "Delete \"photo 1.jpg\" permanently? This cannot be undone.";
    QTest::newRow("for good, no") << false << QMessageBox::No
                                  << "Delete \"photo 1.jpg\" permanently? This cannot be undone.";
}

void tst_ShellOps::deleteFile()
{
    QFETCH(bool, allowUndo);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(QString, question);
    const QString trash = TestTrashFolder();
    QDir(trash).removeRecursively();
    const QString trashed = trash + QStringLiteral("/files/photo 1.jpg");
    FakePrompts prompts;
    prompts.answers << answer;
    const bool yes = answer == QMessageBox::Yes;

    QCOMPARE(ShellDeleteFile(nullptr, FSource, allowUndo), yes);
    QCOMPARE(prompts.messages.size(), 1);
    QCOMPARE(prompts.messages.first().caption, QStringLiteral("Confirm"));
    QCOMPARE(prompts.messages.first().icon, QMessageBox::Question);
    QCOMPARE(prompts.messages.first().text, question);
    QCOMPARE(prompts.messages.first().buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(QFile::exists(FSource), !yes);
    QCOMPARE(Get(trashed) == PatternedBytes(300 * 1024, 1), yes && allowUndo);
}

void tst_ShellOps::deleteMissingFile()
{
    FakePrompts prompts;
    const QString gone = FDir->filePath(QStringLiteral("src/gone.jpg"));
    for (bool allowUndo : {true, false}) {
        QVERIFY(!ShellDeleteFile(nullptr, gone, allowUndo));
        QCOMPARE(prompts.messages.last().icon, QMessageBox::Critical);
        QCOMPARE(prompts.messages.last().text, QStringLiteral("Cannot delete \"%1\": the file does not exist.").arg(gone));
    }
    QCOMPARE(prompts.messages.size(), 2);
}

void tst_ShellOps::copyOrMove_data()
{
    QTest::addColumn<bool>("move");
    QTest::addColumn<int>("target");
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("error"); // part of the error box's text, "" for none
    const auto none = QMessageBox::NoButton;
    for (bool move : {false, true}) {
        const char *verb = move ? "move" : "copy";
        QTest::addRow("%s", verb) << move << int(NoTarget) << none << true << "";
        QTest::addRow("%s, replace declined", verb) << move << int(OldTarget) << QMessageBox::No << false << "";
        QTest::addRow("%s, replace accepted", verb) << move << int(OldTarget) << QMessageBox::Yes << true << "";
        QTest::addRow("%s onto itself", verb) << move << int(SameFolder) << QMessageBox::Yes << false
                                              << "the source and the destination are the same file";
        QTest::addRow("%s, folder in the way", verb) << move << int(FolderInTheWay) << none << false
                                                     << "a folder named \"photo 1.jpg\" is in the way";
        QTest::addRow("%s, source missing", verb) << move << int(SourceMissing) << none << false
                                                  << "the file does not exist";
        QTest::addRow("%s, destination missing", verb) << move << int(DestMissing) << none << false
                                                       << "the folder does not exist";
    }
}

void tst_ShellOps::copyOrMove()
{
    QFETCH(bool, move);
    QFETCH(int, target);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(bool, result);
    QFETCH(QString, error);
    const QByteArray source = Get(FSource);
    const QByteArray old = PatternedBytes(1000, 2);
    QString dest = FDest;
    const QString targetFile = FDest + QStringLiteral("/photo 1.jpg");
    switch (target) {
    case OldTarget: Put(targetFile, old); break;
    case SameFolder: dest = FDir->filePath(QStringLiteral("src")); break;
    case FolderInTheWay: QVERIFY(QDir().mkdir(targetFile)); break;
    case SourceMissing: QVERIFY(QFile::remove(FSource)); break;
    case DestMissing: dest = FDir->filePath(QStringLiteral("nowhere")); break;
    }
    FakePrompts prompts;
    if (answer != QMessageBox::NoButton)
        prompts.answers << answer;

    QCOMPARE(ShellCopyOrMove(nullptr, FSource, dest, move), result);

    const bool replaceAsked = target == OldTarget;
    QCOMPARE(prompts.messages.size(), int(replaceAsked) + int(!error.isEmpty()));
    if (replaceAsked) {
        const FakePrompts::Message &q = prompts.messages.first();
        QCOMPARE(q.caption, QStringLiteral("Confirm"));
        QCOMPARE(q.text, QStringLiteral("The folder \"%1\" already contains a file named \"photo 1.jpg\".\nReplace it?")
                             .arg(FDest));
        QCOMPARE(q.buttons, QMessageBox::Yes | QMessageBox::No);
    }
    if (!error.isEmpty()) {
        const FakePrompts::Message &e = prompts.messages.last();
        QCOMPARE(e.icon, QMessageBox::Critical);
        QVERIFY2(e.text.contains(FSource) && e.text.contains(error, Qt::CaseInsensitive), qPrintable(e.text));
    }

    if (target == SourceMissing || target == DestMissing || target == FolderInTheWay) {
        QVERIFY(!QFile(targetFile).exists() || QFileInfo(targetFile).isDir());
    } else if (target == SameFolder) {
        QCOMPARE(Get(FSource), source);
    } else {
        QCOMPARE(Get(targetFile), result ? source : old);
        QCOMPARE(QFile::exists(FSource), !(move && result));
        if (QFile::exists(FSource))
            QCOMPARE(Get(FSource), source);
    }
    QCOMPARE(Leftovers(FDest), QStringList());
    QCOMPARE(Leftovers(FDir->filePath(QStringLiteral("src"))), QStringList());
}

void tst_ShellOps::crossDeviceMove_data()
{
    QTest::addColumn<bool>("real");
    QTest::addColumn<bool>("replace");
    QTest::newRow("simulated") << false << false;
    QTest::newRow("simulated, replacing") << false << true;
    QTest::newRow("to /dev/shm") << true << false;
}

void tst_ShellOps::crossDeviceMove()
{
    QFETCH(bool, real);
    QFETCH(bool, replace);
    std::unique_ptr<QTemporaryDir> shm;
    std::unique_ptr<CrossDevice> simulated;
    QString dest = FDest;
    if (real) {
        struct stat a, b;
        if (::stat("/dev/shm", &b) != 0 || ::stat(QFile::encodeName(FDest).constData(), &a) != 0 || a.st_dev == b.st_dev)
            QSKIP("/dev/shm is not another file system here");
        shm = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/tamsel-XXXXXX"));
        QVERIFY(shm->isValid());
        dest = shm->path();
    } else {
        simulated = std::make_unique<CrossDevice>();
    }
    const QString targetFile = dest + QStringLiteral("/photo 1.jpg");
    if (replace)
        Put(targetFile, PatternedBytes(10, 3));
    QVERIFY(QFile::setPermissions(FSource, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    const QDateTime stamp = QDateTime::fromSecsSinceEpoch(1500000000);
    {
        QFile f(FSource);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(stamp, QFileDevice::FileModificationTime));
    }
    const QByteArray source = Get(FSource);
    FakePrompts prompts;
    prompts.answers << QMessageBox::Yes;

    QVERIFY(ShellCopyOrMove(nullptr, FSource, dest, true));
    QVERIFY(!QFile::exists(FSource));
    QCOMPARE(Get(targetFile), source);
    QCOMPARE(QFileInfo(targetFile).lastModified(), stamp);
    const QFileDevice::Permissions ownerGroupOther(0x7077);
    QCOMPARE(QFile::permissions(targetFile) & ownerGroupOther, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    QCOMPARE(Leftovers(dest), QStringList());
    if (simulated) {
        QCOMPARE(simulated->calls, 1);
        QCOMPARE(simulated->lastReplace, replace);
    }
}

void tst_ShellOps::fullDisk_data()
{
    QTest::addColumn<bool>("move");
    QTest::addColumn<bool>("existing");
    QTest::newRow("copy over an existing file") << false << true;
    QTest::newRow("copy") << false << false;
    QTest::newRow("move across file systems") << true << false;
    QTest::newRow("move across file systems, replacing") << true << true;
}

void tst_ShellOps::fullDisk()
{
    QFETCH(bool, move);
    QFETCH(bool, existing);
    const QString targetFile = FDest + QStringLiteral("/photo 1.jpg");
    const QByteArray old = PatternedBytes(1000, 4);
    if (existing)
        Put(targetFile, old);
    const QByteArray source = Get(FSource);
    CrossDevice crossDevice;
    FakePrompts prompts;
    prompts.answers << QMessageBox::Yes;
    bool result = true;
    {
        FileSizeLimit limit(64 * 1024);
        result = ShellCopyOrMove(nullptr, FSource, FDest, move);
    }
    QVERIFY(!result);
    // Nothing lost: the source as it was, the old file untouched, no half
    // copy under the real name or beside it.
    QCOMPARE(Get(FSource), source);
    QCOMPARE(Get(targetFile), existing ? old : QByteArray("<missing>"));
    QCOMPARE(Leftovers(FDest), QStringList());
    const QString text = prompts.messages.last().text;
    QCOMPARE(prompts.messages.last().icon, QMessageBox::Critical);
    QVERIFY2(text.startsWith(QStringLiteral("Cannot %1 \"%2\" to \"%3\": ").arg(move ? "move" : "copy", FSource, FDest)),
             qPrintable(text));
    QVERIFY2(text.contains(qt_error_string(EFBIG)), qPrintable(text));
}

void tst_ShellOps::destinationNotWritable()
{
    // Root writes into any folder whatever its mode bits; sysfs refuses new
    // files even to root.
    QString dest = FDir->filePath(QStringLiteral("readonly"));
    QVERIFY(QDir().mkdir(dest));
    if (::geteuid() == 0) {
        dest = QStringLiteral("/sys/kernel");
        const QByteArray probe = "/sys/kernel/.tamsel-probe";
        const int fd = ::open(probe.constData(), O_CREAT | O_EXCL | O_WRONLY, 0600);
        if (fd >= 0) {
            ::close(fd);
            ::unlink(probe.constData());
            QSKIP("Running as root and /sys accepts new files: no folder refuses writing");
        }
    } else {
        QVERIFY(QFile::setPermissions(dest, QFile::ReadOwner | QFile::ExeOwner));
    }
    const QByteArray source = Get(FSource);
    for (bool move : {false, true}) {
        FakePrompts prompts;
        QVERIFY(!ShellCopyOrMove(nullptr, FSource, dest, move));
        QCOMPARE(Get(FSource), source);
        QVERIFY(!QFile::exists(dest + QStringLiteral("/photo 1.jpg")));
        QCOMPARE(prompts.messages.size(), 1);
        QVERIFY2(prompts.messages.first().text.contains(qt_error_string(EACCES)), qPrintable(prompts.messages.first().text));
    }
}

void tst_ShellOps::sourceVanishesDuringQuestion_data()
{
    QTest::addColumn<bool>("move");
    QTest::addColumn<bool>("crossDevice");
    QTest::newRow("copy") << false << false;
    QTest::newRow("move") << true << false;
    QTest::newRow("move across file systems") << true << true;
}

void tst_ShellOps::sourceVanishesDuringQuestion()
{
    QFETCH(bool, move);
    QFETCH(bool, crossDevice);
    const QString targetFile = FDest + QStringLiteral("/photo 1.jpg");
    const QByteArray old = PatternedBytes(1000, 5);
    Put(targetFile, old);
    std::unique_ptr<CrossDevice> simulated;
    if (crossDevice)
        simulated = std::make_unique<CrossDevice>();
    VanishingPrompts prompts;
    prompts.victim = FSource;
    prompts.answers << QMessageBox::Yes;
    QVERIFY(!ShellCopyOrMove(nullptr, FSource, FDest, move));
    QCOMPARE(Get(targetFile), old);
    QCOMPARE(Leftovers(FDest), QStringList());
    QCOMPARE(prompts.messages.size(), 2);
    QVERIFY(prompts.messages.last().text.contains(FSource));
    QVERIFY(prompts.messages.last().text.contains(qt_error_string(ENOENT)));
}

void tst_ShellOps::openGoesToTheDesktop()
{
    FakePrompts prompts;
    ShellOpen(QStringLiteral("http://www.example.com/"));
    ShellOpen(QStringLiteral("/photos/gallery/index.html"));
    QCOMPARE(prompts.openedDocuments,
             (QStringList{"http://www.example.com/", "/photos/gallery/index.html"}));
}

QTEST_MAIN(tst_ShellOps)
#include "tst_ShellOps.moc"
