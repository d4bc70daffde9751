#include "ModernPages.h"

// Local
#include "AppPaths.h"
#include "PublishUtils.h"

// Qt
#include <QImageIOHandler>
#include <QImageReader>
#include <QStringList>

namespace {

// The layout these pages need even without a color scheme: thumbnails that
// wrap to the screen, a photo and a footer rule that never make a phone
// scroll sideways. It comes before the scheme, so a scheme's rules win.
const char kBaseStyle[] =
    "<style>"
    "ul.thumb{display:flex;flex-wrap:wrap;justify-content:center;align-items:center;"
    "list-style:none;margin:0 auto;padding:0}"
    "li.thumb{margin:6px}"
    "img.thumb,img.photo{max-width:100%;height:auto}"
    "nav.nav,div.photo{text-align:center}"
    "hr{max-width:100%}"
    "</style>";

// ArrowLeft, ArrowRight and Escape follow the Previous, Next and Home links;
// the links work the same without it.
const char kKeyScript[] =
    "<script>\n"
    "document.addEventListener('keydown', function (e) {\n"
    "  if (e.defaultPrevented || e.altKey || e.ctrlKey || e.metaKey || e.shiftKey) return;\n"
    "  var id = {ArrowLeft: 'prev', ArrowRight: 'next', Escape: 'home'}[e.key];\n"
    "  var link = id && document.getElementById(id);\n"
    "  if (link) { e.preventDefault(); location.href = link.href; }\n"
    "});\n"
    "</script>";

// Text from a file or folder name, safe in element text and in a quoted
// attribute value.
QString Html(const QString &text)
{
    return text.toHtmlEscaped();
}

QString SizeAttributes(const QSize &size)
{
    if (!size.isValid())
        return QString();
    return QStringLiteral(" width=\"%1\" height=\"%2\"").arg(size.width()).arg(size.height());
}

// "3: beach.jpg"
QString AltText(const TGallerySettings &settings, int index)
{
    return Html(QString::number(index + 1) + QStringLiteral(": ") + NameOfPath(settings.Photos.at(index)));
}

QStringList Head(const TGallerySettings &settings, const QString &title)
{
    QStringList lines{
        QStringLiteral("<!DOCTYPE html>"),
        QStringLiteral("<html lang=\"en\">"),
        QStringLiteral("<head>"),
        QStringLiteral("<meta charset=\"utf-8\">"),
        QStringLiteral("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"),
        QStringLiteral("<title>") + title + QStringLiteral("</title>"),
        QLatin1String(kBaseStyle),
    };
    // No scheme, no link: an empty address would load the page itself as a
    // stylesheet.
    if (!settings.Scheme.isEmpty())
        lines << QStringLiteral("<link href=\"") + EscapeUrlText(settings.Scheme, true)
                     + QStringLiteral("\" rel=\"stylesheet\">");
    lines << QStringLiteral("</head>") << QStringLiteral("<body>");
    return lines;
}

QByteArray JoinLines(const QStringList &lines)
{
    QString text;
    for (const QString &line : lines) {
        text += line;
        text += u'\n';
    }
    return text.toUtf8();
}

} // namespace

QString GalleryFolderName(const QString &destFolder)
{
    QString path = destFolder;
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    if (path == QLatin1String("/"))
        return path;
    return path.mid(path.lastIndexOf(u'/') + 1);
}

QSize ShownPictureSize(const QString &fileName)
{
    QImageReader reader(fileName);
    QSize size = reader.size();
    // Browsers turn a JPEG by its EXIF orientation; a copied photo keeps it.
    if (size.isValid() && (reader.transformation() & QImageIOHandler::TransformationRotate90))
        size.transpose();
    return size;
}

QByteArray ModernIndexPageText(const TGallerySettings &settings)
{
    QStringList lines = Head(settings, Html(GalleryFolderName(settings.DestFolder)));
    lines << QStringLiteral("<ul class=\"thumb\">");
    const int count = int(settings.Photos.size());
    for (int i = 0; i < count; ++i) {
        const QString thumb = ThumbFileName(i);
        const QSize size = ShownPictureSize(settings.DestFolder + QStringLiteral("/thumbs/") + thumb);
        lines << QStringLiteral("<li class=\"thumb\"><a href=\"") + PageFileName(i)
                     + QStringLiteral("\"><img class=\"thumb\" src=\"thumbs/") + thumb + u'"' + SizeAttributes(size)
                     + QStringLiteral(" alt=\"") + AltText(settings, i)
                     + QStringLiteral("\" loading=\"lazy\"></a></li>");
    }
    lines << QStringLiteral("</ul>") << GalleryFooter() << QStringLiteral("</body>") << QStringLiteral("</html>");
    return JoinLines(lines);
}

QByteArray ModernPhotoPageText(const TGallerySettings &settings, int index)
{
    const int count = int(settings.Photos.size());
    QStringList lines = Head(settings, QStringLiteral("%1 of %2").arg(index + 1).arg(count));
    lines << QStringLiteral("<nav class=\"nav\">");
    if (index > 0)
        lines << QStringLiteral("<a class=\"nav\" id=\"prev\" rel=\"prev\" href=\"") + PageFileName(index - 1)
                     + QStringLiteral("\">Previous</a>");
    lines << QStringLiteral("<a class=\"nav\" id=\"home\" href=\"index.html\">Home</a>");
    if (index + 1 < count)
        lines << QStringLiteral("<a class=\"nav\" id=\"next\" rel=\"next\" href=\"") + PageFileName(index + 1)
                     + QStringLiteral("\">Next</a>");
    const QString photo = PhotoFileName(settings, index);
    const QSize size = ShownPictureSize(settings.DestFolder + QStringLiteral("/images/") + photo);
    lines << QStringLiteral("</nav>")
          << QStringLiteral("<div class=\"photo\"><img class=\"photo\" src=\"images/") + EscapeUrlText(photo, false)
                 + u'"' + SizeAttributes(size) + QStringLiteral(" alt=\"") + AltText(settings, index)
                 + QStringLiteral("\"></div>")
          << GalleryFooter() << QLatin1String(kKeyScript) << QStringLiteral("</body>") << QStringLiteral("</html>");
    return JoinLines(lines);
}
