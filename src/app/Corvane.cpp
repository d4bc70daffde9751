// Local
#include "MainForm.h"

// Qt
#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    TfrmMain frmMain;
    frmMain.show();
    return app.exec();
}
