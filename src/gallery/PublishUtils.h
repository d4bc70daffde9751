#pragma once

// Local
#include "AppError.h"

// Qt
#include <QByteArray>
#include <QString>
#include <QStringList>

// Std
#include <memory>
#include <optional>

// One numeric gallery setting: its name in the generator's messages, its
// range and its default. The settings' defaults, the generator's check, the
// gallery dialog's edits and tamsel-gallery's options and help all read
// these.
struct TGalleryNumber
{
    const char *Name;
    int Min;
    int Max;
    int Default;
};

namespace GalleryNumbers {
inline constexpr TGalleryNumber ThumbWidth{"thumbnail width", 10, 9999, 120};
inline constexpr TGalleryNumber ThumbHeight{"thumbnail height", 10, 9999, 120};
inline constexpr TGalleryNumber ThumbQuality{"thumbnail quality", 10, 100, 70};
inline constexpr TGalleryNumber PhotoWidth{"photo width", 10, 9999, 800};
inline constexpr TGalleryNumber PhotoHeight{"photo height", 10, 9999, 600};
inline constexpr TGalleryNumber PhotoQuality{"photo quality", 10, 100, 80};
inline constexpr TGalleryNumber ThumbColumns{"thumbnail columns", 1, 99, 3};
} // namespace GalleryNumbers

// The style of a gallery's pages: the classic pages, or the pages for
// phones and keyboards (see ModernPages.h). The other files are the same.
enum TGalleryPages { gpClassic = 0, gpModern = 1 };

// The inputs of one gallery run.
struct TGallerySettings
{
    QStringList Photos;          // full paths, in gallery order
    QString DestFolder;          // used exactly as typed
    int ThumbWidth = GalleryNumbers::ThumbWidth.Default;
    int ThumbHeight = GalleryNumbers::ThumbHeight.Default;
    int ThumbQuality = GalleryNumbers::ThumbQuality.Default;
    bool ResizePhotos = false;
    int PhotoWidth = GalleryNumbers::PhotoWidth.Default;
    int PhotoHeight = GalleryNumbers::PhotoHeight.Default;
    int PhotoQuality = GalleryNumbers::PhotoQuality.Default;
    int ThumbColumns = GalleryNumbers::ThumbColumns.Default;
    QString Scheme;              // file name in the schemes folder, or ""
    TGalleryPages Pages = gpClassic;
};

enum TPublishMode { pmUpdate = 0, pmOverwriteThumbs = 1, pmOverwritePhotos = 2 };

// The progress of a run as the generator reports it.
class TPublishProgress
{
public:
    virtual ~TPublishProgress();
    virtual void SetPosition(int position) = 0;   // 0..100
    // Processes pending events first; true once the user asked to stop.
    virtual bool Cancelled() = 0;
    // Called over and over while the run waits for photos made on other
    // threads: a window keeps its display and its Cancel button alive here.
    virtual void Waiting() {}
};

// What the generator asks of its surroundings: the gallery dialog, the
// command-line tool and the tests each supply their own.
class PublishHost
{
public:
    virtual ~PublishHost();
    // Validation: show the "Photos" page / the "Settings" page with the focus
    // in the destination box.
    virtual void ShowPhotosPage() {}
    virtual void ShowDestinationSetting() {}
    // Information box with OK.
    virtual void Information(const QString &text) = 0;
    // The same for a failure of the system, with its detail (the file and
    // the cause): the dialog shows its text alone, the command-line tool both.
    virtual void InformationWithDetail(const QString &text, const QString &) { Information(text); }
    // Confirmation box with Yes and Cancel; true only for Yes.
    virtual bool Confirm(const QString &text) = 0;
    // Shows the progress (caption, text line) until the returned object dies.
    virtual std::unique_ptr<TPublishProgress> StartProgress(const QString &caption, const QString &text) = 0;
    // Opens the finished gallery's index page.
    virtual void OpenDocument(const QString &path) = 0;
    // Folder holding the scheme files.
    virtual QString SchemesFolder() const;
};

