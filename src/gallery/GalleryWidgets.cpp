#include "GalleryWidgets.h"

// Qt
#include <QDrag>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QPainter>

namespace {

const QString kDragFormat = QStringLiteral("application/x-tamsel-photo-item");

} // namespace

// TPhotoListView

TPhotoListView::TPhotoListView(QWidget *parent)
    : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
}

QListWidgetItem *TPhotoListView::DropTarget() const
{
    return FDropTarget.isValid() ? itemFromIndex(FDropTarget) : nullptr;
}

bool TPhotoListView::IsOwnDrag(const QDropEvent *event) const
{
    return FDragging && event->mimeData() && event->mimeData()->hasFormat(kDragFormat);
}

void TPhotoListView::startDrag(Qt::DropActions)
{
    if (selectedItems().isEmpty())
        return;
    // No drag image: only the drag cursor shows.
    auto *drag = new QDrag(this);
    auto *data = new QMimeData;
    data->setData(kDragFormat, QByteArray::number(currentRow()));
    drag->setMimeData(data);

    FDragging = true;
    FDropTarget = QPersistentModelIndex();
    if (OnStartDrag)
        OnStartDrag();
    if (RunDrag) {
        RunDrag(drag);
        drag->deleteLater();
    } else {
        drag->exec(Qt::MoveAction, Qt::MoveAction);
    }
    FDragging = false;
    FDropTarget = QPersistentModelIndex();
    viewport()->update();
    if (OnEndDrag)
        OnEndDrag();
}

bool TPhotoListView::AcceptOwnDrag(QDropEvent *event) const
{
    if (!IsOwnDrag(event)) {
        event->ignore();
        return false;
    }
    event->setDropAction(Qt::MoveAction);
    event->accept();
    return true;
}

void TPhotoListView::dragEnterEvent(QDragEnterEvent *event)
{
    AcceptOwnDrag(event);
}

void TPhotoListView::dragMoveEvent(QDragMoveEvent *event)
{
    if (!AcceptOwnDrag(event))
        return;
    const QPoint pos = event->position().toPoint();
    const QModelIndex target = indexAt(pos);
    if (target != FDropTarget) {
        FDropTarget = target;
        viewport()->update();
    }
    if (OnDragOver)
        OnDragOver(pos);
}

void TPhotoListView::dragLeaveEvent(QDragLeaveEvent *event)
{
    // Only the highlight goes; the dialog keeps the item last seen.
    FDropTarget = QPersistentModelIndex();
    viewport()->update();
    event->accept();
    if (FDragging && OnDragLeave)
        OnDragLeave();
}

void TPhotoListView::dropEvent(QDropEvent *event)
{
    // The move itself is made when the drag has ended.
    AcceptOwnDrag(event);
}

void TPhotoListView::paintEvent(QPaintEvent *event)
{
    QListWidget::paintEvent(event);
    if (!FDragging || !FDropTarget.isValid())
        return;
    QPainter painter(viewport());
    QColor highlight = palette().color(QPalette::Highlight);
    highlight.setAlpha(96);
    painter.fillRect(visualRect(FDropTarget), highlight);
}

// TPreviewBox

TPreviewBox::TPreviewBox(const QImage &bitmap, QWidget *parent)
    : QWidget(parent)
    , FBitmap(bitmap)
{
    setFixedSize(kWidth, kHeight);
}

void TPreviewBox::paintEvent(QPaintEvent *)
{
    if (FBitmap.isNull())
        return;
    QPainter painter(this);
    painter.drawImage(QPoint((width() - FBitmap.width()) / 2, 0), FBitmap);
}

// TDropDownComboBox

void TDropDownComboBox::showPopup()
{
    if (OnDropDown)
        OnDropDown();
    QComboBox::showPopup();
}
