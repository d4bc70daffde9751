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
    FFiles.clear();
    FBitmap = QImage();
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
    FFiles.removeAt(FItemIndex);
    if (FItemIndex > Count() - 1)
        FItemIndex = Count() - 1;
    if (FItemIndex == -1) {
        // Nothing is current any more: show plain black rather than the
        // picture of a file that has gone.
        FBitmap = QImage();
    }
    UpdateImage();
}

void TPicList::UpdateImage()
{
    if (!FPaintEnable)
        return;
    // A hidden picture list loads nothing; it catches up when it is shown
    // (at start-up the window gets its final size only then).
    if (!isVisible()) {
        FUpdatePending = true;
        return;
    }
    FUpdatePending = false;
    if (FItemIndex != -1) {
        WaitCursor hourglass;
        // Black at once, so the old picture does not stay while the new one
        // loads.
        FBitmap = QImage();
        repaint();
        ++FLoadCount;
        // On a screen that scales (a device pixel ratio above 1) the picture
        // is fitted into the area's device pixels and drawn 1:1 on them, so
        // it is not blown up from logical pixels; the scale shown is then
        // relative to device pixels too.
        const qreal ratio = devicePixelRatioF();
        try {
            ReadPicture(FFiles.at(FItemIndex), FBitmap, DevicePixels(width() - 6, ratio),
                        DevicePixels(height() - 6, ratio), FImageWidth, FImageHeight, FImageScale);
            FBitmap.setDevicePixelRatio(ratio);
        } catch (const AppError &e) {
            FBitmap = QImage();
            FImageScale = e.message();
        } catch (const std::bad_alloc &) {
            FBitmap = QImage();
            FImageScale = QStringLiteral("Out of memory");
        }
    }
    repaint();
    if (OnChange)
        OnChange(this);
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
    if (FBitmap.isNull())
        return;
    // Integer division toward zero: a bitmap larger than the area is cropped
    // evenly on both sides.
    const qreal ratio = FBitmap.devicePixelRatio();
    if (ratio == 1) {
        painter.drawImage(QPoint((width() - FBitmap.width()) / 2, (height() - FBitmap.height()) / 2),
                          FBitmap);
        return;
    }
    // Centred in device pixels, so that the picture starts on a whole one.
    const int x = (DevicePixels(width(), ratio) - FBitmap.width()) / 2;
    const int y = (DevicePixels(height(), ratio) - FBitmap.height()) / 2;
    painter.drawImage(QPointF(x / ratio, y / ratio), FBitmap);
}

void TPicList::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (FUpdatePending)
        UpdateImage();
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
