#pragma once

// Qt
#include <QByteArray>
#include <QByteArrayView>
#include <QImage>

// Decodes a Windows bitmap file (every header version, palettes, bitfields,
// RLE, embedded PNG and JPEG) into a 24-bit bitmap. Any failure throws
// AppError "Bitmap image is not valid".
QImage DecodeBmp(const QByteArray &data);

// Device-independent bitmaps as icons and metafiles embed them, without the
// file header. info starts at the BITMAPINFOHEADER (or BITMAPCOREHEADER) and
// holds the colour table; bits holds the pixel rows. The result is
// Format_RGB32, or Format_ARGB32 when keepAlpha is set and the bitmap carries
// alpha. Throws AppError "Bitmap image is not valid".
QImage DecodeDib(QByteArrayView info, QByteArrayView bits, bool keepAlpha = false);

// A packed DIB: the header, the colour table and the rows one after another.
QImage DecodePackedDib(QByteArrayView packed, bool keepAlpha = false);
