// Local
#include "FakePrompts.h"
#include "FileDlg.h"

// Qt
#include <QApplication>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// Std
#include <functional>
#include <stdexcept>

namespace {

const QString kOpenFilter = QStringLiteral("Image Files|*.jpeg;*.jpg;*.bmp;*.tif;*.tiff|All Files|*.*");

// Runs action on the next modal file dialog once it is up.
void WhenFileDialogOpens(const std::function<void(QFileDialog *)> &action)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, action] {
        if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            action(dialog);
        }
    });
    timer->start();
}

void Touch(const QString &path)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
}

} // namespace

class tst_FileDlg : public QObject
{
    Q_OBJECT

private slots:
    void nameFilters_data();
    void nameFilters();
    void executeThroughPrompts_data();
    void executeThroughPrompts();
    void cancelKeepsResults();
    void realDialog_data();
    void realDialog();
    void realDialogPreview();
};

void tst_FileDlg::nameFilters_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("expected");
    const QStringList open{"Image Files (*.jpeg *.jpg *.bmp *.tif *.tiff)", "All Files (*)"};
    QTest::newRow("open command") << kOpenFilter << open;
    QTest::newRow("trailing bar") << kOpenFilter + "|" << open;
    QTest::newRow("empty") << "" << QStringList();
    QTest::newRow("description without patterns") << "Pictures|*.jpg|Lonely" << QStringList{"Pictures (*.jpg)"};
    QTest::newRow("blanks and empty patterns") << " Bitmaps | *.bmp ;; *.dib " << QStringList{"Bitmaps (*.bmp *.dib)"};
    QTest::newRow("gallery pictures")
        << "All (*.jpg;*.jpeg;*.bmp)|*.jpg;*.jpeg;*.bmp|JPEG Image File (*.jpg)|*.jpg|Bitmaps (*.bmp)|*.bmp"
        << QStringList{"All (*.jpg;*.jpeg;*.bmp) (*.jpg *.jpeg *.bmp)", "JPEG Image File (*.jpg) (*.jpg)",
                       "Bitmaps (*.bmp) (*.bmp)"};
}

void tst_FileDlg::nameFilters()
{
    QFETCH(QString, filter);
    QFETCH(QStringList, expected);
    QCOMPARE(QtNameFilters(filter), expected);
}

void tst_FileDlg::executeThroughPrompts_data()
{
    QTest::addColumn<bool>("multi");
    QTest::addColumn<int>("filterIndex");
    QTest::addColumn<QStringList>("answer");
    QTest::addColumn<int>("expectedIndex");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QStringList>("files");
    const QStringList before{"/old/x.jpg"};
    QTest::newRow("single") << false << 0 << QStringList{"/photos/a.jpg"} << 0 << "/photos/a.jpg" << before;
    QTest::newRow("second filter") << false << 2 << QStringList{"/photos/a.tif"} << 1 << "/photos/a.tif" << before;
    QTest::newRow("multiple, one file") << true << 1 << QStringList{"/photos/a.jpg"} << 0 << "/photos/a.jpg"
                                        << QStringList{"/photos/a.jpg"};
    QTest::newRow("multiple in the root") << true << 0 << QStringList{"/a.jpg", "/b.jpg", "/c.jpg"} << 0 << "/a.jpg"
                                          << QStringList{"/a.jpg", "/b.jpg", "/c.jpg"};
    QTest::newRow("made full paths") << true << 0 << QStringList{"/p/./q/../a.jpg", "/p//b.jpg"} << 0 << "/p/a.jpg"
                                     << QStringList{"/p/a.jpg", "/p/b.jpg"};
}

void tst_FileDlg::executeThroughPrompts()
{
    QFETCH(bool, multi);
    QFETCH(int, filterIndex);
    QFETCH(QStringList, answer);
    QFETCH(int, expectedIndex);
    QFETCH(QString, fileName);
    QFETCH(QStringList, files);
    FakePrompts prompts;
    prompts.fileAnswers << answer;
    QWidget owner;
    TFileOpenDialog dialog;
    dialog.OwnerHandle = &owner;
    dialog.InitialDir = QStringLiteral("/photos");
    dialog.Filter = kOpenFilter;
    dialog.FilterIndex = filterIndex;
    dialog.AllowMultiSelect = multi;
    dialog.Files = QStringList{"/old/x.jpg"};
    QVERIFY(dialog.Execute());
    QCOMPARE(dialog.FileName, fileName);
    QCOMPARE(dialog.Files, files);

    QCOMPARE(prompts.fileRequests.size(), 1);
    const OpenFileRequest &r = prompts.fileRequests.first();
    QCOMPARE(r.owner, &owner);
    QCOMPARE(r.initialDir, QStringLiteral("/photos"));
    QCOMPARE(r.title, QString());
    QCOMPARE(r.nameFilters, QtNameFilters(kOpenFilter));
    QCOMPARE(r.filterIndex, expectedIndex);
    QCOMPARE(r.multiSelect, multi);
}

