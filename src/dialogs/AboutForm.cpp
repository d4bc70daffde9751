#include "AboutForm.h"

// Local
#include "AppError.h"
#include "ShellOps.h"
#include "TamselConfig.h"

// Qt
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

TfrmAbout::TfrmAbout(QWidget *owner)
    : QDialog(owner)
{
    setObjectName(QStringLiteral("frmAbout"));

    auto *panel = new QFrame(this);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Raised);
    panel->setLineWidth(2);
    panel->setMinimumSize(297, 137);

    lblProductName = new QLabel(QStringLiteral("Product Name"), panel);
    QFont big = lblProductName->font();
    big.setBold(true);
    big.setPixelSize(21);
    lblProductName->setFont(big);

    Label2 = new QLabel(QStringLiteral("Version:"), panel);
    Label5 = new QLabel(QStringLiteral("1.00"), panel);
    Label3 = new QLabel(QStringLiteral("Home page:"), panel);
    Label4 = new QLabel(QStringLiteral(TAMSEL_HOME_HOST), panel);
    QFont link = Label4->font();
    link.setUnderline(true);
    Label4->setFont(link);
    QPalette linkPalette = Label4->palette();
    linkPalette.setColor(QPalette::WindowText, Qt::blue);
    Label4->setPalette(linkPalette);
    Label4->setCursor(Qt::PointingHandCursor);
    Label4->installEventFilter(this);

    auto *grid = new QGridLayout(panel);
    grid->setContentsMargins(25, 20, 20, 16);
    grid->setVerticalSpacing(12);
    grid->addWidget(lblProductName, 0, 0, 1, 3);
    grid->setColumnMinimumWidth(0, 16);
    grid->addWidget(Label2, 1, 1);
    grid->addWidget(Label5, 1, 2);
    grid->addWidget(Label3, 2, 1);
    grid->addWidget(Label4, 2, 2);
    grid->setColumnStretch(2, 1);

    btnClose = new QPushButton(QStringLiteral("Close"), this);
    btnClose->setFocusPolicy(Qt::ClickFocus);
    btnClose->setMinimumSize(75, 25);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnClose);
    buttons->addStretch();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(7, 8, 7, 8);
    layout->addWidget(panel);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    FormCreate();
}

QString TfrmAbout::HomePageAddress()
{
    return QStringLiteral("http://" TAMSEL_HOME_HOST);
}

void TfrmAbout::FormCreate()
{
    const QString title = QGuiApplication::applicationDisplayName();
    lblProductName->setText(title);
    setWindowTitle(QStringLiteral("About ") + title);
}

bool TfrmAbout::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Label4 && event->type() == QEvent::MouseButtonRelease) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton && Label4->rect().contains(mouse->position().toPoint())) {
            RunGuarded([this] { Label4Click(); });
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmAbout::Label4Click()
{
    ShellOpen(HomePageAddress());
}

void ShowAboutForm(QWidget *owner)
{
    TfrmAbout form(owner);
    form.exec();
}
