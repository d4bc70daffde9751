// Local
#include "FakePrompts.h"
#include "GalleryCli.h"
#include "JpegCodec.h"
#include "OtherPictures.h"
#include "TestFiles.h"
#include "TestPaths.h"

// Qt
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// System
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

struct ToolRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

QSize JpegSize(const QString &fileName)
{
    const JpegDecoder decoder(ReadAll(fileName));
    return {decoder.Width(), decoder.Height()};
}

QString Tool()
{
    return BinaryDir() + QStringLiteral("/bin/tamsel-gallery");
}

} // namespace

class tst_GalleryCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void help();
    void helpShowsDefaultsAndRanges();
    void version_data();
    void version();
    void usageErrors_data();
    void usageErrors();
    void validationMessages_data();
    void validationMessages();
    void foldersAddPicturesInViewerOrder();
    void allFormatsTakesTheOtherPictures();
    void createsMissingDestination();
    void optionsReachTheGallery();
    void noScheme();
    void modeThumbs();
    void pagesOption_data();
    void pagesOption();
    void errorExitsWithOne_data();
    void errorExitsWithOne();
    void progressLineOnTerminal();
    void ctrlCFinishesPhotosInProgress_data();
    void ctrlCFinishesPhotosInProgress();
    void openShowsTheIndex_data();
    void openShowsTheIndex();

private:
    ToolRun Run(const QStringList &arguments);
    QString AddCopy(const QString &name, const QString &picture);

    std::unique_ptr<QTemporaryDir> FTemp;
    QString FDest;
    QString FJpeg;
    QString FBitmap;
};

void tst_GalleryCli::initTestCase()
{
    QVERIFY2(QFileInfo(Tool()).isExecutable(), qPrintable(Tool()));
    FJpeg = CorpusDir() + QStringLiteral("/jpeg/libjpeg-turbo/testorig.jpg");     // 227 x 149
    FBitmap = CorpusDir() + QStringLiteral("/bmp/bmpsuite/g/rgb24.bmp");           // 127 x 64
    if (!QFileInfo::exists(FJpeg) || !QFileInfo::exists(FBitmap))
        QSKIP("Test pictures are missing (set TAMSEL_SHARED_DIR)");
}

void tst_GalleryCli::init()
{
    FTemp = std::make_unique<QTemporaryDir>();
    QVERIFY(FTemp->isValid());
    FDest = FTemp->filePath(QStringLiteral("web"));
}

