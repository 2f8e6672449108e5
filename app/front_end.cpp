// SPDX-License-Identifier: MIT
// FrontEnd: the run, the dispatch of handlers and the ending both front ends
// share.
#include "app/front_end.h"

#include <cstdint>
#include <new>
#include <string>

#include "platform/runtime.h"

namespace app {
namespace {

// The runtime's number and text for running out of memory.
constexpr int32_t kOutOfMemoryNumber = 7;
constexpr std::u16string_view kOutOfMemoryText = u"Out of memory";
// ... and for a failure it has no number of its own for.
constexpr int32_t kInternalErrorNumber = 51;
constexpr std::u16string_view kInternalErrorText = u"Internal error";

// The runtime's report of an error that left a handler.
std::u16string RuntimeErrorReport(int32_t number, std::u16string_view description) {
    return u"Run-time error '" + platform::Utf8ToText(std::to_string(number)) + u"':\n\n" + std::u16string(description);
}

}  // namespace

FrontEnd::FrontEnd(FrmMain& model) : model_(model) { model_.SetUserInterface(this); }

FrontEnd::~FrontEnd() { model_.SetUserInterface(nullptr); }

int FrontEnd::Run() {
    if (Load()) {
        Show();
        RunEventLoop();
    }
    return exitStatus_;
}

bool FrontEnd::Load() {
    Dispatch([this] { model_.Form_Load(); });
    return !ending_;
}

// A handler traps nothing, so whatever leaves it ends here: a raised error,
// running out of memory or any other exception becomes the runtime's report.
// Nothing unwinds further, into the window system's frames.
void FrontEnd::Click(const Control& control) {
    Dispatch([this, &control] { Model().Click(control); });
}

void FrontEnd::Dispatch(const std::function<void()>& handler) {
    if (ending_) {
        return;
    }
    const auto fail = [this](int32_t number, std::u16string_view description) {
        ShowErrorReport(RuntimeErrorReport(number, description));
        ending_ = true;
        exitStatus_ = kErrorExitStatus;
    };
    try {
        handler();
    } catch (const platform::RaisedError& error) {
        fail(error.Number(), error.Description());
    } catch (const std::bad_alloc&) {
        fail(kOutOfMemoryNumber, kOutOfMemoryText);
    } catch (...) {
        fail(kInternalErrorNumber, kInternalErrorText);
    }
    if (ending_) {
        Finish();
    }
}

void FrontEnd::EndProgram() { ending_ = true; }

}  // namespace app
