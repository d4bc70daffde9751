#pragma once

// Local
#include "AppError.h"

// Qt
#include <QObject>

// A member of receiver wrapped in RunGuarded, for a signal or a callback of
// a user command: an error it throws goes to the general error handler
// instead of unwinding through Qt's event loop.
template <typename Receiver, typename... Args>
auto Guarded(Receiver *receiver, void (Receiver::*handler)(Args...))
{
    return [receiver, handler](Args... args) { RunGuarded([&] { (receiver->*handler)(args...); }); };
}

// Connects signal to a member of receiver that runs through RunGuarded; the
// connection ends with the receiver, as with Qt's own.
template <typename Sender, typename Signal, typename Receiver, typename... Args>
QMetaObject::Connection ConnectGuarded(const Sender *sender, Signal signal, Receiver *receiver,
                                       void (Receiver::*handler)(Args...))
{
    return QObject::connect(sender, signal, receiver, Guarded(receiver, handler));
}
