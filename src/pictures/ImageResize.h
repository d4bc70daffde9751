#pragma once

// Qt
#include <QImage>
#include <QSize>

// Std
#include <cstdint>
#include <memory>
#include <utility>

// The two scalers of 24-bit bitmaps and the fitting rule.

// Kernels of FilterResize.
enum : std::uint8_t { kLanczos3 = 0, kHermite = 1, kBSpline = 2 };

// Fixed-point bilinear scaler with 8-bit weights (16.16 positions). Both
// bitmaps are 24-bit; dst has its size set. A dst without pixels is left as
// it is; so is dst when src has none.
void BilinearResize(const QImage &src, QImage &dst);

// BilinearResize fed one source row at a time, top to bottom, so that a
// decoder can scale while it decodes and never hold the whole source. The
// scaler owns the row buffers: the decoder writes source row y into
// RowBuffer(y) (3 bytes per pixel) and then reports it with RowsDone. Up to
// kLookahead rows may be requested before they are reported. The result is
// byte for byte that of BilinearResize.
class BilinearRowScaler
{
public:
    static constexpr int kLookahead = 4;

    // dst is 24-bit with at least one pixel; throws AppError when the
    // buffers cannot be had. With a range, only dst rows firstDstRow ..
    // endDstRow - 1 are made, from source rows SourceRows gives (fed with
    // their own numbers); scalers of disjoint ranges may run at once.
    BilinearRowScaler(int srcWidth, int srcHeight, QImage &dst);
    BilinearRowScaler(int srcWidth, int srcHeight, QImage &dst, int firstDstRow, int endDstRow);

    // The source rows first .. end - 1 that dst rows firstDstRow ..
    // endDstRow - 1 are made from, for a source srcHeight rows high scaled
    // to dstHeight rows.
    static std::pair<int, int> SourceRows(int srcHeight, int dstHeight, int firstDstRow, int endDstRow);
    ~BilinearRowScaler();

    uchar *RowBuffer(int y) noexcept;
    // Rows firstRow .. firstRow + count - 1 are filled (in order).
    void RowsDone(int firstRow, int count) noexcept;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Separable two-pass resampler with the kernel chosen by the selector. Src
// is converted to 24 bits first; dst has its size set and becomes 24-bit.
// A src without pixels leaves dst as it is; a dst side of 0 becomes 1.
void FilterResize(const QImage &src, QImage &dst, std::uint8_t kernel);

// The size of width x height fitted into maxWidth x maxHeight, keeping the
// proportions and never enlarging. Each side of the result is at least 1;
// a picture or box side below 1 counts as 1.
QSize FitSize(int width, int height, int maxWidth, int maxHeight);

// The ways the scalers can run, slowest first: plain C++, which every
// processor has; SSE2, on every x86 processor; AVX2, on those that report it
// (FilterResize alone has an AVX2 path, BilinearResize goes no further than
// SSE2). Builds for other processors, or with TAMSEL_PORTABLE_SIMD, have only
// the first. All give the same bytes.
enum TResizePath { rpPortable, rpSse2, rpAvx2 };

// The fastest path this build has on this processor.
TResizePath FastestResizePath();

// The scalers use the fastest path up to limit (rpAvx2 unless set); tests
// lower it to compare the paths. A scaling keeps the path it started with.
// Returns the previous limit.
TResizePath SetResizePathLimit(TResizePath limit);

// Rounds to the nearest integer, halves to even (sizes and percentages).
int RoundHalfEven(double value);
