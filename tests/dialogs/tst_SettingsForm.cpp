// Local
#include "AppPaths.h"
#include "FakePrompts.h"
#include "RegLib.h"
#include "SettingsForm.h"
#include "TestFiles.h"

// Qt
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

// The value of a key in a desktop entry file, as written.
QByteArray EntryValue(const QByteArray &entry, const QByteArray &key)
{
    for (const QByteArray &line : entry.split('\n')) {
        if (line.startsWith(key + '='))
            return line.mid(key.size() + 1);
    }
    return {};
}

// Reads an Exec value back the way a desktop reads it: the string escapes
// first, then the quoting of the program (after "env", if there). Returns
// the program path and the rest of the line.
QPair<QString, QString> ParseExec(const QString &value)
{
    QString unescaped;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == u'\\' && i + 1 < value.size()) {
            const QChar next = value[++i];
            unescaped += next == u'n' ? QChar(u'\n') : next == u't' ? QChar(u'\t')
                       : next == u'r' ? QChar(u'\r') : next == u's' ? QChar(u' ') : next;
        } else {
            unescaped += value[i];
        }
    }
    if (unescaped.startsWith(QLatin1String("env ")))
        unescaped.remove(0, 4);
    if (!unescaped.startsWith(u'"')) {
        const qsizetype blank = unescaped.indexOf(u' ');
        return {unescaped.left(blank), unescaped.mid(blank)};
    }
    QString program;
    qsizetype i = 1;
    for (; i < unescaped.size() && unescaped[i] != u'"'; ++i) {
        if (unescaped[i] == u'\\' && i + 1 < unescaped.size())
            ++i;
        else if (unescaped[i] == u'%' && i + 1 < unescaped.size() && unescaped[i + 1] == u'%')
            ++i;
        program += unescaped[i];
    }
    return {program, unescaped.mid(i + 1)};
}

const QByteArray kOurs = "tamsel-photo-editor.desktop";

// Runs a desktop tool the way a session without a known desktop would, and
// returns its output; fails the test when it is missing or fails.
QByteArray RunTool(const QString &tool, const QStringList &args, const QProcessEnvironment &env)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(tool, args);
    if (!p.waitForStarted()) {
        QTest::qFail(qPrintable(tool + QStringLiteral(" did not start; scripts/setup installs it")), __FILE__, __LINE__);
        return {};
    }
    p.waitForFinished(60000);
    if (p.exitCode() != 0)
        QTest::qFail(qPrintable(tool + QStringLiteral(" failed: ") + QString::fromLocal8Bit(p.readAllStandardError())), __FILE__, __LINE__);
    return p.readAllStandardOutput();
}

} // namespace

class tst_SettingsForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void dialogWrites_data();
    void dialogWrites();
    void photoSettingIsStored();
    void slideSecondsAreStored();
    void allFormatsSettingIsStored();
    void reopensUnchecked();
    void keepsTheRestOfMimeApps();
    void desktopExec_data();
    void desktopExec();
    void desktopEntryBytes_data();
    void desktopEntryBytes();
    void withDefaultApplication_data();
    void withDefaultApplication();
    void unwritableLocationIsSkipped();
    void unreadableMimeAppsIsLeftAlone();
    void desktopToolsAgree_data();
    void desktopToolsAgree();

private:
    // Shows the dialog through ShowSettingsForm and lets drive answer it.
    void DriveDialog(const std::function<void(TfrmSettings *)> &drive);
    // Ticks the boxes and closes the dialog; true when both started unticked.
    bool RunDialog(bool bmp, bool jpeg, bool ok);

    QTemporaryDir FHome;
};

