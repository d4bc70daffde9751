#include "GalleryCli.h"

// Local
#include "AppError.h"
#include "AppPaths.h"
#include "FileLib.h"
#include "PictureFormats.h"
#include "PublishUtils.h"
#include "ShellOps.h"

// Qt
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

// Std
#include <atomic>
#include <chrono>
#include <cstdio>
#include <new>

// System
#include <csignal>
#include <unistd.h>

namespace {

const char kToolName[] = "tamsel-gallery";

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int)
{
    g_interrupted.store(true);
}

// Ctrl+C asks the run to stop after the photos in progress; a second Ctrl+C
// ends the program at once, as usual.
class InterruptGuard
{
public:
    InterruptGuard()
    {
        g_interrupted.store(false);
        struct sigaction action = {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        FInstalled = sigaction(SIGINT, &action, &FPrevious) == 0;
    }
    ~InterruptGuard()
    {
        if (FInstalled)
            sigaction(SIGINT, &FPrevious, nullptr);
    }
    InterruptGuard(const InterruptGuard &) = delete;
    InterruptGuard &operator=(const InterruptGuard &) = delete;

private:
    struct sigaction FPrevious = {};
    bool FInstalled = false;
};

void Print(FILE *stream, const QString &text)
{
    fputs(text.toLocal8Bit().constData(), stream);
    fflush(stream);
}

void PrintError(const QString &text)
{
    QString message = text;
    message.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    Print(stderr, QLatin1String(kToolName) + QStringLiteral(": ") + message + u'\n');
}

struct UsageError
{
    QString text;
};

struct Options
{
    TGallerySettings settings;
    TPublishMode mode = pmUpdate;
    bool open = false;
    bool help = false;
    bool version = false;
    int jobs = 1;
    bool allFormats = false;
    bool schemeGiven = false;
    QString scheme;
    QStringList inputs;
};

int ParseNumber(const QString &option, const QString &text, int min, int max)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < min || value > max)
        throw UsageError{QStringLiteral("%1 wants a whole number from %2 to %3, not \"%4\"")
                             .arg(option).arg(min).arg(max).arg(text)};
    return value;
}

int ParseNumber(const QString &option, const QString &text, const TGalleryNumber &number)
{
    return ParseNumber(option, text, number.Min, number.Max);
}

// The options and the help give one range for both sides of a box.
static_assert(GalleryNumbers::ThumbWidth.Min == GalleryNumbers::ThumbHeight.Min
              && GalleryNumbers::ThumbWidth.Max == GalleryNumbers::ThumbHeight.Max
              && GalleryNumbers::PhotoWidth.Min == GalleryNumbers::PhotoHeight.Min
              && GalleryNumbers::PhotoWidth.Max == GalleryNumbers::PhotoHeight.Max);

// "160x120" -> 160, 120.
void ParseSize(const QString &option, const QString &text, const TGalleryNumber &range, int &width, int &height)
{
    const QStringList parts = text.split(QRegularExpression(QStringLiteral("[xX]")));
    bool okWidth = false;
    bool okHeight = false;
    const int w = parts.size() == 2 ? parts[0].toInt(&okWidth) : 0;
    const int h = parts.size() == 2 ? parts[1].toInt(&okHeight) : 0;
    if (!okWidth || !okHeight || w < range.Min || w > range.Max || h < range.Min || h > range.Max)
        throw UsageError{QStringLiteral("%1 wants WIDTHxHEIGHT, each from %2 to %3, not \"%4\"")
                             .arg(option, QString::number(range.Min), QString::number(range.Max), text)};
    width = w;
    height = h;
}

TPublishMode ParseMode(const QString &text)
{
    if (text == QLatin1String("update"))
        return pmUpdate;
    if (text == QLatin1String("thumbs"))
        return pmOverwriteThumbs;
    if (text == QLatin1String("photos"))
        return pmOverwritePhotos;
    throw UsageError{QStringLiteral("--mode wants update, thumbs or photos, not \"%1\"").arg(text)};
}

