// SPDX-License-Identifier: MIT
// Planted by the front-end tests under the name of a system program in a
// folder a search would look in first: when started, it leaves the file
// "<its own path>.ran" behind to say so, and ends.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t path[MAX_PATH + 8] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return 1;
    }
    lstrcatW(path, L".ran");
    const HANDLE mark = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (mark == INVALID_HANDLE_VALUE) {
        return 1;
    }
    CloseHandle(mark);
    return 0;
}
