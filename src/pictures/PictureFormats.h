#pragma once

// Qt
#include <QByteArray>
#include <QString>

// Std
#include <span>

// Which decoder reads a picture file; None for an extension that is only
// offered in a file dialog. Other: the formats read through Qt's readers,
// libavif or libheif (OtherFormats.h), shown only with AllPictureFormats().
enum class PictureDecoder { None, Bitmap, Icon, Wmf, Emf, Jpeg, Other };

// Which setting of AllPictureFormats() a row of the table belongs to.
enum class TFormatSet { Always, PlainOnly, AllOnly };

// One extension the program knows. Everything that names picture
// extensions (the folder list, the loader, the viewer's open dialog, the
// gallery dialog's photo filter and tamsel-gallery's folder expansion) reads
// this table, so a format is added or dropped in one place. Only the rows
// of the current setting of AllPictureFormats() count anywhere; an extension
// may have a row for each setting.
struct TPictureFormat
{
    TFormatSet Set;
    const char *Extension;      // lower case, without the dot
    PictureDecoder Decoder;
    bool InFolderList;          // the viewer's folder list shows it
    int OpenDialogPlace;        // place in the open dialog's "Image Files"; 0: absent
    int GalleryPlace;           // place in the gallery dialog's filter; 0: absent
    const char *GalleryName;    // that filter's name for it ("Bitmaps")
    bool CopiedIntoGallery;     // an unresized gallery photo is a copy, else a JPEG file
    const char *OtherReader;    // PictureDecoder::Other: the reader ("tiff"), see OtherFormats.h
};

// Every row of the table, of both settings, in the order the folder list's
// check spells them.
std::span<const TPictureFormat> PictureFormats();

// Whether PNG, GIF, WebP, TIFF, AVIF and HEIF pictures are shown, offered
// and taken into galleries too (off unless the user turns it on). Every
// function below follows it.
bool AllPictureFormats();
void SetAllPictureFormats(bool on);

// The decoder for an extension given without the dot, in any case; None
// when no decoder reads it.
PictureDecoder DecoderForExtension(const QString &extension);

// PictureDecoder::Other: the name of the reader OtherFormats.h reads the
// extension's files with ("png", "tiff", "heif"); empty for other decoders.
QByteArray OtherReaderForExtension(const QString &extension);

// "bmp:jpg:jpeg:wmf:emf:ico" (with all formats, followed by
// ":png:gif:webp:tif:tiff:avif:heif:heic"): the folder list takes a file
// whose extension occurs anywhere in this text.
QString FolderListExtensions();

// The viewer's open dialog filter in FileDlg's "Name|*.a;*.b" form:
// "Image Files|*.jpeg;*.jpg;*.bmp;*.tif;*.tiff|All Files|*.*".
QString OpenDialogFilter();

// The gallery dialog's photo filter: first all of them, then one entry for
// each extension ("All (*.jpg;*.jpeg;*.bmp)|*.jpg;*.jpeg;*.bmp|JPEG Image
// File (*.jpg)|*.jpg|...").
QString GalleryPhotoFilter();

// True when a gallery can be made of files with this extension (given
// without the dot, in any case): the ones the gallery dialog offers.
bool IsGalleryPhotoExtension(const QString &extension);

// Whether an unresized gallery photo with this extension is copied as it
// is (true: BMP and JPEG, as ever), or written as a JPEG file (the other
// formats).
bool GalleryCopiesPhoto(const QString &extension);
