#include "OtherFormats.h"

// Local
#include "AppError.h"
#include "Bitmap.h"
#include "ColourProfile.h"
#include "PictureLoader.h"

// Qt
#include <QBuffer>
#include <QColorSpace>
#include <QImageReader>
#include <QTransform>

// libavif, libheif
#include <avif/avif.h>
#include <libheif/heif.h>

// Std
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

// System
#include <dlfcn.h>

namespace {

enum class TReaderKind { None, Qt, Avif, Heif };

struct TOtherFormat
{
    const char *Reader;     // the name PictureFormats.cpp gives the reader; Qt's name of the format
    TReaderKind Via;
    const char *Name;       // in the messages
};

constexpr TOtherFormat kOtherFormats[] = {
    {"png", TReaderKind::Qt, "PNG"},
    {"gif", TReaderKind::Qt, "GIF"},
    {"webp", TReaderKind::Qt, "WebP"},
    {"tiff", TReaderKind::Qt, "TIFF"},
    {"avif", TReaderKind::Avif, "AVIF"},
    {"heif", TReaderKind::Heif, "HEIF"},
};

const TOtherFormat *FindOther(const QByteArray &reader)
{
    for (const TOtherFormat &format : kOtherFormats) {
        if (reader == format.Reader)
            return &format;
    }
    return nullptr;
}

[[noreturn]] void Invalid(const TOtherFormat &format)
{
    throw AppError(QStringLiteral("%1 image is not valid").arg(QLatin1String(format.Name)));
}

[[noreturn]] void TooLarge(qint64 width, qint64 height)
{
    throw AppError(QStringLiteral("The picture is too large (%1 x %2 pixels)").arg(width).arg(height));
}

// The working bitmap of a decoded picture, its colours converted to sRGB
// by the profile it carries.
QImage Finished(const QImage &decoded, const QByteArray &profile)
{
    QImage bitmap = ToBitmap24(decoded);
    if (!profile.isEmpty())
        ConvertToSrgb(bitmap, profile);
    return bitmap;
}

// ---- Qt's readers -------------------------------------------------------

QImage ReadWithQt(QByteArrayView data, const TOtherFormat &format)
{
    if (!QImageReader::supportedImageFormats().contains(format.Reader))
        throw AppError(QStringLiteral("%1 pictures cannot be read: Qt's image plugin for them is not installed")
                           .arg(QLatin1String(format.Name)));
    LimitQtImageMemory();
    QByteArray bytes = QByteArray::fromRawData(data.data(), data.size());
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format.Reader);
    reader.setAutoDetectImageFormat(false);
    // An orientation tag (TIFF, WebP's EXIF) turns the picture as it
    // turns a JPEG.
    reader.setAutoTransform(TurnByOrientation());
    if (!reader.canRead())
        Invalid(format);
    const QSize size = reader.size();
    if (!size.isValid())
        Invalid(format);
    CheckBitmapSize(size.width(), size.height());
    CheckBitmapSize(size.height(), size.width());
    const QImage image = reader.read();
    if (image.isNull()) {
        // Qt's own limit counts the picture in its decoded format, which
        // may take more bytes a pixel than ours.
        if (qint64(size.width()) * size.height() * 4 > (qint64(QImageReader::allocationLimit()) << 20))
            TooLarge(size.width(), size.height());
        Invalid(format);
    }
    const QColorSpace space = image.colorSpace();
    return Finished(image, space.isValid() ? space.iccProfile() : QByteArray());
}

// ---- The libraries, opened on first use --------------------------------

