// Local
#include "AppPaths.h"
#include "EditLib.h"
#include "FakePrompts.h"
#include "GalleryCli.h"
#include "Publish2WebForm.h"
#include "RegLib.h"
#include "TestFiles.h"
#include "TestPaths.h"

// Qt
#include <QApplication>
#include <QCheckBox>
#include <QDirIterator>
#include <QDrag>
#include <QGroupBox>
#include <QLabel>
#include <QMimeData>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace {

const QList<QColor> kColours = {Qt::red, Qt::green, Qt::blue, Qt::yellow, Qt::magenta, Qt::cyan};

QString MakePicture(const QString &fileName, QSize size, const QColor &colour)
{
    QImage image(size, QImage::Format_RGB888);
    image.fill(colour);
    if (!image.save(fileName))
        qFatal("cannot write %s", qPrintable(fileName));
    return fileName;
}

// The preview's scaler may lose a little on the way.
bool SameColour(const QColor &a, const QColor &b)
{
    return qAbs(a.red() - b.red()) <= 8 && qAbs(a.green() - b.green()) <= 8 && qAbs(a.blue() - b.blue()) <= 8;
}

QStringList Captions(const QListWidget *list)
{
    QStringList captions;
    for (int i = 0; i < list->count(); ++i)
        captions << NameOfPath(list->item(i)->text());
    return captions;
}

// The events of a drag inside the list, sent to its viewport the way the
// platform sends them while QDrag::exec runs.
struct DragPlayer
{
    QWidget *viewport;
    QDrag *drag;

    bool Enter(QPoint pos)
    {
        QDragEnterEvent event(pos, Qt::MoveAction, drag->mimeData(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &event);
        return event.isAccepted();
    }
    bool Move(QPoint pos)
    {
        QDragMoveEvent event(pos, Qt::MoveAction, drag->mimeData(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &event);
        return event.isAccepted();
    }
    void Leave()
    {
        QDragLeaveEvent event;
        QApplication::sendEvent(viewport, &event);
    }
    void Drop(QPoint pos)
    {
        QDropEvent event(pos, Qt::MoveAction, drag->mimeData(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &event);
    }
};

QPoint ItemCentre(QListWidget *list, int row)
{
    return list->visualItemRect(list->item(row)).center();
}

// Presses the mouse on item `row` and pulls it far enough to start a drag;
// `during` plays the drag.
void DragItem(TPhotoListView *list, int row, const std::function<void(DragPlayer &)> &during)
{
    bool ran = false;
    list->RunDrag = [list, &during, &ran](QDrag *drag) {
        ran = true;
        DragPlayer player{list->viewport(), drag};
        during(player);
    };
    QWidget *viewport = list->viewport();
    const QPoint start = ItemCentre(list, row);
    QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, start);
    // Once the drag runs it has the mouse; the list sees no more moves.
    for (int dx = 2; dx <= 40 && !ran; dx += 2) {
        const QPoint pos = start + QPoint(dx, 0);
        QMouseEvent move(QEvent::MouseMove, pos, viewport->mapToGlobal(pos), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(viewport, &move);
    }
    QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, start);
    list->RunDrag = nullptr;
    QVERIFY2(ran, "no drag started");
}

} // namespace

class tst_Publish2WebForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void layoutAndDefaults();
    void numericEdits_data();
    void numericEdits();
    void resizeSwitchesPhotoSettings();
    void modernPagesBoxIsRemembered_data();
    void modernPagesBoxIsRemembered();
    void showFillsTheListAndSavesHistory();
    void dragReorders_data();
    void dragReorders();
    void dragFromElsewhereIsRefused();
    void dragScrollsNearEdges_data();
    void dragScrollsNearEdges();
    void dragHeldAtEdgeKeepsScrolling();
    void deleteSelects_data();
    void deleteSelects();
    void clearAsksFirst_data();
    void clearAsksFirst();
    void addAppendsSorted();
    void previewDrawnTopCentre_data();
    void previewDrawnTopCentre();
    void brokenPreviewReported();
    void schemesRefreshOnDropDown();
    void historyRules();
    void delRemovesHighlightedHistoryEntry();
    void validationSwitchesPage_data();
    void validationSwitchesPage();
    void escapeAndEnterPressNothing();
    void sameGalleryAsCommandLineTool_data();
    void sameGalleryAsCommandLineTool();

private:
    QStringList MakePhotos(int count);
    std::unique_ptr<TfrmPublish2Web> ShownForm(const QStringList &photos);

    QTemporaryDir FTemp;
    QString FSchemes;
};

void tst_Publish2WebForm::initTestCase()
{
    QVERIFY(FTemp.isValid());
    FSchemes = FTemp.filePath(QStringLiteral("schemes"));
    QVERIFY(QDir().mkpath(FSchemes + QStringLiteral("/sub")));
    for (const char *name : {"light.css", "dark.css", "notes.txt", ".hidden.css"})
        QFile(FSchemes + u'/' + QLatin1String(name)).open(QIODevice::WriteOnly);
}

