#include "ImageResize.h"

// Local
#include "AppError.h"
#include "Bitmap.h"

// Std
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <new>
#include <vector>

// The vector paths are for x86 alone: SSE2 is part of every x86-64 processor
// (and of i386 builds made for it); AVX2 is used only where the processor
// reports it. Other processors, and builds with TAMSEL_PORTABLE_SIMD, compile
// the plain C++ path alone; it gives the same bytes.
#if !defined(TAMSEL_PORTABLE_SIMD) && (defined(__x86_64__) || (defined(__i386__) && defined(__SSE2__)))
#define TAMSEL_RESIZE_X86 1
#include <immintrin.h>
#else
#define TAMSEL_RESIZE_X86 0
#endif

// Every path rounds after each multiplication and each addition, as the SSE2
// and AVX2 instructions do. Where the processor has a fused multiply-add
// (arm64; x86 built for newer processors) compilers would otherwise turn
// a * b + c into it, which rounds once and changes the bytes. This applies to
// the code below, not to the headers above.
#if defined(__clang__)
#pragma clang fp contract(off)
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#endif

int RoundHalfEven(double value)
{
    if (!(value > double(std::numeric_limits<int>::min())))
        return std::numeric_limits<int>::min();
    if (!(value < double(std::numeric_limits<int>::max())))
        return std::numeric_limits<int>::max();
    const double down = std::floor(value);
    const double rest = value - down;
    int result = int(down);
    if (rest > 0.5 || (rest == 0.5 && (result & 1) != 0))
        ++result;
    return result;
}

QSize FitSize(int width, int height, int maxWidth, int maxHeight)
{
    width = std::max(width, 1);
    height = std::max(height, 1);
    maxWidth = std::max(maxWidth, 1);
    maxHeight = std::max(maxHeight, 1);
    const float rw = float(double(maxWidth) / width);
    const float rh = float(double(maxHeight) / height);
    const float r = std::min(rw, rh);
    if (r > 1)
        return QSize(width, height);
    return QSize(std::max(1, RoundHalfEven(double(width) * r)),
                 std::max(1, RoundHalfEven(double(height) * r)));
}

TResizePath FastestResizePath()
{
#if TAMSEL_RESIZE_X86
    static const bool avx2 = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return avx2 ? rpAvx2 : rpSse2;
#else
    return rpPortable;
#endif
}

namespace {

// The fastest path the scalers may use; tests lower it to compare the paths.
std::atomic<int> gPathLimit{rpAvx2};

// The path of one scaling, chosen when it starts.
TResizePath CurrentPath()
{
    return std::min(FastestResizePath(), TResizePath(gPathLimit.load(std::memory_order_relaxed)));
}

// Positions are 16.16 fixed point: the whole pixel index above the fraction.
constexpr int kFractionBits = 16;
// Weights run from 0 to this.
constexpr int kWeightMax = 255;

inline int WeightAt(qint64 position)
{
    return kWeightMax - int((position >> 8) & 0xFF);
}

// blend(p, q, w) is (p * w) div 256 + (q * (255 - w)) div 256, except that
// w = 255 gives p and w = 0 gives q exactly. Writing it as
// (p * wp) div 256 + (q * wq) div 256 with the pairs (256, 0) and (0, 256)
// at the two ends lets one formula, and one vector path, serve all weights.
struct BlendPair
{
    int p;
    int q;
};

inline BlendPair PairFor(int w)
{
    if (w == kWeightMax)
        return {256, 0};
    if (w == 0)
        return {0, 256};
    return {w, kWeightMax - w};
}

inline int Blend(int p, int q, BlendPair w)
{
    return ((p * w.p) >> 8) + ((q * w.q) >> 8);
}

#if TAMSEL_RESIZE_X86
// Horizontal weights of one destination pixel for the vector path: wp for
// the three bytes of pixel c, wq for those of pixel c + 1.
struct alignas(16) WeightLanes
{
    short Lane[8];
};

inline void Store4(uchar *to, int value)
{
    std::memcpy(to, &value, 4);
}
#endif

// Which source pixels and weights every destination pixel uses. Made once
// per scaling; the positions are accumulated in 64 bits so that sources
// wider than 32768 pixels work too. The SSE2 path makes the pixels it can
// reach, the plain formula the rest (all of them on the portable path); both
// give the same bytes.
class BilinearPlan
{
public:
    BilinearPlan(int srcWidth, int srcHeight, int dstWidth, int dstHeight)
        : FDstWidth(dstWidth)
    {
        const qint64 xstep = (qint64(srcWidth - 1) << kFractionBits) / dstWidth;
        const qint64 ystep = (qint64(srcHeight - 1) << kFractionBits) / dstHeight;

        FOffset.resize(dstWidth);
        FNext.resize(dstWidth);
        FWx.resize(dstWidth);
        FSimdEnd = 0;
#if TAMSEL_RESIZE_X86
        const bool simd = CurrentPath() >= rpSse2;
        if (simd)
            FWxVector.resize(dstWidth);
#endif
        qint64 px = 0;
        for (int x = 0; x < dstWidth; ++x, px += xstep) {
            const int c = int(px >> kFractionBits);
            FOffset[x] = 3 * c;
            FNext[x] = c + 1 < srcWidth ? 3 : 0;
            const BlendPair w = PairFor(WeightAt(px));
            FWx[x] = w;
#if TAMSEL_RESIZE_X86
            if (!simd)
                continue;
            FWxVector[x] = WeightLanes{{short(w.p), short(w.p), short(w.p), short(w.q), short(w.q), short(w.q), 0, 0}};
            // The vector path reads 8 bytes from pixel c (so c + 2 must
            // exist) and writes 4 bytes at pixel x (so x is not the last).
            if (c + 2 < srcWidth && x + 1 < dstWidth)
                FSimdEnd = x + 1;
#endif
        }

        FRowA.resize(dstHeight);
        FRowB.resize(dstHeight);
        FWy.resize(dstHeight);
        qint64 py = 0;
        for (int y = 0; y < dstHeight; ++y, py += ystep) {
            const int a = int(py >> kFractionBits);
            FRowA[y] = a;
            FRowB[y] = a + 1 < srcHeight ? a + 1 : a;
            FWy[y] = PairFor(WeightAt(py));
        }
    }

