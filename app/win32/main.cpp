// The installer's entry point on Windows: the one window model, drawn by the
// Win32 front end.
#include <windows.h>

#include "app/frm_main.h"
#include "app/win32/program.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    app::win32::Program program(app::FrmMain::Instance());
    return program.Run();
}
