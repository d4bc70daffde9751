#include "ColourProfile.h"

// Local
#include "AppError.h"
#include "Bitmap.h"
#include "ParallelBands.h"

// Qt
#include <QHashFunctions>

// Std
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

// Little CMS
#include <lcms2.h>

#if defined(__SSE2__) && !defined(TAMSEL_PORTABLE_SIMD)
#include <emmintrin.h>
#endif

namespace {

quint32 BigEndian32(const uchar *p)
{
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]);
}

quint32 LittleEndian32(const uchar *p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

// ---- JPEG ---------------------------------------------------------------

constexpr char kIccSignature[] = "ICC_PROFILE";  // with its NUL: 12 bytes
constexpr qsizetype kIccSignatureSize = sizeof(kIccSignature);
constexpr qsizetype kIccChunkHeader = kIccSignatureSize + 2;  // + sequence number, count

bool IsIccChunk(const uchar *payload, qsizetype length)
{
    return length >= kIccSignatureSize && std::memcmp(payload, kIccSignature, kIccSignatureSize) == 0;
}

QByteArray ReadJpegIccProfile(const QByteArray &jpeg)
{
    const auto *d = reinterpret_cast<const uchar *>(jpeg.constData());
    const qsizetype n = jpeg.size();
    if (n < 4 || d[0] != 0xFF || d[1] != 0xD8)
        return {};

    // Where each chunk's profile bytes lie, by sequence number (1..255).
    struct Chunk
    {
        qsizetype offset = 0;
        qsizetype length = -1;  // -1: not seen
    };
    std::array<Chunk, 256> chunks;
    int count = 0;  // as the first chunk says

    qsizetype pos = 2;
    while (pos < n) {
        // Bytes between segments are skipped up to the next marker, as
        // libjpeg does; a run of 0xFF is fill before the marker code.
        if (d[pos] != 0xFF) {
            ++pos;
            continue;
        }
        while (pos < n && d[pos] == 0xFF)
            ++pos;
        if (pos >= n)
            break;
        const uchar marker = d[pos++];
        if (marker == 0xDA || marker == 0xD9)  // start of scan, end of image
            break;
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8))
            continue;  // no segment follows these
        if (n - pos < 2)
            break;
        const qsizetype length = qsizetype(d[pos]) << 8 | d[pos + 1];
        if (length < 2)
            break;
        const uchar *payload = d + pos + 2;
        const qsizetype available = n - pos - 2;
        qsizetype payloadLength = length - 2;
        if (payloadLength > available) {
            // A profile chunk cut off by the end of the data spoils the
            // profile; any other cut-off segment just ends the headers.
            if (marker == 0xE2 && IsIccChunk(payload, available))
                return {};
            break;
        }
        if (marker == 0xE2 && IsIccChunk(payload, payloadLength)) {
            if (payloadLength < kIccChunkHeader)
                return {};
            const int sequence = payload[kIccSignatureSize];
            const int total = payload[kIccSignatureSize + 1];
            if (total == 0 || sequence == 0 || sequence > total || (count != 0 && total != count))
                return {};
            count = total;
            Chunk &c = chunks[size_t(sequence)];
            if (c.length >= 0)
                return {};  // the same sequence number twice
            c.offset = pos + 2 + kIccChunkHeader;
            c.length = payloadLength - kIccChunkHeader;
        }
        pos += length;
    }

    if (count == 0)
        return {};
    qsizetype total = 0;
    for (int i = 1; i <= count; ++i) {
        if (chunks[size_t(i)].length < 0)
            return {};
        total += chunks[size_t(i)].length;
    }
    if (total == 0 || total > kMaxIccProfileBytes)
        return {};
    QByteArray profile;
    profile.reserve(total);
    for (int i = 1; i <= count; ++i)
        profile.append(jpeg.constData() + chunks[size_t(i)].offset, chunks[size_t(i)].length);
    return profile;
}

// ---- Bitmap -------------------------------------------------------------

