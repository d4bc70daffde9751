// Local
#include "AppError.h"
#include "CopyForm.h"
#include "FakePrompts.h"
#include "RegLib.h"

// Qt
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// Std
#include <functional>
#include <memory>

namespace {

// Runs action on the copy dialog once exec() has it up.
void WhenCopyFormOpens(const std::function<void(TfrmCopy *)> &action)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, action] {
        if (auto *form = qobject_cast<TfrmCopy *>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            action(form);
        }
    });
    timer->start();
}

QStringList Items(const QComboBox *box)
{
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

// The stored destination history, "0" up to the first missing value.
QStringList StoredHistory()
{
    TRegistry reg;
    QStringList list;
    if (!reg.OpenKey(kDestFoldersKey, false))
        return list;
    for (int i = 0; reg.ValueExists(QString::number(i)); ++i)
        list << reg.ReadString(QString::number(i));
    return list;
}

void StoreHistory(const QStringList &folders)
{
    for (int i = 0; i < folders.size(); ++i)
        WriteRegString(kDestFoldersKey, QString::number(i), folders.at(i));
}

QString LastDest()
{
    TRegistry reg;
    return reg.OpenKey(kAppKey, false) && reg.ValueExists(QStringLiteral("LastDestFolder"))
               ? reg.ReadString(QStringLiteral("LastDestFolder"))
               : QStringLiteral("<none>");
}

QStringList Prefixed(const QString &root, const QStringList &names)
{
    QStringList list;
    for (const QString &n : names)
        list << (n.startsWith(u'/') || n.isEmpty() ? n : root + u'/' + n);
    return list;
}

} // namespace

class tst_CopyForm : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void dialogAsShown_data();
    void dialogAsShown();
    void loadDestFolders_data();
    void loadDestFolders();
    void saveDestFolders_data();
    void saveDestFolders();
    void historyOf32Entries();
    void selectFolderButton_data();
    void selectFolderButton();
    void shellCopyFile_data();
    void shellCopyFile();

private:
    std::unique_ptr<QTemporaryDir> FRoot;
    QString FSource;
    QByteArray FOldConfig;
};

void tst_CopyForm::init()
{
    FRoot = std::make_unique<QTemporaryDir>();
    QVERIFY(FRoot->isValid());
    FOldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(FRoot->filePath(QStringLiteral("config"))));
    for (const char *folder : {"src", "a", "B", "c", "photos"})
        QVERIFY(QDir(FRoot->path()).mkdir(QLatin1String(folder)));
    FSource = FRoot->filePath(QStringLiteral("src/pic.jpg"));
    QFile f(FSource);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("picture bytes");
}

void tst_CopyForm::cleanup()
{
    qputenv("XDG_CONFIG_HOME", FOldConfig);
    FRoot.reset();
}

void tst_CopyForm::dialogAsShown_data()
{
    QTest::addColumn<bool>("move");
    QTest::addColumn<QString>("close"); // "ok", "enter", "cancel", "escape"
    QTest::newRow("copy, OK") << false << "ok";
    QTest::newRow("move, Enter") << true << "enter";
    QTest::newRow("copy, Cancel") << false << "cancel";
    QTest::newRow("move, Escape") << true << "escape";
}

void tst_CopyForm::dialogAsShown()
{
    QFETCH(bool, move);
    QFETCH(QString, close);
    const QString dest = FRoot->filePath(QStringLiteral("photos"));
    FakePrompts prompts;
    QString caption;
    QString source;
    bool sourceReadOnly = false;
    bool focusInDest = false;
    bool okIsDefault = false;
    WhenCopyFormOpens([&](TfrmCopy *form) {
        caption = form->windowTitle();
        source = form->edtSource->text();
        sourceReadOnly = form->edtSource->isReadOnly() && !(form->edtSource->focusPolicy() & Qt::TabFocus);
        focusInDest = QTest::qWaitFor([form] { return form->cbxDest->hasFocus(); });
        okIsDefault = form->btnOK->isDefault();
        QTest::keyClicks(form->cbxDest, dest);
        if (close == QLatin1String("ok"))
            QTest::mouseClick(form->btnOK, Qt::LeftButton);
        else if (close == QLatin1String("enter"))
            QTest::keyClick(form->cbxDest, Qt::Key_Return);
        else if (close == QLatin1String("cancel"))
            QTest::mouseClick(form->btnCancel, Qt::LeftButton);
        else
            QTest::keyClick(form->cbxDest, Qt::Key_Escape);
    });
    ShowCopyForm(nullptr, FSource, move);

    QCOMPARE(caption, move ? QStringLiteral("Move File") : QStringLiteral("Copy File"));
    QCOMPARE(source, FSource);
    QVERIFY(sourceReadOnly);
    QVERIFY(focusInDest);
    QVERIFY(okIsDefault);
    const bool accepted = close == QLatin1String("ok") || close == QLatin1String("enter");
    QCOMPARE(QFile::exists(dest + QStringLiteral("/pic.jpg")), accepted);
    QCOMPARE(QFile::exists(FSource), !(accepted && move));
    QCOMPARE(LastDest(), accepted ? dest : QStringLiteral("<none>"));
    QCOMPARE(StoredHistory(), accepted ? QStringList{dest} : QStringList());
    QVERIFY(prompts.messages.isEmpty());
}

