// SPDX-License-Identifier: MIT
// One whole install (the Install button's procedure through the window model,
// every box answered Yes/OK, no window) from a CD into a fresh Wine prefix.
// bench/run times it against cabextract on the three cabinets plus cp of
// the loose files; this program only does the install.
//
// Usage: install_bench CD WORK
// CD holds Install/Game1.cab... (scripts/make-demo-cd); WORK gets the prefix,
// with the CD as D: and WORK/drive_c as C:, and the game lands in
// WORK/drive_c/Ostmere/Varnholt.
#include "app/frm_main.h"
#include "platform/runtime.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

// Answers every box as the person installing would, and ignores the rest.
class Yes final : public app::UserInterface {
public:
    app::MessageAnswer MsgBox(std::u16string_view, app::MessageButtons buttons) override {
        return buttons == app::MessageButtons::YesNo ? app::MessageAnswer::Yes : app::MessageAnswer::OK;
    }
    void OpenWebAddress(std::u16string_view, app::WindowShow) override {}
    void EndProgram() override { ended = true; }
    bool ended = false;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: install_bench CD WORK\n");
        return 2;
    }
    const fs::path cd = fs::absolute(argv[1]);
    const fs::path work = fs::absolute(argv[2]);
    if (!fs::exists(cd / "Install" / "Game8.cab")) {
        std::fprintf(stderr, "install_bench: no CD at %s\n", cd.c_str());
        return 2;
    }

    // A prefix with the CD as D: and an empty C:, a registry script beside
    // this program, and launchers that do nothing for it: a real Wine would
    // boot the prefix in the background and eat the CPU being measured.
    const fs::path prefix = work / "prefix";
    const fs::path driveC = work / "drive_c";
    fs::create_directories(prefix / "dosdevices");
    fs::create_directories(driveC);
    for (const auto& [link, target] : {std::pair{"c:", driveC}, std::pair{"d:", cd}}) {
        fs::remove(prefix / "dosdevices" / link);
        fs::create_directory_symlink(target, prefix / "dosdevices" / link);
    }
    setenv("WINEPREFIX", prefix.c_str(), 1);
    std::ofstream(fs::read_symlink("/proc/self/exe").parent_path() / "varnholtinstall.reg") << "REGEDIT4\r\n";
    const fs::path bin = work / "bin";
    fs::create_directories(bin);
    for (const char* launcher : {"wine", "xdg-open"}) {
        std::ofstream(bin / launcher) << "#!/bin/sh\nexit 0\n";
        fs::permissions(bin / launcher, fs::perms::owner_all);
    }
    setenv("PATH", (bin.string() + ":/usr/bin:/bin").c_str(), 1);

    app::FrmMain& form = app::FrmMain::Instance();
    Yes person;
    form.SetUserInterface(&person);
    form.CmdInstall_Click();
    if (!person.ended) {
        std::fprintf(stderr, "install_bench: the install did not complete\n");
        return 1;
    }
    return 0;
}
