// Qt
#include <QGuiApplication>

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
