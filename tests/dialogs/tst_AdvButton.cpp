// Local
#include "AdvButton.h"
#include "AppError.h"
#include "FakePrompts.h"
#include "TamselConfig.h"

// Qt
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

namespace {

const QString kPrefix = QStringLiteral("http://" TAMSEL_SEARCH_HOST "/search.php?aid=" TAMSEL_SEARCH_AID);

// The menu as one list: captions as sent, "-" for a separator.
QStringList MenuEntries(const QMenu *menu)
{
    QStringList entries;
    for (const QAction *action : menu->actions())
        entries << (action->isSeparator() ? QStringLiteral("-") : action->data().toString());
    return entries;
}

} // namespace

class tst_AdvButton : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void menuFromWordFile_data();
    void menuFromWordFile();
    void captionsShowExactly();
    void searchAddress_data();
    void searchAddress();
    void choosingAnEntryOpensItsSearch();
    void clickPopsMenuBelowButton();
    void unreadableWordFile_data();
    void unreadableWordFile();
    void clickWithoutWordFileDoesNothing();
    void installedWordList();

private:
    QString WriteWords(const QByteArray &content);
    QTemporaryDir FDir;
};

void tst_AdvButton::init()
{
    QVERIFY(FDir.isValid());
}

QString tst_AdvButton::WriteWords(const QByteArray &content)
{
    const QString name = FDir.filePath(QStringLiteral("words.dat"));
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(name));
    return name;
}

void tst_AdvButton::menuFromWordFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("entries");

    QTest::newRow("separator, empty line, blanks around")
        << QByteArray("digital camera\n-\n\n   tripod   \n")
        << QStringList{"digital camera", "-", "tripod"};
    QTest::newRow("double dash is an entry") << QByteArray("--\n-\n") << QStringList{"--", "-"};
    QTest::newRow("empty file") << QByteArray() << QStringList{};
    QTest::newRow("only blank lines") << QByteArray("\n  \n\t\n") << QStringList{};
    QTest::newRow("windows line ends") << QByteArray("lens\r\n-\r\nflash\r\n") << QStringList{"lens", "-", "flash"};
    QTest::newRow("old mac line ends") << QByteArray("lens\rflash") << QStringList{"lens", "flash"};
    QTest::newRow("no final line end") << QByteArray("lens\nflash") << QStringList{"lens", "flash"};
    QTest::newRow("control characters trimmed") << QByteArray("\x01\tzoom\x7f x\x02\n") << QStringList{"zoom\x7f x"};
    QTest::newRow("inner blanks kept") << QByteArray("  wide   angle  \n") << QStringList{"wide   angle"};
    QTest::newRow("dash with blanks is a separator") << QByteArray("a\n  -  \nb\n") << QStringList{"a", "-", "b"};
    QTest::newRow("utf-8") << QByteArray("Fotografie f\xc3\xbcr Anf\xc3\xa4nger\n")
                           << QStringList{QString::fromUtf8("Fotografie f\u00fcr Anf\u00e4nger")};
    QTest::newRow("byte order mark") << QByteArray("\xef\xbb\xbfmacro\n") << QStringList{"macro"};
    QTest::newRow("latin-1 file") << QByteArray("appareil photo num\xe9rique\n")
                                  << QStringList{QString::fromUtf8("appareil photo num\u00e9rique")};
}

void tst_AdvButton::menuFromWordFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, entries);

    TAdvButton adv;
    adv.LoadWords(WriteWords(content));
    QVERIFY(adv.Menu());
    QCOMPARE(MenuEntries(adv.Menu()), entries);
    for (const QAction *action : adv.Menu()->actions()) {
        QVERIFY(action->isEnabled());
        QVERIFY(!action->isChecked());
        QVERIFY(action->shortcut().isEmpty());
    }
}

void tst_AdvButton::captionsShowExactly()
{
    TAdvButton adv;
    adv.LoadWords(WriteWords("rock & roll\n&Help\n"));
    const QList<QAction *> actions = adv.Menu()->actions();
    QCOMPARE(actions.size(), 2);
    // Qt reads one "&" as an access key mark; doubled, it shows as typed.
    QCOMPARE(actions[0]->text(), QStringLiteral("rock && roll"));
    QCOMPARE(actions[1]->text(), QStringLiteral("&&Help"));
    QCOMPARE(actions[1]->data().toString(), QStringLiteral("&Help"));
}

