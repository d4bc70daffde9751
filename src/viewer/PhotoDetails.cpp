#include "PhotoDetails.h"

// Local
#include "AppPaths.h"
#include "ColourProfile.h"
#include "ExifDetails.h"
#include "FileLib.h"
#include "OtherFormats.h"
#include "PictureFormats.h"
#include "PictureLoader.h"
#include "UserFiles.h"

// Qt
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

// The EXIF block and the colour profile lie at the start of a file; a
// profile beyond this much is not looked for.
constexpr qint64 kHeadBytes = qint64(4) * 1024 * 1024;

QString FormatName(PictureDecoder decoder)
{
    switch (decoder) {
    case PictureDecoder::Jpeg: return QStringLiteral("JPEG");
    case PictureDecoder::Bitmap: return QStringLiteral("Windows bitmap (BMP)");
    case PictureDecoder::Icon: return QStringLiteral("Windows icon (ICO)");
    case PictureDecoder::Wmf: return QStringLiteral("Windows metafile (WMF)");
    case PictureDecoder::Emf: return QStringLiteral("Enhanced metafile (EMF)");
    default: return {};
    }
}

QString DateText(const QDateTime &time)
{
    return time.isValid() ? time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

QByteArray FileHead(const QString &fileName)
{
    QFile file;
    if (!OpenRegularFile(file, fileName))
        return {};
    return file.read(kHeadBytes);
}

} // namespace

QString FileSizeText(qint64 bytes)
{
    // The status bar's short form, then the exact count.
    if (bytes < 1000)
        return FormatFileSize(bytes);
    return QStringLiteral("%1 (%2 bytes)").arg(FormatFileSize(bytes), QLocale(QLocale::English).toString(bytes));
}

QList<TDetailLine> PhotoDetailLines(const QString &fileName, int pixelWidth, int pixelHeight)
{
    QList<TDetailLine> lines;
    const auto add = [&lines](const QString &caption, const QString &value) {
        if (!value.isEmpty())
            lines.append({caption, value, false});
    };
    const auto heading = [&lines](const QString &caption) { lines.append({caption, QString(), true}); };

    const QFileInfo info(fileName);
    heading(QStringLiteral("File"));
    add(QStringLiteral("Name"), NameOfPath(fileName));
    add(QStringLiteral("Folder"), FolderOfPath(fileName));
    if (info.exists()) {
        add(QStringLiteral("Size"), FileSizeText(info.size()));
        add(QStringLiteral("Modified"), DateText(info.lastModified()));
        add(QStringLiteral("Created"), DateText(info.birthTime()));
    }

    const PictureDecoder decoder = DecoderForExtension(PictureExtension(fileName));
    const QByteArray head = info.exists() ? FileHead(fileName) : QByteArray();
    QByteArray profile;
    if (decoder == PictureDecoder::Jpeg)
        profile = JpegIccProfile(head);
    else if (decoder == PictureDecoder::Bitmap)
        profile = BmpIccProfile(head);
    heading(QStringLiteral("Picture"));
    if (pixelWidth > 0 && pixelHeight > 0)
        add(QStringLiteral("Pixels"), QStringLiteral("%1 × %2").arg(pixelWidth).arg(pixelHeight));
    add(QStringLiteral("Format"), decoder == PictureDecoder::Other
                                      ? OtherFormatName(OtherReaderForExtension(PictureExtension(fileName)))
                                      : FormatName(decoder));
    add(QStringLiteral("Colour profile"), IccProfileName(profile));

    if (decoder == PictureDecoder::Jpeg) {
        const TExifDetails exif = ReadJpegExifDetails(head);
        const auto camera = ExifDetailLines(exif);
        if (!camera.isEmpty() || exif.Damaged)
            heading(QStringLiteral("Camera"));
        for (const auto &[caption, value] : camera)
            add(caption, value);
        if (exif.Damaged)
            add(QStringLiteral("Note"), QStringLiteral("The EXIF block is damaged; this is what could be read."));
    }
    return lines;
}

TDetailsPanel::TDetailsPanel(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("DetailsPanel"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    FScroll = new QScrollArea(this);
    FScroll->setWidgetResizable(true);
    FScroll->setFrameShape(QFrame::NoFrame);
    layout->addWidget(FScroll);
    setMinimumWidth(220);
}

void TDetailsPanel::ShowPicture(const QString &fileName, int pixelWidth, int pixelHeight)
{
    FFileName = fileName;
    FWidth = pixelWidth;
    FHeight = pixelHeight;
    FStale = true;
    if (isVisible())
        Refresh();
}

void TDetailsPanel::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (FStale)
        Refresh();
}

void TDetailsPanel::Refresh()
{
    FStale = false;
    FLines = FFileName.isEmpty() ? QList<TDetailLine>() : PhotoDetailLines(FFileName, FWidth, FHeight);
    // A new body each time: the old one and its labels go with it.
    FBody = new QWidget;
    auto *form = new QFormLayout(FBody);
    form->setRowWrapPolicy(QFormLayout::WrapLongRows);
    for (const TDetailLine &line : FLines) {
        auto *caption = new QLabel(line.Caption, FBody);
        caption->setTextFormat(Qt::PlainText);
        if (line.Heading) {
            QFont bold = caption->font();
            bold.setBold(true);
            caption->setFont(bold);
            form->addRow(caption);
            continue;
        }
        auto *value = new QLabel(line.Value, FBody);
        // Names and EXIF texts come from outside: never read as markup.
        value->setTextFormat(Qt::PlainText);
        value->setWordWrap(true);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        form->addRow(caption, value);
    }
    FScroll->setWidget(FBody);
}