QByteArray ReadBmpIccProfile(const QByteArray &bmp)
{
    constexpr qint64 kFileHeader = 14;
    constexpr qint64 kV5HeaderSize = 124;
    constexpr quint32 kProfileEmbedded = 0x4D424544;  // 'MBED'
    const auto *d = reinterpret_cast<const uchar *>(bmp.constData());
    const qint64 n = bmp.size();
    if (n < kFileHeader + kV5HeaderSize || d[0] != 'B' || d[1] != 'M')
        return {};
    const uchar *info = d + kFileHeader;
    const qint64 headerSize = LittleEndian32(info);
    if (headerSize < kV5HeaderSize || LittleEndian32(info + 56) != kProfileEmbedded)
        return {};
    // The profile's offset counts from the header's start, not the file's;
    // it lies after the header.
    const qint64 offset = LittleEndian32(info + 112);
    const qint64 size = LittleEndian32(info + 116);
    const qint64 afterFileHeader = n - kFileHeader;
    if (size == 0 || size > kMaxIccProfileBytes || offset < headerSize || offset > afterFileHeader
        || size > afterFileHeader - offset)
        return {};
    return bmp.mid(kFileHeader + offset, size);
}

// ---- Transforms ---------------------------------------------------------

enum class Purpose { Rgb, Cmyk, CmykInverted };

// Colours spread over the whole cube, the ramps of each primary and the
// greys: a transform that leaves all of them as they are is taken to leave
// every colour as it is (an sRGB profile), and is never applied.
const std::vector<uchar> &IdentitySamples()
{
    static const std::vector<uchar> samples = [] {
        std::vector<uchar> s;
        for (int b = 0; b <= 255; b += 15)
            for (int g = 0; g <= 255; g += 15)
                for (int r = 0; r <= 255; r += 15)
                    s.insert(s.end(), {uchar(b), uchar(g), uchar(r)});
        for (int v = 0; v <= 255; ++v) {
            s.insert(s.end(), {uchar(v), 0, 0});
            s.insert(s.end(), {0, uchar(v), 0});
            s.insert(s.end(), {0, 0, uchar(v)});
            s.insert(s.end(), {uchar(v), uchar(v), uchar(v)});
        }
        return s;
    }();
    return samples;
}

// Colours a shortcut must convert as Little CMS does: the identity samples
// and a finer cube, with the darkest levels (where sRGB's curve is
// steepest) each taken.
const std::vector<uchar> &VerificationSamples()
{
    static const std::vector<uchar> samples = [] {
        std::vector<uchar> s = IdentitySamples();
        const int levels[] = {0, 1, 2, 3, 4, 5, 6, 8, 10, 12, 16, 24, 32, 48, 64, 96, 128, 160, 192, 224, 254, 255};
        for (int b : levels)
            for (int g : levels)
                for (int r : levels)
                    s.insert(s.end(), {uchar(b), uchar(g), uchar(r)});
        return s;
    }();
    return samples;
}


// The conversion of a matrix profile (three tone curves and a matrix, as
// cameras and editors write for Adobe RGB, Display P3 or ProPhoto) done
// without Little CMS's per-pixel work: each channel's byte looks up its
// share of the linear sRGB colour, the three shares are added, and the sum
// is encoded to sRGB through one table. Its tables come from Little CMS,
// and it is used only when it gives Little CMS's own 8-bit results within
// one level on a spread of colours.
struct MatrixShortcut
{
    // Linear sRGB (red, green, blue, unused) of each byte of each input
    // channel, in the order of the input bytes: blue, green, red.
    alignas(16) float Share[3][256][4];
    // The sRGB byte of linear values 0, 1/(kEncodeSteps - 1), ..., 1.
    static constexpr int kEncodeSteps = 16384;
    uchar Encode[kEncodeSteps];

    // The same float operations in the same order on every processor;
    // with SSE2 the three channels go through them at once.
    void Convert(const uchar *in, uchar *out, int width) const noexcept
    {
        constexpr float kScale = float(kEncodeSteps - 1);
#if defined(__SSE2__) && !defined(TAMSEL_PORTABLE_SIMD)
        const __m128 zero = _mm_setzero_ps();
        const __m128 one = _mm_set1_ps(1.0f);
        const __m128 scale = _mm_set1_ps(kScale);
        const __m128 half = _mm_set1_ps(0.5f);
        for (int x = 0; x < width; ++x, in += 3, out += 3) {
            const __m128 sum = _mm_add_ps(_mm_add_ps(_mm_load_ps(Share[0][in[0]]), _mm_load_ps(Share[1][in[1]])),
                                          _mm_load_ps(Share[2][in[2]]));
            const __m128 clamped = _mm_min_ps(_mm_max_ps(sum, zero), one);
            const __m128i index = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(clamped, scale), half));
            const int red = _mm_cvtsi128_si32(index);
            const int green = _mm_cvtsi128_si32(_mm_srli_si128(index, 4));
            const int blue = _mm_cvtsi128_si32(_mm_srli_si128(index, 8));
            out[0] = Encode[blue];
            out[1] = Encode[green];
            out[2] = Encode[red];
        }
