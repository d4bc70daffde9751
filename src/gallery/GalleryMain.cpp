// Local
#include "GalleryCli.h"

// Qt
#include <QCoreApplication>
#include <QGuiApplication>

// Std
#include <memory>

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    // Only opening the browser needs the desktop; everything else runs
    // without a display.
    const bool haveDisplay = !qEnvironmentVariableIsEmpty("DISPLAY")
                             || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
                             || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    std::unique_ptr<QCoreApplication> app;
    if (haveDisplay && GalleryToolOpensBrowser(arguments))
        app = std::make_unique<QGuiApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
    return RunGalleryTool(QCoreApplication::arguments());
}
