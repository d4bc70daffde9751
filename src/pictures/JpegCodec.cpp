#include "JpegCodec.h"

// Local
#include "AppError.h"
#include "Bitmap.h"
#include "ColourProfile.h"
#include "UserFiles.h"

// Qt
#include <QDir>

// Std
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// libjpeg
#include <jpeglib.h>
#include <jerror.h>

// libjpeg reports a fatal error by calling error_exit, which must not
// return. Ours longjmps back to the setjmp of the small function that made
// the library call. Those functions create no C++ objects, so the jump never
// skips a destructor; the callers look at the outcome and throw once they
// are back in ordinary C++. The library structures live in guards that
// destroy them on every path.

namespace {

// A progressive file may repeat scans without end; every scan runs over the
// whole picture, so a few kilobytes could keep the viewer busy for minutes.
// Real files have about ten.
constexpr int kMaxScans = 500;

// What libjpeg itself may allocate (a progressive picture keeps all its
// coefficients, two bytes per sample at full size, whatever the scale):
// twice the bitmap limit, room for the coefficients of any frame within it.
constexpr long kMaxLibraryMemory = long(2 * kMaxBitmapBytes);

struct JpegError
{
    jpeg_error_mgr Manager;   // first: libjpeg sees only this part
    std::jmp_buf Jump;
    int Code = 0;
    int Parameter = 0;
    bool TooManyScans = false;
};

void OnErrorExit(j_common_ptr info)
{
    auto *error = reinterpret_cast<JpegError *>(info->err);
    error->Code = info->err->msg_code;
    error->Parameter = info->err->msg_parm.i[0];
    std::longjmp(error->Jump, 1);
}

// Warnings (corrupt data, level -1) are counted, never printed; traces are
// dropped.
void OnEmitMessage(j_common_ptr info, int level)
{
    if (level < 0)
        ++info->err->num_warnings;
}

void OnOutputMessage(j_common_ptr)
{
}

void OnProgress(j_common_ptr info)
{
    if (!info->is_decompressor)
        return;
    if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > kMaxScans) {
        auto *error = reinterpret_cast<JpegError *>(info->err);
        error->TooManyScans = true;
        std::longjmp(error->Jump, 1);
    }
}

void InitError(JpegError &error)
{
    jpeg_std_error(&error.Manager);
    error.Manager.error_exit = OnErrorExit;
    error.Manager.emit_message = OnEmitMessage;
    error.Manager.output_message = OnOutputMessage;
}

[[noreturn]] void ThrowJpegError(const JpegError &error)
{
    if (error.TooManyScans)
        throw AppError(QStringLiteral("JPEG error: the file has more than %1 scans").arg(kMaxScans));
    switch (error.Code) {
    case JERR_BAD_PRECISION:
        throw AppError(QStringLiteral("JPEG error #%1: %2-bit JPEG files are not supported")
                           .arg(error.Code)
                           .arg(error.Parameter));
    case JERR_OUT_OF_MEMORY:
    case JERR_NO_BACKING_STORE:
        throw AppError(QStringLiteral("JPEG error #%1: the picture needs too much memory").arg(error.Code));
    default:
        throw AppError(QStringLiteral("JPEG error #%1").arg(error.Code));
    }
}

struct Decompressor
{
    jpeg_decompress_struct Info;
    JpegError Error;
    jpeg_progress_mgr Progress;
    bool Created = false;

    Decompressor()
    {
        std::memset(&Info, 0, sizeof Info);
        std::memset(&Progress, 0, sizeof Progress);
        InitError(Error);
        Info.err = &Error.Manager;
        Progress.progress_monitor = OnProgress;
    }
    ~Decompressor()
    {
        if (Created)
            jpeg_destroy_decompress(&Info);
    }
    Decompressor(const Decompressor &) = delete;
    Decompressor &operator=(const Decompressor &) = delete;
};

// The functions with setjmp: false when libjpeg failed (see Error).

bool ReadHeader(Decompressor &d, const QByteArray &data)
{
    if (setjmp(d.Error.Jump))
        return false;
    jpeg_create_decompress(&d.Info);
    d.Created = true;
    d.Info.progress = &d.Progress;
    d.Info.mem->max_memory_to_use = kMaxLibraryMemory;
    jpeg_mem_src(&d.Info, reinterpret_cast<const unsigned char *>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&d.Info, TRUE);
    return true;
}

bool CalcOutputSize(Decompressor &d)
{
    if (setjmp(d.Error.Jump))
        return false;
    jpeg_calc_output_dimensions(&d.Info);
    return true;
}

inline uchar Mul255(int a, int b)
{
    return uchar((a * b + 127) / 255);
}

