// Local
#include "ColourProfile.h"

// Qt
#include <QImage>

// Std
#include <cstdint>

// The input as a JPEG file and as a bitmap file whose profiles are looked
// for, and as a profile itself: it converts a small picture (RGB, and CMYK
// with inverted inks or not). Profiles found in the input are converted
// through too. An empty or refused profile is a fine outcome; a crash, a
// hang or a sanitizer report is not.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    QImage picture(16, 16, QImage::Format_BGR888);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.bytesPerLine(); ++x)
            picture.scanLine(y)[x] = uchar(x * 5 + y * 17);
    uchar cmyk[16 * 4 * 4];
    for (size_t i = 0; i < sizeof cmyk; ++i)
        cmyk[i] = uchar(i * 7);

    const QByteArray profiles[] = {input, JpegIccProfile(input), BmpIccProfile(input)};
    for (const QByteArray &profile : profiles) {
        if (profile.isEmpty())
            continue;
        IccProfileName(profile);
        QImage copy = picture.copy();
        ConvertToSrgb(copy, profile);
        uchar bgr[16 * 4 * 3];
        ColourTransform::ForCmyk(profile, size > 0 && (data[0] & 1) != 0).Convert(cmyk, 16 * 4, bgr, 16 * 3, 16, 4);
    }
    return 0;
}
