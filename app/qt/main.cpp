// SPDX-License-Identifier: MIT
// The installer's entry point: the one window model, drawn by the Qt front end.
#include <QApplication>

#include "app/frm_main.h"
#include "app/qt/program.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VarnholtInstall"));
    QApplication::setApplicationVersion(QStringLiteral(VARNHOLT_VERSION));
    app::qt::Program program(app::FrmMain::Instance());
    return program.Run();
}