void tst_AdvButton::searchAddress_data()
{
    QTest::addColumn<QString>("subId");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("address");

    QTest::newRow("with sub-identifier") << "tp" << "digital camera" << kPrefix + "&said=tp&q=digital+camera";
    QTest::newRow("without sub-identifier") << "" << "digital camera" << kPrefix + "&q=digital+camera";
    QTest::newRow("every blank") << "" << "a  b c" << kPrefix + "&q=a++b+c";
    QTest::newRow("no other encoding") << "xy" << QString::fromUtf8("c++ & \u00fcber?#%")
                                       << kPrefix + QString::fromUtf8("&said=xy&q=c+++&+\u00fcber?#%");
}

void tst_AdvButton::searchAddress()
{
    QFETCH(QString, subId);
    QFETCH(QString, caption);
    QFETCH(QString, address);

    TAdvButton adv;
    adv.SubId = subId;
    QCOMPARE(adv.SearchAddress(caption), address);
}

void tst_AdvButton::choosingAnEntryOpensItsSearch()
{
    FakePrompts prompts;
    TAdvButton adv;
    adv.SubId = QStringLiteral(TAMSEL_SEARCH_SAID);
    adv.LoadWords(WriteWords("digital camera\n-\nrock & roll\n"));
    const QList<QAction *> actions = adv.Menu()->actions();
    QCOMPARE(actions.size(), 3);

    actions[0]->trigger();
    actions[2]->trigger();
    QCOMPARE(prompts.openedDocuments,
             (QStringList{kPrefix + "&said=" TAMSEL_SEARCH_SAID "&q=digital+camera",
                          kPrefix + "&said=" TAMSEL_SEARCH_SAID "&q=rock+&+roll"}));
}

void tst_AdvButton::clickPopsMenuBelowButton()
{
    QWidget window;
    window.setGeometry(100, 100, 300, 200);
    auto *button = new QToolButton(&window);
    button->setText(QStringLiteral("Search"));
    button->setGeometry(20, 10, 60, 24);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    TAdvButton adv;
    try {
        adv.Attach(button);
    } catch (const AppError &) {
        // No word file beside the test program; the click is taken over anyway.
    }
    adv.LoadWords(WriteWords("lens\nflash\n"));

    QTest::mouseClick(button, Qt::LeftButton);
    QMenu *menu = adv.Menu();
    QTRY_VERIFY(menu->isVisible());
    QCOMPARE(menu->pos(), button->mapToGlobal(QPoint(0, button->height())));
    menu->hide();
}

void tst_AdvButton::unreadableWordFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason");

    QTest::newRow("missing") << "missing.dat" << "No such file or directory";
    QTest::newRow("a folder") << "folder.dat" << "";
}

void tst_AdvButton::unreadableWordFile()
{
    QFETCH(QString, name);
    QFETCH(QString, reason);

    QVERIFY(QDir(FDir.path()).mkpath(QStringLiteral("folder.dat")));
    const QString path = FDir.filePath(name);
    TAdvButton adv;
    try {
        adv.LoadWords(path);
        QFAIL("LoadWords did not fail");
    } catch (const AppError &e) {
        QVERIFY2(e.message().startsWith(QStringLiteral("Cannot open file ") + path + QStringLiteral(": ")),
                 qPrintable(e.message()));
        if (!reason.isEmpty())
            QVERIFY2(e.message().endsWith(reason), qPrintable(e.message()));
    }
    QVERIFY(!adv.Menu());
}

void tst_AdvButton::clickWithoutWordFileDoesNothing()
{
    QWidget window;
    auto *button = new QToolButton(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    TAdvButton adv;
    try {
        adv.Attach(button);
    } catch (const AppError &) {
    }
    if (adv.Menu())
        QSKIP("A word file is installed; the menu of the installed list stays.");
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!QApplication::activePopupWidget());
}

void tst_AdvButton::installedWordList()
{
    // The list we ship: useful photography searches, with separators but no
    // empty entries, and no separator at either end.
    TAdvButton adv;
    adv.LoadWords(QStringLiteral(TAMSEL_SOURCE_DIR "/resources/words.dat"));
    const QStringList entries = MenuEntries(adv.Menu());
    QVERIFY(entries.size() >= 12);
    QVERIFY(entries.contains(QStringLiteral("digital camera")));
    QVERIFY(entries.contains(QStringLiteral("-")));
    QVERIFY(entries.first() != QStringLiteral("-"));
    QVERIFY(entries.last() != QStringLiteral("-"));
}

QTEST_MAIN(tst_AdvButton)
#include "tst_AdvButton.moc"