// libavif and libheif bring two dozen libraries with them (the AV1 and HEVC
// codecs, and encoders we never use). Linked to the programs, every start
// would load and relocate them all, with the option off too; opened here
// when the first such picture is read, they cost nothing until then. A
// machine without them reads those pictures as a machine without Qt's
// image plugins reads WebP: with a message saying what is missing.
#define TAMSEL_AVIF_FUNCTIONS(X) X(avifDecoderCreate) X(avifDecoderDestroy) X(avifDecoderSetIOMemory) X(avifDecoderParse) X(avifDecoderNextImage) X(avifRGBImageSetDefaults) X(avifImageYUVToRGB)
#define TAMSEL_HEIF_FUNCTIONS(X) X(heif_context_alloc) X(heif_context_free) X(heif_context_get_primary_image_handle) X(heif_context_read_from_memory_without_copy) X(heif_context_set_maximum_image_size_limit) X(heif_decode_image) X(heif_decoding_options_alloc) X(heif_decoding_options_free) X(heif_image_get_height) X(heif_image_get_plane_readonly) X(heif_image_get_width) X(heif_image_handle_get_color_profile_type) X(heif_image_handle_get_height) X(heif_image_handle_get_raw_color_profile) X(heif_image_handle_get_raw_color_profile_size) X(heif_image_handle_get_width) X(heif_image_handle_has_alpha_channel) X(heif_image_handle_release) X(heif_image_release) X(heif_init)

struct TAvifApi
{
#define TAMSEL_POINTER(name) decltype(&::name) name = nullptr;
    TAMSEL_AVIF_FUNCTIONS(TAMSEL_POINTER)
};

struct THeifApi
{
    TAMSEL_HEIF_FUNCTIONS(TAMSEL_POINTER)
#undef TAMSEL_POINTER
};

// Opens soname once for the program's life, whichever thread comes first,
// and resolves the functions resolve names; nullptr when the library or a
// function is missing.
template <class Api, class Resolve>
const Api *OpenLibrary(const char *soname, Resolve resolve)
{
    void *library = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return nullptr;
    auto *api = new Api;   // kept for the program's life, as the library is
    if (!resolve(library, *api)) {
        delete api;
        return nullptr;
    }
    return api;
}

template <class Pointer>
bool Symbol(void *library, const char *name, Pointer &pointer)
{
    pointer = reinterpret_cast<Pointer>(dlsym(library, name));
    return pointer != nullptr;
}

[[noreturn]] void Missing(const char *format, const char *soname)
{
    throw AppError(QStringLiteral("%1 pictures cannot be read: %2 is not installed")
                       .arg(QLatin1String(format), QLatin1String(soname)));
}

const TAvifApi &Avif()
{
    static const TAvifApi *api = OpenLibrary<TAvifApi>(TAMSEL_AVIF_SONAME, [](void *library, TAvifApi &a) {
        bool ok = true;
#define TAMSEL_RESOLVE(name) ok = ok && Symbol(library, #name, a.name);
        TAMSEL_AVIF_FUNCTIONS(TAMSEL_RESOLVE)
        return ok;
    });
    if (!api)
        Missing("AVIF", TAMSEL_AVIF_SONAME);
    return *api;
}

const THeifApi &Heif()
{
    static const THeifApi *api = OpenLibrary<THeifApi>(TAMSEL_HEIF_SONAME, [](void *library, THeifApi &a) {
        bool ok = true;
        TAMSEL_HEIF_FUNCTIONS(TAMSEL_RESOLVE)
#undef TAMSEL_RESOLVE
        return ok;
    });
    if (!api)
        Missing("HEIF", TAMSEL_HEIF_SONAME);
    return *api;
}

// ---- AVIF (libavif) -----------------------------------------------------

struct AvifDecoderFree
{
    void operator()(avifDecoder *decoder) const { Avif().avifDecoderDestroy(decoder); }
};

// irot turns anticlockwise in quarter turns and imir mirrors after it, as
// the file asks; browsers do both.
QImage Transformed(QImage image, const avifImage &stored)
{
    if ((stored.transformFlags & AVIF_TRANSFORM_IROT) && stored.irot.angle % 4 != 0)
        image = image.transformed(QTransform().rotate(-90.0 * (stored.irot.angle % 4)));
    if (stored.transformFlags & AVIF_TRANSFORM_IMIR)
        image = stored.imir.mode == 0 ? image.mirrored(false, true) : image.mirrored(true, false);
    return image;
}

using AvifDecoder = std::unique_ptr<avifDecoder, AvifDecoderFree>;

