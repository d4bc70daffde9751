#include "PublishUtils.h"

// Local
#include "AppError.h"
#include "AppPaths.h"
#include "FileIo.h"
#include "FileLib.h"
#include "ImageUtils.h"
#include "JpegCodec.h"
#include "ModernPages.h"
#include "PictureFormats.h"
#include "PictureLoader.h"
#include "ShellOps.h"
#include "TamselConfig.h"
#include "TextUtils.h"
#include "UserFiles.h"

// Qt
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QThread>

// Std
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

// System
#include <fcntl.h>
#include <sys/stat.h>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// Every page ends each line, the last one included, with CR LF.
QByteArray JoinLines(const QStringList &lines)
{
    QString text;
    for (const QString &line : lines) {
        text += line;
        text += kCrLf;
    }
    return text.toUtf8();
}

QString LinkLine(const QString &scheme)
{
    return QStringLiteral("<link href=\"") + EscapeUrlText(scheme, true)
           + QStringLiteral("\" rel=\"stylesheet\" type=\"text/css\">");
}

// Writes a whole file, replacing the old one only once the new one is
// complete: an interrupted run never leaves a torn page or picture.
void WriteWholeFile(const QString &fileName, const QByteArray &data)
{
    QString reason;
    if (!WriteFileAtomically(fileName, data, &reason))
        throw AppError(QStringLiteral("Cannot create file %1: %2").arg(QDir::toNativeSeparators(fileName), reason));
}

// The run's settings come from controls that keep them in range; a caller
// that does not is stopped before anything is written.
void CheckSettingValues(const TGallerySettings &settings)
{
    struct Checked
    {
        const TGalleryNumber &number;
        int value;
    };
    const Checked values[] = {
        {GalleryNumbers::ThumbWidth, settings.ThumbWidth},
        {GalleryNumbers::ThumbHeight, settings.ThumbHeight},
        {GalleryNumbers::ThumbQuality, settings.ThumbQuality},
        {GalleryNumbers::PhotoWidth, settings.PhotoWidth},
        {GalleryNumbers::PhotoHeight, settings.PhotoHeight},
        {GalleryNumbers::PhotoQuality, settings.PhotoQuality},
        {GalleryNumbers::ThumbColumns, settings.ThumbColumns},
    };
    for (const Checked &checked : values) {
        const TGalleryNumber &range = checked.number;
        if (checked.value < range.Min || checked.value > range.Max) {
            throw AppError(QStringLiteral("The %1 must be between %2 and %3, not %4")
                               .arg(QLatin1String(range.Name))
                               .arg(range.Min)
                               .arg(range.Max)
                               .arg(checked.value));
        }
    }
    // The scheme is copied to DestFolder + "/" + Scheme: a name with a
    // folder in it would write outside the gallery.
    const QString &scheme = settings.Scheme;
    if (!scheme.isEmpty()
        && (scheme.contains(u'/') || scheme.contains(QChar(0)) || scheme == QLatin1String(".")
            || scheme == QLatin1String(".."))) {
        throw AppError(QStringLiteral("The color scheme \"%1\" is not a file name").arg(scheme));
    }
}

int ProgressPosition(int index, int count)
{
    return int(qint64(index) * 100 / count);
}

// A source's stamp: its birth time where the file system reports one, else
// its modification time.
bool SourceStamp(const QString &source, timespec &stamp)
{
    const QByteArray name = QFile::encodeName(source);
    struct statx info = {};
    if (statx(AT_FDCWD, name.constData(), AT_STATX_SYNC_AS_STAT, STATX_BTIME | STATX_MTIME, &info) != 0)
        return false;
    if (info.stx_mask & STATX_BTIME) {
        stamp.tv_sec = info.stx_btime.tv_sec;
        stamp.tv_nsec = info.stx_btime.tv_nsec;
        return true;
    }
    if (info.stx_mask & STATX_MTIME) {
        stamp.tv_sec = info.stx_mtime.tv_sec;
        stamp.tv_nsec = info.stx_mtime.tv_nsec;
        return true;
    }
    return false;
}

class NoProgress : public TPublishProgress
{
public:
    void SetPosition(int) override {}
    bool Cancelled() override { return false; }
};

