// Local
#include "GalleryCli.h"

// Qt
#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    return RunGalleryTool(QCoreApplication::arguments());
}
