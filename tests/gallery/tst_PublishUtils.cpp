// Local
#include "AppError.h"
#include "DialogPublishHost.h"
#include "FakePrompts.h"
#include "JpegCodec.h"
#include "ModernPages.h"
#include "ProgressDlg.h"
#include "PublishUtils.h"
#include "TamselConfig.h"
#include "TestFiles.h"
#include "TestPaths.h"

// Qt
#include <QDirIterator>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

// System
#include <fcntl.h>
#include <sys/stat.h>

namespace {

class TestHost;

class RecordingProgress : public TPublishProgress
{
public:
    explicit RecordingProgress(TestHost &host);
    ~RecordingProgress() override;
    void SetPosition(int position) override;
    bool Cancelled() override;

private:
    TestHost &FHost;
};

// Answers the generator's questions and records everything it reports.
class TestHost : public PublishHost
{
public:
    QString schemes;
    QList<bool> confirmAnswers;       // none queued: yes
    int cancelAtCall = 0;             // the n-th Cancelled() and later say yes; 0: never

    QStringList informations;
    QStringList confirms;
    QStringList pageSwitches;
    QStringList progressTexts;
    QList<int> positions;
    int cancelledCalls = 0;
    bool progressAlive = false;
    QStringList opened;

    void ShowPhotosPage() override { pageSwitches << QStringLiteral("photos"); }
    void ShowDestinationSetting() override { pageSwitches << QStringLiteral("destination"); }
    void Information(const QString &text) override { informations << text; }
    bool Confirm(const QString &text) override
    {
        confirms << text;
        return confirmAnswers.isEmpty() || confirmAnswers.takeFirst();
    }
    std::unique_ptr<TPublishProgress> StartProgress(const QString &caption, const QString &text) override
    {
        progressTexts << caption << text;
        return std::make_unique<RecordingProgress>(*this);
    }
    void OpenDocument(const QString &path) override { opened << path; }
    QString SchemesFolder() const override { return schemes; }
};

RecordingProgress::RecordingProgress(TestHost &host) : FHost(host) { FHost.progressAlive = true; }
RecordingProgress::~RecordingProgress() { FHost.progressAlive = false; }
void RecordingProgress::SetPosition(int position) { FHost.positions << position; }
bool RecordingProgress::Cancelled()
{
    ++FHost.cancelledCalls;
    return FHost.cancelAtCall > 0 && FHost.cancelledCalls >= FHost.cancelAtCall;
}

// The golden page with the footer's link pointing at this build's home page.
QByteArray Golden(const QString &name)
{
    QByteArray page = ReadAll(TestsDir() + QStringLiteral("/gallery/golden/") + name);
    return page.replace("http://www.tamsel-photo.example", "http://" TAMSEL_HOME_HOST);
}

struct Stamp
{
    qint64 seconds = -1;
    long nanoseconds = -1;
    bool operator==(const Stamp &) const = default;
};

// Birth time where the file system keeps one, else the modification time.
Stamp SourceStampOf(const QString &fileName)
{
    struct statx info = {};
    if (statx(AT_FDCWD, QFile::encodeName(fileName).constData(), 0, STATX_BTIME | STATX_MTIME, &info) != 0)
        return {};
    const statx_timestamp &t = (info.stx_mask & STATX_BTIME) ? info.stx_btime : info.stx_mtime;
    return {t.tv_sec, long(t.tv_nsec)};
}

Stamp ModifiedOf(const QString &fileName)
{
    struct stat info = {};
    if (stat(QFile::encodeName(fileName).constData(), &info) != 0)
        return {};
    return {info.st_mtim.tv_sec, info.st_mtim.tv_nsec};
}

QSize JpegSize(const QString &fileName)
{
    const JpegDecoder decoder(ReadAll(fileName));
    return {decoder.Width(), decoder.Height()};
}

bool IsProgressiveJpeg(const QString &fileName)
{
    return ReadAll(fileName).contains("\xFF\xC2");
}

const char kFourSources[][8] = {"a.JPG", "b.jpeg", "c.bmp", "d.jpg"};

} // namespace

class tst_PublishUtils : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void fileNames_data();
    void fileNames();
    void escapeUrlText_data();
    void escapeUrlText();
    void indexRows_data();
    void indexRows();

    void fourPhotosGallery();
    void onePhotoGallery();
    void resizedPhotos();
    void escapedNamesInPages();
    void pipeAsPhotoIsRefused();
    void modernPagesKeepTheFiles();
    void modernPagesEscapeNames_data();
    void modernPagesEscapeNames();
    void validation_data();
    void validation();
    void missingDestination_data();
    void missingDestination();
    void trailingSeparatorAccepted();
    void schemeWithFolderRefused();
    void secondUpdateMakesNothing();
    void overwriteModes_data();
    void overwriteModes();
    void overwriteModeIntoEmptyFolder_data();
    void overwriteModeIntoEmptyFolder();
    void reorderedListRemakesFiles();
    void stampHasFullPrecision();
    void progressPositionsOf150Photos();
    void cancelAfterSecondPhoto();
    void cancelDuringLastPhoto();
    void errorEndsRun_data();
    void errorEndsRun();
    void severalJobsMakeTheSameFiles();
    void cancelWithSeveralJobs();
    void dialogHostValidation();
    void dialogHostProgress_data();
    void dialogHostProgress();

