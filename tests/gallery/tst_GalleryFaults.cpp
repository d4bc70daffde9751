// Local
#include "FaultSweep.h"
#include "FileIo.h"
#include "AppError.h"
#include "AppPaths.h"
#include "GalleryCli.h"
#include "JpegCodec.h"
#include "PublishUtils.h"
#include "TestFiles.h"
#include "TestPaths.h"

// Qt
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// Std
#include <cerrno>
#include <cstdio>
#include <memory>

// System
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct ToolRun
{
    int status = -1;
    QString err;
};

// tamsel-gallery in this process, so that the seam's plan reaches it; its
// standard error is caught in memory.
ToolRun RunTool(const QStringList &arguments)
{
    fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    const int sink = ::memfd_create("stderr", MFD_CLOEXEC);
    ::dup2(sink, STDERR_FILENO);
    ToolRun run;
    run.status = RunGalleryTool(QStringList{QStringLiteral("tamsel-gallery")} + arguments);
    fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    QByteArray text(qsizetype(::lseek(sink, 0, SEEK_END)), Qt::Uninitialized);
    if (::pread(sink, text.data(), size_t(text.size()), 0) != text.size())
        text = "cannot read the tool's standard error";
    ::close(sink);
    run.err = QString::fromLocal8Bit(text);
    return run;
}

// The errors a run showed: none for a clean exit, else its message (which
// must come with exit status 1).
QStringList ErrorsOf(const ToolRun &run)
{
    if (run.status == 0 && run.err.isEmpty())
        return {};
    // 2: the destination folder could not be made, which the tool counts
    // among the settings it cannot work with.
    if (run.status != 1 && !(run.status == 2 && run.err.contains(QLatin1String("Unable to create the destination folder."))))
        return {QStringLiteral("exit status %1: %2").arg(run.status).arg(run.err)};
    return {run.err.isEmpty() ? QStringLiteral("exit status 1 without a message") : run.err};
}

QString Tool()
{
    return BinaryDir() + QStringLiteral("/bin/tamsel-gallery");
}

} // namespace

class tst_GalleryFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void everyWriteFails_data();
    void everyWriteFails();
    void pagesAndScheme_data();
    void pagesAndScheme();
    void fullDisk();
    void readOnlyFolder();

private:
    std::unique_ptr<QTemporaryDir> FDir;
    QString FPhotos;
    QString FDest;
};

void tst_GalleryFaults::initTestCase()
{
    // Thousands of flushes: in memory when there is a memory file system.
    FDir = SweepFolder(QStringLiteral("tamsel-gallery-faults"), QDir::tempPath());
    QVERIFY(FDir->isValid());
    // Readable for the user the read-only check runs as.
    QVERIFY(::chmod(QFile::encodeName(FDir->path()).constData(), 0755) == 0);
    FPhotos = FDir->filePath(QStringLiteral("photos"));
    FDest = FDir->filePath(QStringLiteral("web"));
    // Two small photos: every step of a run, in little time.
    WriteFile(FPhotos + QStringLiteral("/a.jpg"), EncodeJpeg(DetailedPicture(64, 48), 90));
    WriteFile(FPhotos + QStringLiteral("/b.jpg"), EncodeJpeg(DetailedPicture(40, 60), 90));
}

void tst_GalleryFaults::cleanup()
{
    FileFaults::Disarm();
}

