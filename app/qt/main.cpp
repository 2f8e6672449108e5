// The installer's entry point: the one window model, drawn by the Qt front end.
#include <QApplication>

#include "app/frm_main.h"
#include "app/qt/program.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VarnholtInstall"));
    QApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    app::qt::Program program(app::FrmMain::Instance());
    return program.Run();
}
