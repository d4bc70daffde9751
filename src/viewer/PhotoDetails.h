#pragma once

// Qt
#include <QList>
#include <QString>
#include <QWidget>

class QFormLayout;
class QLabel;
class QScrollArea;

// One line of the details panel: a caption and its value, or a heading
// (value empty) that starts a group.
struct TDetailLine
{
    QString Caption;
    QString Value;
    bool Heading = false;
};

// What the details panel says about a picture file: the file (name, folder,
// size, dates), the picture (pixel size, format, colour profile) and, for a
// photo, the camera data of its EXIF block. pixelWidth and pixelHeight are
// the picture's own size as the viewer read it (0 when unknown). A file that
// cannot be read gives what is known without it; never throws.
QList<TDetailLine> PhotoDetailLines(const QString &fileName, int pixelWidth, int pixelHeight);

// A file size as the status bar gives it, with the exact count after it:
// "5.18 MB (5,432,100 bytes)".
QString FileSizeText(qint64 bytes);

// The side panel that lists PhotoDetailLines. It reads the file only while
// it is shown: a hidden panel costs nothing when pictures change.
class TDetailsPanel : public QWidget
{
    Q_OBJECT

public:
    explicit TDetailsPanel(QWidget *parent = nullptr);

    // The picture on show changed (an empty name: nothing is shown).
    void ShowPicture(const QString &fileName, int pixelWidth, int pixelHeight);
    // The lines on show, for tests and for copying.
    const QList<TDetailLine> &Lines() const { return FLines; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void Refresh();

    QString FFileName;
    int FWidth = 0;
    int FHeight = 0;
    bool FStale = true;
    QList<TDetailLine> FLines;
    QScrollArea *FScroll = nullptr;
    QWidget *FBody = nullptr;
};
