#include "StartupPicture.h"

// Local
#include "AppError.h"
#include "PictureFormats.h"
#include "PictureLoader.h"
#include "RegLib.h"

// Qt
#include <QDateTime>
#include <QDir>
#include <QFileInfo>

// Std
#include <future>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

namespace {

// The menu bar, tool bar and status bar take about this much of the
// window's height. Only the reduced decoding size hangs on the guess, and
// it changes at a few widely spaced box sizes, so a rough figure does.
constexpr int kChromeHeight = 90;

QSize StoredClientSize(const QString &placementKey)
{
    TRegistry reg;
    if (!reg.OpenKey(placementKey, false))
        return {};
    qint32 width = 0;
    qint32 height = 0;
    qint32 state = 0;
    if (!reg.TryReadInteger(QStringLiteral("Width"), width) || !reg.TryReadInteger(QStringLiteral("Height"), height))
        return {};
    if (reg.TryReadInteger(QStringLiteral("WindowState"), state) && state != 0)
        return {};   // maximized: the screen's size is not known yet
    return QSize(width, height);
}

// What the start-up read made: nothing when there was nothing to read.
struct StartupRead
{
    std::shared_ptr<const TEarlyJpeg> Picture;
    qint64 Size = -1;
    QDateTime Modified;
};

StartupRead ReadAtStartup(const QString &file, const QString &placementKey)
{
    StartupRead read;
    const QFileInfo info(file);
    if (!info.isFile())
        return read;
    QSize client;
    try {
        client = StoredClientSize(placementKey);
    } catch (const AppError &) {
        return read;   // the window reports a damaged store itself
    }
    if (client.width() < 1 || client.height() <= kChromeHeight)
        return read;
    read.Size = info.size();
    read.Modified = info.lastModified();
    const int threads = std::thread::hardware_concurrency() >= 2 ? 2 : 1;
    read.Picture = std::make_shared<const TEarlyJpeg>(file, QSize(client.width(), client.height() - kChromeHeight),
                                                      threads);
    return read;
}

} // namespace

struct TStartupPicture::Shared
{
    QString File;
    std::shared_future<void> Done;
    StartupRead Result;    // set when the read ends, unless unwanted by then
    bool Unwanted = false;
    bool HandedOut = false;
};

namespace {

std::mutex g_mutex;
std::shared_ptr<TStartupPicture::Shared> g_current;

} // namespace

TStartupPicture::TStartupPicture(const QString &path, const QString &placementKey)
{
    if (path.isEmpty())
        return;
    const QString file = QDir::cleanPath(QDir::current().absoluteFilePath(path));
    if (DecoderForExtension(PictureExtension(file)) != PictureDecoder::Jpeg)
        return;
    auto shared = std::make_shared<Shared>();
    shared->File = file;
    try {
        // Everything, the store included, is read on the worker: this
        // thread goes straight on to start Qt.
        shared->Done = std::async(std::launch::async, [shared, placementKey] {
                           StartupRead read;
                           try {
                               read = ReadAtStartup(shared->File, placementKey);
                           } catch (...) {
                               // The window's own read gives the error text.
                           }
                           std::lock_guard lock(g_mutex);
                           if (!shared->Unwanted)
                               shared->Result = std::move(read);
                       }).share();
    } catch (const std::system_error &) {
        return;   // no thread to be had: the window reads the picture itself
    }
    d = shared;
    std::lock_guard lock(g_mutex);
    g_current = shared;
}

TStartupPicture::~TStartupPicture()
{
    if (!d)
        return;
    {
        std::lock_guard lock(g_mutex);
        if (g_current == d)
            g_current.reset();
    }
    d->Done.wait();
}

bool TStartupPicture::Used() const
{
    std::lock_guard lock(g_mutex);
    return d && d->HandedOut;
}

bool TStartupPicture::Take(const TShowRequest &request, TShownPicture &shown)
{
    std::shared_ptr<Shared> shared;
    std::shared_future<void> done;
    {
        std::lock_guard lock(g_mutex);
        if (!g_current)
            return false;
        shared = std::exchange(g_current, nullptr);   // one picture, handed out once
        if (shared->File != request.File) {
            // Another picture is shown first: this one is not needed.
            shared->Unwanted = true;
            shared->Result = {};
            return false;
        }
        done = shared->Done;
    }
    done.wait();
    StartupRead read;
    {
        std::lock_guard lock(g_mutex);
        read = std::move(shared->Result);
    }
    if (!read.Picture)
        return false;
    const QFileInfo info(request.File);
    if (info.size() != read.Size || info.lastModified() != read.Modified)
        return false;
    TShownPicture result;
    try {
        if (!read.Picture->Finish(result.Bitmap, request.Box.width(), request.Box.height(), result.Width,
                                  result.Height, result.Scale, std::thread::hardware_concurrency() >= 2 ? 2 : 1))
            return false;
        result.Bitmap.setDevicePixelRatio(request.Ratio);
        result.Paint = result.Bitmap.convertToFormat(QImage::Format_RGB32);
    } catch (const AppError &) {
        return false;
    } catch (const std::bad_alloc &) {
        return false;
    }
    shown = std::move(result);
    std::lock_guard lock(g_mutex);
    shared->HandedOut = true;
    return true;
}
