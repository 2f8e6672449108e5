// SPDX-License-Identifier: MIT
// Answers the installer's two start-up prompts with Yes and waits for its
// window, as a person at the screen would: for demos and screenshots, where
// Wine's X11 driver ignores synthetic key presses. Exit 0 once the window
// shows, 1 when it does not within the time allowed.
#include <windows.h>

#include "app/win32/main_window.h"

namespace {

constexpr int kPrompts = 2;
constexpr DWORD kPoll = 50;
constexpr DWORD kTries = 600;  // 30 s

}  // namespace

int main() {
    int answered = 0;
    HWND answeredBox = nullptr;  // a pressed box may linger a moment
    for (DWORD tries = 0; tries < kTries; ++tries) {
        if (FindWindowW(app::win32::kMainWindowClass, nullptr) != nullptr && answered == kPrompts) {
            return 0;
        }
        if (const HWND box = FindWindowW(L"#32770", L"VarnholtInstall");
            box != nullptr && box != answeredBox && answered < kPrompts) {
            SendMessageW(GetDlgItem(box, IDYES), BM_CLICK, 0, 0);
            answeredBox = box;
            ++answered;
        }
        Sleep(kPoll);
    }
    return 1;
}