#else
        for (int x = 0; x < width; ++x, in += 3, out += 3) {
            const float *b = Share[0][in[0]];
            const float *g = Share[1][in[1]];
            const float *r = Share[2][in[2]];
            int index[3];
            for (int c = 0; c < 3; ++c) {
                const float sum = (b[c] + g[c]) + r[c];
                index[c] = int(std::min(std::max(sum, 0.0f), 1.0f) * kScale + 0.5f);
            }
            out[0] = Encode[index[2]];
            out[1] = Encode[index[1]];
            out[2] = Encode[index[0]];
        }
#endif
    }
};

} // namespace

struct ColourTransform::Entry
{
    cmsHTRANSFORM Transform = nullptr;
    bool Identity = false;
    std::unique_ptr<const MatrixShortcut> Shortcut;

    Entry() = default;
    Entry(const Entry &) = delete;
    Entry &operator=(const Entry &) = delete;
    ~Entry()
    {
        if (Transform)
            cmsDeleteTransform(Transform);
    }
};

namespace {

using EntryPtr = std::shared_ptr<const ColourTransform::Entry>;

bool UsableForInput(cmsHPROFILE profile)
{
    switch (cmsGetDeviceClass(profile)) {
    case cmsSigInputClass:
    case cmsSigDisplayClass:
    case cmsSigOutputClass:
    case cmsSigColorSpaceClass:
        return true;
    default:
        return false;  // device links, abstract and named colour profiles
    }
}

// sRGB's encoding of a linear value in 0..1.
double SrgbEncode(double linear)
{
    return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
}

// The shortcut for a profile whose conversion to sRGB is a matrix between
// tone curves, or null. The shares are what Little CMS gives for each byte
// of one channel with the others at 0, in linear sRGB (sRGB's primaries and
// white, a straight tone curve), unclamped: a colour outside sRGB adds up
// to values below 0 or above 1, clamped once the shares are added, as the
// 8-bit conversion clamps its result.
std::unique_ptr<const MatrixShortcut> BuildShortcut(cmsHPROFILE input, cmsHTRANSFORM reference)
{
    // Little CMS's own sRGB with straight tone curves: the same primaries
    // and white, to the last bit, as the conversion it stands in for.
    cmsHPROFILE linearSrgb = cmsCreate_sRGBProfile();
    cmsToneCurve *straight = cmsBuildGamma(nullptr, 1.0);
    const bool made = linearSrgb && straight && cmsWriteTag(linearSrgb, cmsSigRedTRCTag, straight)
                      && cmsWriteTag(linearSrgb, cmsSigGreenTRCTag, straight)
                      && cmsWriteTag(linearSrgb, cmsSigBlueTRCTag, straight);
    if (straight)
        cmsFreeToneCurve(straight);
    if (!made) {
        if (linearSrgb)
            cmsCloseProfile(linearSrgb);
        return nullptr;
    }
    cmsHTRANSFORM toLinear = cmsCreateTransform(input, TYPE_BGR_8, linearSrgb, TYPE_RGB_FLT, INTENT_PERCEPTUAL,
                                                cmsFLAGS_NOCACHE | cmsFLAGS_NOOPTIMIZE);
    cmsCloseProfile(linearSrgb);
    if (!toLinear)
        return nullptr;
    auto shortcut = std::make_unique<MatrixShortcut>();
    std::vector<uchar> ramps(3 * 256 * 3, 0);
    for (int channel = 0; channel < 3; ++channel)
        for (int v = 0; v < 256; ++v)
            ramps[(channel * 256 + v) * 3 + channel] = uchar(v);
    std::vector<float> linear(ramps.size());
    cmsDoTransform(toLinear, ramps.data(), linear.data(), 3 * 256);
    cmsDeleteTransform(toLinear);
    for (int channel = 0; channel < 3; ++channel) {
        for (int v = 0; v < 256; ++v) {
            const float *rgb = &linear[(channel * 256 + v) * 3];
            // Black is each channel's zero: its share would be added three times.
            const float *black = &linear[(channel * 256) * 3];
            for (int c = 0; c < 3; ++c) {
                const float share = rgb[c] - (channel == 0 ? 0.0f : black[c]);
                if (!std::isfinite(share))
                    return nullptr;
                shortcut->Share[channel][v][c] = share;
            }
            shortcut->Share[channel][v][3] = 0;
        }
    }
    for (int i = 0; i < MatrixShortcut::kEncodeSteps; ++i)
        shortcut->Encode[i] = uchar(std::lround(255 * SrgbEncode(double(i) / (MatrixShortcut::kEncodeSteps - 1))));

    // Trusted only where it agrees with Little CMS's own conversion.
    const std::vector<uchar> &samples = VerificationSamples();
    const int pixels = int(samples.size() / 3);
    std::vector<uchar> expected(samples.size());
    std::vector<uchar> got(samples.size());
    cmsDoTransform(reference, samples.data(), expected.data(), cmsUInt32Number(pixels));
    shortcut->Convert(samples.data(), got.data(), pixels);
    const bool agrees = std::equal(expected.begin(), expected.end(), got.begin(),
                                   [](int a, int b) { return std::abs(a - b) <= 1; });
    return agrees ? std::move(shortcut) : nullptr;
}

// Builds the conversion; an entry without a transform when the profile does
// not do. The default flags let Little CMS precalculate the whole chain as
// one device link optimised for 8-bit data; its one-pixel cache is left out
// so that threads can share the transform.
EntryPtr BuildEntry(const QByteArray &profile, Purpose purpose)
{
    auto entry = std::make_shared<ColourTransform::Entry>();
    cmsHPROFILE input = cmsOpenProfileFromMem(profile.constData(), cmsUInt32Number(profile.size()));
    if (!input)
        return entry;
    const bool rgb = purpose == Purpose::Rgb;
    if (cmsGetColorSpace(input) == (rgb ? cmsSigRgbData : cmsSigCmykData) && UsableForInput(input)) {
        cmsHPROFILE srgb = cmsCreate_sRGBProfile();
        // Adobe's inverted inks are read by Little CMS itself (the _REV
        // format turns 255 into no ink), so no pass over the data is needed.
        const cmsUInt32Number inputFormat = rgb ? TYPE_BGR_8
                                          : purpose == Purpose::CmykInverted ? TYPE_CMYK_8_REV
                                                                             : TYPE_CMYK_8;
        if (srgb) {
            entry->Transform = cmsCreateTransform(input, inputFormat, srgb, TYPE_BGR_8,
                                                  INTENT_PERCEPTUAL, cmsFLAGS_NOCACHE);
            cmsCloseProfile(srgb);
        }
    }

    if (entry->Transform && rgb) {
        const std::vector<uchar> &samples = IdentitySamples();
        std::vector<uchar> converted(samples.size());
        const auto pixels = cmsUInt32Number(samples.size() / 3);
        cmsDoTransform(entry->Transform, samples.data(), converted.data(), pixels);
        // One level up or down is rounding between two descriptions of sRGB
        // (the common HP sRGB profile and Little CMS's own differ that much
        // in dark channels of saturated colours), not a colour change:
        // converting would only cost time and add noise to the picture.
        entry->Identity = std::equal(samples.begin(), samples.end(), converted.begin(),
                                     [](int a, int b) { return std::abs(a - b) <= 1; });
        if (!entry->Identity && cmsIsMatrixShaper(input))
            entry->Shortcut = BuildShortcut(input, entry->Transform);
    }
    cmsCloseProfile(input);
    return entry;
}

// The last few profiles' transforms, most recently used first. A gallery's
// photos mostly share one or two profiles; the profile bytes are kept (they
// are shared, not copied) so that a hash collision can never pick a wrong
// transform.
struct CacheSlot
{
    size_t Hash = 0;
    QByteArray Profile;
    Purpose For = Purpose::Rgb;
    EntryPtr Entry;
};

constexpr size_t kCacheSlots = 4;

std::mutex gCacheMutex;
std::vector<CacheSlot> gCache;

EntryPtr CachedEntry(const QByteArray &profile, Purpose purpose)
{
    if (!LooksLikeIccProfile(profile))
        return {};
    const size_t hash = qHash(QByteArrayView(profile), 0);
    // Building happens under the lock: threads that meet the same new
    // profile wait for one build instead of each making its own.
    const std::lock_guard lock(gCacheMutex);
    for (auto it = gCache.begin(); it != gCache.end(); ++it) {
        if (it->Hash == hash && it->For == purpose && it->Profile == profile) {
            std::rotate(gCache.begin(), it, it + 1);
            return gCache.front().Entry;
        }
    }
    EntryPtr entry = BuildEntry(profile, purpose);
    if (gCache.size() == kCacheSlots)
        gCache.pop_back();
    gCache.insert(gCache.begin(), CacheSlot{hash, profile, purpose, entry});
    return entry;
}

} // namespace