// CMYK rows as libjpeg gives them (YCCK already turned into CMYK). Adobe's
// programs store the inks inverted (255 is no ink); the Adobe marker tells.
void CmykToBgr(const JSAMPLE *cmyk, uchar *bgr, int width, bool inverted)
{
    for (int x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
        int c = cmyk[0];
        int m = cmyk[1];
        int y = cmyk[2];
        int k = cmyk[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        bgr[0] = Mul255(y, k);
        bgr[1] = Mul255(m, k);
        bgr[2] = Mul255(c, k);
    }
}

bool ReadRows(Decompressor &d, JpegRowTarget &target, JSAMPLE *cmykRow, bool inverted,
              const ColourTransform &inks, int firstRow, int endRow)
{
    if (setjmp(d.Error.Jump))
        return false;
    jpeg_start_decompress(&d.Info);
    const auto end = JDIMENSION(std::clamp<qint64>(endRow, 0, d.Info.output_height));
    // Rows above the range are decoded but not made into pixels.
    while (d.Info.output_scanline < JDIMENSION(std::max(firstRow, 0)) && d.Info.output_scanline < end) {
        if (jpeg_skip_scanlines(&d.Info, JDIMENSION(firstRow) - d.Info.output_scanline) == 0) {
            d.Error.Code = JERR_INPUT_EOF;
            return false;
        }
    }
    while (d.Info.output_scanline < end) {
        const int y = int(d.Info.output_scanline);
        JDIMENSION got;
        if (cmykRow) {
            JSAMPROW row = cmykRow;
            got = jpeg_read_scanlines(&d.Info, &row, 1);
            if (got == 1 && inks.IsValid())
                inks.Convert(cmykRow, 0, target.RowBuffer(y), 0, int(d.Info.output_width), 1);
            else if (got == 1)
                CmykToBgr(cmykRow, target.RowBuffer(y), int(d.Info.output_width), inverted);
        } else {
            JSAMPROW rows[4];
            const int wanted = std::min({std::clamp(d.Info.rec_outbuf_height, 1, 4), 4, int(end) - y});
            for (int i = 0; i < wanted; ++i)
                rows[i] = target.RowBuffer(y + i);
            got = jpeg_read_scanlines(&d.Info, rows, JDIMENSION(wanted));
        }
        if (got == 0) {
            // A memory source never suspends; this would loop for ever.
            d.Error.Code = JERR_INPUT_EOF;
            return false;
        }
        target.RowsDone(y, int(got));
    }
    // The rest of the file (trailing markers) is of no interest; the guard
    // destroys the decompressor without reading it.
    return true;
}

class BitmapTarget : public JpegRowTarget
{
public:
    void Begin(int width, int height) override
    {
        Bitmap = NewBitmap(width, height);
        Bits = Bitmap.bits();
        Stride = Bitmap.bytesPerLine();
    }
    uchar *RowBuffer(int y) noexcept override { return Bits + y * Stride; }
    void RowsDone(int, int) noexcept override {}

    QImage Bitmap;

private:
    uchar *Bits = nullptr;
    qsizetype Stride = 0;
};

} // namespace

struct JpegDecoder::Impl
{
    QByteArray Data;
    QByteArray Profile;
    bool OneScan = false;
    int Width = 0;
    int Height = 0;
};

JpegDecoder::JpegDecoder(QByteArray data)
    : d(std::make_unique<Impl>())
{
    d->Data = std::move(data);
    Decompressor decompressor;
    if (!ReadHeader(decompressor, d->Data))
        ThrowJpegError(decompressor.Error);
    d->Width = int(decompressor.Info.image_width);
    d->Height = int(decompressor.Info.image_height);
    d->OneScan = !jpeg_has_multiple_scans(&decompressor.Info);
}

JpegDecoder::~JpegDecoder() = default;

int JpegDecoder::Width() const
{
    return d->Width;
}

int JpegDecoder::Height() const
{
    return d->Height;
}

void JpegDecoder::UseColourProfile(const QByteArray &profile)
{
    d->Profile = profile;
}

QSize JpegDecoder::ScaledSize(int denom) const
{
    return QSize((d->Width + denom - 1) / denom, (d->Height + denom - 1) / denom);
}

bool JpegDecoder::CanDecodeRangesApart() const
{
    return d->OneScan && d->Data.endsWith("\xFF\xD9");
}

void JpegDecoder::DecodeRows(int denom, bool fastIdct, JpegRowTarget &target, int firstRow, int endRow) const
{
    if (denom != 1 && denom != 2 && denom != 4 && denom != 8)
        throw AppError(QStringLiteral("JPEG scale 1/%1 is not supported").arg(denom));

    Decompressor decompressor;
    jpeg_decompress_struct &info = decompressor.Info;
    if (!ReadHeader(decompressor, d->Data))
        ThrowJpegError(decompressor.Error);
    info.scale_num = 1;
    info.scale_denom = unsigned(denom);
    info.dct_method = fastIdct ? JDCT_IFAST : JDCT_ISLOW;
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    // Grayscale, YCbCr and RGB files come out as BGR straight away.
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
    // The frame itself must be a picture we could hold, whatever the scale:
    // libjpeg walks (and for a progressive file keeps) every block of it.
    CheckBitmapSize(info.image_width, info.image_height);
    if (!CalcOutputSize(decompressor))
        ThrowJpegError(decompressor.Error);

    const int width = int(info.output_width);
    const int height = int(info.output_height);
    CheckBitmapSize(width, height);
    std::vector<JSAMPLE> cmykRow(cmyk ? size_t(width) * 4 : 0);
    target.Begin(width, height);
    const bool adobe = info.saw_Adobe_marker != 0;
    const ColourTransform inks = cmyk && !d->Profile.isEmpty() ? ColourTransform::ForCmyk(d->Profile, adobe)
                                                               : ColourTransform();
    if (!ReadRows(decompressor, target, cmyk ? cmykRow.data() : nullptr, adobe, inks, firstRow, endRow))
        ThrowJpegError(decompressor.Error);
}