void tst_Publish2WebForm::init()
{
    DeleteRegKey(kLastDestFoldersKey);
}

QStringList tst_Publish2WebForm::MakePhotos(int count)
{
    QStringList photos;
    for (int i = 0; i < count; ++i)
        photos << MakePicture(FTemp.filePath(QStringLiteral("%1.bmp").arg(i + 1)), QSize(30, 20), kColours[i]);
    return photos;
}

std::unique_ptr<TfrmPublish2Web> tst_Publish2WebForm::ShownForm(const QStringList &photos)
{
    auto form = std::make_unique<TfrmPublish2Web>(FTemp.path(), nullptr, FSchemes);
    form->AddPhotoItems(photos);
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get()))
        qWarning("gallery dialog not exposed");
    return form;
}

void tst_Publish2WebForm::layoutAndDefaults()
{
    TfrmPublish2Web form(QString(), nullptr, FSchemes);
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QVERIFY(form.width() >= 512 && form.height() >= 399);
    QCOMPARE(form.pgcMain->currentWidget(), form.tabPhotos);
    for (QToolButton *button : {form.sbnAddPhotos, form.sbnClearPhotos, form.sbnRecreateThumbs, form.sbnRecreatePhotos,
                                form.sbnOpenSchemes, form.sbnSelectDestination, form.sbnPublish, form.sbnClose}) {
        QVERIFY2(button->focusPolicy() == Qt::NoFocus, qPrintable(button->text()));
        QVERIFY2(button->autoRaise(), qPrintable(button->text()));
    }
    QCOMPARE(form.miDelete->shortcut(), QKeySequence(Qt::Key_Delete));
    QCOMPARE(form.cbxDestFolder->currentText(), QString());
    // Sorted, files only, no hidden ones: the first is selected.
    QCOMPARE(form.cbxSchemes->count(), 3);
    QCOMPARE(form.cbxSchemes->currentText(), QStringLiteral("dark.css"));
}

void tst_Publish2WebForm::numericEdits_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("minValue");
    QTest::addColumn<int>("maxValue");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("maxLength");

    QTest::newRow("thumb width") << "edtThumbWidth" << 10 << 9999 << 120 << 4;
    QTest::newRow("thumb height") << "edtThumbHeight" << 10 << 9999 << 120 << 4;
    QTest::newRow("thumb quality") << "edtThumbQuality" << 10 << 100 << 70 << 3;
    QTest::newRow("photo width") << "edtPhotoWidth" << 10 << 9999 << 800 << 4;
    QTest::newRow("photo height") << "edtPhotoHeight" << 10 << 9999 << 600 << 4;
    QTest::newRow("photo quality") << "edtPhotoQuality" << 10 << 100 << 80 << 3;
    QTest::newRow("columns") << "edtThumbColumns" << 1 << 99 << 3 << 2;
}

void tst_Publish2WebForm::numericEdits()
{
    QFETCH(QString, name);
    QFETCH(int, minValue);
    QFETCH(int, maxValue);
    QFETCH(int, value);
    QFETCH(int, maxLength);

    TfrmPublish2Web form(QString(), nullptr, FSchemes);
    auto *edit = form.findChild<TNaturalEdit *>(name);
    QVERIFY(edit);
    QCOMPARE(edit->MinValue(), minValue);
    QCOMPARE(edit->MaxValue(), maxValue);
    QCOMPARE(edit->text(), QString::number(value));
    QCOMPARE(edit->maxLength(), maxLength);

    // A run reads the clamped value of each field from its own edit.
    edit->setText(QStringLiteral("0"));
    const TGallerySettings settings = form.GallerySettings();
    const QList<int> read{settings.ThumbWidth,  settings.ThumbHeight,  settings.ThumbQuality, settings.PhotoWidth,
                          settings.PhotoHeight, settings.PhotoQuality, settings.ThumbColumns};
    const QList<int> defaults{120, 120, 70, 800, 600, 80, 3};
    const int index = QStringList{"edtThumbWidth", "edtThumbHeight", "edtThumbQuality", "edtPhotoWidth",
                                  "edtPhotoHeight", "edtPhotoQuality", "edtThumbColumns"}.indexOf(name);
    for (int i = 0; i < read.size(); ++i)
        QCOMPARE(read[i], i == index ? minValue : defaults[i]);
}

