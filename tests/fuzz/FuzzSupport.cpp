#include "FuzzSupport.h"

// Qt
#include <QGuiApplication>
#include <QSemaphore>
#include <QThreadPool>

// Std
#include <cstdlib>

// The decoders draw with QPainter (icons, metafiles), which needs a
// QGuiApplication. It is made once, on the offscreen platform.
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QGuiApplication *app = new QGuiApplication(*argc, *argv);
    (void)app;
    return 0;
}

void RunOnPoolThread(const std::function<void()> &work)
{
    // One thread, kept: Qt's font and glyph caches belong to a thread.
    static const bool once = [] {
        QThreadPool::globalInstance()->setMaxThreadCount(1);
        QThreadPool::globalInstance()->setExpiryTimeout(-1);
        return true;
    }();
    (void)once;
    QSemaphore done;
    QThreadPool::globalInstance()->start([&] {
        work();
        done.release();
    });
    done.acquire();
}