// A decoder that has parsed the data; sizeLimit: the most pixels a picture
// may have.
AvifDecoder ParsedAvif(QByteArrayView data, const TOtherFormat &format, uint32_t sizeLimit)
{
    AvifDecoder decoder(Avif().avifDecoderCreate());
    if (!decoder)
        throw AppError(QStringLiteral("Out of memory"));
    decoder->strictFlags = AVIF_STRICT_DISABLED;   // as lenient as browsers
    decoder->ignoreExif = AVIF_TRUE;
    decoder->ignoreXMP = AVIF_TRUE;
    decoder->imageSizeLimit = sizeLimit;
    decoder->imageDimensionLimit = 0;   // the size limit decides
    if (Avif().avifDecoderSetIOMemory(decoder.get(), reinterpret_cast<const uint8_t *>(data.data()), size_t(data.size()))
            != AVIF_RESULT_OK
        || Avif().avifDecoderParse(decoder.get()) != AVIF_RESULT_OK)
        Invalid(format);
    return decoder;
}

QImage ReadAvif(QByteArrayView data, const TOtherFormat &format)
{
    // libavif refuses a header over its size limit as a broken file. So the
    // header is read first with the largest limit it takes (256 megapixels,
    // beyond which a picture is "not valid"), to name the size of a picture
    // over the cap, and the picture is then decoded with the cap as the
    // limit, which the AV1 decoder also keeps: a frame need not have the
    // size the header gives.
    {
        const AvifDecoder header = ParsedAvif(data, format, AVIF_DEFAULT_IMAGE_SIZE_LIMIT);
        CheckBitmapSize(header->image->width, header->image->height);
        CheckBitmapSize(header->image->height, header->image->width);
    }
    const AvifDecoder decoder =
        ParsedAvif(data, format, uint32_t(std::min<qint64>(AVIF_DEFAULT_IMAGE_SIZE_LIMIT, kMaxBitmapBytes / 3)));
    if (Avif().avifDecoderNextImage(decoder.get()) != AVIF_RESULT_OK)
        Invalid(format);
    const avifImage &stored = *decoder->image;
    CheckBitmapSize(stored.width, stored.height);

    const bool alpha = stored.alphaPlane != nullptr;
    QImage image = alpha ? QImage(int(stored.width), int(stored.height), QImage::Format_RGBA8888)
                         : NewBitmap(int(stored.width), int(stored.height));
    if (image.isNull())
        throw AppError(QStringLiteral("Not enough memory for a picture of %1 x %2 pixels")
                           .arg(stored.width)
                           .arg(stored.height));
    avifRGBImage rgb;
    Avif().avifRGBImageSetDefaults(&rgb, &stored);
    rgb.format = alpha ? AVIF_RGB_FORMAT_RGBA : AVIF_RGB_FORMAT_BGR;
    rgb.depth = 8;
    rgb.pixels = image.bits();
    rgb.rowBytes = uint32_t(image.bytesPerLine());
    if (Avif().avifImageYUVToRGB(&stored, &rgb) != AVIF_RESULT_OK)
        Invalid(format);
    const QByteArray profile(reinterpret_cast<const char *>(stored.icc.data), qsizetype(stored.icc.size));
    return Transformed(Finished(image, profile), stored);
}

// ---- HEIF (libheif) -----------------------------------------------------

void InitHeif()
{
    // Once for the program's life, whichever thread comes first.
    static const bool done = [] {
        Heif().heif_init(nullptr);
        return true;
    }();
    (void)done;
}

struct HeifFree
{
    void operator()(heif_context *context) const { Heif().heif_context_free(context); }
    void operator()(const heif_image_handle *handle) const { Heif().heif_image_handle_release(handle); }
    void operator()(const heif_image *image) const { Heif().heif_image_release(image); }
    void operator()(heif_decoding_options *options) const { Heif().heif_decoding_options_free(options); }
};