TGalleryPages ParsePages(const QString &text)
{
    if (text == QLatin1String("classic"))
        return gpClassic;
    if (text == QLatin1String("modern"))
        return gpModern;
    throw UsageError{QStringLiteral("--pages wants classic or modern, not \"%1\"").arg(text)};
}

QCommandLineOption MakeOption(const QStringList &names, const char *valueName = nullptr)
{
    return QCommandLineOption(names, QString(), QLatin1String(valueName));
}

// The options; the help text describes them (HelpText). Only the names and
// whether a value follows (a value name) matter here.
QList<QCommandLineOption> ToolOptions()
{
    return {
        MakeOption({QStringLiteral("h"), QStringLiteral("help")}),
        MakeOption({QStringLiteral("version")}),
        MakeOption({QStringLiteral("d"), QStringLiteral("dest")}, "FOLDER"),
        MakeOption({QStringLiteral("thumb-size")}, "WxH"),
        MakeOption({QStringLiteral("thumb-quality")}, "N"),
        MakeOption({QStringLiteral("resize")}, "WxH"),
        MakeOption({QStringLiteral("photo-quality")}, "N"),
        MakeOption({QStringLiteral("columns")}, "N"),
        MakeOption({QStringLiteral("scheme")}, "NAME"),
        MakeOption({QStringLiteral("mode")}, "MODE"),
        MakeOption({QStringLiteral("pages")}, "STYLE"),
        MakeOption({QStringLiteral("open")}),
        MakeOption({QStringLiteral("j"), QStringLiteral("jobs")}, "N"),
        MakeOption({QStringLiteral("all-formats")}),
    };
}

// The option a name stands for as typed: one letter after one dash, a longer
// name after two ("-d", "--dest"; not "--d", "-dest").
const QCommandLineOption *FindOption(const QList<QCommandLineOption> &options, const QString &typed)
{
    const bool isLong = typed.startsWith(QLatin1String("--"));
    const QString name = typed.mid(isLong ? 2 : 1);
    if ((name.size() > 1) != isLong)
        return nullptr;
    for (const QCommandLineOption &option : options) {
        if (option.names().contains(name))
            return &option;
    }
    return nullptr;
}

// QCommandLineParser reads more spellings than the tool takes ("-dFOLDER",
// "-d=FOLDER", "-dest", "--d", "-hj4" for -h -j 4) and words its complaints
// its own way. This walk keeps the tool's rules: long options as --name or
// --name=value, short ones only alone, each followed by its value when it
// has one. It returns how many arguments keep to them; error tells what is
// wrong with the next one, if any.
qsizetype CheckSpelling(const QStringList &arguments, const QList<QCommandLineOption> &options, QString &error)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == QLatin1String("--"))
            break;   // the rest are photos
        if (!argument.startsWith(u'-') || argument == QLatin1String("-"))
            continue;
        const qsizetype equals = argument.startsWith(QLatin1String("--")) ? argument.indexOf(u'=') : -1;
        const QString name = equals > 0 ? argument.left(equals) : argument;
        const QCommandLineOption *option = FindOption(options, name);
        if (!option) {
            error = QStringLiteral("unknown option %1").arg(name);
            return i;
        }
        if (option->valueName().isEmpty()) {
            if (equals > 0) {
                error = QStringLiteral("%1 takes no value").arg(name);
                return i;
            }
        } else if (equals < 0) {
            if (i + 1 >= arguments.size()) {
                error = QStringLiteral("%1 wants a value").arg(name);
                return i;
            }
            ++i;
        }
    }
    return arguments.size();
}

