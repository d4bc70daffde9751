#pragma once

// Qt
#include <QByteArray>
#include <QImage>

// Decodes a Windows bitmap file (every header version, palettes, bitfields,
// RLE, embedded PNG and JPEG) into a 24-bit bitmap. Any failure throws
// AppError "Bitmap image is not valid".
QImage DecodeBmp(const QByteArray &data);
