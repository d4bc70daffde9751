#include "PicList.h"

// Local
#include "AppError.h"
#include "ExifOrientation.h"
#include "FileLib.h"
#include "PictureFormats.h"
#include "PictureLoader.h"
#include "UserFiles.h"

// Qt
#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QPainter>
#include <QTimer>
#include <QKeyEvent>
#include <QMouseEvent>
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
    ResetView();
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
    ResetView();
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
    ResetView();
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
    if (FZoom > 0 && FItemIndex != -1) {
        // A zoomed view only paints the full-size picture it holds.
        ClampCentre();
        repaint();
        if (OnChange)
            OnChange(this);
        return;
    }
    if (FItemIndex != -1) {
        // On a screen that scales (a device pixel ratio above 1) the picture
        // is fitted into the area's device pixels and drawn 1:1 on them, so
        // it is not blown up from logical pixels; the scale shown is then
        // relative to device pixels too.
        TShowRequest request = Request(FItemIndex);
        // A view turned a quarter fits the picture into the area on its side.
        if (FTurns % 2 != 0)
            request.Box.transpose();
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
        FFitScale = FImageScale;
        FFitBox = request.Box;
        FFitTurns = FTurns;
        if (FTurns != 0) {
            const QTransform turn = QTransform().rotate(90 * FTurns);
            if (!FBitmap.isNull())
                FBitmap = FBitmap.transformed(turn);
            if (!FPaintBitmap.isNull())
                FPaintBitmap = FPaintBitmap.transformed(turn);
        }
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
    if (FZoom > 0 && !FFull.isNull()) {
        // The part of the picture the area shows, in picture pixels, and
        // where it lands, in logical pixels; only that part is drawn.
        const qreal ratio = devicePixelRatioF();
        const QPointF half(width() * ratio / 2, height() * ratio / 2);
        const QRectF wanted(FCentre - half / FZoom, FCentre + half / FZoom);
        const QRectF source = wanted.intersected(QRectF(FFull.rect()));
        if (source.isEmpty())
            return;
        const QRectF target((source.topLeft() - FCentre) * FZoom / ratio + half / ratio,
                            source.size() * FZoom / ratio);
        // Shrunk pictures are smoothed, from the halved copy nearest above
        // the scale (fewer pixels to read, and no pixel skipped); enlarged
        // ones show their pixels.
        painter.setRenderHint(QPainter::SmoothPixmapTransform, FZoom < 1);
        int level = 0;
        while (FZoom * (2 << level) <= 1.0001)
            ++level;
        const QImage &image = Reduced(level);
        const double shrink = double(image.width()) / FFull.width();
        painter.drawImage(target, image,
                          QRectF(source.topLeft() * shrink, source.size() * shrink).intersected(QRectF(image.rect())));
        return;
    }
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
    if (FZoom > 0 && event->button() == Qt::LeftButton) {
        FDragFrom = event->position();
        setCursor(Qt::ClosedHandCursor);
    }
}

void TPicList::mouseMoveEvent(QMouseEvent *event)
{
    QWidget::mouseMoveEvent(event);
    if (!FDragFrom)
        return;
    // The picture follows the pointer.
    const QPointF delta = *FDragFrom - event->position();
    FDragFrom = event->position();
    Pan(delta * devicePixelRatioF());
}

void TPicList::mouseReleaseEvent(QMouseEvent *event)
{
    QWidget::mouseReleaseEvent(event);
    if (FDragFrom && event->button() == Qt::LeftButton) {
        FDragFrom.reset();
        setCursor(FZoom > 0 ? Qt::OpenHandCursor : Qt::ArrowCursor);
    }
}

void TPicList::keyPressEvent(QKeyEvent *event)
{
    if (FZoom > 0 && event->modifiers() == Qt::NoModifier) {
        // An eighth of the area a press.
        const qreal stepX = width() * devicePixelRatioF() / 8;
        const qreal stepY = height() * devicePixelRatioF() / 8;
        switch (event->key()) {
        case Qt::Key_Left: Pan({-stepX, 0}); return;
        case Qt::Key_Right: Pan({stepX, 0}); return;
        case Qt::Key_Up: Pan({0, -stepY}); return;
        case Qt::Key_Down: Pan({0, stepY}); return;
        default: break;
        }
    }
    QWidget::keyPressEvent(event);
}