private:
    // A copy of a test picture in the sources folder, with a stamp no other
    // source has (file systems stamp with a coarse clock).
    QString AddSource(const QString &name, const QString &picture);
    QString AddJpeg(const QString &name) { return AddSource(name, FJpeg); }
    QString AddBitmap(const QString &name) { return AddSource(name, FBitmap); }
    TGallerySettings FourPhotos();

    std::unique_ptr<QTemporaryDir> FTemp;
    QString FSources;
    QString FDest;
    QString FSchemes;
    QString FJpeg;
    QString FBitmap;
    QList<Stamp> FStamps;
    TestHost FHost;
};

void tst_PublishUtils::init()
{
    FJpeg = CorpusDir() + QStringLiteral("/jpeg/libjpeg-turbo/testorig.jpg");     // 227 x 149
    FBitmap = CorpusDir() + QStringLiteral("/bmp/bmpsuite/g/rgb24.bmp");           // 127 x 64
    if (!QFileInfo::exists(FJpeg) || !QFileInfo::exists(FBitmap))
        QSKIP("Test pictures are missing (set TAMSEL_SHARED_DIR)");
    FTemp = std::make_unique<QTemporaryDir>();
    QVERIFY(FTemp->isValid());
    FSources = FTemp->filePath(QStringLiteral("sources"));
    FDest = FTemp->filePath(QStringLiteral("web"));
    FSchemes = FTemp->filePath(QStringLiteral("schemes"));
    QVERIFY(QDir().mkpath(FSources));
    QVERIFY(QDir().mkpath(FDest));
    QVERIFY(QDir().mkpath(FSchemes));
    WriteFile(FSchemes + QStringLiteral("/light.css"), "body { color: black; }\n");
    FStamps.clear();
    FHost = TestHost();
    FHost.schemes = FSchemes;
}

QString tst_PublishUtils::AddSource(const QString &name, const QString &picture)
{
    const QString path = FSources + u'/' + name;
    for (int attempt = 0; attempt < 100000; ++attempt) {
        QFile::remove(path);
        if (!QFile::copy(picture, path))
            return {};
        const Stamp stamp = SourceStampOf(path);
        if (!FStamps.contains(stamp)) {
            FStamps << stamp;
            return path;
        }
    }
    return {};
}

TGallerySettings tst_PublishUtils::FourPhotos()
{
    TGallerySettings s;
    s.Photos << AddJpeg(kFourSources[0]) << AddJpeg(kFourSources[1]) << AddBitmap(kFourSources[2])
             << AddJpeg(kFourSources[3]);
    s.DestFolder = FDest;
    s.Scheme = QStringLiteral("light.css");
    return s;
}

void tst_PublishUtils::fileNames_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("resize");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("photo");

    QTest::newRow("JPG") << "/p/a.JPG" << false << 0 << "1.jpeg";
    QTest::newRow("jpg") << "/p/a.jpg" << false << 1 << "2.jpeg";
    QTest::newRow("Jpeg") << "/p/x.Jpeg" << false << 2 << "3.jpeg";
    QTest::newRow("BMP") << "/p/x.BMP" << false << 9 << "10.bmp";
    QTest::newRow("last dot counts") << "/p/x.jpg.BMP" << false << 0 << "1.bmp";
    QTest::newRow("no extension") << "/p/readme" << false << 0 << "1";
    QTest::newRow("dot in the folder only") << "/p/photos.d/readme" << false << 0 << "1";
    QTest::newRow("jpgx stays") << "/p/x.JPGX" << false << 0 << "1.jpgx";
    QTest::newRow("resized bitmap") << "/p/x.bmp" << true << 2 << "3.jpeg";
    QTest::newRow("resized, no extension") << "/p/readme" << true << 0 << "1.jpeg";
}

void tst_PublishUtils::fileNames()
{
    QFETCH(QString, source);
    QFETCH(bool, resize);
    QFETCH(int, index);
    QFETCH(QString, photo);

    TGallerySettings s;
    for (int i = 0; i <= index; ++i)
        s.Photos << source;
    s.ResizePhotos = resize;
    QCOMPARE(PhotoFileName(s, index), photo);
    QCOMPARE(ThumbFileName(index), QString::number(index + 1) + QStringLiteral(".jpeg"));
    QCOMPARE(PageFileName(index), QString::number(index + 1) + QStringLiteral(".html"));
}

void tst_PublishUtils::escapeUrlText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("wholeValue");
    QTest::addColumn<QString>("escaped");

    QTest::newRow("plain") << "light.css" << true << "light.css";
    QTest::newRow("inner blank kept") << "deep blue.css" << true << "deep blue.css";
    QTest::newRow("apostrophe kept") << "it's.css" << true << "it's.css";
    QTest::newRow("outer blanks") << "  a.css " << true << "%20%20a.css%20";
    QTest::newRow("quote") << "my\"blue\".css" << true << "my%22blue%22.css";
    QTest::newRow("ampersand") << "R&D.css" << true << "R%26D.css";
    QTest::newRow("less than") << "a<b.css" << true << "a%3Cb.css";
    QTest::newRow("percent") << "100%.css" << true << "100%25.css";
    QTest::newRow("hash") << "#1.css" << true << "%231.css";
    QTest::newRow("question mark") << "why?.css" << true << "why%3F.css";
    QTest::newRow("backslash") << "a\\b.css" << true << "a%5Cb.css";
    QTest::newRow("tab") << "a\tb.css" << true << "a%09b.css";
    QTest::newRow("beyond ascii") << QString::fromUtf8("caf\u00e9.css") << true << "caf%C3%A9.css";
    QTest::newRow("reads as a scheme") << "http:x.css" << true << "http%3Ax.css";
    QTest::newRow("drive-like") << "c:x.css" << true << "c%3Ax.css";
    QTest::newRow("digit first is no scheme") << "1:x.css" << true << "1:x.css";
    QTest::newRow("blank before colon") << "a b:x.css" << true << "a b:x.css";
    QTest::newRow("extension with colon") << ".a:b" << false << ".a:b";
    QTest::newRow("extension with hash") << ".j#g" << false << ".j%23g";
    QTest::newRow("extension, trailing blank") << ".jpg " << false << ".jpg%20";
}