    int RowA(int y) const { return FRowA[y]; }
    int RowB(int y) const { return FRowB[y]; }

    // Destination row y from its upper (a) and lower (b) source rows.
    void MakeRow(const uchar *a, const uchar *b, int y, uchar *out) const
    {
        const BlendPair wy = FWy[y];
        int x = 0;
#if TAMSEL_RESIZE_X86
        const __m128i zero = _mm_setzero_si128();
        const __m128i wa = _mm_set1_epi16(short(wy.p));
        const __m128i wb = _mm_set1_epi16(short(wy.q));
        // Two destination pixels per step: their pixel pairs (c, c + 1) of
        // both rows are blended vertically, then horizontally, in 16-bit
        // lanes with the same truncations as the scalar formula.
        for (; x + 1 < FSimdEnd; x += 2) {
            const int o0 = FOffset[x];
            const int o1 = FOffset[x + 1];
            const __m128i va = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(a + o0)),
                                                  _mm_loadl_epi64(reinterpret_cast<const __m128i *>(a + o1)));
            const __m128i vb = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(b + o0)),
                                                  _mm_loadl_epi64(reinterpret_cast<const __m128i *>(b + o1)));
            // Bytes in the high half of each lane make mulhi give (p * w) >> 8.
            const __m128i t0 = _mm_add_epi16(_mm_mulhi_epu16(_mm_unpacklo_epi8(zero, va), wa),
                                             _mm_mulhi_epu16(_mm_unpacklo_epi8(zero, vb), wb));
            const __m128i t1 = _mm_add_epi16(_mm_mulhi_epu16(_mm_unpackhi_epi8(zero, va), wa),
                                             _mm_mulhi_epu16(_mm_unpackhi_epi8(zero, vb), wb));
            __m128i h0 = _mm_srli_epi16(_mm_mullo_epi16(t0, Lanes(x)), 8);
            __m128i h1 = _mm_srli_epi16(_mm_mullo_epi16(t1, Lanes(x + 1)), 8);
            h0 = _mm_add_epi16(h0, _mm_srli_si128(h0, 6));
            h1 = _mm_add_epi16(h1, _mm_srli_si128(h1, 6));
            const __m128i px = _mm_packus_epi16(h0, h1);
            // Each store writes one byte of the next pixel, which that pixel
            // then overwrites.
            Store4(out + 3 * x, _mm_cvtsi128_si32(px));
            Store4(out + 3 * x + 3, _mm_cvtsi128_si32(_mm_srli_si128(px, 8)));
        }
#endif
        for (; x < FDstWidth; ++x) {
            const int c = FOffset[x];
            const int d = c + FNext[x];
            const BlendPair wx = FWx[x];
            for (int k = 0; k < 3; ++k) {
                const int t1 = Blend(a[c + k], b[c + k], wy);
                const int t2 = Blend(a[d + k], b[d + k], wy);
                out[3 * x + k] = uchar(Blend(t1, t2, wx));
            }
        }
    }

private:
#if TAMSEL_RESIZE_X86
    __m128i Lanes(int x) const { return _mm_load_si128(reinterpret_cast<const __m128i *>(FWxVector[x].Lane)); }
#endif

    int FDstWidth;
    int FSimdEnd;   // the vector path makes pixels [0, FSimdEnd) in pairs
    std::vector<int> FOffset;
    std::vector<int> FNext;
    std::vector<BlendPair> FWx;
#if TAMSEL_RESIZE_X86
    std::vector<WeightLanes> FWxVector;
#endif
    std::vector<int> FRowA;
    std::vector<int> FRowB;
    std::vector<BlendPair> FWy;
};

} // namespace

void BilinearResize(const QImage &src, QImage &dst)
{
    const int dw = dst.width();
    const int dh = dst.height();
    if (dw <= 0 || dh <= 0 || src.width() <= 0 || src.height() <= 0)
        return;
    // A local reference keeps the source alive when src and dst share it.
    const QImage source = ToBitmap24(src);
    if (dst.format() != QImage::Format_BGR888)
        dst = NewBitmap(dw, dh);

    const BilinearPlan plan(source.width(), source.height(), dw, dh);
    uchar *out = dst.bits();
    const qsizetype outStride = dst.bytesPerLine();
    for (int y = 0; y < dh; ++y)
        plan.MakeRow(source.constScanLine(plan.RowA(y)), source.constScanLine(plan.RowB(y)), y,
                     out + y * outStride);
}

struct BilinearRowScaler::Impl
{
    // Rows kept: the lower row of the pair being blended, the one above it,
    // and the rows requested ahead.
    static constexpr int kRing = 8;
    static_assert(kRing >= kLookahead + 2);

    Impl(int srcWidth, int srcHeight, QImage &dst, int firstDstRow, int endDstRow)
        : Plan(srcWidth, srcHeight, dst.width(), dst.height())
        , DstHeight(endDstRow)
        , Out(dst.bits())
        , OutStride(dst.bytesPerLine())
        , RowStride(3 * qsizetype(srcWidth) + 16)
    {
        Ring.resize(size_t(RowStride) * kRing);
        NextRow = firstDstRow;
    }

