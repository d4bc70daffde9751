// Local
#include "AboutForm.h"
#include "AdvButton.h"
#include "AppError.h"
#include "CopyForm.h"
#include "ExifOrientation.h"
#include "FakePrompts.h"
#include "FaultSweep.h"
#include "FileLib.h"
#include "JpegCodec.h"
#include "MainForm.h"
#include "PhotoDetails.h"
#include "PicList.h"
#include "Publish2WebForm.h"
#include "RegLib.h"
#include "SettingsForm.h"
#include "SlideShow.h"
#include "TamselConfig.h"
#include "TestFiles.h"
#include "TestPaths.h"

// Qt
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <QWindow>
#include <QtTest>

namespace {

const QString kTitle = QStringLiteral("Tamsel Photo Editor");

void writeBmp(const QString &path, int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(qRgb(10, 200, 30));
    QVERIFY(image.save(path, "BMP"));
}

// A folder of n small bitmaps p0.bmp .. p(n-1).bmp.
QString makeFolder(QTemporaryDir &dir, int n, const QString &sub = QStringLiteral("pics"))
{
    const QString folder = dir.filePath(sub);
    QDir().mkpath(folder);
    for (int i = 0; i < n; ++i)
        writeBmp(folder + QStringLiteral("/p%1.bmp").arg(i, 2, 10, QLatin1Char('0')), 40, 30);
    return folder;
}

QString pic(const QString &folder, int i)
{
    return folder + QStringLiteral("/p%1.bmp").arg(i, 2, 10, QLatin1Char('0'));
}

// The window as a user sees it: created with a command line and shown.
struct Window
{
    TfrmMain form;
    explicit Window(const QStringList &args = {}) : form(args)
    {
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
    }
    ~Window() { form.close(); }
};

void removeStore()
{
    QFile::remove(RegStoreFile());
}

// Runs trigger while answering the first modal dialog of type T with
// answer; returns the dialog's window title ("" when none opened).
template<typename T>
QString answerDialog(const std::function<void()> &trigger, const std::function<void(T *)> &answer)
{
    QString title;
    bool seen = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (seen)
            return;
        if (auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget())) {
            seen = true;
            title = dialog->windowTitle();
            answer(dialog);
        }
    });
    poll.start(20);
    trigger();
    return title;
}

// The text a menu shows for an entry's text: "&&" shows as "&", and a single
// "&" marks the access key without showing.
QString shownMenuText(const QString &text)
{
    QString shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size())
            ++i;
        shown += text[i];
    }
    return shown;
}

QStringList menuTexts(QMenu *menu)
{
    QStringList texts;
    for (QAction *a : menu->actions())
        texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return texts;
}

} // namespace

class tst_MainForm : public QObject
{
    Q_OBJECT

private:
    // Answers anything the window asks that a test does not answer itself.
    FakePrompts FUnexpected;

private slots:
    void initTestCase();
    void init();

    void startWithoutArguments();
    void menusAsDesigned_data();
    void menusAsDesigned();
    void actionsAsDesigned_data();
    void actionsAsDesigned();
    void toolBarAsDesigned();
    void drawnPicturesWithoutTheme_data();
    void drawnPicturesWithoutTheme();
    void themePictures_data();
    void themePictures();
    void windowHasProgramIcon();
    void startWithFile();
    void startWithFolderAndRelativePath();
    void startWithUnlistedFile();
    void statusShowsLoadFailure();
    void shortcuts_data();
    void shortcuts();
    void wheelStepsOnePicturePerNotch();
    void openThroughDialog();
    void recentFolders();
    void deleteAsksThenTrashes();
    void deleteDeclinedChangesNothing();
    void deleteLastAndOnly();
    void deleteWithoutPictureAsksNothing();
    void fullScreenFromNormal();
    void fullScreenFromMaximized();
    void closingInFullScreenStoresMaximized();
    void settingsSurviveRestart();
    void maximizedCloseKeepsBounds();
    void folderHistoryLimits();
    void wrongTypedValuesKeepTheHistory();
    void errorBoxFullStopRule();
    void moveToNewFolder();
    void copyKeepsTheList();
    void dialogsOpenFromTheirCommands();
    void associationFailureShowsInStatusBar();
    void saveAtCloseSurvivesEveryFault();
    void namesShownAsWritten_data();
    void namesShownAsWritten();
    void searchButtonOffersTheWords();
    void missingWordFileIsReportedAtStart();
    void detailsPanelFollowsThePicture();
    void zoomPanAndTurn();
    void saveTurnedPhoto();
    void slideShowRunsToTheEnd();
    void anyKeyStopsTheSlideShow();
};

void tst_MainForm::initTestCase()
{
    QCoreApplication::setApplicationName(kTitle);
    // No icon theme: the window's own pictures, whatever this machine has
    // installed.
    QIcon::setThemeSearchPaths({});
}

void tst_MainForm::init()
{
    QVERIFY2(FUnexpected.messages.isEmpty(), qPrintable(FUnexpected.messageTexts().join('\n')));
    removeStore();
    QGuiApplication::clipboard()->clear();
}

void tst_MainForm::startWithoutArguments()
{
    Window w;
    QCOMPARE(w.form.windowTitle(), kTitle);
    QCOMPARE(w.form.PanelText(0), QString("There is no image selected."));
    for (int i = 1; i < 5; ++i) {
        QCOMPARE(w.form.PanelText(i), QString());
        QCOMPARE(w.form.StatusPanels[size_t(i)]->width(), 20);
    }
    const QList<QAction *> pictureActions{w.form.acnCopyToClipboard, w.form.acnCopyToFolder,
                                          w.form.acnMoveToFolder, w.form.acnDelete, w.form.acnPrev,
                                          w.form.acnNext, w.form.acnPrev10, w.form.acnNext10,
                                          w.form.acnFirst, w.form.acnLast, w.form.acnRefresh};
    for (QAction *a : w.form.Actions())
        QCOMPARE(a->isEnabled(), !pictureActions.contains(a));
    QVERIFY(w.form.FPicList->hasFocus());
}

void tst_MainForm::menusAsDesigned_data()
{
    QTest::addColumn<int>("menu");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("items");
    QTest::newRow("File") << 0 << "File" << QStringList{"Open...", "-", "Settings...", "-", "Close"};
    QTest::newRow("Edit") << 1 << "Edit"
                          << QStringList{"Copy To Clipboard", "-", "Copy To Folder...", "Move To Folder...", "-", "Delete"};
    QTest::newRow("View") << 2 << "View"
                          << QStringList{"Full Screen", "-", "Next Image", "Prev Image", "Prev 10", "Next 10",
                                         "First Image", "Last Image", "-", "Refresh", "-", "Zoom In",
                                         "Zoom Out", "Actual Size", "Fit", "-", "Turn Left", "Turn Right",
                                         "Save Turned Photo", "-", "Slide Show",
                                         "Details"};
    QTest::newRow("Tools") << 3 << "Tools" << QStringList{"Create HTML Gallery"};
    QTest::newRow("Help") << 4 << "Help" << QStringList{"About..."};
}

void tst_MainForm::menusAsDesigned()
{
    QFETCH(int, menu);
    QFETCH(QString, title);
    QFETCH(QStringList, items);
    Window w;
    const QList<QAction *> top = w.form.menuBar()->actions();
    QCOMPARE(top.size(), 5);
    QCOMPARE(top.at(menu)->text(), title);
    QCOMPARE(menuTexts(top.at(menu)->menu()), items);
}

