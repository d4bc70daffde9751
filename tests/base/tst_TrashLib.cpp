// Local
#include "TestFiles.h"
#include "TrashLib.h"

// Qt
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

// Std
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>

// System
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray kContent = "picture bytes\n";

// File contents by native path: Qt cannot name files that are not UTF-8.
QByteArray GetRaw(const QByteArray &path)
{
    std::ifstream in(path.constData(), std::ios::binary);
    return in ? QByteArray::fromStdString({std::istreambuf_iterator<char>(in), {}}) : QByteArray("<missing>");
}

// Runs a command with this test's environment; fails the test when it
// cannot start, fails or complains.
QByteArray Run(const QString &tool, const QStringList &args, const QByteArray &input = {})
{
    QProcess p;
    p.start(tool, args);
    if (!p.waitForStarted()) {
        QTest::qFail(qPrintable(tool + QStringLiteral(" did not start; scripts/setup installs it")), __FILE__, __LINE__);
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

// /dev/shm when it is another file system than the home Trash's.
bool HaveOtherVolume()
{
    struct stat a, b;
    return ::stat("/dev/shm", &b) == 0 && ::stat(QFile::encodeName(QDir::homePath()).constData(), &a) == 0
           && a.st_dev != b.st_dev && ::access("/dev/shm", W_OK) == 0;
}

const QByteArray kVolumeTrash = "/dev/shm/.Trash-" + QByteArray::number(::getuid());

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
    void entryNames_data();
    void entryNames();
    void volumeTrashFolder_data();
    void volumeTrashFolder();
    void failedRenameLeavesNoEntry_data();
    void failedRenameLeavesNoEntry();

private:
    // Files and Trash in a folder of the test's own, however it was started:
    // never the user's Trash.
    QTemporaryDir FHome;
    std::unique_ptr<QTemporaryDir> FDir;
    QString FTrash;
};

void tst_TrashLib::initTestCase()
{
    QVERIFY(FHome.isValid());
    qputenv("HOME", QFile::encodeName(FHome.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(FHome.filePath(QStringLiteral("data"))));
    FTrash = FHome.filePath(QStringLiteral("data/Trash"));
    QCOMPARE(HomeTrashFolder(), QFile::encodeName(FTrash));
}

void tst_TrashLib::init()
{
    // Every test starts from an empty Trash.
    std::filesystem::remove_all(HomeTrashFolder().toStdString());
    std::filesystem::remove_all(kVolumeTrash.toStdString());
}

void tst_TrashLib::cleanup()
{
    SetTrashRenameFunction({});
    FDir.reset();
    std::filesystem::remove_all(kVolumeTrash.toStdString());
}

void tst_TrashLib::trashCliRestores_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("otherVolume");
    QTest::newRow("escaped percent") << QByteArray("sale 50%25.jpg") << false;
    QTest::newRow("escaped slash") << QByteArray("a%2Fb.jpg") << false;
    QTest::newRow("blanks, ampersand, hash") << QByteArray("Tom  & Jerry #1.jpg") << false;
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
    if (otherVolume && !HaveOtherVolume())
        QSKIP("/dev/shm is not another writable file system here");
    FDir = std::make_unique<QTemporaryDir>((otherVolume ? QStringLiteral("/dev/shm") : FHome.path()) + "/trashed-XXXXXX");
    QVERIFY(FDir->isValid());
    const QByteArray dir = QFile::encodeName(QFileInfo(FDir->path()).canonicalFilePath());
    const QByteArray path = dir + '/' + name;
    const auto removeRaw = qScopeGuard([&] { ::unlink(path.constData()); });
    std::ofstream(path.constData()) << kContent.constData();

    QString reason;
    QVERIFY2(MoveToTrash(path, &reason), qPrintable(reason));
    QCOMPARE(GetRaw(path), QByteArray("<missing>"));
    // Debian 12's trash-cli decodes Path as UTF-8 with U+FFFD for other
    // bytes; Python's byte-exact decoder shows what the entry holds.
    const bool lossy = QString::fromUtf8(name).toUtf8() != name;
    if (lossy) {
        QCOMPARE(Run(QStringLiteral("python3"), {QStringLiteral("-c"), QStringLiteral(
                         "import os, sys, urllib.parse as u; d = sys.argv[1]; f = open(d + '/' + os.listdir(d)[0])\n"
                         "sys.stdout.buffer.write(u.unquote_to_bytes(f.read().split('\\nPath=')[1].split('\\n')[0]))"),
                     FTrash + QStringLiteral("/info")}),
                 path);
    }

    // "2024-05-01 12:30:00 /the/path\n", once for each time its volume is
    // mounted.
    const QByteArray listed = Run(QStringLiteral("trash-list"), {});
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d ")).match(QString::fromLatin1(listed)).hasMatch(),
             listed.constData());
    if (lossy)
        QEXPECT_FAIL("", "trash-cli decodes Path as UTF-8 with replacement characters", Continue);
    QCOMPARE(listed.mid(20, path.size() + 1), path + '\n');
    // trash-restore lists the entries below the folder and asks for one.
    Run(QStringLiteral("trash-restore"), {QFile::decodeName(dir)}, "0\n");
    if (lossy)
        QEXPECT_FAIL("", "trash-cli decodes Path as UTF-8 with replacement characters", Continue);
    QCOMPARE(GetRaw(path), kContent);
    QCOMPARE(QDir(FDir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size(), 1);
    QVERIFY(Run(QStringLiteral("trash-list"), {}).isEmpty());
}

void tst_TrashLib::entryNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("trashName");
    // "photo.jpg" has an entry; "photo.jpg.2" is a file left without one.
    QTest::newRow("taken names") << "photo.jpg" << "photo.jpg.3";
    // 254 bytes: "<name>.trashinfo" would be too long for the file system.
    QTest::newRow("long name") << QString(125, QChar(0xe4)) + ".jpg" << QString(122, QChar(0xe4));
}

