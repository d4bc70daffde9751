#include "UserPrompts.h"

// Qt
#include <QDesktopServices>
#include <QUrl>

// Std
#include <cstdio>

namespace {

// Without a window there is nobody to ask.
class NoUserPrompts : public UserPrompts
{
public:
    int askMessage(QWidget *, Box::Icon, const QString &caption, const QString &text, int, int) override
    {
        fprintf(stderr, "%s: %s\n", caption.toLocal8Bit().constData(), text.toLocal8Bit().constData());
        return Box::NoButton;
    }
    void openDocument(const QString &pathOrUrl) override { OpenWithDesktop(pathOrUrl); }
};

NoUserPrompts &noUserPrompts()
{
    static NoUserPrompts instance;
    return instance;
}

UserPrompts *g_installed = nullptr;

} // namespace

UserPrompts::~UserPrompts() = default;

void UserPrompts::showError(const QString &caption, const QString &text)
{
    askMessage(nullptr, Box::Critical, caption, text, Box::Ok, Box::Ok);
}

UserPrompts &UserPrompts::current()
{
    return g_installed ? *g_installed : noUserPrompts();
}

UserPrompts *UserPrompts::install(UserPrompts *prompts)
{
    UserPrompts *previous = g_installed;
    g_installed = prompts;
    return previous;
}

void OpenWithDesktop(const QString &pathOrUrl)
{
    const QUrl url = pathOrUrl.contains(QLatin1String("://"))
                         ? QUrl(pathOrUrl)
                         : QUrl::fromLocalFile(pathOrUrl);
    QDesktopServices::openUrl(url);
}
