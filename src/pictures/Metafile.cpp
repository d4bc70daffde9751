#include "Metafile.h"

// Local
#include "Bitmap.h"
#include "EmfReader.h"
#include "MetaEngine.h"
#include "WmfReader.h"

// Std
#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

bool FitsBitmapLimit(qint64 width, qint64 height)
{
    const qint64 rowBytes = (width * 3 + 3) / 4 * 4;
    return rowBytes <= kMaxBitmapBytes / height;
}

// White is every byte 255; QImage::fill would go pixel by pixel in 24 bits.
void FillWhite(QImage &canvas)
{
    std::memset(canvas.bits(), 255, size_t(canvas.sizeInBytes()));
}

} // namespace

QSize MetafileCanvasSize(QSizeF natural)
{
    const double nw = std::clamp(natural.width(), 1.0, 1e9), nh = std::clamp(natural.height(), 1.0, 1e9);
    const auto scaled = [nw, nh](double f) {
        return QSize(int(std::max(1.0, std::floor(nw * f))), int(std::max(1.0, std::floor(nh * f))));
    };
    const qint64 w = std::max<qint64>(1, qint64(std::nearbyint(nw)));
    const qint64 h = std::max<qint64>(1, qint64(std::nearbyint(nh)));
    if (FitsBitmapLimit(w, h))
        return QSize(int(w), int(h));
    // The largest scale whose canvas fits, found by halving the interval.
    double low = 0, high = std::sqrt(double(kMaxBitmapBytes) / (3.0 * nw * nh)) * 1.01;
    for (int i = 0; i < 60; ++i) {
        const double mid = (low + high) / 2;
        const QSize s = scaled(mid);
        (FitsBitmapLimit(s.width(), s.height()) ? low : high) = mid;
    }
    return scaled(low);
}

QImage RenderMetafile(const QByteArray &data, MetafileKind kind)
{
    if (kind == MetafileKind::Wmf) {
        const TWmfHeader header = ReadWmfHeader(data);
        const QSize size = MetafileCanvasSize(WmfNaturalSize(header));
        QImage canvas = NewBitmap(size.width(), size.height());
        FillWhite(canvas);
        {
            // Device units are the box's own units; the box fills the canvas.
            const QRectF box = header.Box;
            const double perMm = header.UnitsPerInch / 25.4;
            TMetaEngine engine(canvas, QTransform::fromScale(size.width() / box.width(), size.height() / box.height()),
                               QPointF(perMm, perMm));
            // As a player sets it up: the window is the box, shown whole.
            engine.InitMapping(Gdi::MM_ANISOTROPIC, box.topLeft(), QPointF(box.width(), box.height()), QPointF(0, 0),
                               QPointF(box.width(), box.height()));
            PlayWmf(data, header, engine);
        }
        return canvas;
    }

    const TEmfHeader header = ReadEmfHeader(data);
    const QSize size = MetafileCanvasSize(EmfNaturalSize(header));
    QImage canvas = NewBitmap(size.width(), size.height());
    FillWhite(canvas);
    {
        // Device pixels of the reference device become 0.01 mm, and the
        // frame fills the canvas.
        const QRectF frame = header.Frame;
        const QTransform deviceToCanvas =
            QTransform::fromScale(header.DeviceMm.width() * 100 / header.Device.width(),
                                  header.DeviceMm.height() * 100 / header.Device.height())
            * QTransform::fromTranslate(-frame.left(), -frame.top())
            * QTransform::fromScale(size.width() / frame.width(), size.height() / frame.height());
        TMetaEngine engine(canvas, deviceToCanvas,
                           QPointF(header.Device.width() / header.DeviceMm.width(),
                                   header.Device.height() / header.DeviceMm.height()));
        PlayEmf(data, header, engine);
    }
    return canvas;
}
