#pragma once

// Qt
#include <QByteArray>
#include <QImage>
#include <QString>

// Std
#include <memory>

// Colour profiles (ICC) carried by pictures, and the conversion of their
// colours to sRGB through Little CMS.

// No profile may be larger than this; a larger one counts as absent.
inline constexpr qsizetype kMaxIccProfileBytes = qsizetype(16) * 1024 * 1024;

// The profile a JPEG file embeds in its APP2 "ICC_PROFILE" chunks, put
// together in sequence order. The markers are read up to the first start of
// scan, so chunks after the frame header count too. Missing, duplicate or
// inconsistent chunks, a chunk cut off by the end of the data or a total
// above kMaxIccProfileBytes give an empty result. Never throws.
QByteArray JpegIccProfile(const QByteArray &jpeg);

// The profile a Windows bitmap file with a version 5 header embeds
// (colour space type 'MBED'); empty for any other bitmap, for a linked
// profile (a file name we never open) and for a profile that does not lie
// wholly inside the data after the header or exceeds kMaxIccProfileBytes.
// Never throws.
QByteArray BmpIccProfile(const QByteArray &bmp);

// True when the bytes can be an ICC profile at all: at least a header's 128
// bytes, no more than kMaxIccProfileBytes, a size field equal to the data's
// size and the 'acsp' signature. Only such data is handed to Little CMS.
bool LooksLikeIccProfile(const QByteArray &profile);

// The profile's own name (its description tag, in English where it has
// several languages), trimmed; empty when the profile is not one or has no
// name. Never throws.
QString IccProfileName(const QByteArray &profile);

// A profile's conversion to sRGB, built once per profile and kept in a small
// cache shared by all threads; a handle may be used on several threads at
// once. The rendering intent is perceptual, as web browsers use it: a
// profile with perceptual tables maps its gamut into sRGB's instead of
// clipping, and a matrix profile (which has no such tables) is converted
// colorimetrically by Little CMS.
class ColourTransform
{
public:
    // The conversion of 24-bit BGR pixels described by an RGB profile.
    static ColourTransform ForRgb(const QByteArray &profile);
    // The conversion of CMYK pixels (four bytes each, C, M, Y, K) described
    // by a CMYK profile to 24-bit BGR. Adobe's programs write JPEG inks
    // inverted (255 = no ink); adobeInverted reads them that way.
    static ColourTransform ForCmyk(const QByteArray &profile, bool adobeInverted);

    // False when the profile was empty, broken or of the wrong colour space.
    bool IsValid() const;
    // True when the conversion leaves every colour as it is, give or take
    // one level of rounding (an sRGB profile): then Convert is not called at
    // all and the bytes stay exactly as they are.
    bool IsIdentity() const;

    // Converts height rows of width pixels. The buffers may be the same one
    // when the input has 3 bytes a pixel. Does nothing unless IsValid.
    void Convert(const uchar *in, qsizetype inStride, uchar *out, qsizetype outStride,
                 int width, int height) const noexcept;

    struct Entry;

private:
    std::shared_ptr<const Entry> FEntry;
};

// Converts a 24-bit bitmap (Format_BGR888) in place from the profile's
// colours to sRGB. Returns false and leaves the picture as it is when the
// profile is empty, broken, not an RGB profile usable for input or too large,
// or when the picture is not a 24-bit bitmap. A profile that maps every
// colour to itself (sRGB) leaves the bytes exactly as they are.
bool ConvertToSrgb(QImage &bgr888, const QByteArray &profile);
