#pragma once

// Qt
#include <QString>

// Std
#include <span>

// Which decoder reads a picture file; None for an extension that is only
// offered in a file dialog.
enum class PictureDecoder { None, Bitmap, Icon, Wmf, Emf, Jpeg };

// One extension the program knows. Everything that names picture
// extensions (the folder list, the loader, the viewer's open dialog, the
// gallery dialog's photo filter and tamsel-gallery's folder expansion) reads
// this table, so a format is added or dropped in one place.
struct TPictureFormat
{
    const char *Extension;      // lower case, without the dot
    PictureDecoder Decoder;
    bool InFolderList;          // the viewer's folder list shows it
    int OpenDialogPlace;        // place in the open dialog's "Image Files"; 0: absent
    int GalleryPlace;           // place in the gallery dialog's filter; 0: absent
    const char *GalleryName;    // that filter's name for it ("Bitmaps")
};

// Every known extension, in the order the folder list's check spells them.
std::span<const TPictureFormat> PictureFormats();

// The decoder for an extension given without the dot, in any case; None
// when no decoder reads it.
PictureDecoder DecoderForExtension(const QString &extension);

// "bmp:jpg:jpeg:wmf:emf:ico": the folder list takes a file whose extension
// occurs anywhere in this text.
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
