#include "MainForm.h"

// Local
#include "AboutForm.h"
#include "AdvButton.h"
#include "AppError.h"
#include "AppPaths.h"
#include "CopyForm.h"
#include "FileDlg.h"
#include "FileLib.h"
#include "FormPlacement.h"
#include "GuardedSlots.h"
#include "PhotoDetails.h"
#include "PicList.h"
#include "PictureFormats.h"
#include "PictureLoader.h"
#include "Prompts.h"
#include "Publish2WebForm.h"
#include "RegLib.h"
#include "SettingsForm.h"
#include "ShellOps.h"
#include "SlideShow.h"
#include "TamselConfig.h"

// Std
#include <memory>

// Qt
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QStatusBar>
#include <QToolBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QWindow>

namespace {

const QString kNoImage = QStringLiteral("There is no image selected.");
constexpr int kWheelNotch = 120;
constexpr int kMaxStoredFolderIndex = 21;
constexpr int kMaxReadFolderIndex = 30;

// Toolbar pictures, drawn rather than shipped.
enum class Glyph { Open, Copy, Move, Gallery, Search };

// Draws a toolbar picture in a 24 x 24 box.
void DrawGlyph(QPainter &p, Glyph glyph)
{
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink(0x2d, 0x3e, 0x50);
    p.setPen(QPen(ink, 1.5));
    switch (glyph) {
    case Glyph::Open: {
        p.setBrush(QColor(0xf4, 0xc4, 0x3d));
        QPainterPath folder;
        folder.moveTo(2, 6);
        folder.lineTo(9, 6);
        folder.lineTo(11, 8);
        folder.lineTo(21, 8);
        folder.lineTo(21, 20);
        folder.lineTo(2, 20);
        folder.closeSubpath();
        p.drawPath(folder);
        break;
    }
    case Glyph::Copy:
        p.setBrush(QColor(0xe8, 0xf1, 0xfa));
        p.drawRect(QRectF(3, 3, 12, 14));
        p.drawRect(QRectF(9, 7, 12, 14));
        break;
    case Glyph::Move: {
        p.setBrush(QColor(0xf4, 0xc4, 0x3d));
        p.drawRect(QRectF(9, 10, 12, 10));
        p.setPen(QPen(QColor(0x1f, 0x7a, 0x3a), 2.5));
        p.drawLine(QPointF(2, 8), QPointF(14, 8));
        p.drawLine(QPointF(10, 4), QPointF(14, 8));
        p.drawLine(QPointF(10, 12), QPointF(14, 8));
        break;
    }
    case Glyph::Gallery:
        p.setBrush(QColor(0x9f, 0xd3, 0xf5));
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 2; ++x)
                p.drawRect(QRectF(2.5 + x * 10, 2.5 + y * 10, 8, 8));
        break;
    case Glyph::Search:
        p.setPen(QPen(ink, 2.5));
        p.drawEllipse(QRectF(3, 3, 12, 12));
        p.drawLine(QPointF(14, 14), QPointF(21, 21));
        break;
    }
}

QIcon MakeIcon(Glyph glyph)
{
    // Drawn for ordinary screens and for screens that scale by 2, so that
    // the toolbar stays crisp on both.
    QIcon icon;
    for (const int ratio : {1, 2}) {
        QPixmap pixmap(24 * ratio, 24 * ratio);
        pixmap.setDevicePixelRatio(ratio);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        DrawGlyph(p, glyph);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

// A command's picture from the desktop's icon theme, by its name in the
// freedesktop Icon Naming Specification, so that the window matches the
// other programs on the desktop; where the theme lacks the name, the
// program's own picture (none for the commands that never had one).
QIcon ThemeIcon(const char *name, const QIcon &fallback = QIcon())
{
    return QIcon::fromTheme(QString::fromLatin1(name), fallback);
}

} // namespace

QIcon ProgramIcon()
{
    // The renderings of resources/icons/tamsel-photo-editor.svg, compiled
    // in: the window has its picture also where the program is not
    // installed and the desktop's theme does not know it.
    QIcon icon;
    for (const char *size : {"48", "128"})
        icon.addFile(QStringLiteral(":/icons/tamsel-photo-editor-%1.png").arg(QLatin1String(size)));
    return icon;
}

WindowStateWatch::WindowStateWatch(QWindow *window, bool fullScreen)
    : FWindow(window)
    , FFullScreen(fullScreen)
{
    window->installEventFilter(this);
}

bool WindowStateWatch::eventFilter(QObject *watched, QEvent *event)
{
    // The platform's reports arrive as spontaneous state-change events; the
    // program's own requests do not.
    if (watched == FWindow && event->type() == QEvent::WindowStateChange && event->spontaneous()
        && bool(FWindow->windowStates() & Qt::WindowFullScreen) == FFullScreen)
        FReported = true;
    return false;
}

QString FolderToOpen(const QString &folder, const QString &fileName)
{
    if (!folder.isEmpty())
        return folder;
    return FolderOfPath(fileName);
}

TfrmMain::TfrmMain(const QStringList &arguments, QWidget *parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("frmMain"));
    // The designed bounds and minimum size; the stored placement replaces
    // them in LoadSettings.
    setGeometry(244, 103, 414, 384);
    setMinimumSize(400, 300);
    setWindowIcon(ProgramIcon());
    FormCreate(arguments);
}

