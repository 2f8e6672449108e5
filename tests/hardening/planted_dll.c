// SPDX-License-Identifier: MIT
/* A DLL to plant beside the installer, as an attacker would in a download
   folder. Loaded into a process, it leaves a mark beside itself, NAME.loaded:
   proof that planted code would have run. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        static const wchar_t kSuffix[] = L".loaded";
        wchar_t mark[MAX_PATH + sizeof kSuffix / sizeof kSuffix[0]];
        const DWORD length = GetModuleFileNameW(self, mark, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            lstrcpyW(mark + length, kSuffix);
            const HANDLE file = CreateFileW(mark, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
            if (file != INVALID_HANDLE_VALUE) {
                CloseHandle(file);
            }
        }
    }
    return TRUE;
}
