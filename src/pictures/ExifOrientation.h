#pragma once

// Qt
#include <QByteArray>
#include <QByteArrayView>
#include <QImage>

// The orientation tag of a photo's EXIF block: how the stored picture must
// be turned and mirrored to stand upright. Values as the tag defines them:
// 1 upright, 2 mirrored left-right, 3 turned 180 degrees, 4 mirrored top to
// bottom, 5 mirrored along the top-left to bottom-right diagonal, 6 turned
// 90 degrees clockwise to stand upright, 7 mirrored along the other diagonal,
// 8 turned 90 degrees counter-clockwise.

// The TIFF-structured bytes of a JPEG file's first EXIF block (an APP1
// segment starting "Exif\0\0", before the first scan), without that
// prefix; empty when there is none or the markers on the way are broken.
QByteArrayView JpegExifBlock(const QByteArray &jpeg);

// The orientation of a JPEG file's bytes: the tag of the first EXIF block
// (an APP1 segment before the first scan). 1 when there is no block, no tag,
// or the block is broken or truncated anywhere on the way to the tag: such a
// photo is shown as it is stored. Never throws.
int JpegOrientation(const QByteArray &jpeg);

// Whether an orientation swaps width and height (5 to 8).
bool OrientationSwapsSides(int orientation);

// The picture turned upright for the orientation; 1 or an unknown value
// gives the picture itself. Pixels are moved, never blended, so the result
// holds exactly the bytes of the input.
QImage OrientedImage(const QImage &image, int orientation);

// The orientation that stands a photo upright and then turns it by
// quarterTurns quarter turns clockwise (negative: counter-clockwise), for a
// photo whose tag is orientation now.
int TurnedOrientation(int orientation, int quarterTurns);

// The JPEG file's bytes with orientation in its EXIF block, every other byte
// of the file kept. A tag already there is changed in place; a block without
// one gets its first directory, with the tag added, copied to the block's
// end (every other offset in the block stays right); a file without a block
// gets a small one after its JFIF header. Throws AppError when the file is
// not a JPEG file, the block is damaged or there is no room left in it.
QByteArray JpegWithOrientation(const QByteArray &jpeg, int orientation);
