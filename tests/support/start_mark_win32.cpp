// SPDX-License-Identifier: MIT
// Compiled into every Windows test program: the mark that it began. Its first
// constructor creates the file VARNHOLT_START_MARK names (set by
// scripts/wine-run), so a run that fails without the mark provably never got
// as far as our code, and only such a run is started again.
#include <windows.h>

namespace {

[[gnu::constructor(101)]] void MarkStart() {
    wchar_t path[MAX_PATH + 1];
    const DWORD length = ::GetEnvironmentVariableW(L"VARNHOLT_START_MARK", path, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) {
        return;
    }
    const HANDLE mark = ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (mark != INVALID_HANDLE_VALUE) {
        ::CloseHandle(mark);
    }
}

}  // namespace