TfrmMain::~TfrmMain()
{
    // Closing saves the settings; a window destroyed without being closed
    // saves them here.
    if (!FSettingsSaved)
        RunGuarded([this] { SaveSettings(); });
}

void TfrmMain::FormCreate(const QStringList &arguments)
{
    // The picture list fills the client area below a thin spacer.
    auto *client = new QWidget(this);
    auto *layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    pnlTop = new QWidget(client);
    pnlTop->setObjectName(QStringLiteral("pnlTop"));
    pnlTop->setFixedHeight(2);
    layout->addWidget(pnlTop);
    FPicList = new TPicList(client);
    FPicList->setObjectName(QStringLiteral("FPicList"));
    FPicList->OnChange = [this](TPicList *) { PicListChange(); };
    // The details panel stands right of the pictures, hidden until asked for.
    auto *row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(FPicList, 1);
    FDetails = new TDetailsPanel(client);
    FDetails->hide();
    row->addWidget(FDetails);
    layout->addLayout(row, 1);
    setCentralWidget(client);
    setFocusProxy(FPicList);

    CreateActions();
    CreateMenus();
    CreateToolBar();
    CreateStatusBar();

    setWindowTitle(QApplication::applicationName());

    // An error in any of the following steps is shown, the remaining steps
    // are skipped, and the window opens all the same.
    RunGuarded([&] {
        LoadSettings();
        EnableActions();
        UpdateStatus();
        AssignShortCuts();

        // An empty argument names no file and no folder; it must not open
        // the current directory.
        if (!arguments.isEmpty() && !arguments.first().isEmpty()) {
            // The picture area is laid out now, at the stored size or the
            // one showing would give it, so that the picture can be read for
            // it while the window is built and shown.
            if (!testAttribute(Qt::WA_Resized))
                adjustSize();
            QMainWindow::layout()->activate();
            layout->activate();
            // Relative paths are taken from the current directory.
            const QString path = QDir::cleanPath(QDir::current().absoluteFilePath(arguments.first()));
            const QFileInfo info(path);
            if (info.exists() && !info.isDir())
                OpenLocation(QString(), path);
            if (info.isDir())
                OpenLocation(path, QString());
        }

        FSearchButton = new TAdvButton(this);
        FSearchButton->Attach(SpeedButton1);
        FSearchButton->SubId = QStringLiteral(TAMSEL_SEARCH_SAID);
    });
    FPicList->setFocus();
}