Options ParseArguments(QStringList arguments)
{
    if (arguments.isEmpty())
        arguments << QLatin1String(kToolName);
    const QList<QCommandLineOption> options = ToolOptions();
    QString spellingError;
    const qsizetype good = CheckSpelling(arguments, options, spellingError);

    // The arguments before a misspelt one are read and checked first: the
    // first mistake in the line is the one named, be it a bad value or the
    // misspelling.
    QCommandLineParser parser;
    parser.addOptions(options);
    if (!parser.parse(arguments.first(good)))
        throw UsageError{parser.errorText()};

    Options o;
    o.jobs = DefaultPublishJobs();
    o.inputs = parser.positionalArguments();
    TGallerySettings &s = o.settings;
    // Every occurrence in turn, in the order given: each value is checked,
    // the last one counts.
    QHash<QString, qsizetype> taken;
    for (const QString &found : parser.optionNames()) {
        const QString typed = (found.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + found;
        const QCommandLineOption *option = FindOption(options, typed);
        if (!option)   // the parser found no other names than those checked
            throw UsageError{QStringLiteral("unknown option %1").arg(typed)};
        const QString name = option->names().constLast();
        const QString value = parser.values(name).value(taken[name]++);
        if (name == QLatin1String("help")) {
            o.help = true;
        } else if (name == QLatin1String("version")) {
            o.version = true;
        } else if (name == QLatin1String("dest")) {
            s.DestFolder = value;
        } else if (name == QLatin1String("thumb-size")) {
            ParseSize(typed, value, GalleryNumbers::ThumbWidth, s.ThumbWidth, s.ThumbHeight);
        } else if (name == QLatin1String("thumb-quality")) {
            s.ThumbQuality = ParseNumber(typed, value, GalleryNumbers::ThumbQuality);
        } else if (name == QLatin1String("resize")) {
            ParseSize(typed, value, GalleryNumbers::PhotoWidth, s.PhotoWidth, s.PhotoHeight);
            s.ResizePhotos = true;
        } else if (name == QLatin1String("photo-quality")) {
            s.PhotoQuality = ParseNumber(typed, value, GalleryNumbers::PhotoQuality);
        } else if (name == QLatin1String("columns")) {
            s.ThumbColumns = ParseNumber(typed, value, GalleryNumbers::ThumbColumns);
        } else if (name == QLatin1String("scheme")) {
            o.scheme = value;
            o.schemeGiven = true;
        } else if (name == QLatin1String("mode")) {
            o.mode = ParseMode(value);
        } else if (name == QLatin1String("pages")) {
            s.Pages = ParsePages(value);
        } else if (name == QLatin1String("open")) {
            o.open = true;
        } else if (name == QLatin1String("jobs")) {
            o.jobs = ParseNumber(typed, value, 1, 256);
        } else if (name == QLatin1String("all-formats")) {
            o.allFormats = true;
        }
    }
    if (!spellingError.isEmpty())
        throw UsageError{spellingError};
    return o;
}

QStringList SchemeNames(const QString &folder)
{
    QStringList names;
    const TFileFolder files(folder, fkFile);
    for (const QString &path : files)
        names << NameOfPath(path);
    names.sort();
    return names;
}

// The scheme the run uses: light.css (else the first one) unless one is
// named; an empty name means none.
QString ChooseScheme(const Options &o, const QString &folder)
{
    const QStringList names = SchemeNames(folder);
    if (!o.schemeGiven) {
        if (names.contains(QLatin1String("light.css")))
            return QStringLiteral("light.css");
        return names.value(0);
    }
    if (o.scheme.isEmpty() || names.contains(o.scheme))
        return o.scheme;
    if (names.contains(o.scheme + QStringLiteral(".css")))
        return o.scheme + QStringLiteral(".css");
    throw UsageError{QStringLiteral("no color scheme \"%1\" in %2 (it holds: %3)")
                         .arg(o.scheme, folder, names.isEmpty() ? QStringLiteral("nothing") : names.join(u' '))};
}

// The photos a gallery can be made of: the ones its thumbnails can be made
// from, that is bitmaps and JPEG files (and, with --all-formats, the formats
// AllPictureFormats() adds).
bool IsGalleryPhoto(const QString &fileName)
{
    if (!IsPictureExtension(fileName))
        return false;
    return IsGalleryPhotoExtension(QFileInfo(fileName).suffix());
}

QStringList CollectPhotos(const QStringList &inputs)
{
    QStringList photos;
    for (const QString &input : inputs) {
        const QFileInfo info(input);
        const QString path = info.absoluteFilePath();
        if (info.isDir()) {
            QStringList pictures;
            const TFileFolder files(path, fkFile);
            for (const QString &file : files) {
                if (IsGalleryPhoto(file))
                    pictures << file;
            }
            SortPictureList(pictures);
            photos << pictures;
        } else if (info.exists()) {
            if (!IsGalleryPhoto(path))
                throw UsageError{(AllPictureFormats()
                                      ? QStringLiteral("%1: only BMP, JPEG, PNG, GIF, WebP, TIFF, AVIF and HEIF files "
                                                       "can go into a gallery")
                                      : QStringLiteral("%1: only BMP and JPEG files can go into a gallery"))
                                     .arg(input)};
            photos << path;
        } else {
            throw UsageError{QStringLiteral("%1: no such file or folder").arg(input)};
        }
    }
    return photos;
}

// "10..9999"
QString RangeText(const TGalleryNumber &number)
{
    return QStringLiteral("%1..%2").arg(number.Min).arg(number.Max);
}

QString HelpText(const QString &schemesFolder)
{
    using namespace GalleryNumbers;
    const QStringList schemes = SchemeNames(schemesFolder);
    // One pass of arg(): a schemes folder or scheme name holding "%1" stays
    // as it is.
    return QStringLiteral(
               "Usage: tamsel-gallery [OPTION]... PHOTO|FOLDER...\n"
               "Makes a static HTML web gallery of the photos, in the order given; a folder\n"
               "adds its BMP and JPEG files in the viewer's order.\n"
               "\n"
               "  -d, --dest FOLDER      the gallery's folder, a full path (made when missing)\n"
               "      --thumb-size WxH   box the thumbnails are fitted into (%1x%2; %3)\n"
               "      --thumb-quality N  JPEG quality of the thumbnails (%4; %5)\n"
               "      --resize WxH       fit the photos into this box (%6) as JPEG files;\n"
               "                         without it the photos are copied unchanged\n"
               "      --photo-quality N  JPEG quality of resized photos (%7; %8)\n"
               "      --columns N        thumbnails per row of the index page (%9; %10)\n"
               "      --scheme NAME      color scheme file (light.css); \"\" for none\n"
               "      --mode MODE        update: make what is missing or was made from another\n"
               "                                 file (default)\n"
               "                         thumbs: make every thumbnail again, leave the photos\n"
               "                         photos: make every photo again, leave the thumbnails\n"
               "      --pages STYLE      classic: a table of thumbnails, photo pages with Home\n"
               "                                  (default)\n"
               "                         modern: pages for phones and keyboards, with\n"
               "                                 Previous and Next and the arrow keys\n"
               "      --open             open the gallery in the web browser at the end\n"
               "  -j, --jobs N           photos made at once (default: the number of cores)\n"
               "      --all-formats      also take PNG, GIF, WebP, TIFF, AVIF and HEIF pictures;\n"
               "                         unresized, they too become JPEG files\n"
               "  -h, --help             show this help\n"
               "      --version          show the program's version\n"
               "\n"
               "Color schemes in %11: %12\n"
               "Ctrl+C stops after the photos in progress.\n"
               "Exit status: 0 done, 1 error, 2 invalid arguments or settings, 130 stopped.\n")
        .arg(QString::number(ThumbWidth.Default), QString::number(ThumbHeight.Default), RangeText(ThumbWidth),
             QString::number(ThumbQuality.Default), RangeText(ThumbQuality), RangeText(PhotoWidth),
             QString::number(PhotoQuality.Default), RangeText(PhotoQuality), QString::number(ThumbColumns.Default),
             RangeText(ThumbColumns), schemesFolder,
             schemes.isEmpty() ? QStringLiteral("none") : schemes.join(QStringLiteral(", ")));
}

qint64 NowMilliseconds()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The progress line on a terminal, and the reaction to Ctrl+C.
class CliProgress : public TPublishProgress
{
public:
    explicit CliProgress(bool terminal) : FTerminal(terminal) { Show(); }
    ~CliProgress() override
    {
        if (FShown)
            Print(stderr, QStringLiteral("\n"));
    }

    void SetPosition(int position) override
    {
        if (position == FPosition)
            return;
        FPosition = position;
        if (const std::optional<QString> text = FTimeLeft.Update(position, NowMilliseconds()))
            FTime = *text;
        Show();
    }

    bool Cancelled() override
    {
        const bool interrupted = g_interrupted.load();
        if (interrupted && !FNoticed) {
            FNoticed = true;
            if (FShown)
                Print(stderr, QStringLiteral("\n"));
            FShown = false;
            Print(stderr, QStringLiteral("Stopping after the photos in progress...\n"));
        }
        return interrupted;
    }

private:
    void Show()
    {
        if (!FTerminal || FNoticed)
            return;
        QString line = QStringLiteral("\rPublishing... %1%").arg(FPosition, 3);
        if (!FTime.isEmpty())
            line += QStringLiteral("  ") + FTime;
        Print(stderr, line + QStringLiteral("\x1b[K"));
        FShown = true;
    }

    const bool FTerminal;
    int FPosition = 0;
    TTimeLeft FTimeLeft;
    QString FTime;
    bool FShown = false;
    bool FNoticed = false;
};

class CliHost : public PublishHost
{
public:
    CliHost(QString schemesFolder, bool open)
        : FSchemesFolder(std::move(schemesFolder))
        , FOpen(open)
    {
    }

    bool Rejected = false;
    bool Finished = false;

    void Information(const QString &text) override
    {
        Rejected = true;
        PrintError(text);
    }
    void InformationWithDetail(const QString &text, const QString &detail) override
    {
        Information(text + QStringLiteral("\n") + detail);
    }
    // The only question is whether to make a missing destination: yes.
    bool Confirm(const QString &) override { return true; }
    std::unique_ptr<TPublishProgress> StartProgress(const QString &, const QString &) override
    {
        return std::make_unique<CliProgress>(isatty(STDERR_FILENO) == 1);
    }
    void OpenDocument(const QString &path) override
    {
        Finished = true;
        if (FOpen)
            ShellOpen(path);
    }
    QString SchemesFolder() const override { return FSchemesFolder; }

private:
    QString FSchemesFolder;
    bool FOpen;
};

} // namespace

