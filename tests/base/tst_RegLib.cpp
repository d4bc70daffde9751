// Local
#include "AppError.h"
#include "FormPlacement.h"
#include "RegLib.h"
#include "TestFiles.h"

// Qt
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

// Std
#include <memory>
#include <thread>
#include <vector>

using ValueMap = QMap<QString, QString>;

namespace {

const QString kFrmMain = kFormsKey + QStringLiteral("frmMain");

QStringList AsideFiles()
{
    return QFileInfo(RegStoreFile()).dir().entryList({QStringLiteral("*.damaged-*")}, QDir::Files);
}

QString AppError_text(const std::function<void()> &f)
{
    try {
        f();
    } catch (const AppError &e) {
        return e.message();
    }
    return QString();
}

// Values "0" .. "30" of key as index -> text; missing ones are absent.
ValueMap StoredList(const QString &key)
{
    TRegistry reg;
    ValueMap result;
    if (!reg.OpenKey(key, false))
        return result;
    for (int i = 0; i <= 30; ++i) {
        const QString name = QString::number(i);
        if (reg.ValueExists(name))
            result.insert(name, reg.ReadString(name));
    }
    return result;
}

ValueMap Numbered(const QString &prefix, int from, int to)
{
    ValueMap m;
    for (int i = from; i <= to; ++i)
        m.insert(QString::number(i), prefix + QString::number(i));
    return m;
}

void Store(const QString &key, const ValueMap &values)
{
    for (auto it = values.begin(); it != values.end(); ++it)
        WriteRegString(key, it.key(), it.value());
}

QStringList Strings(const QString &prefix, int count)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list << prefix + QString::number(i);
    return list;
}

} // namespace

class tst_RegLib : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void stringRoundTrip_data();
    void stringRoundTrip();
    void wrongType_data();
    void wrongType();
    void keysAndNamesIgnoreCase();
    void readingCreatesTheKey();
    void deleteKey_data();
    void deleteKey();
    void acceptedStore_data();
    void acceptedStore();
    void damagedStoreSetAside_data();
    void damagedStoreSetAside();
    void storeThatCannotBeWritten();
    void concurrentWritersLoseNothing();

    void saveStringList_data();
    void saveStringList();
    void loadStringList_data();
    void loadStringList();
    void rewriteStringList();

    void savePlacement_data();
    void savePlacement();
    void loadPlacement_data();
    void loadPlacement();
    void maximizedRestoresStoredBounds();

private:
    std::unique_ptr<QTemporaryDir> FConfig;
    QByteArray FOldConfig;
};

void tst_RegLib::init()
{
    FConfig = std::make_unique<QTemporaryDir>();
    QVERIFY(FConfig->isValid());
    FOldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(FConfig->path()));
    QVERIFY(RegStoreFile().startsWith(FConfig->path()));
}

void tst_RegLib::cleanup()
{
    qputenv("XDG_CONFIG_HOME", FOldConfig);
    FConfig.reset();
}

void tst_RegLib::stringRoundTrip_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");
    QTest::newRow("plain") << "LastOpenFolder" << "/home/ann/Pictures";
    QTest::newRow("empty") << "LastOpenFolder" << "";
    QTest::newRow("escaped characters") << "a\"b\\c" << QString("say \"hi\" \\\\srv\\ 1\n2\r\n\t\x01\x1f\x7f");
    QTest::newRow("unicode") << "Ördner" << QString::fromUtf8("/bilder/été/日本/\xF0\x9F\x93\xB7");
    QTest::newRow("looks like the format") << "[x]" << "[\\Software]\"n\"=dword:00000001";
    QTest::newRow("blanks and semicolon kept") << ";b" << " ; /photos  ";
    QTest::newRow("unnamed value") << "" << "@";
}

