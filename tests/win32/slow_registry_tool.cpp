// SPDX-License-Identifier: MIT
// Stands in for the system's registry tool in the front-end tests: an import
// that takes longer than the 5 s after which Windows ghosts a window that
// takes no messages, and then succeeds without writing anything.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    constexpr DWORD kImportTime = 8000;
    Sleep(kImportTime);
    return 0;
}
