#include "MsgUtils.h"

// Local
#include "Prompts.h"

// Qt
#include <QApplication>
#include <QMainWindow>

namespace {

QString CaptionOf(QMessageBox::Icon kind)
{
    switch (kind) {
    case QMessageBox::Question:
        return QStringLiteral("Confirm");
    case QMessageBox::Warning:
        return QStringLiteral("Warning");
    case QMessageBox::Critical:
        return QCoreApplication::applicationName();
    default:
        return QStringLiteral("Information");
    }
}

// A modal dialog on top takes precedence: a box owned by a window it blocks
// could open behind it, out of reach.
QWidget *BoxParent()
{
    if (QWidget *modal = QApplication::activeModalWidget())
        return modal;
    if (QWidget *active = QApplication::activeWindow())
        return active;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (qobject_cast<QMainWindow *>(window) && window->isVisible())
            return window;
    }
    return nullptr;
}

} // namespace

QMessageBox::StandardButton CenteredMessageDlg(const QString &text, QMessageBox::Icon kind,
                                               QMessageBox::StandardButtons buttons)
{
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    if (buttons.testFlag(QMessageBox::Yes))
        defaultButton = QMessageBox::Yes;
    else if (buttons.testFlag(QMessageBox::Ok))
        defaultButton = QMessageBox::Ok;
    return Prompts::current().message(BoxParent(), kind, CaptionOf(kind), text, buttons, defaultButton);
}
