#include "ExifOrientation.h"
#include "AppError.h"
#include "TiffBlock.h"

// Qt
#include <QTransform>

// Std
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

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

int TurnedOrientation(int orientation, int quarterTurns)
{
    // The eight orientations are the turns and mirrorings of a square; a
    // 3 x 2 picture of distinct pixels tells them apart.
    QImage probe(3, 2, QImage::Format_RGB32);
    for (int i = 0; i < 6; ++i)
        probe.setPixel(i % 3, i / 3, qRgb(i * 40, 0, 0));
    const int turns = ((quarterTurns % 4) + 4) % 4;
    const QImage wanted = OrientedImage(probe, orientation).transformed(QTransform().rotate(90 * turns));
    for (int candidate = 1; candidate <= 8; ++candidate) {
        if (OrientedImage(probe, candidate) == wanted)
            return candidate;
    }
    return 1;
}

namespace {

void PutU16(QByteArray &b, qint64 at, quint16 v, bool bigEndian)
{
    b[at] = char(bigEndian ? v >> 8 : v & 0xFF);
    b[at + 1] = char(bigEndian ? v & 0xFF : v >> 8);
}

void PutU32(QByteArray &b, qint64 at, quint32 v, bool bigEndian)
{
    PutU16(b, at, quint16(bigEndian ? v >> 16 : v & 0xFFFF), bigEndian);
    PutU16(b, at + 2, quint16(bigEndian ? v & 0xFFFF : v >> 16), bigEndian);
}

// A small EXIF block holding only the orientation.
QByteArray NewExifSegment(int orientation)
{
    QByteArray tiff("MM\0\x2A\0\0\0\x08", 8);
    tiff += QByteArray("\0\x01", 2);                                  // one entry
    tiff += QByteArray("\x01\x12\0\x03\0\0\0\x01", 8);                // orientation, SHORT, 1
    tiff += char(0) + QByteArray(1, char(orientation)) + QByteArray(2, '\0');
    tiff += QByteArray(4, '\0');                                      // no next directory
    const QByteArray body = QByteArray("Exif\0\0", 6) + tiff;
    const int length = int(body.size()) + 2;
    return QByteArray("\xFF\xE1", 2) + char(length >> 8) + char(length & 0xFF) + body;
}

} // namespace

QByteArray JpegWithOrientation(const QByteArray &jpeg, int orientation)
{
    if (orientation < 1 || orientation > 8)
        orientation = 1;
    const auto *data = reinterpret_cast<const uchar *>(jpeg.constData());
    if (jpeg.size() < 4 || data[0] != 0xFF || data[1] != 0xD8)
        throw AppError(QStringLiteral("The file is not a JPEG file"));
    const QByteArrayView block = JpegExifBlock(jpeg);
    if (block.isEmpty()) {
        // After a JFIF header, where the two are read together; else first.
        qint64 at = 2;
        if (jpeg.size() >= 6 && data[2] == 0xFF && data[3] == 0xE0)
            at = 4 + (qint64(data[4]) << 8 | data[5]);
        if (at > jpeg.size())
            throw AppError(QStringLiteral("The JPEG file is damaged"));
        return jpeg.left(at) + NewExifSegment(orientation) + jpeg.mid(at);
    }

    const qint64 start = block.data() - jpeg.constData();   // the TIFF header
    TiffReader tiff(reinterpret_cast<const uchar *>(block.data()), block.size());
    const bool bigEndian = block.size() >= 2 && block[0] == 'M';
    const qint64 ifd = tiff.Start() ? qint64(tiff.U32(4)) : -1;
    if (ifd < 8 || !tiff.Has(ifd, 2) || !tiff.Has(ifd + 2, qint64(tiff.U16(ifd)) * 12 + 4))
        throw AppError(QStringLiteral("The photo's EXIF block is damaged"));
    const int entries = tiff.U16(ifd);

    QByteArray out = jpeg;
    std::vector<QByteArray> kept;
    for (int i = 0; i < entries; ++i) {
        const qint64 entry = ifd + 2 + qint64(i) * 12;
        if (tiff.U16(entry) == kOrientationTag) {
            if (tiff.U16(entry + 2) == kTypeShort && tiff.U32(entry + 4) == 1) {
                // The usual case: two bytes change, nothing moves.
                PutU16(out, start + entry + 8, quint16(orientation), bigEndian);
                return out;
            }
            continue;   // a tag of the wrong shape is replaced
        }
        kept.emplace_back(block.data() + entry, 12);
    }

    // A new first directory at the end of the block: the old entries in tag
    // order with the orientation among them, then the old next-directory
    // offset. The values the entries point at stay where they are.
    QByteArray orientationEntry(12, '\0');
    PutU16(orientationEntry, 0, kOrientationTag, bigEndian);
    PutU16(orientationEntry, 2, kTypeShort, bigEndian);
    PutU32(orientationEntry, 4, 1, bigEndian);
    PutU16(orientationEntry, 8, quint16(orientation), bigEndian);
    kept.push_back(orientationEntry);
    const auto tag = [&](const QByteArray &e) {
        const auto *p = reinterpret_cast<const uchar *>(e.constData());
        return bigEndian ? quint16(p[0] << 8 | p[1]) : quint16(p[1] << 8 | p[0]);
    };
    std::stable_sort(kept.begin(), kept.end(), [&](const QByteArray &a, const QByteArray &b) { return tag(a) < tag(b); });

    QByteArray directory(2, '\0');
    PutU16(directory, 0, quint16(kept.size()), bigEndian);
    for (const QByteArray &e : kept)
        directory += e;
    directory += QByteArray(block.data() + ifd + 2 + qint64(entries) * 12, 4);
    const qint64 padding = block.size() % 2;   // directories start on a word
    const qint64 newIfd = block.size() + padding;
    const qint64 segmentLength = (qint64(data[start - 8]) << 8 | data[start - 7]);
    const qint64 grown = segmentLength + padding + directory.size();
    if (newIfd > 0xFFFFFFFF || grown > 0xFFFF)
        throw AppError(QStringLiteral("There is no room for the orientation in the photo's EXIF block"));
    out.insert(start + block.size(), QByteArray(padding, '\0') + directory);
    PutU32(out, start + 4, quint32(newIfd), bigEndian);
    out[start - 8] = char(grown >> 8);
    out[start - 7] = char(grown & 0xFF);
    return out;
}
