#pragma once

class QWidget;

// Runs the about box.
void ShowAboutForm(QWidget *owner);
