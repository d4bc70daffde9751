#pragma once

// Qt
#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

// Std
#include <memory>

// JPEG decoding and encoding with libjpeg-turbo through the libjpeg API.
// Library errors fail with AppError "JPEG error #%d" (libjpeg's message
// number); a corrupt-data warning does not fail. A 12-bit file fails with a
// clear message.
class JpegDecoder
{
public:
    // Reads the header. The data is kept (shared) until decoding.
    explicit JpegDecoder(QByteArray data);
    ~JpegDecoder();

    int Width() const;
    int Height() const;
    // The decoder's output size at 1/denom (1, 2, 4 or 8): rounded up.
    QSize ScaledSize(int denom) const;
    // Decodes straight into a 24-bit bitmap (BGR888), grayscale and
    // CMYK/YCCK converted to colour.
    QImage Decode(int denom, bool fastIdct) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Encodes a 24-bit bitmap as a progressive JPEG (library defaults, quality
// 10..100 with baseline-compatible tables, the simple progressive script).
QByteArray EncodeJpeg(const QImage &bitmap, int quality);

// EncodeJpeg and write it to fileName (created or truncated). Throws
// AppError "Cannot create file <name>: <reason>" on failure.
void SaveJpeg(const QImage &bitmap, const QString &fileName, int quality);