QImage JpegDecoder::Decode(int denom, bool fastIdct) const
{
    BitmapTarget target;
    DecodeRows(denom, fastIdct, target);
    return target.Bitmap;
}

namespace {

// Collects the compressed bytes in one growing block.
struct MemoryDestination
{
    jpeg_destination_mgr Manager;   // first: libjpeg sees only this part
    unsigned char *Data = nullptr;
    size_t Capacity = 0;
    size_t Size = 0;
    size_t InitialCapacity = 0;
};

void GrowDestination(j_compress_ptr info, MemoryDestination &dest)
{
    const size_t capacity = dest.Capacity ? dest.Capacity * 2 : dest.InitialCapacity;
    auto *data = static_cast<unsigned char *>(std::realloc(dest.Data, capacity));
    if (!data)
        ERREXIT1(info, JERR_OUT_OF_MEMORY, 0);
    dest.Data = data;
    dest.Manager.next_output_byte = data + dest.Capacity;
    dest.Manager.free_in_buffer = capacity - dest.Capacity;
    dest.Capacity = capacity;
}

void OnInitDestination(j_compress_ptr info)
{
    auto &dest = *reinterpret_cast<MemoryDestination *>(info->dest);
    dest.Size = 0;
    if (!dest.Data)
        GrowDestination(info, dest);
    dest.Manager.next_output_byte = dest.Data;
    dest.Manager.free_in_buffer = dest.Capacity;
}

boolean OnEmptyOutputBuffer(j_compress_ptr info)
{
    // libjpeg calls this only when the whole buffer is full.
    GrowDestination(info, *reinterpret_cast<MemoryDestination *>(info->dest));
    return TRUE;
}

void OnTermDestination(j_compress_ptr info)
{
    auto &dest = *reinterpret_cast<MemoryDestination *>(info->dest);
    dest.Size = dest.Capacity - dest.Manager.free_in_buffer;
}

struct Compressor
{
    jpeg_compress_struct Info;
    JpegError Error;
    MemoryDestination Destination;
    bool Created = false;

    Compressor()
    {
        std::memset(&Info, 0, sizeof Info);
        std::memset(&Destination.Manager, 0, sizeof Destination.Manager);
        InitError(Error);
        Info.err = &Error.Manager;
        Destination.Manager.init_destination = OnInitDestination;
        Destination.Manager.empty_output_buffer = OnEmptyOutputBuffer;
        Destination.Manager.term_destination = OnTermDestination;
    }
    ~Compressor()
    {
        if (Created)
            jpeg_destroy_compress(&Info);
        std::free(Destination.Data);
    }
    Compressor(const Compressor &) = delete;
    Compressor &operator=(const Compressor &) = delete;
};

bool Compress(Compressor &c, const uchar *bits, qsizetype stride, int width, int height, int quality)
{
    if (setjmp(c.Error.Jump))
        return false;
    jpeg_create_compress(&c.Info);
    c.Created = true;
    c.Info.dest = &c.Destination.Manager;
    c.Info.image_width = JDIMENSION(width);
    c.Info.image_height = JDIMENSION(height);
    c.Info.input_components = 3;
    // Blue, green, red bytes: the library reads them as RGB.
    c.Info.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&c.Info);
    jpeg_set_quality(&c.Info, quality, TRUE);
    jpeg_simple_progression(&c.Info);
    jpeg_start_compress(&c.Info, TRUE);
    while (c.Info.next_scanline < c.Info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(bits + qsizetype(c.Info.next_scanline) * stride);
        jpeg_write_scanlines(&c.Info, &row, 1);
    }
    jpeg_finish_compress(&c.Info);
    return true;
}

} // namespace

QByteArray EncodeJpeg(const QImage &bitmap, int quality)
{
    const QImage image = ToBitmap24(bitmap);
    Compressor compressor;
    // Enough for most pictures at once; the block grows when not.
    compressor.Destination.InitialCapacity =
        std::max<size_t>(size_t(image.width()) * size_t(image.height()) / 2, 16384);
    if (!Compress(compressor, image.constBits(), image.bytesPerLine(), image.width(), image.height(),
                  std::clamp(quality, 10, 100)))
        ThrowJpegError(compressor.Error);
    return QByteArray(reinterpret_cast<const char *>(compressor.Destination.Data),
                      qsizetype(compressor.Destination.Size));
}

void SaveJpeg(const QImage &bitmap, const QString &fileName, int quality)
{
    const QByteArray bytes = EncodeJpeg(bitmap, quality);
    QString reason;
    if (!WriteFileAtomically(fileName, bytes, &reason))
        throw AppError(QStringLiteral("Cannot create file %1: %2").arg(QDir::toNativeSeparators(fileName), reason));
}