void tst_SettingsForm::initTestCase()
{
    // Never the real user's desktop files, whatever started the test.
    QVERIFY(FHome.isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(FHome.filePath(QStringLiteral("data"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(FHome.filePath(QStringLiteral("config"))));
    QVERIFY(DesktopEntryFile().startsWith(FHome.path()));
    QVERIFY(MimeAppsFile().startsWith(FHome.path()));
}

void tst_SettingsForm::init()
{
    QDir(FHome.filePath(QStringLiteral("data"))).removeRecursively();
    QDir(FHome.filePath(QStringLiteral("config"))).removeRecursively();
}

void tst_SettingsForm::DriveDialog(const std::function<void(TfrmSettings *)> &drive)
{
    QTimer poll;
    poll.setInterval(10);
    connect(&poll, &QTimer::timeout, this, [&] {
        auto *form = qobject_cast<TfrmSettings *>(QApplication::activeModalWidget());
        if (!form)
            return;
        poll.stop();
        QTimer::singleShot(5000, form, [form] { form->reject(); });
        drive(form);
    });
    poll.start();
    ShowSettingsForm(nullptr);
}

bool tst_SettingsForm::RunDialog(bool bmp, bool jpeg, bool ok)
{
    bool driven = false;
    DriveDialog([&](TfrmSettings *form) {
        driven = !form->cbxBMP->isChecked() && !form->cbxJPEG->isChecked();
        if (bmp)
            QTest::mouseClick(form->cbxBMP, Qt::LeftButton);
        if (jpeg)
            QTest::mouseClick(form->cbxJPEG, Qt::LeftButton);
        driven = driven && form->cbxBMP->isChecked() == bmp && form->cbxJPEG->isChecked() == jpeg;
        QTest::mouseClick(ok ? form->btnOK : form->btnCancel, Qt::LeftButton);
    });
    return driven;
}

void tst_SettingsForm::dialogWrites_data()
{
    QTest::addColumn<bool>("bmp");
    QTest::addColumn<bool>("jpeg");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("mimeApps");

    const QByteArray both = "[Default Applications]\n"
                            "image/jpeg=tamsel-photo-editor.desktop;\n"
                            "image/bmp=tamsel-photo-editor.desktop;\n";
    QTest::newRow("OK with both") << true << true << true << both;
    QTest::newRow("OK with JPEG") << false << true << true
                                  << QByteArray("[Default Applications]\nimage/jpeg=tamsel-photo-editor.desktop;\n");
    QTest::newRow("OK with none") << false << false << true << QByteArray();
    QTest::newRow("Cancel with both ticked") << true << true << false << QByteArray();
}

void tst_SettingsForm::dialogWrites()
{
    QFETCH(bool, bmp);
    QFETCH(bool, jpeg);
    QFETCH(bool, ok);
    QFETCH(QByteArray, mimeApps);

    FakePrompts prompts;
    QVERIFY(RunDialog(bmp, jpeg, ok));

    // The desktop entry is written however the dialog closed.
    const QByteArray entry = ReadAll(DesktopEntryFile());
    QVERIFY(entry.startsWith("[Desktop Entry]\n"));
    QCOMPARE(EntryValue(entry, "Type"), QByteArray("Application"));
    QVERIFY(!EntryValue(entry, "Name").isEmpty());
    const QPair<QString, QString> exec = ParseExec(QString::fromUtf8(EntryValue(entry, "Exec")));
    QCOMPARE(exec.first, ProgramFile());
    QCOMPARE(exec.second, QStringLiteral(" %f"));
    QVERIFY(EntryValue(entry, "MimeType").contains("image/jpeg;"));
    QVERIFY(EntryValue(entry, "MimeType").contains("image/bmp;"));

    QCOMPARE(QFile::exists(MimeAppsFile()), !mimeApps.isEmpty());
    QCOMPARE(ReadAll(MimeAppsFile()), mimeApps);
    QVERIFY(prompts.messages.isEmpty());
}

void tst_SettingsForm::photoSettingIsStored()
{
    // On by default; the box shows the stored value; OK stores a change,
    // Cancel does not.
    struct Step { bool click; bool ok; bool shown; bool stored; };
    const Step steps[] = {{true, false, true, true}, {true, true, true, false},
                          {false, true, false, false}, {true, true, false, true}};
    QVERIFY(StoredTurnByOrientation());
    for (const Step &step : steps) {
        bool shown = false;
        DriveDialog([&](TfrmSettings *form) {
            shown = form->cbxTurnByOrientation->isChecked();
            if (step.click)
                QTest::mouseClick(form->cbxTurnByOrientation, Qt::LeftButton);
            QTest::mouseClick(step.ok ? form->btnOK : form->btnCancel, Qt::LeftButton);
        });
        QCOMPARE(shown, step.shown);
        QCOMPARE(StoredTurnByOrientation(), step.stored);
    }
}

void tst_SettingsForm::slideSecondsAreStored()
{
    // 3 when nothing is stored, and nothing is stored by an untouched OK;
    // OK stores a change, Cancel does not; a stored value out of range
    // reads as 3.
    struct Step { int typed; bool ok; int shown; int stored; };
    const Step steps[] = {{0, true, 3, 3}, {7, false, 3, 3}, {7, true, 3, 7}, {60, true, 7, 60}};
    for (const Step &step : steps) {
        int shown = 0;
        DriveDialog([&](TfrmSettings *form) {
            shown = form->edtSlideSeconds->value();
            if (step.typed) {
                form->edtSlideSeconds->selectAll();
                QTest::keyClicks(form->edtSlideSeconds, QString::number(step.typed));
            }
            QTest::mouseClick(step.ok ? form->btnOK : form->btnCancel, Qt::LeftButton);
        });
        QCOMPARE(shown, step.shown);
        QCOMPARE(StoredSlideSeconds(), step.stored);
        if (&step == &steps[0])
            QVERIFY(!QFile::exists(RegStoreFile()) || !ReadAll(RegStoreFile()).contains("SlideShowSeconds"));
    }
    OpenRegKey(kAppKey)->WriteInteger(QStringLiteral("SlideShowSeconds"), 0);
    QCOMPARE(StoredSlideSeconds(), 3);
}

void tst_SettingsForm::allFormatsSettingIsStored()
{
    // Off by default and without a value; OK stores a change, Cancel does
    // not; turned off again, the store is as it was before.
    QVERIFY(!StoredAllPictureFormats());
    StoredTurnByOrientation();   // the program's key exists, as after any run
    const QByteArray before = ReadAll(RegStoreFile());
    struct Step { bool click; bool ok; bool shown; bool stored; };
    const Step steps[] = {{true, false, false, false}, {true, true, false, true},
                          {false, true, true, true}, {true, true, true, false}};
    for (const Step &step : steps) {
        bool shown = true;
        DriveDialog([&](TfrmSettings *form) {
            QCOMPARE(form->cbxAllFormats->parentWidget(), form->grpPhotos);
            shown = form->cbxAllFormats->isChecked();
            if (step.click)
                QTest::mouseClick(form->cbxAllFormats, Qt::LeftButton);
            QTest::mouseClick(step.ok ? form->btnOK : form->btnCancel, Qt::LeftButton);
        });
        QCOMPARE(shown, step.shown);
        QCOMPARE(StoredAllPictureFormats(), step.stored);
    }
    QCOMPARE(ReadAll(RegStoreFile()), before);
}

void tst_SettingsForm::reopensUnchecked()
{
    QVERIFY(RunDialog(false, true, true));
    QVERIFY(ReadAll(MimeAppsFile()).contains("image/jpeg=" + kOurs));
    // RunDialog checks that both boxes start unchecked.
    QVERIFY(RunDialog(false, false, false));
}

void tst_SettingsForm::keepsTheRestOfMimeApps()
{
    const QByteArray before = "# my associations\n"
                              "[Added Associations]\n"
                              "image/jpeg=gimp.desktop;\n"
                              "\n"
                              "[Default Applications]\n"
                              "text/plain=org.gnome.TextEditor.desktop;\n"
                              "image/jpeg=org.gnome.eog.desktop;\n"
                              "\n"
                              "[Removed Associations]\n"
                              "image/bmp=paint.desktop;\n";
    WriteFile(MimeAppsFile(), before);
    RegisterFileTypes(ftBMP | ftJPEG);
    QCOMPARE(ReadAll(MimeAppsFile()), QByteArray("# my associations\n"
                                                 "[Added Associations]\n"
                                                 "image/jpeg=gimp.desktop;\n"
                                                 "\n"
                                                 "[Default Applications]\n"
                                                 "text/plain=org.gnome.TextEditor.desktop;\n"
                                                 "image/jpeg=tamsel-photo-editor.desktop;org.gnome.eog.desktop;\n"
                                                 "image/bmp=tamsel-photo-editor.desktop;\n"
                                                 "\n"
                                                 "[Removed Associations]\n"
                                                 "image/bmp=paint.desktop;\n"));

    // A second run finds everything in place and changes nothing.
    const QByteArray after = ReadAll(MimeAppsFile());
    RegisterFileTypes(ftBMP | ftJPEG);
    QCOMPARE(ReadAll(MimeAppsFile()), after);
}

void tst_SettingsForm::desktopExec_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("exec");

    // Unquoted when it can be: xdg-mime takes a quote for part of the name.
    QTest::newRow("plain") << "/usr/bin/tamsel-photo-editor" << "/usr/bin/tamsel-photo-editor %f";
    QTest::newRow("non-ascii") << QString::fromUtf8("/home/j\u00f6rg/t") << QString::fromUtf8("/home/j\u00f6rg/t %f");
    QTest::newRow("blanks") << "/opt/My Apps/tamsel" << "env \"/opt/My Apps/tamsel\" %f";
    QTest::newRow("reserved characters") << "/opt/a&b;c#(d)~/t" << "env \"/opt/a&b;c#(d)~/t\" %f";
    QTest::newRow("percent") << "/opt/100%/tamsel" << "env \"/opt/100%%/tamsel\" %f";
    QTest::newRow("dollar and backtick") << "/opt/$x`y`/t" << "env \"/opt/\\\\$x\\\\`y\\\\`/t\" %f";
    QTest::newRow("backslash") << "/opt/a\\b/t" << "env \"/opt/a\\\\\\\\b/t\" %f";
    QTest::newRow("newline and tab") << "/opt/a\nb\tc/t" << "env \"/opt/a\\nb\\tc/t\" %f";
}

void tst_SettingsForm::desktopExec()
{
    QFETCH(QString, program);
    QFETCH(QString, exec);

    QCOMPARE(DesktopEntryExec(program), exec);
    const QPair<QString, QString> parsed = ParseExec(exec);
    QCOMPARE(parsed.first, program);
    QCOMPARE(parsed.second, QStringLiteral(" %f"));

    // The file written for such a program reads back the same way.
    RegisterFileTypes({}, program);
    QCOMPARE(EntryValue(ReadAll(DesktopEntryFile()), "Exec"), exec.toUtf8());
    QVERIFY(!QFile::exists(MimeAppsFile()));
}

void tst_SettingsForm::desktopEntryBytes_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QByteArray>("execLines");
    QTest::newRow("plain") << "/usr/bin/tamsel-photo-editor" << QByteArray("Exec=/usr/bin/tamsel-photo-editor %f\n");
    QTest::newRow("with TryExec") << "/opt/My Apps/t"
                                  << QByteArray("Exec=env \"/opt/My Apps/t\" %f\nTryExec=/opt/My Apps/t\n");
}

// The whole entry as the dialog has always written it.
void tst_SettingsForm::desktopEntryBytes()
{
    QFETCH(QString, program);
    QFETCH(QByteArray, execLines);
    RegisterFileTypes({}, program);
    QCOMPARE(ReadAll(DesktopEntryFile()),
             "[Desktop Entry]\n"
             "Type=Application\n"
             "Name=Tamsel Photo Editor\n"
             "GenericName=Picture Viewer\n"
             "Comment=View pictures and make web galleries\n"
             + execLines
             + "Icon=tamsel-photo-editor\n"
               "Terminal=false\n"
               "Categories=Graphics;Viewer;Photography;\n"
               "MimeType=image/jpeg;image/bmp;image/x-icon;image/vnd.microsoft.icon;"
               "image/wmf;image/x-wmf;image/emf;image/x-emf;\n");
}

void tst_SettingsForm::withDefaultApplication_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("empty file")
        << QByteArray()
        << QByteArray("[Default Applications]\nimage/jpeg=" + kOurs + ";\n");
    QTest::newRow("other sections only")
        << QByteArray("[Added Associations]\ntext/html=firefox.desktop;\n")
        << QByteArray("[Added Associations]\ntext/html=firefox.desktop;\n\n[Default Applications]\nimage/jpeg=" + kOurs + ";\n");
    QTest::newRow("key added at the end of its section")
        << QByteArray("[Default Applications]\n# browsers\ntext/html=firefox.desktop;\n\n\n[Added Associations]\nx/y=z.desktop;\n")
        << QByteArray("[Default Applications]\n# browsers\ntext/html=firefox.desktop;\nimage/jpeg=" + kOurs + ";\n\n\n[Added Associations]\nx/y=z.desktop;\n");
    QTest::newRow("others kept after ours")
        << QByteArray("[Default Applications]\nimage/jpeg=a.desktop;b.desktop;\n")
        << QByteArray("[Default Applications]\nimage/jpeg=" + kOurs + ";a.desktop;b.desktop;\n");
    QTest::newRow("ours moved to the front")
        << QByteArray("[Default Applications]\nimage/jpeg=a.desktop;" + kOurs + ";b.desktop\n")
        << QByteArray("[Default Applications]\nimage/jpeg=" + kOurs + ";a.desktop;b.desktop;\n");
    QTest::newRow("same key in another section untouched")
        << QByteArray("[Added Associations]\nimage/jpeg=a.desktop;\n[Default Applications]\n")
        << QByteArray("[Added Associations]\nimage/jpeg=a.desktop;\n[Default Applications]\nimage/jpeg=" + kOurs + ";\n");
    QTest::newRow("similar key untouched")
        << QByteArray("[Default Applications]\nimage/jpeg2=a.desktop;\n")
        << QByteArray("[Default Applications]\nimage/jpeg2=a.desktop;\nimage/jpeg=" + kOurs + ";\n");
    QTest::newRow("crlf file keeps its line ends")
        << QByteArray("[Default Applications]\r\nimage/jpeg=a.desktop;\r\ntext/html=b.desktop;\r\n")
        << QByteArray("[Default Applications]\r\nimage/jpeg=" + kOurs + ";a.desktop;\r\ntext/html=b.desktop;\r\n");
    QTest::newRow("bytes that are not utf-8 survive")
        << QByteArray("# caf\xe9\n[Default Applications]\n")
        << QByteArray("# caf\xe9\n[Default Applications]\nimage/jpeg=" + kOurs + ";\n");
}