void TfrmMain::CreateActions()
{
    struct ActionDef
    {
        QAction **action;
        const char *text;       // the menu item's text
        const char *caption;    // the action's caption where it differs
        const char *objectName;
        void (TfrmMain::*handler)();
    };
    const ActionDef defs[] = {
        {&acnOpen, "Open...", "", "acnOpen", &TfrmMain::acnOpenExecute},
        {&acnSettings, "Settings...", nullptr, "acnSettings", &TfrmMain::acnSettingsExecute},
        {&acnClose, "Close", nullptr, "acnClose", &TfrmMain::acnCloseExecute},
        {&acnAbout, "About...", nullptr, "acnAbout", &TfrmMain::acnAboutExecute},
        {&acnCopyToClipboard, "Copy To Clipboard", nullptr, "acnCopyToClipboard", &TfrmMain::acnCopyToClipboardExecute},
        {&acnCopyToFolder, "Copy To Folder...", nullptr, "acnCopyToFolder", &TfrmMain::acnCopyToFolderExecute},
        {&acnMoveToFolder, "Move To Folder...", nullptr, "acnMoveToFolder", &TfrmMain::acnMoveToFolderExecute},
        {&acnDelete, "Delete", nullptr, "acnDelete", &TfrmMain::acnDeleteExecute},
        {&acnDeleteWOUndo, "DeleteWOUndo", nullptr, "acnDeleteWOUndo", &TfrmMain::acnDeleteWOUndoExecute},
        {&acnFullScreen, "Full Screen", nullptr, "acnFullScreen", &TfrmMain::acnFullScreenExecute},
        {&acnPrev, "Prev Image", "Prev", "acnPrev", &TfrmMain::acnPrevExecute},
        {&acnNext, "Next Image", "Next", "acnNext", &TfrmMain::acnNextExecute},
        {&acnPrev10, "Prev 10", nullptr, "acnPrev10", &TfrmMain::acnPrev10Execute},
        {&acnNext10, "Next 10", nullptr, "acnNext10", &TfrmMain::acnNext10Execute},
        {&acnFirst, "First Image", "First", "acnFirst", &TfrmMain::acnFirstExecute},
        {&acnLast, "Last Image", "Last", "acnLast", &TfrmMain::acnLastExecute},
        {&acnRefresh, "Refresh", nullptr, "acnRefresh", &TfrmMain::acnRefreshExecute},
        {&acnPublishToWeb, "Create HTML Gallery", nullptr, "acnPublishToWeb", &TfrmMain::acnPublishToWebExecute},
    };
    for (const ActionDef &def : defs) {
        auto *action = new QAction(QString::fromLatin1(def.text), this);
        action->setObjectName(QString::fromLatin1(def.objectName));
        action->setIconText(QString::fromLatin1(def.caption ? def.caption : def.text));
        // Shortcuts belong to the window, so they work also while the menu
        // is removed in full-screen mode.
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
        ConnectGuarded(action, &QAction::triggered, this, def.handler);
        *def.action = action;
    }
    // Beyond the commands above: the details panel.
    acnDetails = new QAction(QStringLiteral("Details"), this);
    acnDetails->setObjectName(QStringLiteral("acnDetails"));
    acnDetails->setCheckable(true);
    acnDetails->setShortcutContext(Qt::WindowShortcut);
    addAction(acnDetails);
    // The picture area narrows and widens with the panel; its resize fits
    // the picture again.
    connect(acnDetails, &QAction::toggled, FDetails, &QWidget::setVisible);
    // Looking closer and turning the view.
    const auto viewAction = [this](QAction *&action, const char *text, const char *name,
                                   const std::function<void()> &run) {
        action = new QAction(QString::fromLatin1(text), this);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
        connect(action, &QAction::triggered, this, [run] { RunGuarded(run); });
    };
    viewAction(acnZoomIn, "Zoom In", "acnZoomIn", [this] { FPicList->ZoomIn(PointerOverPicture()); });
    viewAction(acnZoomOut, "Zoom Out", "acnZoomOut", [this] { FPicList->ZoomOut(PointerOverPicture()); });
    viewAction(acnActualSize, "Actual Size", "acnActualSize", [this] { FPicList->ActualSize(); });
    viewAction(acnFit, "Fit", "acnFit", [this] { FPicList->FitToArea(); });
    viewAction(acnTurnLeft, "Turn Left", "acnTurnLeft", [this] { FPicList->TurnLeft(); });
    viewAction(acnTurnRight, "Turn Right", "acnTurnRight", [this] { FPicList->TurnRight(); });
    viewAction(acnSaveTurned, "Save Turned Photo", "acnSaveTurned", [this] { FPicList->SaveTurnedPhoto(); });
    viewAction(acnSlideShow, "Slide Show", "acnSlideShow", [this] { StartSlideShow(); });
    FSlideShow = new TSlideShow(FPicList, this);
    // A show that went full screen by itself leaves it again when it stops.
    FSlideShow->OnStop = [this] {
        if (FSlideFullScreen && IsFullScreenMode())
            RunGuarded([this] { acnFullScreenExecute(); });
        FSlideFullScreen = false;
    };

    // The toolbar's commands fall back on their drawn pictures. The naming
    // has no gallery or web-publishing name; sending is the nearest. Moving
    // a file is a cut and paste.
    acnOpen->setIcon(ThemeIcon("document-open", MakeIcon(Glyph::Open)));
    acnOpen->setToolTip(QStringLiteral("Open"));
    acnCopyToFolder->setIcon(ThemeIcon("edit-copy", MakeIcon(Glyph::Copy)));
    acnCopyToFolder->setToolTip(QStringLiteral("Copy"));
    acnMoveToFolder->setIcon(ThemeIcon("edit-cut", MakeIcon(Glyph::Move)));
    acnMoveToFolder->setToolTip(QStringLiteral("Move"));
    acnPublishToWeb->setIcon(ThemeIcon("document-send", MakeIcon(Glyph::Gallery)));
    acnPublishToWeb->setToolTip(QStringLiteral("Create HTML Gallery"));
    // The menus' other commands show the theme's picture where it has one.
    acnSettings->setIcon(ThemeIcon("document-properties"));
    acnClose->setIcon(ThemeIcon("application-exit"));
    acnAbout->setIcon(ThemeIcon("help-about"));
    acnCopyToClipboard->setIcon(ThemeIcon("edit-copy"));
    acnDelete->setIcon(ThemeIcon("edit-delete"));
    acnFullScreen->setIcon(ThemeIcon("view-fullscreen"));
    acnPrev->setIcon(ThemeIcon("go-previous"));
    acnNext->setIcon(ThemeIcon("go-next"));
    acnFirst->setIcon(ThemeIcon("go-first"));
    acnLast->setIcon(ThemeIcon("go-last"));
    acnRefresh->setIcon(ThemeIcon("view-refresh"));

    // The shortcuts that come with the design of the window; AssignShortCuts
    // sets the others at start-up.
    acnOpen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    acnCopyToClipboard->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    acnDelete->setShortcut(QKeySequence(Qt::Key_Delete));
    acnRefresh->setShortcut(QKeySequence(Qt::Key_F5));
}