void tst_MainForm::actionsAsDesigned_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QKeySequence>("shortcut");
    // No caption of its own: a toolbar shows its menu text without the dots.
    QTest::newRow("open") << "acnOpen" << "Open" << QKeySequence(Qt::Key_O);
    QTest::newRow("settings") << "acnSettings" << "Settings..." << QKeySequence();
    QTest::newRow("close") << "acnClose" << "Close" << QKeySequence(Qt::Key_Escape);
    QTest::newRow("about") << "acnAbout" << "About..." << QKeySequence();
    QTest::newRow("clipboard") << "acnCopyToClipboard" << "Copy To Clipboard" << QKeySequence(Qt::CTRL | Qt::Key_C);
    QTest::newRow("copy") << "acnCopyToFolder" << "Copy To Folder..." << QKeySequence(Qt::Key_C);
    QTest::newRow("move") << "acnMoveToFolder" << "Move To Folder..." << QKeySequence(Qt::Key_M);
    QTest::newRow("delete") << "acnDelete" << "Delete" << QKeySequence(Qt::Key_Delete);
    QTest::newRow("delete for good") << "acnDeleteWOUndo" << "DeleteWOUndo" << QKeySequence(Qt::SHIFT | Qt::Key_Delete);
    QTest::newRow("full screen") << "acnFullScreen" << "Full Screen" << QKeySequence(Qt::Key_F);
    QTest::newRow("prev") << "acnPrev" << "Prev" << QKeySequence(Qt::Key_PageUp);
    QTest::newRow("next") << "acnNext" << "Next" << QKeySequence(Qt::Key_PageDown);
    QTest::newRow("prev 10") << "acnPrev10" << "Prev 10" << QKeySequence(Qt::CTRL | Qt::Key_PageUp);
    QTest::newRow("next 10") << "acnNext10" << "Next 10" << QKeySequence(Qt::CTRL | Qt::Key_PageDown);
    QTest::newRow("first") << "acnFirst" << "First" << QKeySequence(Qt::Key_Home);
    QTest::newRow("last") << "acnLast" << "Last" << QKeySequence(Qt::Key_End);
    QTest::newRow("refresh") << "acnRefresh" << "Refresh" << QKeySequence(Qt::Key_F5);
    QTest::newRow("gallery") << "acnPublishToWeb" << "Create HTML Gallery" << QKeySequence();
}

void tst_MainForm::actionsAsDesigned()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QKeySequence, shortcut);
    Window w;
    QCOMPARE(w.form.Actions().size(), 18);
    QAction *action = w.form.findChild<QAction *>(name);
    QVERIFY(action);
    QCOMPARE(action->iconText(), caption);
    QCOMPARE(action->shortcut(), shortcut);
    // Every action belongs to the window, so its shortcut works without the menu.
    QVERIFY(w.form.actions().contains(action));
}

void tst_MainForm::toolBarAsDesigned()
{
    Window w;
    QCOMPARE(w.form.tbnOpen->defaultAction(), w.form.acnOpen);
    QCOMPARE(w.form.tbnOpen->menu(), w.form.pumFolders);
    QCOMPARE(w.form.acnOpen->toolTip(), QString("Open"));
    QCOMPARE(w.form.acnCopyToFolder->toolTip(), QString("Copy"));
    QCOMPARE(w.form.acnMoveToFolder->toolTip(), QString("Move"));
    QCOMPARE(w.form.acnPublishToWeb->toolTip(), QString("Create HTML Gallery"));
    QCOMPARE(w.form.SpeedButton1->text(), QString("Search"));
    QCOMPARE(w.form.SpeedButton1->toolTip(), QString("Search of Software"));
    // Order: Open, separator, Copy, Move, separator, Gallery, separator, Search.
    QStringList order;
    for (QAction *a : w.form.ToolBar->actions()) {
        if (a->isSeparator())
            order << "-";
        else if (QWidget *widget = w.form.ToolBar->widgetForAction(a))
            order << widget->objectName();
    }
    QCOMPARE(order.first(), QString("tbnOpen"));
    QCOMPARE(order.last(), QString("SpeedButton1"));
    QCOMPARE(order.count("-"), 3);
    const QList<QAction *> acts = w.form.ToolBar->actions();
    QCOMPARE(acts.at(2), w.form.acnCopyToFolder);
    QCOMPARE(acts.at(3), w.form.acnMoveToFolder);
    QCOMPARE(acts.at(5), w.form.acnPublishToWeb);
    // Each picture is drawn for screens that scale by 2 as well.
    for (QAction *a : {w.form.acnOpen, w.form.acnCopyToFolder, w.form.acnMoveToFolder, w.form.acnPublishToWeb})
        QCOMPARE(a->icon().availableSizes(), (QList<QSize>{QSize(24, 24), QSize(48, 48)}));
}

namespace {

// The picture a toolbar button or an action shows at the toolbar's size.
QImage shownPicture(TfrmMain &form, const QString &name)
{
    QIcon icon;
    if (auto *button = form.findChild<QToolButton *>(name))
        icon = button->icon();
    else if (auto *action = form.findChild<QAction *>(name))
        icon = action->icon();
    return icon.pixmap(QSize(24, 24)).toImage();
}

} // namespace

void tst_MainForm::drawnPicturesWithoutTheme_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QPoint>("inside");
    QTest::addColumn<QColor>("colour");
    // A point inside each drawn shape, in the colour it is filled with.
    QTest::newRow("open") << "tbnOpen" << QPoint(12, 14) << QColor(0xf4, 0xc4, 0x3d);
    QTest::newRow("copy") << "acnCopyToFolder" << QPoint(18, 18) << QColor(0xe8, 0xf1, 0xfa);
    QTest::newRow("move") << "acnMoveToFolder" << QPoint(15, 16) << QColor(0xf4, 0xc4, 0x3d);
    QTest::newRow("gallery") << "acnPublishToWeb" << QPoint(6, 6) << QColor(0x9f, 0xd3, 0xf5);
    QTest::newRow("search") << "SpeedButton1" << QPoint(18, 18) << QColor(0x2d, 0x3e, 0x50);
}

void tst_MainForm::drawnPicturesWithoutTheme()
{
    QFETCH(QString, name);
    QFETCH(QPoint, inside);
    QFETCH(QColor, colour);
    Window w;
    const QImage picture = shownPicture(w.form, name);
    QCOMPARE(picture.size(), QSize(24, 24));
    QCOMPARE(picture.pixelColor(inside), colour);
    QCOMPARE(picture.pixelColor(0, 23).alpha(), 0);
}

void tst_MainForm::themePictures_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("themeName");
    QTest::newRow("open button") << "tbnOpen" << "document-open";
    QTest::newRow("search button") << "SpeedButton1" << "system-search";
    QTest::newRow("copy") << "acnCopyToFolder" << "edit-copy";
    QTest::newRow("about, never drawn") << "acnAbout" << "help-about";
}

void tst_MainForm::themePictures()
{
    QFETCH(QString, name);
    QFETCH(QString, themeName);
    // A theme of one picture, a plain red square, under that name.
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("tamsel-test/24x24/actions"));
    QFile index(dir.filePath("tamsel-test/index.theme"));
    QVERIFY(index.open(QIODevice::WriteOnly));
    index.write("[Icon Theme]\nName=Tamsel test\nComment=One picture\nDirectories=24x24/actions\n\n"
                "[24x24/actions]\nSize=24\nContext=Actions\nType=Fixed\n");
    index.close();
    QImage red(24, 24, QImage::Format_ARGB32);
    red.fill(Qt::red);
    QVERIFY(red.save(dir.filePath("tamsel-test/24x24/actions/" + themeName + ".png")));

    struct Restore
    {
        QString theme = QIcon::themeName();
        ~Restore()
        {
            QIcon::setThemeSearchPaths({});
            QIcon::setThemeName(theme);
        }
    } restore;
    QIcon::setThemeSearchPaths({dir.path()});
    QIcon::setThemeName("tamsel-test");
    Window w;
    const QImage picture = shownPicture(w.form, name);
    QCOMPARE(picture.pixelColor(12, 12), QColor(Qt::red));
    QCOMPARE(picture.pixelColor(0, 23), QColor(Qt::red));
}

