#include "BmpDecoder.h"

// Local
#include "AppError.h"
#include "Bitmap.h"
#include "ByteReader.h"
#include "JpegCodec.h"

// Qt
#include <QBuffer>
#include <QColorSpace>
#include <QImageReader>

// Std
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

namespace {

// Thrown anywhere inside the decoder for malformed input; the entry points
// turn it into the text the user sees.
struct InvalidData
{
};

[[noreturn]] void Invalid()
{
    throw InvalidData{};
}

// Little-endian reads, every offset checked against the data first.
using Bytes = TByteReader<InvalidData>;

enum class Coding { Rgb, Rle8, Rle4, Rle24, Fields, Jpeg, Png };

struct DibHeader
{
    qint64 headerSize = 0;
    qint64 width = 0;
    qint64 height = 0;               // rows of the colour picture (half the header's for an icon)
    bool topDown = false;
    int bitCount = 0;
    Coding coding = Coding::Rgb;
    std::array<quint32, 4> masks{};  // red, green, blue, alpha
    bool core = false;               // OS/2 1.x: three-byte colour table entries
    qint64 tableOffset = 0;          // the colour table follows the header and any masks
    qint64 tableEntries = 0;         // entries the table claims to hold

    bool compressed() const { return coding == Coding::Rle8 || coding == Coding::Rle4 || coding == Coding::Rle24; }
    bool embedded() const { return coding == Coding::Jpeg || coding == Coding::Png; }
    qint64 rowBytes() const { return (width * bitCount + 31) / 32 * 4; }
    qint64 bitsOffset() const { return tableOffset + tableEntries * (core ? 3 : 4); }
};

bool IsWindowsHeaderSize(qint64 size)
{
    return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

DibHeader ParseHeader(Bytes info, bool icon)
{
    DibHeader h;
    h.headerSize = info.U32(0);
    if (h.headerSize < 12 || !info.Has(0, h.headerSize))
        Invalid();

    qint64 rawHeight = 0;
    quint32 compression = 0;
    qint64 colorsUsed = 0;
    bool os2 = false;
    if (h.headerSize == 12) {
        h.core = true;
        os2 = true;
        h.width = info.U16(4);
        rawHeight = info.U16(6);
        h.bitCount = info.U16(10);
    } else if (IsWindowsHeaderSize(h.headerSize)) {
        h.width = info.S32(4);
        rawHeight = info.S32(8);
        h.bitCount = info.U16(14);
        compression = info.U32(16);
        colorsUsed = info.U32(32);
    } else if (h.headerSize >= 16 && h.headerSize <= 64 && h.headerSize % 2 == 0) {
        // OS/2 2.x writers may store any leading part of the 64-byte header;
        // the fields left out are zero.
        os2 = true;
        h.width = info.S32(4);
        rawHeight = info.S32(8);
        h.bitCount = info.U16(14);
        compression = h.headerSize >= 20 ? info.U32(16) : 0;
        colorsUsed = h.headerSize >= 36 ? info.U32(32) : 0;
    } else {
        Invalid();
    }

    bool alphaFields = false;
    if (os2) {
        // OS/2 numbers its compressions differently; 3 is Huffman 1D fax
        // coding, which we do not read.
        switch (compression) {
        case 0: h.coding = Coding::Rgb; break;
        case 1: h.coding = Coding::Rle8; break;
        case 2: h.coding = Coding::Rle4; break;
        case 4: h.coding = Coding::Rle24; break;
        default: Invalid();
        }
    } else {
        switch (compression) {
        case 0: h.coding = Coding::Rgb; break;
        case 1: h.coding = Coding::Rle8; break;
        case 2: h.coding = Coding::Rle4; break;
        case 3: h.coding = Coding::Fields; break;
        case 4: h.coding = Coding::Jpeg; break;
        case 5: h.coding = Coding::Png; break;
        case 6: h.coding = Coding::Fields; alphaFields = true; break;
        default: Invalid();
        }
    }

    h.topDown = rawHeight < 0;
    h.height = h.topDown ? -rawHeight : rawHeight;
    if (icon)
        h.height /= 2;
    if (h.width <= 0 || h.height <= 0)
        Invalid();
    if (h.topDown && h.compressed())
        Invalid();

    bool bitCountOk = false;
    switch (h.coding) {
    case Coding::Rgb:
        bitCountOk = h.bitCount == 1 || h.bitCount == 2 || h.bitCount == 4 || h.bitCount == 8
                  || h.bitCount == 16 || h.bitCount == 24 || h.bitCount == 32 || h.bitCount == 64;
        break;
    case Coding::Rle8: bitCountOk = h.bitCount == 8; break;
    case Coding::Rle4: bitCountOk = h.bitCount == 4; break;
    case Coding::Rle24: bitCountOk = h.bitCount == 24; break;
    case Coding::Fields: bitCountOk = h.bitCount == 16 || h.bitCount == 24 || h.bitCount == 32; break;
    case Coding::Jpeg:
    case Coding::Png: bitCountOk = true; break;
    }
    if (!bitCountOk)
        Invalid();

    h.tableOffset = h.headerSize;
    if (h.coding == Coding::Fields) {
        // The masks sit in the header from the 52-byte version on; a shorter
        // header is followed by the ones it has no room for.
        const int count = alphaFields ? 4 : 3;
        const int inHeader = int(std::clamp<qint64>((h.headerSize - 40) / 4, 0, 4));
        for (int i = 0; i < count; ++i)
            h.masks[i] = i < inHeader ? info.U32(40 + 4 * i) : info.U32(h.headerSize + 4 * (i - inHeader));
        if (!alphaFields && inHeader >= 4)
            h.masks[3] = info.U32(52);
        h.tableOffset += 4 * std::max(0, count - inHeader);
    } else if (h.bitCount == 16) {
        h.masks = {0x7C00, 0x03E0, 0x001F, 0};
    } else if (h.bitCount == 32) {
        h.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0};
    }

    if (h.bitCount >= 1 && h.bitCount <= 8)
        h.tableEntries = colorsUsed != 0 ? colorsUsed : qint64(1) << h.bitCount;
    else
        h.tableEntries = colorsUsed;
    return h;
}

struct Bgr
{
    uchar b = 0, g = 0, r = 0;
};

using Palette = std::array<Bgr, 256>;

// Entries the file leaves out read as black; entries beyond what the bit
// count can address are never read.
Palette ReadPalette(const DibHeader &h, Bytes info, qint64 tableEnd)
{
    Palette palette{};
    if (h.bitCount < 1 || h.bitCount > 8)
        return palette;
    const qint64 entrySize = h.core ? 3 : 4;
    const qint64 end = std::min(tableEnd, info.Size());
    const qint64 available = end > h.tableOffset ? (end - h.tableOffset) / entrySize : 0;
    const qint64 count = std::min({h.tableEntries, qint64(1) << h.bitCount, available});
    const uchar *p = info.Data() + h.tableOffset;
    for (qint64 i = 0; i < count; ++i, p += entrySize)
        palette[i] = Bgr{p[0], p[1], p[2]};
    return palette;
}

// One colour channel of a bitfield pixel, scaled from its mask's range to
// 0..255 with rounding, so that a full 5- or 6-bit value gives 255.
class Channel
{
public:
    explicit Channel(quint32 mask)
        : FMask(mask)
    {
        if (mask == 0)
            return;
        FShift = std::countr_zero(mask);
        FMax = mask >> FShift;
        if (FMax < 65536) {
            FTable.resize(FMax + 1);
            for (quint32 v = 0; v <= FMax; ++v)
                FTable[v] = Scale(v);
        }
    }