void TfrmMain::CreateMenus()
{
    QMenu *file = menuBar()->addMenu(QStringLiteral("File"));
    file->addAction(acnOpen);
    file->addSeparator();
    file->addAction(acnSettings);
    file->addSeparator();
    file->addAction(acnClose);

    QMenu *edit = menuBar()->addMenu(QStringLiteral("Edit"));
    edit->addAction(acnCopyToClipboard);
    edit->addSeparator();
    edit->addAction(acnCopyToFolder);
    edit->addAction(acnMoveToFolder);
    edit->addSeparator();
    edit->addAction(acnDelete);

    QMenu *view = menuBar()->addMenu(QStringLiteral("View"));
    view->addAction(acnFullScreen);
    view->addSeparator();
    view->addAction(acnNext);
    view->addAction(acnPrev);
    view->addAction(acnPrev10);
    view->addAction(acnNext10);
    view->addAction(acnFirst);
    view->addAction(acnLast);
    view->addSeparator();
    view->addAction(acnRefresh);
    view->addSeparator();
    view->addAction(acnZoomIn);
    view->addAction(acnZoomOut);
    view->addAction(acnActualSize);
    view->addAction(acnFit);
    view->addSeparator();
    view->addAction(acnTurnLeft);
    view->addAction(acnTurnRight);
    view->addAction(acnSaveTurned);
    view->addSeparator();
    view->addAction(acnSlideShow);
    view->addAction(acnDetails);

    QMenu *tools = menuBar()->addMenu(QStringLiteral("Tools"));
    tools->addAction(acnPublishToWeb);

    QMenu *help = menuBar()->addMenu(QStringLiteral("Help"));
    help->addAction(acnAbout);
}