void tst_MainForm::windowHasProgramIcon()
{
    Window w;
    const QIcon icon = w.form.windowIcon();
    QVERIFY(!icon.isNull());
    // The program's own renderings, not a picture of the desktop's theme.
    QCOMPARE(icon.availableSizes(), (QList<QSize>{QSize(48, 48), QSize(128, 128)}));
    QCOMPARE(icon.pixmap(QSize(48, 48)).size(), QSize(48, 48));
}

void tst_MainForm::startWithFile()
{
    QTemporaryDir dir;
    const QString folder = makeFolder(dir, 12);
    Window w({pic(folder, 2)});
    // Read while the window was built, for the area it got: shown once.
    QCOMPARE(w.form.FPicList->LoadCount(), 1);
    QCOMPARE(w.form.FPicList->PrefetchedCount(), 1);
    QCOMPARE(w.form.windowTitle(), kTitle + " - " + pic(folder, 2));
    QCOMPARE(w.form.PanelText(0), QString("3/12"));
    QCOMPARE(w.form.PanelText(1), QString("p02.bmp"));
    QCOMPARE(w.form.PanelText(2), QString("40x30"));
    QCOMPARE(w.form.PanelText(3), FormatFileSize(FileSizeOf(pic(folder, 2))));
    QCOMPARE(w.form.PanelText(4), QString("100%"));
    const QFontMetrics metrics(w.form.statusBar()->font());
    for (int i = 0; i < 5; ++i)
        QCOMPARE(w.form.StatusPanels[size_t(i)]->width(), metrics.horizontalAdvance(w.form.PanelText(i)) + 20);
    QCOMPARE(w.form.FFolderHistory, QStringList{folder});
    QCOMPARE(w.form.FLastOpenFolder, folder);
    QVERIFY(w.form.acnNext->isEnabled());
}

void tst_MainForm::startWithFolderAndRelativePath()
{
    QTemporaryDir dir;
    const QString folder = makeFolder(dir, 3);
    const QString saved = QDir::currentPath();
    QDir::setCurrent(dir.path());
    Window w({QStringLiteral("pics")});
    QDir::setCurrent(saved);
    QCOMPARE(w.form.FPicList->ItemIndex(), 0);
    QCOMPARE(w.form.windowTitle(), kTitle + " - " + pic(folder, 0));
    QCOMPARE(w.form.pumFolders->actions().size(), 1);
    QCOMPARE(w.form.pumFolders->actions().first()->text(), folder);
    // Opening it again, by menu or refresh, adds no second entry.
    w.form.OpenLocation(folder, QString());
    w.form.acnRefresh->trigger();
    QCOMPARE(w.form.FFolderHistory.size(), 1);
}

void tst_MainForm::startWithUnlistedFile()
{
    QTemporaryDir dir;
    const QString folder = makeFolder(dir, 3);
    WriteFile(folder + "/scan.tiff", "II*");
    Window w({folder + "/scan.tiff"});
    QCOMPARE(w.form.FPicList->ItemIndex(), 0);
    QCOMPARE(w.form.PanelText(0), QString("1/3"));
    // Neither file nor folder: ignored.
    Window none({dir.filePath("nothing-here")});
    QCOMPARE(none.form.PanelText(0), QString("There is no image selected."));
    QVERIFY(none.form.FFolderHistory.isEmpty());
    // An empty argument is neither, even where the current directory holds
    // pictures.
    const QString saved = QDir::currentPath();
    QDir::setCurrent(folder);
    Window empty({QString()});
    QDir::setCurrent(saved);
    QCOMPARE(empty.form.PanelText(0), QString("There is no image selected."));
    QVERIFY(empty.form.FFolderHistory.isEmpty());
    QVERIFY(empty.form.FLastOpenFolder.isEmpty());
}

void tst_MainForm::statusShowsLoadFailure()
{
    QTemporaryDir dir;
    WriteFile(dir.filePath("broken.bmp"), "not a bitmap at all");
    Window w({dir.filePath("broken.bmp")});
    QCOMPARE(w.form.PanelText(0), QString("1/1"));
    QCOMPARE(w.form.PanelText(2), QString("0x0"));
    QCOMPARE(w.form.PanelText(4), QString("Bitmap image is not valid"));
    QVERIFY(w.form.acnDelete->isEnabled());

    // A pipe named like a picture is listed, refused and measured without
    // ever being opened.
    FifoWatch pipe(dir.filePath("pipe.bmp"));
    w.form.acnRefresh->trigger();
    w.form.acnNext->trigger();
    QCOMPARE(w.form.PanelText(0), QString("2/2"));
    QCOMPARE(w.form.PanelText(3), QString("0 byte"));
    QCOMPARE(w.form.PanelText(4), "Cannot open file " + dir.filePath("pipe.bmp") + ": It is not a plain file");
    QVERIFY(!pipe.wasOpened());
}

void tst_MainForm::shortcuts_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<QKeySequence>("keys");
    QTest::addColumn<int>("expected");
    QTest::newRow("Page Down") << 5 << QKeySequence(Qt::Key_PageDown) << 6;
    QTest::newRow("Page Up") << 5 << QKeySequence(Qt::Key_PageUp) << 4;
    QTest::newRow("Home") << 5 << QKeySequence(Qt::Key_Home) << 0;
    QTest::newRow("End") << 5 << QKeySequence(Qt::Key_End) << 24;
    QTest::newRow("Ctrl+Page Down") << 5 << QKeySequence(Qt::CTRL | Qt::Key_PageDown) << 15;
    QTest::newRow("Ctrl+Page Up") << 15 << QKeySequence(Qt::CTRL | Qt::Key_PageUp) << 5;
    QTest::newRow("Ctrl+Page Up near start") << 4 << QKeySequence(Qt::CTRL | Qt::Key_PageUp) << 0;
    QTest::newRow("Ctrl+Page Down near end") << 22 << QKeySequence(Qt::CTRL | Qt::Key_PageDown) << 24;
    QTest::newRow("F5 keeps the file") << 7 << QKeySequence(Qt::Key_F5) << 7;
}

void tst_MainForm::shortcuts()
{
    QFETCH(int, start);
    QFETCH(QKeySequence, keys);
    QFETCH(int, expected);
    QTemporaryDir dir;
    const QString folder = makeFolder(dir, 25);
    Window w({pic(folder, start)});
    const int loads = w.form.FPicList->LoadCount();
    QTest::keySequence(&w.form, keys);
    QCOMPARE(w.form.FPicList->ItemIndex(), expected);
    QCOMPARE(w.form.windowTitle(), kTitle + " - " + pic(folder, expected));
    QCOMPARE(w.form.PanelText(0), QString("%1/25").arg(expected + 1));
    QCOMPARE(w.form.FPicList->LoadCount(), loads + 1);
}

