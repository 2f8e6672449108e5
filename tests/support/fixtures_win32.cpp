// SPDX-License-Identifier: MIT
// The Windows side of the test helpers, for test programs that run under
// Wine. Folders live on the Unix side, reached through Z: (the Unix root);
// shell commands get them back in Unix form. Drive maps point the running
// prefix's dosdevices links at them; shell commands run as Unix processes
// that Wine starts.
#include "tests/support/fixtures.h"

#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>

namespace testsupport {

const PlatformDifference kFixtureFoldersOnAnotherDrive{
    true,
    "Windows takes the current drive from the current folder, and the fixtures' folders lie on Z: (the Unix "
    "side) even while C: points into one of them"};
const PlatformDifference kNoAngleBracketsInFileNames{
    true, "Windows file names cannot hold '<' or '>', so the files gcab is to store cannot be written from here"};

const PlatformDifference kMissingDriveIsFileNotFound{
    true, "Wine's CreateDirectoryA fails a folder on a drive that does not exist with 2 where Windows says 3"};

namespace {

constexpr auto kCommandTimeout = std::chrono::minutes(2);
constexpr auto kCommandPoll = std::chrono::milliseconds(5);

// Wine's drive for the Unix root.
constexpr char kUnixRootDrive[] = "Z:";

std::string UnixTempFolder() {
    const char* folder = std::getenv("TMPDIR");
    return std::string(kUnixRootDrive) + (folder != nullptr && folder[0] == '/' ? folder : "/tmp");
}

// The prefix the test program runs in. Its drive links are changed while a
// WinePrefix lives, so it must be a throwaway one.
std::string RunningPrefix() {
    const char* prefix = std::getenv("WINEPREFIX");
    if (prefix == nullptr || prefix[0] != '/') {
        throw std::runtime_error("the Windows tests run under Wine in a throwaway prefix named by WINEPREFIX");
    }
    return prefix;
}

void MustRun(const std::string& commandLine) {
    const CommandResult result = Run(commandLine);
    if (result.exitCode != 0) {
        throw std::runtime_error(commandLine + ": " + result.output);
    }
}

std::string DriveLink(char letter) {
    return ShellQuote(RunningPrefix() + "/dosdevices/" + std::string(1, letter) + ":");
}

// A command line for the Unix shell: paths from the Windows side carry the
// Unix root's drive and '\' between folders.
std::string ForUnixShell(std::string commandLine) {
    for (char& c : commandLine) {
        if (c == '\\') {
            c = '/';
        }
    }
    const std::string drive = std::string(kUnixRootDrive) + "/";
    for (std::size_t at = 0; (at = commandLine.find(drive, at)) != std::string::npos;) {
        commandLine.erase(at, 2);
    }
    return commandLine;
}

// Removes `folder` (a "\\?\" path) and all it holds. Tests make paths longer
// than MAX_PATH, which Windows reaches only in that form and std::filesystem
// does not use.
void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring path = folder + L"\\" + name;
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);  // tests leave read-only entries too
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
                RemoveTree(path);
            } else if (::DeleteFileW(path.c_str()) == 0) {
                ::RemoveDirectoryW(path.c_str());  // a link to a folder
            }
        } while (::FindNextFileW(search, &found) != 0);
        ::FindClose(search);
    }
    ::RemoveDirectoryW(folder.c_str());
}

}  // namespace

TempDir::TempDir() {
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = UnixTempFolder() + "\\varnholt-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
                                 std::to_string(++counter) + "-" + std::to_string(::GetTickCount());
        if (::CreateDirectoryA(name.c_str(), nullptr)) {
            path_ = name;
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
    if (fs::exists(path_, ec)) {
        RemoveTree(L"\\\\?\\" + fs::absolute(path_, ec).make_preferred().wstring());
    }
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
        previous_ = old;
    }
    _putenv_s(name, value.c_str());
}

ScopedEnv::~ScopedEnv() { _putenv_s(name_.c_str(), previous_ ? previous_->c_str() : ""); }

WinePrefix::WinePrefix() {
    // While C: points elsewhere the prefix's system folder is out of reach:
    // load the library the setup library reads cabinets with first.
    static const HMODULE cabinetLibrary = ::LoadLibraryA("cabinet.dll");
    (void)cabinetLibrary;
    fs::create_directories(driveC());
    // A test that ended without its destructor left the link saved: take
    // that one back first.
    MustRun("if [ -L " + DriveLink('c') + ".saved ]; then mv -T " + DriveLink('c') + ".saved " + DriveLink('c') +
            "; fi; mv -T " + DriveLink('c') + " " + DriveLink('c') + ".saved");
    mapDrive('c', driveC());
}

WinePrefix::~WinePrefix() {
    try {
        for (char letter = 'd'; letter <= 'y'; ++letter) {
            if (mapped_.count(letter) != 0) {
                MustRun("rm -f " + DriveLink(letter));
            }
        }
        MustRun("mv -T " + DriveLink('c') + ".saved " + DriveLink('c'));
    } catch (const std::exception&) {
        // The prefix is a throwaway one; a test must not end in a throw.
    }
}

void WinePrefix::mapDrive(char letter, const fs::path& target) {
    fs::create_directories(target);
    MustRun("ln -sfn " + ShellQuote(target.string()) + " " + DriveLink(letter));
    mapped_.insert(letter);
}

CommandResult Run(const std::string& commandLine) {
    CommandResult result;
    const TempDir work;
    const std::string folder = ForUnixShell(work.path().string());
    WriteFile(work / "command", "(" + ForUnixShell(commandLine) + ") >'" + folder + "/output' 2>&1\necho $? >'" +
                                    folder + "/status.part'\nmv '" + folder + "/status.part' '" + folder +
                                    "/status'\n");
    std::string shell = std::string(kUnixRootDrive) + "\\bin\\sh " + folder + "/command";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // Wine starts a Unix program as a process of its own that cannot be
    // waited for: its status file tells when it has ended.
    if (!::CreateProcessA(nullptr, shell.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return result;
    }
    const auto deadline = std::chrono::steady_clock::now() + kCommandTimeout;
    while (!fs::exists(work / "status") && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kCommandPoll);
    }
    if (fs::exists(work / "status")) {
        result.exitCode = std::atoi(ReadFile(work / "status").c_str());
        result.output = ReadFile(work / "output");
    }
    return result;
}

}  // namespace testsupport
