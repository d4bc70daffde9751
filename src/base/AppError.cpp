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

bool RunReporting(const std::function<void()> &f, const std::function<void(const QString &)> &report)
{
    try {
        f();
        return true;
    } catch (const AppError &e) {
        report(e.message());
    } catch (const std::bad_alloc &) {
        report(QStringLiteral("Out of memory"));
    } catch (const std::exception &e) {
        report(QString::fromLocal8Bit(e.what()));
    }
    return false;
}

bool RunGuarded(const std::function<void()> &f)
{
    return RunReporting(f, ShowAppError);
}