ToolRun tst_GalleryCli::Run(const QStringList &arguments)
{
    QProcess process;
    process.setWorkingDirectory(FTemp->path());
    process.start(Tool(), arguments);
    ToolRun run;
    if (!process.waitForFinished(300000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QString tst_GalleryCli::AddCopy(const QString &name, const QString &picture)
{
    const QString path = FTemp->filePath(name);
    QDir().mkpath(QFileInfo(path).path());
    return QFile::copy(picture, path) ? path : QString();
}

void tst_GalleryCli::help()
{
    const ToolRun run = Run({"--help"});
    QCOMPARE(run.exitCode, 0);
    for (const char *option : {"--dest", "--thumb-size", "--thumb-quality", "--resize", "--photo-quality",
                               "--columns", "--scheme", "--mode", "--pages", "--open", "--jobs", "--help"})
        QVERIFY2(run.out.contains(QLatin1String(option)), option);
    // The installed schemes are offered.
    for (const char *scheme : {"light.css", "dark.css", "grey.css", "warm.css"})
        QVERIFY2(run.out.contains(QLatin1String(scheme)), scheme);
    QVERIFY(!QFileInfo::exists(FDest));
}

void tst_GalleryCli::helpShowsDefaultsAndRanges()
{
    const ToolRun run = Run({"--help"});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.contains(
                 "      --thumb-size WxH   box the thumbnails are fitted into (120x120; 10..9999)\n"
                 "      --thumb-quality N  JPEG quality of the thumbnails (70; 10..100)\n"
                 "      --resize WxH       fit the photos into this box (10..9999) as JPEG files;\n"
                 "                         without it the photos are copied unchanged\n"
                 "      --photo-quality N  JPEG quality of resized photos (80; 10..100)\n"
                 "      --columns N        thumbnails per row of the index page (3; 1..99)\n"),
             qPrintable(run.out));
}

void tst_GalleryCli::version_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("alone") << QStringList{"--version"};
    QTest::newRow("with a gallery's arguments") << QStringList{"--dest", "DEST", "--version", "PHOTO"};
}

void tst_GalleryCli::version()
{
    QFETCH(QStringList, arguments);
    arguments.replaceInStrings(QStringLiteral("DEST"), FDest);
    arguments.replaceInStrings(QStringLiteral("PHOTO"), FJpeg);
    const ToolRun run = Run(arguments);
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(QRegularExpression(QStringLiteral("^tamsel-gallery \\d+(\\.\\d+)+\n$")).match(run.out).hasMatch(),
             qPrintable(run.out));
    QVERIFY(run.err.isEmpty());
    QVERIFY(!QFileInfo::exists(FDest));
}

void tst_GalleryCli::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");

    QTest::newRow("unknown option") << QStringList{"--colour", "x"} << "unknown option --colour";
    QTest::newRow("missing value") << QStringList{"--dest"} << "--dest wants a value";
    QTest::newRow("size without x") << QStringList{"--thumb-size", "120"} << "--thumb-size wants WIDTHxHEIGHT";
    QTest::newRow("size too small") << QStringList{"--thumb-size", "9x120"} << "--thumb-size wants WIDTHxHEIGHT";
    QTest::newRow("size too large") << QStringList{"--resize", "800x10000"}
                                    << "--resize wants WIDTHxHEIGHT, each from 10 to 9999, not \"800x10000\"";
    QTest::newRow("quality too high") << QStringList{"--thumb-quality", "101"} << "--thumb-quality wants a whole number from 10 to 100";
    QTest::newRow("no columns") << QStringList{"--columns", "0"} << "--columns wants a whole number from 1 to 99";
    QTest::newRow("mode") << QStringList{"--mode", "all"} << "--mode wants update, thumbs or photos";
    QTest::newRow("pages") << QStringList{"--pages", "bogus"} << "--pages wants classic or modern, not \"bogus\"";
    QTest::newRow("jobs") << QStringList{"--jobs", "0"} << "--jobs wants a whole number from 1 to 256";
    QTest::newRow("scheme") << QStringList{"--scheme", "purple"} << "no color scheme \"purple\"";
    QTest::newRow("flag with value") << QStringList{"--open=yes"} << "--open takes no value";
    QTest::newRow("missing photo") << QStringList{"--dest", "/tmp", "nowhere.jpg"} << "nowhere.jpg: no such file or folder";
    QTest::newRow("version with value") << QStringList{"--version=1"} << "--version takes no value";
    // Spellings other parsers take: a short option with its value attached,
    // a long name after one dash or a letter after two, bundled letters.
    QTest::newRow("value attached") << QStringList{"-d/tmp/web", "x.jpg"} << "unknown option -d/tmp/web";
    QTest::newRow("short with =") << QStringList{"-j=2", "x.jpg"} << "unknown option -j=2";
    QTest::newRow("long after one dash") << QStringList{"-dest", "/tmp/web"} << "unknown option -dest";
    QTest::newRow("letter after two dashes") << QStringList{"--d", "/tmp/web"} << "unknown option --d";
    QTest::newRow("bundled") << QStringList{"-hj", "2"} << "unknown option -hj";
    // The first mistake in the line is the one named.
    QTest::newRow("bad value before unknown") << QStringList{"--columns", "0", "--colour"} << "--columns wants a whole number";
    QTest::newRow("bad earlier value") << QStringList{"-j", "0", "--jobs", "2"} << "-j wants a whole number from 1 to 256";
}

void tst_GalleryCli::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const ToolRun run = Run(arguments);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QVERIFY(run.out.isEmpty());
}

