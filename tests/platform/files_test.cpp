// SPDX-License-Identifier: MIT
// File copy, the installer's folder and starting documents, on a temporary
// Wine prefix.
#include "platform/files.h"
#include "platform/drives.h"
#include "platform/posix/launch.h"
#include "platform/runtime.h"
#include "tests/support/fixtures.h"
#include "tests/support/install_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace platform;
using testsupport::ReadFile;
using testsupport::WriteFile;
namespace fs = std::filesystem;

namespace {

constexpr uid_t kNobody = 65534;

// The number FileCopy raises, or 0 when it succeeds.
int32_t CopyResult(const std::u16string& source, const std::u16string& destination) {
    try {
        FileCopy(source, destination);
        return 0;
    } catch (const RaisedError& error) {
        return error.Number();
    }
}

// Files the copy left behind that are not where they belong.
std::vector<std::string> LeftoverTemporaries(const fs::path& folder) {
    std::vector<std::string> leftovers;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        const std::string name = item.path().filename().string();
        if (name.starts_with(".vh") && name.ends_with(".part")) {
            leftovers.push_back(item.path().string());
        }
    }
    return leftovers;
}

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        prefix.mapDrive('d', prefix.root() / "cd");
        WriteFile(prefix.root() / "cd" / "Install" / "Readme.txt", "read me");
        fs::create_directories(prefix.driveC() / "Game");
    }

    testsupport::WinePrefix prefix;
};

TEST_F(FilesTest, CopyReplacesTheDestinationAndKeepsTheTime) {
    const fs::path source = prefix.root() / "cd" / "Install" / "Readme.txt";
    const auto stamp = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);
    fs::last_write_time(source, stamp);
    WriteFile(prefix.driveC() / "Game" / "Readme.txt", "an older, longer file that must be replaced");

    FileCopy(u"D:\\Install\\Readme.txt", u"C:\\Game\\Readme.txt");
    EXPECT_EQ(ReadFile(prefix.driveC() / "Game" / "Readme.txt"), "read me");
    EXPECT_EQ(fs::last_write_time(prefix.driveC() / "Game" / "Readme.txt"), stamp);
    EXPECT_TRUE(LeftoverTemporaries(prefix.root()).empty());

    // The CD's case does not have to match.
    FileCopy(u"d:\\INSTALL\\readme.TXT", u"C:\\Game\\Copy.txt");
    EXPECT_EQ(ReadFile(prefix.driveC() / "Game" / "Copy.txt"), "read me");
}

TEST_F(FilesTest, CopyFailuresRaiseTheRuntimesNumbers) {
    fs::create_directories(prefix.driveC() / "Game" / "Folder");
    WriteFile(prefix.driveC() / "Game" / "ReadOnly.txt", "kept");
    fs::permissions(prefix.driveC() / "Game" / "ReadOnly.txt",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    struct Case {
        const char* what;
        std::u16string source, destination;
        int32_t number;
    };
    const Case cases[] = {
        {"missing source file", u"D:\\Install\\Uninst.exe", u"C:\\Game\\Uninst.exe", kErrFileNotFound},
        {"missing source folder", u"D:\\Nowhere\\Uninst.exe", u"C:\\Game\\Uninst.exe", kErrPathNotFound},
        {"unmapped source drive", u"Q:\\Install\\Readme.txt", u"C:\\Game\\Readme.txt", kErrPathNotFound},
        {"doubled colon", u"D::\\Install\\Readme.txt", u"C:\\Game\\Readme.txt", kErrPathFileAccess},
        {"missing destination folder", u"D:\\Install\\Readme.txt", u"C:\\Nowhere\\Readme.txt", kErrPathNotFound},
        {"destination is a folder", u"D:\\Install\\Readme.txt", u"C:\\Game\\Folder", kErrPathFileAccess},
        {"source is a folder", u"D:\\Install", u"C:\\Game\\Install", kErrPathFileAccess},
        {"read-only destination", u"D:\\Install\\Readme.txt", u"C:\\Game\\ReadOnly.txt", kErrPermissionDenied},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(CopyResult(c.source, c.destination), c.number);
    }
    EXPECT_TRUE(LeftoverTemporaries(prefix.root()).empty());
    EXPECT_TRUE(fs::is_directory(prefix.driveC() / "Game" / "Folder"));
    EXPECT_EQ(ReadFile(prefix.driveC() / "Game" / "ReadOnly.txt"), "kept");
}

TEST_F(FilesTest, CopyIntoAFolderItCannotWriteIsDeniedAndKeepsTheOldFile) {
    WriteFile(prefix.driveC() / "Game" / "Readme.txt", "old");
    fs::permissions(prefix.driveC() / "Game", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                                  fs::perms::group_exec | fs::perms::others_read |
                                                  fs::perms::others_exec);
    // Root writes anywhere, so the copy runs as an ordinary user in a child.
    fs::permissions(prefix.root(), fs::perms::others_exec | fs::perms::others_read, fs::perm_options::add);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
            _exit(100);
        }
        _exit(CopyResult(u"D:\\Install\\Readme.txt", u"C:\\Game\\Readme.txt"));
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), kErrPermissionDenied);
    EXPECT_EQ(ReadFile(prefix.driveC() / "Game" / "Readme.txt"), "old");
}