void tst_PublishUtils::escapeUrlText()
{
    QFETCH(QString, text);
    QFETCH(bool, wholeValue);
    QFETCH(QString, escaped);
    QCOMPARE(EscapeUrlText(text, wholeValue), escaped);
}

void tst_PublishUtils::indexRows_data()
{
    QTest::addColumn<int>("columns");
    QTest::addColumn<QString>("golden");
    QTest::newRow("4 in 3 columns") << 3 << "index-4-in-3.html";
    QTest::newRow("4 in 2 columns: no empty row") << 2 << "index-4-in-2.html";
    QTest::newRow("more columns than photos") << 5 << "index-4-in-5.html";
}

void tst_PublishUtils::indexRows()
{
    QFETCH(int, columns);
    QFETCH(QString, golden);
    TGallerySettings s;
    s.Photos = QStringList{"/p/a.jpg", "/p/b.jpg", "/p/c.jpg", "/p/d.jpg"};
    s.DestFolder = QStringLiteral("/web");
    s.Scheme = QStringLiteral("light.css");
    s.ThumbColumns = columns;
    QCOMPARE(IndexPageText(s), Golden(golden));
}

void tst_PublishUtils::fourPhotosGallery()
{
    const TGallerySettings s = FourPhotos();
    PublishGallery(s, pmUpdate, FHost);

    QCOMPARE(FHost.progressTexts,
             QStringList({"Publishing...", "The photos is being published. Please wait..."}));
    QCOMPARE(FHost.positions, QList<int>({0, 25, 50, 75}));
    QCOMPARE(FHost.cancelledCalls, 5);
    QVERIFY(!FHost.progressAlive);
    QCOMPARE(FHost.opened, QStringList{FDest + QStringLiteral("/index.html")});
    QVERIFY(FHost.informations.isEmpty());

    QCOMPARE(FilesBelow(FDest),
             QStringList({"1.html", "2.html", "3.html", "4.html", "images/1.jpeg", "images/2.jpeg",
                          "images/3.bmp", "images/4.jpeg", "index.html", "light.css", "thumbs/1.jpeg",
                          "thumbs/2.jpeg", "thumbs/3.jpeg", "thumbs/4.jpeg"}));
    QCOMPARE(ReadAll(FDest + "/index.html"), Golden("index-4-in-3.html"));
    QCOMPARE(ReadAll(FDest + "/3.html"), Golden("page-3-of-4.html"));
    QCOMPARE(ReadAll(FDest + "/light.css"), ReadAll(FSchemes + "/light.css"));

    // Unresized photos are byte copies of their sources; thumbnails are
    // progressive JPEGs fitted into 120 x 120.
    const char *images[] = {"1.jpeg", "2.jpeg", "3.bmp", "4.jpeg"};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(ReadAll(FDest + "/images/" + images[i]), ReadAll(s.Photos[i]));
        const QString thumb = FDest + "/thumbs/" + ThumbFileName(i);
        QVERIFY(IsProgressiveJpeg(thumb));
        QCOMPARE(JpegSize(thumb), i == 2 ? QSize(120, 60) : QSize(120, 79));
    }
}

void tst_PublishUtils::onePhotoGallery()
{
    TGallerySettings s;
    s.Photos << AddBitmap("only.bmp");
    s.DestFolder = FDest;
    s.ResizePhotos = true;
    PublishGallery(s, pmUpdate, FHost);

    QCOMPARE(FHost.positions, QList<int>{0});
    QCOMPARE(ReadAll(FDest + "/index.html"), Golden("index-1.html"));
    QCOMPARE(ReadAll(FDest + "/1.html"), Golden("page-1-of-1.html"));
    // No scheme chosen: nothing is copied.
    QCOMPARE(FilesBelow(FDest), QStringList({"1.html", "images/1.jpeg", "index.html", "thumbs/1.jpeg"}));
}

void tst_PublishUtils::resizedPhotos()
{
    TGallerySettings s = FourPhotos();
    s.ResizePhotos = true;
    s.ThumbWidth = 50;
    s.ThumbHeight = 40;
    s.Photos << AddBitmap("small.bmp");
    s.PhotoWidth = 200;   // the bitmap (127 x 64) is smaller than the box
    s.PhotoHeight = 100;
    PublishGallery(s, pmUpdate, FHost);

    for (int i = 0; i < 5; ++i) {
        const QString photo = FDest + "/images/" + QString::number(i + 1) + ".jpeg";
        QVERIFY2(IsProgressiveJpeg(photo), qPrintable(photo));
        const bool bitmap = s.Photos[i].endsWith(".bmp");
        QCOMPARE(JpegSize(photo), bitmap ? QSize(127, 64) : QSize(152, 100));
        QCOMPARE(JpegSize(FDest + "/thumbs/" + ThumbFileName(i)), bitmap ? QSize(50, 25) : QSize(50, 33));
    }
    QVERIFY(!QFileInfo::exists(FDest + "/images/3.bmp"));
    QVERIFY(ReadAll(FDest + "/3.html").contains("src=\"images/3.jpeg\""));
}

