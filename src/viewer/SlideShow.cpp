#include "SlideShow.h"

// Local
#include "PicList.h"

// Qt
#include <QCoreApplication>
#include <QEvent>

TSlideShow::TSlideShow(TPicList *list, QObject *parent) : QObject(parent), FList(list)
{
    connect(&FTimer, &QTimer::timeout, this, &TSlideShow::Tick);
}

void TSlideShow::Start(std::chrono::milliseconds interval)
{
    if (IsRunning() || FList->ItemIndex() == -1)
        return;
    FTimer.start(interval);
    QCoreApplication::instance()->installEventFilter(this);
}

void TSlideShow::Stop()
{
    if (!IsRunning())
        return;
    FTimer.stop();
    QCoreApplication::instance()->removeEventFilter(this);
    if (OnStop)
        OnStop();
}

void TSlideShow::Tick()
{
    // The last picture has had its time: the show is over.
    if (FList->ItemIndex() == -1 || FList->ItemIndex() >= FList->Count() - 1) {
        Stop();
        return;
    }
    FList->Next();
}

bool TSlideShow::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::ShortcutOverride:
    case QEvent::MouseButtonPress:
        // Taken: the key that stops the show does not also delete or step.
        // Shortcuts are matched on the override event before the key press;
        // accepting it keeps the shortcut from firing.
        event->accept();
        Stop();
        return true;
    default:
        return QObject::eventFilter(watched, event);
    }
}