    BilinearPlan Plan;
    int DstHeight;
    uchar *Out;
    qsizetype OutStride;
    qsizetype RowStride;
    std::vector<uchar> Ring;
    int NextRow = 0;

    uchar *Slot(int y) { return Ring.data() + (y % kRing) * RowStride; }
};

BilinearRowScaler::BilinearRowScaler(int srcWidth, int srcHeight, QImage &dst)
    : BilinearRowScaler(srcWidth, srcHeight, dst, 0, dst.height())
{
}

BilinearRowScaler::BilinearRowScaler(int srcWidth, int srcHeight, QImage &dst, int firstDstRow, int endDstRow)
{
    if (srcWidth <= 0 || srcHeight <= 0 || dst.width() <= 0 || dst.height() <= 0
        || dst.format() != QImage::Format_BGR888)
        throw AppError(QStringLiteral("Cannot scale a picture without pixels"));
    firstDstRow = std::clamp(firstDstRow, 0, dst.height());
    endDstRow = std::clamp(endDstRow, firstDstRow, dst.height());
    try {
        d = std::make_unique<Impl>(srcWidth, srcHeight, dst, firstDstRow, endDstRow);
    } catch (const std::bad_alloc &) {
        throw AppError(QStringLiteral("Not enough memory to scale the picture"));
    }
}

BilinearRowScaler::~BilinearRowScaler() = default;

std::pair<int, int> BilinearRowScaler::SourceRows(int srcHeight, int dstHeight, int firstDstRow, int endDstRow)
{
    if (srcHeight <= 0 || dstHeight <= 0 || firstDstRow >= endDstRow)
        return {0, 0};
    const BilinearPlan plan(1, srcHeight, 1, dstHeight);
    return {plan.RowA(std::max(firstDstRow, 0)), plan.RowB(std::min(endDstRow, dstHeight) - 1) + 1};
}

uchar *BilinearRowScaler::RowBuffer(int y) noexcept
{
    return d->Slot(y);
}

void BilinearRowScaler::RowsDone(int firstRow, int count) noexcept
{
    for (int r = firstRow; r < firstRow + count; ++r) {
        while (d->NextRow < d->DstHeight && d->Plan.RowB(d->NextRow) <= r) {
            const int y = d->NextRow++;
            d->Plan.MakeRow(d->Slot(d->Plan.RowA(y)), d->Slot(d->Plan.RowB(y)), y, d->Out + y * d->OutStride);
        }
    }
}

namespace {

constexpr double kPi = 3.14159265358979323846;

float SincOf(float x)
{
    if (x == 0)
        return 1;
    const float y = float(x * kPi);
    return float(std::sin(double(y)) / double(y));
}

float Lanczos3Kernel(float x)
{
    const float t = std::fabs(x);
    if (t < 3)
        return float(double(SincOf(t)) * double(SincOf(t / 3)));
    return 0;
}

float HermiteKernel(float x)
{
    const double t = std::fabs(x);
    if (t < 1)
        return float((2 * t - 3) * t * t + 1);
    return 0;
}

float BSplineKernel(float x)
{
    const double t = std::fabs(x);
    if (t < 1)
        return float(0.5 * t * t * t - t * t + 2.0 / 3.0);
    if (t < 2) {
        const double u = 2 - t;
        return float(u * u * u / 6);
    }
    return 0;
}

struct ResizeKernel
{
    float (*Function)(float);
    float Support;
};

// Indexed by the kernel selector.
constexpr ResizeKernel kKernels[] = {
    {Lanczos3Kernel, 3.0f},
    {HermiteKernel, 1.0f},
    {BSplineKernel, 2.0f},
};

// No resampling may need more contributor entries than this (a source some
// millions of pixels long); beyond it the lists alone would take gigabytes.
constexpr qint64 kMaxContributors = qint64(64) * 1024 * 1024;

[[noreturn]] void TooLargeToResize()
{
    throw AppError(QStringLiteral("The picture is too large to resize"));
}

// Brings an index outside 0 .. size - 1 back in: the left edge reflects
// without repeating pixel 0 (-1 reads 1), the right edge reflects repeating
// the last pixel (size reads size - 1). Sources narrower than the kernel's
// reach need more than one reflection.
int Mirror(qint64 j, int size)
{
    for (;;) {
        if (j < 0)
            j = -j;
        else if (j >= size)
            j = 2 * qint64(size) - 1 - j;
        else
            return int(j);
    }
}

// The contributor lists of one pass. Each destination position reads the
// source positions First[i] .. First[i] + Count - 1 (before reflection) with
// the weights of its row in Weights; lists shorter than Count end in zero
// weights, which add nothing to a sum.
struct Contributors
{
    int Count = 0;
    std::vector<qint64> First;
    std::vector<float> Weights;
    qint64 Low = 0;   // lowest and highest source position read
    qint64 High = 0;

