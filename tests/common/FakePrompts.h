#pragma once

// Local
#include "Prompts.h"

// Qt
#include <QList>
#include <QMessageBox>
#include <QStringList>

// Std
#include <functional>

// Answers every question of the program without a person and records what
// was asked. Install it for the life of a test:
//
//     FakePrompts prompts;              // installs itself, restores on exit
//     prompts.answers << QMessageBox::Yes;
//     ... run the command ...
//     QCOMPARE(prompts.messages.size(), 1);
//
// A message box with no queued answer gets the default button; an
// open-file or folder dialog with no queued answer is cancelled.
class FakePrompts : public Prompts
{
public:
    struct Message
    {
        QWidget *parent;
        QMessageBox::Icon icon;
        QString caption;
        QString text;
        QMessageBox::StandardButtons buttons;
    };

    FakePrompts();
    ~FakePrompts() override;

    QList<QMessageBox::StandardButton> answers;   // message box answers, in order
    QList<QStringList> fileAnswers;               // open-file answers ({} cancels)
    QStringList folderAnswers;                    // folder answers ("" cancels)
    // Optional: runs while a folder dialog is "open", with its request (for
    // driving onSelect / the handle).
    std::function<void(FolderRequest &, FolderDialogHandle *)> whileFolderOpen;

    QList<Message> messages;
    QList<OpenFileRequest> fileRequests;
    QList<FolderRequest> folderRequests;
    QStringList openedDocuments;
    // Status texts and selections pushed into an open folder dialog.
    QStringList folderStatusTexts;
    QStringList folderSelections;

    // Texts of the recorded messages.
    QStringList messageTexts() const;

    QMessageBox::StandardButton message(QWidget *parent, QMessageBox::Icon icon,
                                        const QString &caption, const QString &text,
                                        QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton) override;
    QStringList openFiles(const OpenFileRequest &request) override;
    QString chooseFolder(FolderRequest &request) override;
    void openDocument(const QString &pathOrUrl) override;

private:
    Prompts *FPrevious;
};
