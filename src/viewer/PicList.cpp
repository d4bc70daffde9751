#include "PicList.h"

// Local
#include "AppError.h"
#include "FileLib.h"
#include "PictureLoader.h"

// Qt
#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QPainter>
#include <QTimer>
#include <QWheelEvent>

// Std
#include <algorithm>
#include <climits>
#include <cmath>
#include <new>

namespace {

// The hourglass for as long as a picture loads, also when loading fails.
class WaitCursor
{
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

} // namespace

TPicList::TPicList(QWidget *owner)
    : QWidget(owner)
{
    // Every pixel is painted in paintEvent; Qt's backing store keeps the
    // black fill and the picture from flickering.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
}

TPicList::~TPicList() = default;

int DevicePixels(int logical, qreal ratio)
{
    if (ratio == 1 || logical <= 0)
        return logical;
    return int(std::floor(logical * ratio));
}

void TPicList::SetPaintEnable(bool value)
{
    FPaintEnable = value;
    if (value)
        UpdateImage();
}

void TPicList::OpenFolder(const QString &folder, const QString &fileName)
{
    // A folder opened again (F5 included) is read afresh.
    FPrefetch.Clear();
    FFiles.clear();
    FBitmap = QImage();
    FPaintBitmap = QImage();
    FItemIndex = -1;

    const TFileFolder entries(folder, fkFile);
    for (const QString &entry : entries) {
        if (IsPictureExtension(entry))
            FFiles.append(entry);
    }
    SortPictureList(FFiles);

    if (!FFiles.isEmpty()) {
        if (!fileName.isEmpty())
            FItemIndex = FindPicture(FFiles, fileName);
        if (FItemIndex == -1)
            FItemIndex = 0;
    }
    UpdateImage();
}

void TPicList::MoveTo(int index)
{
    FDirection = index < FItemIndex ? -1 : 1;
    FItemIndex = index;
    UpdateImage();
}

void TPicList::Prev()
{
    if (Count() > 0 && FItemIndex > 0)
        MoveTo(FItemIndex - 1);
}

void TPicList::Next()
{
    if (Count() > 0 && FItemIndex < Count() - 1)
        MoveTo(FItemIndex + 1);
}

void TPicList::Prev10()
{
    if (Count() > 0 && FItemIndex > 0)
        MoveTo(std::max(FItemIndex - 10, 0));
}

void TPicList::Next10()
{
    if (Count() > 0 && FItemIndex < Count() - 1)
        MoveTo(std::min(FItemIndex + 10, Count() - 1));
}

void TPicList::First()
{
    if (Count() > 0 && FItemIndex != 0)
        MoveTo(0);
}

void TPicList::Last()
{
    if (Count() > 0 && FItemIndex != Count() - 1)
        MoveTo(Count() - 1);
}

void TPicList::RemoveCurrent()
{
    if (FItemIndex == -1)
        return;
    FPrefetch.Drop(FFiles.at(FItemIndex));
    FFiles.removeAt(FItemIndex);
    if (FItemIndex > Count() - 1)
        FItemIndex = Count() - 1;
    if (FItemIndex == -1) {
        // Nothing is current any more: show plain black rather than the
        // picture of a file that has gone.
        FBitmap = QImage();
        FPaintBitmap = QImage();
    }
    UpdateImage();
}

void TPicList::UpdateImage()
{
    if (!FPaintEnable)
        return;
    // A hidden picture list shows nothing; it catches up when it is shown.
    // Meanwhile the worker starts on the picture for the area as it is laid
    // out now (at start-up the window is being built): if the area is the
    // same once shown, the picture only has to be painted.
    if (!isVisible()) {
        FUpdatePending = true;
        const TShowRequest request = FItemIndex != -1 ? Request(FItemIndex) : TShowRequest();
        if (!request.File.isEmpty() && request.Box.width() > 0 && request.Box.height() > 0
            && CanPrefetch(request.File))
            FPrefetch.Want({request});
        return;
    }
    FUpdatePending = false;
    if (FItemIndex != -1) {
        // On a screen that scales (a device pixel ratio above 1) the picture
        // is fitted into the area's device pixels and drawn 1:1 on them, so
        // it is not blown up from logical pixels; the scale shown is then
        // relative to device pixels too.
        const TShowRequest request = Request(FItemIndex);
        std::optional<TShownPicture> shown = FPrefetch.Take(request);
        if (shown) {
            ++FPrefetchedCount;
        } else {
            WaitCursor hourglass;
            // Black at once, so the old picture does not stay while the new
            // one loads.
            FBitmap = QImage();
            FPaintBitmap = QImage();
            repaint();
            shown = ReadShownPicture(request);
        }
        ++FLoadCount;
        FBitmap = std::move(shown->Bitmap);
        FPaintBitmap = std::move(shown->Paint);
        FImageWidth = shown->Width;
        FImageHeight = shown->Height;
        FImageScale = shown->Scale;
    }
    repaint();
    if (OnChange)
        OnChange(this);
    SchedulePrefetch();
}

void TPicList::SchedulePrefetch()
{
    if (!FPrefetchPending) {
        FPrefetchPending = true;
        QTimer::singleShot(0, this, [this] { PrefetchNeighbours(); });
    }
}

TShowRequest TPicList::Request(int index) const
{
    const qreal ratio = devicePixelRatioF();
    return {FFiles.at(index), QSize(DevicePixels(width() - 6, ratio), DevicePixels(height() - 6, ratio)), ratio};
}

void TPicList::PrefetchNeighbours()
{
    FPrefetchPending = false;
    if (!isVisible() || window()->isMinimized() || !FPaintEnable || FItemIndex == -1) {
        StopPrefetch();
        return;
    }
    QList<TShowRequest> wanted;
    for (const int step : {FDirection, -FDirection}) {
        const int index = FItemIndex + step;
        if (index >= 0 && index < Count() && CanPrefetch(FFiles.at(index)))
            wanted.append(Request(index));
    }
    FPrefetch.Want(wanted);
}

void TPicList::StopPrefetch()
{
    FPrefetch.Want({});
}

void TPicList::CopyToClipboard()
{
    if (FItemIndex == -1)
        return;
    QImage full;
    int width = 0;
    int height = 0;
    QString scale;
    ReadPicture(FFiles.at(FItemIndex), full, INT_MAX, INT_MAX, width, height, scale);
    QGuiApplication::clipboard()->setImage(full);
}

void TPicList::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    // The 32-bit copy; the bitmap itself if there was no memory for one.
    const QImage &bitmap = FPaintBitmap.isNull() ? FBitmap : FPaintBitmap;
    if (bitmap.isNull())
        return;
    // Integer division toward zero: a bitmap larger than the area is cropped
    // evenly on both sides.
    const qreal ratio = bitmap.devicePixelRatio();
    if (ratio == 1) {
        painter.drawImage(QPoint((width() - bitmap.width()) / 2, (height() - bitmap.height()) / 2), bitmap);
        return;
    }
    // Centred in device pixels, so that the picture starts on a whole one.
    const int x = (DevicePixels(width(), ratio) - bitmap.width()) / 2;
    const int y = (DevicePixels(height(), ratio) - bitmap.height()) / 2;
    painter.drawImage(QPointF(x / ratio, y / ratio), bitmap);
}

void TPicList::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (FUpdatePending)
        UpdateImage();
    else
        SchedulePrefetch();   // back from hidden or minimized
}

// Also when the window is minimized: the window system unmaps it.
void TPicList::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    StopPrefetch();
}

void TPicList::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    UpdateImage();
}

void TPicList::mousePressEvent(QMouseEvent *event)
{
    QWidget::mousePressEvent(event);
    setFocus(Qt::MouseFocusReason);
}

void TPicList::wheelEvent(QWheelEvent *event)
{
    event->ignore();
}