void tst_RegLib::stringRoundTrip()
{
    QFETCH(QString, name);
    QFETCH(QString, value);
    WriteRegString(kAppKey, name, value);
    WriteRegString(kAppKey, QStringLiteral("after"), QStringLiteral("still here"));
    QCOMPARE(ReadRegString(kAppKey, name), value);
    QCOMPARE(ReadRegString(kAppKey, QStringLiteral("after")), QStringLiteral("still here"));
    QVERIFY(AsideFiles().isEmpty());
    const QByteArray text = ReadAll(RegStoreFile());
    QVERIFY(text.contains("[\\Software\\Brenmark\\TamselCorvane]\n"));
    QVERIFY(!text.contains('\r'));
}

void tst_RegLib::wrongType_data()
{
    QTest::addColumn<QByteArray>("store");
    QTest::addColumn<int>("reader");
    QTest::addColumn<QString>("error");
    const QByteArray numberAt0 = "[\\Software\\Brenmark\\TamselCorvane\\LastDestFolders]\n\"0\"=dword:00000001\n";
    const QByteArray textTop = "[\\Software\\Brenmark\\TamselCorvane\\forms\\frmMain]\n\"Top\"=\"103\"\n";
    QTest::newRow("number read as string") << numberAt0 << 0 << "Invalid data type for '0'";
    QTest::newRow("number in a string list") << numberAt0 << 1 << "Invalid data type for '0'";
    QTest::newRow("string read as integer") << textTop << 2 << "Invalid data type for 'Top'";
    // A hand-edited placement value of the wrong type is passed over.
    QTest::newRow("string as form placement") << textTop + "\"Left\"=dword:00000021\n" << 3 << "";
    QTest::newRow("missing integer") << textTop << 4 << "Failed to get data for 'Left'";
}

void tst_RegLib::wrongType()
{
    QFETCH(QByteArray, store);
    QFETCH(int, reader);
    QFETCH(QString, error);
    WriteFile(RegStoreFile(), store);
    QWidget form;
    const std::function<void()> readers[] = {
        [] { ReadRegString(kLastDestFoldersKey, QStringLiteral("0")); },
        [] { QStringList l; LoadStringList(kLastDestFoldersKey, l); },
        [] { OpenRegKey(kFrmMain)->ReadInteger(QStringLiteral("Top")); },
        [&form] { LoadFormPlacement(kFrmMain, &form, false); },
        [] { OpenRegKey(kFrmMain)->ReadInteger(QStringLiteral("Left")); },
    };
    form.setGeometry(244, 103, 414, 384);
    QCOMPARE(AppError_text(readers[reader]), error);
    QCOMPARE(ReadAll(RegStoreFile()), store);
    if (reader == 3)
        QCOMPARE(form.pos(), QPoint(0x21, 103));
}

void tst_RegLib::keysAndNamesIgnoreCase()
{
    WriteRegString(QStringLiteral("\\SOFTWARE\\brenmark\\TamselCorvane\\Folders"), QStringLiteral("Name"),
                   QStringLiteral("first"));
    WriteRegString(kFoldersKey, QStringLiteral("NAME"), QStringLiteral("second"));
    QCOMPARE(ReadRegString(kFoldersKey, QStringLiteral("name")), QStringLiteral("second"));
    const QByteArray text = ReadAll(RegStoreFile());
    // Stored under the spelling first written, once.
    QCOMPARE(text.count("Folders]"), 1);
    QCOMPARE(text.count("\"Name\"=\"second\""), 1);
    QVERIFY(!text.contains("NAME"));
}

void tst_RegLib::readingCreatesTheKey()
{
    const QString key = kAppKey + QStringLiteral("\\folders");
    TRegistry probe;
    QVERIFY(!probe.OpenKey(key, false));
    QVERIFY(!probe.KeyExists(key));
    QCOMPARE(ReadRegString(key, QStringLiteral("0")), QString());
    QVERIFY(probe.KeyExists(key));
    QVERIFY(probe.KeyExists(kAppKey));
    QVERIFY(probe.OpenKey(key, false));
}

