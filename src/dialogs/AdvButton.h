#pragma once

// Qt
#include <QObject>
#include <QString>

class QAbstractButton;
class QAction;
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

    // Sent to the search service as "said" when not empty.
    QString SubId;

    // The menu built from the word file; none until a file was read.
    QMenu *Menu() const { return FMenu; }
    // The search address for a menu caption.
    QString SearchAddress(const QString &caption) const;

    // What a click on the attached button and the choice of an entry do.
    void ButtonClick();
    void WordClick(QAction *entry);

private:
    QAbstractButton *FButton = nullptr;
    QMenu *FMenu = nullptr;
};
