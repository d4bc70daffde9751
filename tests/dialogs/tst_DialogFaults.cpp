// Local
#include "AppError.h"
#include "CopyForm.h"
#include "FakePrompts.h"
#include "FaultSweep.h"
#include "FileIo.h"
#include "RegLib.h"
#include "SettingsForm.h"
#include "TestFiles.h"

// Qt
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

// Std
#include <memory>

// System
#include <unistd.h>

namespace {

// The error and warning boxes of a run.
QStringList BoxesOf(const std::function<void()> &f)
{
    return ::BoxesOf(f, {QMessageBox::Critical, QMessageBox::Warning});
}

} // namespace

// The writes the dialogs make: the copy dialog's history and new
// destination folder, the file associations.
class tst_DialogFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void everyWriteFails_data();
    void everyWriteFails();

private:
    std::unique_ptr<QTemporaryDir> FDir;
    QString FConfig;
    QString FData;
};

void tst_DialogFaults::initTestCase()
{
    // Many flushes: in memory when there is a memory file system.
    FDir = SweepFolder(QStringLiteral("tamsel-dialog-faults"), QDir::homePath());
    QVERIFY(FDir->isValid());
    FConfig = FDir->filePath(QStringLiteral("config"));
    FData = FDir->filePath(QStringLiteral("data"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(FConfig));
    qputenv("XDG_DATA_HOME", QFile::encodeName(FData));
    QVERIFY(RegStoreFile().startsWith(FConfig) && DesktopEntryFile().startsWith(FData));
}

void tst_DialogFaults::cleanup()
{
    FileFaults::Disarm();
}

void tst_DialogFaults::everyWriteFails_data()
{
    QTest::addColumn<QString>("operation");
    QTest::newRow("copy dialog history") << "history";
    QTest::newRow("copy into a new folder") << "new folder";
    QTest::newRow("file associations, first time") << "associations first";
    QTest::newRow("file associations") << "associations";
}

void tst_DialogFaults::everyWriteFails()
{
    QFETCH(QString, operation);
    const QString folders = FDir->filePath(QStringLiteral("folders"));
    const QString source = FDir->filePath(QStringLiteral("src/pic.jpg"));
    FaultSweep sweep;

    if (operation == QLatin1String("history")) {
        const QString storeFolder = QFileInfo(RegStoreFile()).absolutePath();
        sweep.folders = {storeFolder};
        sweep.names = {RegStoreFile()};
        sweep.prepare = [=, this] {
            QDir(storeFolder).removeRecursively();
            QDir(folders).removeRecursively();
            for (const char *name : {"a", "b", "c"})
                QVERIFY(QDir().mkpath(folders + u'/' + QLatin1String(name)));
            WriteRegString(kAppKey, QStringLiteral("LastDestFolder"), folders + QStringLiteral("/a"));
            RewriteRegStringList(kDestFoldersKey, {folders + QStringLiteral("/a"), folders + QStringLiteral("/b")}, 31);
        };
        const auto save = [=, this](bool whole) {
            TfrmCopy form;
            form.LoadDestFolders();
            form.cbxDest->setEditText(folders + QStringLiteral("/c"));
            if (whole)
                form.SaveDestFolders();
            else
                WriteRegString(kAppKey, QStringLiteral("LastDestFolder"), form.cbxDest->currentText());
        };
        sweep.run = [=, this] { return BoxesOf([&] { save(true); }); };
        // The last destination is stored before the history.
        sweep.partials = {[=, this] { save(false); }};
    } else if (operation == QLatin1String("new folder")) {
        const QString dest = folders + QStringLiteral("/new/deeper");
        sweep.folders = {QFileInfo(source).absolutePath(), folders};
        sweep.names = {folders};
        sweep.prepare = [=, this] {
            QDir(folders).removeRecursively();
            QVERIFY(QDir().mkpath(folders));
            WriteFile(source, QByteArray(100000, 'p'));
        };
        sweep.run = [=, this] { return BoxesOf([&] { ShellCopyFile(nullptr, source, dest, false); }); };
    } else {
        const bool first = operation == QLatin1String("associations first");
        const QString program = FDir->filePath(QStringLiteral("bin/tamsel-photo-editor"));
        sweep.folders = {FConfig, FData};
        sweep.names = {FConfig, FData};
        sweep.prepare = [=, this] {
            QDir(FConfig).removeRecursively();
            QDir(FData).removeRecursively();
            if (!first) {
                WriteFile(DesktopEntryFile(), "[Desktop Entry]\nExec=/old/tamsel-photo-editor %f\n");
                WriteFile(MimeAppsFile(), "[Default Applications]\ntext/html=firefox.desktop;\n");
            }
        };
        sweep.run = [=, this] {
            const QString failure = RegisterFileTypes(ftJPEG | ftBMP, program);
            return failure.isEmpty() ? QStringList() : QStringList{failure};
        };
    }

    const int points = RunFaultSweep(sweep);
    qInfo("%d fault points", points);
}

QTEST_MAIN(tst_DialogFaults)
#include "tst_DialogFaults.moc"
