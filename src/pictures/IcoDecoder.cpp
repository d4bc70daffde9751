#include "IcoDecoder.h"

// Local
#include "AppError.h"
#include "BmpDecoder.h"
#include "ByteReader.h"

// Std
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

namespace {

// Reads the directory and the entries' own headers. Every read is checked
// against the size first, as the results differ for each shortfall; a read
// that got past those checks would still fail as the icon not being valid.
struct InvalidIcon : AppError
{
    InvalidIcon() : AppError(QStringLiteral("Icon image is not valid")) {}
};
using Bytes = TByteReader<InvalidIcon>;

struct Entry
{
    int index = 0;
    QByteArrayView data;
    bool png = false;
    qint64 width = 0;
    qint64 height = 0;
    int depth = 0;
};

// The entry's real size and colour depth, from its own DIB header or PNG
// header (the directory's bytes are often wrong, and 0 there means 256).
std::optional<Entry> ReadEntry(int index, QByteArrayView data)
{
    const Bytes b(data);
    const qint64 size = b.Size();
    Entry e;
    e.index = index;
    e.data = data;
    static const uchar pngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size >= 8 && std::memcmp(b.Data(), pngSignature, 8) == 0) {
        if (size < 26 || std::memcmp(b.Data() + 12, "IHDR", 4) != 0)
            return std::nullopt;
        e.png = true;
        e.width = b.U32Be(16);
        e.height = b.U32Be(20);
        int channels = 1;
        switch (b.U8(25)) {
        case 2: channels = 3; break;
        case 4: channels = 2; break;
        case 6: channels = 4; break;
        default: break;
        }
        e.depth = b.U8(24) * channels;
    } else {
        if (size < 12)
            return std::nullopt;
        const quint32 headerSize = b.U32(0);
        if (headerSize == 12) {
            e.width = b.U16(4);
            e.height = b.U16(6) / 2;
            e.depth = b.U16(10);
        } else if (headerSize >= 16 && size >= 16) {
            e.width = b.S32(4);
            e.height = std::abs(qint64(b.S32(8))) / 2;
            e.depth = b.U16(14);
        } else {
            return std::nullopt;
        }
    }
    if (e.width <= 0 || e.height <= 0)
        return std::nullopt;
    return e;
}

// Tries the entries best first; a few at most, so that a file whose many
// entries all fail cannot keep us busy.
constexpr int kMaxAttempts = 8;

} // namespace

QImage DecodeIco(const QByteArray &file)
{
    const QString invalid = QStringLiteral("Icon image is not valid");
    const Bytes ico{QByteArrayView(file)};
    const qint64 size = ico.Size();
    if (size < 6 || ico.U16(0) != 0 || (ico.U16(2) != 1 && ico.U16(2) != 2))
        throw AppError(invalid);
    const int count = ico.U16(4);
    if (count == 0 || 6 + qint64(count) * 16 > size)
        throw AppError(invalid);

    std::vector<Entry> entries;
    for (int i = 0; i < count; ++i) {
        const qint64 d = 6 + qint64(i) * 16;
        const qint64 length = ico.U32(d + 8);
        const qint64 offset = ico.U32(d + 12);
        if (offset >= size || length == 0)
            continue;
        // A length running past the end of the file is cut to the file.
        const QByteArrayView data(file.constData() + offset, std::min(length, size - offset));
        if (auto e = ReadEntry(i, data))
            entries.push_back(*e);
    }

    std::stable_sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        const qint64 areaA = a.width * a.height, areaB = b.width * b.height;
        if (areaA != areaB)
            return areaA > areaB;
        return a.depth > b.depth;
    });

    // An entry that cannot be decoded (or claims an absurd size) makes way
    // for the next best one.
    int attempts = 0;
    for (const Entry &e : entries) {
        if (++attempts > kMaxAttempts)
            break;
        try {
            const QImage image = e.png ? DecodeIconPng(e.data) : DecodeIconDib(e.data);
            if (!image.isNull())
                return image;
        } catch (const AppError &) {
        }
    }
    throw AppError(invalid);
}