namespace {

// The zoom steps beyond Fit, in device pixels a picture pixel.
constexpr double kZoomSteps[] = {1.0 / 16, 1.0 / 12, 1.0 / 8, 1.0 / 6, 1.0 / 4, 1.0 / 3, 1.0 / 2, 2.0 / 3,
                                 1, 1.5, 2, 3, 4, 6, 8, 12, 16};

} // namespace

const QImage &TPicList::Reduced(int level)
{
    // Each made once per picture and turn, from the one above it.
    while (int(FReduced.size()) < level) {
        const QImage &above = FReduced.empty() ? FFull : FReduced.back();
        if (above.width() < 2 || above.height() < 2)
            break;
        FReduced.push_back(above.scaled(above.width() / 2, above.height() / 2, Qt::IgnoreAspectRatio,
                                        Qt::SmoothTransformation));
    }
    level = std::min(level, int(FReduced.size()));
    return level == 0 ? FFull : FReduced[size_t(level - 1)];
}

void TPicList::ResetView()
{
    FZoom = 0;
    FTurns = 0;
    FFull = QImage();
    FReduced.clear();
    FDragFrom.reset();
    unsetCursor();
}

double TPicList::FitFactor() const
{
    if (FFull.isNull())
        return 1;
    const qreal ratio = devicePixelRatioF();
    const double w = DevicePixels(width() - 6, ratio);
    const double h = DevicePixels(height() - 6, ratio);
    return std::clamp(std::min(w / FFull.width(), h / FFull.height()), 1e-6, 1.0);
}

void TPicList::LoadFullPicture()
{
    if (!FFull.isNull() || FItemIndex == -1)
        return;
    WaitCursor hourglass;
    QImage full;
    int width = 0;
    int height = 0;
    QString scale;
    // Throws when the file cannot be read or the picture is too large; the
    // view then stays as it is.
    ReadPicture(FFiles.at(FItemIndex), full, INT_MAX, INT_MAX, width, height, scale);
    ++FFullReadCount;
    full = full.convertToFormat(QImage::Format_RGB32);
    if (FTurns != 0)
        full = full.transformed(QTransform().rotate(90 * FTurns));
    if (full.isNull())
        throw std::bad_alloc();
    FFull = std::move(full);
    FCentre = QPointF(FFull.width() / 2.0, FFull.height() / 2.0);
}

void TPicList::SetZoom(double zoom, std::optional<QPointF> anchor)
{
    if (FItemIndex == -1)
        return;
    const bool wasZoomed = FZoom > 0;
    LoadFullPicture();
    const qreal ratio = devicePixelRatioF();
    const QPointF half(width() * ratio / 2, height() * ratio / 2);
    // The anchor's offset from the area's centre, in device pixels; a
    // fitted picture stands centred at its fitted scale.
    const QPointF offset = anchor ? *anchor * ratio - half : QPointF();
    const double before = wasZoomed ? FZoom : FitFactor();
    if (!wasZoomed)
        FCentre = QPointF(FFull.width() / 2.0, FFull.height() / 2.0);
    const QPointF under = FCentre + offset / before;
    FZoom = zoom;
    FCentre = under - offset / zoom;
    ZoomChanged();
}

void TPicList::ZoomIn(std::optional<QPointF> anchor)
{
    if (FItemIndex == -1)
        return;
    LoadFullPicture();
    const double now = FZoom > 0 ? FZoom : FitFactor();
    for (const double step : kZoomSteps) {
        if (step > now * 1.001) {
            SetZoom(step, anchor);
            return;
        }
    }
}

void TPicList::ZoomOut(std::optional<QPointF> anchor)
{
    if (FZoom <= 0)
        return;
    const double fit = FitFactor();
    double next = 0;
    for (const double step : kZoomSteps) {
        if (step < FZoom * 0.999)
            next = step;
    }
    // Below the fitted scale there is only Fit.
    if (next <= fit * 1.001)
        FitToArea();
    else
        SetZoom(next, anchor);
}

