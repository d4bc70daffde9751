#include "Publish2WebForm.h"

// Local
#include "AppError.h"
#include "AppPaths.h"
#include "DialogPublishHost.h"
#include "EditLib.h"
#include "FileDlg.h"
#include "FileLib.h"
#include "GuardedSlots.h"
#include "ImageUtils.h"
#include "MsgUtils.h"
#include "PathDialog.h"
#include "PictureFormats.h"
#include "RegLib.h"
#include "ShellOps.h"
#include "TextUtils.h"

// Qt
#include <QAbstractItemView>
#include <QCheckBox>
#include <QCompleter>
#include <QDrag>
#include <QDragEnterEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QTimer>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

// Std
#include <utility>

namespace {

// Distance from the list's top and bottom within which a drag scrolls it.
constexpr int kDragScrollMargin = 20;
// How often a drag held near an edge scrolls the list by one more line.
constexpr int kDragScrollIntervalMs = 50;
constexpr int kMaxDestHistoryIndex = 20;

// The dialog's buttons are flat and never take the focus, so neither Enter
// nor Escape presses one.
QToolButton *MakeButton(const QString &caption, QWidget *parent, QSize size)
{
    auto *button = new QToolButton(parent);
    button->setText(caption);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setMinimumSize(size);
    return button;
}

// An edit for one gallery number: its range, its default, and room for as
// many digits as the largest value has.
TNaturalEdit *MakeEdit(QWidget *parent, const char *name, const TGalleryNumber &number)
{
    auto *edit = new TNaturalEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->SetMinValue(number.Min);
    edit->SetMaxValue(number.Max);
    edit->SetValue(number.Default);
    edit->setMaxLength(int(QString::number(number.Max).size()));
    edit->setFixedWidth(64);
    return edit;
}

// A run from this dialog reads its schemes where the dialog listed them.
class FormPublishHost : public DialogPublishHost
{
public:
    FormPublishHost(QWidget *owner, QString schemesFolder)
        : DialogPublishHost(owner), FSchemesFolder(std::move(schemesFolder)) {}
    QString SchemesFolder() const override { return FSchemesFolder; }

private:
    QString FSchemesFolder;
};

} // namespace

// TfrmPublish2Web

TfrmPublish2Web::TfrmPublish2Web(const QString &lastOpenFolder, QWidget *owner, const QString &schemesFolder)
    : QDialog(owner)
    , FLastOpenFolder(lastOpenFolder)
    , FSchemesFolder(schemesFolder.isEmpty() ? BesideProgram(QStringLiteral("schemes")) : schemesFolder)
{
    setObjectName(QStringLiteral("frmPublish2Web"));
    setWindowTitle(QStringLiteral("Creation of Web Gallery"));

    pgcMain = new QTabWidget(this);
    tabPhotos = new QWidget;
    tabSettings = new QWidget;
    pgcMain->addTab(tabPhotos, QStringLiteral("Photos"));
    pgcMain->addTab(tabSettings, QStringLiteral("Settings"));
    BuildPhotosPage();
    BuildSettingsPage();

    sbnPublish = MakeButton(QStringLiteral("Publish"), this, QSize(80, 25));
    QFont bold = sbnPublish->font();
    bold.setBold(true);
    sbnPublish->setFont(bold);
    sbnClose = MakeButton(QStringLiteral("Close"), this, QSize(80, 25));

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(sbnPublish);
    buttons->addWidget(sbnClose);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(pgcMain);
    layout->addLayout(buttons);
    setFixedSize(sizeHint().expandedTo(QSize(512, 399)));

    PathDialog = new TPathDialog(this);
    PathDialog->Title = QStringLiteral("Select a destination folder");

    ConnectGuarded(sbnAddPhotos, &QToolButton::clicked, this, &TfrmPublish2Web::sbnAddPhotosClick);
    ConnectGuarded(sbnClearPhotos, &QToolButton::clicked, this, &TfrmPublish2Web::sbnClearPhotosClick);
    ConnectGuarded(miDelete, &QAction::triggered, this, &TfrmPublish2Web::miDeleteClick);
    connect(lvwPhotos, &QListWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { pmnPhotos->popup(lvwPhotos->viewport()->mapToGlobal(pos)); });
    connect(lvwPhotos->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection &selected) {
                if (!selected.isEmpty() && !FMovingItems)
                    RunGuarded([this] { lvwPhotosSelectItem(); });
            });
    lvwPhotos->OnStartDrag = [this] { lvwPhotosStartDrag(); };
    lvwPhotos->OnDragOver = [this](const QPoint &pos) { lvwPhotosDragOver(pos); };
    lvwPhotos->OnEndDrag = Guarded(this, &TfrmPublish2Web::lvwPhotosEndDrag);
    lvwPhotos->OnDragLeave = [this] { DragScroll(0); };
    FDragScrollTimer = new QTimer(this);
    FDragScrollTimer->setInterval(kDragScrollIntervalMs);
    connect(FDragScrollTimer, &QTimer::timeout, this, [this] {
        if (lvwPhotos->Dragging())
            lvwPhotos->verticalScrollBar()->triggerAction(FDragScrollStep < 0 ? QAbstractSlider::SliderSingleStepSub
                                                                             : QAbstractSlider::SliderSingleStepAdd);
        else
            DragScroll(0);
    });
    connect(cbxResizePhotos, &QCheckBox::toggled, this, [this] { cbxResizePhotosClick(); });
    cbxSchemes->OnDropDown = Guarded(this, &TfrmPublish2Web::cbxSchemesDropDown);
    ConnectGuarded(sbnOpenSchemes, &QToolButton::clicked, this, &TfrmPublish2Web::sbnOpenSchemesClick);
    ConnectGuarded(sbnSelectDestination, &QToolButton::clicked, this, &TfrmPublish2Web::sbnSelectDestinationClick);
    ConnectGuarded(sbnPublish, &QToolButton::clicked, this, &TfrmPublish2Web::sbnPublishClick);
    ConnectGuarded(sbnRecreateThumbs, &QToolButton::clicked, this, &TfrmPublish2Web::sbnRecreateThumbsClick);
    ConnectGuarded(sbnRecreatePhotos, &QToolButton::clicked, this, &TfrmPublish2Web::sbnRecreatePhotosClick);
    connect(sbnClose, &QToolButton::clicked, this, &QDialog::accept);
    cbxDestFolder->view()->installEventFilter(this);

    FormCreate();
}