void TfrmMain::CreateToolBar()
{
    ToolBar = addToolBar(QStringLiteral("ToolBar"));
    ToolBar->setObjectName(QStringLiteral("ToolBar"));
    ToolBar->setMovable(false);
    ToolBar->setFloatable(false);
    ToolBar->setIconSize(QSize(24, 24));
    ToolBar->toggleViewAction()->setEnabled(false);
    setContextMenuPolicy(Qt::NoContextMenu);

    pumFolders = new QMenu(this);
    pumFolders->setObjectName(QStringLiteral("pumFolders"));
    ConnectGuarded(pumFolders, &QMenu::triggered, this, &TfrmMain::FolderMenuClick);

    tbnOpen = new QToolButton(ToolBar);
    tbnOpen->setObjectName(QStringLiteral("tbnOpen"));
    tbnOpen->setDefaultAction(acnOpen);
    tbnOpen->setMenu(pumFolders);
    tbnOpen->setPopupMode(QToolButton::MenuButtonPopup);
    tbnOpen->setAutoRaise(true);
    ToolBar->addWidget(tbnOpen);
    ToolBar->addSeparator();
    ToolBar->addAction(acnCopyToFolder);
    ToolBar->addAction(acnMoveToFolder);
    ToolBar->addSeparator();
    ToolBar->addAction(acnPublishToWeb);
    ToolBar->addSeparator();

    SpeedButton1 = new QToolButton(ToolBar);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setText(QStringLiteral("Search"));
    SpeedButton1->setToolTip(QStringLiteral("Search of Software"));
    SpeedButton1->setIcon(ThemeIcon("system-search", MakeIcon(Glyph::Search)));
    SpeedButton1->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    SpeedButton1->setAutoRaise(true);
    SpeedButton1->setFocusPolicy(Qt::NoFocus);
    ToolBar->addWidget(SpeedButton1);
    for (QToolButton *button : ToolBar->findChildren<QToolButton *>())
        button->setFocusPolicy(Qt::NoFocus);
}

void TfrmMain::CreateStatusBar()
{
    QStatusBar *bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar"));
    bar->setSizeGripEnabled(true);
    // The panels stand side by side at their own widths; what does not fit
    // in a narrow window is cut off at the right edge rather than squeezed
    // over its neighbours.
    FPanelHost = new QWidget(bar);
    FPanelHost->setObjectName(QStringLiteral("StatusPanels"));
    bar->addWidget(FPanelHost, 1);
    FPanelHost->installEventFilter(this);
    for (int i = 0; i < int(StatusPanels.size()); ++i) {
        auto *panel = new QLabel(FPanelHost);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setContentsMargins(0, 0, 0, 0);
        panel->setFrameShape(QFrame::NoFrame);
        // The panels show file names as written, never as markup.
        panel->setTextFormat(Qt::PlainText);
        StatusPanels[size_t(i)] = panel;
    }
    FPanelHost->setMinimumHeight(StatusPanels[0]->sizeHint().height());
    LayOutStatusPanels();
}

void TfrmMain::LayOutStatusPanels()
{
    const int height = FPanelHost->height();
    int x = 0;
    for (QLabel *panel : StatusPanels) {
        panel->setGeometry(x, 0, panel->width(), height);
        x += panel->width();
    }
}

QList<QAction *> TfrmMain::Actions() const
{
    return {acnOpen, acnSettings, acnClose, acnAbout, acnCopyToClipboard, acnCopyToFolder,
            acnMoveToFolder, acnDelete, acnDeleteWOUndo, acnFullScreen, acnPrev, acnNext,
            acnPrev10, acnNext10, acnFirst, acnLast, acnRefresh, acnPublishToWeb};
}

QString TfrmMain::PanelText(int index) const
{
    return StatusPanels.at(size_t(index))->text();
}

bool TfrmMain::IsFullScreenMode() const
{
    // The status bar's visibility marks the mode.
    return statusBar()->isHidden();
}

void TfrmMain::AssignShortCuts()
{
    acnOpen->setShortcut(QKeySequence(Qt::Key_O));
    acnClose->setShortcut(QKeySequence(Qt::Key_Escape));
    acnCopyToFolder->setShortcut(QKeySequence(Qt::Key_C));
    acnMoveToFolder->setShortcut(QKeySequence(Qt::Key_M));
    acnDeleteWOUndo->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_Delete));
    acnFullScreen->setShortcut(QKeySequence(Qt::Key_F));
    acnFirst->setShortcut(QKeySequence(Qt::Key_Home));
    acnPrev->setShortcut(QKeySequence(Qt::Key_PageUp));
    acnNext->setShortcut(QKeySequence(Qt::Key_PageDown));
    acnPrev10->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_PageUp));
    acnNext10->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_PageDown));
    acnLast->setShortcut(QKeySequence(Qt::Key_End));
    acnDetails->setShortcut(QKeySequence(Qt::Key_I));
    // "+" is the shifted "=" on many keyboards; the keypad has its own.
    acnZoomIn->setShortcuts({QKeySequence(Qt::Key_Plus), QKeySequence(Qt::Key_Equal)});
    acnZoomOut->setShortcut(QKeySequence(Qt::Key_Minus));
    acnActualSize->setShortcut(QKeySequence(Qt::Key_1));
    acnFit->setShortcut(QKeySequence(Qt::Key_0));
    acnTurnLeft->setShortcut(QKeySequence(Qt::Key_BracketLeft));
    acnTurnRight->setShortcut(QKeySequence(Qt::Key_BracketRight));
    acnSaveTurned->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    acnSlideShow->setShortcut(QKeySequence(Qt::Key_S));
}

