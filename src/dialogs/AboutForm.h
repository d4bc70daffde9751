#pragma once

// Qt
#include <QDialog>

class QLabel;
class QPushButton;

// The about box: product name, version and the home page link.
class TfrmAbout : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmAbout(QWidget *owner = nullptr);

    QLabel *lblProductName;
    QLabel *Label2;
    QLabel *Label5;
    QLabel *Label3;
    QLabel *Label4;
    QPushButton *btnClose;

    // The home page address the link opens.
    static QString HomePageAddress();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FormCreate();
    void Label4Click();
};

// Runs the about box.
void ShowAboutForm(QWidget *owner);