void tst_TrashLib::entryNames()
{
    QFETCH(QString, name);
    QFETCH(QString, trashName);
    WriteFile(FTrash + QStringLiteral("/info/photo.jpg.trashinfo"), "old entry");
    WriteFile(FTrash + QStringLiteral("/files/photo.jpg.2"), "orphan");
    const QString path = FHome.filePath(name);
    WriteFile(path, kContent);
    const QString original = QFileInfo(path).canonicalFilePath();

    QVERIFY(MoveToTrash(path));
    QCOMPARE(ReadAll(FTrash + QStringLiteral("/files/") + trashName), kContent);
    QCOMPARE(FilesBelow(FTrash).size(), 4);
    const QRegularExpressionMatch info = QRegularExpression(QStringLiteral("^\\[Trash Info\\]\nPath=(.*)\nDeletionDate=(.*)\n$"))
        .match(QString::fromLatin1(ReadAll(FTrash + QStringLiteral("/info/") + trashName + QStringLiteral(".trashinfo"))));
    QCOMPARE(info.captured(1).toLatin1(), QUrl::toPercentEncoding(original, "/"));
    const QDateTime deleted = QDateTime::fromString(info.captured(2), QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    QVERIFY2(qAbs(deleted.secsTo(QDateTime::currentDateTime())) < 120, qPrintable(info.captured(2)));
}

void tst_TrashLib::volumeTrashFolder_data()
{
    QTest::addColumn<QString>("shared"); // what /dev/shm/.Trash is
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
    const QString sharedTrash = QStringLiteral("/dev/shm/.Trash");
    if (!HaveOtherVolume())
        QSKIP("/dev/shm is not another writable file system here");
    if (QFileInfo(sharedTrash).exists() || QFileInfo(sharedTrash).isSymLink())
        QSKIP("/dev/shm/.Trash exists already: not the test's to change");
    FDir = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/trashed-XXXXXX"));
    const auto removeShared = qScopeGuard([&] { QFile::remove(sharedTrash) || QDir(sharedTrash).removeRecursively(); });
    if (shared == QLatin1String("link"))
        QVERIFY(QFile::link(FDir->path(), sharedTrash) && ::chmod(QFile::encodeName(FDir->path()).constData(), 01777) == 0);
    else if (!shared.isEmpty())
        QVERIFY(QDir().mkdir(sharedTrash) && ::chmod("/dev/shm/.Trash", shared == QLatin1String("sticky") ? 01777 : 0777) == 0);
    const QString path = FDir->filePath(QStringLiteral("photo.jpg"));
    WriteFile(path, kContent);

    QString reason;
    QVERIFY2(MoveToTrash(path, &reason), qPrintable(reason));
    const QString trash = QStringLiteral("/dev/shm/") + used;
    QCOMPARE(ReadAll(trash + QStringLiteral("/files/photo.jpg")), kContent);
    // Relative to the volume's top, which may be mounted elsewhere later.
    QVERIFY(ReadAll(trash + QStringLiteral("/info/photo.jpg.trashinfo"))
                .contains("\nPath=" + QFileInfo(FDir->path()).fileName().toUtf8() + "/photo.jpg\n"));
}

void tst_TrashLib::failedRenameLeavesNoEntry_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("reason");
    QTest::newRow("another file system")
        << EXDEV << QStringLiteral("The Trash folder \"%1\" is on another file system").arg(FTrash);
    QTest::newRow("refused") << EACCES << qt_error_string(EACCES);
}

void tst_TrashLib::failedRenameLeavesNoEntry()
{
    QFETCH(int, error);
    QFETCH(QString, reason);
    const QString path = FHome.filePath(QStringLiteral("photo 1.jpg"));
    WriteFile(path, kContent);
    QByteArray infoAtRename;
    SetTrashRenameFunction([&](const QByteArray &, const QByteArray &) {
        infoAtRename = ReadAll(FTrash + QStringLiteral("/info/photo 1.jpg.trashinfo"));
        return error;
    });

    QString why;
    QVERIFY(!MoveToTrash(path, &why));
    QCOMPARE(why, reason);
    // The entry was complete before the rename, and is gone after it failed.
    QVERIFY2(infoAtRename.contains("\nPath=" + QUrl::toPercentEncoding(QFileInfo(path).canonicalFilePath(), "/") + "\n"),
             infoAtRename.constData());
    QCOMPARE(ReadAll(path), kContent);
    QCOMPARE(FilesBelow(FTrash), QStringList());
}

QTEST_MAIN(tst_TrashLib)
#include "tst_TrashLib.moc"