// Names that would break the attribute or change the address are escaped,
// and the files themselves keep their real names.
void tst_PublishUtils::escapedNamesInPages()
{
    const QString scheme = QStringLiteral("R&D \"blue\" #2.css");
    WriteFile(FSchemes + u'/' + scheme, "body { color: navy; }\n");
    TGallerySettings s;
    s.Photos << AddJpeg("odd.J%G");
    s.DestFolder = FDest;
    s.Scheme = scheme;
    PublishGallery(s, pmOverwritePhotos, FHost);

    QCOMPARE(ReadAll(FDest + "/1.html"), Golden("page-escaped.html"));
    QVERIFY(ReadAll(FDest + "/index.html").contains("<link href=\"R%26D %22blue%22 %232.css\""));
    QCOMPARE(ReadAll(FDest + u'/' + scheme), QByteArray("body { color: navy; }\n"));
    QCOMPARE(ReadAll(FDest + "/images/1.j%g"), ReadAll(s.Photos[0]));
}

// The modern style changes the pages alone: the same files under the same
// names, every picture byte for byte the same. The index, written before the
// thumbnails exist, still ends up with their sizes.
void tst_PublishUtils::modernPagesKeepTheFiles()
{
    TGallerySettings s = FourPhotos();
    PublishGallery(s, pmUpdate, FHost);
    const QString classic = s.DestFolder;
    s.DestFolder = FTemp->filePath(QStringLiteral("Trip/"));
    s.Pages = gpModern;
    PublishGallery(s, pmUpdate, FHost);

    const QStringList files = FilesBelow(classic);
    QCOMPARE(FilesBelow(s.DestFolder), files);
    for (const QString &file : files) {
        if (!file.endsWith(QLatin1String(".html")))
            QVERIFY2(ReadAll(s.DestFolder + file) == ReadAll(classic + u'/' + file), qPrintable(file));
    }
    const QByteArray index = ReadAll(s.DestFolder + "index.html");
    QVERIFY2(index.startsWith("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                              "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                              "<title>Trip</title>\n"),
             index.constData());
    QCOMPARE(index.count("<li class=\"thumb\">"), 4);
    QVERIFY2(index.contains("<li class=\"thumb\"><a href=\"3.html\"><img class=\"thumb\" src=\"thumbs/3.jpeg\" "
                            "width=\"120\" height=\"60\" alt=\"3: c.bmp\" loading=\"lazy\"></a></li>\n"),
             index.constData());
    QVERIFY(index.contains("\n<link href=\"light.css\" rel=\"stylesheet\">\n"));
    QVERIFY(index.contains(GalleryFooter().toUtf8()));
}

void tst_PublishUtils::modernPagesEscapeNames_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QByteArray>("alt");
    QTest::addColumn<QByteArray>("src");
    QTest::addColumn<QByteArray>("title");
    QTest::newRow("quotes and markup") << "a\"<b>&'.jpg" << "Tom & \"Jerry\" <3>"
                                       << QByteArray("1: a&quot;&lt;b&gt;&amp;'.jpg") << QByteArray("images/1.jpeg")
                                       << QByteArray("Tom &amp; &quot;Jerry&quot; &lt;3&gt;");
    QTest::newRow("percent, hash, question mark") << "100% #1?.j%#?g" << "100% #1?"
                                                  << QByteArray("1: 100% #1?.j%#?g")
                                                  << QByteArray("images/1.j%25%23%3Fg") << QByteArray("100% #1?");
    QTest::newRow("beyond ASCII") << QString::fromUtf8("Str\u00f6m \u5199\u771f.jp\u00e9") << QString::fromUtf8("F\u00f6to")
                                  << QString::fromUtf8("1: Str\u00f6m \u5199\u771f.jp\u00e9").toUtf8()
                                  << QByteArray("images/1.jp%C3%A9") << QString::fromUtf8("F\u00f6to").toUtf8();
}

// Text from names is escaped as HTML, addresses are percent-encoded, in the
// index and on the photo page alike.
void tst_PublishUtils::modernPagesEscapeNames()
{
    QFETCH(QString, source);
    QFETCH(QString, folder);
    QFETCH(QByteArray, alt);
    QFETCH(QByteArray, src);
    QFETCH(QByteArray, title);
    const QString scheme = QStringLiteral("R&D \"blue\" #2.css");
    WriteFile(FSchemes + u'/' + scheme, "body { color: navy; }\n");
    TGallerySettings s;
    s.Photos << AddJpeg(source);
    s.DestFolder = FTemp->filePath(folder);
    s.Scheme = scheme;
    s.Pages = gpModern;
    // Only the photo: a thumbnail cannot be made from an unknown extension.
    PublishGallery(s, pmOverwritePhotos, FHost);

    const QByteArray index = ReadAll(s.DestFolder + "/index.html");
    const QByteArray page = ReadAll(s.DestFolder + "/1.html");
    QVERIFY2(index.contains("<title>" + title + "</title>"), index.constData());
    QVERIFY2(index.contains(" alt=\"" + alt + "\" loading=\"lazy\">"), index.constData());
    QVERIFY2(page.contains("<img class=\"photo\" src=\"" + src + "\" width=\"227\" height=\"149\" alt=\"" + alt + "\">"),
             page.constData());
    for (const QByteArray &text : {index, page})
        QVERIFY(text.contains("<link href=\"R%26D %22blue%22 %232.css\" rel=\"stylesheet\">"));
}

