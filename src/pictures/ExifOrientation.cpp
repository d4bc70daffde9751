#include "ExifOrientation.h"
#include "TiffBlock.h"

// Std
#include <cstdint>
#include <cstring>

namespace {

constexpr int kOrientationTag = 0x0112;
constexpr int kTypeShort = 3;

// The orientation tag of IFD0 in a TIFF-structured EXIF block; 1 when it
// cannot be read.
int OrientationOfTiff(const uchar *data, qint64 size)
{
    TiffReader tiff(data, size);
    if (!tiff.Start())
        return 1;
    const qint64 ifd = tiff.U32(4);
    if (!tiff.Has(ifd, 2))
        return 1;
    const int entries = tiff.U16(ifd);
    if (!tiff.Has(ifd + 2, qint64(entries) * 12))
        return 1;
    for (int i = 0; i < entries; ++i) {
        const qint64 entry = ifd + 2 + qint64(i) * 12;
        if (tiff.U16(entry) != kOrientationTag)
            continue;
        if (tiff.U16(entry + 2) != kTypeShort || tiff.U32(entry + 4) != 1)
            return 1;
        // A single short stands in the first bytes of the value field.
        const int value = tiff.U16(entry + 8);
        return value >= 1 && value <= 8 ? value : 1;
    }
    return 1;
}

} // namespace

QByteArrayView JpegExifBlock(const QByteArray &jpeg)
{
    const auto *data = reinterpret_cast<const uchar *>(jpeg.constData());
    const qint64 size = jpeg.size();
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return {};
    qint64 pos = 2;
    while (pos + 4 <= size) {
        if (data[pos] != 0xFF)
            return {};
        const uchar marker = data[pos + 1];
        if (marker == 0xFF) {   // fill byte
            ++pos;
            continue;
        }
        // Markers without a length.
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            pos += 2;
            continue;
        }
        // The EXIF block comes before the picture data.
        if (marker == 0xDA || marker == 0xD9)
            return {};
        const qint64 length = qint64(data[pos + 2]) << 8 | data[pos + 3];
        if (length < 2 || length > size - pos - 2)
            return {};
        const char *segment = jpeg.constData() + pos + 4;
        const qint64 segmentSize = length - 2;
        static const char kExif[6] = {'E', 'x', 'i', 'f', 0, 0};
        if (marker == 0xE1 && segmentSize >= 6 && std::memcmp(segment, kExif, 6) == 0)
            return QByteArrayView(segment + 6, segmentSize - 6);
        pos += 2 + length;
    }
    return {};
}

int JpegOrientation(const QByteArray &jpeg)
{
    const QByteArrayView block = JpegExifBlock(jpeg);
    if (block.isEmpty())
        return 1;
    return OrientationOfTiff(reinterpret_cast<const uchar *>(block.data()), block.size());
}

bool OrientationSwapsSides(int orientation)
{
    return orientation >= 5 && orientation <= 8;
}

QImage OrientedImage(const QImage &image, int orientation)
{
    if (orientation < 2 || orientation > 8 || image.isNull())
        return image;
    const int w = image.width();
    const int h = image.height();
    const bool swap = OrientationSwapsSides(orientation);
    QImage out(swap ? h : w, swap ? w : h, image.format());
    if (out.isNull())
        return image;
    out.setColorTable(image.colorTable());
    const int bytes = image.depth() / 8;
    // Where the stored pixel (x, y) lands in the upright picture.
    const auto target = [&](int x, int y) -> std::pair<int, int> {
        switch (orientation) {
        case 2: return {w - 1 - x, y};
        case 3: return {w - 1 - x, h - 1 - y};
        case 4: return {x, h - 1 - y};
        case 5: return {y, x};
        case 6: return {h - 1 - y, x};
        case 7: return {h - 1 - y, w - 1 - x};
        default: return {y, w - 1 - x};   // 8
        }
    };
    if (bytes < 1) {
        // Below a byte a pixel: let Qt move the bits.
        QTransform t;
        switch (orientation) {
        case 2: t.scale(-1, 1); break;
        case 3: t.rotate(180); break;
        case 4: t.scale(1, -1); break;
        case 5: t.rotate(90); t.scale(1, -1); break;
        case 6: t.rotate(90); break;
        case 7: t.rotate(-90); t.scale(1, -1); break;
        default: t.rotate(-90); break;
        }
        return image.transformed(t);
    }
    for (int y = 0; y < h; ++y) {
        const uchar *src = image.constScanLine(y);
        for (int x = 0; x < w; ++x) {
            const auto [tx, ty] = target(x, y);
            std::memcpy(out.scanLine(ty) + qsizetype(tx) * bytes, src + qsizetype(x) * bytes, size_t(bytes));
        }
    }
    return out;
}
