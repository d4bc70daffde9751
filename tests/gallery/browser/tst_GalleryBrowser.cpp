// Local
#include "PublishUtils.h"
#include "TestFiles.h"
#include "TestPaths.h"

// Qt
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

class QuietHost : public PublishHost
{
public:
    explicit QuietHost(QString schemes) : FSchemes(std::move(schemes)) {}
    void Information(const QString &text) override { QFAIL(qPrintable(text)); }
    bool Confirm(const QString &) override { return true; }
    std::unique_ptr<TPublishProgress> StartProgress(const QString &, const QString &) override { return nullptr; }
    void OpenDocument(const QString &) override {}
    QString SchemesFolder() const override { return FSchemes; }

private:
    QString FSchemes;
};

// The test's own page: it loads the gallery into a frame, checks every
// picture of the index and of each photo page, follows each page's Home
// link, and leaves its findings (JSON, base64) in #out for --dump-dom.
const char kWrapperPage[] = R"(<!DOCTYPE html>
<html><body><pre id="out">pending</pre>
<iframe id="frame" width="1200" height="900"></iframe>
<script>
const frame = document.getElementById('frame');
function loaded(start) {
  return new Promise(resolve => { frame.onload = () => resolve(frame.contentDocument); start(); });
}
function pictures(doc) {
  return Array.from(doc.images).map(img => ({ src: img.src, ok: img.complete && img.naturalWidth > 0 }));
}
function background(doc) { return doc.defaultView.getComputedStyle(doc.body).backgroundColor; }
(async () => {
  const out = { pages: [] };
  try {
    const index = await loaded(() => { frame.src = 'gallery/index.html'; });
    out.index = { images: pictures(index), background: background(index),
                  links: Array.from(index.querySelectorAll('td.thumb a')).map(a => a.href) };
    for (const link of out.index.links) {
      const page = await loaded(() => { frame.src = link; });
      const entry = { url: page.location.href, title: page.title, images: pictures(page),
                      background: background(page) };
      const home = page.querySelector('div.nav a.nav');
      entry.home = home ? home.textContent : null;
      if (home) {
        const back = await loaded(() => home.click());
        entry.afterHome = back.location.href;
        entry.afterHomeThumbs = back.querySelectorAll('img.thumb').length;
      }
      out.pages.push(entry);
    }
  } catch (e) {
    out.error = String(e);
  }
  document.getElementById('out').textContent = btoa(unescape(encodeURIComponent(JSON.stringify(out))));
})();
</script></body></html>
)";

// The two corpus pictures the galleries are made of, and a temporary folder
// with empty sources/ and schemes/ folders.
struct Scratch
{
    QTemporaryDir temp;
    QString jpeg = CorpusDir() + QStringLiteral("/jpeg/libjpeg-turbo/testorig.jpg");
    QString bitmap = CorpusDir() + QStringLiteral("/bmp/bmpsuite/g/rgb24.bmp");
    QString sources = temp.filePath(QStringLiteral("sources"));
    QString schemes = temp.filePath(QStringLiteral("schemes"));

    bool HavePictures() const { return QFileInfo::exists(jpeg) && QFileInfo::exists(bitmap); }
    bool Made() const { return temp.isValid() && QDir().mkpath(sources) && QDir().mkpath(schemes); }
};

} // namespace

class tst_GalleryBrowser : public QObject
{
    Q_OBJECT

private slots:
    void galleryOpensInBrowser();
    void pagesOnPhoneAndDesktop_data();
    void pagesOnPhoneAndDesktop();
};

