#include "Bitmap.h"

// Local
#include "AppError.h"

// Qt
#include <QPainter>

void CheckBitmapSize(qint64 width, qint64 height)
{
    if (width <= 0 || height <= 0)
        throw AppError(QStringLiteral("The picture has no pixels (%1 x %2)").arg(width).arg(height));
    // Rows are padded to 4 bytes.
    const qint64 rowBytes = (width * 3 + 3) / 4 * 4;
    if (width > kMaxBitmapBytes || height > kMaxBitmapBytes || rowBytes > kMaxBitmapBytes / height)
        throw AppError(QStringLiteral("The picture is too large (%1 x %2 pixels)").arg(width).arg(height));
}

QImage NewBitmap(int width, int height)
{
    CheckBitmapSize(width, height);
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