void PublishInTurn(const TGallerySettings &settings, TPublishMode mode, TPublishProgress &progress)
{
    const int count = int(settings.Photos.size());
    for (int i = 0; i < count; ++i) {
        const QString &source = settings.Photos.at(i);
        MakeThumbnail(settings, mode, source, i);
        MakePhoto(settings, mode, source, i);
        WritePhotoPage(settings, i);
        progress.SetPosition(ProgressPosition(i, count));
        if (progress.Cancelled())
            return;
    }
}

// Makes the thumbnails and photos of a run on several threads, taking the
// photos in list order. Pages and progress stay with the caller's thread.
class PhotoWorkers
{
public:
    PhotoWorkers(const TGallerySettings &settings, TPublishMode mode, int threads)
        : FSettings(settings)
        , FMode(mode)
        , FCount(int(settings.Photos.size()))
        , FMade(size_t(FCount), 0)
        , FErrors(size_t(FCount))
    {
        try {
            for (int t = 0; t < threads; ++t)
                FThreads.emplace_back([this] { Run(); });
        } catch (...) {
            // Passed on to the caller once the threads already started are stopped.
            Stop();
            throw;
        }
    }

    ~PhotoWorkers() { Stop(); }

    PhotoWorkers(const PhotoWorkers &) = delete;
    PhotoWorkers &operator=(const PhotoWorkers &) = delete;

    // Waits until the thumbnail and photo of index are made; throws the
    // error that stopped them. The progress display is kept alive meanwhile.
    void Wait(int index, TPublishProgress &progress)
    {
        std::unique_lock lock(FMutex);
        const auto ready = [&] { return FMade[size_t(index)] || (FStopping && index >= FNext); };
        // A few times a second the progress display gets its turn.
        while (!FChanged.wait_for(lock, std::chrono::milliseconds(30), ready)) {
            lock.unlock();
            progress.Waiting();
            lock.lock();
        }
        if (FMade[size_t(index)] && !FErrors[size_t(index)])
            return;
        // A photo that was never taken: the run stopped at an earlier error.
        std::exception_ptr error = FErrors[size_t(index)];
        for (int i = 0; !error && i < FCount; ++i)
            error = FErrors[size_t(i)];
        lock.unlock();
        if (error)
            std::rethrow_exception(error);
        throw AppError(QStringLiteral("The gallery run stopped before photo %1").arg(index + 1));
    }

    // No new photo is started; the ones in progress are finished. Returns
    // how many photos were started in all (they are all made now).
    int Stop()
    {
        {
            std::lock_guard lock(FMutex);
            FStopping = true;
        }
        FChanged.notify_all();
        for (std::thread &thread : FThreads) {
            if (thread.joinable())
                thread.join();
        }
        std::lock_guard lock(FMutex);
        return FNext;
    }

private:
    void Run()
    {
        for (;;) {
            int index;
            {
                std::lock_guard lock(FMutex);
                if (FStopping || FNext >= FCount)
                    return;
                index = FNext++;
            }
            std::exception_ptr error;
            try {
                const QString &source = FSettings.Photos.at(index);
                MakeThumbnail(FSettings, FMode, source, index);
                MakePhoto(FSettings, FMode, source, index);
            } catch (...) {
                // Kept for Wait, which throws it on the caller's thread.
                error = std::current_exception();
            }
            {
                std::lock_guard lock(FMutex);
                FMade[size_t(index)] = 1;
                FErrors[size_t(index)] = error;
                if (error)
                    FStopping = true;
            }
            FChanged.notify_all();
        }
    }

    const TGallerySettings &FSettings;
    const TPublishMode FMode;
    const int FCount;
    std::mutex FMutex;
    std::condition_variable FChanged;
    std::vector<char> FMade;
    std::vector<std::exception_ptr> FErrors;
    int FNext = 0;
    bool FStopping = false;
    std::vector<std::thread> FThreads;
};

void PublishInParallel(const TGallerySettings &settings, TPublishMode mode, TPublishProgress &progress,
                       int threads)
{
    const int count = int(settings.Photos.size());
    PhotoWorkers workers(settings, mode, threads);
    for (int i = 0; i < count; ++i) {
        workers.Wait(i, progress);
        WritePhotoPage(settings, i);
        progress.SetPosition(ProgressPosition(i, count));
        if (progress.Cancelled()) {
            // The photos already in progress are finished, pages included.
            const int started = workers.Stop();
            for (int j = i + 1; j < started; ++j) {
                workers.Wait(j, progress);
                WritePhotoPage(settings, j);
                progress.SetPosition(ProgressPosition(j, count));
            }
            return;
        }
    }
}

