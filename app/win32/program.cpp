// SPDX-License-Identifier: MIT
// Program: message boxes, the web page, the error report's box and the
// message loop of the Win32 front end.
#include "app/win32/program.h"

#include <shellapi.h>

#include "app/win32/win32_convert.h"
#include "platform/runtime.h"
#include "platform/shell.h"

namespace app::win32 {
namespace {

// Application-modal, first button the default; no icon unless asked.
int ShowBox(HWND owner, std::u16string_view text, UINT type) {
    return ::MessageBoxW(owner, ToWide(text).c_str(), ToWide(kMessageBoxTitle).c_str(),
                         type | MB_APPLMODAL | MB_DEFBUTTON1);
}

}  // namespace

Program::Program(FrmMain& model) : FrontEnd(model) {}

void Program::Show() {
    window_ = std::make_unique<MainWindow>(Model(), [this](const Control& control) { Click(control); });
    // The registry script's hand-off belongs to this window: its consent
    // prompt comes to the front over it, and the window takes no input
    // while the registry tool runs.
    platform::win32::SetDocumentOwner(window_->Handle());
    window_->Show();
}

MessageAnswer Program::MsgBox(std::u16string_view text, MessageButtons buttons) {
    if (buttons == MessageButtons::OK) {
        ShowBox(Owner(), text, MB_OK);
        return MessageAnswer::OK;
    }
    return ShowBox(Owner(), text, MB_YESNO) == IDYES ? MessageAnswer::Yes : MessageAnswer::No;
}

void Program::OpenWebAddress(std::u16string_view address, WindowShow show) {
    // The result is not examined: a failure gives no message.
    const platform::win32::ComApartment com;
    ::ShellExecuteA(Owner(), "Open", platform::TextToAnsi(address).c_str(), "", "",
                    show == WindowShow::Maximized ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL);
}

void Program::ShowErrorReport(std::u16string_view report) { ShowBox(Owner(), report, MB_OK | MB_ICONERROR); }

// Ends with the window closed (WM_QUIT), or once a handler has ended the
// program; the window goes with it.
void Program::RunEventLoop() {
    MSG message{};
    while (!Ending() && ::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (window_->TranslateKey(message) || ::IsDialogMessageW(window_->Handle(), &message)) {
            continue;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    platform::win32::SetDocumentOwner(nullptr);
    window_.reset();
}

// The message loop sees the end by itself once the running handler returns.
void Program::Finish() {
    if (window_ != nullptr && window_->Handle() != nullptr) {
        ::ShowWindow(window_->Handle(), SW_HIDE);
    }
}

HWND Program::Owner() const { return window_ != nullptr ? window_->Handle() : nullptr; }

}  // namespace app::win32
