// SPDX-License-Identifier: MIT
// The install procedure behind the Install button, and the one place that
// knows the CD: its directory, the cabinets, the loose files and the registry
// script beside the installer.
#include "app/frm_main.h"

#include "cabinet/cab_file.h"
#include "platform/files.h"

#include <array>
#include <string>
#include <string_view>

namespace app {
namespace {

constexpr std::array<std::u16string_view, 3> kCabinetSuffixes = {
    u":\\Install\\Game1.cab",
    u":\\Install\\Game7.cab",
    u":\\Install\\Game8.cab",
};

constexpr std::u16string_view kCdDirectorySuffix = u":\\Install\\";

constexpr std::array<std::u16string_view, 8> kLooseFiles = {
    u"Netsond.dll",  u"Notes.ico",  u"Readme.doc", u"Readme.txt",
    u"Register.exe", u"Uninst.exe", u"Uninst.loc", u"Uninstll.exe",
};

constexpr std::u16string_view kRegistryScript = u"\\varnholtinstall.reg";

constexpr std::u16string_view kWarning =
    u"Some files may take a long time to copy, especially perdura.dat and the .bnx files. Do not "
    u"restart your computer if it seems to stop responding while extracting files.";

}  // namespace

const std::shared_ptr<cabinet::CabFile>& FrmMain::cab() {
    if (!cab_) {
        cab_ = cabinet::CabFile::Create();
        // Each Extract shows the entry it works on as it starts.
        cab_->SetCurrentFileHook([this](const std::u16string& fileToExtract) {
            LblCurrentFile.SetCaption(u"Current File: " + fileToExtract);
        });
    }
    return cab_;
}

FrmMain::~FrmMain() {
    // The object may outlive the window (the Callback module keeps the one
    // that walked last); it must not reach a window that is gone.
    if (cab_) {
        cab_->SetCurrentFileHook({});
    }
}

// Nothing here is trapped: the first failure leaves the handler for the
// front end's error report, and what was installed until then stays. The
// inputs are read from the text boxes afresh at every step.
void FrmMain::CmdInstall_Click() {
    if (Ui().MsgBox(u"Are you sure you want to install Varnholt to " + TxtPath.Text() + u"?", MessageButtons::YesNo) ==
        MessageAnswer::No) {
        return;
    }
    Ui().MsgBox(kWarning, MessageButtons::OK);

    for (const std::u16string_view suffix : kCabinetSuffixes) {
        cab()->SetCabName(TxtCD.Text() + std::u16string(suffix));
        cab()->Extract(u"", TxtPath.Text(), u"");
    }
    for (const std::u16string_view name : kLooseFiles) {
        platform::FileCopy(TxtCD.Text() + std::u16string(kCdDirectorySuffix) + std::u16string(name),
                           TxtPath.Text() + std::u16string(name));
    }
    platform::StartDocument(platform::InstallerDirectory() + std::u16string(kRegistryScript));

    Ui().MsgBox(u"Varnholt installation complete! Run " + TxtPath.Text() +
                    u" to start the game. No shortcuts have been created.",
                MessageButtons::OK);
    Ui().EndProgram();
}

}  // namespace app