void tst_GalleryFaults::everyWriteFails_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("earlier"); // an earlier gallery made with other settings
    QTest::addColumn<FileCall>("kind");
    QTest::addColumn<QList<int>>("errors");
    const QStringList resize{QStringLiteral("--resize"), QStringLiteral("32x32")};
    const QList<int> disk = DiskErrors();
    for (const QString &jobs : {QStringLiteral("1"), QStringLiteral("2")}) {
        const QString suffix = QStringLiteral(", %1 job%2").arg(jobs, jobs == QLatin1String("1") ? "" : "s");
        const QStringList j{QStringLiteral("-j"), jobs};
        QTest::newRow(qPrintable("new gallery, copied photos" + suffix))
            << "update" << j << false << FileCall::Any << disk;
        QTest::newRow(qPrintable("new gallery, resized photos" + suffix))
            << "update" << j + resize << false << FileCall::Any << disk;
        QTest::newRow(qPrintable("update" + suffix)) << "update" << j + resize << true << FileCall::Any << disk;
        QTest::newRow(qPrintable("thumbs" + suffix)) << "thumbs" << j + resize << true << FileCall::Any << disk;
        QTest::newRow(qPrintable("photos" + suffix)) << "photos" << j + resize << true << FileCall::Any << disk;
        QTest::newRow(qPrintable("photos, rename across" + suffix))
            << "photos" << j + resize << true << FileCall::Rename << QList<int>{EXDEV};
    }
}

void tst_GalleryFaults::everyWriteFails()
{
    QFETCH(QString, mode);
    QFETCH(QStringList, options);
    QFETCH(bool, earlier);
    QFETCH(FileCall, kind);
    QFETCH(QList<int>, errors);

    const QStringList photos{FPhotos + QStringLiteral("/a.jpg"), FPhotos + QStringLiteral("/b.jpg")};
    FaultSweep sweep;
    sweep.kind = kind;
    sweep.errors = errors;
    sweep.folders = {FDest};
    sweep.names = {FDest};
    sweep.prepare = [&] {
        QVERIFY(QDir(FDest).removeRecursively());
        if (earlier) {
            // Other sizes and qualities: the earlier files differ from the new ones.
            const ToolRun run = RunTool(QStringList{QStringLiteral("--dest"), FDest, QStringLiteral("--resize"),
                                                    QStringLiteral("20x20"), QStringLiteral("--thumb-size"),
                                                    QStringLiteral("16x16")}
                                        + photos);
            QCOMPARE(run.status, 0);
            // The update remakes what was made from another file.
            if (mode == QLatin1String("update"))
                QVERIFY(QFile::remove(FDest + QStringLiteral("/thumbs/2.jpeg")));
        }
    };
    sweep.run = [&] {
        return ErrorsOf(RunTool(QStringList{QStringLiteral("--dest"), FDest, QStringLiteral("--mode"), mode} + options
                                + photos));
    };
    const int points = RunFaultSweep(sweep);
    qInfo("%d fault points", points);
}

void tst_GalleryFaults::pagesAndScheme_data()
{
    QTest::addColumn<int>("page"); // -1: the index page with the scheme
    QTest::newRow("scheme and index page") << -1;
    QTest::newRow("photo page") << 1;
}

// The steps alone, over an earlier gallery's files.
void tst_GalleryFaults::pagesAndScheme()
{
    QFETCH(int, page);
    TGallerySettings settings;
    settings.Photos = QStringList{FPhotos + QStringLiteral("/a.jpg"), FPhotos + QStringLiteral("/b.jpg")};
    settings.DestFolder = FDest;
    settings.Scheme = QStringLiteral("light.css");
    FaultSweep sweep;
    sweep.folders = {FDest};
    sweep.names = {FDest};
    sweep.prepare = [&] {
        QVERIFY(QDir(FDest).removeRecursively());
        for (const char *name : {"light.css", "index.html", "2.html"})
            WriteFile(FDest + u'/' + QLatin1String(name), "earlier");
    };
    sweep.run = [&] {
        QStringList errors;
        RunReporting(
            [&] {
                if (page < 0)
                    WriteIndexPage(settings, BesideProgram(QStringLiteral("schemes")));
                else
                    WritePhotoPage(settings, page);
            },
            [&](const QString &message) { errors << message; });
        return errors;
    };
    const int points = RunFaultSweep(sweep);
    qInfo("%d fault points", points);
}

