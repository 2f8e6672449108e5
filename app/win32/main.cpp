// SPDX-License-Identifier: MIT
// The installer's entry point on Windows: the one window model, drawn by the
// Win32 front end.
#include <windows.h>

#include "app/frm_main.h"
#include "app/win32/program.h"

namespace {

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

// Installers are started from download directories, where anyone may have left a
// DLL named like one Windows loads on demand (a theme, an input method). From
// here on such late loads come from the system directory only, never from the
// program's directory or the current one. SetDefaultDllDirectories is looked up
// rather than imported: Windows releases without it would refuse to start
// the program at all.
void RestrictDllSearch() {
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    // Through void(*)(), the one function pointer type GCC lets any other
    // be cast from without warning.
    const auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void (*)()>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories != nullptr) {
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    // Also takes the current directory out of the older search order.
    ::SetDllDirectoryW(L"");
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    RestrictDllSearch();
    app::win32::Program program(app::FrmMain::Instance());
    return program.Run();
}
