// The Qt front end for one run of the installer: it answers the model's
// requests to the person with real message boxes and the desktop's web
// launcher, runs every handler, reports a raised error that leaves one, and
// ends the program when asked.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "app/frm_main.h"
#include "app/qt/main_window.h"
#include "app/user_interface.h"

namespace app::qt {

// Exit status of a run ended by a raised error.
inline constexpr int kErrorExitStatus = 1;

// Hands a web address to the desktop's xdg-open, detached; its output is
// discarded and a failure to start it is ignored.
void OpenWithDesktop(const QString& address);

class Program final : public UserInterface {
public:
    using WebOpener = std::function<void(const QString& address)>;

    // Attaches itself to `model` as its user interface. Needs a QApplication.
    explicit Program(FrmMain& model, WebOpener openWebAddress = OpenWithDesktop);
    ~Program() override;

    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // The whole run: the start-up prompts, then the window until the
    // program ends. Returns the exit status.
    int Run();

    // The start-up prompts. False when the program is to end instead of
    // showing the window.
    bool Load();

    // Builds the window from the model and shows it.
    void Show();
    MainWindow* Window() const { return window_.get(); }

    // Runs one handler. A raised error that leaves it is reported, and the
    // program ends with kErrorExitStatus. Once the program is ending, no
    // handler runs any more.
    void Dispatch(const std::function<void()>& handler);

    bool Ending() const { return ending_; }
    int ExitStatus() const { return exitStatus_; }

    MessageAnswer MsgBox(std::u16string_view text, MessageButtons buttons) override;
    void OpenWebAddress(std::u16string_view address, WindowShow show) override;
    void EndProgram() override;

private:
    void ReportError(int32_t number, std::u16string_view description);
    void Finish();

    FrmMain& model_;
    WebOpener openWebAddress_;
    std::unique_ptr<MainWindow> window_;
    bool ending_ = false;
    int exitStatus_ = 0;
};

}  // namespace app::qt
