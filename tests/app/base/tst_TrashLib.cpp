// Local
#include "TestFiles.h"
#include "TrashLib.h"

// Qt
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

// Std
#include <cerrno>
#include <filesystem>
#include <memory>

// System
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray kContent = "picture bytes\n";

void PutRaw(const QByteArray &path, const QByteArray &data)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY2(fd >= 0, path.constData());
    QCOMPARE(::write(fd, data.constData(), size_t(data.size())), ssize_t(data.size()));
    ::close(fd);
}

QByteArray GetRaw(const QByteArray &path)
{
    QFile f(QFile::decodeName(path));
    const int fd = ::open(path.constData(), O_RDONLY);
    if (fd < 0 || !f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return "<missing>";
    return f.readAll();
}

// Runs one of trash-cli's commands with this test's environment.
QByteArray TrashCli(const QString &tool, const QStringList &args, const QByteArray &input = {})
{
    QProcess p;
    p.start(tool, args);
    if (!p.waitForStarted()) {
        QTest::qFail(qPrintable(tool + QStringLiteral(" did not start; scripts/setup installs trash-cli")), __FILE__, __LINE__);
        return {};
    }
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    const QByteArray err = p.readAllStandardError();
    if (p.exitCode() != 0 || !err.isEmpty())
        QTest::qFail(qPrintable(tool + QStringLiteral(" failed: ") + QString::fromLocal8Bit(err)), __FILE__, __LINE__);
    return p.readAllStandardOutput();
}

// A folder on another file system than the home Trash, or "" when there is none.
QString OtherVolume()
{
    struct stat a, b;
    if (::stat("/dev/shm", &b) != 0 || ::stat(QFile::encodeName(QDir::homePath()).constData(), &a) != 0
        || a.st_dev == b.st_dev || ::access("/dev/shm", W_OK) != 0)
        return {};
    return QStringLiteral("/dev/shm");
}

QByteArray VolumeTrash()
{
    return "/dev/shm/.Trash-" + QByteArray::number(::getuid());
}

} // namespace

class tst_TrashLib : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void trashCliRestores_data();
    void trashCliRestores();
    void takesAFreeName();
    void shortensLongNames();
    void volumeTrashFolder_data();
    void volumeTrashFolder();
    void failedRenameLeavesNoEntry_data();
    void failedRenameLeavesNoEntry();

private:
    // The Trash and the files live in a folder of the test's own, whatever
    // started it: never the user's Trash.
    QTemporaryDir FHome;
    std::unique_ptr<QTemporaryDir> FDir;
};

void tst_TrashLib::initTestCase()
{
    QVERIFY(FHome.isValid());
    qputenv("HOME", QFile::encodeName(FHome.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(FHome.filePath(QStringLiteral("data"))));
    QCOMPARE(HomeTrashFolder(), QFile::encodeName(FHome.filePath(QStringLiteral("data/Trash"))));
}

void tst_TrashLib::init()
{
    // Every test starts from an empty Trash. (Qt cannot remove names that
    // are not UTF-8.)
    std::filesystem::remove_all(HomeTrashFolder().toStdString());
    std::filesystem::remove_all(VolumeTrash().toStdString());
}

void tst_TrashLib::cleanup()
{
    SetTrashRenameFunction({});
    FDir.reset();
    std::filesystem::remove_all(VolumeTrash().toStdString());
}

void tst_TrashLib::trashCliRestores_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("otherVolume");
    QTest::newRow("escaped percent") << QByteArray("sale 50%25.jpg") << false;
    QTest::newRow("escaped slash") << QByteArray("a%2Fb.jpg") << false;
    QTest::newRow("blanks") << QByteArray("my photo  1.jpg") << false;
    QTest::newRow("ampersand and hash") << QByteArray("Tom & Jerry #1.jpg") << false;
    QTest::newRow("quotes") << QByteArray("\"quoted\" 'single'.jpg") << false;
    QTest::newRow("newline") << QByteArray("two\nlines.jpg") << false;
    QTest::newRow("non-ascii") << QByteArray("Zo\xc3\xab \xe6\x9d\xb1\xe4\xba\xac.jpg") << false;
    QTest::newRow("not utf-8") << QByteArray("caf\xe9.jpg") << false;
    QTest::newRow("other volume") << QByteArray("sale 50%25 #2.jpg") << true;
}

