#pragma once

// Qt
#include <QString>

// Std
#include <exception>
#include <functional>

// The one error type of the program. It carries the text the user sees.
// Decoders, the settings store, the shell layer and the gallery generator
// throw it; command and event handlers catch it at the slot boundary and hand
// the text to the general error handler.
class AppError : public std::exception
{
public:
    explicit AppError(QString message);

    const QString &message() const noexcept { return FMessage; }
    const char *what() const noexcept override { return FUtf8.constData(); }

private:
    QString FMessage;
    QByteArray FUtf8;
};

// The text shown by the general error handler: the message with a full stop
// appended when its last character has a code above that of the full stop.
QString ErrorBoxText(const QString &message);

// The application's general error handler: an error box (error icon, one OK
// button, the application title (the application name) as caption) through the prompt seam,
// over the window the user is working in. The program goes on afterwards.
void ShowAppError(const QString &message);

// Runs f; the text of an error that escapes it (an AppError's message, "Out
// of memory", another standard exception's what()) goes to report. Returns
// false when an error was reported.
bool RunReporting(const std::function<void()> &f, const std::function<void(const QString &)> &report);

// Runs f and routes any error that escapes it to the general error handler.
// Every slot connected to a user command runs through this, so that no
// exception ever unwinds through Qt's event loop. Returns false when an error
// was handled.
bool RunGuarded(const std::function<void()> &f);
