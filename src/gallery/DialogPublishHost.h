#pragma once

// Local
#include "PublishUtils.h"

// Qt
#include <QPointer>

// Std
#include <functional>

class QWidget;

// The host of a run started from the gallery dialog: the progress dialog
// (owned by the window on top, so that its Cancel button stays reachable),
// the gallery's message boxes, the desktop's "open", and the dialog's page
// switches through the callbacks it sets.
class DialogPublishHost : public PublishHost
{
public:
    explicit DialogPublishHost(QWidget *owner);

    std::function<void()> OnShowPhotosPage;
    std::function<void()> OnShowDestinationSetting;

    void ShowPhotosPage() override;
    void ShowDestinationSetting() override;
    void Information(const QString &text) override;
    bool Confirm(const QString &text) override;
    std::unique_ptr<TPublishProgress> StartProgress(const QString &caption, const QString &text) override;
    void OpenDocument(const QString &path) override;

private:
    QPointer<QWidget> FOwner;
};
