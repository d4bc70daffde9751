#pragma once

// Qt
#include <QImage>
#include <QList>
#include <QSize>
#include <QString>

// Std
#include <memory>
#include <optional>

// What the picture area shows for one file in one box: the fitted bitmap,
// the picture's size and the scale text, or (with a null bitmap) the error
// text in place of the scale, exactly as the viewer shows them.
struct TShownPicture
{
    QImage Bitmap;
    // The same pixels in the screen's own format (32 bits a pixel), which
    // paints several times faster than 24-bit rows.
    QImage Paint;
    int Width = 0;
    int Height = 0;
    QString Scale;
};

// One picture to be shown: a file fitted into a box of device pixels at a
// device pixel ratio.
struct TShowRequest
{
    QString File;
    QSize Box;
    qreal Ratio = 1;

    bool operator==(const TShowRequest &other) const = default;
};

// Reads the picture of a request on the calling thread; a failure becomes
// the error text (AppError's message, or "Out of memory").
TShownPicture ReadShownPicture(const TShowRequest &request);

// True for the pictures a worker thread may read: those whose decoders
// share nothing but thread-safe caches (JPEG, bitmaps, icons). Metafiles
// draw with the application's fonts and are only read where they are shown.
bool CanPrefetch(const QString &fileName);

// The memory the prefetched pictures may take: 256 MiB, and never more than
// a quarter of the machine's memory.
qint64 DefaultPrefetchBudget();

// Reads the pictures the user is likely to see next on a worker thread,
// while the program is idle, and keeps them ready: at most two, within a
// memory budget. A picture is handed out only for the same request (file,
// box, ratio), with the orientation setting it was read with, while the
// file's size and modification time are unchanged. All calls are made on
// one thread (the picture area's).
class TPicturePrefetch
{
public:
    explicit TPicturePrefetch(qint64 budgetBytes = DefaultPrefetchBudget());
    // Waits for a picture being read.
    ~TPicturePrefetch();
    TPicturePrefetch(const TPicturePrefetch &) = delete;
    TPicturePrefetch &operator=(const TPicturePrefetch &) = delete;

    // The pictures wanted next, most wanted first; replaces what was asked
    // before. Kept pictures no longer wanted are let go; pictures not yet
    // started are forgotten; the one being read is finished.
    void Want(const QList<TShowRequest> &requests);
    // The picture of the request, handed over (it is no longer kept): at
    // once when it is kept, after the read when it is being read; nothing
    // when it is neither or no longer valid.
    std::optional<TShownPicture> Take(const TShowRequest &request);
    // Lets go of everything, or of everything read from one file.
    void Clear();
    void Drop(const QString &fileName);

    // For tests: pictures kept, their bytes, a read under way, reads done
    // on the worker.
    int KeptCount() const;
    bool IsReading() const;
    qint64 KeptBytes() const;
    int ReadCount() const;

    struct Shared;

private:
    std::unique_ptr<Shared> d;
};