TfrmPublish2Web::~TfrmPublish2Web()
{
    RunGuarded([this] { FormDestroy(); });
}

void TfrmPublish2Web::BuildPhotosPage()
{
    lvwPhotos = new TPhotoListView(tabPhotos);
    lvwPhotos->setObjectName(QStringLiteral("lvwPhotos"));
    lvwPhotos->setFixedWidth(333);
    lvwPhotos->setContextMenuPolicy(Qt::CustomContextMenu);

    pmnPhotos = new QMenu(this);
    miDelete = pmnPhotos->addAction(QStringLiteral("Delete"));
    miDelete->setShortcut(QKeySequence(Qt::Key_Delete));
    miDelete->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    lvwPhotos->addAction(miDelete);

    sbnAddPhotos = MakeButton(QStringLiteral("Add..."), tabPhotos, QSize(70, 24));
    sbnClearPhotos = MakeButton(QStringLiteral("Clear"), tabPhotos, QSize(70, 24));
    pbxPreview = new TPreviewBox(FPreview, tabPhotos);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(5);
    buttons->addWidget(sbnAddPhotos);
    buttons->addWidget(sbnClearPhotos);
    buttons->addStretch();

    auto *side = new QVBoxLayout;
    side->addLayout(buttons);
    side->addSpacing(26);
    side->addWidget(pbxPreview, 0, Qt::AlignLeft);
    side->addStretch();

    auto *page = new QHBoxLayout(tabPhotos);
    page->setContentsMargins(0, 0, 6, 0);
    page->setSpacing(9);
    page->addWidget(lvwPhotos);
    page->addLayout(side);
}

