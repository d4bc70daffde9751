#pragma once

// Qt
#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

// Std
#include <memory>

class JpegDecoder;

enum class PictureFormat { Bitmap, Icon, Metafile, Jpeg };

// Whether JPEG photos are turned upright by their EXIF orientation tag
// wherever they are shown or made into other pictures (on unless the user
// turns it off). Untagged photos are the same either way.
bool TurnByOrientation();
void SetTurnByOrientation(bool on);

// A picture file read by the decoder its extension names in PictureFormats()
// (an extension without a decoder fails with
// "Unknown picture file extension (.%s)"). The formats of OtherFormats.h
// (with AllPictureFormats()) load as bitmaps. A JPEG is read up to its header
// only, so that the caller can choose the decoding scale first; every other
// format is decoded at once. A JPEG with an EXIF orientation tag is turned
// upright (see TurnByOrientation): its sizes and bitmaps are those of the
// turned picture. A JPEG or bitmap with an embedded colour profile gives
// its bitmaps in sRGB (untagged and sRGB pictures keep their bytes; a
// profile that cannot be used leaves the colours as stored).
class TPicture
{
public:
    // Throws AppError with the user's text: a file that cannot be opened
    // names the file and the system's reason.
    static TPicture Load(const QString &fileName);

    PictureFormat Format() const { return FFormat; }
    // The picture's own size (a JPEG's full-resolution size), as shown.
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }

    // JPEG only: the decoder's output size at 1/denom (denom 1, 2, 4 or 8),
    // the full size divided and rounded up, as shown.
    QSize JpegScaledSize(int denom) const;

    // The working 24-bit bitmap: a bitmap as it is; a JPEG decoded at
    // 1/jpegDenom with the accurate (or, when fastIdct, the fast) integer
    // IDCT; an icon or metafile drawn onto white at its own size.
    QImage ToBitmap(int jpegDenom = 1, bool fastIdct = false) const;

    // The working bitmap scaled to size with BilinearResize (size has no
    // side below 1). A JPEG is scaled row by row while it decodes, so its
    // working bitmap is never held whole; the bytes are the same. With
    // threads above 1, a large baseline JPEG is decoded and scaled in as
    // many bands at once, each its own rows of the result (same bytes).
    QImage ToBilinearBitmap(QSize size, int jpegDenom = 1, bool fastIdct = false, int threads = 1) const;

    ~TPicture();
    TPicture(TPicture &&) noexcept;
    TPicture &operator=(TPicture &&) noexcept;

private:
    TPicture();
    // A JPEG's bitmap as decoded, in sRGB and upright.
    QImage Finished(QImage stored) const;
    PictureFormat FFormat = PictureFormat::Bitmap;
    int FWidth = 0;
    int FHeight = 0;
    int FOrientation = 1;                 // the EXIF tag to apply (JPEG)
    QByteArray FProfile;                  // the JPEG's colour profile, if any
    QImage FImage;                        // every format but JPEG
    std::unique_ptr<JpegDecoder> FJpeg;   // JPEG
};

// The extension of a path's file name as written: the text after the last
// dot of the name, empty when the name has none.
QString PictureExtension(const QString &fileName);

// Reads the whole file; throws AppError "Cannot open file <name>: <reason>"
// (also for a folder or another file that is not a plain one) or
// "Cannot read file <name>: <reason>".
QByteArray ReadPictureFile(const QString &fileName);

// The viewer's load: reads fileName, sets imageWidth/imageHeight to the
// picture's own size (0 until that size is known), decodes a JPEG at the
// smallest of 1/2, 1/4, 1/8 whose halves still cover the box, shrinks with
// BilinearResize when larger than maxWidth x maxHeight (never enlarges), and
// sets imageScale to the displayed width in percent ("20%").
// A box with a side of 0 or less (a window too small to show anything)
// gives an empty bitmap and "0%" once the file has been read.
// Throws AppError on failure; the outputs keep what was set before.
void ReadPicture(const QString &fileName, QImage &bitmap, int maxWidth, int maxHeight,
                 int &imageWidth, int &imageHeight, QString &imageScale);
