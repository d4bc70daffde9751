// Local
#include "AppError.h"
#include "FakePrompts.h"
#include "PathDialog.h"

// Qt
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// Std
#include <stdexcept>

class tst_PathDialog : public QObject
{
    Q_OBJECT

private slots:
    void directoryIsNormalised_data();
    void directoryIsNormalised();
    void execute_data();
    void execute();
    void whileOpen_data();
    void whileOpen();
    void handlerErrorsStayInside_data();
    void handlerErrorsStayInside();
    void realDialog();
};

void tst_PathDialog::directoryIsNormalised_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("stored");
    QTest::newRow("root kept") << "/" << "/";
    QTest::newRow("one slash dropped") << "/photos/" << "/photos";
    QTest::newRow("only one slash dropped") << "/photos//" << "/photos/";
    QTest::newRow("plain") << "/photos" << "/photos";
    QTest::newRow("blank kept") << "/photos " << "/photos ";
    QTest::newRow("empty is the current directory") << "" << QDir::currentPath();
}

void tst_PathDialog::directoryIsNormalised()
{
    QFETCH(QString, value);
    QFETCH(QString, stored);
    FakePrompts prompts;
    TPathDialog dialog;
    dialog.SetDirectory(value);
    QCOMPARE(dialog.Directory(), stored);
    // Closed: nothing is sent to a dialog.
    QVERIFY(prompts.folderSelections.isEmpty());
}

void tst_PathDialog::execute_data()
{
    QTest::addColumn<TRootItem>("root");
    QTest::addColumn<bool>("makeDesktop");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("expected");
    QTest::newRow("chosen, kept as returned") << riMyComputer << false << "/media/card/" << "/media/card/";
    QTest::newRow("root chosen") << riMyComputer << false << "/" << "/";
    QTest::newRow("cancelled") << riMyComputer << false << "" << "/start";
    QTest::newRow("desktop root") << riDesktop << true << "/x" << "/x";
    QTest::newRow("no desktop folder") << riDesktop << false << "/x" << "/x";
}

void tst_PathDialog::execute()
{
    QFETCH(TRootItem, root);
    QFETCH(bool, makeDesktop);
    QFETCH(QString, answer);
    QFETCH(QString, expected);
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    QVERIFY(!desktop.isEmpty());
    if (makeDesktop)
        QVERIFY(QDir().mkpath(desktop));
    else
        QDir(desktop).removeRecursively();

    FakePrompts prompts;
    prompts.folderAnswers << answer;
    QWidget owner;
    TPathDialog dialog(&owner);
    dialog.Title = QStringLiteral("Select the destination folder");
    dialog.RootItem = root;
    dialog.SetDirectory(QStringLiteral("/start/"));
    QCOMPARE(dialog.Execute(), !answer.isEmpty());
    QCOMPARE(dialog.Directory(), expected);

    QCOMPARE(prompts.folderRequests.size(), 1);
    const FolderRequest &r = prompts.folderRequests.first();
    QCOMPARE(r.owner, &owner);
    QCOMPARE(r.title, QStringLiteral("Select the destination folder"));
    QCOMPARE(r.directory, QStringLiteral("/start"));
    QCOMPARE(r.rootPath, root == riMyComputer ? QStringLiteral("/") : makeDesktop ? desktop : QDir::homePath());
    QVERIFY(!r.showStatus);
    // The dialog came up at the stored folder.
    QCOMPARE(prompts.folderSelections, QStringList{"/start"});
}

void tst_PathDialog::whileOpen_data()
{
    QTest::addColumn<bool>("showStatus");
    QTest::newRow("with status line") << true;
    QTest::newRow("without status line") << false;
}