void tst_Publish2WebForm::resizeSwitchesPhotoSettings()
{
    auto form = ShownForm({});
    form->pgcMain->setCurrentWidget(form->tabSettings);
    const QList<QWidget *> photoSettings{form->edtPhotoWidth,  form->edtPhotoHeight, form->edtPhotoQuality,
                                         form->lblPhotoWidth,  form->lblPhotoHeight, form->lblPhotoQuality};
    QCOMPARE(form->cbxResizePhotos->text(), QStringLiteral("Resize"));
    QVERIFY(!form->cbxResizePhotos->isChecked());
    for (QWidget *w : photoSettings)
        QVERIFY(!w->isEnabled());
    QTest::mouseClick(form->cbxResizePhotos, Qt::LeftButton);
    for (QWidget *w : photoSettings)
        QVERIFY(w->isEnabled());
    QVERIFY(form->GallerySettings().ResizePhotos);
    QTest::mouseClick(form->cbxResizePhotos, Qt::LeftButton);
    for (QWidget *w : photoSettings)
        QVERIFY(!w->isEnabled());
}

void tst_Publish2WebForm::modernPagesBoxIsRemembered_data()
{
    QTest::addColumn<int>("stored");   // the value "Modern" before; -1: none
    QTest::addColumn<bool>("opensOn");
    QTest::addColumn<bool>("closesOn");
    QTest::newRow("never on, left off") << -1 << false << false;
    QTest::newRow("never on, turned on") << -1 << false << true;
    QTest::newRow("on, left on") << 1 << true << true;
    QTest::newRow("on, turned off") << 1 << true << false;
    QTest::newRow("0 reads as off") << 0 << false << false;
}

// Off leaves the store exactly as it is without the box; on is read back.
void tst_Publish2WebForm::modernPagesBoxIsRemembered()
{
    QFETCH(int, stored);
    QFETCH(bool, opensOn);
    QFETCH(bool, closesOn);
    QFile::remove(RegStoreFile());
    SaveStringList(kLastDestFoldersKey, {QStringLiteral("/old")}, 20);
    const QByteArray withoutBox = ReadAll(RegStoreFile());
    if (stored >= 0)
        WriteRegIntegers(kGalleryPagesKey, {{QStringLiteral("Modern"), stored}});
    {
        TfrmPublish2Web form(QString(), nullptr, FSchemes);
        QCOMPARE(form.cbxModernPages->text(), QStringLiteral("Pages for phones and keyboards"));
        QVERIFY(form.grpHtmlPages->isAncestorOf(form.cbxModernPages));
        QCOMPARE(form.cbxModernPages->isChecked(), opensOn);
        QCOMPARE(form.GallerySettings().Pages, opensOn ? gpModern : gpClassic);
        // The modern pages wrap their thumbnails: the columns are not asked.
        QCOMPARE(form.edtThumbColumns->isEnabled(), !opensOn);
        form.cbxModernPages->setChecked(closesOn);
        QCOMPARE(form.GallerySettings().Pages, closesOn ? gpModern : gpClassic);
        QCOMPARE(form.edtThumbColumns->isEnabled(), !closesOn);
    }
    if (!closesOn)
        QCOMPARE(ReadAll(RegStoreFile()), withoutBox);
    TfrmPublish2Web again(QString(), nullptr, FSchemes);
    QCOMPARE(again.cbxModernPages->isChecked(), closesOn);
}

void tst_Publish2WebForm::showFillsTheListAndSavesHistory()
{
    FakePrompts prompts;
    prompts.answers << QMessageBox::Cancel;   // do not make the folder "/new"
    SaveStringList(kLastDestFoldersKey, {QStringLiteral("/old")}, 20);
    const QStringList photos{"/p/b.jpg", "/p/a.jpg", "/p/b.jpg"};
    QStringList shown;
    QString destText;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto *form = qobject_cast<TfrmPublish2Web *>(QApplication::activeModalWidget());
        if (!form)
            return;
        poll.stop();
        for (int i = 0; i < form->lvwPhotos->count(); ++i)
            shown << form->lvwPhotos->item(i)->text();
        destText = form->cbxDestFolder->currentText();
        form->cbxDestFolder->setEditText(QStringLiteral("/new"));
        QTest::mouseClick(form->sbnRecreateThumbs, Qt::LeftButton);
        QTimer::singleShot(5000, form, &QDialog::reject);
        QTest::mouseClick(form->sbnClose, Qt::LeftButton);
    });
    poll.start(10);
    ShowPublish2Web(photos, QString(), nullptr);

    QCOMPARE(shown, photos);
    QCOMPARE(destText, QString());
    // "Overwrite thumbnails" ran, but only "Publish" and "Select" add to the
    // history, which was saved when the dialog went.
    QStringList history;
    LoadStringList(kLastDestFoldersKey, history);
    QCOMPARE(history, QStringList{"/old"});
    QCOMPARE(prompts.messages.size(), 1);
}