// numerator / denominator rounded to the nearest integer, halves to even;
// both non-negative.
qint64 DivideRoundHalfEven(qint64 numerator, qint64 denominator)
{
    const qint64 quotient = numerator / denominator;
    const qint64 twice = 2 * (numerator % denominator);
    if (twice > denominator || (twice == denominator && (quotient & 1)))
        return quotient + 1;
    return quotient;
}

} // namespace

TPublishProgress::~TPublishProgress() = default;
PublishHost::~PublishHost() = default;

QString PublishHost::SchemesFolder() const
{
    return BesideProgram(QStringLiteral("schemes"));
}

QString ThumbFileName(int index)
{
    return QString::number(index + 1) + QStringLiteral(".jpeg");
}

QString PageFileName(int index)
{
    return QString::number(index + 1) + QStringLiteral(".html");
}

QString PhotoFileName(const TGallerySettings &settings, int index)
{
    const QString number = QString::number(index + 1);
    if (settings.ResizePhotos)
        return number + QStringLiteral(".jpeg");
    const QString name = NameOfPath(settings.Photos.at(index));
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot < 0)
        return number;
    if (!GalleryCopiesPhoto(name.mid(dot + 1)))
        return number + QStringLiteral(".jpeg");
    QString extension = name.mid(dot).toLower();
    if (extension == QLatin1String(".jpg"))
        extension = QStringLiteral(".jpeg");
    return number + extension;
}

