#pragma once

// Qt
#include <QIcon>
#include <QMainWindow>
#include <QRect>
#include <QStringList>

// Std
#include <array>
#include <optional>

class QLabel;
class QMenu;
class QToolBar;
class QToolButton;
class TAdvButton;
class TPicList;
class TDetailsPanel;
class TSlideShow;
class QWindow;

// The program's own picture, for its windows.
QIcon ProgramIcon();

// Tells whether the platform (the window manager) has reported that a window
// entered, or left, the full-screen state.
class WindowStateWatch : public QObject
{
public:
    WindowStateWatch(QWindow *window, bool fullScreen);
    bool Reported() const { return FReported; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWindow *FWindow;
    bool FFullScreen;
    bool FReported = false;
};

// The viewer's one window: toolbar, spacer, picture list and a status bar of
// five panels. Every user command is an action of this window. The parts are
// public, as a form's fields are, so that tests can drive the real widgets.
class TfrmMain : public QMainWindow
{
    Q_OBJECT

public:
    // arguments: the command line without the program name; at most the
    // first one is looked at.
    explicit TfrmMain(const QStringList &arguments = {}, QWidget *parent = nullptr);
    ~TfrmMain() override;

    // Parts
    TPicList *FPicList = nullptr;
    QToolBar *ToolBar = nullptr;
    QToolButton *tbnOpen = nullptr;
    QToolButton *SpeedButton1 = nullptr;
    QWidget *pnlTop = nullptr;
    std::array<QLabel *, 5> StatusPanels{};
    QMenu *pumFolders = nullptr;
    TAdvButton *FSearchButton = nullptr;

    // Actions, in the order of the action list.
    QAction *acnOpen = nullptr;
    QAction *acnSettings = nullptr;
    QAction *acnClose = nullptr;
    QAction *acnAbout = nullptr;
    QAction *acnCopyToClipboard = nullptr;
    QAction *acnCopyToFolder = nullptr;
    QAction *acnMoveToFolder = nullptr;
    QAction *acnDelete = nullptr;
    QAction *acnDeleteWOUndo = nullptr;
    QAction *acnFullScreen = nullptr;
    QAction *acnPrev = nullptr;
    QAction *acnNext = nullptr;
    QAction *acnPrev10 = nullptr;
    QAction *acnNext10 = nullptr;
    QAction *acnFirst = nullptr;
    QAction *acnLast = nullptr;
    QAction *acnRefresh = nullptr;
    QAction *acnPublishToWeb = nullptr;
    // Beyond the list above: the details panel's switch.
    QAction *acnDetails = nullptr;
    QAction *acnZoomIn = nullptr;
    QAction *acnZoomOut = nullptr;
    QAction *acnActualSize = nullptr;
    QAction *acnFit = nullptr;
    QAction *acnTurnLeft = nullptr;
    QAction *acnTurnRight = nullptr;
    QAction *acnSaveTurned = nullptr;
    QAction *acnSlideShow = nullptr;
    TSlideShow *FSlideShow = nullptr;
    TDetailsPanel *FDetails = nullptr;

    // State
    QStringList FFolderHistory;
    QString FLastOpenFolder;
    QRect FNormalBounds;        // all zero: no bounds saved

    QList<QAction *> Actions() const;
    QString PanelText(int index) const;
    bool IsFullScreenMode() const;

    void OpenLocation(const QString &folder, const QString &fileName);
    void EnableActions();
    void UpdateStatus();
    void AssignShortCuts();
    // Where the pointer is over the picture area, in its coordinates.
    std::optional<QPointF> PointerOverPicture() const;
    // Full screen (unless it already is) and a picture every few seconds.
    void StartSlideShow();
    void LoadSettings();
    void SaveSettings();

    // Command handlers
    void acnOpenExecute();
    void FolderMenuClick(QAction *item);
    void acnPrevExecute();
    void acnNextExecute();
    void acnPrev10Execute();
    void acnNext10Execute();
    void acnFirstExecute();
    void acnLastExecute();
    void acnRefreshExecute();
    void acnCopyToClipboardExecute();
    void acnDeleteExecute();
    void acnDeleteWOUndoExecute();
    void acnCopyToFolderExecute();
    void acnMoveToFolderExecute();
    void acnFullScreenExecute();
    void acnSettingsExecute();
    void acnAboutExecute();
    void acnPublishToWebExecute();
    void acnCloseExecute();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    void FormCreate(const QStringList &arguments);
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    void LayOutStatusPanels();
    void PicListChange();
    void AddFolderMenuItem(const QString &folder);
    void DeleteCurrent(bool allowUndo);
    void CopyCurrent(bool move);
    void RemoveCurrentIfGone(const QString &fileName);
    void WaitForWindowToSettle(const WindowStateWatch &watch);

    QWidget *FPanelHost = nullptr;
    int FWheelDelta = 0;
    bool FSettingsSaved = false;
    bool FSlideFullScreen = false;  // the running slide show went full screen
    bool FFoldersLoaded = false;   // the stored recent folders were read whole
};

// The folder a file path opens in: the text up to the last "/", without that
// "/" unless it is the root.
QString FolderToOpen(const QString &folder, const QString &fileName);