void tst_RegLib::deleteKey_data()
{
    QTest::addColumn<QString>("deleted");
    QTest::addColumn<QStringList>("kept");
    QTest::addColumn<QStringList>("gone");
    const QString a = kAppKey;
    QTest::newRow("with sub-keys") << a + "\\folders" << QStringList{a, a + "\\folders2", a + "\\DestFolders"}
                                   << QStringList{a + "\\folders", a + "\\folders\\sub", a + "\\folders\\sub\\deep"};
    QTest::newRow("other letter case") << a + "\\FOLDERS" << QStringList{a, a + "\\folders2"}
                                       << QStringList{a + "\\folders", a + "\\folders\\sub"};
    QTest::newRow("missing key") << a + "\\nothing" << QStringList{a, a + "\\folders", a + "\\folders2"}
                                 << QStringList{a + "\\nothing"};
}

void tst_RegLib::deleteKey()
{
    QFETCH(QString, deleted);
    QFETCH(QStringList, kept);
    QFETCH(QStringList, gone);
    const QString a = kAppKey;
    for (const QString &key : {a + "\\folders\\sub\\deep", a + "\\folders2", a + "\\DestFolders", a + "\\folders"})
        WriteRegString(key, QStringLiteral("0"), key);
    DeleteRegKey(deleted);
    TRegistry reg;
    for (const QString &key : kept)
        QVERIFY2(reg.KeyExists(key), qPrintable(key));
    for (const QString &key : gone)
        QVERIFY2(!reg.KeyExists(key), qPrintable(key));
    QCOMPARE(ReadRegString(a + "\\folders2", QStringLiteral("0")), a + "\\folders2");
}

void tst_RegLib::acceptedStore_data()
{
    QTest::addColumn<QByteArray>("store");
    QTest::addColumn<QString>("expected");
    const QByteArray section = "[\\Software\\Brenmark\\TamselCorvane]";
    QTest::newRow("empty file") << QByteArray() << "";
    QTest::newRow("comments, blanks, CRLF, BOM") << "\xEF\xBB\xBF; hi\r\n\r\n  " + section + "  \r\n\t\"LastOpenFolder\"=\"/a\"\r\n"
                                                 << "/a";
    QTest::newRow("escapes") << section + "\n\"LastOpenFolder\"=\"\\x41\\t\\\"q\\\"\"\n" << "A\t\"q\"";
    QTest::newRow("later value wins") << section + "\n\"LastOpenFolder\"=\"/e\"\n" + section + "\n\"lastopenfolder\"=\"/f\"\n"
                                      << "/f";
}

void tst_RegLib::acceptedStore()
{
    QFETCH(QByteArray, store);
    QFETCH(QString, expected);
    WriteFile(RegStoreFile(), store);
    QCOMPARE(ReadRegString(kAppKey, QStringLiteral("LastOpenFolder")), expected);
    QVERIFY(AsideFiles().isEmpty());
}

void tst_RegLib::damagedStoreSetAside_data()
{
    QTest::addColumn<QByteArray>("store");
    const QByteArray section = "[\\Software\\Brenmark\\TamselCorvane]\n";
    QTest::newRow("garbage") << QByteArray("this is not a settings file\n");
    QTest::newRow("value before any section") << QByteArray("\"LastOpenFolder\"=\"/a\"\n");
    QTest::newRow("bad number") << section + "\"Top\"=dword:xyz\n";
    QTest::newRow("number too long") << section + "\"Top\"=dword:123456789\n";
    QTest::newRow("unterminated string") << section + "\"LastOpenFolder\"=\"/a\n";
    QTest::newRow("text after string") << section + "\"LastOpenFolder\"=\"/a\" x\n";
    QTest::newRow("unknown escape") << section + "\"LastOpenFolder\"=\"\\q\"\n";
    QTest::newRow("unknown type") << section + "\"Top\"=hex:00,01\n";
    QTest::newRow("empty key name") << QByteArray("[\\Software\\\\Brenmark]\n");
    QTest::newRow("invalid UTF-8") << section + "\"LastOpenFolder\"=\"\xC3\x28\"\n";
    QTest::newRow("NUL byte") << section + QByteArrayLiteral("\"LastOpenFolder\"=\"a\0b\"\n");
}

