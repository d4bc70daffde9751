#pragma once

// Qt
#include <QObject>
#include <QTimer>

// Std
#include <chrono>
#include <functional>

class TPicList;

// Steps a picture list forward every few seconds until the last picture has
// had its time, or until the user presses any key or a mouse button
// anywhere in the program; that key or click only stops the show. The next
// picture is read ahead by the list's prefetch while the current one is on,
// so each change only paints.
class TSlideShow : public QObject
{
    Q_OBJECT

public:
    explicit TSlideShow(TPicList *list, QObject *parent = nullptr);

    bool IsRunning() const { return FTimer.isActive(); }
    // Starts from the picture on show, a step every interval; does nothing
    // without pictures.
    void Start(std::chrono::milliseconds interval);
    void Stop();

    // Called once when a running show stops, however it stops.
    std::function<void()> OnStop;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Tick();

    TPicList *FList;
    QTimer FTimer;
};