void tst_FileDlg::cancelKeepsResults()
{
    FakePrompts prompts;
    for (bool multi : {false, true}) {
        TFileOpenDialog dialog;
        dialog.AllowMultiSelect = multi;
        dialog.FileName = QStringLiteral("/kept.jpg");
        dialog.Files = QStringList{"/kept.jpg", "/also.jpg"};
        QVERIFY(!dialog.Execute());
        QCOMPARE(dialog.FileName, QStringLiteral("/kept.jpg"));
        QCOMPARE(dialog.Files, (QStringList{"/kept.jpg", "/also.jpg"}));
    }
    QCOMPARE(prompts.fileRequests.size(), 2);
}

void tst_FileDlg::realDialog_data()
{
    QTest::addColumn<bool>("multi");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("chosen"); // empty: cancel
    QTest::newRow("single") << false << "b.jpg" << QStringList{"b.jpg"};
    QTest::newRow("multiple") << true << "\"a.jpg\" \"c.bmp\"" << QStringList{"a.jpg", "c.bmp"};
    QTest::newRow("cancel") << false << "b.jpg" << QStringList();
}

void tst_FileDlg::realDialog()
{
    QFETCH(bool, multi);
    QFETCH(QString, typed);
    QFETCH(QStringList, chosen);
    QTemporaryDir dir;
    for (const char *name : {"a.jpg", "b.jpg", "c.bmp"})
        Touch(dir.filePath(QLatin1String(name)));

    QString title;
    QStringList filters;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    WhenFileDialogOpens([&](QFileDialog *d) {
        title = d->windowTitle();
        filters = d->nameFilters();
        mode = d->fileMode();
        if (chosen.isEmpty()) {
            d->reject();
            return;
        }
        auto *edit = d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        edit->setText(typed);
        QTest::keyClick(edit, Qt::Key_Return);
    });
    TFileOpenDialog dialog;
    dialog.Title = QStringLiteral("Open picture");
    dialog.InitialDir = dir.path();
    dialog.Filter = kOpenFilter;
    dialog.AllowMultiSelect = multi;
    dialog.FileName = QStringLiteral("/before.jpg");
    QCOMPARE(dialog.Execute(), !chosen.isEmpty());
    QCOMPARE(title, QStringLiteral("Open picture"));
    QCOMPARE(filters, QtNameFilters(kOpenFilter));
    QCOMPARE(mode, multi ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    if (chosen.isEmpty()) {
        QCOMPARE(dialog.FileName, QStringLiteral("/before.jpg"));
        return;
    }
    QStringList expected;
    for (const QString &name : chosen)
        expected << dir.filePath(name);
    QCOMPARE(dialog.FileName, expected.first());
    if (multi)
        QCOMPARE(dialog.Files, expected);
}

void tst_FileDlg::realDialogPreview()
{
    QTemporaryDir dir;
    Touch(dir.filePath(QStringLiteral("a.jpg")));
    Touch(dir.filePath(QStringLiteral("broken.jpg")));
    QStringList asked;
    QSize box;
    bool shown = false;
    bool cleared = false;
    WhenFileDialogOpens([&](QFileDialog *d) {
        auto *preview = d->findChild<QLabel *>(QStringLiteral("preview"));
        auto *view = d->findChild<QListView *>(QStringLiteral("listView"));
        auto *model = d->findChild<QFileSystemModel *>();
        QVERIFY(preview && view && model);
        // As a click on the file in the list does.
        const auto click = [&](const char *name) {
            const QString path = dir.filePath(QLatin1String(name));
            QVERIFY(QTest::qWaitFor([&] { return model->index(path).isValid(); }));
            view->setCurrentIndex(model->index(path));
        };
        click("a.jpg");
        shown = QTest::qWaitFor([&] { return !preview->pixmap().isNull(); });
        // A picture that cannot be previewed shows nothing.
        click("broken.jpg");
        cleared = QTest::qWaitFor([&] { return preview->pixmap().isNull(); });
        d->reject();
    });
    TFileOpenDialog dialog;
    dialog.InitialDir = dir.path();
    dialog.AllowMultiSelect = true;
    dialog.PreviewPane = true;
    dialog.PreviewLoader = [&](const QString &file, const QSize &size) {
        asked << QFileInfo(file).fileName();
        box = size;
        if (file.endsWith(QLatin1String("broken.jpg")))
            throw std::runtime_error("broken");
        QImage image(40, 30, QImage::Format_BGR888);
        image.fill(Qt::red);
        return image;
    };
    QVERIFY(!dialog.Execute());
    QVERIFY(shown);
    QVERIFY(cleared);
    QVERIFY(asked.contains(QStringLiteral("a.jpg")));
    QCOMPARE(box, QSize(150, 189));
}

QTEST_MAIN(tst_FileDlg)
#include "tst_FileDlg.moc"
