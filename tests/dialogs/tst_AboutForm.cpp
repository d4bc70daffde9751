// Local
#include "AboutForm.h"
#include "FakePrompts.h"
#include "TamselConfig.h"

// Qt
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

// Runs `drive` on the about box once ShowAboutForm has it on screen. A box
// nobody closes is rejected after a while, so a fault cannot hang the test.
bool RunAboutBox(const std::function<void(TfrmAbout *)> &drive)
{
    bool driven = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto *form = qobject_cast<TfrmAbout *>(QApplication::activeModalWidget())) {
            poll.stop();
            driven = true;
            drive(form);
            QTimer::singleShot(5000, form, [form] { form->reject(); });
        }
    });
    poll.start();
    ShowAboutForm(nullptr);
    return driven;
}

int OpenAboutBoxes()
{
    int count = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        count += qobject_cast<TfrmAbout *>(w) != nullptr;
    return count;
}

} // namespace

class tst_AboutForm : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void texts_data();
    void texts();
    void linkOpensHomePage();
    void closes_data();
    void closes();
};

void tst_AboutForm::cleanup()
{
    QApplication::setApplicationDisplayName(QString());
}

void tst_AboutForm::texts_data()
{
    QTest::addColumn<QString>("title");

    QTest::newRow("program title") << "Tamsel Photo Editor";
    QTest::newRow("another title") << "Other Viewer";
}

void tst_AboutForm::texts()
{
    QFETCH(QString, title);
    QApplication::setApplicationDisplayName(title);

    TfrmAbout form;
    QCOMPARE(form.windowTitle(), QStringLiteral("About ") + title);
    QCOMPARE(form.lblProductName->text(), title);
    QVERIFY(form.lblProductName->font().bold());
    QCOMPARE(form.Label2->text(), QStringLiteral("Version:"));
    QCOMPARE(form.Label5->text(), QStringLiteral("1.00"));
    QCOMPARE(form.Label3->text(), QStringLiteral("Home page:"));
    QCOMPARE(form.Label4->text(), QStringLiteral(TAMSEL_HOME_HOST));
    QVERIFY(form.Label4->font().underline());
    QCOMPARE(form.Label4->palette().color(QPalette::WindowText), QColor(Qt::blue));
    QCOMPARE(form.Label4->cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(form.btnClose->text(), QStringLiteral("Close"));
}

void tst_AboutForm::linkOpensHomePage()
{
    FakePrompts prompts;
    TfrmAbout form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    QTest::mouseClick(form.Label2, Qt::LeftButton);
    QVERIFY(prompts.openedDocuments.isEmpty());
    QTest::mouseClick(form.Label4, Qt::LeftButton);
    QCOMPARE(prompts.openedDocuments, QStringList{QStringLiteral("http://" TAMSEL_HOME_HOST)});
    QVERIFY(prompts.messages.isEmpty());
}

void tst_AboutForm::closes_data()
{
    QTest::addColumn<bool>("useEscape");

    QTest::newRow("Close") << false;
    QTest::newRow("Escape") << true;
}

void tst_AboutForm::closes()
{
    QFETCH(bool, useEscape);

    bool closedByUs = false;
    const bool driven = RunAboutBox([&](TfrmAbout *form) {
        if (useEscape)
            QTest::keyClick(form, Qt::Key_Escape);
        else
            QTest::mouseClick(form->btnClose, Qt::LeftButton);
        closedByUs = !form->isVisible();
    });
    QVERIFY(driven);
    QVERIFY(closedByUs);
    // The box is destroyed before ShowAboutForm returns.
    QCOMPARE(OpenAboutBoxes(), 0);
}

QTEST_MAIN(tst_AboutForm)
#include "tst_AboutForm.moc"
