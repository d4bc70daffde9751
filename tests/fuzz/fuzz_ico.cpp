// Local
#include "AppError.h"
#include "IcoDecoder.h"

// Qt
#include <QByteArray>

// Std
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    try {
        DecodeIco(QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)));
    } catch (const AppError &) {
    }
    return 0;
}