void tst_SettingsForm::withDefaultApplication()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);

    QCOMPARE(WithDefaultApplication(before, "image/jpeg"), after);
    // Applying it twice changes nothing more.
    QCOMPARE(WithDefaultApplication(after, "image/jpeg"), after);
}

void tst_SettingsForm::unwritableLocationIsSkipped()
{
    FakePrompts prompts;
    // A plain file where the applications folder should be.
    const QString folder = QFileInfo(DesktopEntryFile()).absolutePath();
    WriteFile(folder, "not a folder");
    // No box, but the caller learns what and why, for its status bar.
    QCOMPARE(RegisterFileTypes(ftJPEG), QStringLiteral("Cannot create folder %1: Not a directory").arg(folder));
    QVERIFY(!QFile::exists(DesktopEntryFile()));
    QCOMPARE(ReadAll(MimeAppsFile()), QByteArray("[Default Applications]\nimage/jpeg=" + kOurs + ";\n"));
    QVERIFY(prompts.messages.isEmpty());
}

void tst_SettingsForm::unreadableMimeAppsIsLeftAlone()
{
    const QByteArray before = "[Default Applications]\ntext/html=firefox.desktop;\n";
    WriteFile(MimeAppsFile(), before);
    QFile::setPermissions(MimeAppsFile(), QFile::WriteOwner);
    QFile probe(MimeAppsFile());
    if (probe.open(QIODevice::ReadOnly))
        QSKIP("Running with rights that read any file.");

    RegisterFileTypes(ftJPEG | ftBMP);
    QFile::setPermissions(MimeAppsFile(), QFile::ReadOwner | QFile::WriteOwner);
    QCOMPARE(ReadAll(MimeAppsFile()), before);
    QVERIFY(QFile::exists(DesktopEntryFile()));
}

