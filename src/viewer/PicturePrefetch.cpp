#include "PicturePrefetch.h"

// Local
#include "AppError.h"
#include "PictureFormats.h"
#include "PictureLoader.h"

// Qt
#include <QFile>

// Std
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

// POSIX
#include <sys/stat.h>
#include <unistd.h>

namespace {

// At most this many pictures are kept besides the one on show.
constexpr int kMaxKept = 2;

// A file's size and modification time: a kept picture is valid while they
// stay the same.
struct FileStamp
{
    qint64 Size = -1;
    qint64 ModifiedNs = 0;

    bool operator==(const FileStamp &other) const = default;
};

FileStamp StampOf(const QString &fileName)
{
    struct stat info = {};
    if (stat(QFile::encodeName(fileName).constData(), &info) != 0)
        return {};
    return {qint64(info.st_size), qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

struct Kept
{
    TShowRequest Request;
    bool Turned = true;  // the orientation setting it was read with
    FileStamp Stamp;
    TShownPicture Picture;
};

qint64 BytesOf(const Kept &kept)
{
    return kept.Picture.Bitmap.sizeInBytes() + kept.Picture.Paint.sizeInBytes();
}

} // namespace

TShownPicture ReadShownPicture(const TShowRequest &request)
{
    TShownPicture shown;
    try {
        ReadPicture(request.File, shown.Bitmap, request.Box.width(), request.Box.height(), shown.Width,
                    shown.Height, shown.Scale);
        shown.Bitmap.setDevicePixelRatio(request.Ratio);
        shown.Paint = shown.Bitmap.convertToFormat(QImage::Format_RGB32);
    } catch (const AppError &e) {
        shown.Bitmap = QImage();
        shown.Paint = QImage();
        shown.Scale = e.message();
    } catch (const std::bad_alloc &) {
        shown.Bitmap = QImage();
        shown.Paint = QImage();
        shown.Scale = QStringLiteral("Out of memory");
    }
    return shown;
}

bool CanPrefetch(const QString &fileName)
{
    switch (DecoderForExtension(PictureExtension(fileName))) {
    case PictureDecoder::Jpeg:
    case PictureDecoder::Bitmap:
    case PictureDecoder::Icon:
    // Each picture gets its own QImageReader, libavif decoder or libheif
    // context, which may work on any thread.
    case PictureDecoder::Other:
        return true;
    default:
        return false;
    }
}

qint64 DefaultPrefetchBudget()
{
    constexpr qint64 kBudget = qint64(256) * 1024 * 1024;
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0)
        return kBudget;
    return std::min(kBudget, qint64(pages) * pageSize / 4);
}

struct TPicturePrefetch::Shared
{
    qint64 Budget = 0;
    std::mutex Mutex;
    std::condition_variable Changed;
    QList<TShowRequest> Wanted;
    QList<TShowRequest> Queue;               // wanted, not yet started
    std::optional<TShowRequest> Reading;     // on the worker now
    std::vector<Kept> Pictures;
    int Reads = 0;
    bool Stopping = false;
    std::thread Worker;

    // Lets go of kept pictures, the least wanted first, until at most
    // kMaxKept are left within the budget.
    void Trim()
    {
        auto rank = [this](const Kept &k) {
            const qsizetype i = Wanted.indexOf(k.Request);
            return i < 0 ? Wanted.size() : i;
        };
        qint64 bytes = 0;
        for (const Kept &k : Pictures)
            bytes += BytesOf(k);
        while (!Pictures.empty() && (int(Pictures.size()) > kMaxKept || bytes > Budget)) {
            auto worst = std::max_element(Pictures.begin(), Pictures.end(),
                                          [&](const Kept &a, const Kept &b) { return rank(a) < rank(b); });
            bytes -= BytesOf(*worst);
            Pictures.erase(worst);
        }
    }