void tst_TrashLib::trashCliRestores()
{
    QFETCH(QByteArray, name);
    QFETCH(bool, otherVolume);
    const QString base = otherVolume ? OtherVolume() : FHome.path();
    if (base.isEmpty())
        QSKIP("/dev/shm is not another writable file system here");
    FDir = std::make_unique<QTemporaryDir>(base + QStringLiteral("/trashed-XXXXXX"));
    QVERIFY(FDir->isValid());
    const QByteArray dir = QFile::encodeName(QFileInfo(FDir->path()).canonicalFilePath());
    const QByteArray path = dir + '/' + name;
    // Qt cannot remove a name that is not UTF-8.
    const auto removeRaw = qScopeGuard([&] { ::unlink(path.constData()); });
    PutRaw(path, kContent);

    QString reason;
    QVERIFY2(MoveToTrash(path, &reason), qPrintable(reason));
    QCOMPARE(GetRaw(path), QByteArray("<missing>"));
    const bool lossy = QString::fromUtf8(name).toUtf8() != name;
    if (lossy) {
        // What a reader that keeps bytes gets back from the entry.
        QProcess python;
        python.start(QStringLiteral("python3"),
                     {QStringLiteral("-c"), QStringLiteral("import os, sys, urllib.parse\n"
                                                           "for l in open(sys.argv[1] + '/' + os.listdir(sys.argv[1])[0]):\n"
                                                           "  if l.startswith('Path='):"
                                                           " sys.stdout.buffer.write(urllib.parse.unquote_to_bytes(l[5:-1]))"),
                      QFile::decodeName(HomeTrashFolder() + "/info")});
        QVERIFY(python.waitForFinished());
        QCOMPARE(python.readAllStandardOutput(), path);
    }

    // "2024-05-01 12:30:00 /the/path\n", once for each time its volume is
    // mounted.
    const QByteArray listed = TrashCli(QStringLiteral("trash-list"), {});
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d ")).match(QString::fromLatin1(listed)).hasMatch(),
             listed.constData());
    // Debian 12's trash-cli decodes the path as UTF-8, turning other bytes
    // into U+FFFD, so it cannot name or restore such a file exactly.
    if (lossy)
        QEXPECT_FAIL("", "trash-cli decodes Path as UTF-8 with replacement characters", Continue);
    QCOMPARE(listed.mid(20, path.size() + 1), path + '\n');

    // trash-restore lists the entries below the folder and asks for one.
    TrashCli(QStringLiteral("trash-restore"), {QFile::decodeName(dir)}, "0\n");
    if (lossy)
        QEXPECT_FAIL("", "trash-cli decodes Path as UTF-8 with replacement characters", Continue);
    QCOMPARE(GetRaw(path), kContent);
    QCOMPARE(QDir(FDir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size(), 1);
    QVERIFY(TrashCli(QStringLiteral("trash-list"), {}).isEmpty());
}

