// SPDX-License-Identifier: MIT
// FrmMain: the control table, the start-up prompts, the help messages and the
// link to the author's hosting-services page. The install procedure has a
// file of its own.
#include "app/frm_main.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace app {
namespace {

// The author's site. A reserved name stands in until the author's real host
// is known; both the caption and the link button follow this one value.
constexpr std::u16string_view kAuthorSite = u"http://brannick.example";

constexpr std::u16string_view kLicencePrompt =
    u"You must agree to the terms and conditions of the license agreement located at "
    u"D:\\LICENSE.doc, where D is the driver letter of your CD drive. Do you agree?";
constexpr std::u16string_view kLiabilityPrompt =
    u"Brannick shall not be held liable for any damage caused by this program. Do you agree?";
constexpr std::u16string_view kPathHelp =
    u"Enter the path where you want Varnholt to be installed to. All nonexistent directories "
    u"will be created.";
constexpr std::u16string_view kCDHelp = u"Enter the DRIVE LETTER ONLY of your CD drive.";

std::u16string ServicesCaption() { return u"Visit " + std::u16string(kAuthorSite) + u"/services/ for details!"; }

std::u16string ServicesPage() { return std::u16string(kAuthorSite) + u"/services/index.htm"; }

}  // namespace

FrmMain& FrmMain::Instance() {
    static FrmMain form;
    return form;
}

FrmMain::FrmMain()
    : FraInformation("FraInformation", ControlKind::Frame, nullptr, u"", {0, 0, 6375, 2055}, 0),
      LblPath("LblPath", ControlKind::Label, &FraInformation, u"Path:", {120, 600, 735, 255}, 1),
      TxtPath("TxtPath", ControlKind::TextBox, &FraInformation, u"C:\\Ostmere\\Varnholt\\", {840, 600, 5055, 285}, 2),
      CmdPathHelp("CmdPathHelp", ControlKind::CommandButton, &FraInformation, u"?", {6000, 600, 255, 255}, 5),
      LblCD("LblCD", ControlKind::Label, &FraInformation, u"CD:", {120, 960, 735, 255}, 6),
      TxtCD("TxtCD", ControlKind::TextBox, &FraInformation, u"D", {840, 960, 5055, 285}, 7),
      CmdCDHelp("CmdCDHelp", ControlKind::CommandButton, &FraInformation, u"?", {6000, 960, 255, 255}, 8),
      LblCredits("LblCredits", ControlKind::Label, &FraInformation, u"VarnholtInstall 1.0.0 coded by Brannick",
                 {120, 1320, 4575, 255}, 4),
      CmdInstall("CmdInstall", ControlKind::CommandButton, &FraInformation, u"Install", {4680, 1320, 1575, 255}, 3),
      LblCurrentFile("LblCurrentFile", ControlKind::Label, &FraInformation, u"Current File:", {120, 1680, 6135, 255},
                     13),
      LblAd1("LblAd1", ControlKind::Label, nullptr, u"Internet Hosting starting at US$20.00/month!",
             {0, 2160, 4575, 255}, 12),
      LblAd2("LblAd2", ControlKind::Label, nullptr, u"Unlimited Data Transfer, Minimum 100MB Harddrive Space.",
             {0, 2400, 5775, 255}, 11),
      Label2("Label2", ControlKind::Label, nullptr, ServicesCaption(), {0, 2640, 5295, 255}, 10),
      CmdGo("CmdGo", ControlKind::CommandButton, nullptr, u"Go!", {5400, 2640, 615, 255}, 9),
      controls_{&FraInformation, &LblPath,    &TxtPath,        &CmdPathHelp, &LblCD,  &TxtCD,  &CmdCDHelp,
                &LblCredits,     &CmdInstall, &LblCurrentFile, &LblAd1,      &LblAd2, &Label2, &CmdGo} {}

std::vector<Control*> FrmMain::TabOrder() const {
    std::vector<Control*> order(controls_.begin(), controls_.end());
    std::ranges::sort(order, {}, &Control::TabIndex);
    return order;
}

UserInterface& FrmMain::Ui() const {
    if (ui_ == nullptr) {
        throw std::logic_error("FrmMain: a handler ran before a user interface was attached");
    }
    return *ui_;
}

void FrmMain::Form_Load() {
    if (Ui().MsgBox(kLicencePrompt, MessageButtons::YesNo) != MessageAnswer::Yes) {
        Ui().EndProgram();
        return;
    }
    if (Ui().MsgBox(kLiabilityPrompt, MessageButtons::YesNo) != MessageAnswer::Yes) {
        Ui().EndProgram();
        return;
    }
}

void FrmMain::CmdPathHelp_Click() { Ui().MsgBox(kPathHelp, MessageButtons::OK); }

void FrmMain::CmdCDHelp_Click() { Ui().MsgBox(kCDHelp, MessageButtons::OK); }

void FrmMain::CmdGo_Click() { Ui().OpenWebAddress(ServicesPage(), WindowShow::Maximized); }

void FrmMain::Click(const Control& control) {
    if (&control == &CmdPathHelp) {
        CmdPathHelp_Click();
    } else if (&control == &CmdCDHelp) {
        CmdCDHelp_Click();
    } else if (&control == &CmdGo) {
        CmdGo_Click();
    } else if (&control == &CmdInstall) {
        CmdInstall_Click();
    }
}

}  // namespace app
