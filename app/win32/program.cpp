// Program: message boxes, the web page, handler dispatch, the error report
// and the message loop of the Win32 front end.
#include "app/win32/program.h"

#include "app/handler_run.h"

#include <shellapi.h>

#include <new>
#include <string>

#include "platform/runtime.h"
#include "platform/win32/shell.h"

namespace app::win32 {
namespace {

std::wstring ToWide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

// Application-modal, first button the default; no icon unless asked.
int ShowBox(HWND owner, std::u16string_view text, UINT type) {
    return ::MessageBoxW(owner, ToWide(text).c_str(), ToWide(kMessageBoxTitle).c_str(),
                         type | MB_APPLMODAL | MB_DEFBUTTON1);
}

}  // namespace

Program::Program(FrmMain& model) : model_(model) { model_.SetUserInterface(this); }

Program::~Program() { model_.SetUserInterface(nullptr); }

int Program::Run() {
    Dispatch([this] { model_.Form_Load(); });
    if (ending_) {
        return exitStatus_;
    }
    window_ = std::make_unique<MainWindow>(model_, [this](const Control& control) {
        Dispatch([this, &control] { model_.Click(control); });
    });
    window_->Show();
    MSG message{};
    while (!ending_ && ::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (window_->TranslateKey(message) || ::IsDialogMessageW(window_->Handle(), &message)) {
            continue;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    window_.reset();
    return exitStatus_;
}

void Program::Dispatch(const std::function<void()>& handler) {
    if (ending_) {
        return;
    }
    // ReportError ends the program.
    RunHandler(handler, [this](int32_t number, std::u16string_view description) {
        ReportError(number, description);
    });
    if (ending_ && window_ != nullptr && window_->Handle() != nullptr) {
        ::ShowWindow(window_->Handle(), SW_HIDE);
    }
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

void Program::EndProgram() { ending_ = true; }

void Program::ReportError(int32_t number, std::u16string_view description) {
    const std::u16string text = u"Run-time error '" + platform::Utf8ToText(std::to_string(number)) + u"':\n\n" +
                                std::u16string(description);
    ShowBox(Owner(), text, MB_OK | MB_ICONERROR);
    ending_ = true;
    exitStatus_ = kErrorExitStatus;
}

HWND Program::Owner() const { return window_ != nullptr ? window_->Handle() : nullptr; }

}  // namespace app::win32
