#include "PictureLoader.h"

// Local
#include "AppError.h"
#include "Bitmap.h"
#include "BmpDecoder.h"
#include "ColourProfile.h"
#include "ExifOrientation.h"
#include "IcoDecoder.h"
#include "ImageResize.h"
#include "JpegCodec.h"
#include "Metafile.h"
#include "OtherFormats.h"
#include "ParallelBands.h"
#include "PictureFormats.h"
#include "UserFiles.h"

// Qt
#include <QDir>

// Qt
#include <QFile>
#include <QFileInfo>

// Std
#include <algorithm>
#include <atomic>
#include <thread>

namespace {

// No picture file this program can show is larger: the biggest bitmap
// allowed, uncompressed at 32 bits per pixel, with room for its headers.
constexpr qint64 kMaxPictureFileBytes = kMaxBitmapBytes / 3 * 4 + 1024 * 1024;

QString Shown(const QString &fileName)
{
    return QDir::toNativeSeparators(fileName);
}

// Feeds decoded JPEG rows to the bilinear scaler, for all of dst's rows or
// a band of them.
class ScalingTarget : public JpegRowTarget
{
public:
    explicit ScalingTarget(QImage &dst, int firstRow = 0, int endRow = -1)
        : FDst(dst)
        , FFirstRow(firstRow)
        , FEndRow(endRow < 0 ? dst.height() : endRow)
    {
    }
    void Begin(int width, int height) override
    {
        FScaler = std::make_unique<BilinearRowScaler>(width, height, FDst, FFirstRow, FEndRow);
    }
    uchar *RowBuffer(int y) noexcept override { return FScaler->RowBuffer(y); }
    void RowsDone(int firstRow, int count) noexcept override { FScaler->RowsDone(firstRow, count); }

private:
    QImage &FDst;
    int FFirstRow;
    int FEndRow;
    std::unique_ptr<BilinearRowScaler> FScaler;
};

// Decodes the JPEG scaled into dst in bands of dst's rows, the first on this
// thread and each other on its own; every band decodes only the source
// rows it is made from (and passes over those above it).
void DecodeInBands(const JpegDecoder &jpeg, int denom, bool fastIdct, QImage &dst, int bands)
{
    const int sourceHeight = jpeg.ScaledSize(denom).height();
    auto band = [&](int i) {
        // The first band passes over no rows: it takes twice the rows of
        // each other one, which spends time passing over the rows above it
        // (two bands: two thirds and one third, the fastest split measured).
        auto boundary = [&](int k) { return k == 0 ? 0 : int(qint64(dst.height()) * (k + 1) / (bands + 1)); };
        const int first = boundary(i);
        const int end = boundary(i + 1);
        const auto [sourceFirst, sourceEnd] = BilinearRowScaler::SourceRows(sourceHeight, dst.height(), first, end);
        ScalingTarget target(dst, first, end);
        jpeg.DecodeRows(denom, fastIdct, target, sourceFirst, sourceEnd);
    };
    RunBands(bands, band);
}

} // namespace

QString PictureExtension(const QString &fileName)
{
    const QString name = fileName.mid(fileName.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot + 1);
}

QByteArray ReadPictureFile(const QString &fileName)
{
    QFile file;
    QString reason;
    if (!OpenRegularFile(file, fileName, &reason))
        throw AppError(QStringLiteral("Cannot open file %1: %2").arg(Shown(fileName), reason));
    const qint64 size = file.size();
    if (size > kMaxPictureFileBytes)
        throw AppError(QStringLiteral("Cannot read file %1: it is too large for a picture (%2 bytes)")
                           .arg(Shown(fileName))
                           .arg(size));
    QByteArray data(qsizetype(size), Qt::Uninitialized);
    qint64 done = 0;
    while (done < size) {
        const qint64 got = file.read(data.data() + done, size - done);
        if (got < 0)
            throw AppError(QStringLiteral("Cannot read file %1: %2").arg(Shown(fileName), file.errorString()));
        if (got == 0)
            break;   // the file became shorter while we read it
        done += got;
    }
    data.truncate(qsizetype(done));
    return data;
}

namespace {

// Read by gallery runs on several threads.
std::atomic<bool> g_turnByOrientation{true};

QSize Turned(QSize size, int orientation)
{
    return OrientationSwapsSides(orientation) ? size.transposed() : size;
}

} // namespace

bool TurnByOrientation()
{
    return g_turnByOrientation;
}

void SetTurnByOrientation(bool on)
{
    g_turnByOrientation = on;
}

TPicture::TPicture() = default;
TPicture::~TPicture() = default;
TPicture::TPicture(TPicture &&) noexcept = default;
TPicture &TPicture::operator=(TPicture &&) noexcept = default;