void tst_TrashLib::takesAFreeName()
{
    // "photo.jpg" has an entry; "photo.jpg.2" is a file left without one.
    const QString trash = QFile::decodeName(HomeTrashFolder());
    WriteFile(trash + QStringLiteral("/info/photo.jpg.trashinfo"), "old entry");
    WriteFile(trash + QStringLiteral("/files/photo.jpg.2"), "orphan");
    const QString path = FHome.filePath(QStringLiteral("photo.jpg"));
    WriteFile(path, kContent);
    const QString original = QFileInfo(path).canonicalFilePath();

    QVERIFY(MoveToTrash(path));
    QCOMPARE(ReadAll(trash + QStringLiteral("/files/photo.jpg.3")), kContent);
    QCOMPARE(ReadAll(trash + QStringLiteral("/files/photo.jpg.2")), QByteArray("orphan"));
    QCOMPARE(ReadAll(trash + QStringLiteral("/info/photo.jpg.trashinfo")), QByteArray("old entry"));
    QVERIFY(!QFile::exists(trash + QStringLiteral("/info/photo.jpg.2.trashinfo")));
    const QRegularExpressionMatch info =
        QRegularExpression(QStringLiteral("^\\[Trash Info\\]\nPath=(.*)\nDeletionDate=(.*)\n$"))
            .match(QString::fromUtf8(ReadAll(trash + QStringLiteral("/info/photo.jpg.3.trashinfo"))));
    QVERIFY(info.hasMatch());
    QCOMPARE(info.captured(1), original);
    const QDateTime deleted = QDateTime::fromString(info.captured(2), QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    QVERIFY2(qAbs(deleted.secsTo(QDateTime::currentDateTime())) < 120, qPrintable(info.captured(2)));
}

void tst_TrashLib::shortensLongNames()
{
    // 254 bytes: its .trashinfo name would be too long for the file system.
    const QString name = QString(125, QChar(0xe4)) + QStringLiteral(".jpg");
    const QString path = FHome.filePath(name);
    WriteFile(path, kContent);
    QVERIFY(MoveToTrash(path));
    // Cut to fit, and never inside a character.
    const QString trashed = QString(122, QChar(0xe4));
    QCOMPARE(ReadAll(QFile::decodeName(HomeTrashFolder() + "/files/") + trashed), kContent);
    QVERIFY(ReadAll(QFile::decodeName(HomeTrashFolder() + "/info/") + trashed + QStringLiteral(".trashinfo"))
                .contains(QUrl::toPercentEncoding(name)));
}

void tst_TrashLib::volumeTrashFolder_data()
{
    QTest::addColumn<QString>("shared"); // what $topdir/.Trash is
    QTest::addColumn<QString>("used");
    const QString uid = QString::number(::getuid());
    QTest::newRow("none") << "" << ".Trash-" + uid;
    QTest::newRow("sticky folder") << "sticky" << ".Trash/" + uid;
    QTest::newRow("folder without the sticky bit") << "plain" << ".Trash-" + uid;
    QTest::newRow("link to a sticky folder") << "link" << ".Trash-" + uid;
}

void tst_TrashLib::volumeTrashFolder()
{
    QFETCH(QString, shared);
    QFETCH(QString, used);
    const QString volume = OtherVolume();
    if (volume.isEmpty())
        QSKIP("/dev/shm is not another writable file system here");
    const QString sharedTrash = volume + QStringLiteral("/.Trash");
    if (QFileInfo::exists(sharedTrash) || QFileInfo(sharedTrash).isSymLink())
        QSKIP("/dev/shm/.Trash exists already: not the test's to change");
    FDir = std::make_unique<QTemporaryDir>(volume + QStringLiteral("/trashed-XXXXXX"));
    QVERIFY(FDir->isValid());
    const auto removeShared = qScopeGuard([&] {
        QFile::remove(sharedTrash);
        QDir(sharedTrash).removeRecursively();
    });
    if (shared == QLatin1String("link")) {
        QVERIFY(QFile::link(FDir->path(), sharedTrash));
        QVERIFY(::chmod(QFile::encodeName(FDir->path()).constData(), 01777) == 0);
    } else if (!shared.isEmpty()) {
        QVERIFY(QDir().mkdir(sharedTrash));
        QVERIFY(::chmod(QFile::encodeName(sharedTrash).constData(), shared == QLatin1String("sticky") ? 01777 : 0777) == 0);
    }
    const QString path = FDir->filePath(QStringLiteral("photo.jpg"));
    WriteFile(path, kContent);

    QString reason;
    QVERIFY2(MoveToTrash(path, &reason), qPrintable(reason));
    const QString trash = volume + u'/' + used;
    QCOMPARE(ReadAll(trash + QStringLiteral("/files/photo.jpg")), kContent);
    // Relative to the volume's top, as the volume may be mounted elsewhere.
    QVERIFY(ReadAll(trash + QStringLiteral("/info/photo.jpg.trashinfo"))
                .contains("\nPath=" + QFileInfo(FDir->path()).fileName().toUtf8() + "/photo.jpg\n"));
    QDir(volume + QStringLiteral("/.Trash/") + QString::number(::getuid())).removeRecursively();
}

void tst_TrashLib::failedRenameLeavesNoEntry_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("reason");
    QTest::newRow("another file system")
        << EXDEV << QStringLiteral("The Trash folder \"%1\" is on another file system").arg(QFile::decodeName(HomeTrashFolder()));
    QTest::newRow("refused") << EACCES << qt_error_string(EACCES);
}

void tst_TrashLib::failedRenameLeavesNoEntry()
{
    QFETCH(int, error);
    QFETCH(QString, reason);
    const QString trash = QFile::decodeName(HomeTrashFolder());
    const QString path = FHome.filePath(QStringLiteral("photo 1.jpg"));
    WriteFile(path, kContent);
    QByteArray infoAtRename;
    SetTrashRenameFunction([&](const QByteArray &, const QByteArray &) {
        infoAtRename = ReadAll(trash + QStringLiteral("/info/photo 1.jpg.trashinfo"));
        return error;
    });

    QString why;
    QVERIFY(!MoveToTrash(path, &why));
    QCOMPARE(why, reason);
    QVERIFY2(infoAtRename.contains("\nPath=" + QFile::encodeName(QFileInfo(path).canonicalPath()).toPercentEncoding("/") + "/photo%201.jpg\n"),
             infoAtRename.constData());
    QCOMPARE(ReadAll(path), kContent);
    QCOMPARE(FilesBelow(trash), QStringList());
}

QTEST_MAIN(tst_TrashLib)
#include "tst_TrashLib.moc"