void tst_Publish2WebForm::dragReorders_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<QList<int>>("path");   // rows passed over; -1: empty space
    QTest::addColumn<bool>("dropInside");
    QTest::addColumn<QString>("order");

    QTest::newRow("2 onto 4") << 1 << QList<int>{1, 2, 3} << true << "1,3,4,2,5";
    QTest::newRow("4 onto 2") << 3 << QList<int>{3, 2, 1} << true << "1,4,2,3,5";
    QTest::newRow("onto itself") << 2 << QList<int>{2} << true << "1,2,3,4,5";
    QTest::newRow("last onto first") << 4 << QList<int>{0} << true << "5,1,2,3,4";
    QTest::newRow("dropped outside after 4") << 1 << QList<int>{0, 2, 3} << false << "1,3,4,2,5";
    QTest::newRow("dropped on empty space") << 1 << QList<int>{3, -1} << true << "1,2,3,4,5";
}

void tst_Publish2WebForm::dragReorders()
{
    QFETCH(int, from);
    QFETCH(QList<int>, path);
    QFETCH(bool, dropInside);
    QFETCH(QString, order);

    FakePrompts prompts;
    auto form = ShownForm(MakePhotos(5));
    TPhotoListView *list = form->lvwPhotos;
    const QPoint below(list->viewport()->width() / 2, list->viewport()->height() - 30);
    DragItem(list, from, [&](DragPlayer &drag) {
        QVERIFY(drag.Enter(ItemCentre(list, from)));
        for (int row : path) {
            QVERIFY(drag.Move(row < 0 ? below : ItemCentre(list, row)));
            // The photo under the cursor is highlighted and previewed; over
            // empty space, the dragged one.
            QCOMPARE(list->DropTarget(), row < 0 ? nullptr : list->item(row));
            QVERIFY(SameColour(form->Preview().pixelColor(0, 0), kColours[row < 0 ? from : row]));
        }
        if (dropInside)
            drag.Drop(path.last() < 0 ? below : ItemCentre(list, path.last()));
        else
            drag.Leave();
    });

    QCOMPARE(Captions(list).join(u',').remove(QStringLiteral(".bmp")), order);
    // The dragged photo stays selected, and the preview shows it.
    const int moved = Captions(list).indexOf(QStringLiteral("%1.bmp").arg(from + 1));
    QCOMPARE(list->currentRow(), moved);
    QVERIFY(list->item(moved)->isSelected());
    QVERIFY(SameColour(form->Preview().pixelColor(0, 0), kColours[from]));
    QVERIFY(!form->DragItem());
    QVERIFY(prompts.messages.isEmpty());
}

void tst_Publish2WebForm::dragFromElsewhereIsRefused()
{
    auto form = ShownForm(MakePhotos(3));
    QMimeData data;
    data.setData(QStringLiteral("application/x-tamsel-photo-item"), "0");
    data.setText(QStringLiteral("/etc/passwd"));
    const QPoint pos = ItemCentre(form->lvwPhotos, 1);
    QDragEnterEvent enter(pos, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form->lvwPhotos->viewport(), &enter);
    QVERIFY(!enter.isAccepted());
    QDragMoveEvent move(pos, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form->lvwPhotos->viewport(), &move);
    QVERIFY(!move.isAccepted());
    QVERIFY(!form->DragItem());
    QCOMPARE(Captions(form->lvwPhotos), (QStringList{"1.bmp", "2.bmp", "3.bmp"}));
}

void tst_Publish2WebForm::dragScrollsNearEdges_data()
{
    QTest::addColumn<QList<int>>("fromTop");   // >= 0: y from the top; < 0: from the bottom
    QTest::addColumn<int>("lines");

    QTest::newRow("top edge") << QList<int>{5} << -1;
    QTest::newRow("just inside the top margin") << QList<int>{20} << 0;
    QTest::newRow("bottom edge") << QList<int>{-5} << 1;
    QTest::newRow("held at the bottom edge") << QList<int>{-5, -5} << 2;
    QTest::newRow("just inside the bottom margin") << QList<int>{-20} << 0;
}

void tst_Publish2WebForm::dragScrollsNearEdges()
{
    QFETCH(QList<int>, fromTop);
    QFETCH(int, lines);

    FakePrompts prompts;
    const QStringList photos(80, QStringLiteral("/no/such/photo.jpg"));
    auto form = ShownForm({});
    form->AddPhotoItems(photos);
    TPhotoListView *list = form->lvwPhotos;
    QScrollBar *bar = list->verticalScrollBar();
    QTRY_VERIFY(bar->maximum() > 20);
    bar->setValue(bar->maximum() / 2);
    list->setCurrentRow(bar->value() + 2);
    const int before = bar->value();
    const int height = list->viewport()->height();
    DragItem(list, bar->value() + 2, [&](DragPlayer &drag) {
        drag.Enter(QPoint(10, height / 2));
        for (int y : fromTop)
            drag.Move(QPoint(10, y >= 0 ? y : height + y));
        drag.Leave();
    });
    QCOMPARE(bar->value(), before + lines);
}