    const float *WeightsOf(int i) const { return Weights.data() + size_t(i) * size_t(Count); }
};

Contributors MakeContributors(int srcSize, int dstSize, const ResizeKernel &kernel)
{
    Contributors result;
    result.First.resize(dstSize);

    // A single destination pixel from a longer source: the scale factor would
    // be 0 and the reach endless, so it becomes the plain average instead.
    if (dstSize == 1 && srcSize > 1) {
        result.Count = srcSize;
        if (result.Count > kMaxContributors)
            TooLargeToResize();
        result.First[0] = 0;
        result.Weights.assign(size_t(srcSize), float(1.0 / srcSize));
        result.Low = 0;
        result.High = srcSize - 1;
        return result;
    }

    // The first and last pixel centres of source and destination meet.
    const float scale = srcSize == 1 ? float(dstSize) / float(srcSize)
                                     : float(dstSize - 1) / float(srcSize - 1);
    float width = kernel.Support;
    float fscale = 1;
    if (scale < 1) {
        width = kernel.Support / scale;
        fscale = 1 / scale;
    }
    if ((2 * double(width) + 3) * dstSize > double(kMaxContributors))
        TooLargeToResize();

    std::vector<float> lists;
    std::vector<int> counts(dstSize);
    const size_t room = size_t(2 * double(width)) + 4;
    lists.resize(room * size_t(dstSize));
    for (int i = 0; i < dstSize; ++i) {
        const float center = float(i) / scale;
        const qint64 left = qint64(std::floor(center - width));
        const qint64 right = qint64(std::ceil(center + width));
        float *list = lists.data() + size_t(i) * room;
        int n = 0;
        qint64 first = 0;
        for (qint64 j = left; j <= right; ++j) {
            const float arg = (center - float(j)) / fscale;
            const float weight = kernel.Function(arg) / fscale;
            if (weight == 0 && n == 0)
                continue;
            if (n == 0)
                first = j;
            list[n++] = weight;
        }
        // Zero weights after the last non-zero one are dropped (skipped).
        while (n > 0 && list[n - 1] == 0)
            --n;
        if (n == 0) {
            first = std::clamp<qint64>(qint64(std::lround(center)), 0, srcSize - 1);
            list[n++] = 0;
        }
        result.First[i] = first;
        counts[i] = n;
        result.Count = std::max(result.Count, n);
    }

    result.Weights.assign(size_t(result.Count) * size_t(dstSize), 0.0f);
    result.Low = result.First[0];
    result.High = result.First[0];
    for (int i = 0; i < dstSize; ++i) {
        std::copy_n(lists.data() + size_t(i) * room, counts[i], result.Weights.data() + size_t(i) * size_t(result.Count));
        result.Low = std::min(result.Low, result.First[i]);
        result.High = std::max(result.High, result.First[i] + result.Count - 1);
    }
    return result;
}

// A gallery resizes photo after photo of one size to one box, so the lists
// (whose weights cost two sines each) are kept for the last few sizes, per
// thread. Very long lists are not kept.
std::shared_ptr<const Contributors> CachedContributors(int srcSize, int dstSize, std::uint8_t kernel)
{
    struct Entry
    {
        int SrcSize;
        int DstSize;
        std::uint8_t Kernel;
        std::shared_ptr<const Contributors> Lists;
    };
    constexpr size_t kEntries = 4;
    constexpr size_t kMaxKeptWeights = 1 << 20;
    thread_local std::vector<Entry> cache;

    for (size_t i = 0; i < cache.size(); ++i) {
        if (cache[i].SrcSize == srcSize && cache[i].DstSize == dstSize && cache[i].Kernel == kernel) {
            std::rotate(cache.begin(), cache.begin() + qsizetype(i), cache.begin() + qsizetype(i) + 1);
            return cache.front().Lists;
        }
    }
    auto lists = std::make_shared<const Contributors>(MakeContributors(srcSize, dstSize, kKernels[kernel]));
    if (lists->Weights.size() <= kMaxKeptWeights) {
        if (cache.size() == kEntries)
            cache.pop_back();
        cache.insert(cache.begin(), Entry{srcSize, dstSize, kernel, lists});
    }
    return lists;
}

// The two passes of FilterResize, in plain C++ and on x86 also in SSE2 and
// (where the processor has it) AVX2. All do the same operations on each
// float lane in the same order, so they give the same bytes; FMA is never
// used, as a fused multiply-add rounds once instead of twice.

// The horizontal pass runs on blocks of this many source rows at once, so
// that each weight is fetched once for all of them.
constexpr int kBlockRows = 4;

// A block's source rows as floats, widened by the reflections: source
// position p of row r sits at ext[16 * (p - Low) + 4 * r], blue, green, red
// and a zero.
constexpr int kPixelFloats = 4 * kBlockRows;

inline void PixelToFloats(const uchar *pixel, float *to)
{
    to[0] = pixel[0];
    to[1] = pixel[1];
    to[2] = pixel[2];
    to[3] = 0;
}

// Clamps a sum to a byte value: below 0 gives 0, 255 and above give 255,
// otherwise truncated toward zero. Written as the vector code's max, min and
// truncation.
inline int ClampTruncate(float v)
{
    v = v > 0.0f ? v : 0.0f;
    v = v < 255.0f ? v : 255.0f;
    return int(v);
}

// The portable path. Its sums are those of the vector code lane for lane
// (the same products added in the same order, starting at 0); the loops over
// the lanes are left to the compiler.

void ConvertBlockPortable(const uchar *const rows[kBlockRows], int begin, int end, float *to)
{
    for (int j = begin; j < end; ++j, to += kPixelFloats)
        for (int r = 0; r < kBlockRows; ++r)
            PixelToFloats(rows[r] + 3 * j, to + 4 * r);
}

void HorizontalPortable(const float *ext, const Contributors &columns, int dw, float *const out[kBlockRows])
{
    const int count = columns.Count;
    for (int i = 0; i < dw; ++i) {
        const float *p = ext + kPixelFloats * (columns.First[i] - columns.Low);
        const float *w = columns.WeightsOf(i);
        // Blue, green, red and the zero of each of the block's rows.
        float sum[kPixelFloats] = {};
        for (int t = 0; t < count; ++t, p += kPixelFloats) {
#pragma GCC unroll 16
            for (int k = 0; k < kPixelFloats; ++k)
                sum[k] = sum[k] + p[k] * w[t];
        }
        for (int r = 0; r < kBlockRows; ++r)
            for (int c = 0; c < 3; ++c)
                out[r][3 * i + c] = float(ClampTruncate(sum[4 * r + c]));
    }
}

void VerticalPortable(const float *const *rows, const float *weights, int n, int values, uchar *out)
{
    constexpr int kGroup = 16;
    int x = 0;
    for (; x + kGroup <= values; x += kGroup) {
        float sum[kGroup] = {};
        for (int t = 0; t < n; ++t) {
            const float *p = rows[t] + x;
#pragma GCC unroll 16
            for (int k = 0; k < kGroup; ++k)
                sum[k] = sum[k] + p[k] * weights[t];
        }
        for (int k = 0; k < kGroup; ++k)
            out[x + k] = uchar(ClampTruncate(sum[k]));
    }
    for (; x < values; ++x) {
        float sum = 0;
        for (int t = 0; t < n; ++t)
            sum = sum + rows[t][x] * weights[t];
        out[x] = uchar(ClampTruncate(sum));
    }
}

#if TAMSEL_RESIZE_X86

inline __m128 ClampTruncate(__m128 v)
{
    v = _mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), _mm_set1_ps(255.0f));
    return _mm_cvtepi32_ps(_mm_cvttps_epi32(v));
}

