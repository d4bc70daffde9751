#pragma once

// Qt
#include <QString>
#include <QStringList>

// Std
#include <memory>

// The inputs of one gallery run.
struct TGallerySettings
{
    QStringList Photos;          // full paths, in gallery order
    QString DestFolder;          // used exactly as typed
    int ThumbWidth = 120;        // 10..9999
    int ThumbHeight = 120;       // 10..9999
    int ThumbQuality = 70;       // 10..100
    bool ResizePhotos = false;
    int PhotoWidth = 800;        // 10..9999
    int PhotoHeight = 600;       // 10..9999
    int PhotoQuality = 80;       // 10..100
    int ThumbColumns = 3;        // 1..99
    QString Scheme;              // file name in the schemes folder, or ""
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
    // Confirmation box with Yes and Cancel; true only for Yes.
    virtual bool Confirm(const QString &text) = 0;
    // Shows the progress (caption, text line) until the returned object dies.
    virtual std::unique_ptr<TPublishProgress> StartProgress(const QString &caption, const QString &text) = 0;
    // Opens the finished gallery's index page.
    virtual void OpenDocument(const QString &path) = 0;
    // Folder holding the scheme files.
    virtual QString SchemesFolder() const;
};

// One whole run. Validation failures are reported through the host and end
// the run quietly; any other failure throws AppError after the files
// written so far are complete. jobs > 1 makes the thumbnails and photos of
// several photos at once; the files are the same as with one.
void PublishGallery(const TGallerySettings &settings, TPublishMode mode, PublishHost &host, int jobs = 1);