void TfrmPublish2Web::BuildSettingsPage()
{
    auto label = [](const QString &text, QWidget *parent) { return new QLabel(text, parent); };

    grpThumbnails = new QGroupBox(QStringLiteral(" Thumbnails "), tabSettings);
    edtThumbWidth = MakeEdit(grpThumbnails, "edtThumbWidth", GalleryNumbers::ThumbWidth);
    edtThumbHeight = MakeEdit(grpThumbnails, "edtThumbHeight", GalleryNumbers::ThumbHeight);
    edtThumbQuality = MakeEdit(grpThumbnails, "edtThumbQuality", GalleryNumbers::ThumbQuality);
    sbnRecreateThumbs = MakeButton(QStringLiteral("Overwrite thumbnails"), grpThumbnails, QSize(0, 24));
    auto *thumbs = new QGridLayout(grpThumbnails);
    thumbs->addWidget(label(QStringLiteral("Max width"), grpThumbnails), 0, 0);
    thumbs->addWidget(edtThumbWidth, 0, 1);
    thumbs->addWidget(label(QStringLiteral("Max height"), grpThumbnails), 1, 0);
    thumbs->addWidget(edtThumbHeight, 1, 1);
    thumbs->addWidget(label(QStringLiteral("Quality"), grpThumbnails), 2, 0);
    thumbs->addWidget(edtThumbQuality, 2, 1);
    thumbs->addWidget(sbnRecreateThumbs, 3, 0, 1, 2);
    thumbs->setRowStretch(4, 1);

    grpPhotos = new QGroupBox(QStringLiteral(" Photos "), tabSettings);
    cbxResizePhotos = new QCheckBox(QStringLiteral("Resize"), grpPhotos);
    // The caption stands left of the box.
    cbxResizePhotos->setLayoutDirection(Qt::RightToLeft);
    lblPhotoWidth = label(QStringLiteral("Max width"), grpPhotos);
    edtPhotoWidth = MakeEdit(grpPhotos, "edtPhotoWidth", GalleryNumbers::PhotoWidth);
    lblPhotoHeight = label(QStringLiteral("Max height"), grpPhotos);
    edtPhotoHeight = MakeEdit(grpPhotos, "edtPhotoHeight", GalleryNumbers::PhotoHeight);
    lblPhotoQuality = label(QStringLiteral("Quality"), grpPhotos);
    edtPhotoQuality = MakeEdit(grpPhotos, "edtPhotoQuality", GalleryNumbers::PhotoQuality);
    sbnRecreatePhotos = MakeButton(QStringLiteral("Overwrite photos"), grpPhotos, QSize(0, 24));
    auto *photos = new QGridLayout(grpPhotos);
    photos->addWidget(cbxResizePhotos, 0, 0, 1, 2, Qt::AlignLeft);
    photos->addWidget(lblPhotoWidth, 1, 0);
    photos->addWidget(edtPhotoWidth, 1, 1);
    photos->addWidget(lblPhotoHeight, 2, 0);
    photos->addWidget(edtPhotoHeight, 2, 1);
    photos->addWidget(lblPhotoQuality, 3, 0);
    photos->addWidget(edtPhotoQuality, 3, 1);
    photos->addWidget(sbnRecreatePhotos, 4, 0, 1, 2);
    photos->setRowStretch(5, 1);

    grpHtmlPages = new QGroupBox(QStringLiteral(" HTML Pages "), tabSettings);
    edtThumbColumns = MakeEdit(grpHtmlPages, "edtThumbColumns", GalleryNumbers::ThumbColumns);
    cbxSchemes = new TDropDownComboBox(grpHtmlPages);
    cbxSchemes->setEditable(false);
    cbxSchemes->setMinimumWidth(150);
    lblSchemesNote = label(QStringLiteral("Colors schemes are stored in CSS files. You can edit it, or create new."),
                           grpHtmlPages);
    lblSchemesNote->setWordWrap(true);
    sbnOpenSchemes = MakeButton(QStringLiteral("Open schemes folder"), grpHtmlPages, QSize(0, 24));
    cbxModernPages = new QCheckBox(QStringLiteral("Pages for phones and keyboards"), grpHtmlPages);
    cbxModernPages->setObjectName(QStringLiteral("cbxModernPages"));
    // Pages for phones wrap their thumbnails to the screen: no columns.
    connect(cbxModernPages, &QCheckBox::toggled, edtThumbColumns, [this](bool on) { edtThumbColumns->setEnabled(!on); });
    auto *html = new QGridLayout(grpHtmlPages);
    html->addWidget(label(QStringLiteral("Thumbnail columns"), grpHtmlPages), 0, 0);
    html->addWidget(edtThumbColumns, 0, 1, Qt::AlignLeft);
    html->addWidget(label(QStringLiteral("Colors scheme"), grpHtmlPages), 1, 0);
    html->addWidget(cbxSchemes, 1, 1);
    html->addWidget(lblSchemesNote, 0, 2, 2, 1);
    html->addWidget(cbxModernPages, 2, 0, 1, 2);
    html->addWidget(sbnOpenSchemes, 2, 2, Qt::AlignLeft);
    html->setColumnStretch(2, 1);

    grpDestination = new QGroupBox(QStringLiteral(" Destination folder "), tabSettings);
    cbxDestFolder = new QComboBox(grpDestination);
    cbxDestFolder->setEditable(true);
    // The history changes only through AddDestToHistory, not through Enter.
    cbxDestFolder->setInsertPolicy(QComboBox::NoInsert);
    cbxDestFolder->setMinimumWidth(277);
    cbxDestFolder->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    if (QCompleter *completer = cbxDestFolder->completer())
        completer->setCaseSensitivity(Qt::CaseSensitive);
    sbnSelectDestination = MakeButton(QStringLiteral("Select"), grpDestination, QSize(70, 24));
    auto *dest = new QHBoxLayout(grpDestination);
    dest->addWidget(cbxDestFolder, 1);
    dest->addWidget(sbnSelectDestination);

    auto *page = new QGridLayout(tabSettings);
    page->addWidget(grpThumbnails, 0, 0);
    page->addWidget(grpPhotos, 0, 1);
    page->addWidget(grpHtmlPages, 1, 0, 1, 2);
    page->addWidget(grpDestination, 2, 0, 1, 2);
    page->setRowStretch(3, 1);
}