    void Run()
    {
        std::unique_lock lock(Mutex);
        for (;;) {
            Changed.wait(lock, [this] { return Stopping || !Queue.isEmpty(); });
            if (Stopping)
                return;
            const TShowRequest request = Queue.takeFirst();
            Reading = request;
            lock.unlock();
            Kept kept;
            kept.Request = request;
            kept.Turned = TurnByOrientation();
            kept.Stamp = StampOf(request.File);
            bool done = true;
            try {
                kept.Picture = ReadShownPicture(request);
            } catch (...) {
                done = false;   // shown by the picture area's own read, if ever
            }
            const bool sameSetting = kept.Turned == TurnByOrientation();
            lock.lock();
            Reading.reset();
            ++Reads;
            if (done && sameSetting && Wanted.contains(request)) {
                Pictures.push_back(std::move(kept));
                Trim();
            }
            Changed.notify_all();
        }
    }
};

TPicturePrefetch::TPicturePrefetch(qint64 budgetBytes)
    : d(std::make_unique<Shared>())
{
    d->Budget = budgetBytes;
}

TPicturePrefetch::~TPicturePrefetch()
{
    {
        std::lock_guard lock(d->Mutex);
        d->Stopping = true;
    }
    d->Changed.notify_all();
    if (d->Worker.joinable())
        d->Worker.join();
}

void TPicturePrefetch::Want(const QList<TShowRequest> &requests)
{
    std::lock_guard lock(d->Mutex);
    d->Wanted = requests;
    d->Queue.clear();
    std::erase_if(d->Pictures, [&](const Kept &k) { return !requests.contains(k.Request); });
    for (const TShowRequest &request : requests) {
        const bool kept = std::any_of(d->Pictures.begin(), d->Pictures.end(),
                                      [&](const Kept &k) { return k.Request == request; });
        if (!kept && d->Reading != request && !d->Queue.contains(request))
            d->Queue.append(request);
    }
    if (!d->Queue.isEmpty() && !d->Worker.joinable()) {
        try {
            d->Worker = std::thread([shared = d.get()] { shared->Run(); });
        } catch (const std::system_error &) {
            d->Queue.clear();   // no thread to be had: every picture is read when shown
        }
    }
    d->Changed.notify_all();
}

std::optional<TShownPicture> TPicturePrefetch::Take(const TShowRequest &request)
{
    std::unique_lock lock(d->Mutex);
    // A step makes what was wanted before stale: the worker starts nothing
    // more until the next picture's neighbours are asked for, except this
    // picture when the idle worker is about to start it.
    const bool startingNext = !d->Reading && !d->Queue.isEmpty() && d->Queue.first() == request;
    d->Queue.clear();
    if (startingNext)
        d->Queue.append(request);
    // A step to a picture being read (or about to be) waits for that read;
    // any other picture is read by the caller.
    d->Changed.wait(lock, [&] { return d->Reading != request && d->Queue.isEmpty(); });
    auto it = std::find_if(d->Pictures.begin(), d->Pictures.end(),
                           [&](const Kept &k) { return k.Request == request; });
    if (it == d->Pictures.end())
        return std::nullopt;
    Kept kept = std::move(*it);
    d->Pictures.erase(it);
    d->Wanted.removeAll(request);
    if (kept.Turned != TurnByOrientation() || kept.Stamp != StampOf(request.File) || kept.Stamp.Size < 0)
        return std::nullopt;
    return std::move(kept.Picture);
}

void TPicturePrefetch::Clear()
{
    std::lock_guard lock(d->Mutex);
    d->Wanted.clear();
    d->Queue.clear();
    d->Pictures.clear();
}

void TPicturePrefetch::Drop(const QString &fileName)
{
    std::lock_guard lock(d->Mutex);
    auto sameFile = [&](const TShowRequest &r) { return r.File == fileName; };
    d->Wanted.removeIf(sameFile);
    d->Queue.removeIf(sameFile);
    std::erase_if(d->Pictures, [&](const Kept &k) { return sameFile(k.Request); });
}

int TPicturePrefetch::KeptCount() const
{
    std::lock_guard lock(d->Mutex);
    return int(d->Pictures.size());
}

qint64 TPicturePrefetch::KeptBytes() const
{
    std::lock_guard lock(d->Mutex);
    qint64 bytes = 0;
    for (const Kept &k : d->Pictures)
        bytes += BytesOf(k);
    return bytes;
}

bool TPicturePrefetch::IsReading() const
{
    std::lock_guard lock(d->Mutex);
    return d->Reading.has_value();
}

int TPicturePrefetch::ReadCount() const
{
    std::lock_guard lock(d->Mutex);
    return d->Reads;
}