void tst_RegLib::damagedStoreSetAside()
{
    QFETCH(QByteArray, store);
    WriteFile(RegStoreFile(), store);
    QCOMPARE(ReadRegString(kAppKey, QStringLiteral("LastOpenFolder")), QString());

    const QStringList aside = AsideFiles();
    QCOMPARE(aside.size(), 1);
    QCOMPARE(ReadAll(QFileInfo(RegStoreFile()).dir().filePath(aside.first())), store);
    // The program goes on with a fresh store.
    WriteRegString(kAppKey, QStringLiteral("LastOpenFolder"), QStringLiteral("/new"));
    QCOMPARE(ReadRegString(kAppKey, QStringLiteral("LastOpenFolder")), QStringLiteral("/new"));
    QCOMPARE(AsideFiles().size(), 1);
}

void tst_RegLib::storeThatCannotBeWritten()
{
    // A plain file where the store's folder should be: nothing can be
    // created below it, whoever runs the test.
    WriteFile(FConfig->filePath(QStringLiteral("Brenmark")), "not a folder");
    // The value first, then the folder and the cause.
    const QString cause = QStringLiteral(": Cannot create folder %1: Not a directory").arg(FConfig->filePath(QStringLiteral("Brenmark")));
    QCOMPARE(AppError_text([] { WriteRegString(kAppKey, QStringLiteral("LastOpenFolder"), QStringLiteral("/a")); }),
             QStringLiteral("Failed to set data for 'LastOpenFolder'") + cause);
    QCOMPARE(AppError_text([] { SaveStringList(kLastDestFoldersKey, {QStringLiteral("/a")}, 20); }),
             QStringLiteral("Failed to set data for '0'") + cause);
    QCOMPARE(ReadRegString(kAppKey, QStringLiteral("LastOpenFolder")), QString());
    QWidget form;
    form.setGeometry(244, 103, 414, 384);
    LoadFormPlacement(kFrmMain, &form, false);
    QCOMPARE(form.geometry(), QRect(244, 103, 414, 384));
    DeleteRegKey(kFoldersKey);
    QCOMPARE(ReadAll(FConfig->filePath(QStringLiteral("Brenmark"))), QByteArray("not a folder"));
}

void tst_RegLib::concurrentWritersLoseNothing()
{
    // Each writer reads, changes and replaces the whole file; without the
    // lock, writes of the others made in between would be lost.
    const int writers = 4;
    const int perWriter = 25;
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w) {
        threads.emplace_back([w] {
            for (int i = 0; i < perWriter; ++i)
                WriteRegString(kAppKey, QStringLiteral("w%1-%2").arg(w).arg(i), QString::number(i));
        });
    }
    for (std::thread &t : threads)
        t.join();
    TRegistry reg;
    QVERIFY(reg.OpenKey(kAppKey, false));
    for (int w = 0; w < writers; ++w) {
        for (int i = 0; i < perWriter; ++i)
            QCOMPARE(reg.ReadString(QStringLiteral("w%1-%2").arg(w).arg(i)), QString::number(i));
    }
    QVERIFY(!QFileInfo::exists(RegStoreFile() + QStringLiteral(".lock")));
    QVERIFY(AsideFiles().isEmpty());
}

void tst_RegLib::saveStringList_data()
{
    QTest::addColumn<ValueMap>("before");
    QTest::addColumn<QStringList>("list");
    QTest::addColumn<int>("maxIndex");
    QTest::addColumn<ValueMap>("after");
    ValueMap tenThenFour = Numbered("old", 0, 9);
    for (int i = 0; i < 4; ++i)
        tenThenFour[QString::number(i)] = "new" + QString::number(i);
    tenThenFour.remove("4");
    QTest::newRow("10 stored, 4 saved") << Numbered("old", 0, 9) << Strings("new", 4) << 20 << tenThenFour;
    QTest::newRow("25 saved, at most 21") << ValueMap() << Strings("new", 25) << 20 << Numbered("new", 0, 20);
    ValueMap emptied = Numbered("old", 1, 2);
    QTest::newRow("empty list") << Numbered("old", 0, 2) << QStringList() << 20 << emptied;
    QTest::newRow("empty entry kept") << ValueMap() << QStringList{"a", "", "b"} << 20
                                      << ValueMap{{"0", "a"}, {"1", ""}, {"2", "b"}};
}