void tst_GalleryFaults::fullDisk()
{
    // A real full disk: a small memory file system, which only root may
    // mount.
    const QString mountPoint = FDir->filePath(QStringLiteral("full"));
    QVERIFY(QDir().mkpath(mountPoint));
    if (::mount("tamsel-test", QFile::encodeName(mountPoint).constData(), "tmpfs", 0, "size=96k") != 0)
        QSKIP(qPrintable(QStringLiteral("No small file system to fill (mount: %1)").arg(FileIo::ErrorText(errno))));
    // Photos of noise do not compress: a few fill the disk.
    QStringList photos;
    for (int i = 0; i < 6; ++i) {
        QImage noise(120, 120, QImage::Format_RGB888);
        for (int y = 0; y < noise.height(); ++y)
            for (int x = 0; x < noise.bytesPerLine(); ++x)
                noise.scanLine(y)[x] = uchar((uint(x * 7919 + y * 104729 + i * 31) * 2654435761u) >> 24);
        photos << FDir->filePath(QStringLiteral("noise/%1.jpg").arg(i));
        WriteFile(photos.last(), EncodeJpeg(noise, 100));
    }
    const QString dest = mountPoint + QStringLiteral("/g");
    const ToolRun run = RunTool(QStringList{QStringLiteral("--dest"), dest} + photos);
    const QStringList left = FilesBelow(dest);
    QByteArray firstPhoto = ReadAll(dest + QStringLiteral("/images/1.jpeg"));
    ::umount(QFile::encodeName(mountPoint).constData());

    QCOMPARE(run.status, 1);
    // The photo being copied when the disk filled, and the cause.
    QVERIFY2(run.err.startsWith(QStringLiteral("tamsel-gallery: Cannot write file ") + dest + QStringLiteral("/images/"))
                 && run.err.endsWith(QStringLiteral(": No space left on device\n")) && run.err.count(u'\n') == 1,
             qPrintable(run.err));
    for (const QString &file : left)
        QVERIFY2(!file.contains(QLatin1String(".tamsel-")), qPrintable(file));
    // What was written before the disk filled is whole.
    QCOMPARE(firstPhoto, ReadAll(photos.first()));
}

void tst_GalleryFaults::readOnlyFolder()
{
    // The permission check is skipped for root: run the tool as nobody.
    QStringList command{Tool()};
    if (::geteuid() == 0) {
        if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
            QSKIP("Running as root without setpriv: permissions would not apply");
        command = QStringList{QStringLiteral("setpriv"), QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                              QStringLiteral("--clear-groups"), Tool()};
    }
    const QString dest = FDir->filePath(QStringLiteral("readonly"));
    WriteFile(dest + QStringLiteral("/index.html"), "earlier");
    QVERIFY(::chmod(QFile::encodeName(dest).constData(), 0555) == 0);
    QProcess process;
    process.start(command.takeFirst(),
                  command + QStringList{QStringLiteral("--dest"), dest, FPhotos + QStringLiteral("/a.jpg")});
    QVERIFY(process.waitForFinished(60000));
    ::chmod(QFile::encodeName(dest).constData(), 0755);
    const QString err = QString::fromLocal8Bit(process.readAllStandardError());
    if (err.contains(QLatin1String("setpriv:")))
        QSKIP(qPrintable(QStringLiteral("setpriv cannot change the user here: ") + err));
    QCOMPARE(process.exitCode(), 1);
    QCOMPARE(err, QStringLiteral("tamsel-gallery: Cannot create folder %1/thumbs: Permission denied\n").arg(dest));
    QCOMPARE(FilesBelow(dest), QStringList{QStringLiteral("index.html")});
    QCOMPARE(ReadAll(dest + QStringLiteral("/index.html")), QByteArray("earlier"));
}

QTEST_MAIN(tst_GalleryFaults)
#include "tst_GalleryFaults.moc"