void tst_MainForm::wheelStepsOnePicturePerNotch()
{
    QTemporaryDir dir;
    const QString folder = makeFolder(dir, 10);
    Window w({pic(folder, 5)});
    // The picture list leaves wheel turns to the window, wherever the pointer is.
    auto turn = [&](int delta) {
        const QPoint pos = w.form.FPicList->geometry().center();
        QWheelEvent event(pos, w.form.mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&w.form, &event);
        QVERIFY(event.isAccepted());
    };
    {
        const QPoint pos = w.form.FPicList->rect().center();
        QWheelEvent event(pos, w.form.FPicList->mapToGlobal(pos), QPoint(), QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(w.form.FPicList, &event);
        QVERIFY(!event.isAccepted());
    }
    turn(-120);
    QCOMPARE(w.form.FPicList->ItemIndex(), 6);
    turn(120);
    QCOMPARE(w.form.FPicList->ItemIndex(), 5);
    // Touchpad steps add up to a notch.
    turn(-40);
    turn(-40);
    QCOMPARE(w.form.FPicList->ItemIndex(), 5);
    turn(-40);
    QCOMPARE(w.form.FPicList->ItemIndex(), 6);
    // Two notches at once move two pictures.
    turn(240);
    QCOMPARE(w.form.FPicList->ItemIndex(), 4);
}

void tst_MainForm::openThroughDialog()
{
    QTemporaryDir dir;
    const QString first = makeFolder(dir, 3, "first");
    const QString second = makeFolder(dir, 4, "second");
    WriteFile(second + "/scan.tif", "II*");
    Window w({first});
    FakePrompts prompts;

    // Cancelling changes nothing.
    QTest::keyClick(&w.form, Qt::Key_O);
    QCOMPARE(prompts.fileRequests.size(), 1);
    QCOMPARE(prompts.fileRequests.first().initialDir, first);
    QCOMPARE(prompts.fileRequests.first().nameFilters,
             (QStringList{"Image Files (*.jpeg *.jpg *.bmp *.tif *.tiff)", "All Files (*)"}));
    QVERIFY(!prompts.fileRequests.first().multiSelect);
    QCOMPARE(w.form.FPicList->FileNames(0), pic(first, 0));

    // A chosen picture becomes current.
    prompts.fileAnswers << QStringList{pic(second, 2)};
    w.form.acnOpen->trigger();
    QCOMPARE(w.form.windowTitle(), kTitle + " - " + pic(second, 2));
    QCOMPARE(w.form.FLastOpenFolder, second);

    // A TIFF chosen in the dialog opens its folder's first picture.
    prompts.fileAnswers << QStringList{second + "/scan.tif"};
    w.form.acnOpen->trigger();
    QCOMPARE(w.form.FPicList->ItemIndex(), 0);
    QCOMPARE(w.form.windowTitle(), kTitle + " - " + pic(second, 0));
    QCOMPARE(w.form.FFolderHistory, (QStringList{first, second}));
}

void tst_MainForm::recentFolders()
{
    QTemporaryDir dir;
    const QString a = makeFolder(dir, 2, "a");
    const QString b = makeFolder(dir, 3, "b");
    Window w({a});
    w.form.OpenLocation(b, QString());
    QCOMPARE(menuTexts(w.form.pumFolders), (QStringList{a, b}));
    // The item finds its folder through its index even when its text changes.
    QAction *first = w.form.pumFolders->actions().at(0);
    first->setText("renamed");
    w.form.setFocus();
    first->trigger();
    QCOMPARE(w.form.FPicList->FileNames(0), pic(a, 0));
    QCOMPARE(w.form.FPicList->Count(), 2);
    QVERIFY(w.form.FPicList->hasFocus());

    // A vanished folder opens as an empty list and stays in the menu.
    QVERIFY(QDir(b).removeRecursively());
    w.form.pumFolders->actions().at(1)->trigger();
    QCOMPARE(w.form.PanelText(0), QString("There is no image selected."));
    QCOMPARE(w.form.pumFolders->actions().size(), 2);
}

void tst_MainForm::deleteAsksThenTrashes()
{
    QTemporaryDir dir;
    const QString folder = makeFolder(dir, 3);
    Window w({pic(folder, 1)});
    // A file left in the Trash by an earlier run must not pass for this one.
    const QString trash = TestTrashFolder();
    QVERIFY(QDir(trash).removeRecursively());
    FakePrompts prompts;
    prompts.answers << QMessageBox::Yes;
    QTest::keyClick(&w.form, Qt::Key_Delete);
    QCOMPARE(prompts.messages.size(), 1);
    QVERIFY(!QFile::exists(pic(folder, 1)));
    const QString trashed = trash + "/files/p01.bmp";
    QVERIFY2(QFile::exists(trashed), qPrintable(trashed));
    QCOMPARE(w.form.windowTitle(), kTitle + " - " + pic(folder, 2));
    QCOMPARE(w.form.PanelText(0), QString("2/2"));

    // Shift+Del deletes for good after its own question.
    prompts.answers << QMessageBox::Yes;
    QTest::keyClick(&w.form, Qt::Key_Delete, Qt::ShiftModifier);
    QCOMPARE(prompts.messages.size(), 2);
    QVERIFY(prompts.messages.at(1).text != prompts.messages.at(0).text);
    QVERIFY(!QFile::exists(pic(folder, 2)));
    QVERIFY(!QFile::exists(QFileInfo(trashed).path() + "/p02.bmp"));
    QCOMPARE(w.form.PanelText(0), QString("1/1"));
}

void tst_MainForm::deleteDeclinedChangesNothing()
{
    QTemporaryDir dir;
    const QString folder = makeFolder(dir, 3);
    Window w({pic(folder, 1)});
    FakePrompts prompts;
    prompts.answers << QMessageBox::No << QMessageBox::Cancel;
    const int loads = w.form.FPicList->LoadCount();
    w.form.acnDelete->trigger();
    w.form.acnDeleteWOUndo->trigger();
    QCOMPARE(prompts.messages.size(), 2);
    QVERIFY(QFile::exists(pic(folder, 1)));
    QCOMPARE(w.form.FPicList->Count(), 3);
    QCOMPARE(w.form.FPicList->ItemIndex(), 1);
    QCOMPARE(w.form.FPicList->LoadCount(), loads);
}

void tst_MainForm::deleteLastAndOnly()
{
    QTemporaryDir dir;
    const QString folder = makeFolder(dir, 2);
    Window w({pic(folder, 1)});
    FakePrompts prompts;
    prompts.answers << QMessageBox::Yes << QMessageBox::Yes;
    w.form.acnDeleteWOUndo->trigger();
    QCOMPARE(w.form.windowTitle(), kTitle + " - " + pic(folder, 0));
    w.form.acnDeleteWOUndo->trigger();
    QCOMPARE(w.form.windowTitle(), kTitle);
    QCOMPARE(w.form.PanelText(0), QString("There is no image selected."));
    QVERIFY(!w.form.acnDelete->isEnabled());
    QVERIFY(!w.form.acnNext->isEnabled());
}

void tst_MainForm::deleteWithoutPictureAsksNothing()
{
    Window w;
    FakePrompts prompts;
    QVERIFY(w.form.acnDeleteWOUndo->isEnabled());
    QTest::keyClick(&w.form, Qt::Key_Delete, Qt::ShiftModifier);
    w.form.acnDeleteWOUndo->trigger();
    QVERIFY(prompts.messages.isEmpty());
}

void tst_MainForm::fullScreenFromNormal()
{
    QTemporaryDir dir;
    const QString folder = makeFolder(dir, 2);
    Window w({pic(folder, 0)});
    w.form.setGeometry(120, 90, 500, 400);
    QCoreApplication::processEvents();
    const QRect normal = w.form.geometry();
    const int loads = w.form.FPicList->LoadCount();

    QTest::keyClick(&w.form, Qt::Key_F);
    QVERIFY(w.form.IsFullScreenMode());
    QVERIFY(w.form.windowState() & Qt::WindowFullScreen);
    QVERIFY(w.form.statusBar()->isHidden());
    QVERIFY(w.form.ToolBar->isHidden());
    QVERIFY(w.form.pnlTop->isHidden());
    QVERIFY(w.form.menuBar()->isHidden());
    QCOMPARE(w.form.FNormalBounds, normal);
    QCOMPARE(w.form.FPicList->LoadCount(), loads + 1);

    // Shortcuts keep working without the menu.
    QTest::keyClick(&w.form, Qt::Key_PageDown);
    QCOMPARE(w.form.FPicList->ItemIndex(), 1);

    QTest::keyClick(&w.form, Qt::Key_F);
    QVERIFY(!w.form.IsFullScreenMode());
    QVERIFY(!(w.form.windowState() & (Qt::WindowFullScreen | Qt::WindowMaximized)));
    QCOMPARE(w.form.geometry(), normal);
    QVERIFY(w.form.FNormalBounds.isNull());
    QVERIFY(w.form.statusBar()->isVisible());
    QVERIFY(w.form.ToolBar->isVisible());
    QVERIFY(w.form.menuBar()->isVisible());
    QVERIFY(w.form.pnlTop->isVisible());
    QCOMPARE(w.form.FPicList->LoadCount(), loads + 3);
}

void tst_MainForm::fullScreenFromMaximized()
{
    QTemporaryDir dir;
    const QString folder = makeFolder(dir, 1);
    Window w({pic(folder, 0)});
    w.form.showMaximized();
    QCoreApplication::processEvents();
    const int loads = w.form.FPicList->LoadCount();
    w.form.acnFullScreen->trigger();
    QVERIFY(w.form.FNormalBounds.isNull());
    w.form.acnFullScreen->trigger();
    QVERIFY(w.form.isMaximized());
    QVERIFY(!(w.form.windowState() & Qt::WindowFullScreen));
    QVERIFY(w.form.statusBar()->isVisible());
    QCOMPARE(w.form.FPicList->LoadCount(), loads + 2);
}

void tst_MainForm::closingInFullScreenStoresMaximized()
{
    {
        Window w;
        w.form.acnFullScreen->trigger();
        QVERIFY(w.form.IsFullScreenMode());
    }
    TRegistry reg;
    QVERIFY(reg.OpenKey(kFormsKey + "frmMain", false));
    QCOMPARE(reg.ReadInteger("WindowState"), 1);
    reg.CloseKey();
    // The next start opens a maximized window in normal mode.
    Window again;
    QVERIFY(again.form.isMaximized());
    QVERIFY(!again.form.IsFullScreenMode());
    QVERIFY(again.form.statusBar()->isVisible());
}

void tst_MainForm::settingsSurviveRestart()
{
    QTemporaryDir dir;
    const QString a = makeFolder(dir, 2, "a");
    const QString b = makeFolder(dir, 2, "b");
    QRect bounds;
    {
        Window w({a});
        w.form.OpenLocation(b, QString());
        w.form.setGeometry(150, 120, 520, 410);
        QCoreApplication::processEvents();
        bounds = w.form.geometry();
    }
    const QString formKey = kFormsKey + "frmMain";
    QCOMPARE(ReadRegString(kAppKey, "LastOpenFolder"), b);
    QCOMPARE(ReadRegString(kFoldersKey, "0"), a);
    QCOMPARE(ReadRegString(kFoldersKey, "1"), b);
    QCOMPARE(ReadRegString(kFoldersKey, "2"), QString());
    TRegistry reg;
    QVERIFY(reg.OpenKey(formKey, false));
    QCOMPARE(reg.ReadInteger("WindowState"), 0);
    QVERIFY(reg.ValueExists("Top") && reg.ValueExists("Left") && reg.ValueExists("Width") && reg.ValueExists("Height"));
    reg.CloseKey();

    Window again;
    QCOMPARE(again.form.geometry(), bounds);
    QCOMPARE(again.form.FLastOpenFolder, b);
    QCOMPARE(again.form.FFolderHistory, (QStringList{a, b}));
    QCOMPARE(menuTexts(again.form.pumFolders), (QStringList{a, b}));
}

void tst_MainForm::maximizedCloseKeepsBounds()
{
    QRect bounds;
    {
        Window w;
        w.form.setGeometry(160, 130, 450, 350);
        QCoreApplication::processEvents();
        bounds = w.form.geometry();
    }
    {
        Window w;
        w.form.showMaximized();
        QCoreApplication::processEvents();
    }
    TRegistry reg;
    QVERIFY(reg.OpenKey(kFormsKey + "frmMain", false));
    QCOMPARE(reg.ReadInteger("WindowState"), 1);
    reg.CloseKey();
    Window again;
    QVERIFY(again.form.isMaximized());
    again.form.showNormal();
    QCoreApplication::processEvents();
    QCOMPARE(again.form.geometry(), bounds);
}

void tst_MainForm::folderHistoryLimits()
{
    QTemporaryDir dir;
    QStringList folders;
    for (int i = 0; i < 25; ++i)
        folders << makeFolder(dir, 0, QString("f%1").arg(i, 2, 10, QLatin1Char('0')));
    {
        Window w;
        for (const QString &f : folders)
            w.form.OpenLocation(f, QString());
        QCOMPARE(w.form.FFolderHistory.size(), 25);
    }
    // 22 entries are stored: the three newest are lost.
    QCOMPARE(ReadRegString(kFoldersKey, "21"), folders.at(21));
    QCOMPARE(ReadRegString(kFoldersKey, "22"), QString());
    // A deleted folder is skipped; an empty value ends the list.
    QVERIFY(QDir(folders.at(1)).removeRecursively());
    WriteRegString(kFoldersKey, "5", QString());
    Window again;
    QCOMPARE(again.form.FFolderHistory, (QStringList{folders.at(0), folders.at(2), folders.at(3), folders.at(4)}));
}

void tst_MainForm::wrongTypedValuesKeepTheHistory()
{
    QTemporaryDir dir;
    const QString a = makeFolder(dir, 1, "a");
    const QString b = makeFolder(dir, 1, "b");
    const QByteArray folders = "[\\Software\\Brenmark\\TamselCorvane\\folders]\n\"0\"=\"" + a.toUtf8()
                               + "\"\n\"1\"=\"" + b.toUtf8() + "\"\n";
    // A hand-edited placement value is passed over; the rest of start-up runs.
    WriteFile(RegStoreFile(), "[\\Software\\Brenmark\\TamselCorvane\\forms\\frmMain]\n\"Top\"=\"Top\"\n" + folders);
    {
        Window w({pic(a, 0)});
        QCOMPARE(w.form.geometry().topLeft(), QPoint(244, 103));
        QCOMPARE(w.form.FFolderHistory, (QStringList{a, b}));
        QCOMPARE(w.form.acnOpen->shortcut(), QKeySequence(Qt::Key_O));
        QCOMPARE(w.form.FPicList->Count(), 1);
    }
    QCOMPARE(ReadRegString(kFoldersKey, "1"), b);

    // A history that cannot be read whole is reported and left as stored.
    WriteFile(RegStoreFile(), folders + "\"2\"=dword:00000007\n");
    FakePrompts prompts;
    {
        Window w;
        QCOMPARE(prompts.messageTexts(), QStringList{"Invalid data type for '2'"});
        w.form.OpenLocation(a, QString());
    }
    QCOMPARE(ReadRegString(kFoldersKey, "0"), a);
    QCOMPARE(ReadRegString(kFoldersKey, "1"), b);
    QCOMPARE(OpenRegKey(kFoldersKey)->ReadInteger("2"), 7);
}

void tst_MainForm::errorBoxFullStopRule()
{
    QTemporaryDir dir;
    WriteFile(dir.filePath("broken.bmp"), "not a bitmap");
    Window w({dir.filePath("broken.bmp")});
    FakePrompts prompts;
    QTest::keyClick(&w.form, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(prompts.messages.size(), 1);
    QCOMPARE(prompts.messages.first().icon, QMessageBox::Critical);
    QCOMPARE(prompts.messages.first().caption, kTitle);
    QCOMPARE(prompts.messages.first().text, QString("Bitmap image is not valid."));
    QCOMPARE(prompts.messages.first().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    // The program goes on.
    QVERIFY(w.form.isVisible());
    QCOMPARE(ErrorBoxText("Done."), QString("Done."));
    QCOMPARE(ErrorBoxText("Really?"), QString("Really?."));
    QCOMPARE(ErrorBoxText("(1,2)"), QString("(1,2)"));
    QCOMPARE(ErrorBoxText("Stop!"), QString("Stop!"));
    QCOMPARE(ErrorBoxText("-"), QString("-"));
}

void tst_MainForm::moveToNewFolder()
{
    QTemporaryDir dir;
    const QString folder = makeFolder(dir, 3);
    const QString dest = dir.filePath("new/deeper");
    Window w({pic(folder, 1)});
    FakePrompts prompts;
    prompts.answers << QMessageBox::Yes;   // "... folder does not exist. Create it?"
    const QString title = answerDialog<TfrmCopy>([&] { QTest::keyClick(&w.form, Qt::Key_M); },
                                                 [&](TfrmCopy *form) {
                                                     form->cbxDest->setEditText(dest);
                                                     QTest::mouseClick(form->btnOK, Qt::LeftButton);
                                                 });
    QCOMPARE(title, QString("Move File"));
    QCOMPARE(prompts.messageTexts(), QStringList{dest + " folder does not exist. Create it?"});
    QVERIFY(QFile::exists(dest + "/p01.bmp"));
    QVERIFY(!QFile::exists(pic(folder, 1)));
    QCOMPARE(w.form.FPicList->Count(), 2);
    QCOMPARE(w.form.windowTitle(), kTitle + " - " + pic(folder, 2));
}

void tst_MainForm::copyKeepsTheList()
{
    QTemporaryDir dir;
    const QString folder = makeFolder(dir, 3);
    const QString dest = makeFolder(dir, 0, "copies");
    Window w({pic(folder, 1)});
    FakePrompts prompts;
    const QString title = answerDialog<TfrmCopy>([&] { QTest::keyClick(&w.form, Qt::Key_C); },
                                                 [&](TfrmCopy *form) {
                                                     form->cbxDest->setEditText(dest);
                                                     QTest::mouseClick(form->btnOK, Qt::LeftButton);
                                                 });
    QCOMPARE(title, QString("Copy File"));
    QVERIFY(prompts.messages.isEmpty());
    QVERIFY(QFile::exists(dest + "/p01.bmp"));
    QVERIFY(QFile::exists(pic(folder, 1)));
    QCOMPARE(w.form.FPicList->Count(), 3);
    QCOMPARE(w.form.FPicList->ItemIndex(), 1);

    // Cancelling copies nothing.
    QFile::remove(dest + "/p01.bmp");
    answerDialog<TfrmCopy>([&] { w.form.acnCopyToFolder->trigger(); },
                           [&](TfrmCopy *form) {
                               form->cbxDest->setEditText(dest);
                               form->reject();
                           });
    QVERIFY(!QFile::exists(dest + "/p01.bmp"));
}

void tst_MainForm::dialogsOpenFromTheirCommands()
{
    QTemporaryDir dir;
    const QString folder = makeFolder(dir, 3);
    Window w({folder});

    QCOMPARE(answerDialog<TfrmAbout>([&] { w.form.acnAbout->trigger(); }, [](TfrmAbout *d) { d->reject(); }),
             QString("About ") + kTitle);

    // Closing the settings dialog writes the desktop entry, also on Cancel.
    const QString entry = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                          + "/applications/tamsel-photo-editor.desktop";
    QFile::remove(entry);
    QCOMPARE(answerDialog<TfrmSettings>([&] { w.form.acnSettings->trigger(); },
                                        [](TfrmSettings *d) { d->reject(); }),
             QString("Settings"));
    QVERIFY(QFile::exists(entry));

    // The gallery dialog lists the viewer's pictures in its order.
    QStringList listed;
    QCOMPARE(answerDialog<TfrmPublish2Web>([&] { w.form.acnPublishToWeb->trigger(); },
                                           [&](TfrmPublish2Web *d) {
                                               for (int i = 0; i < d->lvwPhotos->count(); ++i)
                                                   listed << d->lvwPhotos->item(i)->text();
                                               d->reject();
                                           }),
             QString("Creation of Web Gallery"));
    QCOMPARE(listed, (QStringList{pic(folder, 0), pic(folder, 1), pic(folder, 2)}));
    QCOMPARE(w.form.FPicList->Count(), 3);
}

void tst_MainForm::associationFailureShowsInStatusBar()
{
    Window w;
    const QString applications = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                                 + "/applications";
    QDir(applications).removeRecursively();
    WriteFile(applications, "not a folder");
    answerDialog<TfrmSettings>([&] { w.form.acnSettings->trigger(); }, [](TfrmSettings *d) { d->reject(); });
    const QString shown = w.form.statusBar()->currentMessage();
    QFile::remove(applications);
    // No box: the status bar says what and why.
    QCOMPARE(shown, "Cannot create folder " + applications + ": Not a directory");
}

// Closing the window stores its placement, the last folder and the folder
// history, each in one change of the store: whatever write fails, the error
// box names the store and the cause, and each change is there whole or not
// at all.
void tst_MainForm::saveAtCloseSurvivesEveryFault()
{
    QTemporaryDir dir;
    // A store in memory, where there is a memory file system: a hundred runs
    // of flushes.
    QTemporaryDir config(QStringLiteral("/dev/shm/tamsel-config-XXXXXX"));
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    const auto restore = qScopeGuard([&] { qputenv("XDG_CONFIG_HOME", oldConfig); });
    if (config.isValid())
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    const QString a = makeFolder(dir, 1, "a");
    const QString b = makeFolder(dir, 1, "b");
    const auto openAndClose = [](const QString &folder, const QRect &bounds) {
        FakePrompts prompts;
        {
            Window w({folder});
            w.form.setGeometry(bounds);
            QCoreApplication::processEvents();
            w.form.close();
        }
        QStringList errors;
        for (const FakePrompts::Message &m : std::as_const(prompts.messages)) {
            if (m.icon == QMessageBox::Critical)
                errors << m.text;
        }
        return errors;
    };
    FaultSweep sweep;
    sweep.folders = {QFileInfo(RegStoreFile()).absolutePath()};
    sweep.names = {RegStoreFile()};
    sweep.prepare = [&] {
        removeStore();
        openAndClose(a, QRect(100, 100, 400, 300));
    };
    sweep.run = [&] { return openAndClose(b, QRect(150, 120, 520, 410)); };
    // The store after the first changes alone: each later one failed.
    sweep.prepare();
    FileFaults::Arm();
    sweep.run();
    const int changes = FileFaults::Count(FileCall::Rename);
    FileFaults::Disarm();
    QVERIFY(changes >= 2);
    for (int k = 2; k <= changes; ++k) {
        sweep.partials << [&, k] {
            FileFaults::Arm(FileCall::Rename, k, EIO);
            sweep.run();
            FileFaults::Disarm();
        };
    }
    const int points = RunFaultSweep(sweep);
    qInfo("%d fault points", points);
}

void tst_MainForm::namesShownAsWritten_data()
{
    QTest::addColumn<QString>("folderName");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("markup") << "x<b>bold" << "x<b>bold.bmp";
    QTest::newRow("ampersand") << "Tom & Jerry" << "Tom & Jerry.bmp";
    QTest::newRow("modified mark") << "d[*]x" << "d[*]x.bmp";
}

void tst_MainForm::namesShownAsWritten()
{
    QFETCH(QString, folderName);
    QFETCH(QString, fileName);
    QTemporaryDir dir;
    const QString folder = dir.filePath(folderName);
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + '/' + fileName;
    writeBmp(path, 40, 30);
    Window w({path});

    QLabel *panel = w.form.StatusPanels[1];
    QCOMPARE(panel->text(), fileName);
    QCOMPARE(panel->textFormat(), Qt::PlainText);
    QVERIFY(panel->width() >= panel->fontMetrics().horizontalAdvance(fileName));
    // The title as the window system gets it.
    QCOMPARE(w.form.windowHandle()->title(), kTitle + " - " + path);
    QCOMPARE(shownMenuText(w.form.pumFolders->actions().last()->text()), folder);

    FakePrompts prompts;
    prompts.answers << QMessageBox::No;
    w.form.acnDelete->trigger();
    QCOMPARE(prompts.messageTexts(), QStringList{"Move \"" + fileName + "\" to the Trash?"});

    // The copy dialog shows the source and, the second time, the destination
    // in its history; copying again asks about the file already there.
    const QString dest = folder + " copies";
    QVERIFY(QDir().mkpath(dest));
    answerDialog<TfrmCopy>([&] { w.form.acnCopyToFolder->trigger(); }, [&](TfrmCopy *form) {
        form->cbxDest->setEditText(dest);
        QTest::mouseClick(form->btnOK, Qt::LeftButton);
    });
    QVERIFY(QFile::exists(dest + '/' + fileName));
    QString source;
    QStringList history;
    answerDialog<TfrmCopy>([&] { w.form.acnCopyToFolder->trigger(); }, [&](TfrmCopy *form) {
        source = form->edtSource->text();
        for (int i = 0; i < form->cbxDest->count(); ++i)
            history << form->cbxDest->itemText(i);
        QTest::mouseClick(form->btnOK, Qt::LeftButton);
    });
    QCOMPARE(source, path);
    QCOMPARE(history, QStringList{dest});
    QCOMPARE(prompts.messageTexts().last(),
             "The folder \"" + dest + "\" already contains a file named \"" + fileName + "\".\nReplace it?");

    QStringList listed;
    answerDialog<TfrmPublish2Web>([&] { w.form.acnPublishToWeb->trigger(); }, [&](TfrmPublish2Web *d) {
        listed << d->lvwPhotos->item(0)->text();
        d->reject();
    });
    QCOMPARE(listed, QStringList{path});
}

void tst_MainForm::searchButtonOffersTheWords()
{
    Window w;
    QVERIFY(w.form.FSearchButton);
    QMenu *menu = w.form.FSearchButton->Menu();
    QVERIFY(menu);
    QFile words(QCoreApplication::applicationDirPath() + "/words.dat");
    QVERIFY(words.open(QIODevice::ReadOnly | QIODevice::Text));
    QStringList expected;
    for (const QByteArray &line : words.readAll().split('\n')) {
        const QString word = QString::fromUtf8(line).trimmed();
        if (!word.isEmpty())
            expected << word;
    }
    QCOMPARE(menuTexts(menu), expected);
    QCOMPARE(w.form.FSearchButton->SubId, QString(TAMSEL_SEARCH_SAID));
}

void tst_MainForm::missingWordFileIsReportedAtStart()
{
    const QString words = QCoreApplication::applicationDirPath() + "/words.dat";
    const QString aside = words + ".aside";
    QVERIFY(QFile::rename(words, aside));
    struct Restore
    {
        QString from, to;
        ~Restore() { QFile::rename(from, to); }
    } restore{aside, words};

    QTemporaryDir dir;
    const QString folder = makeFolder(dir, 2);
    FakePrompts prompts;
    Window w({folder});
    QCOMPARE(prompts.messages.size(), 1);
    QCOMPARE(prompts.messages.first().icon, QMessageBox::Critical);
    QVERIFY2(prompts.messages.first().text.contains("words.dat"), qPrintable(prompts.messages.first().text));
    // The window opened with the folder all the same; the button does nothing.
    QCOMPARE(w.form.PanelText(0), QString("1/2"));
    QTest::mouseClick(w.form.SpeedButton1, Qt::LeftButton);
    QCOMPARE(prompts.messages.size(), 1);
    QVERIFY(!QApplication::activePopupWidget());
}

QTEST_MAIN(tst_MainForm)
void tst_MainForm::detailsPanelFollowsThePicture()
{
    const QString photo = CorpusDir() + QStringLiteral("/jpeg/pillow/broken_exif_dpi.jpg");
    if (!QFile::exists(photo))
        QSKIP("No test corpus");
    QTemporaryDir dir;
    const QString folder = makeFolder(dir, 1);
    QVERIFY(QFile::copy(photo, folder + QStringLiteral("/camera.jpg")));
    Window w({folder + QStringLiteral("/camera.jpg")});
    auto *panel = w.form.findChild<TDetailsPanel *>(QStringLiteral("DetailsPanel"));
    QVERIFY(panel);
    QVERIFY(!panel->isVisible());
    const int fullWidth = w.form.FPicList->width();

    const auto shown = [panel] {
        QStringList texts;
        for (const QLabel *label : panel->findChildren<QLabel *>())
            texts << label->text();
        return texts.join(u'|');
    };
    QTest::keyClick(&w.form, Qt::Key_I);
    QVERIFY(panel->isVisible());
    QVERIFY(w.form.acnDetails->isChecked());
    // The labels hold what the photo says about itself.
    const QString camera = shown();
    for (const char *text : {"camera.jpg", "Pixels", "JPEG", "Camera", "NIKON D800", "1/250 s", "f/8", "ISO", "400"})
        QVERIFY2(camera.contains(QLatin1String(text)), qPrintable(camera));
    QTRY_VERIFY(w.form.FPicList->width() < fullWidth);

    // Stepping to the bitmap brings its details, with no camera data.
    QTest::keyClick(&w.form, Qt::Key_PageDown);
    QCOMPARE(w.form.FPicList->ItemIndex(), 1);
    const QString bitmap = shown();
    QVERIFY2(bitmap.contains(QLatin1String("p00.bmp")) && bitmap.contains(QStringLiteral("40 × 30")), qPrintable(bitmap));
    QVERIFY2(!bitmap.contains(QLatin1String("Camera")), qPrintable(bitmap));

    QTest::keyClick(&w.form, Qt::Key_I);
    QVERIFY(!panel->isVisible());
    QTRY_COMPARE(w.form.FPicList->width(), fullWidth);
}

namespace {

// 800 x 600 in four flat quadrants: red, green / blue, white.
const QRgb kQuadrants[2][2] = {{qRgb(255, 0, 0), qRgb(0, 255, 0)}, {qRgb(0, 0, 255), qRgb(255, 255, 255)}};

void writeQuadrants(const QString &path)
{
    QImage image(800, 600, QImage::Format_RGB32);
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 800; ++x)
            image.setPixel(x, y, kQuadrants[y >= 300][x >= 400]);
    QVERIFY(image.save(path, "BMP"));
}

// The colour the picture area shows at an offset from its centre.
QRgb shownAt(TPicList *list, int dx, int dy)
{
    const QImage shot = list->grab().toImage();
    return shot.pixel(list->width() / 2 + dx, list->height() / 2 + dy) & 0xFFFFFF;
}

QRgb rgb(QRgb c) { return c & 0xFFFFFF; }

// Within a few levels per channel: shrinking blends the edge pixels a little.
bool near(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) <= 8 && std::abs(qGreen(a) - qGreen(b)) <= 8 && std::abs(qBlue(a) - qBlue(b)) <= 8;
}

} // namespace

void tst_MainForm::zoomPanAndTurn()
{
    QTemporaryDir dir;
    const QString folder = makeFolder(dir, 1);
    writeQuadrants(folder + QStringLiteral("/a.bmp"));
    Window w({folder + QStringLiteral("/a.bmp")});
    TPicList *list = w.form.FPicList;
    const QString fitScale = w.form.PanelText(4);
    const int loads = list->LoadCount();
    QVERIFY(!list->IsZoomed());

    // Arrow keys do nothing to a fitted picture.
    QTest::keyClick(list, Qt::Key_Right);
    QCOMPARE(list->ItemIndex(), 0);

    // Actual size: the picture's centre in the middle, one pixel a pixel.
    QTest::keyClick(&w.form, Qt::Key_1);
    QCOMPARE(list->ZoomFactor(), 1.0);
    QCOMPARE(list->ViewCentre(), QPointF(400, 300));
    QCOMPARE(w.form.PanelText(4), QString("100%"));
    QCOMPARE(shownAt(list, -20, -20), rgb(kQuadrants[0][0]));
    QCOMPARE(shownAt(list, 20, 20), rgb(kQuadrants[1][1]));

    // An arrow pans an eighth of the area; dragging moves the picture with
    // the pointer.
    QTest::keyClick(list, Qt::Key_Right);
    QCOMPARE(list->ViewCentre(), QPointF(400 + list->width() / 8.0, 300));
    QCOMPARE(shownAt(list, -20, -20), rgb(kQuadrants[0][1]));
    const QPoint middle = list->rect().center();
    QTest::mousePress(list, Qt::LeftButton, {}, middle);
    QMouseEvent move(QEvent::MouseMove, middle + QPoint(0, 100), list->mapToGlobal(middle + QPoint(0, 100)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list, &move);
    QTest::mouseRelease(list, Qt::LeftButton, {}, middle + QPoint(0, 100));
    QCOMPARE(list->ViewCentre().y(), 200.0);
    QCOMPARE(shownAt(list, -20, 80), rgb(kQuadrants[0][1]));

    // Zooming keeps the point under the pointer in place.
    const QPointF anchor(list->width() / 2.0 + 60, list->height() / 2.0 - 40);
    const auto pictureAt = [list](QPointF p) {
        const QPointF half(list->width() / 2.0, list->height() / 2.0);
        return list->ViewCentre() + (p - half) / list->ZoomFactor();
    };
    const QPointF before = pictureAt(anchor);
    list->ZoomIn(anchor);
    QCOMPARE(list->ZoomFactor(), 1.5);
    QCOMPARE(pictureAt(anchor), before);
    QCOMPARE(w.form.PanelText(4), QString("150%"));
    QTest::keyClick(&w.form, Qt::Key_Minus);
    QCOMPARE(list->ZoomFactor(), 1.0);
    // Out of the zoom steps below the fitted scale lies only Fit.
    while (list->IsZoomed())
        QTest::keyClick(&w.form, Qt::Key_Minus);
    QCOMPARE(w.form.PanelText(4), fitScale);
    QTest::keyClick(&w.form, Qt::Key_Plus);
    QVERIFY(list->ZoomFactor() > 0 && list->ZoomFactor() < 1);
    QTest::keyClick(&w.form, Qt::Key_0);
    QVERIFY(!list->IsZoomed());
    // The full-size picture was read once; the fitted one is shown again
    // without reading.
    QCOMPARE(list->FullReadCount(), 1);
    QCOMPARE(list->LoadCount(), loads);

    // A quarter turn right puts the blue bottom-left quadrant at the top left.
    QTest::keyClick(&w.form, Qt::Key_BracketRight);
    QCOMPARE(list->Turns(), 1);
    const QImage &turned = list->DisplayBitmap();
    QVERIFY(turned.height() > turned.width());
    QVERIFY(near(turned.pixel(2, 2), kQuadrants[1][0]));
    QVERIFY(near(turned.pixel(turned.width() - 3, 2), kQuadrants[0][0]));
    QTest::keyClick(&w.form, Qt::Key_BracketLeft);
    QTest::keyClick(&w.form, Qt::Key_BracketLeft);
    QCOMPARE(list->Turns(), 3);
    QVERIFY(near(list->DisplayBitmap().pixel(2, 2), kQuadrants[0][1]));
    // Turned and zoomed: the full-size picture turns with the view.
    QTest::keyClick(&w.form, Qt::Key_1);
    QCOMPARE(list->ViewCentre(), QPointF(300, 400));
    QCOMPARE(shownAt(list, -20, -20), rgb(kQuadrants[0][1]));
    QCOMPARE(shownAt(list, 20, 20), rgb(kQuadrants[1][0]));

    // Stepping to another picture comes back to Fit, upright.
    QTest::keyClick(&w.form, Qt::Key_PageDown);
    QCOMPARE(list->ItemIndex(), 1);
    QVERIFY(!list->IsZoomed());
    QCOMPARE(list->Turns(), 0);
}

void tst_MainForm::saveTurnedPhoto()
{
    QTemporaryDir dir;
    const QString folder = makeFolder(dir, 1);
    writeQuadrants(folder + QStringLiteral("/a.bmp"));
    const QString photo = folder + QStringLiteral("/b.jpg");
    QVERIFY(QImage(folder + QStringLiteral("/a.bmp")).save(photo, "JPG", 95));
    const QByteArray before = ReadAll(photo);
    Window w({folder + QStringLiteral("/a.bmp")});
    TPicList *list = w.form.FPicList;

    // A bitmap turns in the view only.
    QTest::keyClick(&w.form, Qt::Key_BracketRight);
    QCOMPARE(list->Turns(), 1);
    QVERIFY(!w.form.acnSaveTurned->isEnabled());

    QTest::keyClick(&w.form, Qt::Key_PageDown);
    QCOMPARE(list->FileNames(list->ItemIndex()), photo);
    QVERIFY(!w.form.acnSaveTurned->isEnabled());
    QTest::keyClick(&w.form, Qt::Key_BracketRight);
    QVERIFY(w.form.acnSaveTurned->isEnabled());
    QTest::keySequence(&w.form, QKeySequence(Qt::CTRL | Qt::Key_S));

    // The photo now stands turned by its tag: the picture data is the same,
    // and the view shows it upright again, turned as before.
    const QByteArray after = ReadAll(photo);
    QCOMPARE(JpegOrientation(after), 6);
    QCOMPARE(JpegDecoder(after).Decode(1, false), JpegDecoder(before).Decode(1, false));
    QCOMPARE(list->Turns(), 0);
    QVERIFY(!w.form.acnSaveTurned->isEnabled());
    const QImage &shown = list->DisplayBitmap();
    QVERIFY(shown.height() > shown.width());
    QVERIFY(near(shown.pixel(3, 3), kQuadrants[1][0]));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList({"a.bmp", "b.jpg", "p00.bmp"}));
    QVERIFY(FUnexpected.messages.isEmpty());
}

void tst_MainForm::slideShowRunsToTheEnd()
{
    StoreSlideSeconds(1);
    QTemporaryDir dir;
    const QString folder = makeFolder(dir, 3);
    Window w({pic(folder, 0)});
    QTest::keyClick(&w.form, Qt::Key_S);
    QVERIFY(w.form.FSlideShow->IsRunning());
    QVERIFY(w.form.IsFullScreenMode());
    // A picture a second; after the last one's second the show ends and
    // the window comes back from full screen.
    QTRY_COMPARE_WITH_TIMEOUT(w.form.FPicList->ItemIndex(), 2, 5000);
    QVERIFY(w.form.FSlideShow->IsRunning());
    QTRY_VERIFY_WITH_TIMEOUT(!w.form.FSlideShow->IsRunning(), 5000);
    QVERIFY(!w.form.IsFullScreenMode());
    QCOMPARE(w.form.FPicList->ItemIndex(), 2);
}

void tst_MainForm::anyKeyStopsTheSlideShow()
{
    QTemporaryDir dir;
    const QString folder = makeFolder(dir, 3);
    Window w({pic(folder, 1)});
    w.form.acnFullScreen->trigger();
    QTest::keyClick(&w.form, Qt::Key_S);
    QVERIFY(w.form.FSlideShow->IsRunning());
    // The key only stops the show: nothing is deleted, nothing asked, and a
    // window that was full screen before stays so.
    QTest::keyClick(w.form.FPicList, Qt::Key_Delete);
    QVERIFY(!w.form.FSlideShow->IsRunning());
    QCOMPARE(w.form.FPicList->Count(), 3);
    QCOMPARE(w.form.FPicList->ItemIndex(), 1);
    QVERIFY(w.form.IsFullScreenMode());
    QVERIFY(FUnexpected.messages.isEmpty());
    // A click stops it as well.
    QTest::keyClick(&w.form, Qt::Key_S);
    QVERIFY(w.form.FSlideShow->IsRunning());
    QTest::mouseClick(w.form.FPicList, Qt::LeftButton);
    QVERIFY(!w.form.FSlideShow->IsRunning());
}

#include "tst_MainForm.moc"
