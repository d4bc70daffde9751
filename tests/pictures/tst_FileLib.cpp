// Local
#include "AppError.h"
#include "FileLib.h"
#include "PictureFormats.h"
#include "TestFiles.h"
#include "TextUtils.h"

// Qt
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QtTest>

// Std
#include <fcntl.h>
#include <unistd.h>

class tst_FileLib : public QObject
{
    Q_OBJECT

private slots:
    void includeBackslash_data();
    void includeBackslash();
    void fileFolderKinds_data();
    void fileFolderKinds();
    void fileFolderMissing();
    void formatFileSize_data();
    void formatFileSize();
    void formatFileSizeCommaLocale();
    void fileSizeOf();
    void fileSizeBeyondTwoGiB();
    void copyFileData();
    void copyFileDataFailuresKeepDestination();
    void pipesAreNeverOpened();
    void extensionFilter_data();
    void extensionFilter();
};

void tst_FileLib::includeBackslash_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("adds") << "/pics" << "/pics/";
    QTest::newRow("keeps") << "/pics/" << "/pics/";
    QTest::newRow("empty") << "" << "/";
    QTest::newRow("root") << "/" << "/";
}

void tst_FileLib::includeBackslash()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(IncludeBackslash(path), expected);
}

void tst_FileLib::fileFolderKinds_data()
{
    QTest::addColumn<int>("kinds");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("files") << int(fkFile) << QStringList{"a.jpg", "readonly.bmp"};
    QTest::newRow("folders") << int(fkFolder) << QStringList{"sub"};
    QTest::newRow("files and hidden") << int(fkFile | fkHidden)
                                      << QStringList{".hidden.jpg", "a.jpg", "readonly.bmp"};
    QTest::newRow("everything") << int(fkFile | fkFolder | fkHidden)
                                << QStringList{".hidden.jpg", ".hiddendir", "a.jpg", "readonly.bmp", "sub"};
}

void tst_FileLib::fileFolderKinds()
{
    QFETCH(int, kinds);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    WriteFile(dir.filePath("a.jpg"), "x");
    WriteFile(dir.filePath(".hidden.jpg"), "x");
    WriteFile(dir.filePath("readonly.bmp"), "x");
    QFile::setPermissions(dir.filePath("readonly.bmp"), QFileDevice::ReadOwner);
    QVERIFY(QDir(dir.path()).mkdir("sub"));
    QVERIFY(QDir(dir.path()).mkdir(".hiddendir"));

    // A trailing "/" on the folder gives entries with a single "/".
    const TFileFolder folder(dir.path() + "/", TFileKinds(kinds));
    QCOMPARE(folder.Folder, dir.path() + "/");
    QStringList names;
    for (const QString &entry : folder) {
        QVERIFY2(entry.startsWith(dir.path() + "/") && !entry.contains("//"), qPrintable(entry));
        names << entry.mid(dir.path().size() + 1);
    }
    names.sort();
    QCOMPARE(names, expected);
}

void tst_FileLib::fileFolderMissing()
{
    const TFileFolder folder("/no/such/folder/anywhere", fkFile);
    QVERIFY(folder.isEmpty());
}

void tst_FileLib::formatFileSize_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("expected");
    QTest::newRow("0") << qint64(0) << "0 byte";
    QTest::newRow("999") << qint64(999) << "999 byte";
    QTest::newRow("1000") << qint64(1000) << "0.98 KB";
    QTest::newRow("1536") << qint64(1536) << "1.5 KB";
    QTest::newRow("2048") << qint64(2048) << "2 KB";
    QTest::newRow("999999") << qint64(999999) << "976.56 KB";
    QTest::newRow("1000000") << qint64(1000000) << "0.95 MB";
    QTest::newRow("1048576") << qint64(1048576) << "1 MB";
    QTest::newRow("five quarters MB") << qint64(1310720) << "1.25 MB";
    // Beyond 32 bits: 3 GiB and 5 GiB + 1 byte, no grouping separators.
    QTest::newRow("3 GiB") << qint64(3) * 1024 * 1024 * 1024 << "3072 MB";
    QTest::newRow("5 GiB") << qint64(5) * 1024 * 1024 * 1024 + 1 << "5120 MB";
}

void tst_FileLib::formatFileSize()
{
    QFETCH(qint64, size);
    QFETCH(QString, expected);
    QLocale::setDefault(QLocale::c());
    QCOMPARE(FormatFileSize(size), expected);
}

void tst_FileLib::formatFileSizeCommaLocale()
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QCOMPARE(FormatFileSize(1536), QString("1,5 KB"));
    QCOMPARE(FormatFileSize(1000000), QString("0,95 MB"));
    QCOMPARE(FormatFileSize(qint64(3) * 1024 * 1024 * 1024), QString("3072 MB"));
    QLocale::setDefault(QLocale::c());
}

void tst_FileLib::fileSizeOf()
{
    QTemporaryDir dir;
    WriteFile(dir.filePath("f"), QByteArray(1234, 'x'));
    QCOMPARE(FileSizeOf(dir.filePath("f")), qint64(1234));
    QCOMPARE(FileSizeOf(dir.filePath("missing")), qint64(0));
    QCOMPARE(FormatFileSize(FileSizeOf(dir.filePath("missing"))), QString("0 byte"));
}