void tst_Publish2WebForm::dragHeldAtEdgeKeepsScrolling()
{
    FakePrompts prompts;
    auto form = ShownForm({});
    form->AddPhotoItems(QStringList(80, QStringLiteral("/no/such/photo.jpg")));
    TPhotoListView *list = form->lvwPhotos;
    QScrollBar *bar = list->verticalScrollBar();
    QTRY_VERIFY(bar->maximum() > 20);
    list->setCurrentRow(1);
    const int height = list->viewport()->height();
    int held = 0;
    DragItem(list, 1, [&](DragPlayer &drag) {
        drag.Enter(QPoint(10, height / 2));
        drag.Move(QPoint(10, height - 5));
        // The mouse stands still at the bottom edge: no more move events.
        QTRY_VERIFY(bar->value() >= 4);
        drag.Leave();
        held = bar->value();
        QTest::qWait(200);
        QCOMPARE(bar->value(), held);
    });
    QCOMPARE(bar->value(), held);
}

void tst_Publish2WebForm::deleteSelects_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("selected");
    QTest::addColumn<bool>("byKey");
    QTest::addColumn<QString>("order");
    QTest::addColumn<int>("selectedAfter");
    QTest::addColumn<int>("previewColour");

    QTest::newRow("middle, menu") << 4 << 1 << false << "1,3,4" << 1 << 2;
    QTest::newRow("middle, Del key") << 4 << 1 << true << "1,3,4" << 1 << 2;
    QTest::newRow("last") << 4 << 3 << true << "1,2,3" << 2 << 2;
    // The list is empty; the preview still shows the removed photo.
    QTest::newRow("only") << 1 << 0 << true << "" << -1 << 0;
    QTest::newRow("nothing selected") << 3 << -1 << false << "1,2,3" << -1 << -1;
}

void tst_Publish2WebForm::deleteSelects()
{
    QFETCH(int, count);
    QFETCH(int, selected);
    QFETCH(bool, byKey);
    QFETCH(QString, order);
    QFETCH(int, selectedAfter);
    QFETCH(int, previewColour);

    FakePrompts prompts;
    const QStringList photos = MakePhotos(count);
    auto form = ShownForm(photos);
    TPhotoListView *list = form->lvwPhotos;
    if (selected >= 0)
        list->setCurrentRow(selected);
    if (byKey) {
        QApplication::setActiveWindow(form.get());
        list->setFocus();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QTest::keyClick(list, Qt::Key_Delete);
    } else {
        form->miDelete->trigger();
    }

    QCOMPARE(Captions(list).join(u',').remove(QStringLiteral(".bmp")), order);
    const QList<QListWidgetItem *> selectedItems = list->selectedItems();
    QCOMPARE(selectedItems.isEmpty() ? -1 : list->row(selectedItems.first()), selectedAfter);
    if (previewColour < 0)
        QVERIFY(form->Preview().isNull());
    else
        QVERIFY(SameColour(form->Preview().pixelColor(0, 0), kColours[previewColour]));
    // The files themselves stay.
    for (const QString &photo : photos)
        QVERIFY(QFile::exists(photo));
}

void tst_Publish2WebForm::clearAsksFirst_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("left");

    QTest::newRow("Yes") << int(QMessageBox::Yes) << 0;
    QTest::newRow("Cancel") << int(QMessageBox::Cancel) << 3;
}

void tst_Publish2WebForm::clearAsksFirst()
{
    QFETCH(int, answer);
    QFETCH(int, left);

    FakePrompts prompts;
    prompts.answers << QMessageBox::StandardButton(answer);
    auto form = ShownForm(MakePhotos(3));
    QTest::mouseClick(form->sbnClearPhotos, Qt::LeftButton);
    QCOMPARE(prompts.messages.size(), 1);
    QCOMPARE(prompts.messages[0].caption, QStringLiteral("Confirm"));
    QCOMPARE(prompts.messages[0].text, QStringLiteral("Do you want to clear the photos list?"));
    QCOMPARE(prompts.messages[0].buttons, QMessageBox::Yes | QMessageBox::Cancel);
    QCOMPARE(form->lvwPhotos->count(), left);
}