TEST_F(FilesTest, CopyOntoAFullDiskFailsWithDiskFullAndKeepsTheOldFile) {
    testsupport::SmallDisk disk(prefix.root() / "small", 64 * 1024);
    if (!disk.mounted()) {
        GTEST_SKIP() << "this process may not mount a tmpfs";
    }
    prefix.mapDrive('f', prefix.root() / "small");
    WriteFile(prefix.root() / "cd" / "Install" / "Big.bin", testsupport::PseudoRandomBytes(200'000, 1));
    WriteFile(prefix.root() / "small" / "Big.bin", "old");
    EXPECT_EQ(CopyResult(u"D:\\Install\\Big.bin", u"F:\\Big.bin"), kErrDiskFull);
    EXPECT_EQ(ReadFile(prefix.root() / "small" / "Big.bin"), "old");
    EXPECT_TRUE(LeftoverTemporaries(prefix.root() / "small").empty());
}

TEST_F(FilesTest, TheInstallerDirectoryIsTheExecutablesInDriveForm) {
    const fs::path executable = fs::read_symlink("/proc/self/exe");
    const std::u16string folder = InstallerDirectory();
    EXPECT_EQ(TextToUtf8(folder), HostPathToDosPath(executable.parent_path().string()));
    EXPECT_NE(folder.back(), u'\\');
}

class StartDocumentTest : public FilesTest {
protected:
    void SetUp() override {
        FilesTest::SetUp();
        WriteFile(prefix.driveC() / "Game" / "varnholtinstall.reg", "REGEDIT4\r\n");
        WriteFile(prefix.driveC() / "Game" / "Setup.REG", "REGEDIT4\r\n");
        WriteFile(prefix.driveC() / "Game" / "Readme.txt", "read me");
    }

    std::string HostPathOf(const char* name) const {
        return (prefix.root() / "dosdevices" / "c:" / "Game" / name).string();
    }
};

TEST_F(StartDocumentTest, EachDocumentGoesToItsLauncher) {
    // A script outside every drive of a prefix that maps no Z: (as Wine
    // leaves a prefix whose dosdevices folder it did not make itself).
    testsupport::TempDir outside;
    WriteFile(outside / "varnholtinstall.reg", "REGEDIT4\r\n");
    std::string unixName = "\\\\?\\unix" + fs::canonical(outside / "varnholtinstall.reg").string();
    std::replace(unixName.begin(), unixName.end(), '/', '\\');

    struct Case {
        const char* what;
        std::vector<std::string> launchers;
        std::u16string document;
        std::string record;  // after the launcher's own path
    };
    const Case cases[] = {
        {"registry script: Wine's registry tool, into the 32-bit view, with the drive path as Wine sees it",
         {"wine", "xdg-open"},
         u"C:\\Game\\\\varnholtinstall.reg",
         "reg\nimport\nC:\\Game\\varnholtinstall.reg\n/reg:32\n"},
        {"extension in another case", {"wine"}, u"c:\\game\\setup.reg", "reg\nimport\nC:\\Game\\Setup.REG\n/reg:32\n"},
        {"registry script on no drive of the prefix: Wine's name for a host path",
         {"wine"},
         AnsiToText(HostPathToDosPath((outside / "varnholtinstall.reg").string())),
         "reg\nimport\n" + unixName + "\n/reg:32\n"},
        {"other documents: Wine's start",
         {"wine", "xdg-open"},
         u"C:\\Game\\Readme.txt",
         "start\n/unix\n" + HostPathOf("Readme.txt") + "\n"},
        {"no Wine: the desktop's opener",
         {"xdg-open"},
         u"C:\\Game\\varnholtinstall.reg",
         HostPathOf("varnholtinstall.reg") + "\n"},
        {"a wine whose 32-bit loader cannot run here: the 64-bit loader imports",
         {"wine64", "wine"},
         u"C:\\Game\\varnholtinstall.reg",
         "reg\nimport\nC:\\Game\\varnholtinstall.reg\n/reg:32\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::RecordingLaunchers launchers(c.launchers, false);
        if (c.launchers.front() == "wine64") {
            WriteFile(launchers.folder() / "wine", "#!/bin/sh\nexit 126\n");
        }
        StartDocument(c.document);
        EXPECT_EQ(launchers.WaitForRecord(), (launchers.folder() / c.launchers.front()).string() + "\n" + c.record);
    }
}

TEST_F(StartDocumentTest, AMissingDocumentOrLauncherIsFileNotFound) {
    struct Case {
        const char* what;
        std::vector<std::string> launchers;
        std::u16string document;
        bool launcherBroken;
    };
    const Case cases[] = {
        {"missing document", {"wine"}, u"C:\\Game\\missing.reg", false},
        {"no launcher", {}, u"C:\\Game\\varnholtinstall.reg", false},
        {"opener that cannot be started", {"xdg-open"}, u"C:\\Game\\Readme.txt", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::RecordingLaunchers launchers(c.launchers, false);
        if (c.launcherBroken) {
            WriteFile(launchers.folder() / c.launchers.front(), "#!/nonexistent/interpreter\n");
        }
        try {
            StartDocument(c.document);
            ADD_FAILURE() << "no error";
        } catch (const RaisedError& error) {
            EXPECT_EQ(error.Number(), kErrFileNotFound);
            EXPECT_EQ(TextToUtf8(error.Description()), "File not found");
        }
        EXPECT_FALSE(fs::exists(launchers.record()));
    }
}

// The import is waited for: whatever keeps the values out of the prefix is
// raised, with the command that merges them by hand.
TEST_F(StartDocumentTest, ARegistryImportThatDoesNotMergeSaysHowToFinish) {
    const std::string script = HostPathOf("varnholtinstall.reg");
    const std::string command =
        "WINEPREFIX=\"" + prefix.root().string() + "\" wine reg import \"" + script + "\" /reg:32";
    struct Case {
        const char* what;
        std::string then;  // what the stand-in for wine does after recording
        std::chrono::milliseconds bound;
        int32_t number;  // 0: merged
        std::string reason;
    };
    const Case cases[] = {
        {"exit status 0: merged", "", std::chrono::seconds(20), 0, ""},
        {"a script the tool rejects", "exit 1", std::chrono::seconds(20), 1603,
         "Wine's registry tool ended with exit code 1"},
        {"killed", "kill -9 $$", std::chrono::seconds(20), 1603, "Wine's registry tool was ended by signal 9"},
        {"still running at the bound: ended, with what it started", "/bin/sleep 60 & echo $! > \"$0.child\"; wait",
         std::chrono::milliseconds(500), 1460, "Wine's registry tool did not finish within 0 seconds"},
        {"Wine that cannot start", "", std::chrono::seconds(20), 1603,
         "Wine could not be started (No such file or directory)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::RecordingLaunchers launchers({"wine"}, false, c.then);
        const std::string wine = (launchers.folder() / "wine").string();
        if (c.reason.starts_with("Wine could not")) {
            WriteFile(wine, "#!/nonexistent/interpreter\n");
        }
        try {
            ImportRegistryScript(wine, script, c.bound);
            EXPECT_EQ(c.number, 0);
        } catch (const RaisedError& error) {
            EXPECT_EQ(error.Number(), c.number);
            EXPECT_EQ(TextToUtf8(error.Description()),
                      "The game's files are installed, but its registry settings were not merged: " + c.reason +
                          ".\n\nTo finish the installation, run this command:\n" + command);
        }
        if (fs::exists(wine + ".child")) {
            // Gone, or ended and waiting for init to reap it, once the kill
            // sent to its session has been delivered (a loaded machine may
            // take a moment to run it).
            const std::string status = "/proc/" + std::to_string(std::stoi(ReadFile(wine + ".child"))) + "/stat";
            const auto running = [&] {
                return fs::exists(status) && ReadFile(status).find(") Z ") == std::string::npos;
            };
            for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
                 running() && std::chrono::steady_clock::now() < deadline;) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            EXPECT_FALSE(running()) << "a program the import started outlived it";
        }
    }
}

}  // namespace