void TPicList::ActualSize()
{
    if (FItemIndex == -1)
        return;
    LoadFullPicture();
    FZoom = 1;
    FCentre = QPointF(FFull.width() / 2.0, FFull.height() / 2.0);
    ZoomChanged();
}

void TPicList::FitToArea()
{
    if (FZoom <= 0)
        return;
    FZoom = 0;
    FDragFrom.reset();
    unsetCursor();
    TShowRequest request = Request(FItemIndex);
    if (FTurns % 2 != 0)
        request.Box.transpose();
    if (request.Box != FFitBox || FTurns != FFitTurns) {
        // The area or the turn changed while zoomed: fit afresh.
        UpdateImage();
        return;
    }
    // The fitted picture shown before zooming still fits.
    FImageScale = FFitScale;
    repaint();
    if (OnChange)
        OnChange(this);
}

void TPicList::TurnRight()
{
    if (FItemIndex == -1)
        return;
    FTurns = (FTurns + 1) % 4;
    if (!FFull.isNull()) {
        FFull = FFull.transformed(QTransform().rotate(90));
        FReduced.clear();
        FCentre = QPointF(FFull.width() - FCentre.y(), FCentre.x());
    }
    if (FZoom > 0) {
        ZoomChanged();
        return;
    }
    UpdateImage();
}

void TPicList::TurnLeft()
{
    // Three quarters to the right; the picture is moved, never blended.
    if (FItemIndex == -1)
        return;
    FTurns = (FTurns + 3) % 4;
    if (!FFull.isNull()) {
        FFull = FFull.transformed(QTransform().rotate(-90));
        FReduced.clear();
        FCentre = QPointF(FCentre.y(), FFull.height() - FCentre.x());
    }
    if (FZoom > 0) {
        ZoomChanged();
        return;
    }
    UpdateImage();
}

bool TPicList::CanSaveTurn() const
{
    return FItemIndex != -1 && FTurns != 0 && TurnByOrientation()
           && DecoderForExtension(PictureExtension(FFiles.at(FItemIndex))) == PictureDecoder::Jpeg;
}

void TPicList::SaveTurnedPhoto()
{
    if (!CanSaveTurn())
        return;
    const QString file = FFiles.at(FItemIndex);
    const QByteArray jpeg = ReadPictureFile(file);
    QByteArray turned;
    try {
        turned = JpegWithOrientation(jpeg, TurnedOrientation(JpegOrientation(jpeg), FTurns));
    } catch (const AppError &e) {
        throw AppError(QStringLiteral("Cannot save the turned photo %1: %2").arg(file, e.message()));
    }
    QString reason;
    if (!WriteFileAtomically(file, turned, &reason))
        throw AppError(QStringLiteral("Cannot write file %1: %2").arg(file, reason));
    // The file is upright now as it stands: show it as any other.
    FPrefetch.Drop(file);
    ResetView();
    UpdateImage();
}

void TPicList::Pan(QPointF deviceDelta)
{
    if (FZoom <= 0)
        return;
    FCentre += deviceDelta / FZoom;
    ClampCentre();
    update();
}

void TPicList::ClampCentre()
{
    if (FFull.isNull() || FZoom <= 0)
        return;
    // A side larger than the area pans no further than its edges; a smaller
    // one stands centred.
    const qreal ratio = devicePixelRatioF();
    const double halfW = width() * ratio / 2 / FZoom;
    const double halfH = height() * ratio / 2 / FZoom;
    const auto clamp = [](double c, double half, double size) {
        return size <= 2 * half ? size / 2 : std::clamp(c, half, size - half);
    };
    FCentre = QPointF(clamp(FCentre.x(), halfW, FFull.width()), clamp(FCentre.y(), halfH, FFull.height()));
}

void TPicList::ZoomChanged()
{
    ClampCentre();
    FImageScale = QStringLiteral("%1%").arg(qRound(FZoom * 100));
    setCursor(Qt::OpenHandCursor);
    update();
    if (OnChange)
        OnChange(this);
}

void TPicList::wheelEvent(QWheelEvent *event)
{
    event->ignore();
}