void TfrmPublish2Web::FormCreate()
{
    QStringList history;
    LoadStringList(kLastDestFoldersKey, history);
    cbxDestFolder->addItems(history);
    cbxDestFolder->setCurrentIndex(-1);
    cbxDestFolder->clearEditText();

    // Read without creating the key: a store that never had the box on
    // stays as it was.
    qint32 modern = 0;
    TRegistry store;
    if (store.OpenKey(kGalleryPagesKey, false))
        store.TryReadInteger(QStringLiteral("Modern"), modern);
    cbxModernPages->setChecked(modern != 0);

    FPreview = QImage();
    pgcMain->setCurrentWidget(tabPhotos);
    cbxSchemesDropDown();
    cbxResizePhotosClick();
}

void TfrmPublish2Web::FormDestroy()
{
    QStringList history;
    for (int i = 0; i < cbxDestFolder->count(); ++i)
        history << cbxDestFolder->itemText(i);
    SaveStringList(kLastDestFoldersKey, history, kMaxDestHistoryIndex);
    // Off is the absence of the key (deleting a missing key writes nothing).
    if (cbxModernPages->isChecked())
        WriteRegIntegers(kGalleryPagesKey, {{QStringLiteral("Modern"), 1}});
    else
        DeleteRegKey(kGalleryPagesKey);
}

void TfrmPublish2Web::AddPhotoItems(const QStringList &files)
{
    for (const QString &file : files)
        lvwPhotos->addItem(file);
}

QStringList TfrmPublish2Web::Photos() const
{
    QStringList photos;
    photos.reserve(lvwPhotos->count());
    for (int i = 0; i < lvwPhotos->count(); ++i)
        photos << lvwPhotos->item(i)->text();
    return photos;
}

TGallerySettings TfrmPublish2Web::GallerySettings() const
{
    TGallerySettings settings;
    settings.Photos = Photos();
    settings.DestFolder = cbxDestFolder->currentText();
    settings.ThumbWidth = edtThumbWidth->Value();
    settings.ThumbHeight = edtThumbHeight->Value();
    settings.ThumbQuality = edtThumbQuality->Value();
    settings.ResizePhotos = cbxResizePhotos->isChecked();
    settings.PhotoWidth = edtPhotoWidth->Value();
    settings.PhotoHeight = edtPhotoHeight->Value();
    settings.PhotoQuality = edtPhotoQuality->Value();
    settings.ThumbColumns = edtThumbColumns->Value();
    settings.Scheme = cbxSchemes->currentText();
    settings.Pages = cbxModernPages->isChecked() ? gpModern : gpClassic;
    return settings;
}

