// The Win32 front end for one run of the installer: it answers the model's
// requests to the person with MessageBoxW and the shell, runs every handler,
// reports a raised error that leaves one, and ends the program when asked.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "app/frm_main.h"
#include "app/user_interface.h"
#include "app/win32/main_window.h"

namespace app::win32 {

// Exit status of a run ended by a raised error.
inline constexpr int kErrorExitStatus = 1;

class Program final : public UserInterface {
public:
    // Attaches itself to `model` as its user interface.
    explicit Program(FrmMain& model);
    ~Program() override;

    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // The whole run: the start-up prompts, then the window and its message
    // loop until the program ends. Returns the exit status.
    int Run();

    MessageAnswer MsgBox(std::u16string_view text, MessageButtons buttons) override;
    void OpenWebAddress(std::u16string_view address, WindowShow show) override;
    void EndProgram() override;

private:
    // Runs one handler. A raised error that leaves it is reported and the
    // program ends with kErrorExitStatus; once ending, no handler runs.
    void Dispatch(const std::function<void()>& handler);
    void ReportError(int32_t number, std::u16string_view description);
    HWND Owner() const;

    FrmMain& model_;
    std::unique_ptr<MainWindow> window_;
    bool ending_ = false;
    int exitStatus_ = 0;
};

}  // namespace app::win32
