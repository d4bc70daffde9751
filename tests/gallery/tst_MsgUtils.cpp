// Local
#include "FakePrompts.h"
#include "MsgUtils.h"

// Qt
#include <QtTest>

class tst_MsgUtils : public QObject
{
    Q_OBJECT

private slots:
    void boxes_data();
    void boxes();
};

void tst_MsgUtils::boxes_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("answer");     // NoButton: none queued
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("result");

    const int yesCancel = QMessageBox::Yes | QMessageBox::Cancel;
    QTest::newRow("information") << int(QMessageBox::Information) << int(QMessageBox::Ok)
                                 << int(QMessageBox::NoButton) << "Information" << int(QMessageBox::Ok);
    QTest::newRow("confirm, yes") << int(QMessageBox::Question) << yesCancel << int(QMessageBox::Yes)
                                  << "Confirm" << int(QMessageBox::Yes);
    QTest::newRow("confirm, cancel") << int(QMessageBox::Question) << yesCancel << int(QMessageBox::Cancel)
                                     << "Confirm" << int(QMessageBox::Cancel);
    // Enter in a confirmation box consents, as its first button is the default.
    QTest::newRow("confirm, default") << int(QMessageBox::Question) << yesCancel << int(QMessageBox::NoButton)
                                      << "Confirm" << int(QMessageBox::Yes);
}

void tst_MsgUtils::boxes()
{
    QFETCH(int, kind);
    QFETCH(int, buttons);
    QFETCH(int, answer);
    QFETCH(QString, caption);
    QFETCH(int, result);

    FakePrompts prompts;
    if (answer != QMessageBox::NoButton)
        prompts.answers << QMessageBox::StandardButton(answer);
    const QMessageBox::StandardButton pressed = CenteredMessageDlg(
        QStringLiteral("Text\r\nline two"), QMessageBox::Icon(kind), QMessageBox::StandardButtons(buttons));

    QCOMPARE(int(pressed), result);
    QCOMPARE(prompts.messages.size(), 1);
    const FakePrompts::Message &box = prompts.messages.constFirst();
    QCOMPARE(int(box.icon), kind);
    QCOMPARE(box.caption, caption);
    QCOMPARE(box.text, QStringLiteral("Text\r\nline two"));
    QCOMPARE(int(box.buttons), buttons);
}

QTEST_MAIN(tst_MsgUtils)
#include "tst_MsgUtils.moc"