    bool present() const { return FMask != 0; }

    uchar operator()(quint32 pixel) const
    {
        if (FMask == 0)
            return 0;
        const quint32 v = (pixel & FMask) >> FShift;
        return FTable.empty() ? Scale(v) : FTable[v];
    }

private:
    uchar Scale(quint32 v) const { return uchar((quint64(v) * 255 + FMax / 2) / FMax); }

    quint32 FMask = 0;
    int FShift = 0;
    quint32 FMax = 0;
    std::vector<uchar> FTable;
};

// Whether the n bytes at p all hold the same value. Large pictures are mostly
// uniform rows (opaque, or undefined after an early end), which the per-pixel
// loops then skip.
bool AllEqual(const uchar *p, qsizetype n)
{
    return n <= 1 || std::memcmp(p, p + 1, size_t(n - 1)) == 0;
}

// The picture while it is decoded: colours in a 24-bit bitmap and, only when
// some pixel is not opaque, one alpha byte per pixel (rows top-down).
struct Canvas
{
    QImage colour;
    QByteArray alpha;
    bool pixelAlpha = false;  // the alpha came from the pixel values themselves

    void setColour(QImage image)
    {
        colour = std::move(image);
        FWidth = colour.width();
        FHeight = colour.height();
        FStride = colour.bytesPerLine();
        FBits = colour.bits();
    }

