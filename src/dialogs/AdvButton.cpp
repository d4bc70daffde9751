#include "AdvButton.h"

// Local
#include "AppError.h"
#include "AppPaths.h"
#include "Prompts.h"
#include "ShellOps.h"
#include "TamselConfig.h"
#include "TextUtils.h"

// Qt
#include <QAbstractButton>
#include <QFile>
#include <QMenu>
#include <QStringDecoder>

namespace {

// The word file is UTF-8; a file that is not (an old one saved in a Windows
// code page) is read as Latin-1 rather than shown with replacement marks.
QString DecodeWordFile(const QByteArray &bytes)
{
    QByteArray data = bytes;
    if (data.startsWith("\xEF\xBB\xBF"))
        data.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(data);
    if (utf8.hasError())
        text = QString::fromLatin1(data);
    return text;
}

} // namespace

TAdvButton::TAdvButton(QObject *owner)
    : QObject(owner)
{
}

TAdvButton::~TAdvButton()
{
    delete FMenu;
}

void TAdvButton::Attach(QAbstractButton *button)
{
    if (FButton)
        disconnect(FButton, nullptr, this, nullptr);
    FButton = button;
    if (FButton)
        connect(FButton, &QAbstractButton::clicked, this, &TAdvButton::ButtonClick);
    LoadWords();
}

void TAdvButton::LoadWords()
{
    LoadWords(BesideProgram(QStringLiteral("words.dat")));
}

void TAdvButton::LoadWords(const QString &wordFile)
{
    QFile file(wordFile);
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("Cannot open file %1: %2").arg(wordFile, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw AppError(QStringLiteral("Cannot read file %1: %2").arg(wordFile, file.errorString()));
    file.close();

    auto *menu = new QMenu;
    QString text = DecodeWordFile(bytes);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(u'\r', u'\n');
    const QStringList lines = text.split(u'\n');
    for (const QString &line : lines) {
        const QString caption = TrimBlanks(line);
        if (caption.isEmpty())
            continue;
        if (caption == QLatin1String("-")) {
            menu->addSeparator();
            continue;
        }
        // "&&" shows one ampersand instead of marking an access key; the
        // caption itself travels in the entry's data.
        QAction *entry = menu->addAction(MenuEntryText(caption));
        entry->setData(caption);
        connect(entry, &QAction::triggered, this, [this, entry] { WordClick(entry); });
    }
    delete FMenu;
    FMenu = menu;
}

void TAdvButton::ButtonClick()
{
    // Without a word file there is no menu, and the click does nothing.
    if (!FMenu || !FButton)
        return;
    FMenu->popup(FButton->mapToGlobal(QPoint(0, FButton->height())));
}

QString TAdvButton::SearchAddress(const QString &caption) const
{
    QString address = QStringLiteral("http://" TAMSEL_SEARCH_HOST "/search.php?aid=" TAMSEL_SEARCH_AID);
    if (!SubId.isEmpty())
        address += QStringLiteral("&said=") + SubId;
    address += QStringLiteral("&q=") + QString(caption).replace(u' ', u'+');
    return address;
}

void TAdvButton::WordClick(QAction *entry)
{
    if (entry)
        ShellOpen(SearchAddress(entry->data().toString()));
}