void tst_Publish2WebForm::addAppendsSorted()
{
    FakePrompts prompts;
    prompts.fileAnswers << QStringList{"/f/c.jpg", "/f/A.jpg", "/f/b.bmp"} << QStringList{};
    auto form = ShownForm({QStringLiteral("/f/z.jpg")});
    QTest::mouseClick(form->sbnAddPhotos, Qt::LeftButton);
    QCOMPARE(Captions(form->lvwPhotos), (QStringList{"z.jpg", "A.jpg", "b.bmp", "c.jpg"}));

    QCOMPARE(prompts.fileRequests.size(), 1);
    const OpenFileRequest &request = prompts.fileRequests[0];
    QCOMPARE(request.initialDir, FTemp.path());
    QVERIFY(request.multiSelect);
    QVERIFY(request.previewPane);
    QVERIFY(request.preview);
    QCOMPARE(request.nameFilters.size(), 4);
    QVERIFY(request.nameFilters[0].contains(QStringLiteral("*.jpeg")));
    QVERIFY(request.nameFilters[3].contains(QStringLiteral("*.bmp")));

    // Cancelled: nothing added.
    QTest::mouseClick(form->sbnAddPhotos, Qt::LeftButton);
    QCOMPARE(form->lvwPhotos->count(), 4);
}

void tst_Publish2WebForm::previewDrawnTopCentre_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QRect>("drawn");

    QTest::newRow("wide") << QSize(300, 100) << QRect(0, 0, 150, 50);
    QTest::newRow("tall") << QSize(100, 400) << QRect(51, 0, 47, 189);
    QTest::newRow("small, not enlarged") << QSize(20, 10) << QRect(65, 0, 20, 10);
}

void tst_Publish2WebForm::previewDrawnTopCentre()
{
    QFETCH(QSize, picture);
    QFETCH(QRect, drawn);

    FakePrompts prompts;
    const QString file = MakePicture(FTemp.filePath(QStringLiteral("preview.bmp")), picture, Qt::red);
    auto form = ShownForm({file});
    QTest::mouseClick(form->lvwPhotos->viewport(), Qt::LeftButton, Qt::NoModifier, ItemCentre(form->lvwPhotos, 0));
    QVERIFY(prompts.messages.isEmpty());
    QCOMPARE(form->Preview().size(), drawn.size());

    const QImage shot = form->pbxPreview->grab().toImage();
    auto isRed = [&shot](int x, int y) { return SameColour(shot.pixelColor(x, y), Qt::red); };
    QVERIFY(isRed(drawn.left(), drawn.top()));
    QVERIFY(isRed(drawn.right(), drawn.bottom()));
    if (drawn.left() > 0)
        QVERIFY(!isRed(drawn.left() - 1, drawn.top()));
    if (drawn.right() < 149)
        QVERIFY(!isRed(drawn.right() + 1, drawn.top()));
    if (drawn.bottom() < 188)
        QVERIFY(!isRed(drawn.left(), drawn.bottom() + 1));
}

void tst_Publish2WebForm::brokenPreviewReported()
{
    FakePrompts prompts;
    const QString broken = FTemp.filePath(QStringLiteral("broken.jpg"));
    {
        QFile file(broken);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a picture");
    }
    const QStringList photos = MakePhotos(1) << broken;
    auto form = ShownForm(photos);
    form->lvwPhotos->setCurrentRow(0);
    QVERIFY(!form->Preview().isNull());
    form->lvwPhotos->setCurrentRow(1);
    QCOMPARE(prompts.messages.size(), 1);
    QCOMPARE(prompts.messages[0].icon, QMessageBox::Critical);
    // No picture of another photo stands under the broken one.
    QVERIFY(form->Preview().isNull());
    // The dialog goes on working.
    form->lvwPhotos->setCurrentRow(0);
    QVERIFY(SameColour(form->Preview().pixelColor(0, 0), kColours[0]));
}

void tst_Publish2WebForm::schemesRefreshOnDropDown()
{
    FakePrompts prompts;
    QTemporaryDir folder;
    for (const char *name : {"b.css", "a.css", "c.css"})
        QFile(folder.filePath(QLatin1String(name))).open(QIODevice::WriteOnly);
    auto form = std::make_unique<TfrmPublish2Web>(QString(), nullptr, folder.path());
    form->show();
    QCOMPARE(form->cbxSchemes->currentText(), QStringLiteral("a.css"));
    QTest::mouseClick(form->sbnOpenSchemes, Qt::LeftButton);
    QCOMPARE(prompts.openedDocuments, QStringList{folder.path() + u'/'});
    form->cbxSchemes->setCurrentIndex(2);

    // A new file shows at the next drop-down, the choice stays.
    QFile(folder.filePath(QStringLiteral("0.css"))).open(QIODevice::WriteOnly);
    form->cbxSchemes->showPopup();
    form->cbxSchemes->hidePopup();
    QCOMPARE(form->cbxSchemes->count(), 4);
    QCOMPARE(form->cbxSchemes->currentText(), QStringLiteral("c.css"));

    // The chosen one removed: back to the first.
    QVERIFY(QFile::remove(folder.filePath(QStringLiteral("c.css"))));
    form->cbxSchemes->showPopup();
    form->cbxSchemes->hidePopup();
    QCOMPARE(form->cbxSchemes->count(), 3);
    QCOMPARE(form->cbxSchemes->currentText(), QStringLiteral("0.css"));
    QCOMPARE(form->GallerySettings().Scheme, QStringLiteral("0.css"));

    // All gone: no scheme.
    QVERIFY(folder.remove());
    form->cbxSchemes->showPopup();
    form->cbxSchemes->hidePopup();
    QCOMPARE(form->cbxSchemes->count(), 0);
    QCOMPARE(form->GallerySettings().Scheme, QString());
}

