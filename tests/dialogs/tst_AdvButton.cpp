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
    void menuFromWordFile_data();
    void menuFromWordFile();
    void searchAddress_data();
    void searchAddress();
    void choosingAnEntryOpensItsSearch();
    void clickPopsMenuBelowButton();
    void unreadableWordFile();

private:
    QString WriteWords(const QByteArray &content);
    QTemporaryDir FDir;
};

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
        << QByteArray("digital camera\n-\n\n   tripod   \n") << QStringList{"digital camera", "-", "tripod"};
    QTest::newRow("double dash is an entry") << QByteArray("--\n  -  \n") << QStringList{"--", "-"};
    QTest::newRow("empty file") << QByteArray() << QStringList{};
    QTest::newRow("windows and old mac line ends") << QByteArray("lens\r\n-\r\nflash\rzoom") << QStringList{"lens", "-", "flash", "zoom"};
    QTest::newRow("control characters trimmed") << QByteArray("\x01\tzoom  x\x02\n") << QStringList{"zoom  x"};
    QTest::newRow("utf-8 with byte order mark") << QByteArray("\xef\xbb\xbf" "f\xc3\xbcr\n") << QStringList{QString::fromUtf8("f\u00fcr")};
    QTest::newRow("latin-1 file") << QByteArray("num\xe9rique\n") << QStringList{QString::fromUtf8("num\u00e9rique")};
}

void tst_AdvButton::menuFromWordFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, entries);

    TAdvButton adv;
    adv.LoadWords(WriteWords(content));
    QVERIFY(adv.Menu());
    QCOMPARE(MenuEntries(adv.Menu()), entries);
}

void tst_AdvButton::searchAddress_data()
{
    QTest::addColumn<QString>("subId");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("address");

    QTest::newRow("with sub-identifier") << "tp" << "digital camera" << kPrefix + "&said=tp&q=digital+camera";
    QTest::newRow("without sub-identifier") << "" << "a  b" << kPrefix + "&q=a++b";
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
    // Shown as written: a doubled "&" is Qt's way of showing one.
    QCOMPARE(actions[2]->text(), QStringLiteral("rock && roll"));

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
    button->setGeometry(20, 10, 60, 24);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    TAdvButton adv;
    try {
        adv.Attach(button);
    } catch (const AppError &) {
        // No word file beside the test program: the click does nothing.
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(!QApplication::activePopupWidget());
    }
    adv.LoadWords(WriteWords("lens\nflash\n"));
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_VERIFY(adv.Menu()->isVisible());
    QCOMPARE(adv.Menu()->pos(), button->mapToGlobal(QPoint(0, button->height())));
    adv.Menu()->hide();
}

void tst_AdvButton::unreadableWordFile()
{
    const QString missing = FDir.filePath(QStringLiteral("missing.dat"));
    TAdvButton adv;
    try {
        adv.LoadWords(missing);
        QFAIL("LoadWords did not fail");
    } catch (const AppError &e) {
        QCOMPARE(e.message(), QStringLiteral("Cannot open file ") + missing + QStringLiteral(": No such file or directory"));
    }
    QVERIFY(!adv.Menu());

    QVERIFY(QDir(FDir.path()).mkpath(QStringLiteral("folder.dat")));
    QVERIFY_THROWS_EXCEPTION(AppError, adv.LoadWords(FDir.filePath(QStringLiteral("folder.dat"))));
}

QTEST_MAIN(tst_AdvButton)
#include "tst_AdvButton.moc"