TPicture TPicture::Load(const QString &fileName)
{
    const QString extension = PictureExtension(fileName);
    TPicture picture;
    const PictureDecoder decoder = DecoderForExtension(extension);
    switch (decoder) {
    case PictureDecoder::Bitmap:
    case PictureDecoder::Other:   // read whole, shown and scaled as a bitmap is
        picture.FFormat = PictureFormat::Bitmap;
        break;
    case PictureDecoder::Icon:
        picture.FFormat = PictureFormat::Icon;
        break;
    case PictureDecoder::Wmf:
    case PictureDecoder::Emf:
        picture.FFormat = PictureFormat::Metafile;
        break;
    case PictureDecoder::Jpeg:
        picture.FFormat = PictureFormat::Jpeg;
        break;
    case PictureDecoder::None:
        throw AppError(QStringLiteral("Unknown picture file extension (.%1)").arg(extension));
    }

    QByteArray data = ReadPictureFile(fileName);
    switch (picture.FFormat) {
    case PictureFormat::Bitmap:
        if (decoder == PictureDecoder::Other) {
            picture.FImage = DecodeOtherPicture(data, OtherReaderForExtension(extension));
            break;
        }
        picture.FImage = ToBitmap24(DecodeBmp(data));
        ConvertToSrgb(picture.FImage, BmpIccProfile(data));
        break;
    case PictureFormat::Icon:
        picture.FImage = ToBitmap24(DecodeIco(data));
        break;
    case PictureFormat::Metafile:
        picture.FImage = ToBitmap24(
            RenderMetafile(data, decoder == PictureDecoder::Wmf ? MetafileKind::Wmf : MetafileKind::Emf));
        break;
    case PictureFormat::Jpeg: {
        picture.FOrientation = TurnByOrientation() ? JpegOrientation(data) : 1;
        picture.FProfile = JpegIccProfile(data);
        picture.FJpeg = std::make_unique<JpegDecoder>(std::move(data));
        picture.FJpeg->UseColourProfile(picture.FProfile);
        const QSize shown = Turned(QSize(picture.FJpeg->Width(), picture.FJpeg->Height()), picture.FOrientation);
        picture.FWidth = shown.width();
        picture.FHeight = shown.height();
        return picture;
    }
    }
    picture.FWidth = picture.FImage.width();
    picture.FHeight = picture.FImage.height();
    return picture;
}

QSize TPicture::JpegScaledSize(int denom) const
{
    return FJpeg ? Turned(FJpeg->ScaledSize(denom), FOrientation) : QSize(FWidth, FHeight);
}

QImage TPicture::Finished(QImage stored) const
{
    // Colours before turning: both work pixel by pixel, and the conversion
    // runs on the bitmap as it was scaled, the fewest pixels there are.
    if (!FProfile.isEmpty())
        ConvertToSrgb(stored, FProfile);
    return OrientedImage(stored, FOrientation);
}

QImage TPicture::ToBitmap(int jpegDenom, bool fastIdct) const
{
    if (FJpeg)
        return Finished(FJpeg->Decode(jpegDenom, fastIdct));
    return FImage;
}

QImage TPicture::ToBilinearBitmap(QSize size, int jpegDenom, bool fastIdct, int threads) const
{
    if (FJpeg) {
        // Scaled as stored, then turned: the pixels are the same as turning
        // first, only moved.
        const QSize stored = Turned(size, FOrientation);
        QImage result = NewBitmap(stored.width(), stored.height());
        const int bands = std::clamp(threads, 1, std::max(1, result.height() / 2));
        if (bands > 1 && FJpeg->CanDecodeRangesApart()) {
            DecodeInBands(*FJpeg, jpegDenom, fastIdct, result, bands);
        } else {
            ScalingTarget target(result);
            FJpeg->DecodeRows(jpegDenom, fastIdct, target);
        }
        return Finished(std::move(result));
    }
    QImage result = NewBitmap(size.width(), size.height());
    BilinearResize(FImage, result);
    return result;
}

void ReadPicture(const QString &fileName, QImage &bitmap, int maxWidth, int maxHeight,
                 int &imageWidth, int &imageHeight, QString &imageScale)
{
    imageWidth = 0;
    imageHeight = 0;
    const TPicture picture = TPicture::Load(fileName);
    imageWidth = picture.Width();
    imageHeight = picture.Height();

    if (maxWidth <= 0 || maxHeight <= 0) {
        bitmap = QImage();
        imageScale = QStringLiteral("0%");
        return;
    }

    // A JPEG is decoded at the smallest reduced size that still covers the
    // box in both directions.
    int denom = 1;
    QSize working(picture.Width(), picture.Height());
    if (picture.Format() == PictureFormat::Jpeg) {
        for (const int n : {2, 4, 8}) {
            if (working.width() / 2 < maxWidth || working.height() / 2 < maxHeight)
                break;
            denom = n;
            working = picture.JpegScaledSize(n);
        }
    }

    // Pictures are shrunk to fit, never enlarged; a photo of a megapixel or
    // more (as decoded) is decoded on two cores where the machine has them.
    constexpr qint64 kPixelsForTwoThreads = qint64(1) << 20;
    const int threads = std::thread::hardware_concurrency() >= 2
                                && qint64(working.width()) * working.height() >= kPixelsForTwoThreads
                            ? 2
                            : 1;
    if (working.width() > maxWidth || working.height() > maxHeight)
        bitmap = picture.ToBilinearBitmap(FitSize(working.width(), working.height(), maxWidth, maxHeight), denom,
                                          false, threads);
    else
        bitmap = picture.ToBitmap(denom);
    imageScale = QString::number(RoundHalfEven(bitmap.width() * 100.0 / imageWidth)) + QLatin1Char('%');
}