void tst_PathDialog::whileOpen()
{
    QFETCH(bool, showStatus);
    FakePrompts prompts;
    TPathDialog dialog;
    dialog.ShowStatus = showStatus;
    dialog.SetStatusText(QStringLiteral("Pick one"));
    dialog.SetDirectory(QStringLiteral("/photos"));
    QList<TPathDialog *> shown;
    QStringList selected;
    dialog.OnShow = [&](TPathDialog *sender) { shown << sender; };
    dialog.OnSelect = [&](TPathDialog *sender, const QString &path) {
        selected << path;
        sender->SetStatusText(path.isEmpty() ? QStringLiteral("No folder") : QStringLiteral("Folder ") + path);
        if (path == QLatin1String("/jump"))
            sender->SetDirectory(QStringLiteral("/elsewhere/"));
    };
    prompts.whileFolderOpen = [](FolderRequest &request, FolderDialogHandle *) {
        request.onSelect(QStringLiteral("/a"));
        request.onSelect(QString());
        request.onSelect(QStringLiteral("/jump"));
    };
    QVERIFY(!dialog.Execute());

    QCOMPARE(prompts.folderRequests.first().showStatus, showStatus);
    QCOMPARE(shown, QList<TPathDialog *>{&dialog});
    QCOMPARE(selected, (QStringList{"/a", "", "/jump"}));
    QCOMPARE(prompts.folderSelections, (QStringList{"/photos", "/elsewhere"}));
    const QStringList statusShown{"Pick one", "Folder /a", "No folder", "Folder /jump"};
    QCOMPARE(prompts.folderStatusTexts, showStatus ? statusShown : QStringList());
    QCOMPARE(dialog.StatusText(), QStringLiteral("Folder /jump"));

    // Closed again: writes only store.
    dialog.SetDirectory(QStringLiteral("/later"));
    dialog.SetStatusText(QStringLiteral("later"));
    QCOMPARE(prompts.folderSelections.size(), 2);
    QCOMPARE(prompts.folderStatusTexts.size(), showStatus ? 4 : 0);
}

void tst_PathDialog::handlerErrorsStayInside_data()
{
    QTest::addColumn<bool>("appError");
    QTest::addColumn<bool>("inOnShow");
    QTest::newRow("program error in OnSelect") << true << false;
    QTest::newRow("other error in OnSelect") << false << false;
    QTest::newRow("program error in OnShow") << true << true;
    QTest::newRow("other error in OnShow") << false << true;
}

void tst_PathDialog::handlerErrorsStayInside()
{
    QFETCH(bool, appError);
    QFETCH(bool, inOnShow);
    FakePrompts prompts;
    TPathDialog dialog;
    int selections = 0;
    const auto raise = [appError] {
        if (appError)
            throw AppError(QStringLiteral("Not a folder for pictures"));
        throw std::runtime_error("lost");
    };
    if (inOnShow)
        dialog.OnShow = [&](TPathDialog *) { raise(); };
    dialog.OnSelect = [&](TPathDialog *, const QString &) {
        ++selections;
        if (!inOnShow)
            raise();
    };
    prompts.whileFolderOpen = [](FolderRequest &request, FolderDialogHandle *) {
        request.onSelect(QStringLiteral("/a"));
        request.onSelect(QStringLiteral("/b"));
    };
    prompts.folderAnswers << QStringLiteral("/b");
    QVERIFY(dialog.Execute());
    QCOMPARE(dialog.Directory(), QStringLiteral("/b"));
    QCOMPARE(selections, 2);
    const int boxes = appError ? (inOnShow ? 1 : 2) : 0;
    QCOMPARE(prompts.messages.size(), boxes);
    for (const FakePrompts::Message &m : prompts.messages) {
        QCOMPARE(m.icon, QMessageBox::NoIcon);
        QCOMPARE(m.caption, QCoreApplication::applicationName());
        QCOMPARE(m.text, QStringLiteral("Not a folder for pictures"));
        QCOMPARE(m.buttons, QMessageBox::Ok);
    }
}

void tst_PathDialog::realDialog()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("pictures/2024")));
    const QString start = dir.filePath(QStringLiteral("pictures/2024"));
    QString seenDirectory;
    QString seenStatus;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    bool onShowRan = false;
    QTimer poll;
    poll.setInterval(10);
    connect(&poll, &QTimer::timeout, this, [&] {
        auto *d = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!d || !onShowRan)
            return;
        poll.stop();
        seenDirectory = d->directory().absolutePath();
        if (auto *status = d->findChild<QLabel *>(QStringLiteral("statusText")))
            seenStatus = status->text();
        mode = d->fileMode();
        QMetaObject::invokeMethod(d, "accept");
    });
    poll.start();

    TPathDialog dialog;
    dialog.Title = QStringLiteral("Select a destination folder");
    dialog.ShowStatus = true;
    dialog.SetStatusText(QStringLiteral("Where the gallery goes"));
    dialog.SetDirectory(start + u'/');
    dialog.OnShow = [&](TPathDialog *) { onShowRan = true; };
    QVERIFY(dialog.Execute());
    QCOMPARE(dialog.Directory(), start);
    QCOMPARE(seenDirectory, start);
    QCOMPARE(seenStatus, QStringLiteral("Where the gallery goes"));
    QCOMPARE(mode, QFileDialog::Directory);
}

QTEST_MAIN(tst_PathDialog)
#include "tst_PathDialog.moc"