QByteArray JpegIccProfile(const QByteArray &jpeg)
{
    try {
        return ReadJpegIccProfile(jpeg);
    } catch (const std::bad_alloc &) {
        return {};
    }
}

QByteArray BmpIccProfile(const QByteArray &bmp)
{
    try {
        return ReadBmpIccProfile(bmp);
    } catch (const std::bad_alloc &) {
        return {};
    }
}

bool LooksLikeIccProfile(const QByteArray &profile)
{
    const auto *d = reinterpret_cast<const uchar *>(profile.constData());
    return profile.size() >= 128 && profile.size() <= kMaxIccProfileBytes
        && BigEndian32(d) == quint32(profile.size()) && std::memcmp(d + 36, "acsp", 4) == 0;
}

ColourTransform ColourTransform::ForRgb(const QByteArray &profile)
{
    ColourTransform t;
    t.FEntry = CachedEntry(profile, Purpose::Rgb);
    return t;
}

ColourTransform ColourTransform::ForCmyk(const QByteArray &profile, bool adobeInverted)
{
    ColourTransform t;
    t.FEntry = CachedEntry(profile, adobeInverted ? Purpose::CmykInverted : Purpose::Cmyk);
    return t;
}

bool ColourTransform::IsValid() const
{
    return FEntry && FEntry->Transform;
}