void tst_CopyForm::loadDestFolders_data()
{
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QString>("last");
    QTest::addColumn<QStringList>("items");
    QTest::newRow("nothing stored") << QStringList() << "" << QStringList();
    QTest::newRow("deleted folder skipped") << QStringList{"a", "B", "gone", "c", "photos"} << "a"
                                            << QStringList{"a", "B", "c", "photos"};
    QTest::newRow("sorted ignoring case") << QStringList{"c", "B", "a"} << "" << QStringList{"a", "B", "c"};
    QTest::newRow("empty value ends the list") << QStringList{"a", "", "c"} << "" << QStringList{"a"};
    QTest::newRow("last destination shown though missing") << QStringList{"a"} << "/nowhere/at all "
                                                           << QStringList{"a"};
}

void tst_CopyForm::loadDestFolders()
{
    QFETCH(QStringList, stored);
    QFETCH(QString, last);
    QFETCH(QStringList, items);
    const QString root = FRoot->path();
    StoreHistory(Prefixed(root, stored));
    if (!last.isEmpty())
        WriteRegString(kAppKey, QStringLiteral("LastDestFolder"), Prefixed(root, {last}).first());
    TfrmCopy form;
    form.LoadDestFolders();
    QCOMPARE(Items(form.cbxDest), Prefixed(root, items));
    QCOMPARE(form.cbxDest->currentText(), last.isEmpty() ? QString() : Prefixed(root, {last}).first());
}

void tst_CopyForm::saveDestFolders_data()
{
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("history");
    QTest::addColumn<QString>("last");
    QTest::newRow("added at its place") << QStringList{"a", "c"} << "B" << QStringList{"a", "B", "c"} << "B";
    QTest::newRow("vanished folder dropped") << QStringList{"a", "gone", "c"} << "a" << QStringList{"a", "c"} << "a";
    QTest::newRow("already listed") << QStringList{"a", "B"} << "B" << QStringList{"a", "B"} << "B";
    // Linux folders that differ only in case are different folders.
    QTest::newRow("differs only in case") << QStringList{"photos"} << "PHOTOS" << QStringList{"PHOTOS", "photos"}
                                          << "PHOTOS";
    QTest::newRow("trailing blank kept") << QStringList{"a"} << "c " << QStringList{"a", "c "} << "c ";
    QTest::newRow("blank not stored") << QStringList{"a"} << "  " << QStringList{"a"} << "<previous>";
    QTest::newRow("empty not stored") << QStringList{"a"} << "" << QStringList{"a"} << "<previous>";
}

void tst_CopyForm::saveDestFolders()
{
    QFETCH(QStringList, stored);
    QFETCH(QString, typed);
    QFETCH(QStringList, history);
    QFETCH(QString, last);
    const QString root = FRoot->path();
    StoreHistory(Prefixed(root, stored));
    WriteRegString(kAppKey, QStringLiteral("LastDestFolder"), QStringLiteral("<previous>"));
    TfrmCopy form;
    form.LoadDestFolders();
    form.cbxDest->clearEditText();
    const QString text = typed.trimmed().isEmpty() ? typed : root + u'/' + typed;
    QTest::keyClicks(form.cbxDest, text);
    QCOMPARE(form.cbxDest->currentText(), text);
    form.SaveDestFolders();
    QCOMPARE(form.cbxDest->currentText(), text);
    QCOMPARE(StoredHistory(), Prefixed(root, history));
    QCOMPARE(LastDest(), last == QLatin1String("<previous>") ? last : root + u'/' + last);
}

void tst_CopyForm::historyOf32Entries()
{
    QStringList folders;
    for (int i = 0; i < 32; ++i) {
        const QString name = QStringLiteral("f%1").arg(i, 2, 10, QLatin1Char('0'));
        QVERIFY(QDir(FRoot->path()).mkdir(name));
        folders << FRoot->filePath(name);
    }
    StoreHistory(folders.mid(0, 31));
    {
        TfrmCopy form;
        form.LoadDestFolders();
        QCOMPARE(form.cbxDest->count(), 31);
        form.cbxDest->setEditText(folders.last());
        form.SaveDestFolders();
    }
    QCOMPARE(StoredHistory(), folders);
    TfrmCopy next;
    next.LoadDestFolders();
    QCOMPARE(Items(next.cbxDest), folders.mid(0, 31));
}

