#pragma once

// Qt
#include <QString>
#include <QStringList>

class QWidget;

// The modal open-file dialog, as a plain object: create it, set its fields,
// call Execute, read FileName (and Files after a multiple selection).
// Filters keep the "text|patterns|text|patterns" form; they are turned into
// Qt's filters by QtNameFilters alone.
class TFileCommonDialog
{
public:
    virtual ~TFileCommonDialog() = default;

    QWidget *OwnerHandle = nullptr;
    QString InitialDir;
    QString Title;
    QString FileName;
    QString Filter;
    int FilterIndex = 0;

    virtual bool Execute() = 0;
};

class TFileOpenDialog : public TFileCommonDialog
{
public:
    QStringList Files;
    bool AllowMultiSelect = false;
    // The gallery's picture dialog shows a preview of the chosen picture.
    bool PreviewPane = false;

    // True when the user chose a file; false on cancel, leaving FileName and
    // Files as they were.
    bool Execute() override;
};

// "Image Files|*.jpeg;*.jpg|All Files|*.*" -> {"Image Files (*.jpeg *.jpg)",
// "All Files (*)"}. A trailing "|" changes nothing.
QStringList QtNameFilters(const QString &filter);