void tst_PublishUtils::pipeAsPhotoIsRefused()
{
    // The plain copy of an unresized photo must not wait on a pipe.
    FifoWatch pipe(FSources + "/pipe.jpg");
    TGallerySettings s;
    s.Photos << FSources + "/pipe.jpg";
    s.DestFolder = FDest;
    QString message;
    try {
        PublishGallery(s, pmOverwritePhotos, FHost);
    } catch (const AppError &e) {
        message = e.message();
    }
    QCOMPARE(message, "Cannot open file " + s.Photos[0] + ": It is not a plain file");
    QVERIFY(!pipe.wasOpened());
    QVERIFY(!QFileInfo::exists(FDest + "/images/1.jpg"));
}

void tst_PublishUtils::validation_data()
{
    QTest::addColumn<int>("photos");
    QTest::addColumn<QString>("dest");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("page");

    const QString notSelected = QStringLiteral("The destination folder is not selected.");
    const QString invalid = QStringLiteral(
        "The destination folder is invalid.\r\nPlease specify the full path to destination folder.");
    QTest::newRow("no photos before a bad folder") << 0 << "web" << "Photos files are not selected." << "photos";
    QTest::newRow("empty") << 2 << "" << notSelected << "destination";
    QTest::newRow("blanks and controls") << 2 << " \t\r\n " << notSelected << "destination";
    QTest::newRow("relative") << 2 << "web" << invalid << "destination";
    QTest::newRow("leading blank") << 2 << " /tmp/web" << invalid << "destination";
    QTest::newRow("network path") << 2 << "//server/share/web" << invalid << "destination";
    QTest::newRow("windows drive") << 2 << "C:\\web" << invalid << "destination";
    QTest::newRow("windows network path") << 2 << "\\\\server\\share" << invalid << "destination";
}

void tst_PublishUtils::validation()
{
    QFETCH(int, photos);
    QFETCH(QString, dest);
    QFETCH(QString, message);
    QFETCH(QString, page);

    TGallerySettings s;
    for (int i = 0; i < photos; ++i)
        s.Photos << FJpeg;
    s.DestFolder = dest;
    const QString cwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(FTemp->path()));
    PublishGallery(s, pmUpdate, FHost);
    QVERIFY(QDir::setCurrent(cwd));

    QCOMPARE(FHost.informations, QStringList{message});
    QCOMPARE(FHost.pageSwitches, QStringList{page});
    QVERIFY(FHost.confirms.isEmpty());
    QVERIFY(FHost.progressTexts.isEmpty());
    QVERIFY(FHost.opened.isEmpty());
    QCOMPARE(FilesBelow(FTemp->path()), QStringList{"schemes/light.css"});
}

void tst_PublishUtils::missingDestination_data()
{
    QTest::addColumn<QString>("dest");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("published");

    QTest::newRow("yes creates the parents too") << "new/deeper" << true << QStringList() << true;
    QTest::newRow("cancel stops quietly") << "new/deeper" << false << QStringList() << false;
    QTest::newRow("cannot be made") << "schemes/light.css/web" << true
                                    << QStringList{"Unable to create the destination folder."} << false;
}

void tst_PublishUtils::missingDestination()
{
    QFETCH(QString, dest);
    QFETCH(bool, answer);
    QFETCH(QStringList, messages);
    QFETCH(bool, published);

    TGallerySettings s;
    s.Photos << AddJpeg("a.jpg");
    s.DestFolder = FTemp->filePath(dest);
    FHost.confirmAnswers << answer;
    PublishGallery(s, pmUpdate, FHost);

    QCOMPARE(FHost.confirms, QStringList{"The destination folder does not exist. Create?"});
    QCOMPARE(FHost.informations, messages);
    QCOMPARE(QFileInfo::exists(s.DestFolder + "/index.html"), published);
    QCOMPARE(QFileInfo::exists(s.DestFolder + "/thumbs/1.jpeg"), published);
    QCOMPARE(QFileInfo::exists(FTemp->filePath("new")), published);
    QCOMPARE(FHost.opened.size(), published ? 1 : 0);
}

void tst_PublishUtils::trailingSeparatorAccepted()
{
    TGallerySettings s;
    s.Photos << AddJpeg("a.jpg");
    s.DestFolder = FDest + u'/';
    PublishGallery(s, pmUpdate, FHost);
    QVERIFY(FHost.informations.isEmpty());
    QCOMPARE(FHost.opened, QStringList{FDest + "//index.html"});
    QCOMPARE(FilesBelow(FDest), QStringList({"1.html", "images/1.jpeg", "index.html", "thumbs/1.jpeg"}));
}

// A scheme is a file of the schemes folder; a name with a folder part would
// be copied outside the gallery.
void tst_PublishUtils::schemeWithFolderRefused()
{
    TGallerySettings s;
    s.Photos << AddJpeg("a.jpg");
    s.DestFolder = FDest;
    s.Scheme = QStringLiteral("../escape.css");
    QVERIFY_THROWS_EXCEPTION(AppError, PublishGallery(s, pmUpdate, FHost));
    QVERIFY(FilesBelow(FTemp->path()).filter("escape").isEmpty());
    QVERIFY(FilesBelow(FDest).isEmpty());
}

