#include "AppError.h"

// Local
#include "UserPrompts.h"

// Qt
#include <QCoreApplication>

// Std
#include <new>

AppError::AppError(QString message)
    : FMessage(std::move(message))
    , FUtf8(FMessage.toUtf8())
{
}

QString ErrorBoxText(const QString &message)
{
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + u'.';
    return message;
}

void ShowAppError(const QString &message)
{
    UserPrompts::current().showError(QCoreApplication::applicationName(), ErrorBoxText(message));
}

bool RunGuarded(const std::function<void()> &f)
{
    try {
        f();
        return true;
    } catch (const AppError &e) {
        ShowAppError(e.message());
    } catch (const std::bad_alloc &) {
        ShowAppError(QStringLiteral("Out of memory"));
    } catch (const std::exception &e) {
        ShowAppError(QString::fromLocal8Bit(e.what()));
    }
    return false;
}
