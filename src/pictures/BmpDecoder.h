#pragma once

// Qt
#include <QByteArray>
#include <QByteArrayView>
#include <QImage>

// Decodes a Windows bitmap file (every header version, palettes, bitfields,
// RLE, embedded PNG and JPEG) into a 24-bit bitmap. Pixels with alpha, and
// pixels an RLE or truncated file leaves undefined, are composed onto white.
// Any failure throws AppError "Bitmap image is not valid" (or the clearer
// "The picture is too large ..." for absurd sizes).
QImage DecodeBmp(const QByteArray &data);

// Device-independent bitmaps as icons and metafiles embed them, without the
// file header. info starts at the BITMAPINFOHEADER (or BITMAPCOREHEADER) and
// holds the colour table; bits holds the pixel rows. The result is
// Format_RGB32 with the colours as stored (alpha ignored, undefined pixels
// black), or, when keepAlpha is set and the bitmap carries alpha,
// Format_ARGB32 (not premultiplied) with undefined pixels transparent. With
// keepAlpha a 32-bit bitmap without masks counts as having alpha in its
// fourth byte unless that byte is 0 everywhere. Throws AppError "Bitmap image
// is not valid".
QImage DecodeDib(QByteArrayView info, QByteArrayView bits, bool keepAlpha = false);

// A packed DIB: the header, the colour table and the rows one after another.
QImage DecodePackedDib(QByteArrayView packed, bool keepAlpha = false);

// An icon's DIB: header, colour table, colour rows for half the header's
// height, then the 1-bit AND mask. The alpha of a 32-bit entry is used when
// any pixel has some, the AND mask otherwise (1 = transparent); the result is
// composed onto white as a 24-bit bitmap. Returns a null image when the DIB is
// not valid; throws AppError only when the picture is too large.
QImage DecodeIconDib(QByteArrayView dib);

// An icon's PNG entry through Qt's PNG reader, composed onto white as a
// 24-bit bitmap. Returns a null image when it is not a readable PNG; throws
// AppError only when its header promises a picture that is too large.
QImage DecodeIconPng(QByteArrayView png);