void tst_RegLib::saveStringList()
{
    QFETCH(ValueMap, before);
    QFETCH(QStringList, list);
    QFETCH(int, maxIndex);
    QFETCH(ValueMap, after);
    Store(kLastDestFoldersKey, before);
    SaveStringList(kLastDestFoldersKey, list, maxIndex);
    QCOMPARE(StoredList(kLastDestFoldersKey), after);
}

void tst_RegLib::loadStringList_data()
{
    QTest::addColumn<ValueMap>("stored");
    QTest::addColumn<QStringList>("initial");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("nothing stored") << ValueMap() << QStringList() << QStringList();
    QTest::newRow("stops at missing") << ValueMap{{"0", "a"}, {"1", "b"}, {"3", "d"}} << QStringList()
                                      << QStringList{"a", "b"};
    QTest::newRow("empty entry kept") << ValueMap{{"0", "a"}, {"1", ""}, {"2", "c"}} << QStringList()
                                      << QStringList{"a", "", "c"};
    QTest::newRow("appends") << ValueMap{{"0", "a"}} << QStringList{"x"} << QStringList{"x", "a"};
}

void tst_RegLib::loadStringList()
{
    QFETCH(ValueMap, stored);
    QFETCH(QStringList, initial);
    QFETCH(QStringList, expected);
    Store(kLastDestFoldersKey, stored);
    QStringList list = initial;
    LoadStringList(kLastDestFoldersKey, list);
    QCOMPARE(list, expected);
    QVERIFY(TRegistry().KeyExists(kLastDestFoldersKey));
}

void tst_RegLib::rewriteStringList()
{
    // At most 101 entries are read back.
    SaveStringList(kLastDestFoldersKey, Strings("e", 120), 200);
    QStringList loaded;
    LoadStringList(kLastDestFoldersKey, loaded);
    QCOMPARE(loaded, Strings("e", 101));

    // The folder history: 25 entries keep the 22 oldest; stale values and
    // sub-keys go with the old key.
    Store(kFoldersKey, Numbered("stale", 0, 30));
    WriteRegString(kFoldersKey + QStringLiteral("\\sub"), QStringLiteral("0"), QStringLiteral("x"));
    RewriteRegStringList(kFoldersKey, Strings("/f", 25), 21);
    QCOMPARE(StoredList(kFoldersKey), Numbered("/f", 0, 21));
    QVERIFY(!TRegistry().KeyExists(kFoldersKey + QStringLiteral("\\sub")));

    RewriteRegStringList(kFoldersKey, {}, 21);
    QVERIFY(!TRegistry().KeyExists(kFoldersKey));
}

void tst_RegLib::savePlacement_data()
{
    QTest::addColumn<Qt::WindowStates>("state");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray earlier = "[\\Software\\Brenmark\\TamselCorvane\\forms\\frmMain]\n"
                               "\"Top\"=dword:00000001\n\"Left\"=dword:00000002\n"
                               "\"Width\"=dword:000001f4\n\"Height\"=dword:0000015e\n"
                               "\"WindowState\"=dword:00000000\n";
    QByteArray maximized = earlier;
    maximized.replace("\"WindowState\"=dword:00000000", "\"WindowState\"=dword:00000001");
    QTest::newRow("normal") << Qt::WindowStates(Qt::WindowNoState)
                            << QByteArray("[\\Software\\Brenmark\\TamselCorvane\\forms\\frmMain]\n"
                                          "\"Top\"=dword:00000067\n\"Left\"=dword:000000f4\n"
                                          "\"Width\"=dword:0000019e\n\"Height\"=dword:00000180\n"
                                          "\"WindowState\"=dword:00000000\n");
    QTest::newRow("maximized") << Qt::WindowStates(Qt::WindowMaximized) << maximized;
    QTest::newRow("full screen") << Qt::WindowStates(Qt::WindowFullScreen) << maximized;
    QTest::newRow("minimized") << Qt::WindowStates(Qt::WindowMinimized) << earlier;
    QTest::newRow("minimized from maximized") << (Qt::WindowMinimized | Qt::WindowMaximized) << earlier;
}

