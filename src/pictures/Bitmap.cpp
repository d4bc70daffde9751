#include "Bitmap.h"

// Local
#include "AppError.h"

// Qt
#include <QImageReader>
#include <QPainter>

// Std
#include <algorithm>

#ifdef TAMSEL_REUSE_BITMAP_MEMORY
// Std
#include <atomic>

// AddressSanitizer
#include <sanitizer/asan_interface.h>
#endif

void CheckBitmapSize(qint64 width, qint64 height)
{
    if (width <= 0 || height <= 0)
        throw AppError(QStringLiteral("The picture has no pixels (%1 x %2)").arg(width).arg(height));
    // Rows are padded to 4 bytes.
    const qint64 rowBytes = (width * 3 + 3) / 4 * 4;
    if (width > kMaxBitmapBytes || height > kMaxBitmapBytes || rowBytes > kMaxBitmapBytes / height)
        throw AppError(QStringLiteral("The picture is too large (%1 x %2 pixels)").arg(width).arg(height));
}

#ifdef TAMSEL_REUSE_BITMAP_MEMORY
// The fuzz build hands out one block of memory for bitmaps again and again.
// Under AddressSanitizer every new picture is otherwise fresh memory whose
// pages fault in one by one, which costs more than decoding a small picture.
// Outside the picture, and all of it while the block is free, the block is
// poisoned, so the sanitizer still reports every stray access.
namespace {

std::atomic<bool> GBlockInUse{false};

uchar *ReusedBlock()
{
    static uchar *const block = new uchar[size_t(kMaxBitmapBytes)];
    return block;
}

void ReturnReusedBlock(void *)
{
    ASAN_POISON_MEMORY_REGION(ReusedBlock(), size_t(kMaxBitmapBytes));
    GBlockInUse = false;
}

} // namespace
#endif

QImage NewBitmap(int width, int height)
{
    CheckBitmapSize(width, height);
#ifdef TAMSEL_REUSE_BITMAP_MEMORY
    // The picture ends where the block does, so that reading past it runs
    // into the red zone behind the block.
    if (!GBlockInUse.exchange(true)) {
        const qsizetype stride = (qsizetype(width) * 3 + 3) / 4 * 4;
        const qsizetype bytes = stride * height;
        uchar *bits = ReusedBlock() + (kMaxBitmapBytes - bytes);
        ASAN_POISON_MEMORY_REGION(ReusedBlock(), size_t(kMaxBitmapBytes - bytes));
        ASAN_UNPOISON_MEMORY_REGION(bits, size_t(bytes));
        return QImage(bits, width, height, stride, QImage::Format_BGR888, ReturnReusedBlock, nullptr);
    }
#endif
    QImage image(width, height, QImage::Format_BGR888);
    if (image.isNull())
        throw AppError(QStringLiteral("Not enough memory for a picture of %1 x %2 pixels").arg(width).arg(height));
    return image;
}

QImage ToBitmap24(const QImage &image)
{
    if (image.format() == QImage::Format_BGR888)
        return image;
    if (image.hasAlphaChannel()) {
        QImage out = NewBitmap(image.width(), image.height());
        out.fill(Qt::white);
        QPainter p(&out);
        p.drawImage(0, 0, image);
        p.end();
        return out;
    }
    CheckBitmapSize(image.width(), image.height());
    QImage out = image.convertToFormat(QImage::Format_BGR888);
    if (out.isNull())
        throw AppError(QStringLiteral("Not enough memory for a picture of %1 x %2 pixels").arg(image.width()).arg(image.height()));
    return out;
}

void LimitQtImageMemory()
{
    static const bool limited = [] {
        const int capMb = int(std::max<qint64>(1, kMaxBitmapBytes >> 20));
        QImageReader::setAllocationLimit(std::min(QImageReader::allocationLimit(), capMb));
        return true;
    }();
    (void)limited;
}