void tst_SettingsForm::desktopToolsAgree_data()
{
    QTest::addColumn<QString>("folder"); // where a copy of the program lies, "" for the dialog
    QTest::newRow("the dialog, program as built") << QString();
    QTest::newRow("folder with a blank") << "My Apps";
    QTest::newRow("folder with shell characters") << "100% $x & 'y'";
}

void tst_SettingsForm::desktopToolsAgree()
{
    QFETCH(QString, folder);
    // Another viewer installed for both types: a desktop that cannot use
    // our entry names it instead (without it xdg-mime falls back to any
    // entry listing the type, ours included).
    const QString system = FHome.filePath(QStringLiteral("system"));
    WriteFile(system + QStringLiteral("/applications/other-viewer.desktop"),
              "[Desktop Entry]\nType=Application\nName=Other\nExec=true %f\nMimeType=image/jpeg;image/bmp;\n");
    WriteFile(system + QStringLiteral("/applications/mimeinfo.cache"),
              "[MIME Cache]\nimage/jpeg=other-viewer.desktop;\nimage/bmp=other-viewer.desktop;\n");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_DIRS"), system + QStringLiteral(":/usr/share"));
    env.insert(QStringLiteral("XDG_CONFIG_DIRS"), system);
    env.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("X-Generic"));

    if (folder.isEmpty()) {
        QVERIFY(RunDialog(true, true, true));
    } else {
        const QString program = FHome.filePath(folder + QStringLiteral("/tamsel-photo-editor"));
        QVERIFY(QDir().mkpath(QFileInfo(program).absolutePath()));
        QVERIFY(QFile::copy(ProgramFile(), program));
        RegisterFileTypes(ftJPEG | ftBMP, program);
    }

    RunTool(QStringLiteral("desktop-file-validate"), {DesktopEntryFile()}, env);
    for (const QString &type : {QStringLiteral("image/jpeg"), QStringLiteral("image/bmp")}) {
        QCOMPARE(RunTool(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"), type}, env),
                 kOurs + '\n');
        const QByteArray gio = RunTool(QStringLiteral("gio"), {QStringLiteral("mime"), type}, env);
        QVERIFY2(gio.left(gio.indexOf('\n')).endsWith(": " + kOurs), gio.constData());
    }
    if (folder.isEmpty())
        return;
    // A program that is gone no longer counts, also behind env.
    QVERIFY(QFile::remove(FHome.filePath(folder + QStringLiteral("/tamsel-photo-editor"))));
    const QByteArray gio = RunTool(QStringLiteral("gio"), {QStringLiteral("mime"), QStringLiteral("image/jpeg")}, env);
    QVERIFY2(gio.startsWith("Default application") && gio.left(gio.indexOf('\n')).endsWith(": other-viewer.desktop"),
             gio.constData());
}

QTEST_MAIN(tst_SettingsForm)
#include "tst_SettingsForm.moc"
