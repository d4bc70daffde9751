// Local
#include "AppError.h"
#include "ColourProfile.h"
#include "ExifOrientation.h"
#include "ImageResize.h"
#include "JpegCodec.h"

// Qt
#include <QImage>

// Std
#include <algorithm>
#include <cstdint>
#include <memory>

namespace {

// Scales while decoding, as the viewer does.
class ScalingTarget : public JpegRowTarget
{
public:
    void Begin(int width, int height) override
    {
        Result = QImage(std::max(1, width / 3), std::max(1, height / 3), QImage::Format_BGR888);
        Scaler = std::make_unique<BilinearRowScaler>(width, height, Result);
    }
    uchar *RowBuffer(int y) noexcept override { return Scaler->RowBuffer(y); }
    void RowsDone(int firstRow, int count) noexcept override { Scaler->RowsDone(firstRow, count); }

    QImage Result;
    std::unique_ptr<BilinearRowScaler> Scaler;
};

} // namespace

// The input as a JPEG file: its EXIF orientation and colour profile (the
// picture converted and turned by them), its header, then the picture at
// 1/8 (a frame beyond the fuzz build's cap of a few megapixels is refused at
// once), and when it is small also at full size and scaled while decoding. A JPEG error
// is a fine outcome; a crash, a hang or a sanitizer report is not.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    try {
        const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
        const int orientation = JpegOrientation(bytes);
        const QByteArray profile = JpegIccProfile(bytes);
        JpegDecoder decoder(bytes);
        decoder.UseColourProfile(profile);
        const qint64 pixels = qint64(decoder.Width()) * decoder.Height();
        const bool fast = size > 0 && (data[size - 1] & 1) != 0;
        QImage reduced = decoder.Decode(8, fast);
        ConvertToSrgb(reduced, profile);
        OrientedImage(reduced, orientation);
        if (pixels <= qint64(1024) * 1024) {
            decoder.Decode(1, !fast);
            ScalingTarget target;
            decoder.DecodeRows(2, fast, target);
        }
    } catch (const AppError &) {
    }
    return 0;
}
