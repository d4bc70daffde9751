#include "ImageUtils.h"

// Local
#include "AppError.h"
#include "Bitmap.h"
#include "ImageResize.h"
#include "PictureLoader.h"

void LoadFittedBitmap(const QString &fileName, QImage &bitmap, int maxWidth, int maxHeight, bool fast)
{
    const TPicture picture = TPicture::Load(fileName);
    if (picture.Format() == PictureFormat::Icon)
        throw AppError(QStringLiteral("Cannot make a bitmap from an icon"));
    if (picture.Format() == PictureFormat::Metafile)
        throw AppError(QStringLiteral("Cannot make a bitmap from a metafile"));

    // Unlike the viewer, one direction exceeding twice the box is enough to
    // halve: the fitted size then still shrinks the limiting direction.
    int denom = 1;
    QSize working(picture.Width(), picture.Height());
    if (picture.Format() == PictureFormat::Jpeg) {
        for (const int n : {2, 4, 8}) {
            if (working.width() <= 2 * qint64(maxWidth) && working.height() <= 2 * qint64(maxHeight))
                break;
            denom = n;
            working = picture.JpegScaledSize(n);
        }
    }

    const QSize size = FitSize(working.width(), working.height(), maxWidth, maxHeight);
    // The resampler runs even when the size stays the same.
    if (fast) {
        bitmap = picture.ToBilinearBitmap(size, denom, true);
    } else {
        QImage result = NewBitmap(size.width(), size.height());
        FilterResize(picture.ToBitmap(denom, false), result, kLanczos3);
        bitmap = result;
    }
}