void TfrmMain::StartSlideShow()
{
    if (FPicList->ItemIndex() == -1 || FSlideShow->IsRunning())
        return;
    FSlideFullScreen = !IsFullScreenMode();
    if (FSlideFullScreen)
        acnFullScreenExecute();
    FSlideShow->Start(std::chrono::seconds(StoredSlideSeconds()));
}

std::optional<QPointF> TfrmMain::PointerOverPicture() const
{
    const QPoint at = FPicList->mapFromGlobal(QCursor::pos());
    if (!FPicList->rect().contains(at))
        return std::nullopt;
    return QPointF(at);
}

void TfrmMain::LoadSettings()
{
    LoadFormPlacement(kFormsKey + objectName(), this, false);
    SetTurnByOrientation(StoredTurnByOrientation());
    SetAllPictureFormats(StoredAllPictureFormats());
    FLastOpenFolder = ReadRegString(kAppKey, QStringLiteral("LastOpenFolder"));
    ReadFolderHistory(kFoldersKey, kMaxReadFolderIndex, [this](const QString &folder) { AddFolderMenuItem(folder); });
    FFoldersLoaded = true;
}

void TfrmMain::SaveSettings()
{
    FSettingsSaved = true;
    SaveFormPlacement(kFormsKey + objectName(), this);
    if (!FLastOpenFolder.trimmed().isEmpty())
        WriteRegString(kAppKey, QStringLiteral("LastOpenFolder"), FLastOpenFolder);
    // The key is deleted and written again in one change, so a crash never
    // leaves half a history. A history that could not be read (a value of
    // the wrong type) is left as it is stored rather than replaced by the
    // part that was read.
    if (FFoldersLoaded)
        RewriteRegStringList(kFoldersKey, FFolderHistory, kMaxStoredFolderIndex);
}

void TfrmMain::AddFolderMenuItem(const QString &folder)
{
    FFolderHistory.append(folder);
    QAction *item = pumFolders->addAction(MenuEntryText(folder));
    // The item finds its folder through its index, never through its text.
    item->setData(int(FFolderHistory.size() - 1));
}

void TfrmMain::OpenLocation(const QString &folder, const QString &fileName)
{
    const QString toOpen = FolderToOpen(folder, fileName);
    FPicList->OpenFolder(toOpen, fileName);
    FLastOpenFolder = toOpen;
    if (!FFolderHistory.contains(toOpen))
        AddFolderMenuItem(toOpen);
}

void TfrmMain::PicListChange()
{
    EnableActions();
    UpdateStatus();
    const int index = FPicList->ItemIndex();
    FDetails->ShowPicture(index == -1 ? QString() : FPicList->FileNames(index), FPicList->ImageWidth(),
                          FPicList->ImageHeight());
}

void TfrmMain::EnableActions()
{
    const bool hasPicture = FPicList->ItemIndex() != -1;
    for (QAction *action : {acnCopyToClipboard, acnCopyToFolder, acnMoveToFolder, acnDelete,
                            acnPrev, acnNext, acnPrev10, acnNext10, acnFirst, acnLast, acnRefresh})
        action->setEnabled(hasPicture);
    for (QAction *action : {acnZoomIn, acnZoomOut, acnActualSize, acnFit, acnTurnLeft, acnTurnRight, acnSlideShow})
        action->setEnabled(hasPicture);
    acnSaveTurned->setEnabled(FPicList->CanSaveTurn());
}

