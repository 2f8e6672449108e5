// SPDX-License-Identifier: MIT
// Fixtures for whole installs; see install_fixtures.h.
#include "tests/support/install_fixtures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
#include <unistd.h>

namespace testsupport {

const char* const kLooseFiles[8] = {"Netsond.dll",  "Notes.ico",  "Readme.doc", "Readme.txt",
                                    "Register.exe", "Uninst.exe", "Uninst.loc", "Uninstll.exe"};

namespace {

constexpr auto kRecordWait = std::chrono::seconds(10);
constexpr auto kRecordPoll = std::chrono::milliseconds(20);

void OpenToEveryone(const fs::path& root) {
    fs::permissions(root,
                    fs::perms::others_read | fs::perms::others_exec | fs::perms::group_read | fs::perms::group_exec,
                    fs::perm_options::add);
}

}  // namespace

const fs::path& DemoCd() {
    static std::unique_ptr<TempDir> folder;
    static fs::path cd;
    if (!folder) {
        folder = std::make_unique<TempDir>();
        OpenToEveryone(folder->path());
        cd = folder->path() / "cd";
        const std::string command =
            ShellQuote(std::string(VARNHOLT_SOURCE_DIR) + "/scripts/make-demo-cd") + " " + ShellQuote(cd.string());
        const CommandResult made = Run(command);
        if (made.exitCode != 0) {
            throw std::runtime_error("make-demo-cd failed: " + made.output);
        }
    }
    return cd;
}

std::map<std::string, std::string> ExpectedInstall(const fs::path& cd) {
    TempDir out;
    const fs::path install = cd / "Install";
    const CommandResult extracted =
        Run("cabextract -q -d " + ShellQuote(out.path().string()) + " " + ShellQuote((install / "Game1.cab").string()) +
            " " + ShellQuote((install / "Game7.cab").string()) + " " + ShellQuote((install / "Game8.cab").string()));
    if (extracted.exitCode != 0) {
        throw std::runtime_error("cabextract failed: " + extracted.output);
    }
    std::map<std::string, std::string> files = ReadTree(out.path());
    for (const char* name : kLooseFiles) {
        files[name] = ReadFile(install / name);
    }
    return files;
}

std::string SampleRegistryScript() {
    return ReadFile(fs::path(VARNHOLT_SOURCE_DIR) / "scripts" / "varnholtinstall.reg");
}

fs::path PlaceRegistryScript(const std::string& contents) {
    // Test processes running side by side place the same script; each
    // renames a whole copy into place, so no reader ever sees half of one.
    const fs::path script = fs::read_symlink("/proc/self/exe").parent_path() / "varnholtinstall.reg";
    const fs::path part = script.string() + "." + std::to_string(getpid());
    WriteFile(part, contents);
    fs::rename(part, script);
    return script;
}

const std::string& WineCommand() {
    static const std::string command = Run("wine --version").exitCode == 0 ? "wine" : "wine64";
    return command;
}

RecordingLaunchers::RecordingLaunchers(std::vector<std::string> names, bool keepSystemPath, const std::string& then) {
    const char* path = std::getenv("PATH");
    const std::string systemPath = path != nullptr ? path : "/usr/bin:/bin";
    for (const auto& name : names) {
        const fs::path script = bin_ / name;
        WriteFile(script, "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" > '" + record().string() + ".part'\n/bin/mv '" +
                              record().string() + ".part' '" + record().string() + "'\n" + then + "\n");
        fs::permissions(script, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    }
    OpenToEveryone(bin_.path());
    path_.emplace("PATH", keepSystemPath ? bin_.path().string() + ":" + systemPath : bin_.path().string());
}

RecordingLaunchers::~RecordingLaunchers() = default;

std::string RecordingLaunchers::WaitForRecord() const {
    const auto deadline = std::chrono::steady_clock::now() + kRecordWait;
    while (!fs::exists(record()) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kRecordPoll);
    }
    return fs::exists(record()) ? ReadFile(record()) : std::string();
}

}  // namespace testsupport
