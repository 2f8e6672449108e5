// SPDX-License-Identifier: MIT
// A scripted person for the window model: answers Yes/No boxes from a
// script and records every request in order, one readable line each.
#pragma once

#include "app/frm_main.h"
#include "app/user_interface.h"
#include "platform/runtime.h"

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace app {

// One thing the model asked of the person, as a line that reads well in a
// failure message.
inline std::string Line(std::u16string_view what) { return platform::TextToUtf8(what); }

// Answers Yes/No boxes from a script and records every request in order.
class ScriptedPerson : public UserInterface {
public:
    explicit ScriptedPerson(std::deque<MessageAnswer> answers = {}) : answers_(std::move(answers)) {}

    MessageAnswer MsgBox(std::u16string_view text, MessageButtons buttons) override {
        const bool yesNo = buttons == MessageButtons::YesNo;
        log.push_back((yesNo ? "yes/no: " : "ok: ") + Line(text));
        if (!yesNo) {
            return MessageAnswer::OK;
        }
        if (answers_.empty()) {
            ADD_FAILURE() << "unscripted question: " << Line(text);
            return MessageAnswer::No;
        }
        const MessageAnswer answer = answers_.front();
        answers_.pop_front();
        return answer;
    }

    void OpenWebAddress(std::u16string_view address, WindowShow show) override {
        log.push_back("open: " + Line(address) + (show == WindowShow::Maximized ? " (maximized)" : " (normal)"));
    }

    void EndProgram() override { log.push_back("end"); }

    std::vector<std::string> log;

private:
    std::deque<MessageAnswer> answers_;
};

// Runs the Install button's handler with `person` answering; the raised
// error that left it, if any.
inline std::optional<platform::RaisedError> ClickInstall(FrmMain& form, ScriptedPerson& person) {
    form.SetUserInterface(&person);
    try {
        form.CmdInstall_Click();
    } catch (const platform::RaisedError& error) {
        return error;
    }
    return std::nullopt;
}

}  // namespace app
