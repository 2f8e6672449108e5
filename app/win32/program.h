// SPDX-License-Identifier: MIT
// The Win32 front end for one run of the installer: it answers the model's
// requests to the person with MessageBoxW and the shell, and draws the window
// and runs its message loop; the run, the dispatch of handlers and the
// ending are FrontEnd's.
#pragma once

#include <windows.h>

#include <memory>
#include <string_view>

#include "app/front_end.h"
#include "app/win32/main_window.h"

namespace app::win32 {

class Program final : public FrontEnd {
public:
    // Attaches itself to `model` as its user interface.
    explicit Program(FrmMain& model);

    void Show() override;
    MainWindow* Window() const { return window_.get(); }

    MessageAnswer MsgBox(std::u16string_view text, MessageButtons buttons) override;
    void OpenWebAddress(std::u16string_view address, WindowShow show) override;

private:
    void ShowErrorReport(std::u16string_view report) override;
    void RunEventLoop() override;
    void Finish() override;
    HWND Owner() const;

    std::unique_ptr<MainWindow> window_;
};

}  // namespace app::win32