void tst_Publish2WebForm::historyRules()
{
    FakePrompts prompts;
    QStringList stored;
    for (int i = 0; i < 20; ++i)
        stored << QStringLiteral("/d%1").arg(i);
    SaveStringList(kLastDestFoldersKey, stored, 20);
    {
        auto form = ShownForm({});
        QComboBox *dest = form->cbxDestFolder;
        QCOMPARE(dest->count(), 20);
        QCOMPARE(dest->currentText(), QString());

        // "Select" puts the chosen folder on top at once.
        prompts.folderAnswers << QStringLiteral("/chosen");
        QTest::mouseClick(form->sbnSelectDestination, Qt::LeftButton);
        QCOMPARE(dest->currentText(), QStringLiteral("/chosen"));
        QCOMPARE(dest->itemText(0), QStringLiteral("/chosen"));

        // Typed and run with "Overwrite photos": not added.
        dest->setEditText(QStringLiteral("/typed"));
        QTest::mouseClick(form->sbnRecreatePhotos, Qt::LeftButton);
        QCOMPARE(dest->findText(QStringLiteral("/typed")), -1);

        // "Publish" adds it; an entry already there moves up instead of
        // doubling, one differing in case is another folder.
        dest->setEditText(QStringLiteral("/d7"));
        QTest::mouseClick(form->sbnPublish, Qt::LeftButton);
        QCOMPARE(dest->itemText(0), QStringLiteral("/d7"));
        QCOMPARE(dest->count(), 21);
        dest->setEditText(QStringLiteral("/D7"));
        QTest::mouseClick(form->sbnPublish, Qt::LeftButton);
        QCOMPARE(dest->itemText(0), QStringLiteral("/D7"));
        QCOMPARE(dest->itemText(1), QStringLiteral("/d7"));
        QCOMPARE(dest->count(), 22);

        // An empty text adds nothing.
        dest->setEditText(QString());
        QTest::mouseClick(form->sbnPublish, Qt::LeftButton);
        QCOMPARE(dest->count(), 22);
    }
    // Saved when the dialog goes: 21 entries, most recent first.
    QStringList history;
    LoadStringList(kLastDestFoldersKey, history);
    QCOMPARE(history.size(), 21);
    QCOMPARE(history.mid(0, 4), (QStringList{"/D7", "/d7", "/chosen", "/d0"}));
}

void tst_Publish2WebForm::delRemovesHighlightedHistoryEntry()
{
    SaveStringList(kLastDestFoldersKey, {"/a", "/b", "/c"}, 20);
    auto form = ShownForm({});
    QComboBox *dest = form->cbxDestFolder;
    form->pgcMain->setCurrentWidget(form->tabSettings);
    dest->setEditText(QStringLiteral("/typed"));

    // Closed list: Del edits the text as usual.
    QApplication::setActiveWindow(form.get());
    dest->setFocus();
    dest->lineEdit()->setCursorPosition(0);
    QTest::keyClick(dest->lineEdit(), Qt::Key_Delete);
    QCOMPARE(dest->currentText(), QStringLiteral("typed"));
    QCOMPARE(dest->count(), 3);

    dest->showPopup();
    QTRY_VERIFY(dest->view()->isVisible());
    dest->view()->setCurrentIndex(dest->model()->index(1, 0));
    QTest::keyClick(dest->view(), Qt::Key_Delete);
    QCOMPARE(dest->count(), 2);
    QCOMPARE(dest->itemText(0), QStringLiteral("/a"));
    QCOMPARE(dest->itemText(1), QStringLiteral("/c"));
    QCOMPARE(dest->currentText(), QStringLiteral("typed"));
    dest->hidePopup();
}

void tst_Publish2WebForm::validationSwitchesPage_data()
{
    QTest::addColumn<bool>("withPhotos");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("settingsPage");

    QTest::newRow("no photos") << false << "Photos files are not selected." << false;
    QTest::newRow("no destination") << true << "The destination folder is not selected." << true;
}

