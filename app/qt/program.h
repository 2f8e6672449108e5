// SPDX-License-Identifier: MIT
// The Qt front end for one run of the installer: it answers the model's
// requests to the person with real message boxes and the desktop's web
// launcher, and draws the window; the run, the dispatch of handlers and the
// ending are FrontEnd's.
#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <string_view>

#include "app/front_end.h"
#include "app/qt/main_window.h"

namespace app::qt {

// Hands a web address to the desktop's xdg-open, detached; its output is
// discarded and a failure to start it is ignored.
void OpenWithDesktop(const QString& address);

class Program final : public FrontEnd {
public:
    using WebOpener = std::function<void(const QString& address)>;

    // Attaches itself to `model` as its user interface. Needs a QApplication.
    explicit Program(FrmMain& model, WebOpener openWebAddress = OpenWithDesktop);

    void Show() override;
    MainWindow* Window() const { return window_.get(); }

    MessageAnswer MsgBox(std::u16string_view text, MessageButtons buttons) override;
    void OpenWebAddress(std::u16string_view address, WindowShow show) override;

private:
    void ShowErrorReport(std::u16string_view report) override;
    void RunEventLoop() override;
    void Finish() override;

    WebOpener openWebAddress_;
    std::unique_ptr<MainWindow> window_;
};

}  // namespace app::qt