// An error about one photo of a run, as its reader words it ("JPEG error
// #53"): the gallery dialog shows the message alone, the command-line tool
// names the photo with it.
class TPhotoError : public AppError
{
public:
    TPhotoError(QString photo, const QString &message) : AppError(message), FPhoto(std::move(photo)) {}
    const QString &Photo() const noexcept { return FPhoto; }

private:
    QString FPhoto;
};

// One whole run. Validation failures are reported through the host and end
// the run quietly; any other failure throws AppError after the files
// written so far are complete. jobs > 1 makes the thumbnails and photos of
// several photos at once; the files are the same as with one.
void PublishGallery(const TGallerySettings &settings, TPublishMode mode, PublishHost &host, int jobs = 1);

// How many photos a run makes at once unless told otherwise: one per core
// (1 to 256).
int DefaultPublishJobs();

// Validation and folder creation, in the order the user meets them: photos,
// destination given, destination a full path, destination exists (or may be
// created). Creates the sub-folders "thumbs" and "images". False when the
// run must not go on; the host has then told the user why.
bool CheckPublishSettings(const TGallerySettings &settings, PublishHost &host);

// Output names of the photo at zero-based index i (its number is i + 1).
QString ThumbFileName(int index);                                      // "1.jpeg"
QString PageFileName(int index);                                       // "1.html"
// n.jpeg when photos are resized or the source is of a format the gallery
// writes as JPEG (GalleryCopiesPhoto: PNG, GIF, WebP, TIFF, AVIF, HEIF); else n + the source's
// extension in lower case, ".jpg" becoming ".jpeg" (x.JPG -> 1.jpeg,
// x.BMP -> 1.bmp, x -> 1).
QString PhotoFileName(const TGallerySettings &settings, int index);

// A file name or extension as it is written into an href or src value:
// unchanged, except for the characters that would end the attribute or
// change the address the browser asks for, which are percent-encoded
// (see docs/gallery.md). wholeValue: the text is the whole attribute value.
QString EscapeUrlText(const QString &text, bool wholeValue);

// The last line of every page, with the link to the home page.
QString GalleryFooter();

// The bytes of the classic index page and of the page of photo i: lines
// ending in CR LF, UTF-8, no byte-order mark.
QByteArray IndexPageText(const TGallerySettings &settings);
QByteArray PhotoPageText(const TGallerySettings &settings, int index);

// The steps of a run, for settings that passed CheckPublishSettings.
// Copies the scheme file (when one is chosen) and writes index.html, in the
// style settings.Pages names.
void WriteIndexPage(const TGallerySettings &settings, const QString &schemesFolder);
void MakeThumbnail(const TGallerySettings &settings, TPublishMode mode, const QString &source, int index);
void MakePhoto(const TGallerySettings &settings, TPublishMode mode, const QString &source, int index);
void WritePhotoPage(const TGallerySettings &settings, int index);

// The picture of source fitted into the box (never enlarged), written to
// target as a progressive JPEG. The target is replaced only once the new
// file is complete.
void SaveResizedJpeg(const QString &source, const QString &target, int maxWidth, int maxHeight, int quality);

// The picture of source at its own size written to target as a JPEG file
// (an unresized photo browsers cannot show), replaced only once complete.
void SaveJpegCopy(const QString &source, const QString &target, int quality);

// The up-to-date stamp. A source's stamp is its birth time where the file
// system keeps one, else its modification time, to the nanosecond; a made
// file carries its source's stamp as its modification time. Any failure
// reads as "not the same" and stamping failures are ignored.
bool SameCreationTime(const QString &source, const QString &target);
void CopyCreationTime(const QString &source, const QString &target);

// "59 seconds remaining", "1 minutes remaining", "3 hours remaining": below a
// minute in seconds, below three hours in whole minutes, else in whole hours.
QString TimeRemainingText(qint64 seconds);

// The time-remaining estimate of a progress display. It assumes every
// remaining percent takes as long as the last change of position did, and
// only a change more than one second after the previous one gives a new text.
class TTimeLeft
{
public:
    // Call on each change of position; nowMs is a monotonic clock in
    // milliseconds. Returns the new text, or nothing when the old one stays.
    std::optional<QString> Update(int position, qint64 nowMs);

private:
    std::optional<qint64> FLastTime;
};