void tst_CopyForm::selectFolderButton_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("preset");
    QTest::addColumn<QString>("result");
    QTest::newRow("empty, cancelled") << "" << "" << "/" << "";
    QTest::newRow("blank, cancelled") << "   " << "" << "/" << "   ";
    QTest::newRow("folder, cancelled") << "/photos/" << "" << "/photos" << "/photos/";
    QTest::newRow("folder, chosen") << "/photos/ " << "/media/card/" << "/photos/ " << "/media/card/";
}

void tst_CopyForm::selectFolderButton()
{
    QFETCH(QString, text);
    QFETCH(QString, answer);
    QFETCH(QString, preset);
    QFETCH(QString, result);
    FakePrompts prompts;
    prompts.folderAnswers << answer;
    TfrmCopy form;
    form.show();
    QApplication::setActiveWindow(&form);
    QVERIFY(QTest::qWaitForWindowActive(&form));
    form.cbxDest->setEditText(text);
    form.btnSelectFolder->setFocus();
    QTest::mouseClick(form.btnSelectFolder, Qt::LeftButton);

    QCOMPARE(prompts.folderRequests.size(), 1);
    QCOMPARE(prompts.folderRequests.first().title, QStringLiteral("Select the destination folder"));
    QCOMPARE(prompts.folderRequests.first().directory, preset);
    QCOMPARE(prompts.folderRequests.first().rootPath, QStringLiteral("/"));
    QCOMPARE(form.cbxDest->currentText(), result);
    QTRY_VERIFY(form.cbxDest->hasFocus());
}

void tst_CopyForm::shellCopyFile_data()
{
    QTest::addColumn<QString>("dest");     // relative to the test folder; "" stays empty
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<QString>("question"); // "" when none
    QTest::addColumn<QString>("warning");
    QTest::addColumn<QString>("error");
    QTest::addColumn<bool>("copied");
    const QString create = QStringLiteral(" folder does not exist. Create it?");
    QTest::newRow("existing folder") << "photos" << QMessageBox::NoButton << "" << "" << "" << true;
    QTest::newRow("missing, yes") << "new/deep/er" << QMessageBox::Yes << "new/deep/er" + create << "" << "" << true;
    QTest::newRow("missing, cancel") << "new" << QMessageBox::Cancel << "new" + create << "" << "" << false;
    QTest::newRow("cannot be created") << "src/pic.jpg/sub" << QMessageBox::Yes << "src/pic.jpg/sub" + create
                                       << "Unable to create the destination folder.\nsrc/pic.jpg/sub: Not a directory"
                                       << "" << false;
    QTest::newRow("empty, yes") << "" << QMessageBox::Yes << create << "" << "Unable to create directory" << false;
    QTest::newRow("empty, cancel") << "" << QMessageBox::Cancel << create << "" << "" << false;
}

void tst_CopyForm::shellCopyFile()
{
    QFETCH(QString, dest);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(QString, question);
    QFETCH(QString, warning);
    QFETCH(QString, error);
    QFETCH(bool, copied);
    const QString root = FRoot->path() + u'/';
    const QString folder = dest.isEmpty() ? dest : root + dest;
    FakePrompts prompts;
    if (answer != QMessageBox::NoButton)
        prompts.answers << answer;
    QString raised;
    try {
        ShellCopyFile(nullptr, FSource, folder, false);
    } catch (const AppError &e) {
        raised = e.message();
    }
    QCOMPARE(raised, error);
    QStringList expected;
    if (!question.isEmpty())
        expected << (dest.isEmpty() ? question : root + question);
    if (!warning.isEmpty())
        expected << (warning.contains(u'\n') ? warning.replace(u'\n', u'\n' + root) : warning);
    QCOMPARE(prompts.messageTexts(), expected);
    if (!question.isEmpty()) {
        QCOMPARE(prompts.messages.first().caption, QStringLiteral("Confirm"));
        QCOMPARE(prompts.messages.first().buttons, QMessageBox::Yes | QMessageBox::Cancel);
    }
    if (!warning.isEmpty())
        QCOMPARE(prompts.messages.last().caption, QStringLiteral("Warning"));
    QCOMPARE(QFile::exists(folder + QStringLiteral("/pic.jpg")), copied);
    QVERIFY(QFile::exists(FSource));
    if (answer == QMessageBox::Cancel && !dest.isEmpty())
        QVERIFY(!QFile::exists(folder));
}

QTEST_MAIN(tst_CopyForm)
#include "tst_CopyForm.moc"