    int width() const { return FWidth; }
    int height() const { return FHeight; }
    uchar *row(qint64 y) { return FBits + y * FStride; }
    uchar *alphaRow(qint64 y) { return reinterpret_cast<uchar *>(alpha.data()) + y * FWidth; }

    void makeAlpha(uchar fill)
    {
        alpha = QByteArray(qsizetype(width()) * height(), char(fill));
        if (alpha.size() != qsizetype(width()) * height())
            throw AppError(QStringLiteral("Not enough memory for a picture of %1 x %2 pixels").arg(width()).arg(height()));
    }

    // Drops the alpha plane when it says nothing: all opaque, or (for alpha
    // read from the pixels) all 0.
    void dropUselessAlpha()
    {
        if (alpha.isEmpty())
            return;
        const auto *a = reinterpret_cast<const uchar *>(alpha.constData());
        if (!AllEqual(a, alpha.size()))
            return;
        if (a[0] == 255 || (a[0] == 0 && pixelAlpha)) {
            alpha.clear();
            pixelAlpha = false;
        }
    }

private:
    int FWidth = 0;
    int FHeight = 0;
    qsizetype FStride = 0;
    uchar *FBits = nullptr;
};

Canvas NewCanvas(qint64 width, qint64 height)
{
    CheckBitmapSize(width, height);
    Canvas c;
    c.setColour(NewBitmap(int(width), int(height)));
    return c;
}

// Rows the data does not reach stay black and transparent.
void MarkRowsUndefined(Canvas &c, const DibHeader &h, qint64 firstMissing)
{
    if (firstMissing >= c.height())
        return;
    if (c.alpha.isEmpty())
        c.makeAlpha(255);
    for (qint64 i = firstMissing; i < c.height(); ++i) {
        const qint64 y = h.topDown ? i : c.height() - 1 - i;
        std::memset(c.row(y), 0, size_t(c.width()) * 3);
        std::memset(c.alphaRow(y), 0, size_t(c.width()));
    }
}

// 64-bit pixels hold blue, green, red and alpha as signed 2.13 fixed point,
// colours in linear light; shown through the sRGB curve.
struct WideTables
{
    std::array<uchar, 8193> srgb{};
    std::array<uchar, 8193> linear{};

    WideTables()
    {
        for (int v = 0; v <= 8192; ++v) {
            const double x = v / 8192.0;
            const double s = x <= 0.0031308 ? 12.92 * x : 1.055 * std::pow(x, 1 / 2.4) - 0.055;
            srgb[v] = uchar(std::lround(std::clamp(s, 0.0, 1.0) * 255));
            linear[v] = uchar(std::lround(x * 255));
        }
    }

