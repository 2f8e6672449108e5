// SPDX-License-Identifier: MIT
// FrmMain, the installer's one window as a plain model: its properties, its
// controls and their layout, and one handler per event it answers. It knows
// no widget; the front end draws it and forwards the events.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "app/control.h"
#include "app/user_interface.h"

namespace cabinet {
class CabFile;
}

namespace app {

struct FontSpec {
    std::u16string_view Name;
    double Size;  // points
    int Weight;   // 400 normal, 700 bold
    int Charset;  // 0: the ANSI character set
    bool Italic;
    bool Underline;
    bool Strikethrough;
};

struct WindowProperties {
    std::u16string_view Caption;  // title bar text
    bool FixedBorder;             // a single-line border the user cannot drag
    bool ControlBox;              // the close box
    bool MinButton;
    bool MaxButton;
    bool CenterScreen;     // opens centred on the screen
    int32_t ClientWidth;   // twips
    int32_t ClientHeight;  // twips
    FontSpec Font;         // the window's font, used by every control
};

class FrmMain {
public:
    static constexpr WindowProperties Properties{
        .Caption = u"VarnholtInstall 1.0.0",
        .FixedBorder = true,
        .ControlBox = true,
        .MinButton = false,
        .MaxButton = false,
        .CenterScreen = true,
        .ClientWidth = 6375,
        .ClientHeight = 2940,
        .Font = {.Name = u"Verdana",
                 .Size = 8.25,
                 .Weight = 700,
                 .Charset = 0,
                 .Italic = false,
                 .Underline = false,
                 .Strikethrough = false},
    };

    static constexpr std::size_t kControlCount = 14;

    // The program's one window, created on first use. Creating it runs no
    // handler: the start-up prompts wait for Form_Load.
    static FrmMain& Instance();

    // A window model with its initial texts and no user interface attached.
    // The program uses Instance(); separate objects serve tests.
    FrmMain();
    ~FrmMain();
    FrmMain(const FrmMain&) = delete;
    FrmMain& operator=(const FrmMain&) = delete;

    Control FraInformation;
    Control LblPath;
    Control TxtPath;
    Control CmdPathHelp;
    Control LblCD;
    Control TxtCD;
    Control CmdCDHelp;
    Control LblCredits;
    Control CmdInstall;
    Control LblCurrentFile;
    Control LblAd1;
    Control LblAd2;
    Control Label2;
    Control CmdGo;

    // Every control, containers before what they hold, top to bottom.
    const std::array<Control*, kControlCount>& Controls() const { return controls_; }

    // Every control by tab index, frame and labels included.
    std::vector<Control*> TabOrder() const;

    // Where the handlers reach the person. Must be set before the first
    // handler runs, and stay alive while it is set; null detaches it.
    void SetUserInterface(UserInterface* ui) { ui_ = ui; }

    // Handlers, one per event. A handler traps no error: a raised error
    // leaves it for the front end to report.
    void Form_Load();  // the start-up prompts, before the window is first shown
    void CmdPathHelp_Click();
    void CmdCDHelp_Click();
    void CmdGo_Click();
    void CmdInstall_Click();

    // A click on `control`: runs its handler; controls without one ignore it.
    void Click(const Control& control);

    // The window's one cabinet object, created when first read and kept
    // until the program ends; the install procedure uses it for every
    // cabinet. Its events have no listener here; each Extract shows the
    // entry it works on in LblCurrentFile.
    const std::shared_ptr<cabinet::CabFile>& cab();

private:
    UserInterface& Ui() const;

    UserInterface* ui_ = nullptr;
    std::shared_ptr<cabinet::CabFile> cab_;
    std::array<Control*, kControlCount> controls_;
};

}  // namespace app
