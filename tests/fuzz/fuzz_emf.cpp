// Local
#include "AppError.h"
#include "EmfReader.h"
#include "Metafile.h"

// Qt
#include <QByteArray>

// Std
#include <cstddef>
#include <cstdint>

// The input as an enhanced metafile. Pictures over 1024 pixels a side are
// left out: they only cost time (one is drawn in the unit tests), while the
// records are what is being tried.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray file = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        const QSizeF natural = EmfNaturalSize(ReadEmfHeader(file));
        if (natural.width() > 1024 || natural.height() > 1024)
            return 0;
        RenderMetafile(file, MetafileKind::Emf);
    } catch (const AppError &) {
    }
    return 0;
}
