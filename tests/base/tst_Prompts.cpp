// Local
#include "Prompts.h"

// Qt
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QTimer>
#include <QtTest>

namespace {

// Runs open, which shows a modal dialog of the real prompts, and hands that
// dialog to read until read returns true; read closes it. A dialog that read
// never accepts is closed after a while, failing the test instead of hanging.
void WhileModal(const std::function<void()> &open, const std::function<bool(QWidget *)> &read)
{
    bool done = false;
    int polls = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || done)
            return;
        done = read(modal);
        if (!done && ++polls > 2000)
            modal->close();
    });
    poll.start(10);
    open();
    QVERIFY(done);
}

} // namespace

class tst_Prompts : public QObject
{
    Q_OBJECT

private slots:
    void namesShownAsWritten_data();
    void namesShownAsWritten();
};

void tst_Prompts::namesShownAsWritten_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("markup") << "x<b>bold.bmp";
    QTest::newRow("ampersand") << "Tom & Jerry";
    QTest::newRow("entity and tag") << "<i>R&amp;D</i>";
}

void tst_Prompts::namesShownAsWritten()
{
    QFETCH(QString, name);
    DesktopPrompts prompts;

    const QString question = QStringLiteral("Move \"%1\" to the Trash?").arg(name);
    QString shown;
    Qt::TextFormat format = Qt::AutoText;
    WhileModal(
        [&] {
            prompts.message(nullptr, QMessageBox::Question, QStringLiteral("Confirm"), question,
                            QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
        },
        [&](QWidget *box) {
            auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
            if (!label)
                return false;
            shown = label->text();
            format = label->textFormat();
            static_cast<QMessageBox *>(box)->button(QMessageBox::No)->click();
            return true;
        });
    QCOMPARE(shown, question);
    QCOMPARE(format, Qt::PlainText);

    // The status line of the folder dialog.
    FolderRequest request;
    request.directory = QDir::tempPath();
    request.showStatus = true;
    request.onOpened = [&](FolderDialogHandle *handle) { handle->setStatusText(name); };
    shown.clear();
    format = Qt::AutoText;
    WhileModal([&] { prompts.chooseFolder(request); }, [&](QWidget *dialog) {
        auto *status = dialog->findChild<QLabel *>(QStringLiteral("statusText"));
        if (!status || status->text().isEmpty())
            return false;
        shown = status->text();
        format = status->textFormat();
        static_cast<QDialog *>(dialog)->reject();
        return true;
    });
    QCOMPARE(shown, name);
    QCOMPARE(format, Qt::PlainText);
}

QTEST_MAIN(tst_Prompts)
#include "tst_Prompts.moc"
