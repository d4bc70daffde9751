#pragma once

// Local
#include "GalleryWidgets.h"
#include "PublishUtils.h"
#include "RegLib.h"

// Qt
#include <QDialog>
#include <QImage>
#include <QString>
#include <QStringList>

// Std
#include <functional>

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QMenu;
class QTabWidget;
class QTimer;
class QToolButton;
class TNaturalEdit;
class TPathDialog;

// Where the dialog remembers "Pages for phones and keyboards": the integer
// value "Modern" is 1 while the box is on; with the box off the key is gone,
// so that such a store holds what it held before the box existed.
inline const QString kGalleryPagesKey = kAppKey + QStringLiteral("\\GalleryPages");

// The gallery dialog: the ordered photo list with its preview, and the
// settings of a gallery run.
class TfrmPublish2Web : public QDialog
{
    Q_OBJECT

public:
    // lastOpenFolder: where "Add..." starts. schemesFolder: where the colour
    // schemes are listed from ("" for the folder beside the program).
    TfrmPublish2Web(const QString &lastOpenFolder, QWidget *owner = nullptr,
                    const QString &schemesFolder = QString());
    ~TfrmPublish2Web() override;

    QTabWidget *pgcMain;
    QWidget *tabPhotos;
    QWidget *tabSettings;

    TPhotoListView *lvwPhotos;
    QMenu *pmnPhotos;
    QAction *miDelete;
    QToolButton *sbnAddPhotos;
    QToolButton *sbnClearPhotos;
    TPreviewBox *pbxPreview;

    QGroupBox *grpThumbnails;
    TNaturalEdit *edtThumbWidth;
    TNaturalEdit *edtThumbHeight;
    TNaturalEdit *edtThumbQuality;
    QToolButton *sbnRecreateThumbs;

    QGroupBox *grpPhotos;
    QCheckBox *cbxResizePhotos;
    QLabel *lblPhotoWidth;
    TNaturalEdit *edtPhotoWidth;
    QLabel *lblPhotoHeight;
    TNaturalEdit *edtPhotoHeight;
    QLabel *lblPhotoQuality;
    TNaturalEdit *edtPhotoQuality;
    QToolButton *sbnRecreatePhotos;

    QGroupBox *grpHtmlPages;
    TNaturalEdit *edtThumbColumns;
    TDropDownComboBox *cbxSchemes;
    QLabel *lblSchemesNote;
    QToolButton *sbnOpenSchemes;
    QCheckBox *cbxModernPages;

    QGroupBox *grpDestination;
    QComboBox *cbxDestFolder;
    QToolButton *sbnSelectDestination;

    QToolButton *sbnPublish;
    QToolButton *sbnClose;

    TPathDialog *PathDialog;

    // How many photos a run makes at once (the files do not depend on it):
    // one per core. Cancel stops after the photos in progress.
    int PublishJobs = DefaultPublishJobs();

    // Appends one item per path, in the given order.
    void AddPhotoItems(const QStringList &files);
    // The photos' paths in list order.
    QStringList Photos() const;
    // The settings of a run as the controls hold them.
    TGallerySettings GallerySettings() const;
    QString SchemesFolder() const { return FSchemesFolder; }

    // The preview bitmap and the item last seen under the cursor in a drag.
    const QImage &Preview() const { return FPreview; }
    QListWidgetItem *DragItem() const;

    void UpdatePreview();
    void MoveItem(QListWidgetItem *item, int newIndex);
    void AddDestToHistory();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void BuildPhotosPage();
    void BuildSettingsPage();
    QListWidgetItem *SelectedItem() const;
    void RunGallery(TPublishMode mode);

    // Event handlers.
    void FormCreate();
    void FormDestroy();
    void cbxSchemesDropDown();
    void sbnOpenSchemesClick();
    void sbnAddPhotosClick();
    void miDeleteClick();
    void sbnClearPhotosClick();
    void lvwPhotosSelectItem();
    void lvwPhotosStartDrag();
    void lvwPhotosDragOver(const QPoint &pos);
    void DragScroll(int step);
    void lvwPhotosEndDrag();
    void cbxResizePhotosClick();
    void sbnSelectDestinationClick();
    void sbnPublishClick();
    void sbnRecreateThumbsClick();
    void sbnRecreatePhotosClick();

    QString FLastOpenFolder;
    QString FSchemesFolder;
    QImage FPreview;
    QPersistentModelIndex FDragItem;
    // Set while the list itself moves the selection, so that the selection
    // handler does not load the preview in between.
    bool FMovingItems = false;
    // A preview that failed during a drag is reported once the drag is over:
    // a message box cannot take the mouse while the drag holds it.
    QString FDragError;
    // While a drag is held near the list's top or bottom edge, the list goes
    // on scrolling by this many lines a tick (-1, 0 or 1), also when the
    // mouse stands still.
    int FDragScrollStep = 0;
    QTimer *FDragScrollTimer = nullptr;
};

// Runs the gallery dialog with the given photos (the viewer's list, in its
// order); lastOpenFolder is where its picture dialog starts.
void ShowPublish2Web(const QStringList &files, const QString &lastOpenFolder, QWidget *owner);