bool ColourTransform::IsIdentity() const
{
    return IsValid() && FEntry->Identity;
}

void ColourTransform::Convert(const uchar *in, qsizetype inStride, uchar *out, qsizetype outStride,
                              int width, int height) const noexcept
{
    if (!IsValid() || width <= 0 || height <= 0)
        return;
    const cmsHTRANSFORM transform = FEntry->Transform;
    const MatrixShortcut *shortcut = FEntry->Shortcut.get();
    const auto rows = [=](int first, int count) {
        if (shortcut) {
            for (int y = first; y < first + count; ++y)
                shortcut->Convert(in + y * inStride, out + y * outStride, width);
            return;
        }
        cmsDoTransformLineStride(transform, in + first * inStride, out + first * outStride,
                                 cmsUInt32Number(width), cmsUInt32Number(count), cmsUInt32Number(inStride),
                                 cmsUInt32Number(outStride), 0, 0);
    };
    // A photo's rows are shared out over the cores (Little CMS converts
    // some 100 megapixels a second on one, the shortcut some 300); a
    // quarter megapixel is worth a thread.
    constexpr qint64 kPixelsPerThread = qint64(1) << 18;
    const int bands = int(std::clamp<qint64>(qint64(width) * height / kPixelsPerThread, 1,
                                             std::max(1u, std::thread::hardware_concurrency())));
    // Converting throws nothing; without memory to share the work out, it
    // is all done here.
    try {
        RunBands(bands, [&](int i) {
            const int first = int(qint64(height) * i / bands);
            rows(first, int(qint64(height) * (i + 1) / bands) - first);
        });
    } catch (const std::bad_alloc &) {
        rows(0, height);
    }
}

bool ConvertToSrgb(QImage &bgr888, const QByteArray &profile)
{
    if (bgr888.isNull() || bgr888.format() != QImage::Format_BGR888)
        return false;
    const ColourTransform transform = ColourTransform::ForRgb(profile);
    if (!transform.IsValid())
        return false;
    if (!transform.IsIdentity()) {
        uchar *bits = bgr888.bits();
        transform.Convert(bits, bgr888.bytesPerLine(), bits, bgr888.bytesPerLine(), bgr888.width(),
                          bgr888.height());
    }
    return true;
}

QString IccProfileName(const QByteArray &profile)
{
    if (!LooksLikeIccProfile(profile))
        return {};
    cmsHPROFILE handle = cmsOpenProfileFromMem(profile.constData(), cmsUInt32Number(profile.size()));
    if (!handle)
        return {};
    wchar_t buffer[256] = {};
    const cmsUInt32Number bytes = cmsGetProfileInfo(handle, cmsInfoDescription, "en", "US", buffer, sizeof buffer);
    cmsCloseProfile(handle);
    if (bytes == 0)
        return {};
    buffer[std::size(buffer) - 1] = 0;
    QString name = QString::fromWCharArray(buffer).trimmed();
    for (QChar &c : name) {
        if (c.category() == QChar::Other_Control)
            c = u' ';
    }
    return name;
}
