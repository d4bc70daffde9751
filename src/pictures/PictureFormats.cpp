#include "PictureFormats.h"

// Qt
#include <QStringList>

// Std
#include <algorithm>
#include <array>
#include <vector>

namespace {

// The open dialog also offers TIFF files, which no decoder reads: opening
// one then says the extension is unknown.
constexpr std::array<TPictureFormat, 8> kFormats{{
    {"bmp", PictureDecoder::Bitmap, true, 3, 3, "Bitmaps"},
    {"jpg", PictureDecoder::Jpeg, true, 2, 1, "JPEG Image File"},
    {"jpeg", PictureDecoder::Jpeg, true, 1, 2, "JPEG Image File"},
    {"wmf", PictureDecoder::Wmf, true, 0, 0, nullptr},
    {"emf", PictureDecoder::Emf, true, 0, 0, nullptr},
    {"ico", PictureDecoder::Icon, true, 0, 0, nullptr},
    {"tif", PictureDecoder::None, false, 4, 0, nullptr},
    {"tiff", PictureDecoder::None, false, 5, 0, nullptr},
}};

const TPictureFormat *FindFormat(const QString &extension)
{
    const QString lower = extension.toLower();
    for (const TPictureFormat &format : kFormats) {
        if (lower == QLatin1String(format.Extension))
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
        if (place(format) > 0)
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

PictureDecoder DecoderForExtension(const QString &extension)
{
    const TPictureFormat *format = FindFormat(extension);
    return format ? format->Decoder : PictureDecoder::None;
}

QString FolderListExtensions()
{
    QStringList extensions;
    for (const TPictureFormat &format : kFormats) {
        if (format.InFolderList)
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