void tst_PublishUtils::secondUpdateMakesNothing()
{
    const TGallerySettings s = FourPhotos();
    PublishGallery(s, pmUpdate, FHost);

    // Stamped markers stand for files made by the first run; an unstamped
    // one for a file left half-written.
    for (int i = 0; i < 3; ++i) {
        const QString thumb = FDest + "/thumbs/" + ThumbFileName(i);
        const QString photo = FDest + "/images/" + PhotoFileName(s, i);
        WriteFile(thumb, "marker");
        WriteFile(photo, "marker");
        if (i < 2) {
            CopyCreationTime(s.Photos[i], thumb);
            CopyCreationTime(s.Photos[i], photo);
        }
    }
    WriteFile(FDest + "/index.html", "old");
    WriteFile(FDest + "/1.html", "old");
    WriteFile(FDest + "/light.css", "old");

    PublishGallery(s, pmUpdate, FHost);
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(ReadAll(FDest + "/thumbs/" + ThumbFileName(i)), QByteArray("marker"));
        QCOMPARE(ReadAll(FDest + "/images/" + PhotoFileName(s, i)), QByteArray("marker"));
    }
    QCOMPARE(JpegSize(FDest + "/thumbs/3.jpeg"), QSize(120, 60));
    QCOMPARE(ReadAll(FDest + "/images/3.bmp"), ReadAll(s.Photos[2]));
    QCOMPARE(ReadAll(FDest + "/index.html"), Golden("index-4-in-3.html"));
    QVERIFY(ReadAll(FDest + "/1.html").startsWith("<html>\r\n"));
    QCOMPARE(ReadAll(FDest + "/light.css"), ReadAll(FSchemes + "/light.css"));
}

void tst_PublishUtils::overwriteModes_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("thumbsMade");
    QTest::addColumn<bool>("photosMade");
    QTest::newRow("update") << int(pmUpdate) << false << false;
    QTest::newRow("overwrite thumbnails") << int(pmOverwriteThumbs) << true << false;
    QTest::newRow("overwrite photos") << int(pmOverwritePhotos) << false << true;
}

void tst_PublishUtils::overwriteModes()
{
    QFETCH(int, mode);
    QFETCH(bool, thumbsMade);
    QFETCH(bool, photosMade);

    const TGallerySettings s = FourPhotos();
    PublishGallery(s, pmUpdate, FHost);
    for (int i = 0; i < 4; ++i) {
        for (const QString &file : {FDest + "/thumbs/" + ThumbFileName(i), FDest + "/images/" + PhotoFileName(s, i)}) {
            WriteFile(file, "marker");
            CopyCreationTime(s.Photos[i], file);
        }
    }
    PublishGallery(s, TPublishMode(mode), FHost);
    for (int i = 0; i < 4; ++i) {
        const QString thumb = FDest + "/thumbs/" + ThumbFileName(i);
        const QString photo = FDest + "/images/" + PhotoFileName(s, i);
        QCOMPARE(ReadAll(thumb) != "marker", thumbsMade);
        QCOMPARE(ReadAll(photo) != "marker", photosMade);
        // Whatever was made carries its source's stamp again.
        QVERIFY(SameCreationTime(s.Photos[i], thumb));
        QVERIFY(SameCreationTime(s.Photos[i], photo));
    }
    QCOMPARE(FHost.opened.size(), 2);
}

void tst_PublishUtils::overwriteModeIntoEmptyFolder_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("files");
    QTest::newRow("thumbnails only") << int(pmOverwriteThumbs)
                                     << QStringList{"1.html", "2.html", "index.html", "thumbs/1.jpeg", "thumbs/2.jpeg"};
    QTest::newRow("photos only") << int(pmOverwritePhotos)
                                 << QStringList{"1.html", "2.html", "images/1.jpeg", "images/2.bmp", "index.html"};
}

void tst_PublishUtils::overwriteModeIntoEmptyFolder()
{
    QFETCH(int, mode);
    QFETCH(QStringList, files);
    TGallerySettings s;
    s.Photos << AddJpeg("a.jpg") << AddBitmap("b.bmp");
    s.DestFolder = FDest;
    PublishGallery(s, TPublishMode(mode), FHost);
    QCOMPARE(FilesBelow(FDest), files);
    QVERIFY(QFileInfo(FDest + "/thumbs").isDir());
    QVERIFY(QFileInfo(FDest + "/images").isDir());
}

// A new source at a position remakes its files; the stamp tells them apart.
void tst_PublishUtils::reorderedListRemakesFiles()
{
    TGallerySettings s;
    s.Photos << AddJpeg("a.jpg") << AddBitmap("b.bmp");
    s.DestFolder = FDest;
    s.ResizePhotos = true;
    PublishGallery(s, pmUpdate, FHost);
    QCOMPARE(JpegSize(FDest + "/images/1.jpeg"), QSize(227, 149));

    std::swap(s.Photos[0], s.Photos[1]);
    PublishGallery(s, pmUpdate, FHost);
    QCOMPARE(JpegSize(FDest + "/images/1.jpeg"), QSize(127, 64));
    QCOMPARE(JpegSize(FDest + "/images/2.jpeg"), QSize(227, 149));
    QCOMPARE(JpegSize(FDest + "/thumbs/1.jpeg"), QSize(120, 60));
}