    static int Index(quint16 raw) { return std::clamp<int>(qint16(raw), 0, 8192); }
};

void DecodeUncompressed(const DibHeader &h, const Palette &palette, Bytes bits, Canvas &c)
{
    const qint64 rowBytes = h.rowBytes();
    const qint64 rowsPresent = std::min<qint64>(c.height(), bits.Size() / rowBytes);
    if (rowsPresent == 0)
        Invalid();
    const int w = c.width();

    const bool fields = h.bitCount == 16 || h.bitCount == 32 || (h.bitCount == 24 && h.coding == Coding::Fields);
    const Channel red(fields ? h.masks[0] : 0), green(fields ? h.masks[1] : 0), blue(fields ? h.masks[2] : 0);
    const Channel alpha(fields ? h.masks[3] : 0);
    const bool wide = h.bitCount == 64;
    if (alpha.present() || wide) {
        c.makeAlpha(255);
        c.pixelAlpha = true;
    }
    static const WideTables wideTables;
    uint alphaOr = 0, alphaAnd = 255;

    for (qint64 i = 0; i < rowsPresent; ++i) {
        const uchar *src = bits.Data() + i * rowBytes;
        const qint64 y = h.topDown ? i : c.height() - 1 - i;
        uchar *dst = c.row(y);
        uchar *a = c.alpha.isEmpty() ? nullptr : c.alphaRow(y);
        if (h.bitCount <= 8) {
            const int bpp = h.bitCount;
            const uint indexMask = (1u << bpp) - 1;
            for (qint64 x = 0; x < w; ++x, dst += 3) {
                const qint64 bit = x * bpp;
                const Bgr &px = palette[(src[bit >> 3] >> (8 - bpp - (bit & 7))) & indexMask];
                dst[0] = px.b;
                dst[1] = px.g;
                dst[2] = px.r;
            }
        } else if (wide) {
            for (qint64 x = 0; x < w; ++x, src += 8, dst += 3) {
                dst[0] = wideTables.srgb[WideTables::Index(quint16(src[0] | src[1] << 8))];
                dst[1] = wideTables.srgb[WideTables::Index(quint16(src[2] | src[3] << 8))];
                dst[2] = wideTables.srgb[WideTables::Index(quint16(src[4] | src[5] << 8))];
                a[x] = wideTables.linear[WideTables::Index(quint16(src[6] | src[7] << 8))];
                alphaOr |= a[x];
                alphaAnd &= a[x];
            }
        } else if (!fields) {
            // 24-bit rows are already blue, green, red.
            std::memcpy(dst, src, size_t(w) * 3);
        } else {
            const int bytesPerPixel = h.bitCount / 8;
            for (qint64 x = 0; x < w; ++x, src += bytesPerPixel, dst += 3) {
                quint32 v = quint32(src[0]) | quint32(src[1]) << 8;
                if (bytesPerPixel >= 3)
                    v |= quint32(src[2]) << 16;
                if (bytesPerPixel == 4)
                    v |= quint32(src[3]) << 24;
                dst[0] = blue(v);
                dst[1] = green(v);
                dst[2] = red(v);
                if (a) {
                    a[x] = alpha(v);
                    alphaOr |= a[x];
                    alphaAnd &= a[x];
                }
            }
        }
    }
    // Alpha that is 255 everywhere says nothing; alpha that is 0 everywhere
    // is a writer leaving the bytes unused, since a picture transparent
    // everywhere is never what a file means.
    if (c.pixelAlpha && (alphaAnd == 255 || alphaOr == 0)) {
        c.alpha.clear();
        c.pixelAlpha = false;
    }
    MarkRowsUndefined(c, h, rowsPresent);
}

// RLE4, RLE8 and OS/2's RLE24. Pixels the codes skip (deltas, early ends of
// lines or of the bitmap) stay undefined: black and transparent. Runs past
// the right edge are clipped, never wrapped. Every code consumes input, and
// each writes at most 255 pixels, so the work is bounded by the input.
void DecodeRle(const DibHeader &h, const Palette &palette, Bytes bits, Canvas &c)
{
    const qint64 w = c.width(), ht = c.height();
    std::memset(c.row(0), 0, size_t(c.colour.sizeInBytes()));
    c.makeAlpha(0);
    const uchar *p = bits.Data();
    const qint64 n = bits.Size();
    qint64 pos = 0, x = 0, y = 0;  // y counts rows from the bottom

    auto put = [&](qint64 px, const Bgr &colour) {
        if (px >= w)
            return;
        uchar *dst = c.row(ht - 1 - y) + px * 3;
        dst[0] = colour.b;
        dst[1] = colour.g;
        dst[2] = colour.r;
        c.alphaRow(ht - 1 - y)[px] = 255;
    };

    while (y < ht && pos + 2 <= n) {
        const int count = p[pos];
        if (count > 0) {
            Bgr first, second;
            if (h.coding == Coding::Rle24) {
                if (pos + 4 > n)
                    break;
                first = second = Bgr{p[pos + 1], p[pos + 2], p[pos + 3]};
                pos += 4;
            } else {
                const uchar v = p[pos + 1];
                pos += 2;
                if (h.coding == Coding::Rle4) {
                    first = palette[v >> 4];
                    second = palette[v & 15];
                } else {
                    first = second = palette[v];
                }
            }
            const qint64 end = std::min(x + count, w);
            for (qint64 i = x; i < end; ++i)
                put(i, ((i - x) & 1) ? second : first);
            x += count;
            continue;
        }

        const int code = p[pos + 1];
        pos += 2;
        if (code == 0) {
            x = 0;
            ++y;
        } else if (code == 1) {
            break;
        } else if (code == 2) {
            if (pos + 2 > n)
                break;
            x += p[pos];
            y += p[pos + 1];
            pos += 2;
        } else {
            const qint64 bytes = h.coding == Coding::Rle8 ? code : h.coding == Coding::Rle4 ? (code + 1) / 2 : qint64(code) * 3;
            const qint64 avail = std::min(bytes, n - pos);
            for (qint64 i = 0; i < code; ++i) {
                if (h.coding == Coding::Rle8) {
                    if (i >= avail)
                        break;
                    put(x + i, palette[p[pos + i]]);
                } else if (h.coding == Coding::Rle4) {
                    if (i / 2 >= avail)
                        break;
                    const uchar v = p[pos + i / 2];
                    put(x + i, palette[(i & 1) ? (v & 15) : (v >> 4)]);
                } else {
                    if (i * 3 + 3 > avail)
                        break;
                    put(x + i, Bgr{p[pos + i * 3], p[pos + i * 3 + 1], p[pos + i * 3 + 2]});
                }
            }
            if (avail < bytes)
                break;
            x += code;
            pos += (bytes + 1) / 2 * 2;
        }
    }
    c.dropUselessAlpha();
}

// The size a PNG's header gives, once its chunks have been found to lie
// within the data; nothing when it is not a PNG or a chunk claims more bytes
// than there are. libpng allocates what a chunk claims before reading it, so
// without this walk a few hundred bytes claiming a text chunk of gigabytes
// would cost gigabytes. Image data may be cut short: libpng reads it piece by
// piece.
std::optional<std::pair<qint64, qint64>> PngSize(Bytes png)
{
    static const uchar signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (!png.Has(0, 24) || std::memcmp(png.Data(), signature, 8) != 0 || std::memcmp(png.Data() + 12, "IHDR", 4) != 0)
        return std::nullopt;
    for (qint64 pos = 8; png.Has(pos, 8);) {
        const qint64 length = png.U32Be(pos);
        const uchar *type = png.Data() + pos + 4;
        if (std::memcmp(type, "IEND", 4) == 0)
            break;
        if (!png.Has(pos + 8, length + 4) && std::memcmp(type, "IDAT", 4) != 0)
            return std::nullopt;
        pos += 12 + length;
    }
    return std::make_pair(qint64(png.U32Be(16)), qint64(png.U32Be(20)));
}

// The picture's size is checked before anything is decoded, and only Qt's
// PNG reader ever sees the data.
QImage ReadPng(QByteArrayView data)
{
    const auto size = PngSize(Bytes(data));
    if (!size)
        return {};
    CheckBitmapSize(size->first, size->second);
    LimitQtImageMemory();
    QByteArray bytes = QByteArray::fromRawData(data.data(), data.size());
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "png");
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

// A whole picture decoded by another reader, split into colour and alpha.
// A picture with alpha is converted a band of rows at a time, so that no
// second full-size copy of it is made.
Canvas CanvasFromImage(const QImage &image)
{
    if (image.isNull())
        Invalid();
    CheckBitmapSize(image.width(), image.height());
    Canvas c;
    if (!image.hasAlphaChannel()) {
        c.setColour(image.convertToFormat(QImage::Format_BGR888));
        if (c.colour.isNull())
            throw AppError(QStringLiteral("Not enough memory for a picture of %1 x %2 pixels").arg(image.width()).arg(image.height()));
        return c;
    }
    c.setColour(NewBitmap(image.width(), image.height()));
    c.makeAlpha(255);
    c.pixelAlpha = true;
    constexpr int kBand = 64;
    for (int top = 0; top < c.height(); top += kBand) {
        const int rows = std::min(kBand, c.height() - top);
        const QImage argb = image.copy(0, top, c.width(), rows).convertToFormat(QImage::Format_ARGB32);
        if (argb.isNull())
            throw AppError(QStringLiteral("Not enough memory for a picture of %1 x %2 pixels").arg(image.width()).arg(image.height()));
        for (int i = 0; i < rows; ++i) {
            const QRgb *src = reinterpret_cast<const QRgb *>(argb.constScanLine(i));
            uchar *dst = c.row(top + i);
            uchar *a = c.alphaRow(top + i);
            for (int x = 0; x < c.width(); ++x, dst += 3) {
                dst[0] = uchar(qBlue(src[x]));
                dst[1] = uchar(qGreen(src[x]));
                dst[2] = uchar(qRed(src[x]));
                a[x] = uchar(qAlpha(src[x]));
            }
        }
    }
    c.dropUselessAlpha();
    return c;
}

Canvas DecodeEmbedded(const DibHeader &h, Bytes bits)
{
    const QByteArrayView data(reinterpret_cast<const char *>(bits.Data()), bits.Size());
    if (h.coding == Coding::Png)
        return CanvasFromImage(ReadPng(data));

    std::optional<JpegDecoder> decoder;
    try {
        decoder.emplace(QByteArray(data.data(), data.size()));
    } catch (const AppError &) {
        Invalid();
    }
    CheckBitmapSize(decoder->Width(), decoder->Height());
    QImage image;
    try {
        image = decoder->Decode(1, false);
    } catch (const AppError &) {
        Invalid();
    }
    return CanvasFromImage(image);
}

// info holds the header and whatever colour table there is up to tableEnd;
// bits holds the pixel rows. fourthByteAlpha reads a 32-bit bitmap without
// masks as carrying alpha in its fourth byte, as icons and AlphaBlend do.
Canvas DecodeCanvas(const DibHeader &header, Bytes info, qint64 tableEnd, Bytes bits, bool fourthByteAlpha)
{
    if (header.embedded())
        return DecodeEmbedded(header, bits);

    DibHeader h = header;
    if (fourthByteAlpha && h.bitCount == 32 && h.coding == Coding::Rgb)
        h.masks[3] = 0xFF000000;
    const Palette palette = ReadPalette(h, info, tableEnd);
    Canvas c = NewCanvas(h.width, h.height);
    if (h.compressed())
        DecodeRle(h, palette, bits, c);
    else
        DecodeUncompressed(h, palette, bits, c);
    return c;
}

// A version 5 header may carry an ICC profile (its offset counted from the
// header's start). Colours are brought to sRGB through it; a profile Qt
// cannot read is ignored, as is a linked one (a file name we never open).
struct ProfileRange
{
    qint64 offset = 0;
    qint64 size = 0;
};

std::optional<ProfileRange> EmbeddedProfile(const DibHeader &h, Bytes info)
{
    constexpr quint32 kProfileEmbedded = 0x4D424544;  // 'MBED'
    if (h.headerSize < 124 || h.embedded() || info.U32(56) != kProfileEmbedded)
        return std::nullopt;
    const ProfileRange r{info.U32(112), info.U32(116)};
    if (r.size == 0 || !info.Has(r.offset, r.size))
        return std::nullopt;
    return r;
}

void ApplyEmbeddedProfile(const DibHeader &h, Bytes info, Canvas &c)
{
    const auto range = EmbeddedProfile(h, info);
    if (!range)
        return;
    const qint64 offset = range->offset, size = range->size;
    const QColorSpace profile = QColorSpace::fromIccProfile(
        QByteArray(reinterpret_cast<const char *>(info.Data() + offset), qsizetype(size)));
    if (!profile.isValid() || profile == QColorSpace(QColorSpace::SRgb))
        return;
    QImage rgb = c.colour.convertToFormat(QImage::Format_RGBX64);
    if (rgb.isNull())
        return;
    rgb.setColorSpace(profile);
    rgb.convertToColorSpace(QColorSpace::SRgb);
    const QImage converted = rgb.convertToFormat(QImage::Format_BGR888);
    if (!converted.isNull())
        c.setColour(converted);
}

// The viewer shows 24-bit pictures: alpha, and pixels the file leaves
// undefined, are composed onto white, as icons are drawn.
QImage OnWhite(Canvas &c)
{
    if (c.alpha.isEmpty())
        return c.colour;
    const int w = c.width();
    for (int y = 0; y < c.height(); ++y) {
        uchar *p = c.row(y);
        const uchar *a = c.alphaRow(y);
        if (AllEqual(a, w) && (a[0] == 0 || a[0] == 255)) {
            if (a[0] == 0)
                std::memset(p, 255, size_t(w) * 3);
            continue;
        }
        for (int x = 0; x < w; ++x, p += 3) {
            const uint alpha = a[x];
            if (alpha == 255)
                continue;
            if (alpha == 0) {
                p[0] = p[1] = p[2] = 255;
                continue;
            }
            const uint white = 255 * (255 - alpha) + 127;
            for (int k = 0; k < 3; ++k)
                p[k] = uchar((p[k] * alpha + white) / 255);
        }
    }
    return c.colour;
}

QImage ToDibImage(Canvas &c, bool keepAlpha)
{
    const bool withAlpha = keepAlpha && !c.alpha.isEmpty();
    QImage out = c.colour.convertToFormat(withAlpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (out.isNull())
        throw AppError(QStringLiteral("Not enough memory for a picture of %1 x %2 pixels").arg(c.width()).arg(c.height()));
    if (!withAlpha)
        return out;
    const int w = c.width();
    for (int y = 0; y < c.height(); ++y) {
        const uchar *a = c.alphaRow(y);
        QRgb *dst = reinterpret_cast<QRgb *>(out.scanLine(y));
        if (AllEqual(a, w) && (a[0] == 0 || a[0] == 255)) {
            if (a[0] == 0)
                std::memset(dst, 0, size_t(w) * 4);
            continue;
        }
        for (int x = 0; x < w; ++x)
            dst[x] = (dst[x] & 0x00FFFFFF) | QRgb(a[x]) << 24;
    }
    return out;
}

const QString &BitmapInvalidText()
{
    static const QString text = QStringLiteral("Bitmap image is not valid");
    return text;
}

} // namespace

QImage DecodeBmp(const QByteArray &data)
{
    try {
        const Bytes file{QByteArrayView(data)};
        if (!file.Has(0, 14) || data[0] != 'B' || data[1] != 'M')
            Invalid();
        const Bytes info = file.From(14);
        const DibHeader h = ParseHeader(info, false);
        // Where the rows start, from the file header; an offset pointing into
        // the header itself is a writer's mistake, and the rows then most
        // likely follow the colour table.
        qint64 bitsStart = qint64(file.U32(10)) - 14;
        if (bitsStart < h.tableOffset)
            bitsStart = h.bitsOffset();
        if (bitsStart >= info.Size())
            Invalid();
        Canvas c = DecodeCanvas(h, info, bitsStart, info.From(bitsStart), false);
        ApplyEmbeddedProfile(h, info, c);
        return OnWhite(c);
    } catch (const InvalidData &) {
        throw AppError(BitmapInvalidText());
    }
}

QImage DecodeDib(QByteArrayView info, QByteArrayView bits, bool keepAlpha)
{
    try {
        const Bytes header(info);
        const DibHeader h = ParseHeader(header, false);
        Canvas c = DecodeCanvas(h, header, header.Size(), Bytes(bits), keepAlpha);
        return ToDibImage(c, keepAlpha);
    } catch (const InvalidData &) {
        throw AppError(BitmapInvalidText());
    }
}

QImage DecodePackedDib(QByteArrayView packed, bool keepAlpha)
{
    try {
        const Bytes dib(packed);
        const DibHeader h = ParseHeader(dib, false);
        const qint64 bitsStart = h.bitsOffset();
        if (bitsStart >= dib.Size())
            Invalid();
        Canvas c = DecodeCanvas(h, dib, bitsStart, dib.From(bitsStart), keepAlpha);
        return ToDibImage(c, keepAlpha);
    } catch (const InvalidData &) {
        throw AppError(BitmapInvalidText());
    }
}

QImage DecodeIconDib(QByteArrayView data)
{
    try {
        const Bytes dib(data);
        const DibHeader h = ParseHeader(dib, true);
        // Icons hold plain rows only, and an entry's colour rows must all be
        // there: its length is given, so a short one is simply broken.
        if (h.coding != Coding::Rgb && h.coding != Coding::Fields)
            Invalid();
        const qint64 bitsStart = h.bitsOffset();
        const Bytes bits = dib.From(bitsStart);
        if (bitsStart >= dib.Size() || bits.Size() / h.rowBytes() < h.height)
            Invalid();
        Canvas c = DecodeCanvas(h, dib, bitsStart, bits, true);

        // The AND mask follows the colour rows, one bit per pixel, rows
        // padded to four bytes; a set bit makes the pixel transparent. A
        // mask cut short leaves the rest opaque.
        // Icons converted from version 5 bitmaps may have their colour
        // profile where the mask belongs; those bytes are no mask.
        const qint64 maskStart = h.rowBytes() * h.height;
        const qint64 maskRowBytes = (h.width + 31) / 32 * 4;
        const auto profile = EmbeddedProfile(h, dib);
        const bool profileInMask = profile && profile->offset < bitsStart + maskStart + maskRowBytes * h.height
                                && profile->offset + profile->size > bitsStart + maskStart;
        if (!c.pixelAlpha && !profileInMask) {
            for (qint64 i = 0; i < c.height() && bits.Has(maskStart + i * maskRowBytes, maskRowBytes); ++i) {
                const uchar *m = bits.Data() + maskStart + i * maskRowBytes;
                const qint64 y = h.topDown ? i : c.height() - 1 - i;
                for (qint64 x = 0; x < c.width(); ++x) {
                    if ((m[x >> 3] >> (7 - (x & 7))) & 1) {
                        if (c.alpha.isEmpty())
                            c.makeAlpha(255);
                        c.alphaRow(y)[x] = 0;
                    }
                }
            }
        }
        ApplyEmbeddedProfile(h, dib, c);
        return OnWhite(c);
    } catch (const InvalidData &) {
        return {};
    }
}

QImage DecodeIconPng(QByteArrayView png)
{
    try {
        Canvas c = CanvasFromImage(ReadPng(png));
        return OnWhite(c);
    } catch (const InvalidData &) {
        return {};
    }
}
