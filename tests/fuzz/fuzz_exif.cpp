// Local
#include "ExifDetails.h"

// Std
#include <cstdint>

// The input as a JPEG file whose EXIF block the details panel reads, or,
// when it does not start like a JPEG file, as an EXIF block itself (so the
// fuzzer need not find its way through the markers first). Every field is
// then put into the panel's lines.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const TExifDetails details = size >= 2 && data[0] == 0xFF && data[1] == 0xD8
                                     ? ReadJpegExifDetails(bytes)
                                     : ReadExifBlock(data, qint64(size));
    ExifDetailLines(details);
    return 0;
}
