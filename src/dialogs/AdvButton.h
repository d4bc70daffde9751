#pragma once

// Qt
#include <QObject>
#include <QString>

class QAbstractButton;
class QMenu;

// Turns a toolbar button into a drop-down list of search words read from
// "words.dat" beside the program; choosing a word opens a web search.
class TAdvButton : public QObject
{
    Q_OBJECT

public:
    explicit TAdvButton(QObject *owner = nullptr);
    ~TAdvButton() override;

    // Remembers the button, takes over its click, then LoadWords (which
    // throws AppError when the word file cannot be read).
    void Attach(QAbstractButton *button);
    void LoadWords();
    void LoadWords(const QString &wordFile);

    QString SubId;

    QMenu *Menu() const { return FMenu; }
    // The search address for a menu caption.
    QString SearchAddress(const QString &caption) const;

private:
    void ButtonClick();
    void WordClick(const QString &caption);

    QAbstractButton *FButton = nullptr;
    QMenu *FMenu = nullptr;
};