void TfrmMain::UpdateStatus()
{
    const QString title = QApplication::applicationName();
    std::array<QString, 5> texts;
    const int index = FPicList->ItemIndex();
    if (index == -1) {
        setWindowTitle(title);
        texts[0] = kNoImage;
    } else {
        const QString path = FPicList->FileNames(index);
        setWindowTitle(WindowTitleText(title + QStringLiteral(" - ") + path));
        texts[0] = QStringLiteral("%1/%2").arg(index + 1).arg(FPicList->Count());
        texts[1] = NameOfPath(path);
        texts[2] = QStringLiteral("%1x%2").arg(FPicList->ImageWidth()).arg(FPicList->ImageHeight());
        texts[3] = FormatFileSize(FileSizeOf(path));
        texts[4] = FPicList->ImageScale();
    }
    const QFontMetrics metrics(statusBar()->font());
    for (size_t i = 0; i < texts.size(); ++i) {
        StatusPanels[i]->setText(texts[i]);
        StatusPanels[i]->resize(metrics.horizontalAdvance(texts[i]) + 20, StatusPanels[i]->height());
    }
    LayOutStatusPanels();
    statusBar()->repaint();
}

void TfrmMain::acnOpenExecute()
{
    TFileOpenDialog dialog;
    dialog.OwnerHandle = this;
    if (!FLastOpenFolder.isEmpty())
        dialog.InitialDir = FLastOpenFolder;
    dialog.Filter = OpenDialogFilter();
    if (dialog.Execute())
        OpenLocation(QString(), dialog.FileName);
}

void TfrmMain::FolderMenuClick(QAction *item)
{
    bool ok = false;
    const int index = item->data().toInt(&ok);
    if (!ok || index < 0 || index >= FFolderHistory.size())
        return;
    OpenLocation(FFolderHistory.at(index), QString());
    FPicList->setFocus();
}

void TfrmMain::acnPrevExecute() { FPicList->Prev(); }
void TfrmMain::acnNextExecute() { FPicList->Next(); }
void TfrmMain::acnPrev10Execute() { FPicList->Prev10(); }
void TfrmMain::acnNext10Execute() { FPicList->Next10(); }
void TfrmMain::acnFirstExecute() { FPicList->First(); }
void TfrmMain::acnLastExecute() { FPicList->Last(); }

void TfrmMain::acnRefreshExecute()
{
    if (FPicList->ItemIndex() != -1)
        OpenLocation(QString(), FPicList->FileNames(FPicList->ItemIndex()));
}

void TfrmMain::acnCopyToClipboardExecute()
{
    FPicList->CopyToClipboard();
}

void TfrmMain::RemoveCurrentIfGone(const QString &fileName)
{
    const QFileInfo info(fileName);
    if (!info.exists() && !info.isSymLink())
        FPicList->RemoveCurrent();
}

void TfrmMain::DeleteCurrent(bool allowUndo)
{
    if (FPicList->ItemIndex() == -1)
        return;
    const QString fileName = FPicList->FileNames(FPicList->ItemIndex());
    ShellDeleteFile(this, fileName, allowUndo);
    RemoveCurrentIfGone(fileName);
}

void TfrmMain::acnDeleteExecute() { DeleteCurrent(true); }
void TfrmMain::acnDeleteWOUndoExecute() { DeleteCurrent(false); }

void TfrmMain::CopyCurrent(bool move)
{
    if (FPicList->ItemIndex() == -1)
        return;
    const QString fileName = FPicList->FileNames(FPicList->ItemIndex());
    ShowCopyForm(this, fileName, move);
    if (move)
        RemoveCurrentIfGone(fileName);
}

void TfrmMain::acnCopyToFolderExecute() { CopyCurrent(false); }
void TfrmMain::acnMoveToFolderExecute() { CopyCurrent(true); }

