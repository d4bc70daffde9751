// Local
#include "AppError.h"
#include "Metafile.h"
#include "WmfReader.h"

// Qt
#include <QByteArray>

// Std
#include <cstddef>
#include <cstdint>

// The input as a Windows metafile, with or without the placeable header.
// Pictures over 1024 pixels a side are left out: they only cost time (one is
// drawn in the unit tests), while the records are what is being tried.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray file = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        const QSizeF natural = WmfNaturalSize(ReadWmfHeader(file));
        if (natural.width() > 1024 || natural.height() > 1024)
            return 0;
        RenderMetafile(file, MetafileKind::Wmf);
    } catch (const AppError &) {
    }
    return 0;
}
