#pragma once

// Local
#include "PicturePrefetch.h"

// Qt
#include <QImage>
#include <QStringList>
#include <QWidget>

// Std
#include <functional>
#include <optional>
#include <vector>

// The viewer's picture area: the picture files of one folder in sorted
// order, the current one shown shrunk to fit and centred on black. Every
// showing of the current picture ends with OnChange.
class TPicList : public QWidget
{
    Q_OBJECT

public:
    explicit TPicList(QWidget *owner = nullptr);
    ~TPicList() override;

    int Count() const { return int(FFiles.size()); }
    int ItemIndex() const { return FItemIndex; }
    // Only stores the value: nothing is loaded, painted or notified.
    void SetItemIndex(int index) { FItemIndex = index; }
    QString FileNames(int index) const { return FFiles.at(index); }
    const QStringList &Files() const { return FFiles; }
    int ImageWidth() const { return FImageWidth; }
    int ImageHeight() const { return FImageHeight; }
    QString ImageScale() const { return FImageScale; }
    // The scaled picture on show (empty when nothing is shown).
    const QImage &DisplayBitmap() const { return FBitmap; }

    bool PaintEnable() const { return FPaintEnable; }
    // Writing true updates at once, also when it was already true.
    void SetPaintEnable(bool value);

    std::function<void(TPicList *)> OnChange;

    void OpenFolder(const QString &folder, const QString &fileName);
    void Prev();
    void Next();
    void Prev10();
    void Next10();
    void First();
    void Last();
    void CopyToClipboard();
    void RemoveCurrent();
    void UpdateImage();

    // Looking closer and turning. Fit is the view above: the whole picture
    // shrunk into the area. A zoomed view paints the picture at full size,
    // read once, at ZoomFactor device pixels a picture pixel, with
    // ViewCentre (in picture pixels) in the middle of the area. Turns are
    // quarter turns clockwise of the view only; the file is not touched.
    // Stepping to another picture returns to Fit, upright.
    bool IsZoomed() const { return FZoom > 0; }
    double ZoomFactor() const { return FZoom; }
    QPointF ViewCentre() const { return FCentre; }
    int Turns() const { return FTurns; }
    // The zoom steps keep the picture point under anchor (a point of the
    // area, in logical pixels) in place; without one, the area's centre.
    void ZoomIn(std::optional<QPointF> anchor = std::nullopt);
    void ZoomOut(std::optional<QPointF> anchor = std::nullopt);
    void ActualSize();
    void FitToArea();
    void TurnRight();
    void TurnLeft();
    // Whether the turn can be written into the file: a turned JPEG photo,
    // shown by its orientation tag.
    bool CanSaveTurn() const;
    // Writes the view's turn into the photo's orientation tag (no pixel is
    // decoded again: the file keeps its picture data and every other field),
    // through a temporary file that replaces it whole, then shows it afresh
    // upright. Throws AppError naming the file and the cause.
    void SaveTurnedPhoto();
    // Moves a zoomed view by device pixels of the screen.
    void Pan(QPointF deviceDelta);
    // How many times a picture was read at full size for a zoomed view.
    int FullReadCount() const { return FFullReadCount; }

    // How many times a picture was read for display (tests count decodes),
    // here or ahead of time on the prefetch's worker.
    int LoadCount() const { return FLoadCount; }
    // How many of them were read ahead of time and only painted here.
    int PrefetchedCount() const { return FPrefetchedCount; }
    // The pictures read ahead of time (tests look into it).
    TPicturePrefetch &Prefetch() { return FPrefetch; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    // Arrow keys pan a zoomed picture; otherwise they are left to the owner.
    void keyPressEvent(QKeyEvent *event) override;
    // Wheel turns are left to the owner window.
    void wheelEvent(QWheelEvent *event) override;

private:
    void MoveTo(int index);
    // Back to Fit and upright, dropping the full-size picture.
    void ResetView();
    // The full-size picture, upright and turned, read once per picture.
    void LoadFullPicture();
    void SetZoom(double zoom, std::optional<QPointF> anchor);
    // The scale at which the whole picture fits the area (never above 1).
    double FitFactor() const;
    void ClampCentre();
    void ZoomChanged();
    // The full-size picture halved level times (level 0: itself).
    const QImage &Reduced(int level);
    // The current picture's request for the area as it is now.
    TShowRequest Request(int index) const;
    // Once the program is idle after a picture is shown: asks for the next
    // picture in the direction of the last step, then the one behind.
    void SchedulePrefetch();
    void PrefetchNeighbours();
    void StopPrefetch();

    QStringList FFiles;
    QImage FBitmap;
    QImage FPaintBitmap;
    int FItemIndex = -1;
    int FImageWidth = 0;
    int FImageHeight = 0;
    QString FImageScale;
    bool FPaintEnable = true;
    int FLoadCount = 0;
    int FPrefetchedCount = 0;
    bool FUpdatePending = false;
    int FDirection = 1;
    bool FPrefetchPending = false;
    TPicturePrefetch FPrefetch;
    double FZoom = 0;           // 0: Fit
    int FTurns = 0;             // quarter turns clockwise, 0 to 3
    QImage FFull;               // the full-size picture, turned, for zoomed views
    std::vector<QImage> FReduced;   // FFull halved once, twice, ...
    QPointF FCentre;
    QString FFitScale;          // the scale text of the fitted view
    QSize FFitBox;              // the box and turns the fitted bitmap was made for
    int FFitTurns = 0;
    std::optional<QPointF> FDragFrom;
    int FFullReadCount = 0;
};

// A length in logical pixels as whole device pixels at a device pixel ratio
// (rounded down; the length itself at ratio 1 or below 1 pixel).
int DevicePixels(int logical, qreal ratio);
