// SPDX-License-Identifier: MIT
// What the Qt and the Win32 front end share in one run of the installer: the
// order of the run, the dispatch of every handler, the runtime's report of an
// error that leaves one, and when the program ends and with which status.
// Each front end adds only its window, its message boxes and its event loop.
#pragma once

#include <functional>
#include <string_view>

#include "app/frm_main.h"
#include "app/user_interface.h"

namespace app {

// Exit status of a run ended by an error that left a handler.
inline constexpr int kErrorExitStatus = 1;

class FrontEnd : public UserInterface {
public:
    ~FrontEnd() override;
    FrontEnd(const FrontEnd&) = delete;
    FrontEnd& operator=(const FrontEnd&) = delete;

    // The whole run: the start-up prompts, then the window until the program
    // ends or the window is closed. Returns the exit status.
    int Run();

    // The start-up prompts. False when the program is to end instead of
    // showing the window.
    bool Load();

    // Builds the window from the model and shows it.
    virtual void Show() = 0;

    // The click path of both front ends: the model's Click for `control`,
    // run as a handler (see Dispatch).
    void Click(const Control& control);

    // Runs one handler. An error that leaves it, of whatever kind, is shown
    // as the runtime's report ("Run-time error 'N':", a blank line, the
    // description), and the program ends with kErrorExitStatus. Once the
    // program is ending, no handler runs any more.
    void Dispatch(const std::function<void()>& handler);

    // Whether a handler asked to end the program or an error left one.
    bool Ending() const { return ending_; }
    int ExitStatus() const { return exitStatus_; }

    // The program ends, with status 0, once the running handler returns.
    void EndProgram() final;

protected:
    // Attaches itself to `model` as its user interface, until destroyed.
    explicit FrontEnd(FrmMain& model);

    FrmMain& Model() const { return model_; }

private:
    // Shows the runtime's report in a modal box with the error icon.
    virtual void ShowErrorReport(std::u16string_view report) = 0;
    // Runs the window's events until the program ends or the window closes.
    virtual void RunEventLoop() = 0;
    // Once the program is ending: takes the window off the screen and leaves
    // the event loop when the running handler returns.
    virtual void Finish() = 0;

    FrmMain& model_;
    bool ending_ = false;
    int exitStatus_ = 0;
};

}  // namespace app