void tst_Publish2WebForm::validationSwitchesPage()
{
    QFETCH(bool, withPhotos);
    QFETCH(QString, message);
    QFETCH(bool, settingsPage);

    FakePrompts prompts;
    auto form = ShownForm(withPhotos ? MakePhotos(2) : QStringList());
    form->pgcMain->setCurrentWidget(settingsPage ? form->tabPhotos : form->tabSettings);
    QTest::mouseClick(form->sbnPublish, Qt::LeftButton);
    QCOMPARE(prompts.messageTexts(), QStringList{message});
    QCOMPARE(form->pgcMain->currentWidget(), settingsPage ? form->tabSettings : form->tabPhotos);
    if (settingsPage)
        QCOMPARE(form->focusWidget(), form->cbxDestFolder);
    QVERIFY(form->isVisible());
    QCOMPARE(form->lvwPhotos->count(), withPhotos ? 2 : 0);
}

void tst_Publish2WebForm::escapeAndEnterPressNothing()
{
    FakePrompts prompts;
    auto form = ShownForm(MakePhotos(1));
    QApplication::setActiveWindow(form.get());
    form->lvwPhotos->setFocus();
    QTest::keyClick(form->lvwPhotos, Qt::Key_Return);
    QTest::keyClick(form->lvwPhotos, Qt::Key_Escape);
    QVERIFY(form->isVisible());
    QVERIFY(prompts.messages.isEmpty());
}

void tst_Publish2WebForm::sameGalleryAsCommandLineTool_data()
{
    QTest::addColumn<bool>("resize");
    QTest::addColumn<int>("jobs");
    QTest::newRow("photos copied") << false << 1;
    QTest::newRow("photos resized") << true << 1;
    QTest::newRow("photos copied, three at once") << false << 3;
    QTest::newRow("photos resized, three at once") << true << 3;
}

void tst_Publish2WebForm::sameGalleryAsCommandLineTool()
{
    QFETCH(bool, resize);
    QFETCH(int, jobs);

    QStringList photos;
    QImage gradient(320, 240, QImage::Format_RGB888);
    for (int y = 0; y < gradient.height(); ++y)
        for (int x = 0; x < gradient.width(); ++x)
            gradient.setPixelColor(x, y, QColor(x * 255 / 319, y * 255 / 239, (x + y) % 256));
    photos << FTemp.filePath(QStringLiteral("gradient.jpg"));
    QVERIFY(gradient.save(photos.last(), "JPEG", 90));
    photos << MakePicture(FTemp.filePath(QStringLiteral("Plain.BMP")), QSize(200, 90), Qt::darkCyan);
    const QString realPhoto = PhotosDir() + QStringLiteral("/originals/bridge.jpg");
    if (QFile::exists(realPhoto))
        photos << realPhoto;
    photos << photos.first();

    QTemporaryDir out;
    const QString byDialog = out.filePath(QStringLiteral("dialog"));
    const QString byTool = out.filePath(QStringLiteral("tool"));

    FakePrompts prompts;
    prompts.answers << QMessageBox::Yes;
    QString scheme;
    {
        TfrmPublish2Web form{QString()};
        QCOMPARE(form.PublishJobs, DefaultPublishJobs());
        form.PublishJobs = jobs;
        form.AddPhotoItems(photos);
        form.show();
        form.pgcMain->setCurrentWidget(form.tabSettings);
        form.edtThumbWidth->SetValue(90);
        form.edtThumbHeight->SetValue(70);
        form.edtThumbQuality->SetValue(60);
        if (resize)
            QTest::mouseClick(form.cbxResizePhotos, Qt::LeftButton);
        form.edtPhotoWidth->SetValue(240);
        form.edtPhotoHeight->SetValue(200);
        form.edtPhotoQuality->SetValue(75);
        form.edtThumbColumns->SetValue(2);
        scheme = form.cbxSchemes->currentText();
        form.cbxDestFolder->setEditText(byDialog);
        QTest::mouseClick(form.sbnPublish, Qt::LeftButton);
    }
    QCOMPARE(prompts.openedDocuments, QStringList{byDialog + QStringLiteral("/index.html")});

    QStringList arguments{"tamsel-gallery", "--dest", byTool, "--jobs", "1",
                          "--thumb-size", "90x70", "--thumb-quality", "60",
                          "--photo-quality", "75", "--columns", "2", "--scheme", scheme};
    if (resize)
        arguments << "--resize" << "240x200";
    arguments << "--" << photos;
    QCOMPARE(RunGalleryTool(arguments), 0);

    const QStringList files = FilesBelow(byDialog);
    QVERIFY(files.contains(QStringLiteral("index.html")));
    QVERIFY(files.contains(resize ? QStringLiteral("images/2.jpeg") : QStringLiteral("images/2.bmp")));
    QCOMPARE(FilesBelow(byTool), files);
    for (const QString &file : files)
        QVERIFY2(ReadAll(byDialog + u'/' + file) == ReadAll(byTool + u'/' + file), qPrintable(file));
}

QTEST_MAIN(tst_Publish2WebForm)
#include "tst_Publish2WebForm.moc"
