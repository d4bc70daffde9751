// The program block: the application and its title, the main window, the
// message loop.

// Local
#include "MainForm.h"
#include "Prompts.h"
#include "TamselConfig.h"

// Qt
#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The application title; window captions and error boxes read it.
    QApplication::setApplicationName(QStringLiteral(TAMSEL_APP_TITLE));
    QApplication::setWindowIcon(ProgramIcon());
    // The real message boxes and dialogs, also for the questions of the
    // widget-free libraries (the shell layer, the error handler).
    Prompts::install(nullptr);

    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    TfrmMain frmMain(arguments);
    frmMain.show();
    return app.exec();
}
