#include "PictureFormats.h"

// Qt
#include <QStringList>

// Std
#include <algorithm>
#include <array>
#include <atomic>
#include <vector>

namespace {

using enum TFormatSet;

// Without all formats, the open dialog also offers TIFF files, which no
// decoder then reads: opening one says the extension is unknown.
constexpr std::array<TPictureFormat, 16> kFormats{{
    {Always, "bmp", PictureDecoder::Bitmap, true, 3, 3, "Bitmaps", true, nullptr},
    {Always, "jpg", PictureDecoder::Jpeg, true, 2, 1, "JPEG Image File", true, nullptr},
    {Always, "jpeg", PictureDecoder::Jpeg, true, 1, 2, "JPEG Image File", true, nullptr},
    {Always, "wmf", PictureDecoder::Wmf, true, 0, 0, nullptr, true, nullptr},
    {Always, "emf", PictureDecoder::Emf, true, 0, 0, nullptr, true, nullptr},
    {Always, "ico", PictureDecoder::Icon, true, 0, 0, nullptr, true, nullptr},
    {PlainOnly, "tif", PictureDecoder::None, false, 4, 0, nullptr, true, nullptr},
    {PlainOnly, "tiff", PictureDecoder::None, false, 5, 0, nullptr, true, nullptr},
    // A gallery photo of these is always a JPEG file, resized or not.
    {AllOnly, "png", PictureDecoder::Other, true, 6, 4, "PNG Image", false, "png"},
    {AllOnly, "gif", PictureDecoder::Other, true, 7, 5, "GIF Image", false, "gif"},
    {AllOnly, "webp", PictureDecoder::Other, true, 8, 6, "WebP Image", false, "webp"},
    {AllOnly, "tif", PictureDecoder::Other, true, 4, 7, "TIFF Image", false, "tiff"},
    {AllOnly, "tiff", PictureDecoder::Other, true, 5, 8, "TIFF Image", false, "tiff"},
    {AllOnly, "avif", PictureDecoder::Other, true, 9, 9, "AVIF Image", false, "avif"},
    {AllOnly, "heif", PictureDecoder::Other, true, 10, 10, "HEIF Image", false, "heif"},
    {AllOnly, "heic", PictureDecoder::Other, true, 11, 11, "HEIF Image", false, "heif"},
}};

// Read by gallery runs on several threads.
std::atomic<bool> g_allPictureFormats{false};

// Whether a row counts with the current setting.
bool Active(const TPictureFormat &format)
{
    return format.Set == Always || (format.Set == AllOnly) == g_allPictureFormats.load();
}

const TPictureFormat *FindFormat(const QString &extension)
{
    const QString lower = extension.toLower();
    for (const TPictureFormat &format : kFormats) {
        if (Active(format) && lower == QLatin1String(format.Extension))
            return &format;
    }
    return nullptr;
}

// The formats with a place in a filter, in that order.
template <typename Place>
std::vector<const TPictureFormat *> InPlaceOrder(Place place)
{
    std::vector<const TPictureFormat *> shown;
    for (const TPictureFormat &format : kFormats) {
        if (Active(format) && place(format) > 0)
            shown.push_back(&format);
    }
    std::sort(shown.begin(), shown.end(),
              [&place](const TPictureFormat *a, const TPictureFormat *b) { return place(*a) < place(*b); });
    return shown;
}

QString Pattern(const TPictureFormat *format)
{
    return QStringLiteral("*.") + QLatin1String(format->Extension);
}

} // namespace

std::span<const TPictureFormat> PictureFormats()
{
    return kFormats;
}

bool AllPictureFormats()
{
    return g_allPictureFormats;
}

void SetAllPictureFormats(bool on)
{
    g_allPictureFormats = on;
}

PictureDecoder DecoderForExtension(const QString &extension)
{
    const TPictureFormat *format = FindFormat(extension);
    return format ? format->Decoder : PictureDecoder::None;
}

QString FolderListExtensions()
{
    QStringList extensions;
    for (const TPictureFormat &format : kFormats) {
        if (Active(format) && format.InFolderList)
            extensions << QLatin1String(format.Extension);
    }
    return extensions.join(u':');
}

QString OpenDialogFilter()
{
    QStringList patterns;
    for (const TPictureFormat *format : InPlaceOrder([](const TPictureFormat &f) { return f.OpenDialogPlace; }))
        patterns << Pattern(format);
    return QStringLiteral("Image Files|") + patterns.join(u';') + QStringLiteral("|All Files|*.*");
}

QString GalleryPhotoFilter()
{
    const auto shown = InPlaceOrder([](const TPictureFormat &f) { return f.GalleryPlace; });
    QStringList patterns;
    for (const TPictureFormat *format : shown)
        patterns << Pattern(format);
    const QString all = patterns.join(u';');
    QString filter = QStringLiteral("All (%1)|%1").arg(all);
    for (const TPictureFormat *format : shown) {
        filter += QStringLiteral("|%1 (%2)|%2").arg(QLatin1String(format->GalleryName), Pattern(format));
    }
    return filter;
}

bool IsGalleryPhotoExtension(const QString &extension)
{
    const TPictureFormat *format = FindFormat(extension);
    return format && format->GalleryPlace > 0;
}

QByteArray OtherReaderForExtension(const QString &extension)
{
    const TPictureFormat *format = FindFormat(extension);
    return format && format->Decoder == PictureDecoder::Other ? QByteArray(format->OtherReader) : QByteArray();
}

bool GalleryCopiesPhoto(const QString &extension)
{
    const TPictureFormat *format = FindFormat(extension);
    return !format || format->CopiedIntoGallery;
}
