// Local
#include "AppError.h"
#include "FuzzSupport.h"
#include "Metafile.h"

// Qt
#include <QByteArray>

// Std
#include <cstddef>
#include <cstdint>

// The input as a Windows metafile, with or without the placeable header. A
// large picture is drawn smaller: the fuzz build caps pictures at a few
// megapixels.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray file = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    RunOnPoolThread([&] {
        try {
            RenderMetafile(file, MetafileKind::Wmf);
        } catch (const AppError &) {
        }
    });
    return 0;
}