__attribute__((target("avx2"))) inline __m256 ClampTruncate256(__m256 v)
{
    v = _mm256_min_ps(_mm256_max_ps(v, _mm256_setzero_ps()), _mm256_set1_ps(255.0f));
    return _mm256_cvtepi32_ps(_mm256_cvttps_epi32(v));
}

// Converts pixels [begin, end) of the block's source rows into ext (which
// points at pixel begin). Pixel by pixel, all rows together, so that each
// pixel's 64 bytes are written at once.
void ConvertBlockSse2(const uchar *const rows[kBlockRows], int begin, int end, int width, float *to)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i mask = _mm_setr_epi32(0x00FFFFFF, 0, 0, 0);
    int j = begin;
    // Four bytes are read per pixel: not at the row's last pixel.
    for (; j < end && j + 1 < width; ++j, to += kPixelFloats) {
        for (int r = 0; r < kBlockRows; ++r) {
            int bytes;
            std::memcpy(&bytes, rows[r] + 3 * j, 4);
            const __m128i v = _mm_and_si128(_mm_cvtsi32_si128(bytes), mask);
            _mm_storeu_ps(to + 4 * r, _mm_cvtepi32_ps(_mm_unpacklo_epi16(_mm_unpacklo_epi8(v, zero), zero)));
        }
    }
    for (; j < end; ++j, to += kPixelFloats)
        for (int r = 0; r < kBlockRows; ++r)
            PixelToFloats(rows[r] + 3 * j, to + 4 * r);
}

__attribute__((target("avx2"))) void ConvertBlockAvx2(const uchar *const rows[kBlockRows], int begin, int end, int width,
                                                      float *to)
{
    static_assert(kBlockRows == 4);
    // Four pixels from 12 of 16 bytes read, each widened to blue, green,
    // red and a zero.
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    int j = begin;
    for (; j + 4 <= end && 3 * j + 16 <= 3 * width; j += 4, to += 4 * kPixelFloats) {
        // Two rows at a time: their pixels 0 and 1, and 2 and 3, regrouped
        // per pixel into the pixel's half for those rows.
        for (int r = 0; r < kBlockRows; r += 2) {
            const __m128i u = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[r] + 3 * j)), spread);
            const __m128i v = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[r + 1] + 3 * j)), spread);
            const __m256 u01 = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(u));
            const __m256 v01 = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(v));
            const __m256 u23 = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_srli_si128(u, 8)));
            const __m256 v23 = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_srli_si128(v, 8)));
            float *half = to + 4 * r;
            _mm256_storeu_ps(half, _mm256_permute2f128_ps(u01, v01, 0x20));
            _mm256_storeu_ps(half + kPixelFloats, _mm256_permute2f128_ps(u01, v01, 0x31));
            _mm256_storeu_ps(half + 2 * kPixelFloats, _mm256_permute2f128_ps(u23, v23, 0x20));
            _mm256_storeu_ps(half + 3 * kPixelFloats, _mm256_permute2f128_ps(u23, v23, 0x31));
        }
    }
    ConvertBlockSse2(rows, j, end, width, to);
}