void tst_RegLib::savePlacement()
{
    QFETCH(Qt::WindowStates, state);
    QFETCH(QByteArray, expected);
    if (state != Qt::WindowNoState) {
        QWidget earlier;
        earlier.setGeometry(2, 1, 500, 350);
        SaveFormPlacement(kFrmMain, &earlier);
    }
    QWidget form;
    form.setGeometry(244, 103, 414, 384);
    form.setWindowState(state);
    SaveFormPlacement(kFrmMain, &form);
    const QByteArray text = ReadAll(RegStoreFile());
    QVERIFY2(text.endsWith(expected), text.constData());
}

void tst_RegLib::loadPlacement_data()
{
    QTest::addColumn<QByteArray>("values");
    QTest::addColumn<bool>("positionOnly");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<bool>("maximized");
    const QRect designed(244, 103, 414, 384);
    QTest::newRow("nothing stored") << QByteArray() << false << designed << false;
    QTest::newRow("normal") << QByteArray("\"Top\"=dword:0000000a\n\"Left\"=dword:00000014\n\"Width\"=dword:000001f4\n"
                                          "\"Height\"=dword:0000015e\n\"WindowState\"=dword:00000000\n")
                            << false << QRect(20, 10, 500, 350) << false;
    QTest::newRow("maximized") << QByteArray("\"WindowState\"=dword:00000001\n") << false << designed << true;
    QTest::newRow("state 2 ignored") << QByteArray("\"WindowState\"=dword:00000002\n") << false << designed << false;
    QTest::newRow("negative position") << QByteArray("\"Top\"=dword:fffffff6\n") << false << QRect(244, -10, 414, 384)
                                       << false;
    QTest::newRow("only some values") << QByteArray("\"Left\"=dword:00000014\n\"Height\"=dword:0000015e\n") << false
                                      << QRect(20, 103, 414, 350) << false;
    QTest::newRow("below the minimum size") << QByteArray("\"Width\"=dword:00000064\n\"Height\"=dword:ffffffff\n")
                                            << false << QRect(244, 103, 400, 300) << false;
    QTest::newRow("position only") << QByteArray("\"Top\"=dword:0000000a\n\"Left\"=dword:00000014\n\"Width\"=dword:000001f4\n"
                                                 "\"WindowState\"=dword:00000001\n")
                                   << true << QRect(20, 10, 414, 384) << false;
}

void tst_RegLib::loadPlacement()
{
    QFETCH(QByteArray, values);
    QFETCH(bool, positionOnly);
    QFETCH(QRect, geometry);
    QFETCH(bool, maximized);
    WriteFile(RegStoreFile(), "[\\Software\\Brenmark\\TamselCorvane\\forms\\frmMain]\n" + values);
    QWidget form;
    form.setMinimumSize(400, 300);
    form.setGeometry(244, 103, 414, 384);
    LoadFormPlacement(kFrmMain, &form, positionOnly);
    QCOMPARE(form.isMaximized(), maximized);
    // A maximized window's frame is the platform's; its bounds are checked
    // when it is restored (maximizedRestoresStoredBounds).
    if (!maximized)
        QCOMPARE(QRect(form.pos(), form.size()), geometry);
}

void tst_RegLib::maximizedRestoresStoredBounds()
{
    {
        QWidget first;
        first.move(30, 40);
        first.resize(420, 310);
        first.show();
        QVERIFY(QTest::qWaitForWindowExposed(&first));
        SaveFormPlacement(kFrmMain, &first);
        first.showMaximized();
        QTRY_VERIFY(first.isMaximized());
        SaveFormPlacement(kFrmMain, &first);
    }
    QWidget next;
    next.setGeometry(244, 103, 414, 384);
    LoadFormPlacement(kFrmMain, &next, false);
    QVERIFY(next.isMaximized());
    next.show();
    QVERIFY(QTest::qWaitForWindowExposed(&next));
    next.showNormal();
    QTRY_COMPARE(next.size(), QSize(420, 310));
    QCOMPARE(next.pos(), QPoint(30, 40));
}

QTEST_MAIN(tst_RegLib)
#include "tst_RegLib.moc"
