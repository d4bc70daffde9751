#include "MainForm.h"

TfrmMain::TfrmMain(QWidget *parent)
    : QMainWindow(parent)
{
}
