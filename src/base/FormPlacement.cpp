#include "FormPlacement.h"

// Local
#include "RegLib.h"

// Qt
#include <QWidget>

void LoadFormPlacement(const QString &key, QWidget *form, bool positionOnly)
{
    if (!form)
        return;
    const auto reg = OpenRegKey(key);
    qint32 value = 0;
    if (reg->TryReadInteger(QStringLiteral("Top"), value))
        form->move(form->x(), value);
    if (reg->TryReadInteger(QStringLiteral("Left"), value))
        form->move(value, form->y());
    if (positionOnly)
        return;
    QSize size = form->size();
    if (reg->TryReadInteger(QStringLiteral("Width"), value))
        size.setWidth(value);
    if (reg->TryReadInteger(QStringLiteral("Height"), value))
        size.setHeight(value);
    if (size != form->size())
        form->resize(size.expandedTo(form->minimumSize()));
    if (reg->TryReadInteger(QStringLiteral("WindowState"), value)) {
        const Qt::WindowStates state = form->windowState() & ~Qt::WindowMinimized;
        switch (value) {
        case 0:
            form->setWindowState(state & ~Qt::WindowMaximized);
            break;
        case 1:
            form->setWindowState(state | Qt::WindowMaximized);
            break;
        default:
            break;
        }
    }
}

void SaveFormPlacement(const QString &key, QWidget *form)
{
    if (!form)
        return;
    const Qt::WindowStates state = form->windowState();
    if (state & Qt::WindowMinimized) {
        OpenRegKey(key);
        return;
    }
    // A full-screen window is stored as maximized: the next start opens it
    // maximized in normal mode.
    if (state & (Qt::WindowMaximized | Qt::WindowFullScreen)) {
        WriteRegIntegers(key, {{QStringLiteral("WindowState"), 1}});
        return;
    }
    WriteRegIntegers(key, {{QStringLiteral("Top"), form->y()},
                           {QStringLiteral("Left"), form->x()},
                           {QStringLiteral("Width"), form->width()},
                           {QStringLiteral("Height"), form->height()},
                           {QStringLiteral("WindowState"), 0}});
}
