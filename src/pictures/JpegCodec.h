#pragma once

// Qt
#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

// Std
#include <limits>
#include <memory>

// Where JpegDecoder::DecodeRows puts the picture: it asks for the buffer of
// each output row (3 bytes per pixel, blue, green, red), fills it and then
// reports the rows as done, top to bottom. At most four rows are asked for
// before they are reported.
class JpegRowTarget
{
public:
    virtual ~JpegRowTarget() = default;
    // Once the output size is known, before any row. May throw.
    virtual void Begin(int width, int height) = 0;
    virtual uchar *RowBuffer(int y) noexcept = 0;
    virtual void RowsDone(int firstRow, int count) noexcept = 0;
};

// JPEG decoding and encoding with libjpeg-turbo through the libjpeg API.
// Library errors fail with AppError "JPEG error #%d" (libjpeg's message
// number); a corrupt-data warning does not fail: what could be decoded is
// shown, and libjpeg fills what is missing. A file of another precision than
// 8 bits (12-bit) fails with "JPEG error #%d: 12-bit JPEG files are not
// supported".
class JpegDecoder
{
public:
    // Reads the header. The data is kept (shared) until decoding.
    explicit JpegDecoder(QByteArray data);
    ~JpegDecoder();

    int Width() const;
    int Height() const;
    // The colour profile the file embeds. A CMYK or YCCK file whose profile
    // is a usable CMYK profile decodes through it to sRGB; otherwise (no
    // profile, a broken one, an RGB file) nothing changes here.
    void UseColourProfile(const QByteArray &profile);
    // The decoder's output size at 1/denom (1, 2, 4 or 8): rounded up.
    QSize ScaledSize(int denom) const;
    // Decodes straight into a 24-bit bitmap (BGR888), grayscale and
    // CMYK/YCCK converted to colour. The decoded size may not exceed the
    // bitmap limit of Bitmap.h.
    QImage Decode(int denom, bool fastIdct) const;
    // The same, row by row into a target; with a range, only output rows
    // firstRow .. endRow - 1 are given (the rows above it are decoded but
    // not made into pixels). Ranges of a file with one scan may be decoded
    // on several threads at once, each with its own target.
    void DecodeRows(int denom, bool fastIdct, JpegRowTarget &target, int firstRow = 0,
                    int endRow = std::numeric_limits<int>::max()) const;
    // True for a whole baseline (one-scan) file, ending with its end
    // marker: a range after the first rows costs little more than its own
    // rows. A progressive file is held whole before any row comes out, so
    // its ranges would each cost the whole file; a damaged or cut one is
    // decoded in one piece, as libjpeg mends it.
    bool CanDecodeRangesApart() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Encodes a 24-bit bitmap as a progressive JPEG (library defaults, quality
// 10..100 with baseline-compatible tables, the simple progressive script).
QByteArray EncodeJpeg(const QImage &bitmap, int quality);

// EncodeJpeg and write it to fileName (created or truncated, replaced only
// once complete). Throws AppError "Cannot create file <name>: <reason>" on
// failure.
void SaveJpeg(const QImage &bitmap, const QString &fileName, int quality);
