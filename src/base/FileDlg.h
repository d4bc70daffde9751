#pragma once

// Qt
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

// Std
#include <functional>

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
    // 1-based like the filter list it indexes; 0 and 1 both select the first.
    int FilterIndex = 0;

    virtual bool Execute() = 0;
};

class TFileOpenDialog : public TFileCommonDialog
{
public:
    QStringList Files;
    bool AllowMultiSelect = false;
    // The gallery's picture dialog shows a preview of the chosen picture,
    // made by PreviewLoader (a picture fitted into the box; a null image or
    // an error shows nothing).
    bool PreviewPane = false;
    std::function<QImage(const QString &file, const QSize &box)> PreviewLoader;

    // True when the user chose a file: FileName holds it (the first one of a
    // multiple selection) and, with AllowMultiSelect, Files holds every chosen
    // file, all as full paths. False on cancel, leaving FileName and Files as
    // they were.
    bool Execute() override;
};

// "Image Files|*.jpeg;*.jpg|All Files|*.*" -> {"Image Files (*.jpeg *.jpg)",
// "All Files (*)"}. A trailing "|" changes nothing; a description without a
// pattern list is dropped.
QStringList QtNameFilters(const QString &filter);
