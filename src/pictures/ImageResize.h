#pragma once

// Qt
#include <QImage>
#include <QSize>

// Std
#include <cstdint>

// The two scalers of 24-bit bitmaps and the fitting rule.

// Kernels of FilterResize.
enum : std::uint8_t { kLanczos3 = 0, kHermite = 1, kBSpline = 2 };

// Fixed-point bilinear scaler with 8-bit weights (16.16 positions). Both
// bitmaps are 24-bit; dst has its size set.
void BilinearResize(const QImage &src, QImage &dst);

// Separable two-pass resampler with the kernel chosen by the selector. Src
// is converted to 24 bits first; dst has its size set and becomes 24-bit.
void FilterResize(const QImage &src, QImage &dst, std::uint8_t kernel);

// The size of width x height fitted into maxWidth x maxHeight, keeping the
// proportions and never enlarging.
QSize FitSize(int width, int height, int maxWidth, int maxHeight);
