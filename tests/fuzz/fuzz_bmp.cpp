// Local
#include "AppError.h"
#include "BmpDecoder.h"

// Qt
#include <QByteArray>

// Std
#include <algorithm>
#include <cstddef>
#include <cstdint>

// The whole input as a bitmap file, then without its file header as one of
// the DIB forms that metafiles and icons embed (one per input, chosen by its
// length, so that a large picture is not decoded four times over).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray file = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        DecodeBmp(file);
    } catch (const AppError &) {
    }
    const QByteArrayView dib = QByteArrayView(file).sliced(std::min<qsizetype>(14, file.size()));
    try {
        switch (size % 4) {
        case 0: DecodePackedDib(dib, false); break;
        case 1: DecodePackedDib(dib, true); break;
        case 2: {
            const qsizetype split = std::min<qsizetype>(dib.size(), 40 + 256 * 4);
            DecodeDib(dib.first(split), dib.sliced(split), true);
            break;
        }
        default: DecodeIconDib(dib); break;
        }
    } catch (const AppError &) {
    }
    return 0;
}
