#pragma once

// Qt
#include <QString>
#include <QStringList>

class QWidget;

// Runs the gallery dialog with the given photos (the viewer's list, in its
// order); lastOpenFolder is where its picture dialog starts.
void ShowPublish2Web(const QStringList &files, const QString &lastOpenFolder, QWidget *owner);
