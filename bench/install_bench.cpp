// Time of a whole install (the Install button's procedure through the window
// model, every box answered Yes/OK) against `cabextract` on the three
// cabinets plus `cp` of the eight loose files, on the same CD, in the same
// run, warm cache, median of several runs.
//
// Usage: install_bench [--scale N] [--runs N] [--dir DIR]
// The CD is made with scripts/make-demo-cd under DIR (scale 1: the demo CD
// of a few MB; scale 100: some hundreds of MB) and kept there.
#include "app/frm_main.h"
#include "platform/runtime.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

const char* const kLooseFiles[] = {"Netsond.dll", "Notes.ico",  "Readme.doc", "Readme.txt",
                                   "Register.exe", "Uninst.exe", "Uninst.loc", "Uninstll.exe"};

struct Options {
    fs::path dir = fs::temp_directory_path() / "varnholt-install-bench";
    int scale = 1;
    int runs = 5;
};

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

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

void Shell(const std::string& command) {
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "install_bench: failed: %s\n", command.c_str());
        std::exit(1);
    }
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

uintmax_t TreeBytes(const fs::path& root, std::size_t& files) {
    uintmax_t bytes = 0;
    files = 0;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        if (item.is_regular_file()) {
            bytes += item.file_size();
            ++files;
        }
    }
    return bytes;
}

// Runs `body` into an empty `target` `runs` times; the median in seconds.
double Time(const fs::path& target, int runs, const std::function<void()>& body) {
    std::vector<double> seconds;
    for (int i = 0; i < runs; ++i) {
        fs::remove_all(target);
        fs::create_directories(target);
        Shell("sync");
        const auto start = Clock::now();
        body();
        seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    return Median(seconds);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--scale") {
            options.scale = std::max(1, std::atoi(argv[i + 1]));
        } else if (flag == "--runs") {
            options.runs = std::max(1, std::atoi(argv[i + 1]));
        } else if (flag == "--dir") {
            options.dir = argv[i + 1];
        } else {
            std::fprintf(stderr, "usage: install_bench [--scale N] [--runs N] [--dir DIR]\n");
            return 2;
        }
    }

    const fs::path root = options.dir / ("scale-" + std::to_string(options.scale));
    const fs::path cd = root / "cd";
    const fs::path install = cd / "Install";
    if (!fs::exists(install / "Game8.cab")) {
        fs::remove_all(root);
        std::fprintf(stderr, "install_bench: making the CD at scale %d...\n", options.scale);
        Shell(Quote(std::string(VARNHOLT_SOURCE_DIR) + "/scripts/make-demo-cd") + " " + Quote(cd.string()) +
              " --scale " + std::to_string(options.scale));
    }

    // A prefix with the CD as D: and an empty C:, a registry script beside
    // this program, and a launcher that does nothing for it.
    const fs::path prefix = root / "prefix";
    const fs::path driveC = root / "drive_c";
    fs::create_directories(prefix / "dosdevices");
    fs::create_directories(driveC);
    for (const auto& [link, target] : {std::pair{"c:", driveC}, std::pair{"d:", cd}}) {
        fs::remove(prefix / "dosdevices" / link);
        fs::create_directory_symlink(target, prefix / "dosdevices" / link);
    }
    setenv("WINEPREFIX", prefix.c_str(), 1);
    std::ofstream(fs::read_symlink("/proc/self/exe").parent_path() / "varnholtinstall.reg") << "REGEDIT4\r\n";
    const fs::path bin = root / "bin";
    fs::create_directories(bin);
    std::ofstream(bin / "xdg-open") << "#!/bin/sh\nexit 0\n";
    fs::permissions(bin / "xdg-open", fs::perms::owner_all);
    setenv("PATH", (bin.string() + ":/usr/bin:/bin").c_str(), 1);

    const fs::path installed = driveC / "Ostmere" / "Varnholt";
    const fs::path peer = root / "peer";
    app::FrmMain& form = app::FrmMain::Instance();
    Yes person;
    form.SetUserInterface(&person);

    const double ours = Time(installed, options.runs, [&] { form.CmdInstall_Click(); });
    if (!person.ended) {
        std::fprintf(stderr, "install_bench: the install did not complete\n");
        return 1;
    }
    std::size_t files = 0;
    const uintmax_t bytes = TreeBytes(installed, files);

    std::string peerCommand = "cabextract -q -d " + Quote(peer.string());
    for (const char* cab : {"Game1.cab", "Game7.cab", "Game8.cab"}) {
        peerCommand += " " + Quote((install / cab).string());
    }
    peerCommand += " && cp";
    for (const char* name : kLooseFiles) {
        peerCommand += " " + Quote((install / name).string());
    }
    peerCommand += " " + Quote(peer.string() + "/");
    const double theirs = Time(peer, options.runs, [&] { Shell(peerCommand); });
    Shell("diff -r " + Quote(installed.string()) + " " + Quote(peer.string()));

    uintmax_t cabinetBytes = 0;
    for (const char* cab : {"Game1.cab", "Game7.cab", "Game8.cab"}) {
        cabinetBytes += fs::file_size(install / cab);
    }
    std::printf("CD at scale %d: cabinets %.1f MB, installed %zu files, %.1f MB\n", options.scale,
                cabinetBytes / 1e6, files, bytes / 1e6);
    std::printf("median of %d warm runs:\n", options.runs);
    std::printf("  install procedure           %8.3f s  %7.1f MB/s\n", ours, bytes / 1e6 / ours);
    std::printf("  cabextract x3 + cp          %8.3f s  %7.1f MB/s\n", theirs, bytes / 1e6 / theirs);
    std::printf("  ratio (ours / peer)         %8.2f\n", ours / theirs);
    return 0;
}
