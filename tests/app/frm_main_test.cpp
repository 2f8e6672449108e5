// SPDX-License-Identifier: MIT
// The window model against a scripted person: the start-up prompts, the help
// messages, the link, the layout and focus order, and the current-file label;
// and the dispatch both front ends share, through one that only records.
#include "app/frm_main.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/front_end.h"
#include "cabinet/cab_file.h"
#include "platform/runtime.h"
#include "tests/app/scripted_person.h"

namespace app {
namespace {

constexpr std::u16string_view kLicence =
    u"You must agree to the terms and conditions of the license agreement located at "
    u"D:\\LICENSE.doc, where D is the driver letter of your CD drive. Do you agree?";
constexpr std::u16string_view kLiability =
    u"Brannick shall not be held liable for any damage caused by this program. Do you agree?";
constexpr std::u16string_view kPathHelp =
    u"Enter the path where you want Varnholt to be installed to. All nonexistent directories "
    u"will be created.";
constexpr std::u16string_view kCDHelp = u"Enter the DRIVE LETTER ONLY of your CD drive.";

struct LoadCase {
    const char* meaning;
    std::deque<MessageAnswer> answers;
    std::vector<std::string> expected;
};

TEST(FrmMainLoad, AsksLicenceThenLiabilityAndEndsOnEitherNo) {
    using enum MessageAnswer;
    const std::string licence = "yes/no: " + Line(kLicence);
    const std::string liability = "yes/no: " + Line(kLiability);
    const std::vector<LoadCase> cases = {
        {"licence refused: no disclaimer, no window", {No}, {licence, "end"}},
        {"disclaimer refused", {Yes, No}, {licence, liability, "end"}},
        {"both accepted: the window is shown", {Yes, Yes}, {licence, liability}},
    };
    for (const LoadCase& c : cases) {
        SCOPED_TRACE(c.meaning);
        FrmMain form;
        ScriptedPerson person(c.answers);
        form.SetUserInterface(&person);
        form.Form_Load();
        EXPECT_EQ(person.log, c.expected);
    }
}

TEST(FrmMainHelp, ShowsItsMessageInOneOkBox) {
    struct HelpCase {
        const char* button;
        void (FrmMain::*click)();
        std::u16string_view text;
    };
    const std::vector<HelpCase> cases = {
        {"CmdPathHelp", &FrmMain::CmdPathHelp_Click, kPathHelp},
        {"CmdCDHelp", &FrmMain::CmdCDHelp_Click, kCDHelp},
    };
    for (const HelpCase& c : cases) {
        SCOPED_TRACE(c.button);
        FrmMain form;
        ScriptedPerson person;
        form.SetUserInterface(&person);
        (form.*c.click)();
        EXPECT_EQ(person.log, std::vector<std::string>{"ok: " + Line(c.text)});
    }
}

TEST(FrmMainLink, OpensTheServicesPageOfTheHostTheCaptionNames) {
    FrmMain form;
    ScriptedPerson person;
    form.SetUserInterface(&person);
    form.CmdGo_Click();

    const std::u16string& caption = form.Label2.Caption();
    const std::u16string prefix = u"Visit http://";
    const std::u16string suffix = u"/services/ for details!";
    ASSERT_TRUE(caption.starts_with(prefix) && caption.ends_with(suffix)) << Line(caption);
    const std::u16string host = caption.substr(prefix.size(), caption.size() - prefix.size() - suffix.size());
    EXPECT_FALSE(host.empty());
    EXPECT_EQ(host.find(u'/'), std::u16string::npos) << Line(host);
    EXPECT_EQ(person.log, std::vector<std::string>{"open: http://" + Line(host) + "/services/index.htm (maximized)"});
}

// The layout as a person meets it, whatever the exact positions: each
// control inside the frame or window that holds it and made after it, no two
// controls that take the focus on top of each other, the focus moving from
// the path on in reading order, and the inputs filled with the defaults an
// install uses.
TEST(FrmMainControls, SitInsideTheirContainersAndTakeTheFocusInOrder) {
    FrmMain form;
    const TwipsRect client{0, 0, FrmMain::Properties.ClientWidth, FrmMain::Properties.ClientHeight};
    const auto& controls = form.Controls();
    auto apart = [](const TwipsRect& a, const TwipsRect& b) {
        return a.Left + a.Width <= b.Left || b.Left + b.Width <= a.Left || a.Top + a.Height <= b.Top ||
               b.Top + b.Height <= a.Top;
    };
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const Control& control = *controls[i];
        SCOPED_TRACE(control.Name());
        const TwipsRect& r = control.Rect();
        const TwipsRect& area = control.Container() ? control.Container()->Rect() : client;
        EXPECT_TRUE(r.Left >= 0 && r.Top >= 0 && r.Left + r.Width <= area.Width && r.Top + r.Height <= area.Height);
        if (control.Container() != nullptr) {
            EXPECT_NE(std::find(controls.begin(), controls.begin() + i, control.Container()), controls.begin() + i);
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (control.TabStop() && controls[j]->TabStop() && controls[j]->Container() == control.Container()) {
                EXPECT_TRUE(apart(r, controls[j]->Rect())) << controls[j]->Name();
            }
        }
    }
    std::vector<std::string> stops;
    for (const Control* control : form.TabOrder()) {
        if (control->TabStop()) {
            stops.push_back(control->Name());
        }
    }
    EXPECT_EQ(stops, (std::vector<std::string>{"TxtPath", "CmdInstall", "CmdPathHelp", "TxtCD", "CmdCDHelp", "CmdGo"}));
    EXPECT_EQ(form.TxtPath.Text(), u"C:\\Ostmere\\Varnholt\\");
    EXPECT_EQ(form.TxtCD.Text(), u"D");
}

TEST(FrmMainCab, EachExtractShowsItsEntryInTheWindowsOwnLabel) {
    auto form = std::make_unique<FrmMain>();
    const std::shared_ptr<cabinet::CabFile> cab = form->cab();
    EXPECT_EQ(form->LblCurrentFile.Caption(), u"Current File:");
    int notices = 0;
    form->LblCurrentFile.SetObserver([&] { ++notices; });
    cab->SetCabName(u"Q:\\missing.cab");
    for (int i = 0; i < 2; ++i) {  // the same caption again is no change
        EXPECT_THROW(cab->Extract(u"data\\maps\\a.map", u"", u""), platform::RaisedError);
    }
    EXPECT_EQ(notices, 1);
    EXPECT_EQ(form->LblCurrentFile.Caption(), u"Current File: data\\maps\\a.map");
    // Kept alive by the last walk's registration, it then reaches no window.
    form.reset();
    EXPECT_THROW(cab->Extract(u"b.txt", u"", u""), platform::RaisedError);
}

class RecordingFrontEnd final : public FrontEnd {
public:
    explicit RecordingFrontEnd(FrmMain& model) : FrontEnd(model) {}
    void Show() override {}
    MessageAnswer MsgBox(std::u16string_view, MessageButtons) override { return MessageAnswer::No; }
    void OpenWebAddress(std::u16string_view, WindowShow) override {}
    std::vector<std::string> log;

private:
    void ShowErrorReport(std::u16string_view report) override { log.push_back("report: " + Line(report)); }
    void RunEventLoop() override {}
    void Finish() override { log.push_back("finish"); }
};

TEST(FrontEndDispatch, WhateverLeavesAHandlerIsReportedAndEndsTheProgram) {
    struct Case {
        const char* meaning;
        std::function<void(FrontEnd&)> handler;
        std::vector<std::string> log;
        int status;
    };
    const std::string internal = "report: Run-time error '51':\n\nInternal error";
    const std::vector<Case> cases = {
        {"returns: the program goes on", [](FrontEnd&) {}, {}, 0},
        {"asks to end: no report", [](FrontEnd& program) { program.EndProgram(); }, {"finish"}, 0},
        {"a raised error: its number and description",
         [](FrontEnd&) { throw platform::RaisedError(53, u"CabFile", u"File <not> found"); },
         {"report: Run-time error '53':\n\nFile <not> found", "finish"},
         kErrorExitStatus},
        {"out of memory",
         [](FrontEnd&) { throw std::bad_alloc(); },
         {"report: Run-time error '7':\n\nOut of memory", "finish"},
         kErrorExitStatus},
        {"a standard exception",
         [](FrontEnd&) { throw std::out_of_range("map::at"); },
         {internal, "finish"},
         kErrorExitStatus},
        {"no exception class", [](FrontEnd&) { throw 42; }, {internal, "finish"}, kErrorExitStatus},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.meaning);
        FrmMain form;
        RecordingFrontEnd program(form);
        program.Dispatch([&] { c.handler(program); });
        EXPECT_EQ(program.log, c.log);
        EXPECT_EQ(program.Ending(), !c.log.empty());
        EXPECT_EQ(program.ExitStatus(), c.status);
        bool ran = false;
        program.Dispatch([&] { ran = true; });
        EXPECT_EQ(ran, !program.Ending()) << "a handler ran after the end";
    }
}

}  // namespace
}  // namespace app
