#pragma once

// Files in the formats AllPictureFormats() adds, made by the tests: PNG,
// WebP and TIFF by Qt's writers, GIF by a small writer of our own (Qt has
// none), AVIF by libavif and HEIF by libheif. Header only: a suite that
// includes it links tamsel_pictures, which brings libavif and libheif.

// Qt
#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>
#include <QList>

// libavif, libheif
#include <avif/avif.h>
#include <libheif/heif.h>

// Std
#include <cstring>

namespace OtherPictures {

// Four blocks: red top left, green top right, blue bottom left, white
// bottom right.
inline QImage FourBlocks(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool right = x >= width / 2;
            const bool bottom = y >= height / 2;
            image.setPixel(x, y, !bottom ? (right ? qRgb(0, 255, 0) : qRgb(255, 0, 0))
                                         : (right ? qRgb(255, 255, 255) : qRgb(0, 0, 255)));
        }
    return image;
}

inline void PutU16(QByteArray &out, int value)
{
    out += char(value & 0xFF);
    out += char((value >> 8) & 0xFF);
}

// A GIF of the frames (all of the first one's size; colours red, green,
// blue, white and black only), its LZW codes uncompressed: each pixel a
// literal of 3 bits, a clear code after every second one so that the code
// size never grows.
inline QByteArray Gif(const QList<QImage> &frames)
{
    const QRgb palette[4] = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255), qRgb(255, 255, 255)};
    const int width = frames.first().width();
    const int height = frames.first().height();
    QByteArray out("GIF89a");
    PutU16(out, width);
    PutU16(out, height);
    out += char(0x81);   // global table of 4 colours
    out += char(0);
    out += char(0);
    for (const QRgb c : palette)
        for (const int channel : {qRed(c), qGreen(c), qBlue(c)})
            out += char(channel);
    if (frames.size() > 1)
        out += QByteArray("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00", 19);
    for (const QImage &frame : frames) {
        out += QByteArray("\x21\xF9\x04\x00\x0A\x00\x00\x00", 8);   // 1/10 s a frame
        out += char(0x2C);
        PutU16(out, 0);
        PutU16(out, 0);
        PutU16(out, width);
        PutU16(out, height);
        out += char(0);
        out += char(2);   // minimum code size
        QByteArray codes;
        quint32 bits = 0;
        int count = 0;
        auto put = [&](int code) {
            bits |= quint32(code) << count;
            count += 3;
            while (count >= 8) {
                codes += char(bits & 0xFF);
                bits >>= 8;
                count -= 8;
            }
        };
        int literals = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                if (literals % 2 == 0)
                    put(4);   // clear
                int index = 0;
                while (index < 3 && palette[index] != (frame.pixel(x, y) | 0xFF000000))
                    ++index;
                put(index);
                ++literals;
            }
        put(5);   // end
        if (count > 0)
            codes += char(bits & 0xFF);
        for (qsizetype i = 0; i < codes.size(); i += 255) {
            const QByteArray block = codes.mid(i, 255);
            out += char(block.size());
            out += block;
        }
        out += char(0);
    }
    out += char(0x3B);
    return out;
}

// irotAngle: the quarter turns anticlockwise the file asks for (irot).
inline QByteArray Avif(const QImage &picture, int irotAngle = 0)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    avifImage *image = avifImageCreate(uint32_t(rgb.width()), uint32_t(rgb.height()), 8, AVIF_PIXEL_FORMAT_YUV444);
    avifRGBImage pixels;
    avifRGBImageSetDefaults(&pixels, image);
    pixels.format = AVIF_RGB_FORMAT_RGB;
    pixels.depth = 8;
    pixels.pixels = const_cast<uint8_t *>(rgb.constBits());
    pixels.rowBytes = uint32_t(rgb.bytesPerLine());
    if (irotAngle != 0) {
        image->transformFlags |= AVIF_TRANSFORM_IROT;
        image->irot.angle = uint8_t(irotAngle);
    }
    QByteArray file;
    avifEncoder *encoder = avifEncoderCreate();
    avifRWData out = AVIF_DATA_EMPTY;
    if (encoder && avifImageRGBToYUV(image, &pixels) == AVIF_RESULT_OK) {
        encoder->speed = AVIF_SPEED_FASTEST;
        encoder->minQuantizer = 0;
        encoder->maxQuantizer = 10;
        if (avifEncoderWrite(encoder, image, &out) == AVIF_RESULT_OK)
            file = QByteArray(reinterpret_cast<const char *>(out.data), qsizetype(out.size));
    }
    avifRWDataFree(&out);
    if (encoder)
        avifEncoderDestroy(encoder);
    avifImageDestroy(image);
    return file;
}

inline heif_error AppendHeif(heif_context *, const void *data, size_t size, void *userdata)
{
    static_cast<QByteArray *>(userdata)->append(static_cast<const char *>(data), qsizetype(size));
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
}

inline QByteArray Heif(const QImage &picture)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    heif_init(nullptr);
    heif_context *context = heif_context_alloc();
    heif_encoder *encoder = nullptr;
    heif_image *image = nullptr;
    QByteArray file;
    if (heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder).code == heif_error_Ok
        && heif_image_create(rgb.width(), rgb.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image).code
               == heif_error_Ok
        && heif_image_add_plane(image, heif_channel_interleaved, rgb.width(), rgb.height(), 8).code == heif_error_Ok) {
        int stride = 0;
        uint8_t *plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
        for (int y = 0; y < rgb.height(); ++y)
            std::memcpy(plane + y * stride, rgb.constScanLine(y), size_t(rgb.width()) * 3);
        heif_encoder_set_lossy_quality(encoder, 95);
        heif_writer writer = {1, AppendHeif};
        if (heif_context_encode_image(context, image, encoder, nullptr, nullptr).code == heif_error_Ok
            && heif_context_write(context, &writer, &file).code != heif_error_Ok)
            file.clear();
    }
    if (image)
        heif_image_release(image);
    if (encoder)
        heif_encoder_release(encoder);
    heif_context_free(context);
    return file;
}

// The file of the picture in a reader's format ("png", "gif", "webp",
// "tiff", "avif", "heif"); empty when no encoder for it is installed.
inline QByteArray Encode(const QImage &picture, const QByteArray &format)
{
    if (format == "gif")
        return Gif({picture});
    if (format == "avif")
        return Avif(picture);
    if (format == "heif")
        return Heif(picture);
    QByteArray file;
    QBuffer buffer(&file);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(100);   // WebP: lossless
    return writer.write(picture) ? file : QByteArray();
}

} // namespace OtherPictures