// Columns [0, dw) of the block's four working rows. Sums start at 0 and add
// weight x value in list order.
void HorizontalSse2(const float *ext, const Contributors &columns, int dw, float *const out[kBlockRows])
{
    const int count = columns.Count;
    const auto base = [&](int i) { return ext + kPixelFloats * (columns.First[i] - columns.Low); };
    int i = 0;
    for (; i + 2 <= dw; i += 2) {
        const float *p0 = base(i);
        const float *p1 = base(i + 1);
        const float *w0 = columns.WeightsOf(i);
        const float *w1 = w0 + count;
        __m128 a[kBlockRows];
        __m128 b[kBlockRows];
        for (int r = 0; r < kBlockRows; ++r)
            a[r] = b[r] = _mm_setzero_ps();
        for (int t = 0; t < count; ++t, p0 += kPixelFloats, p1 += kPixelFloats) {
            const __m128 u = _mm_set1_ps(w0[t]);
            const __m128 v = _mm_set1_ps(w1[t]);
            for (int r = 0; r < kBlockRows; ++r) {
                a[r] = _mm_add_ps(a[r], _mm_mul_ps(_mm_loadu_ps(p0 + 4 * r), u));
                b[r] = _mm_add_ps(b[r], _mm_mul_ps(_mm_loadu_ps(p1 + 4 * r), v));
            }
        }
        // Column i before i + 1: each store's fourth float is overwritten by
        // the next column's.
        for (int r = 0; r < kBlockRows; ++r) {
            _mm_storeu_ps(out[r] + 3 * i, ClampTruncate(a[r]));
            _mm_storeu_ps(out[r] + 3 * i + 3, ClampTruncate(b[r]));
        }
    }
    for (; i < dw; ++i) {
        const float *p = base(i);
        const float *w = columns.WeightsOf(i);
        __m128 a[kBlockRows];
        for (int r = 0; r < kBlockRows; ++r)
            a[r] = _mm_setzero_ps();
        for (int t = 0; t < count; ++t, p += kPixelFloats) {
            const __m128 u = _mm_set1_ps(w[t]);
            for (int r = 0; r < kBlockRows; ++r)
                a[r] = _mm_add_ps(a[r], _mm_mul_ps(_mm_loadu_ps(p + 4 * r), u));
        }
        for (int r = 0; r < kBlockRows; ++r)
            _mm_storeu_ps(out[r] + 3 * i, ClampTruncate(a[r]));
    }
}

__attribute__((target("avx2"))) inline void StoreColumn(float *const out[kBlockRows], int i, __m256 rows01, __m256 rows23)
{
    rows01 = ClampTruncate256(rows01);
    rows23 = ClampTruncate256(rows23);
    _mm_storeu_ps(out[0] + 3 * i, _mm256_castps256_ps128(rows01));
    _mm_storeu_ps(out[1] + 3 * i, _mm256_extractf128_ps(rows01, 1));
    _mm_storeu_ps(out[2] + 3 * i, _mm256_castps256_ps128(rows23));
    _mm_storeu_ps(out[3] + 3 * i, _mm256_extractf128_ps(rows23, 1));
}

__attribute__((target("avx2"))) void HorizontalAvx2(const float *ext, const Contributors &columns, int dw,
                                                    float *const out[kBlockRows])
{
    static_assert(kBlockRows == 4);
    const int count = columns.Count;
    const auto base = [&](int i) { return ext + kPixelFloats * (columns.First[i] - columns.Low); };
    int i = 0;
    // Four columns at a time, two registers each (rows 0 and 1, rows 2 and 3).
    for (; i + 4 <= dw; i += 4) {
        const float *p[4] = {base(i), base(i + 1), base(i + 2), base(i + 3)};
        const float *w = columns.WeightsOf(i);
        __m256 a0 = _mm256_setzero_ps(), b0 = _mm256_setzero_ps();
        __m256 a1 = _mm256_setzero_ps(), b1 = _mm256_setzero_ps();
        __m256 a2 = _mm256_setzero_ps(), b2 = _mm256_setzero_ps();
        __m256 a3 = _mm256_setzero_ps(), b3 = _mm256_setzero_ps();
        for (int t = 0; t < count; ++t) {
            const int o = kPixelFloats * t;
            const __m256 w0 = _mm256_broadcast_ss(w + t);
            const __m256 w1 = _mm256_broadcast_ss(w + count + t);
            const __m256 w2 = _mm256_broadcast_ss(w + 2 * count + t);
            const __m256 w3 = _mm256_broadcast_ss(w + 3 * count + t);
            a0 = _mm256_add_ps(a0, _mm256_mul_ps(_mm256_loadu_ps(p[0] + o), w0));
            b0 = _mm256_add_ps(b0, _mm256_mul_ps(_mm256_loadu_ps(p[0] + o + 8), w0));
            a1 = _mm256_add_ps(a1, _mm256_mul_ps(_mm256_loadu_ps(p[1] + o), w1));
            b1 = _mm256_add_ps(b1, _mm256_mul_ps(_mm256_loadu_ps(p[1] + o + 8), w1));
            a2 = _mm256_add_ps(a2, _mm256_mul_ps(_mm256_loadu_ps(p[2] + o), w2));
            b2 = _mm256_add_ps(b2, _mm256_mul_ps(_mm256_loadu_ps(p[2] + o + 8), w2));
            a3 = _mm256_add_ps(a3, _mm256_mul_ps(_mm256_loadu_ps(p[3] + o), w3));
            b3 = _mm256_add_ps(b3, _mm256_mul_ps(_mm256_loadu_ps(p[3] + o + 8), w3));
        }
        StoreColumn(out, i, a0, b0);
        StoreColumn(out, i + 1, a1, b1);
        StoreColumn(out, i + 2, a2, b2);
        StoreColumn(out, i + 3, a3, b3);
    }
    for (; i < dw; ++i) {
        const float *p = base(i);
        const float *w = columns.WeightsOf(i);
        __m256 a = _mm256_setzero_ps();
        __m256 b = _mm256_setzero_ps();
        for (int t = 0; t < count; ++t, p += kPixelFloats) {
            const __m256 u = _mm256_broadcast_ss(w + t);
            a = _mm256_add_ps(a, _mm256_mul_ps(_mm256_loadu_ps(p), u));
            b = _mm256_add_ps(b, _mm256_mul_ps(_mm256_loadu_ps(p + 8), u));
        }
        StoreColumn(out, i, a, b);
    }
}

