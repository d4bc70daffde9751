#pragma once

// Qt
#include <QComboBox>
#include <QImage>
#include <QListWidget>
#include <QPersistentModelIndex>
#include <QWidget>

// Std
#include <functional>

class QDrag;

// The controls of the gallery dialog that Qt does not have as they are.

// The photo list of the gallery dialog: one caption per photo, reordered by
// dragging an item onto another. The list only tracks the drag; what a drag
// does is up to the dialog's handlers.
class TPhotoListView : public QListWidget
{
    Q_OBJECT

public:
    explicit TPhotoListView(QWidget *parent = nullptr);

    // The item under the cursor during a drag inside the list, highlighted.
    QListWidgetItem *DropTarget() const;
    bool Dragging() const { return FDragging; }

    std::function<void()> OnStartDrag;
    // A drag from this list moved over it (position in viewport coordinates).
    std::function<void(const QPoint &pos)> OnDragOver;
    // The drag left the list.
    std::function<void()> OnDragLeave;
    // Runs after every drag from this list, however it ended.
    std::function<void()> OnEndDrag;
    // Carries out the drag; by default QDrag::exec. Tests replace it to play
    // the events of a drag without a person.
    std::function<void(QDrag *drag)> RunDrag;

protected:
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    bool IsOwnDrag(const QDropEvent *event) const;
    // Takes the list's own drag as a move and refuses any other; false when
    // refused.
    bool AcceptOwnDrag(QDropEvent *event) const;

    bool FDragging = false;
    QPersistentModelIndex FDropTarget;
};

// The preview: the bitmap drawn at the top, centred horizontally.
class TPreviewBox : public QWidget
{
    Q_OBJECT

public:
    // The box a preview is fitted into.
    static constexpr int kWidth = 150;
    static constexpr int kHeight = 189;

    explicit TPreviewBox(const QImage &bitmap, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    const QImage &FBitmap;
};

// A drop-down list that refreshes its items each time it is opened.
class TDropDownComboBox : public QComboBox
{
    Q_OBJECT

public:
    using QComboBox::QComboBox;
    std::function<void()> OnDropDown;
    void showPopup() override;
};