void tst_PublishUtils::stampHasFullPrecision()
{
    const QString source = AddJpeg("a.jpg");
    const QString target = FTemp->filePath("target");
    WriteFile(target, "x");
    QVERIFY(!SameCreationTime(source, target));
    CopyCreationTime(source, target);
    QCOMPARE(ModifiedOf(target), SourceStampOf(source));
    QVERIFY(SameCreationTime(source, target));

    // Writing to a made file takes its stamp away.
    WriteFile(target, "y");
    QVERIFY(!SameCreationTime(source, target));

    // Failures read as "not the same"; stamping a missing file creates none.
    const QString missing = FTemp->filePath("missing");
    QVERIFY(!SameCreationTime(source, missing));
    QVERIFY(!SameCreationTime(missing, source));
    CopyCreationTime(source, missing);
    QVERIFY(!QFileInfo::exists(missing));
}

void tst_PublishUtils::progressPositionsOf150Photos()
{
    TGallerySettings s;
    const QString photo = AddBitmap("a.bmp");
    for (int i = 0; i < 150; ++i)
        s.Photos << photo;
    s.DestFolder = FDest;
    s.ThumbWidth = s.ThumbHeight = 10;
    PublishGallery(s, pmOverwriteThumbs, FHost);

    QCOMPARE(FHost.positions.size(), 150);
    QCOMPARE(FHost.positions.mid(0, 6), QList<int>({0, 0, 1, 2, 2, 3}));
    QCOMPARE(FHost.positions.last(), 99);
    QCOMPARE(FHost.cancelledCalls, 151);
}

void tst_PublishUtils::cancelAfterSecondPhoto()
{
    const TGallerySettings s = FourPhotos();
    FHost.cancelAtCall = 2;
    PublishGallery(s, pmUpdate, FHost);

    QCOMPARE(FHost.positions, QList<int>({0, 25}));
    QCOMPARE(FHost.cancelledCalls, 3);
    QVERIFY(!FHost.progressAlive);
    QVERIFY(FHost.opened.isEmpty());
    // The index lists all four already.
    QCOMPARE(ReadAll(FDest + "/index.html"), Golden("index-4-in-3.html"));
    QCOMPARE(FilesBelow(FDest), QStringList({"1.html", "2.html", "images/1.jpeg", "images/2.jpeg", "index.html",
                                             "light.css", "thumbs/1.jpeg", "thumbs/2.jpeg"}));
}

void tst_PublishUtils::cancelDuringLastPhoto()
{
    const TGallerySettings s = FourPhotos();
    FHost.cancelAtCall = 4;
    PublishGallery(s, pmUpdate, FHost);
    QCOMPARE(FHost.cancelledCalls, 5);
    QVERIFY(FHost.opened.isEmpty());
    QCOMPARE(FilesBelow(FDest).size(), 14);
    QCOMPARE(ReadAll(FDest + "/4.html").left(8), QByteArray("<html>\r\n"));
}

void tst_PublishUtils::errorEndsRun_data()
{
    QTest::addColumn<int>("jobs");
    QTest::newRow("one job") << 1;
    QTest::newRow("three jobs") << 3;
}

// The error of the first bad photo ends the run; what was written stays.
void tst_PublishUtils::errorEndsRun()
{
    QFETCH(int, jobs);
    TGallerySettings s;
    s.Photos << AddJpeg("a.jpg") << AddSource("bad.jpg", CorpusDir() + "/jpeg/derived/random-bytes.jpg")
             << AddJpeg("c.jpg") << AddJpeg("d.jpg");
    s.DestFolder = FDest;
    QString message;
    try {
        PublishGallery(s, pmUpdate, FHost, jobs);
    } catch (const AppError &e) {
        message = e.message();
    }
    QVERIFY(!message.isEmpty());
    QVERIFY(!FHost.progressAlive);
    QVERIFY(FHost.opened.isEmpty());
    QCOMPARE(FHost.positions, QList<int>{0});
    QVERIFY(QFileInfo::exists(FDest + "/1.html"));
    QVERIFY(QFileInfo::exists(FDest + "/images/1.jpeg"));
    QVERIFY(!QFileInfo::exists(FDest + "/2.html"));
    QVERIFY(!QFileInfo::exists(FDest + "/thumbs/2.jpeg"));
    // No half-written file and no temporary file is left behind.
    for (const QString &file : FilesBelow(FDest)) {
        if (file.startsWith("thumbs/"))
            QCOMPARE(JpegSize(FDest + u'/' + file), QSize(120, 79));
        else
            QVERIFY2(QRegularExpression("^(\\d+\\.html|index\\.html|images/\\d+\\.jpeg)$").match(file).hasMatch(),
                     qPrintable(file));
    }
}

void tst_PublishUtils::severalJobsMakeTheSameFiles()
{
    TGallerySettings s = FourPhotos();
    s.Photos << AddBitmap("e.bmp") << AddJpeg("f.jpg") << s.Photos[0];
    s.ResizePhotos = true;
    s.PhotoWidth = 150;
    s.PhotoHeight = 100;
    PublishGallery(s, pmUpdate, FHost, 1);
    const QList<int> onePositions = FHost.positions;

    TGallerySettings parallel = s;
    parallel.DestFolder = FTemp->filePath("web3");
    FHost.positions.clear();
    PublishGallery(parallel, pmUpdate, FHost, 3);

    QCOMPARE(FHost.positions, onePositions);
    const QStringList files = FilesBelow(FDest);
    QCOMPARE(FilesBelow(parallel.DestFolder), files);
    for (const QString &file : files) {
        QVERIFY2(ReadAll(FDest + u'/' + file) == ReadAll(parallel.DestFolder + u'/' + file), qPrintable(file));
        if (file.contains(u'/'))
            QVERIFY2(ModifiedOf(FDest + u'/' + file) == ModifiedOf(parallel.DestFolder + u'/' + file), qPrintable(file));
    }
}

