#pragma once

// Qt
#include <QImage>
#include <QStringList>
#include <QWidget>

// Std
#include <functional>

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

    // How many times a picture was read for display (tests count decodes).
    int LoadCount() const { return FLoadCount; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    // Wheel turns are left to the owner window.
    void wheelEvent(QWheelEvent *event) override;

private:
    void MoveTo(int index);

    QStringList FFiles;
    QImage FBitmap;
    int FItemIndex = -1;
    int FImageWidth = 0;
    int FImageHeight = 0;
    QString FImageScale;
    bool FPaintEnable = true;
    int FLoadCount = 0;
    bool FUpdatePending = false;
};

// A length in logical pixels as whole device pixels at a device pixel ratio
// (rounded down; the length itself at ratio 1 or below 1 pixel).
int DevicePixels(int logical, qreal ratio);