bool GalleryToolOpensBrowser(const QStringList &arguments)
{
    return arguments.mid(1).contains(QLatin1String("--open"));
}

namespace {

// One run; usage mistakes throw UsageError, failures AppError.
int RunTool(const QStringList &arguments)
{
    Options o = ParseArguments(arguments);
    const QString schemesFolder = BesideProgram(QStringLiteral("schemes"));
    if (o.help) {
        Print(stdout, HelpText(schemesFolder));
        return 0;
    }
    if (o.version) {
        Print(stdout, QLatin1String(kToolName) + QStringLiteral(" " TAMSEL_VERSION "\n"));
        return 0;
    }
    o.settings.Scheme = ChooseScheme(o, schemesFolder);
    SetAllPictureFormats(o.allFormats);
    o.settings.Photos = CollectPhotos(o.inputs);

    InterruptGuard interrupts;
    CliHost host(schemesFolder, o.open);
    PublishGallery(o.settings, o.mode, host, o.jobs);
    if (host.Rejected)
        return 2;
    if (!host.Finished) {
        PrintError(QStringLiteral("stopped; the gallery is not complete"));
        return 130;
    }
    Print(stdout, o.settings.DestFolder + QStringLiteral("/index.html\n"));
    return 0;
}

} // namespace

int RunGalleryTool(const QStringList &arguments)
{
    int status = 1;
    RunReporting(
        [&] {
            try {
                status = RunTool(arguments);
            } catch (const UsageError &e) {
                PrintError(e.text + QStringLiteral("\nTry 'tamsel-gallery --help'."));
                status = 2;
            } catch (const TPhotoError &e) {
                // Of many photos, the one that failed.
                PrintError(e.message().contains(e.Photo()) ? e.message() : e.Photo() + QStringLiteral(": ") + e.message());
            }
        },
        PrintError);
    return status;
}
