#pragma once

// Qt
#include <QByteArray>

// Little CMS
#include <lcms2.h>

// Colour profiles made with Little CMS for the tests and benchmarks of
// colour conversion. Header only: only suites that link Little CMS use it.

// The profile's bytes; the profile is closed.
inline QByteArray SavedProfile(cmsHPROFILE profile)
{
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    QByteArray bytes(qsizetype(size), '\0');
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

// A matrix profile with the given red primary (Adobe RGB's by default),
// Adobe RGB's green and blue, D65 and a plain gamma: with the defaults a
// wide-gamut profile much like Adobe RGB.
inline QByteArray RgbProfile(double gamma = 2.2, double redX = 0.64)
{
    const cmsCIExyY white = {0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries = {{redX, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve *curve = cmsBuildGamma(nullptr, gamma);
    cmsToneCurve *curves[3] = {curve, curve, curve};
    const QByteArray bytes = SavedProfile(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(curve);
    return bytes;
}

inline QByteArray SrgbProfile()
{
    return SavedProfile(cmsCreate_sRGBProfile());
}
