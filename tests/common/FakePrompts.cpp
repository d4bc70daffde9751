#include "FakePrompts.h"

namespace {

class RecordingHandle : public FolderDialogHandle
{
public:
    explicit RecordingHandle(FakePrompts *owner) : FOwner(owner) {}
    void setSelection(const QString &path) override { FOwner->folderSelections << path; }
    void setStatusText(const QString &text) override { FOwner->folderStatusTexts << text; }

private:
    FakePrompts *FOwner;
};

} // namespace

FakePrompts::FakePrompts()
    : FPrevious(Prompts::install(this))
{
}

FakePrompts::~FakePrompts()
{
    Prompts::install(FPrevious);
}

QStringList FakePrompts::messageTexts() const
{
    QStringList texts;
    for (const Message &m : messages)
        texts << m.text;
    return texts;
}

QMessageBox::StandardButton FakePrompts::message(QWidget *parent, QMessageBox::Icon icon,
                                                 const QString &caption, const QString &text,
                                                 QMessageBox::StandardButtons buttons,
                                                 QMessageBox::StandardButton defaultButton)
{
    messages << Message{parent, icon, caption, text, buttons};
    if (answers.isEmpty())
        return defaultButton;
    return answers.takeFirst();
}

QStringList FakePrompts::openFiles(const OpenFileRequest &request)
{
    fileRequests << request;
    if (fileAnswers.isEmpty())
        return {};
    return fileAnswers.takeFirst();
}

QString FakePrompts::chooseFolder(FolderRequest &request)
{
    folderRequests << request;
    RecordingHandle handle(this);
    if (request.onOpened)
        request.onOpened(&handle);
    if (whileFolderOpen)
        whileFolderOpen(request, &handle);
    if (request.onClosed)
        request.onClosed();
    if (folderAnswers.isEmpty())
        return {};
    return folderAnswers.takeFirst();
}

void FakePrompts::openDocument(const QString &pathOrUrl)
{
    openedDocuments << pathOrUrl;
}