QImage ReadHeif(QByteArrayView data, const TOtherFormat &format)
{
    InitHeif();
    std::unique_ptr<heif_context, HeifFree> context(Heif().heif_context_alloc());
    if (!context)
        throw AppError(QStringLiteral("Out of memory"));
    // The data outlives the context.
    if (Heif().heif_context_read_from_memory_without_copy(context.get(), data.data(), size_t(data.size()), nullptr).code
        != heif_error_Ok)
        Invalid(format);
    heif_image_handle *rawHandle = nullptr;
    if (Heif().heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok || !rawHandle)
        Invalid(format);
    std::unique_ptr<const heif_image_handle, HeifFree> handle(rawHandle);
    // The size as shown, the file's turns and mirrors applied.
    const int width = Heif().heif_image_handle_get_width(rawHandle);
    const int height = Heif().heif_image_handle_get_height(rawHandle);
    CheckBitmapSize(width, height);
    CheckBitmapSize(height, width);
    // A picture made of tiles takes its size from its grid, which libheif
    // does not hold to the size above: a few hundred bytes could claim a
    // grid of gigabytes. No picture libheif makes on the way may have a
    // side much longer than the longer side above: a coded picture may be
    // larger than the one shown by less than one 64-pixel block of the
    // codec (the file crops it).
    Heif().heif_context_set_maximum_image_size_limit(context.get(), std::min(32768, std::max(width, height) + 128));

    const bool alpha = Heif().heif_image_handle_has_alpha_channel(rawHandle) != 0;
    std::unique_ptr<heif_decoding_options, HeifFree> options(Heif().heif_decoding_options_alloc());
    heif_image *rawImage = nullptr;
    if (Heif().heif_decode_image(rawHandle, &rawImage, heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get())
                .code
            != heif_error_Ok
        || !rawImage)
        Invalid(format);
    std::unique_ptr<const heif_image, HeifFree> decoded(rawImage);
    int stride = 0;
    const uint8_t *plane = Heif().heif_image_get_plane_readonly(rawImage, heif_channel_interleaved, &stride);
    const int w = Heif().heif_image_get_width(rawImage, heif_channel_interleaved);
    const int h = Heif().heif_image_get_height(rawImage, heif_channel_interleaved);
    if (!plane || w <= 0 || h <= 0)
        Invalid(format);
    CheckBitmapSize(w, h);
    const int pixelBytes = alpha ? 4 : 3;
    if (stride < qint64(w) * pixelBytes)
        Invalid(format);
    QImage image(w, h, alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    if (image.isNull())
        throw AppError(QStringLiteral("Not enough memory for a picture of %1 x %2 pixels").arg(w).arg(h));
    for (int y = 0; y < h; ++y)
        std::memcpy(image.scanLine(y), plane + qsizetype(y) * stride, size_t(w) * pixelBytes);
    decoded.reset();

    QByteArray profile;
    if (Heif().heif_image_handle_get_color_profile_type(rawHandle) == heif_color_profile_type_prof
        || Heif().heif_image_handle_get_color_profile_type(rawHandle) == heif_color_profile_type_rICC) {
        const size_t size = Heif().heif_image_handle_get_raw_color_profile_size(rawHandle);
        if (size > 0 && size <= size_t(kMaxIccProfileBytes)) {
            profile.resize(qsizetype(size));
            if (Heif().heif_image_handle_get_raw_color_profile(rawHandle, profile.data()).code != heif_error_Ok)
                profile.clear();
        }
    }
    return Finished(image, profile);
}

} // namespace

QImage DecodeOtherPicture(QByteArrayView data, const QByteArray &reader)
{
    const TOtherFormat *format = FindOther(reader);
    if (!format)
        throw AppError(QStringLiteral("No reader \"%1\" for pictures").arg(QLatin1String(reader)));
    switch (format->Via) {
    case TReaderKind::Qt:
        return ReadWithQt(data, *format);
    case TReaderKind::Avif:
        return ReadAvif(data, *format);
    case TReaderKind::Heif:
        return ReadHeif(data, *format);
    case TReaderKind::None:
        break;
    }
    Invalid(*format);
}

QString OtherFormatName(const QByteArray &reader)
{
    const TOtherFormat *format = FindOther(reader);
    return format ? QLatin1String(format->Name) : QString();
}
