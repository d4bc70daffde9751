// Local
#include "AppError.h"
#include "PictureFormats.h"
#include "PictureLoader.h"

// Qt
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QString>

// Std
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

// System
#include <unistd.h>

namespace {

// The extension the input is saved under: the one its first bytes name,
// else one chosen by its length, so that every reader sees every input
// shape the fuzzer makes.
const char *ExtensionFor(const uint8_t *data, size_t size)
{
    auto starts = [&](size_t at, const char *magic) {
        const size_t n = std::strlen(magic);
        return size >= at + n && std::memcmp(data + at, magic, n) == 0;
    };
    if (starts(0, "\x89PNG"))
        return "png";
    if (starts(0, "GIF8"))
        return "gif";
    if (starts(0, "RIFF") && starts(8, "WEBP"))
        return "webp";
    if (starts(0, "II*") || starts(0, "MM"))
        return "tif";
    if (starts(4, "ftypavif") || starts(4, "ftypavis"))
        return "avif";
    if (starts(4, "ftyp"))
        return "heic";
    static const char *const kAll[] = {"png", "gif", "webp", "tiff", "avif", "heif"};
    return kAll[size % 6];
}

} // namespace

// The input as a picture file of the formats shown with all formats on,
// read by the viewer's own load (ReadPicture: the file read, its header
// size checked, decoded and fitted into a small box). The file lies in
// memory (/dev/shm) where there is one. An error text is a fine outcome; a
// crash, a hang or a sanitizer report is not.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString folder = [] {
        SetAllPictureFormats(true);
        const QString shm = QStringLiteral("/dev/shm");
        return (access("/dev/shm", W_OK) == 0 ? shm : QStringLiteral("/tmp")) + QStringLiteral("/tamsel-fuzz-formats-")
               + QString::number(getpid());
    }();
    const QString fileName = folder + QLatin1Char('.') + QLatin1String(ExtensionFor(data, size));
    {
        QFile file(fileName);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    QImage bitmap;
    int width = 0;
    int height = 0;
    QString scale;
    try {
        ReadPicture(fileName, bitmap, 64, 48, width, height, scale);
    } catch (const AppError &) {
    } catch (const std::bad_alloc &) {
    }
    QFile::remove(fileName);
    return 0;
}
