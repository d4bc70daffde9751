#pragma once

// Qt
#include <QTransform>

// Std
#include <cmath>

// Helpers the metafile engine's parts share (MetaEngine.cpp, MetaClipping.cpp,
// MetaShapes.cpp, MetaText.cpp, MetaBitmaps.cpp). Not for the readers.
namespace MetaEngineInternal {

inline constexpr double kPi = 3.14159265358979323846;

// Canvas coordinates beyond this are clamped before they become integers.
inline constexpr int kCoordLimit = 1 << 24;

inline int ClampRound(double v)
{
    if (!std::isfinite(v))
        return 0;
    if (v > kCoordLimit)
        return kCoordLimit;
    if (v < -kCoordLimit)
        return -kCoordLimit;
    return int(std::lround(v));
}

inline bool Finite(const QTransform &t)
{
    const double m[] = {t.m11(), t.m12(), t.m13(), t.m21(), t.m22(), t.m23(), t.m31(), t.m32(), t.m33()};
    for (double v : m) {
        if (!std::isfinite(v) || std::fabs(v) > 1e12)
            return false;
    }
    return true;
}

} // namespace MetaEngineInternal
