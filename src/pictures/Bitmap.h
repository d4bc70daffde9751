#pragma once

// Qt
#include <QImage>

// The program's one in-memory picture format is the 24-bit bitmap: a QImage
// in Format_BGR888 (rows of blue, green, red bytes). Every picture becomes
// one before it is scaled.

// No decoded picture may need more than this many bytes; a larger one fails
// with a clear message instead of exhausting memory. The fuzz build defines
// TAMSEL_MAX_BITMAP_BYTES much smaller (see tests/fuzz/CMakeLists.txt), so
// that every input takes about a millisecond; the decoders' other limits
// (metafile work, embedded bitmaps, libjpeg's memory) follow from this one.
#ifndef TAMSEL_MAX_BITMAP_BYTES
#define TAMSEL_MAX_BITMAP_BYTES (qint64(512) * 1024 * 1024)
#endif
inline constexpr qint64 kMaxBitmapBytes = TAMSEL_MAX_BITMAP_BYTES;

// Throws AppError unless width x height is a positive size whose 24-bit
// bitmap stays within kMaxBitmapBytes (also for sizes beyond 32 bits).
void CheckBitmapSize(qint64 width, qint64 height);

// A new, uninitialised 24-bit bitmap of that size (checked as above).
QImage NewBitmap(int width, int height);

// The picture as a 24-bit bitmap. Pixels with alpha are composed onto white.
QImage ToBitmap24(const QImage &image);

// Qt's readers refuse, on their own, pictures that would need more memory
// than their allocation limit; this keeps that limit at or under ours. Call
// before reading with QImageReader.
void LimitQtImageMemory();