// Cancel with several jobs finishes the photos in progress, pages included.
void tst_PublishUtils::cancelWithSeveralJobs()
{
    // Enough photos that the jobs cannot make them all before the window's
    // thread answers the cancel, even on a slow, busy machine under the
    // sanitizers (twelve were not).
    const int count = 48;
    TGallerySettings s;
    for (int i = 0; i < count; ++i)
        s.Photos << AddJpeg(QStringLiteral("p%1.jpg").arg(i));
    s.DestFolder = FDest;
    FHost.cancelAtCall = 2;
    PublishGallery(s, pmUpdate, FHost, 3);

    QVERIFY(FHost.opened.isEmpty());
    int made = 0;
    while (QFileInfo::exists(FDest + "/" + PageFileName(made)))
        ++made;
    QVERIFY(made >= 2);
    QVERIFY(made < count);
    QStringList expected{"index.html"};
    for (int i = 0; i < made; ++i)
        expected << PageFileName(i) << "images/" + PhotoFileName(s, i) << "thumbs/" + ThumbFileName(i);
    expected.sort();
    QCOMPARE(FilesBelow(FDest), expected);
    for (int i = 0; i < made; ++i)
        QVERIFY(SameCreationTime(s.Photos[i], FDest + "/thumbs/" + ThumbFileName(i)));
}

void tst_PublishUtils::dialogHostValidation()
{
    FakePrompts prompts;
    prompts.answers << QMessageBox::Ok << QMessageBox::Ok << QMessageBox::Cancel;
    QStringList switches;
    DialogPublishHost host(nullptr);
    host.OnShowPhotosPage = [&] { switches << "photos"; };
    host.OnShowDestinationSetting = [&] { switches << "destination"; };

    TGallerySettings s;
    PublishGallery(s, pmUpdate, host);
    s.Photos << FJpeg;
    s.DestFolder = QStringLiteral("web");
    PublishGallery(s, pmUpdate, host);
    s.DestFolder = FTemp->filePath("new");
    PublishGallery(s, pmUpdate, host);

    QCOMPARE(switches, QStringList({"photos", "destination"}));
    QCOMPARE(prompts.messages.size(), 3);
    QCOMPARE(prompts.messages[0].caption, QStringLiteral("Information"));
    QCOMPARE(prompts.messages[0].text, QStringLiteral("Photos files are not selected."));
    QCOMPARE(int(prompts.messages[1].buttons), int(QMessageBox::Ok));
    QCOMPARE(prompts.messages[2].caption, QStringLiteral("Confirm"));
    QCOMPARE(int(prompts.messages[2].icon), int(QMessageBox::Question));
    QCOMPARE(int(prompts.messages[2].buttons), int(QMessageBox::Yes | QMessageBox::Cancel));
    QVERIFY(!QFileInfo::exists(s.DestFolder));
    QVERIFY(prompts.openedDocuments.isEmpty());
}

void tst_PublishUtils::dialogHostProgress_data()
{
    QTest::addColumn<bool>("pressCancel");
    QTest::newRow("to the end") << false;
    QTest::newRow("cancel pressed") << true;
}

// The real progress dialog: shown with the run's texts while the owner is
// disabled, and its Cancel button stops the run after the photo in progress.
void tst_PublishUtils::dialogHostProgress()
{
    QFETCH(bool, pressCancel);
    FakePrompts prompts;
    QWidget owner;
    owner.show();
    DialogPublishHost host(&owner);
    TGallerySettings s = FourPhotos();

    QStringList seen;
    QTimer::singleShot(0, &owner, [&] {
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (auto *dialog = qobject_cast<TfrmProgress *>(window)) {
                seen << dialog->windowTitle() << dialog->lblText->text()
                     << QString::number(dialog->isVisible()) << QString::number(owner.isEnabled());
                if (pressCancel)
                    QTest::mouseClick(dialog->btnCancel, Qt::LeftButton);
            }
        }
    });
    s.Scheme.clear();
    PublishGallery(s, pmUpdate, host);

    QCOMPARE(seen, QStringList({"Publishing...", "The photos is being published. Please wait...", "1", "0"}));
    QVERIFY(owner.isEnabled());
    bool progressLeft = false;
    for (QWidget *window : QApplication::topLevelWidgets())
        progressLeft |= qobject_cast<TfrmProgress *>(window) != nullptr;
    QVERIFY(!progressLeft);
    if (pressCancel) {
        QVERIFY(prompts.openedDocuments.isEmpty());
        QCOMPARE(FilesBelow(FDest).filter(".html").size(), 2);   // index and the first photo
    } else {
        QCOMPARE(prompts.openedDocuments, QStringList{FDest + "/index.html"});
        QCOMPARE(FilesBelow(FDest).filter(".html").size(), 5);
    }
}

QTEST_MAIN(tst_PublishUtils)
#include "tst_PublishUtils.moc"