void tst_GalleryCli::validationMessages_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("no photos") << QStringList{"--dest", "/tmp/web"} << "Photos files are not selected.";
    QTest::newRow("empty folder") << QStringList{"--dest", "", "PHOTO"} << "The destination folder is not selected.";
    QTest::newRow("no folder") << QStringList{"PHOTO"} << "The destination folder is not selected.";
    QTest::newRow("relative folder")
        << QStringList{"--dest", "web", "PHOTO"}
        << "The destination folder is invalid.\nPlease specify the full path to destination folder.";
    QTest::newRow("cannot be made") << QStringList{"--dest", "PHOTO/web", "PHOTO"}
                                    << "Unable to create the destination folder.\nPHOTO/web: Not a directory";
}

void tst_GalleryCli::validationMessages()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    arguments.replaceInStrings(QStringLiteral("PHOTO"), FJpeg);
    message.replace(QStringLiteral("PHOTO"), FJpeg);
    const ToolRun run = Run(arguments);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QVERIFY(FilesBelow(FTemp->path()).isEmpty());
}

void tst_GalleryCli::foldersAddPicturesInViewerOrder()
{
    const QString first = AddCopy("first.bmp", FBitmap);
    AddCopy("album/c.jpg", FJpeg);
    AddCopy("album/A.JPG", FJpeg);
    AddCopy("album/b.bmp", FBitmap);
    AddCopy("album/icon.ico", FBitmap);     // the viewer shows icons; a gallery cannot use them
    AddCopy("album/notes.txt", FBitmap);
    AddCopy("album/.hidden.jpg", FJpeg);
    AddCopy("album/sub/d.jpg", FJpeg);

    const ToolRun run = Run({"--dest", FDest, "--scheme=", first, FTemp->filePath("album")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(FilesBelow(FDest + "/images"), QStringList({"1.bmp", "2.jpeg", "3.bmp", "4.jpeg"}));
    QCOMPARE(ReadAll(FDest + "/images/1.bmp"), ReadAll(FBitmap));
    QCOMPARE(ReadAll(FDest + "/images/2.jpeg"), ReadAll(FJpeg));
    QCOMPARE(ReadAll(FDest + "/images/3.bmp"), ReadAll(FBitmap));
    QCOMPARE(ReadAll(FDest + "/images/4.jpeg"), ReadAll(FJpeg));
    QCOMPARE(run.out, FDest + "/index.html\n");
}

void tst_GalleryCli::allFormatsTakesTheOtherPictures()
{
    // Unresized, every one of them is written as a JPEG file.
    const QImage picture = OtherPictures::FourBlocks(64, 48);
    AddCopy("album/a.bmp", FBitmap);
    const QList<QPair<QString, QByteArray>> others = {{"b.png", "png"}, {"c.tif", "tiff"}, {"d.gif", "gif"},
                                                      {"e.heic", "heif"}};
    for (const auto &[name, reader] : others) {
        const QByteArray file = OtherPictures::Encode(picture, reader);
        if (file.isEmpty())
            QSKIP("No HEIF encoder is installed");
        WriteFile(FTemp->filePath("album/" + name), file);
    }

    ToolRun run = Run({"--dest", FDest, "--scheme=", FTemp->filePath("album")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(FilesBelow(FDest + "/images"), QStringList({"1.bmp"}));
    run = Run({"--dest", FDest, FTemp->filePath("album/b.png")});
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains("b.png: only BMP and JPEG files can go into a gallery"), qPrintable(run.err));

    run = Run({"--dest", FDest, "--scheme=", "--all-formats", FTemp->filePath("album")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(FilesBelow(FDest + "/images"), QStringList({"1.bmp", "2.jpeg", "3.jpeg", "4.jpeg", "5.jpeg"}));
    for (int i = 2; i <= 5; ++i)
        QCOMPARE(JpegSize(FDest + QStringLiteral("/images/%1.jpeg").arg(i)), QSize(64, 48));
    for (int i = 1; i <= 5; ++i)
        QCOMPARE(JpegSize(FDest + QStringLiteral("/thumbs/%1.jpeg").arg(i)), i == 1 ? QSize(120, 60) : QSize(64, 48));
    QVERIFY(ReadAll(FDest + "/3.html").contains("images/3.jpeg"));

    run = Run({"--dest", FDest, "--scheme=", "--all-formats", "--resize", "32x32", "--mode", "photos",
               FTemp->filePath("album/b.png")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(JpegSize(FDest + "/images/1.jpeg"), QSize(32, 24));
}

void tst_GalleryCli::createsMissingDestination()
{
    const QString dest = FTemp->filePath("a/b/web");
    const ToolRun run = Run({"-d", dest, FJpeg});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.err.isEmpty());
    QCOMPARE(FilesBelow(dest), QStringList({"1.html", "images/1.jpeg", "index.html", "light.css", "thumbs/1.jpeg"}));
    QCOMPARE(ReadAll(dest + "/light.css"), ReadAll(BinaryDir() + "/bin/schemes/light.css"));
}

void tst_GalleryCli::optionsReachTheGallery()
{
    const ToolRun run = Run({"--dest", FDest, "--thumb-size", "50x40", "--thumb-quality", "90", "--resize",
                             "200x100", "--photo-quality=30", "--columns", "1", "--scheme", "dark", FJpeg,
                             FBitmap, FJpeg});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(JpegSize(FDest + "/thumbs/1.jpeg"), QSize(50, 33));
    QCOMPARE(JpegSize(FDest + "/images/1.jpeg"), QSize(152, 100));
    QCOMPARE(JpegSize(FDest + "/images/2.jpeg"), QSize(127, 64));
    QCOMPARE(ReadAll(FDest + "/dark.css"), ReadAll(BinaryDir() + "/bin/schemes/dark.css"));
    const QByteArray index = ReadAll(FDest + "/index.html");
    QVERIFY(index.contains("<link href=\"dark.css\""));
    QCOMPARE(index.count("</tr>\r\n<tr>\r\n"), 2);
    // Each quality reaches its own files: the higher one gives the larger file.
    const ToolRun low = Run({"--dest", FTemp->filePath("low"), "--thumb-size", "50x40", "--thumb-quality", "10",
                             "--resize", "200x100", "--photo-quality=90", FJpeg});
    QCOMPARE(low.exitCode, 0);
    QVERIFY(QFileInfo(FDest + "/thumbs/1.jpeg").size() > QFileInfo(FTemp->filePath("low/thumbs/1.jpeg")).size());
    QVERIFY(QFileInfo(FDest + "/images/1.jpeg").size() < QFileInfo(FTemp->filePath("low/images/1.jpeg")).size());
}

void tst_GalleryCli::noScheme()
{
    const ToolRun run = Run({"--dest", FDest, "--scheme", "", FJpeg});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(ReadAll(FDest + "/index.html").contains("<link href=\"\" rel="));
    QVERIFY(FilesBelow(FDest).filter(".css").isEmpty());
}

void tst_GalleryCli::modeThumbs()
{
    const ToolRun run = Run({"--dest", FDest, "--mode", "thumbs", FJpeg, FBitmap});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(FilesBelow(FDest), QStringList({"1.html", "2.html", "index.html", "light.css", "thumbs/1.jpeg",
                                             "thumbs/2.jpeg"}));
}

void tst_GalleryCli::pagesOption_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("start");
    const QByteArray classic = "<html>\r\n<head>\r\n";
    const QByteArray modern = "<!DOCTYPE html>\n<html lang=\"en\">\n";
    QTest::newRow("default") << QStringList{} << classic;
    QTest::newRow("classic") << QStringList{"--pages", "classic"} << classic;
    QTest::newRow("modern") << QStringList{"--pages=modern"} << modern;
    QTest::newRow("the last one counts") << QStringList{"--pages", "modern", "--pages", "classic"} << classic;
}

void tst_GalleryCli::pagesOption()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, start);
    const ToolRun run = Run(arguments + QStringList{"--dest", FDest, FJpeg, FBitmap});
    QCOMPARE(run.exitCode, 0);
    for (const char *page : {"/index.html", "/1.html", "/2.html"})
        QVERIFY2(ReadAll(FDest + QLatin1String(page)).startsWith(start), page);
}

void tst_GalleryCli::errorExitsWithOne_data()
{
    QTest::addColumn<QString>("jobs");
    QTest::newRow("one job") << "1";
    QTest::newRow("two jobs") << "2";
}

// Of many photos, the message names the one that could not be read.
void tst_GalleryCli::errorExitsWithOne()
{
    QFETCH(QString, jobs);
    const QString bad = AddCopy("bad.jpg", CorpusDir() + "/jpeg/derived/random-bytes.jpg");
    const ToolRun run = Run({"--dest", FDest, "-j", jobs, FJpeg, bad});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.startsWith("tamsel-gallery: " + bad + ": ") && run.err.count(u'\n') == 1, qPrintable(run.err));
    QVERIFY(run.out.isEmpty());
    QVERIFY(QFileInfo::exists(FDest + "/1.html"));
    QVERIFY(!QFileInfo::exists(FDest + "/2.html"));
}

// On a terminal the tool shows how far it is.
void tst_GalleryCli::progressLineOnTerminal()
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0)
        QSKIP("No pseudo-terminal available");
    QVERIFY(grantpt(master) == 0 && unlockpt(master) == 0);
    const QString terminal = QString::fromLocal8Bit(ptsname(master));

    QProcess process;
    process.setStandardErrorFile(terminal);
    process.start(Tool(), {"--dest", FDest, FJpeg, FBitmap, FJpeg});
    QVERIFY(process.waitForFinished(300000));
    QCOMPARE(process.exitCode(), 0);

    fcntl(master, F_SETFL, O_NONBLOCK);
    QByteArray shown;
    char buffer[4096];
    for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;)
        shown.append(buffer, n);
    close(master);
    QVERIFY2(shown.contains("Publishing...   0%"), shown.constData());
    QVERIFY2(shown.contains("Publishing...  66%"), shown.constData());
    QVERIFY(!shown.contains("100%"));
}