void TfrmMain::acnFullScreenExecute()
{
    FPicList->SetPaintEnable(false);
    const bool enter = !IsFullScreenMode();
    // Watches for the platform's own report of the new state; set up before
    // the request so that no report is missed.
    std::unique_ptr<WindowStateWatch> watch;
    if (!QApplication::platformName().startsWith(QLatin1String("offscreen")) && windowHandle())
        watch = std::make_unique<WindowStateWatch>(windowHandle(), enter);
    if (enter) {
        // A normal window keeps its bounds for the way back. It goes to full
        // screen directly: a window manager that saw it maximized on the way
        // would restore it maximized when it leaves full screen, over the
        // bounds put back here.
        FNormalBounds = QRect();
        if (!isMaximized())
            FNormalBounds = geometry();
        statusBar()->hide();
        ToolBar->hide();
        pnlTop->hide();
        menuBar()->hide();
        setWindowState(windowState() | Qt::WindowFullScreen);
    } else {
        setWindowState(windowState() & ~Qt::WindowFullScreen);
        if (!FNormalBounds.isNull()) {
            setWindowState(windowState() & ~Qt::WindowMaximized);
            setGeometry(FNormalBounds);
            FNormalBounds = QRect();
        }
        menuBar()->show();
        statusBar()->show();
        ToolBar->show();
        pnlTop->show();
    }
    if (watch)
        WaitForWindowToSettle(*watch);
    FPicList->SetPaintEnable(true);
}

void TfrmMain::WaitForWindowToSettle(const WindowStateWatch &watch)
{
    // A window manager applies a state change asynchronously: it reports
    // the new state and resizes the window some time after the request,
    // sooner or later depending on the manager and the machine's load. The
    // picture is loaded once, for the final size: so wait for the manager's
    // report of the state asked for, then until the size has been quiet for
    // a moment. Without a window manager no report comes; the wait then ends
    // after a bounded time.
    constexpr int kReportLimitMs = 1000;
    constexpr int kSettleLimitMs = 500;
    constexpr int kQuietMs = 60;
    QElapsedTimer total;
    total.start();
    QElapsedTimer quiet;
    quiet.start();
    qint64 reportedAt = -1;
    QSize last = size();
    QEventLoop loop;
    QTimer tick;
    tick.setInterval(5);
    connect(&tick, &QTimer::timeout, &loop, [&] {
        if (size() != last) {
            last = size();
            quiet.restart();
        }
        if (reportedAt < 0 && watch.Reported()) {
            reportedAt = total.elapsed();
            quiet.restart();
        }
        const bool done = reportedAt >= 0
                              ? quiet.elapsed() >= kQuietMs || total.elapsed() - reportedAt >= kSettleLimitMs
                              : total.elapsed() >= kReportLimitMs;
        if (done)
            loop.quit();
    });
    tick.start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void TfrmMain::acnSettingsExecute()
{
    // The associations are written without a message box; what could not be
    // written still shows, in the status bar.
    const QString failure = ShowSettingsForm(this);
    if (!failure.isEmpty())
        statusBar()->showMessage(failure, 15000);
    const bool turn = StoredTurnByOrientation();
    if (turn != TurnByOrientation()) {
        SetTurnByOrientation(turn);
        FPicList->UpdateImage();
    }
    // The folder list is read again with or without the other formats.
    const bool allFormats = StoredAllPictureFormats();
    if (allFormats != AllPictureFormats()) {
        SetAllPictureFormats(allFormats);
        acnRefreshExecute();
    }
}

void TfrmMain::acnAboutExecute()
{
    ShowAboutForm(this);
}

void TfrmMain::acnPublishToWebExecute()
{
    ShowPublish2Web(FPicList->Files(), FLastOpenFolder, this);
}

void TfrmMain::acnCloseExecute()
{
    close();
}

void TfrmMain::closeEvent(QCloseEvent *event)
{
    RunGuarded([this] { SaveSettings(); });
    event->accept();
}

bool TfrmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == FPanelHost && event->type() == QEvent::Resize)
        LayOutStatusPanels();
    return QMainWindow::eventFilter(watched, event);
}

void TfrmMain::wheelEvent(QWheelEvent *event)
{
    // One picture per notch; the smaller steps of high-resolution wheels and
    // touchpads add up to a notch. A turn the other way starts afresh.
    const int delta = event->angleDelta().y();
    if (delta == 0) {
        event->ignore();
        return;
    }
    if ((delta > 0) != (FWheelDelta > 0))
        FWheelDelta = 0;
    FWheelDelta += delta;
    RunGuarded([this] {
        while (FWheelDelta >= kWheelNotch) {
            FWheelDelta -= kWheelNotch;
            FPicList->Prev();
        }
        while (FWheelDelta <= -kWheelNotch) {
            FWheelDelta += kWheelNotch;
            FPicList->Next();
        }
    });
    event->accept();
}