void tst_GalleryBrowser::galleryOpensInBrowser()
{
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    if (chromium.isEmpty())
        QSKIP("Chromium is not installed (Debian package chromium); the browser test is skipped");
    const Scratch scratch;
    if (!scratch.HavePictures())
        QSKIP("Test pictures are missing (set TAMSEL_SHARED_DIR)");
    QVERIFY(scratch.Made());
    const QTemporaryDir &temp = scratch.temp;
    const QString &sources = scratch.sources, &schemes = scratch.schemes, &jpeg = scratch.jpeg, &bitmap = scratch.bitmap;
    // Our own dark scheme under a name that only works when escaped.
    const QString scheme = QStringLiteral("R&D \"dark\" #1?.css");
    QVERIFY(QFile::copy(SourceDir() + QStringLiteral("/resources/schemes/dark.css"), schemes + u'/' + scheme));
    for (const char *name : {"a.jpg", "c.JPG", "x.jpg", "x.J%G"})
        QVERIFY(QFile::copy(jpeg, sources + u'/' + QLatin1String(name)));
    QVERIFY(QFile::copy(bitmap, sources + QStringLiteral("/b.bmp")));

    TGallerySettings s;
    s.Photos = QStringList{sources + "/a.jpg", sources + "/b.bmp", sources + "/c.JPG", sources + "/x.jpg"};
    s.DestFolder = temp.filePath(QStringLiteral("gallery"));
    s.Scheme = scheme;
    QuietHost host(schemes);
    PublishGallery(s, pmUpdate, host);
    // The fourth photo again, copied under an extension that needs escaping.
    s.Photos[3] = sources + "/x.J%G";
    PublishGallery(s, pmOverwritePhotos, host);
    QVERIFY(QFileInfo::exists(s.DestFolder + "/images/4.j%g"));

    const QString wrapper = temp.filePath(QStringLiteral("wrapper.html"));
    {
        QFile file(wrapper);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(kWrapperPage);
    }

    QProcess browser;
    browser.start(chromium, {"--headless", "--disable-gpu", "--no-sandbox", "--no-first-run",
                             "--user-data-dir=" + temp.filePath("profile"), "--allow-file-access-from-files",
                             "--virtual-time-budget=60000", "--dump-dom",
                             QUrl::fromLocalFile(wrapper).toString()});
    QVERIFY2(browser.waitForFinished(240000), "Chromium did not finish");
    const QByteArray dom = browser.readAllStandardOutput();
    const QRegularExpression outRe(QStringLiteral("<pre id=\"out\">([^<]*)</pre>"));
    const QRegularExpressionMatch match = outRe.match(QString::fromUtf8(dom));
    QVERIFY2(match.hasMatch(), dom.left(2000).constData());
    QVERIFY2(match.captured(1) != QLatin1String("pending"), "The page's checks did not finish");
    QJsonParseError error;
    const QJsonObject out =
        QJsonDocument::fromJson(QByteArray::fromBase64(match.captured(1).toLatin1()), &error).object();
    QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
    QVERIFY2(!out.contains("error"), qPrintable(out.value("error").toString()));

    const QString unstyled = QStringLiteral("rgba(0, 0, 0, 0)");
    const QJsonObject index = out.value("index").toObject();
    QCOMPARE(index.value("images").toArray().size(), 4);
    for (const QJsonValue image : index.value("images").toArray())
        QVERIFY2(image.toObject().value("ok").toBool(), qPrintable(image.toObject().value("src").toString()));
    QVERIFY2(index.value("background").toString() != unstyled, "The scheme did not reach the index page");

    const QJsonArray pages = out.value("pages").toArray();
    QCOMPARE(pages.size(), 4);
    for (int i = 0; i < pages.size(); ++i) {
        const QJsonObject page = pages[i].toObject();
        const QString n = QString::number(i + 1);
        QVERIFY(page.value("url").toString().endsWith("/gallery/" + n + ".html"));
        QCOMPARE(page.value("title").toString(), n + " of 4");
        const QJsonArray images = page.value("images").toArray();
        QCOMPARE(images.size(), 1);
        QVERIFY2(images[0].toObject().value("ok").toBool(), qPrintable(images[0].toObject().value("src").toString()));
        QVERIFY2(page.value("background").toString() != unstyled, qPrintable("No scheme on page " + n));
        QCOMPARE(page.value("home").toString(), QStringLiteral("Home"));
        QVERIFY(page.value("afterHome").toString().endsWith("/gallery/index.html"));
        QCOMPARE(page.value("afterHomeThumbs").toInt(), 4);
    }
    QVERIFY(pages[3].toObject().value("images").toArray()[0].toObject().value("src").toString().endsWith(
        "/images/4.j%25g"));
}