QString EscapeUrlText(const QString &text, bool wholeValue)
{
    const QByteArray utf8 = text.toUtf8();
    const qsizetype size = utf8.size();

    // The address parser drops blanks at either end of a value.
    qsizetype first = 0;
    qsizetype last = size;
    while (first < last && utf8.at(first) == ' ')
        ++first;
    while (last > first && utf8.at(last - 1) == ' ')
        --last;
    if (!wholeValue)
        first = 0;

    // "a:b.css" would be read as an address with the scheme "a".
    const auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    const auto isSchemeChar = [&](char c) {
        return isLetter(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    };
    qsizetype schemeColon = -1;
    if (wholeValue && size > 0 && isLetter(utf8.at(0))) {
        qsizetype i = 1;
        while (i < size && isSchemeChar(utf8.at(i)))
            ++i;
        if (i < size && utf8.at(i) == ':')
            schemeColon = i;
    }

    QByteArray out;
    bool changed = false;
    for (qsizetype i = 0; i < size; ++i) {
        const uchar c = uchar(utf8.at(i));
        // Quotes and ampersands would end the attribute or start a character
        // reference; "%", "#", "?" and "\" change the address; control
        // characters are dropped by the address parser; bytes beyond ASCII
        // would be read in whatever encoding the browser guesses for a page
        // that declares none.
        const bool escape = c < 0x20 || c >= 0x7F || c == '"' || c == '&' || c == '<' || c == '%'
                            || c == '#' || c == '?' || c == '\\' || (c == ' ' && (i < first || i >= last))
                            || i == schemeColon;
        if (escape) {
            static const char hex[] = "0123456789ABCDEF";
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
            changed = true;
        } else {
            out += char(c);
        }
    }
    return changed ? QString::fromLatin1(out) : text;
}

QString GalleryFooter()
{
    return QStringLiteral("<center><br><br><br><br><hr width=\"400\"><div style=\"font-family: Arial; "
                          "font-size: 9pt; color: #808080;\">Created by <a style=\"color: #808080;\" href=\"")
           + QStringLiteral("http://" TAMSEL_HOME_HOST)
           + QStringLiteral("\">Tamsel Photo Editor</a></div></center>");
}

QByteArray IndexPageText(const TGallerySettings &settings)
{
    QStringList lines{
        QStringLiteral("<html>"),
        QStringLiteral("<head>"),
        LinkLine(settings.Scheme),
        QStringLiteral("<title></title>"),
        QStringLiteral("</head>"),
        QStringLiteral("<body>"),
        QStringLiteral("<table class=\"thumb\" align=\"center\">"),
        QStringLiteral("<tr>"),
    };
    const int count = int(settings.Photos.size());
    int cells = 0;
    for (int i = 0; i < count; ++i) {
        if (cells >= settings.ThumbColumns) {
            lines << QStringLiteral("</tr>") << QStringLiteral("<tr>");
            cells = 0;
        }
        lines << QStringLiteral("<td class=\"thumb\">")
              << QStringLiteral("<a href=\"") + PageFileName(i) + QStringLiteral("\"><img class=\"thumb\" src=\"thumbs/")
                     + ThumbFileName(i) + QStringLiteral("\"></a>")
              << QStringLiteral("</td>");
        ++cells;
    }
    lines << QStringLiteral("</tr>") << QStringLiteral("</table>") << GalleryFooter() << QStringLiteral("</body>")
          << QStringLiteral("</html>");
    return JoinLines(lines);
}

QByteArray PhotoPageText(const TGallerySettings &settings, int index)
{
    const QStringList lines{
        QStringLiteral("<html>"),
        QStringLiteral("<head>"),
        LinkLine(settings.Scheme),
        QStringLiteral("<title>%1 of %2</title>").arg(index + 1).arg(settings.Photos.size()),
        QStringLiteral("</head>"),
        QStringLiteral("<body>"),
        QStringLiteral("<div class=\"nav\"><a class=\"nav\" href=\"index.html\">Home</a></div>"),
        QStringLiteral("<div class=\"photo\"><img class=\"photo\" src=\"images/")
            + EscapeUrlText(PhotoFileName(settings, index), false) + QStringLiteral("\"></div>"),
        GalleryFooter(),
        QStringLiteral("</body>"),
        QStringLiteral("</html>"),
    };
    return JoinLines(lines);
}

bool CheckPublishSettings(const TGallerySettings &settings, PublishHost &host)
{
    if (settings.Photos.isEmpty()) {
        host.ShowPhotosPage();
        host.Information(QStringLiteral("Photos files are not selected."));
        return false;
    }
    const QString &dest = settings.DestFolder;
    if (TrimBlanks(dest).isEmpty()) {
        host.ShowDestinationSetting();
        host.Information(QStringLiteral("The destination folder is not selected."));
        return false;
    }
    // Only a full local path: "/" first, and not "//" (a network path).
    if (!dest.startsWith(u'/') || dest.startsWith(QLatin1String("//"))) {
        host.ShowDestinationSetting();
        host.Information(QStringLiteral("The destination folder is invalid.\r\n"
                                        "Please specify the full path to destination folder."));
        return false;
    }
    if (!QFileInfo(dest).isDir()) {
        if (!host.Confirm(QStringLiteral("The destination folder does not exist. Create?")))
            return false;
        const int error = FileIo::MakePath(dest);
        if (error || !QFileInfo(dest).isDir()) {
            host.InformationWithDetail(QStringLiteral("Unable to create the destination folder."),
                                       QDir::toNativeSeparators(dest) + QStringLiteral(": ")
                                           + FileIo::ErrorText(error ? error : ENOTDIR));
            return false;
        }
    }
    for (const QString &folder : {dest + QStringLiteral("/thumbs"), dest + QStringLiteral("/images")}) {
        if (const int error = FileIo::MakePath(folder))
            throw AppError(QStringLiteral("Cannot create folder %1: %2")
                               .arg(QDir::toNativeSeparators(folder), FileIo::ErrorText(error)));
    }
    return true;
}

void WriteIndexPage(const TGallerySettings &settings, const QString &schemesFolder)
{
    if (!settings.Scheme.isEmpty()) {
        CopyFileData(schemesFolder + u'/' + settings.Scheme, settings.DestFolder + u'/' + settings.Scheme);
    }
    WriteWholeFile(settings.DestFolder + QStringLiteral("/index.html"),
                   settings.Pages == gpModern ? ModernIndexPageText(settings) : IndexPageText(settings));
}

void MakeThumbnail(const TGallerySettings &settings, TPublishMode mode, const QString &source, int index)
{
    if (mode == pmOverwritePhotos)
        return;
    const QString target = settings.DestFolder + QStringLiteral("/thumbs/") + ThumbFileName(index);
    if (mode == pmOverwriteThumbs || !QFileInfo::exists(target) || !SameCreationTime(source, target)) {
        SaveResizedJpeg(source, target, settings.ThumbWidth, settings.ThumbHeight, settings.ThumbQuality);
        CopyCreationTime(source, target);
    }
}

void MakePhoto(const TGallerySettings &settings, TPublishMode mode, const QString &source, int index)
{
    if (mode == pmOverwriteThumbs)
        return;
    const QString target = settings.DestFolder + QStringLiteral("/images/") + PhotoFileName(settings, index);
    if (mode == pmOverwritePhotos || !QFileInfo::exists(target) || !SameCreationTime(source, target)) {
        if (settings.ResizePhotos)
            SaveResizedJpeg(source, target, settings.PhotoWidth, settings.PhotoHeight, settings.PhotoQuality);
        else if (!GalleryCopiesPhoto(QFileInfo(source).suffix()))
            SaveJpegCopy(source, target, settings.PhotoQuality);
        else
            CopyFileData(source, target);
        CopyCreationTime(source, target);
    }
}

void WritePhotoPage(const TGallerySettings &settings, int index)
{
    WriteWholeFile(settings.DestFolder + u'/' + PageFileName(index),
                   settings.Pages == gpModern ? ModernPhotoPageText(settings, index) : PhotoPageText(settings, index));
}

void SaveResizedJpeg(const QString &source, const QString &target, int maxWidth, int maxHeight, int quality)
{
    QImage bitmap;
    try {
        LoadFittedBitmap(source, bitmap, maxWidth, maxHeight, false);
    } catch (const AppError &e) {
        throw TPhotoError(source, e.message());
    }
    WriteWholeFile(target, EncodeJpeg(bitmap, quality));
}

void SaveJpegCopy(const QString &source, const QString &target, int quality)
{
    WriteWholeFile(target, EncodeJpeg(TPicture::Load(source).ToBitmap(), quality));
}

bool SameCreationTime(const QString &source, const QString &target)
{
    timespec stamp = {};
    if (!SourceStamp(source, stamp))
        return false;
    struct stat info = {};
    if (stat(QFile::encodeName(target).constData(), &info) != 0)
        return false;
    return info.st_mtim.tv_sec == stamp.tv_sec && info.st_mtim.tv_nsec == stamp.tv_nsec;
}

void CopyCreationTime(const QString &source, const QString &target)
{
    timespec times[2] = {};
    if (!SourceStamp(source, times[1]))
        return;
    times[0].tv_nsec = UTIME_OMIT;
    utimensat(AT_FDCWD, QFile::encodeName(target).constData(), times, 0);
}

void PublishGallery(const TGallerySettings &settings, TPublishMode mode, PublishHost &host, int jobs)
{
    CheckSettingValues(settings);
    if (!CheckPublishSettings(settings, host))
        return;
    const int count = int(settings.Photos.size());
    bool cancelled = false;
    {
        std::unique_ptr<TPublishProgress> progress = host.StartProgress(
            QStringLiteral("Publishing..."), QStringLiteral("The photos is being published. Please wait..."));
        if (!progress)
            progress = std::make_unique<NoProgress>();
        WriteIndexPage(settings, host.SchemesFolder());
        if (jobs > 1 && count > 1)
            PublishInParallel(settings, mode, *progress, std::min(jobs, count));
        else
            PublishInTurn(settings, mode, *progress);
        cancelled = progress->Cancelled();
        // The modern index gives each thumbnail's size, known only once the
        // thumbnail is made; the index written first lists every photo
        // should the run end early.
        if (settings.Pages == gpModern)
            WriteWholeFile(settings.DestFolder + QStringLiteral("/index.html"), ModernIndexPageText(settings));
    }
    if (!cancelled)
        host.OpenDocument(settings.DestFolder + QStringLiteral("/index.html"));
}

int DefaultPublishJobs()
{
    return qBound(1, QThread::idealThreadCount(), 256);
}

QString TimeRemainingText(qint64 seconds)
{
    if (seconds < 60)
        return QStringLiteral("%1 seconds remaining").arg(seconds);
    if (seconds < 10800)
        return QStringLiteral("%1 minutes remaining").arg(seconds / 60);
    return QStringLiteral("%1 hours remaining").arg(seconds / 3600);
}

std::optional<QString> TTimeLeft::Update(int position, qint64 nowMs)
{
    std::optional<QString> text;
    if (FLastTime) {
        const qint64 elapsedMs = nowMs - *FLastTime;
        if (elapsedMs > 1000) {
            const qint64 left = 100 - qBound(0, position, 100);
            text = TimeRemainingText(DivideRoundHalfEven(left * elapsedMs, 1000));
        }
    }
    FLastTime = nowMs;
    return text;
}
