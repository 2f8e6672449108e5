// SPDX-License-Identifier: MIT
// The Win32 window drawn from the FrmMain model: one child window per
// control, placed from its twips at the screen's DPI, with texts mirrored
// both ways and clicks handed back to whoever runs the handlers. No
// behaviour of its own.
#pragma once

#include <windows.h>

#include <functional>
#include <map>

#include "app/frm_main.h"

namespace app::win32 {

// The window class of the main window, for drivers that look for it.
inline constexpr wchar_t kMainWindowClass[] = L"VarnholtInstallMain";

class MainWindow {
public:
    using ClickForwarder = std::function<void(const Control&)>;

    MainWindow(FrmMain& model, ClickForwarder forwardClick);
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    HWND Handle() const { return window_; }

    // Shows the window with the keyboard focus on the first control of the
    // tab order that takes it.
    void Show();

    // Handles the keys the dialog manager gives no meaning here: Enter on a
    // focused button presses it. True when `message` was used up.
    bool TranslateKey(const MSG& message);

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnCreate();
    void OnCommand(WPARAM wParam, LPARAM lParam);
    void OnActivate(WPARAM wParam);
    HWND CreateControl(Control& control, int id);
    void ApplyTabOrder();

    FrmMain& model_;
    ClickForwarder forwardClick_;
    HWND window_ = nullptr;
    HFONT font_ = nullptr;
    HWND focusBeforeDeactivation_ = nullptr;
    int dotsPerInchX_ = USER_DEFAULT_SCREEN_DPI;
    int dotsPerInchY_ = USER_DEFAULT_SCREEN_DPI;
    std::map<int, Control*> controlsById_;
    std::map<const Control*, HWND> windows_;
};

}  // namespace app::win32