void tst_GalleryCli::ctrlCFinishesPhotosInProgress_data()
{
    QTest::addColumn<int>("jobs");
    QTest::newRow("one job") << 1;
    QTest::newRow("two jobs") << 2;
}

// Ctrl+C finishes the photos in progress, pages included, then stops as
// Cancel does: the browser is not opened and the exit code says so.
void tst_GalleryCli::ctrlCFinishesPhotosInProgress()
{
    QFETCH(int, jobs);
    const QString big = PhotosDir() + QStringLiteral("/24mp/bridge-6000x4000.jpg");
    if (!QFileInfo::exists(big))
        QSKIP("The 24 MP photos are missing");
    QStringList arguments{"--dest", FDest, "--resize", "800x600", "--jobs", QString::number(jobs)};
    const int count = 40;
    for (int i = 0; i < count; ++i)
        arguments << big;

    QProcess process;
    process.start(Tool(), arguments);
    QVERIFY(process.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(FDest + "/thumbs/1.jpeg"), 120000);
    QCOMPARE(::kill(pid_t(process.processId()), SIGINT), 0);
    QVERIFY(process.waitForFinished(300000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 130);

    int made = 0;
    while (QFileInfo::exists(FDest + "/" + QString::number(made + 1) + ".html"))
        ++made;
    QVERIFY(made >= 1);
    QVERIFY(made < count);
    QStringList expected{"index.html", "light.css"};
    for (int n = 1; n <= made; ++n) {
        expected << QStringLiteral("%1.html").arg(n) << QStringLiteral("images/%1.jpeg").arg(n)
                 << QStringLiteral("thumbs/%1.jpeg").arg(n);
        QCOMPARE(JpegSize(FDest + QStringLiteral("/images/%1.jpeg").arg(n)), QSize(800, 533));
    }
    expected.sort();
    QCOMPARE(FilesBelow(FDest), expected);
}

void tst_GalleryCli::openShowsTheIndex_data()
{
    QTest::addColumn<bool>("open");
    QTest::newRow("--open") << true;
    QTest::newRow("without") << false;
}

void tst_GalleryCli::openShowsTheIndex()
{
    QFETCH(bool, open);
    FakePrompts prompts;
    QStringList arguments{"tamsel-gallery", "--dest", FDest, FJpeg};
    if (open)
        arguments << "--open";
    QCOMPARE(GalleryToolOpensBrowser(arguments), open);
    QCOMPARE(RunGalleryTool(arguments), 0);
    QCOMPARE(prompts.openedDocuments, open ? QStringList{FDest + "/index.html"} : QStringList());
}

QTEST_MAIN(tst_GalleryCli)
#include "tst_GalleryCli.moc"