QListWidgetItem *TfrmPublish2Web::SelectedItem() const
{
    const QList<QListWidgetItem *> selected = lvwPhotos->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

QListWidgetItem *TfrmPublish2Web::DragItem() const
{
    return FDragItem.isValid() ? lvwPhotos->itemFromIndex(FDragItem) : nullptr;
}

void TfrmPublish2Web::cbxSchemesDropDown()
{
    const QString remembered = cbxSchemes->currentText();
    // The file system lists a folder in no particular order; sorted, the
    // first scheme is the same on every machine.
    QStringList names;
    for (const QString &path : TFileFolder(FSchemesFolder, fkFile))
        names << NameOfPath(path);
    SortPictureList(names);

    cbxSchemes->clear();
    cbxSchemes->addItems(names);
    if (cbxSchemes->count() > 0) {
        const int index = cbxSchemes->findText(remembered, Qt::MatchExactly | Qt::MatchCaseSensitive);
        cbxSchemes->setCurrentIndex(index >= 0 ? index : 0);
    }
}

void TfrmPublish2Web::sbnOpenSchemesClick()
{
    ShellOpen(IncludeBackslash(FSchemesFolder));
}

void TfrmPublish2Web::sbnAddPhotosClick()
{
    TFileOpenDialog dialog;
    dialog.OwnerHandle = this;
    dialog.InitialDir = FLastOpenFolder;
    dialog.Filter = GalleryPhotoFilter();
    dialog.AllowMultiSelect = true;
    dialog.PreviewPane = true;
    dialog.PreviewLoader = [](const QString &file, const QSize &box) {
        QImage bitmap;
        LoadFittedBitmap(file, bitmap, box.width(), box.height(), true);
        return bitmap;
    };
    if (!dialog.Execute())
        return;
    QStringList files = dialog.Files;
    if (files.isEmpty() && !dialog.FileName.isEmpty())
        files << dialog.FileName;
    SortPictureList(files);
    AddPhotoItems(files);
}

void TfrmPublish2Web::miDeleteClick()
{
    QListWidgetItem *item = SelectedItem();
    if (!item)
        return;
    int index = lvwPhotos->row(item);
    {
        // Without a selection, removing the item does not make the list
        // select a neighbour of its own accord.
        QScopedValueRollback<bool> moving(FMovingItems, true);
        lvwPhotos->selectionModel()->clear();
        delete lvwPhotos->takeItem(index);
    }
    if (index > lvwPhotos->count() - 1)
        index = lvwPhotos->count() - 1;
    if (index >= 0)
        lvwPhotos->setCurrentRow(index);
}

void TfrmPublish2Web::sbnClearPhotosClick()
{
    if (CenteredMessageDlg(QStringLiteral("Do you want to clear the photos list?"), QMessageBox::Question,
                           QMessageBox::Yes | QMessageBox::Cancel)
        != QMessageBox::Yes)
        return;
    lvwPhotos->setUpdatesEnabled(false);
    lvwPhotos->clear();
    lvwPhotos->setUpdatesEnabled(true);
}

void TfrmPublish2Web::lvwPhotosSelectItem()
{
    UpdatePreview();
}

void TfrmPublish2Web::UpdatePreview()
{
    QListWidgetItem *selected = SelectedItem();
    if (!selected) {
        FPreview = QImage();
        pbxPreview->update();
        return;
    }
    QListWidgetItem *shown = DragItem() ? DragItem() : selected;
    QImage bitmap;
    try {
        LoadFittedBitmap(shown->text(), bitmap, TPreviewBox::kWidth, TPreviewBox::kHeight, true);
    } catch (...) {
        // Never leave the picture of another photo under this one's name.
        FPreview = QImage();
        pbxPreview->update();
        throw;
    }
    FPreview = std::move(bitmap);
    pbxPreview->update();
}

void TfrmPublish2Web::lvwPhotosStartDrag()
{
    FDragItem = QPersistentModelIndex();
    FDragError.clear();
}

void TfrmPublish2Web::lvwPhotosDragOver(const QPoint &pos)
{
    QListWidgetItem *target = lvwPhotos->DropTarget();
    if (target != DragItem()) {
        FDragItem = target ? QPersistentModelIndex(lvwPhotos->indexFromItem(target)) : QPersistentModelIndex();
        try {
            UpdatePreview();
        } catch (const AppError &e) {
            FDragError = e.message();
        } catch (const std::exception &e) {
            FDragError = QString::fromLocal8Bit(e.what());
        }
    }
    QScrollBar *bar = lvwPhotos->verticalScrollBar();
    int step = 0;
    if (pos.y() < kDragScrollMargin) {
        bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
        step = -1;
    }
    if (pos.y() > lvwPhotos->viewport()->height() - kDragScrollMargin) {
        bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        step = 1;
    }
    DragScroll(step);
}

void TfrmPublish2Web::DragScroll(int step)
{
    // The window system reports a drag only when the mouse moves; a timer
    // keeps a drag that is held at the edge scrolling.
    FDragScrollStep = step;
    if (step == 0)
        FDragScrollTimer->stop();
    else if (!FDragScrollTimer->isActive())
        FDragScrollTimer->start();
}

void TfrmPublish2Web::lvwPhotosEndDrag()
{
    DragScroll(0);
    QListWidgetItem *target = DragItem();
    FDragItem = QPersistentModelIndex();
    const QString dragError = std::exchange(FDragError, QString());
    QListWidgetItem *selected = SelectedItem();
    if (!selected)
        return;
    if (target)
        MoveItem(selected, lvwPhotos->row(target));
    UpdatePreview();
    if (!dragError.isEmpty())
        throw AppError(dragError);
}

void TfrmPublish2Web::MoveItem(QListWidgetItem *item, int newIndex)
{
    if (!item)
        return;
    if (newIndex < 0)
        newIndex = 0;
    const int index = lvwPhotos->row(item);
    if (newIndex == index)
        return;
    const int insertAt = newIndex > index ? newIndex + 1 : newIndex;
    QListWidgetItem *moved = item->clone();
    {
        QScopedValueRollback<bool> moving(FMovingItems, true);
        if (insertAt < lvwPhotos->count())
            lvwPhotos->insertItem(insertAt, moved);
        else
            lvwPhotos->addItem(moved);
        lvwPhotos->selectionModel()->clear();
        delete lvwPhotos->takeItem(lvwPhotos->row(item));
        lvwPhotos->setCurrentItem(moved);
    }
    lvwPhotos->setFocus();
    lvwPhotos->scrollToItem(moved, QAbstractItemView::EnsureVisible);
}

void TfrmPublish2Web::cbxResizePhotosClick()
{
    const bool on = cbxResizePhotos->isChecked();
    for (QWidget *w : {static_cast<QWidget *>(edtPhotoWidth), static_cast<QWidget *>(edtPhotoHeight),
                       static_cast<QWidget *>(edtPhotoQuality), static_cast<QWidget *>(lblPhotoWidth),
                       static_cast<QWidget *>(lblPhotoHeight), static_cast<QWidget *>(lblPhotoQuality)})
        w->setEnabled(on);
}

void TfrmPublish2Web::AddDestToHistory()
{
    const QString text = cbxDestFolder->currentText();
    if (text.isEmpty())
        return;
    // Folders that differ only in letter case are different folders here.
    for (int i = cbxDestFolder->count() - 1; i >= 0; --i) {
        if (cbxDestFolder->itemText(i) == text)
            cbxDestFolder->removeItem(i);
    }
    cbxDestFolder->insertItem(0, text);
    cbxDestFolder->setCurrentIndex(0);
    cbxDestFolder->setEditText(text);
}

void TfrmPublish2Web::sbnSelectDestinationClick()
{
    PathDialog->SetDirectory(cbxDestFolder->currentText());
    if (!PathDialog->Execute())
        return;
    cbxDestFolder->setEditText(PathDialog->Directory());
    AddDestToHistory();
}

void TfrmPublish2Web::RunGallery(TPublishMode mode)
{
    FormPublishHost host(this, FSchemesFolder);
    host.OnShowPhotosPage = [this] { pgcMain->setCurrentWidget(tabPhotos); };
    host.OnShowDestinationSetting = [this] {
        pgcMain->setCurrentWidget(tabSettings);
        cbxDestFolder->setFocus();
    };
    PublishGallery(GallerySettings(), mode, host, PublishJobs);
}

void TfrmPublish2Web::sbnPublishClick()
{
    AddDestToHistory();
    RunGallery(pmUpdate);
}

void TfrmPublish2Web::sbnRecreateThumbsClick()
{
    RunGallery(pmOverwriteThumbs);
}

void TfrmPublish2Web::sbnRecreatePhotosClick()
{
    RunGallery(pmOverwritePhotos);
}

bool TfrmPublish2Web::eventFilter(QObject *watched, QEvent *event)
{
    // While the destination list is open, Del takes the highlighted entry
    // out of the history.
    if (watched == cbxDestFolder->view() && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Delete) {
        const QModelIndex highlighted = cbxDestFolder->view()->currentIndex();
        if (highlighted.isValid()) {
            const QString text = cbxDestFolder->currentText();
            cbxDestFolder->removeItem(highlighted.row());
            cbxDestFolder->setEditText(text);
        }
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmPublish2Web::keyPressEvent(QKeyEvent *event)
{
    // Only "Close" closes the dialog; Escape presses no button.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void ShowPublish2Web(const QStringList &files, const QString &lastOpenFolder, QWidget *owner)
{
    TfrmPublish2Web form(lastOpenFolder, owner);
    form.AddPhotoItems(files);
    form.exec();
}
