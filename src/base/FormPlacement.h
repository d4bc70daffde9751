#pragma once

// Qt
#include <QString>

class QWidget;

// Window placement under Key in the settings store: "Top", "Left", "Width",
// "Height" and "WindowState" (0 normal, 1 maximized). The bounds are the
// window's position (the frame's top-left corner, QWidget::pos) and its
// client size (QWidget::size), which move() and resize() put back exactly. A
// value that is missing or holds a string (a hand-edited store) is ignored:
// the form keeps its own value for it.
void LoadFormPlacement(const QString &key, QWidget *form, bool positionOnly);
void SaveFormPlacement(const QString &key, QWidget *form);