// Destination values [x, values) of one row: each the sum over the list's
// working rows, in list order.
void VerticalSse2(const float *const *rows, const float *weights, int n, int x, int values, uchar *out)
{
    for (; x + 16 <= values; x += 16) {
        __m128 s0 = _mm_setzero_ps();
        __m128 s1 = _mm_setzero_ps();
        __m128 s2 = _mm_setzero_ps();
        __m128 s3 = _mm_setzero_ps();
        for (int t = 0; t < n; ++t) {
            const float *p = rows[t] + x;
            const __m128 w = _mm_set1_ps(weights[t]);
            s0 = _mm_add_ps(s0, _mm_mul_ps(_mm_load_ps(p), w));
            s1 = _mm_add_ps(s1, _mm_mul_ps(_mm_load_ps(p + 4), w));
            s2 = _mm_add_ps(s2, _mm_mul_ps(_mm_load_ps(p + 8), w));
            s3 = _mm_add_ps(s3, _mm_mul_ps(_mm_load_ps(p + 12), w));
        }
        const __m128i i01 = _mm_packs_epi32(_mm_cvttps_epi32(ClampTruncate(s0)), _mm_cvttps_epi32(ClampTruncate(s1)));
        const __m128i i23 = _mm_packs_epi32(_mm_cvttps_epi32(ClampTruncate(s2)), _mm_cvttps_epi32(ClampTruncate(s3)));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x), _mm_packus_epi16(i01, i23));
    }
    // The rows are padded to whole groups of four floats.
    for (; x < values; x += 4) {
        __m128 s = _mm_setzero_ps();
        for (int t = 0; t < n; ++t)
            s = _mm_add_ps(s, _mm_mul_ps(_mm_load_ps(rows[t] + x), _mm_set1_ps(weights[t])));
        alignas(16) float v[4];
        _mm_store_ps(v, ClampTruncate(s));
        for (int k = 0; k < 4 && x + k < values; ++k)
            out[x + k] = uchar(v[k]);
    }
}

__attribute__((target("avx2"))) void VerticalAvx2(const float *const *rows, const float *weights, int n, int values,
                                                  uchar *out)
{
    // packs and packus work within 128-bit halves; this puts the groups of
    // four bytes back in order.
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    int x = 0;
    for (; x + 32 <= values; x += 32) {
        __m256 s0 = _mm256_setzero_ps();
        __m256 s1 = _mm256_setzero_ps();
        __m256 s2 = _mm256_setzero_ps();
        __m256 s3 = _mm256_setzero_ps();
        for (int t = 0; t < n; ++t) {
            const float *p = rows[t] + x;
            const __m256 w = _mm256_broadcast_ss(weights + t);
            s0 = _mm256_add_ps(s0, _mm256_mul_ps(_mm256_loadu_ps(p), w));
            s1 = _mm256_add_ps(s1, _mm256_mul_ps(_mm256_loadu_ps(p + 8), w));
            s2 = _mm256_add_ps(s2, _mm256_mul_ps(_mm256_loadu_ps(p + 16), w));
            s3 = _mm256_add_ps(s3, _mm256_mul_ps(_mm256_loadu_ps(p + 24), w));
        }
        const __m256i i01 = _mm256_packs_epi32(_mm256_cvttps_epi32(ClampTruncate256(s0)),
                                               _mm256_cvttps_epi32(ClampTruncate256(s1)));
        const __m256i i23 = _mm256_packs_epi32(_mm256_cvttps_epi32(ClampTruncate256(s2)),
                                               _mm256_cvttps_epi32(ClampTruncate256(s3)));
        const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(i01, i23), order);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + x), bytes);
    }
    VerticalSse2(rows, weights, n, x, values, out);
}

#endif // TAMSEL_RESIZE_X86

// One resampling: the contributor lists of both passes and the rows of the
// intermediate bitmap (dw columns by sh rows) that the vertical pass is
// reading at the moment, kept in a ring of blocks. The intermediate rows hold
// the clamped, truncated byte values as floats, three per pixel.
class FilterPlan
{
public:
    FilterPlan(const QImage &src, int dw, int dh, std::uint8_t kernel)
        : FSrc(src)
        , FSrcWidth(src.width())
        , FSrcHeight(src.height())
        , FDstWidth(dw)
        , FDstHeight(dh)
        , FPath(CurrentPath())
        , FColumnLists(CachedContributors(FSrcWidth, dw, kernel))
        , FRowLists(CachedContributors(FSrcHeight, dh, kernel))
        , FColumns(*FColumnLists)
        , FRows(*FRowLists)
    {

        // The horizontal pass reads a float copy of the source rows widened
        // by their reflections, so that every column's list is one run.
        const qint64 extPixels = FColumns.High - FColumns.Low + 2;
        if (extPixels > kMaxContributors)
            TooLargeToResize();
        FExtended.assign(size_t(extPixels) * kPixelFloats, 0.0f);

        // Enough blocks for the widest set of rows one destination row reads.
        FRowStride = (size_t(dw) * 3 + 1 + 7) & ~size_t(7);
        qint64 blocks = 1;
        for (int r = 0; r < dh; ++r) {
            int lo = FSrcHeight;
            int hi = -1;
            const float *w = FRows.WeightsOf(r);
            for (int t = 0; t < FRows.Count; ++t) {
                if (w[t] == 0)
                    continue;
                const int k = Mirror(FRows.First[r] + t, FSrcHeight);
                lo = std::min(lo, k);
                hi = std::max(hi, k);
            }
            if (hi >= 0)
                blocks = std::max<qint64>(blocks, hi / kBlockRows - lo / kBlockRows + 1);
        }
        FRingBlocks = int(blocks);
        if (qint64(FRingBlocks) * kBlockRows * qint64(FRowStride) > kMaxContributors * 4)
            TooLargeToResize();
        FRing.assign(size_t(FRingBlocks) * kBlockRows * FRowStride, 0.0f);
        FRingTag.assign(size_t(FRingBlocks), -1);
    }

