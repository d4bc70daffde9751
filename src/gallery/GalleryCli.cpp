#include "GalleryCli.h"

int RunGalleryTool(const QStringList &)
{
    return 1;
}
