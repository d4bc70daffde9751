#pragma once

// Qt
#include <QByteArray>
#include <QSize>
#include <QString>

struct TGallerySettings;

// The pages of the style "Pages for phones and keyboards" (--pages modern):
// HTML5 with a viewport for phones, the thumbnails as a list that wraps to
// the screen's width, and photo pages with Previous, Home and Next links that
// the arrow keys and Escape follow. They use the same class names as the
// classic pages (thumb, nav, photo), so every scheme styles both, and the
// same files: only the pages differ. Lines end in LF, the text is UTF-8
// without a byte-order mark.

// The index page. Its title is the destination folder's name; each
// thumbnail carries the size of its file in the gallery when that file is
// already there.
QByteArray ModernIndexPageText(const TGallerySettings &settings);

// The page of photo index (zero-based), with the photo's size when its file
// is already in the gallery.
QByteArray ModernPhotoPageText(const TGallerySettings &settings, int index);

// The last component of a destination as typed ("/home/me/Trip/" -> "Trip");
// "/" for the root.
QString GalleryFolderName(const QString &destFolder);

// The size a browser shows the picture file at, its EXIF orientation
// applied; invalid when the file is missing or cannot be read.
QSize ShownPictureSize(const QString &fileName);