void tst_GalleryBrowser::pagesOnPhoneAndDesktop_data()
{
    QTest::addColumn<QString>("style");
    QTest::addColumn<QString>("screen");
    QTest::newRow("modern pages on a phone") << "modern" << "phone";
    QTest::newRow("modern pages on a desktop") << "modern" << "desktop";
    QTest::newRow("classic pages on a desktop") << "classic" << "desktop";
}

// The pages as a person meets them, with real key presses and taps: Chromium
// driven over its DevTools protocol by check-gallery.js, which tells what it
// checked line by line.
void tst_GalleryBrowser::pagesOnPhoneAndDesktop()
{
    QFETCH(QString, style);
    QFETCH(QString, screen);
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    if (chromium.isEmpty())
        QSKIP("Chromium is not installed (Debian package chromium); the browser test is skipped");
    const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
    if (node.isEmpty())
        QSKIP("Node is not installed (Debian package nodejs); the browser test is skipped");
    const Scratch scratch;
    if (!scratch.HavePictures())
        QSKIP("Test pictures are missing (set TAMSEL_SHARED_DIR)");
    QVERIFY(scratch.Made());
    const QTemporaryDir &temp = scratch.temp;
    const QString &sources = scratch.sources, &schemes = scratch.schemes, &jpeg = scratch.jpeg, &bitmap = scratch.bitmap;
    QVERIFY(QFile::copy(SourceDir() + QStringLiteral("/resources/schemes/warm.css"), schemes + "/warm.css"));
    // A photo wider than any phone, names that must be escaped, a copy whose
    // address must be encoded.
    QVERIFY(DetailedPicture(1600, 1000).save(sources + "/wide.jpg", "JPEG", 85));
    TGallerySettings s;
    s.Photos << sources + "/wide.jpg";
    for (const QString &name : {QStringLiteral("a\"<b>&'.jpg"), QStringLiteral("100% #1?.jpg"),
                                QString::fromUtf8("Str\u00f6m \u5199\u771f.bmp"), QStringLiteral("x.jpg")}) {
        QVERIFY(QFile::copy(name.endsWith(".bmp") ? bitmap : jpeg, sources + u'/' + name));
        s.Photos << sources + u'/' + name;
    }
    s.DestFolder = temp.filePath(QStringLiteral("My \"Trip\" & more"));
    s.Scheme = QStringLiteral("warm.css");
    s.Pages = style == QLatin1String("modern") ? gpModern : gpClassic;
    QuietHost host(schemes);
    PublishGallery(s, pmUpdate, host);
    // The last photo again, copied under an extension that needs encoding.
    QVERIFY(QFile::rename(s.Photos[4], sources + "/x.J%G"));
    s.Photos[4] = sources + "/x.J%G";
    PublishGallery(s, pmOverwritePhotos, host);
    QVERIFY(QFileInfo::exists(s.DestFolder + "/images/5.j%g"));

    QProcess check;
    check.setProcessChannelMode(QProcess::MergedChannels);
    check.start(node, {TestsDir() + QStringLiteral("/gallery/browser/check-gallery.js"), chromium, s.DestFolder,
                       style, screen});
    QVERIFY2(check.waitForFinished(240000), "The browser check did not finish");
    const QString output = QString::fromUtf8(check.readAll());
    qInfo().noquote() << output.trimmed();
    QVERIFY2(check.exitStatus() == QProcess::NormalExit && check.exitCode() == 0, qPrintable(output));
    QVERIFY2(output.contains(QLatin1String("# all checks passed")), qPrintable(output));
}

QTEST_MAIN(tst_GalleryBrowser)
#include "tst_GalleryBrowser.moc"
