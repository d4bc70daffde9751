#pragma once

// Qt
#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QString>

// The pictures shown only with AllPictureFormats(): PNG and GIF through Qt's
// own readers, WebP and TIFF through Qt's image plugins, AVIF through
// libavif and HEIF through libheif. Each is read whole and becomes the
// working 24-bit bitmap, in sRGB where the file carries a colour profile;
// alpha is composed onto white. An animated GIF or WebP gives its first
// frame.
//
// The size the header gives is checked against the bitmap cap before
// anything is decoded ("The picture is too large (W x H pixels)"); a file
// that cannot be read gives "<Format> image is not valid". Every call uses
// its own reader, so pictures may be decoded on several threads at once.
//
// reader: the one OtherReaderForExtension() names for the file ("png",
// "gif", "webp", "tiff", "avif", "heif"); the data is never read by another
// one. Throws AppError.
QImage DecodeOtherPicture(QByteArrayView data, const QByteArray &reader);

// "PNG", "GIF", "WebP", "TIFF", "AVIF" or "HEIF" for those readers; empty
// for any other.
QString OtherFormatName(const QByteArray &reader);
