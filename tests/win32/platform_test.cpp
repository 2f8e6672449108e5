// SPDX-License-Identifier: MIT
// The Windows platform layer under Wine: text in several code pages, file
// copies close to MAX_PATH, and how a document is handed to the system.
#include "platform/files.h"
#include "platform/runtime.h"
#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

// After the seam: windows.h defines its names (MAX_PATH, ERROR_...) as macros.
#include "platform/win32/shell.h"

#include <deque>
#include <optional>

namespace {

namespace fs = std::filesystem;
using platform::win32::ShellAnswer;
using platform::win32::ShellRequest;
using platform::win32::SystemFacts;
using platform::win32::WaitOutcome;

TEST(CodePages, EveryPageConvertsWithoutLookAlikesOrFails) {
    struct Case {
        const char* what;
        uint32_t codePage;
        std::u16string text;
        std::string bytes;
        std::u16string back;  // the bytes read in the same page
    };
    const Case cases[] = {
        {"1252: Latin-1 and the euro", 1252, u"caf\u00e9\u20ac", "caf\xe9\x80", u"caf\u00e9\u20ac"},
        {"1252: no look-alike for Omega", 1252, u"\u03a9mega", "?mega", u"?mega"},
        {"932: two bytes a character", 932, u"\u65e5\u672c.cab", "\x93\xfa\x96\x7b.cab", u"\u65e5\u672c.cab"},
        {"932: no look-alike for e acute", 932, u"caf\u00e9", "caf?", u"caf?"},
        {"65001 (UTF-8, which Windows can make the ANSI page): every character", 65001, u"caf\u00e9 \u03a9 \U0001F600",
         "caf\xc3\xa9 \xce\xa9 \xf0\x9f\x98\x80", u"caf\u00e9 \u03a9 \U0001F600"},
        {"65001: a lone surrogate becomes U+FFFD", 65001, u"a\xd800", "a\xef\xbf\xbd", u"a\ufffd"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(platform::TextToAnsi(c.text, c.codePage), c.bytes);
        EXPECT_EQ(platform::AnsiToText(c.bytes, c.codePage), c.back);
    }
    // A conversion the system refuses is raised, never an empty text.
    try {
        platform::TextToAnsi(u"Game1.cab", 12345);
        ADD_FAILURE() << "no error raised";
    } catch (const platform::RaisedError& error) {
        EXPECT_EQ(error.Number(), ERROR_INVALID_PARAMETER);
    }
}

TEST(FileCopyNearMaxPath, TheTemporaryNameNeverPushesAPathPastTheLimit) {
    struct Case {
        const char* what;
        std::size_t folderLength;
        std::string name;
    };
    const Case cases[] = {
        {"a destination 12 characters short of MAX_PATH: a short temporary beside it", 236, "Readme.txt"},
        {"a folder too long for any temporary: copied straight", MAX_PATH - 12, "a.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::TempDir dir;
        testsupport::WriteFile(dir / "source.txt", "read me");
        std::string folder = fs::absolute(dir.path()).string();
        folder += "\\" + std::string(c.folderLength - folder.size() - 1, 'f');
        ASSERT_EQ(folder.size(), c.folderLength);
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
        const std::string destination = folder + "\\" + c.name;
        ASSERT_LT(destination.size(), static_cast<std::size_t>(MAX_PATH));

        platform::FileCopy(platform::AnsiToText(fs::absolute(dir / "source.txt").string()),
                           platform::AnsiToText(destination));
        std::vector<std::string> files;
        for (const auto& item : fs::directory_iterator(folder)) {
            files.push_back(item.path().filename().string());
        }
        EXPECT_EQ(files, std::vector<std::string>{c.name});
        EXPECT_EQ(testsupport::ReadFile(destination), "read me");
    }
}

// A shell that answers from a script and records what it was asked. A
// request's copy of the script in the temporary folder is read while it is
// asked, and shown as <copy> in the record; another opener then tries to
// change it.
class ScriptedShell {
public:
    ScriptedShell(std::deque<ShellAnswer> answers, std::wstring temporaryFolder)
        : answers_(std::move(answers)), temporaryFolder_(std::move(temporaryFolder)) {}

    ShellAnswer operator()(ShellRequest request) {
        const std::size_t copy = request.parameters.find(temporaryFolder_);
        if (copy != std::wstring::npos) {
            const std::size_t end = request.parameters.find(L'"', copy);
            copyPath = request.parameters.substr(copy, end - copy);
            copyBytes = testsupport::ReadFile(copyPath);
            const HANDLE writer = CreateFileW(copyPath.c_str(), GENERIC_WRITE | DELETE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            copyChangeable = writer != INVALID_HANDLE_VALUE || DeleteFileW(copyPath.c_str());
            if (writer != INVALID_HANDLE_VALUE) {
                CloseHandle(writer);
            }
            request.parameters.replace(copy, end - copy, L"<copy>");
        }
        asked.push_back(request);
        if (answers_.empty()) {
            ADD_FAILURE() << "asked once more than expected";
            return {};
        }
        const ShellAnswer answer = answers_.front();
        answers_.pop_front();
        return answer;
    }

    std::vector<ShellRequest> asked;
    fs::path copyPath;
    std::string copyBytes;
    bool copyChangeable = true;

private:
    std::deque<ShellAnswer> answers_;
    std::wstring temporaryFolder_;
};

TEST(DocumentStart, RegistryScriptsLandInTheGamesViewAndFailuresKeepTheSystemsCode) {
    testsupport::TempDir dir;
    fs::create_directories(dir / L"Varnholt \u03a9");
    const std::wstring script = fs::absolute(dir / L"Varnholt \u03a9" / L"varnholtinstall.reg").wstring();
    testsupport::WriteFile(script, "REGEDIT4\r\n");
    wchar_t temporaryFolder[MAX_PATH + 1];
    ASSERT_NE(GetTempPathW(MAX_PATH + 1, temporaryFolder), 0u);
    // Every request names the window passed in, never another.
    const HWND owner = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x5150));

    const std::wstring quoted = L"\"" + script + L"\"";
    const ShellAnswer started{true, NO_ERROR, 42};
    const ShellAnswer noAssociation{false, ERROR_NO_ASSOCIATION, SE_ERR_NOASSOC};
    const ShellAnswer declined{false, ERROR_CANCELLED, SE_ERR_ACCESSDENIED};
    const ShellRequest association{L"", script, L"", SW_SHOWNORMAL, false, owner};
    const ShellRequest registryEditor{L"", L"C:\\WINDOWS\\regedit.exe", quoted, SW_SHOWNORMAL, false, owner};
    const ShellRequest registryTool{
        L"", L"C:\\WINDOWS\\system32\\reg.exe", L"import " + quoted + L" /reg:32", SW_HIDE, true, owner};
    const ShellRequest registryToolWithConsent{
        L"runas", L"C:\\WINDOWS\\system32\\reg.exe", L"import \"<copy>\" /reg:32", SW_HIDE, true, owner};
    // How the registry tool's run ended.
    const auto ended = [](WaitOutcome outcome, DWORD exitCode, DWORD waitError = NO_ERROR, bool stopped = true,
                          DWORD stopError = NO_ERROR) {
        return ShellAnswer{true, NO_ERROR, 42, outcome, exitCode, waitError, stopped, stopError};
    };

    struct Case {
        const char* what;
        bool sixtyFourBit;
        bool needsConsent;
        std::wstring document;
        std::deque<ShellAnswer> answers;
        std::vector<ShellRequest> asked;
        DWORD raised;           // NO_ERROR: started
        const char* says = "";  // in the report of a merge that failed
    };
    const Case cases[] = {
        {"32-bit Windows: the association", false, true, script, {started}, {association}, NO_ERROR},
        {"32-bit Windows, nothing associated: the registry editor, by its full path",
         false,
         false,
         script,
         {noAssociation, started},
         {association, registryEditor},
         NO_ERROR},
        {"32-bit Windows, an incomplete association: the registry editor",
         false,
         false,
         script,
         {{false, ERROR_NO_ASSOCIATION, SE_ERR_ASSOCINCOMPLETE}, started},
         {association, registryEditor},
         NO_ERROR},
        {"32-bit Windows, consent declined: no second prompt",
         false,
         true,
         script,
         {declined},
         {association},
         ERROR_CANCELLED},
        {"32-bit Windows, another failure: its own code",
         false,
         false,
         script,
         {{false, ERROR_ACCESS_DENIED, SE_ERR_ACCESSDENIED}},
         {association},
         ERROR_ACCESS_DENIED},
        {"32-bit Windows, no registry editor either: its code",
         false,
         false,
         script,
         {noAssociation, {false, ERROR_FILE_NOT_FOUND, SE_ERR_FNF}},
         {association, registryEditor},
         ERROR_FILE_NOT_FOUND},
        {"64-bit Windows, HKLM needs consent: the registry tool into the 32-bit view, asking once, from a copy",
         true,
         true,
         script,
         {started},
         {registryToolWithConsent},
         NO_ERROR},
        {"64-bit Windows, HKLM writable: the registry tool, asking nothing",
         true,
         false,
         script,
         {started},
         {registryTool},
         NO_ERROR},
        {"64-bit Windows, consent declined: its code, no second try",
         true,
         true,
         script,
         {declined},
         {registryToolWithConsent},
         ERROR_CANCELLED,
         "consent was declined"},
        {"64-bit Windows, the tool stops at a failure (1): the settings may be partly merged",
         true,
         false,
         script,
         {ended(WaitOutcome::Exited, 1)},
         {registryTool},
         1603,
         "exit code 1; it may have merged part of the script first, so the settings may be partly merged"},
        {"64-bit Windows, another exit code: only the code",
         true,
         false,
         script,
         {ended(WaitOutcome::Exited, 5)},
         {registryTool},
         1603,
         "ended with exit code 5."},
        {"64-bit Windows, the exit code cannot be read: that call's code",
         true,
         false,
         script,
         {ended(WaitOutcome::ExitCodeUnread, 0, ERROR_ACCESS_DENIED)},
         {registryTool},
         ERROR_ACCESS_DENIED,
         "its exit code could not be read"},
        {"64-bit Windows, the tool outlasts the bound and is stopped",
         true,
         true,
         script,
         {ended(WaitOutcome::TimedOut, 0)},
         {registryToolWithConsent},
         ERROR_TIMEOUT,
         "within 180 seconds, and was stopped; it may have merged part of the script first"},
        {"64-bit Windows, the elevated tool outlasts the bound and refuses to stop: it may still merge",
         true,
         true,
         script,
         {ended(WaitOutcome::TimedOut, 0, NO_ERROR, false, ERROR_ACCESS_DENIED)},
         {registryToolWithConsent},
         ERROR_TIMEOUT,
         "): it may still merge them after this message"},
        {"64-bit Windows, the wait fails: its code, the tool stopped",
         true,
         false,
         script,
         {ended(WaitOutcome::WaitFailed, 0, ERROR_INVALID_HANDLE)},
         {registryTool},
         ERROR_INVALID_HANDLE,
         "waiting for the registry tool failed"},
        {"64-bit Windows, the wait fails and the tool refuses to stop",
         true,
         false,
         script,
         {ended(WaitOutcome::WaitFailed, 0, ERROR_INVALID_HANDLE, false, ERROR_ACCESS_DENIED)},
         {registryTool},
         ERROR_INVALID_HANDLE,
         "it may still merge them"},
        {"64-bit Windows, no process to wait for: a reason of its own",
         true,
         false,
         script,
         {ended(WaitOutcome::NoProcess, 0)},
         {registryTool},
         ERROR_INVALID_HANDLE,
         "gave no handle to wait for it with"},
        {"64-bit Windows, the tool cannot start",
         true,
         false,
         script,
         {{false, ERROR_FILE_NOT_FOUND, SE_ERR_FNF}},
         {registryTool},
         ERROR_FILE_NOT_FOUND,
         "could not be started"},
        {"another document with nothing associated: no registry editor",
         true,
         false,
         L"C:\\Games\\Readme.txt",
         {{false, 193, SE_ERR_NOASSOC}},
         {{L"", L"C:\\Games\\Readme.txt", L"", SW_SHOWNORMAL, false, owner}},
         ERROR_NO_ASSOCIATION},
        {"the extension in another case",
         true,
         false,
         L"C:\\Games\\SETUP.REG",
         {started},
         {{L"", L"C:\\WINDOWS\\system32\\reg.exe", L"import \"C:\\Games\\SETUP.REG\" /reg:32", SW_HIDE, true, owner}},
         NO_ERROR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const SystemFacts system{c.sixtyFourBit, c.needsConsent, L"C:\\WINDOWS\\system32", L"C:\\WINDOWS"};
        ScriptedShell shell(c.answers, temporaryFolder);
        DWORD raised = NO_ERROR;
        try {
            platform::win32::StartExistingDocument(c.document, system, owner, std::ref(shell));
        } catch (const platform::RaisedError& error) {
            raised = static_cast<DWORD>(error.Number());
            const std::string description = platform::TextToUtf8(error.Description());
            // A merge that failed says so, why, and how to finish it.
            const bool merging = c.sixtyFourBit && c.document.ends_with(L".reg");
            EXPECT_EQ(description.find("registry settings were not merged") != std::string::npos, merging)
                << description;
            EXPECT_NE(description.find(c.says), std::string::npos) << description;
            if (merging) {
                EXPECT_NE(description.find("reg import \"" +
                                           platform::TextToUtf8(std::u16string(c.document.begin(), c.document.end())) +
                                           "\" /reg:32"),
                          std::string::npos)
                    << description;
            }
        }
        EXPECT_EQ(raised, c.raised);
        EXPECT_TRUE(shell.asked == c.asked);
        // The elevated tool read a copy of the script that no other program
        // could change meanwhile, and which is gone again.
        if (!shell.copyPath.empty()) {
            EXPECT_EQ(shell.copyBytes, "REGEDIT4\r\n");
            EXPECT_FALSE(shell.copyChangeable);
            EXPECT_FALSE(fs::exists(shell.copyPath));
        }
    }
}

TEST(DocumentStart, SixtyFourBitWindowsIsTheMachinesNotTheProcesss) {
    struct Case {
        const char* what;
        bool sixtyFourBitBuild;
        std::optional<USHORT> nativeMachine;  // none: IsWow64Process2 is absent
        bool wow64;
        bool sixtyFourBit;
    };
    const Case cases[] = {
        {"x86 on AMD64", false, IMAGE_FILE_MACHINE_AMD64, true, true},
        {"x86 on ARM64, where IsWow64Process says FALSE", false, IMAGE_FILE_MACHINE_ARM64, false, true},
        {"native I386", false, IMAGE_FILE_MACHINE_I386, false, false},
        {"x86 on 32-bit ARM", false, IMAGE_FILE_MACHINE_ARMNT, false, false},
        {"native AMD64 (the 64-bit build)", true, IMAGE_FILE_MACHINE_AMD64, false, true},
        {"IsWow64Process2 absent, under WOW64", false, std::nullopt, true, true},
        {"IsWow64Process2 absent, 32-bit Windows", false, std::nullopt, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(platform::win32::IsSixtyFourBitWindows(c.sixtyFourBitBuild, c.nativeMachine, c.wow64),
                  c.sixtyFourBit);
    }
}

TEST(DocumentStart, TheRunningSystemIsSixtyFourBitAndItsFoldersAreFull) {
    // Wine's 64-bit prefix is 64-bit Windows, for the 32-bit build of this
    // test (under WOW64) as for the 64-bit one.
    const SystemFacts system = platform::win32::RunningSystem();
    EXPECT_TRUE(system.sixtyFourBit);
    EXPECT_FALSE(system.writingMachineKeysNeedsConsent);  // Wine has no UAC
    EXPECT_EQ(GetFileAttributesW((system.systemDirectory + L"\\reg.exe").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(GetFileAttributesW((system.windowsDirectory + L"\\regedit.exe").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

}  // namespace