void tst_FileLib::fileSizeBeyondTwoGiB()
{
    // A sparse file takes no space but reports its full size.
    QTemporaryDir dir;
    const QString path = dir.filePath("big.jpg");
    const qint64 size = qint64(5) * 1024 * 1024 * 1024;
    const int fd = ::open(QFile::encodeName(path).constData(), O_CREAT | O_WRONLY, 0644);
    QVERIFY(fd >= 0);
    const bool truncated = ::ftruncate(fd, size) == 0;
    ::close(fd);
    if (!truncated)
        QSKIP("The file system cannot hold a 5 GiB sparse file");
    QCOMPARE(FileSizeOf(path), size);
}

void tst_FileLib::copyFileData()
{
    QTemporaryDir dir;
    QByteArray content(3 * 1024 * 1024 + 17, Qt::Uninitialized);
    for (int i = 0; i < content.size(); ++i)
        content[i] = char(i * 31);
    WriteFile(dir.filePath("src.bin"), content);
    WriteFile(dir.filePath("dst.bin"), "old and longer than nothing");
    CopyFileData(dir.filePath("src.bin"), dir.filePath("dst.bin"));
    QFile dst(dir.filePath("dst.bin"));
    QVERIFY(dst.open(QIODevice::ReadOnly));
    QCOMPARE(dst.readAll(), content);
}

void tst_FileLib::copyFileDataFailuresKeepDestination()
{
    QTemporaryDir dir;
    WriteFile(dir.filePath("dst.bin"), "precious");

    // A missing source names the file and leaves the destination alone.
    try {
        CopyFileData(dir.filePath("nothing.bin"), dir.filePath("dst.bin"));
        QFAIL("no error for a missing source");
    } catch (const AppError &e) {
        QVERIFY2(e.message().contains(dir.filePath("nothing.bin")), qPrintable(e.message()));
    }
    QFile dst(dir.filePath("dst.bin"));
    QVERIFY(dst.open(QIODevice::ReadOnly));
    QCOMPARE(dst.readAll(), QByteArray("precious"));

    // A destination folder that does not exist.
    WriteFile(dir.filePath("src.bin"), "data");
    QVERIFY_THROWS_EXCEPTION(AppError, CopyFileData(dir.filePath("src.bin"), dir.filePath("no/dir/x.bin")));
}

void tst_FileLib::pipesAreNeverOpened()
{
    // A pipe with a picture's name counts as 0 bytes and cannot be copied;
    // opening it would wait for a writer. A link to a file is followed.
    QTemporaryDir dir;
    FifoWatch pipe(dir.filePath("pipe.jpg"));
    QCOMPARE(FileSizeOf(dir.filePath("pipe.jpg")), qint64(0));
    try {
        CopyFileData(dir.filePath("pipe.jpg"), dir.filePath("copy.jpg"));
        QFAIL("a pipe was copied");
    } catch (const AppError &e) {
        QCOMPARE(e.message(), "Cannot open file " + dir.filePath("pipe.jpg") + ": It is not a plain file");
    }
    QVERIFY(!QFile::exists(dir.filePath("copy.jpg")));
    QVERIFY(!pipe.wasOpened());

    WriteFile(dir.filePath("real.jpg"), "12345");
    QVERIFY(QFile::link(dir.filePath("real.jpg"), dir.filePath("link.jpg")));
    QCOMPARE(FileSizeOf(dir.filePath("link.jpg")), qint64(5));
    CopyFileData(dir.filePath("link.jpg"), dir.filePath("copy.jpg"));
    QCOMPARE(ReadAll(dir.filePath("copy.jpg")), QByteArray("12345"));
}

void tst_FileLib::extensionFilter_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("listed");
    QTest::addColumn<bool>("allFormats");
    QTest::newRow("bmp") << "a.bmp" << true << false;
    QTest::newRow("JPG upper") << "b.JPG" << true << false;
    QTest::newRow("jpeg") << "c.jpeg" << true << false;
    QTest::newRow("wmf") << "d.wmf" << true << false;
    QTest::newRow("Emf") << "e.Emf" << true << false;
    QTest::newRow("ico") << "f.ico" << true << false;
    QTest::newRow("substring jp") << "e.jp" << true << false;
    QTest::newRow("substring mp") << "g.mp" << true << false;
    QTest::newRow("txt") << "c.txt" << false << false;
    QTest::newRow("no extension") << "d" << false << false;
    QTest::newRow("trailing dot") << "h." << false << false;
    QTest::newRow("tiff") << "i.tiff" << false << false;
    QTest::newRow("dot in folder only") << "/x.jpg/readme" << false << false;
    QTest::newRow("two dots") << "j.txt.bmp" << true << false;
    // With the other formats on, they count by their whole extension only;
    // the old ones keep their loose match.
    QTest::newRow("all: png") << "k.PNG" << true << true;
    QTest::newRow("all: tiff") << "i.tiff" << true << true;
    QTest::newRow("all: heic") << "l.heic" << true << true;
    QTest::newRow("all: part of gif or tif") << "m.if" << false << true;
    QTest::newRow("all: part of avif") << "n.a" << false << true;
    QTest::newRow("all: part of webp") << "o.eb" << false << true;
    QTest::newRow("all: substring jp") << "e.jp" << true << true;
    QTest::newRow("all: txt") << "c.txt" << false << true;
}

void tst_FileLib::extensionFilter()
{
    QFETCH(QString, name);
    QFETCH(bool, listed);
    QFETCH(bool, allFormats);
    SetAllPictureFormats(allFormats);
    const bool got = IsPictureExtension(name);
    SetAllPictureFormats(false);
    QCOMPARE(got, listed);
}

QTEST_GUILESS_MAIN(tst_FileLib)
#include "tst_FileLib.moc"
