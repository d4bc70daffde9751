#pragma once

// Local
#include "PicturePrefetch.h"

// Qt
#include <QString>

// Std
#include <memory>

// The picture named on the command line, read from the first moment of the
// program on worker threads, while Qt starts and the window is built. The
// window's stored placement gives the size it will have; the file is
// decoded whole at the reduced size that calls for, and the picture area's
// first read of that file finishes it for the area's real box (or, when the
// box calls for another reduced size, reads the file again). What is shown
// is exactly what a read on the spot shows.
class TStartupPicture
{
public:
    // Starts reading path (relative to the current directory) when it names
    // a JPEG file and the placement stored under placementKey holds a normal
    // (not maximized) window's size; otherwise does nothing. Made before
    // QApplication: it needs nothing of Qt's GUI.
    TStartupPicture(const QString &path, const QString &placementKey);
    // Waits for a read under way.
    ~TStartupPicture();
    TStartupPicture(const TStartupPicture &) = delete;
    TStartupPicture &operator=(const TStartupPicture &) = delete;

    // For the picture area's reads, on any thread: the first one gets the
    // start-up read's picture when it asks for the same file, waiting for
    // the read to end. False when there is none for the request (another
    // file comes first, the file changed, the box calls for another reduced
    // size), and the caller reads the file itself; the start-up read's
    // memory is let go either way.
    static bool Take(const TShowRequest &request, TShownPicture &shown);

    // True once its picture was handed out.
    bool Used() const;

    struct Shared;

private:
    std::shared_ptr<Shared> d;
};