    void Run(QImage &dst)
    {
        uchar *out = dst.bits();
        const qsizetype outStride = dst.bytesPerLine();
        std::vector<const float *> rows(size_t(FRows.Count));
        std::vector<float> weights(size_t(FRows.Count));
        for (int r = 0; r < FDstHeight; ++r) {
            const float *w = FRows.WeightsOf(r);
            int n = 0;
            // Zero weights add nothing; their rows need not be made.
            for (int t = 0; t < FRows.Count; ++t) {
                if (w[t] == 0)
                    continue;
                rows[n] = WorkingRow(Mirror(FRows.First[r] + t, FSrcHeight));
                weights[n] = w[t];
                ++n;
            }
            uchar *line = out + r * outStride;
            switch (FPath) {
#if TAMSEL_RESIZE_X86
            case rpAvx2:
                VerticalAvx2(rows.data(), weights.data(), n, 3 * FDstWidth, line);
                break;
            case rpSse2:
                VerticalSse2(rows.data(), weights.data(), n, 0, 3 * FDstWidth, line);
                break;
#endif
            default:
                VerticalPortable(rows.data(), weights.data(), n, 3 * FDstWidth, line);
                break;
            }
        }
    }

private:
    // Intermediate row k; its block is made by the horizontal pass when not
    // at hand.
    const float *WorkingRow(int k)
    {
        const int block = k / kBlockRows;
        const size_t slot = size_t(block % FRingBlocks);
        float *rows = FRing.data() + slot * kBlockRows * FRowStride;
        if (FRingTag[slot] != block) {
            MakeBlock(block, rows);
            FRingTag[slot] = block;
        }
        return rows + size_t(k % kBlockRows) * FRowStride;
    }

    void MakeBlock(int block, float *rows)
    {
        // Past the last source row the block repeats it; those rows are
        // never read.
        const uchar *src[kBlockRows];
        float *out[kBlockRows];
        for (int r = 0; r < kBlockRows; ++r) {
            src[r] = FSrc.constScanLine(std::min(block * kBlockRows + r, FSrcHeight - 1));
            out[r] = rows + size_t(r) * FRowStride;
        }

        float *ext = FExtended.data();
        const qint64 low = FColumns.Low;
        const qint64 high = FColumns.High + 1;
        const qint64 inStart = std::clamp<qint64>(0, low, high + 1);
        const qint64 inEnd = std::clamp<qint64>(FSrcWidth, inStart, high + 1);   // exclusive
        for (qint64 p = low; p < inStart; ++p)
            for (int r = 0; r < kBlockRows; ++r)
                PixelToFloats(src[r] + 3 * Mirror(p, FSrcWidth), ext + kPixelFloats * (p - low) + 4 * r);
        if (inStart < inEnd) {
            float *to = ext + kPixelFloats * (inStart - low);
            switch (FPath) {
#if TAMSEL_RESIZE_X86
            case rpAvx2:
                ConvertBlockAvx2(src, int(inStart), int(inEnd), FSrcWidth, to);
                break;
            case rpSse2:
                ConvertBlockSse2(src, int(inStart), int(inEnd), FSrcWidth, to);
                break;
#endif
            default:
                ConvertBlockPortable(src, int(inStart), int(inEnd), to);
                break;
            }
        }
        for (qint64 p = inEnd; p <= high; ++p)
            for (int r = 0; r < kBlockRows; ++r)
                PixelToFloats(src[r] + 3 * Mirror(p, FSrcWidth), ext + kPixelFloats * (p - low) + 4 * r);

        switch (FPath) {
#if TAMSEL_RESIZE_X86
        case rpAvx2:
            HorizontalAvx2(ext, FColumns, FDstWidth, out);
            break;
        case rpSse2:
            HorizontalSse2(ext, FColumns, FDstWidth, out);
            break;
#endif
        default:
            HorizontalPortable(ext, FColumns, FDstWidth, out);
            break;
        }
    }

    const QImage &FSrc;
    int FSrcWidth;
    int FSrcHeight;
    int FDstWidth;
    int FDstHeight;
    TResizePath FPath;
    std::shared_ptr<const Contributors> FColumnLists;
    std::shared_ptr<const Contributors> FRowLists;
    const Contributors &FColumns;
    const Contributors &FRows;
    std::vector<float> FExtended;
    size_t FRowStride = 0;
    int FRingBlocks = 0;
    std::vector<float> FRing;
    std::vector<int> FRingTag;
};

} // namespace

TResizePath SetResizePathLimit(TResizePath limit)
{
    return TResizePath(gPathLimit.exchange(limit, std::memory_order_relaxed));
}

void FilterResize(const QImage &src, QImage &dst, std::uint8_t kernel)
{
    if (src.width() < 1 || src.height() < 1)
        return;
    if (kernel >= std::size(kKernels))
        throw AppError(QStringLiteral("Unknown resampling filter %1").arg(kernel));
    const QImage source = ToBitmap24(src);
    const int dw = std::max(dst.width(), 1);
    const int dh = std::max(dst.height(), 1);
    if (dst.format() != QImage::Format_BGR888 || dst.width() != dw || dst.height() != dh)
        dst = NewBitmap(dw, dh);
    try {
        FilterPlan plan(source, dw, dh, kernel);
        plan.Run(dst);
    } catch (const std::bad_alloc &) {
        throw AppError(QStringLiteral("Not enough memory to resize the picture"));
    }
}
