// The Windows platform layer under Wine: text in several code pages, file
// copies close to MAX_PATH, and how a document is handed to the system.
#include "platform/files.h"
#include "platform/runtime.h"
#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

// After the seam: windows.h defines its names (MAX_PATH, ERROR_...) as macros.
#include "platform/win32/shell.h"

#include <deque>

namespace {

namespace fs = std::filesystem;
using platform::win32::ShellAnswer;
using platform::win32::ShellRequest;
using platform::win32::SystemFacts;

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

// A shell that answers from a script and records what it was asked.
class ScriptedShell {
public:
    explicit ScriptedShell(std::deque<ShellAnswer> answers) : answers_(std::move(answers)) {}

    ShellAnswer operator()(const ShellRequest& request) {
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

private:
    std::deque<ShellAnswer> answers_;
};

TEST(DocumentStart, RegistryScriptsLandInTheGamesViewAndFailuresKeepTheSystemsCode) {
    const std::wstring script = L"C:\\Games\\Varnholt \u03a9\\varnholtinstall.reg";
    const std::wstring quoted = L"\"" + script + L"\"";
    const ShellAnswer started{true, NO_ERROR, 42};
    const ShellAnswer noAssociation{false, ERROR_NO_ASSOCIATION, SE_ERR_NOASSOC};
    const ShellAnswer declined{false, ERROR_CANCELLED, SE_ERR_ACCESSDENIED};
    const ShellRequest association{L"", script, L"", SW_SHOWNORMAL};
    const ShellRequest registryEditor{L"", L"C:\\WINDOWS\\regedit.exe", quoted, SW_SHOWNORMAL};
    const ShellRequest registryTool{L"", L"C:\\WINDOWS\\system32\\reg.exe", L"import " + quoted + L" /reg:32", SW_HIDE};
    ShellRequest registryToolWithConsent = registryTool;
    registryToolWithConsent.verb = L"runas";

    struct Case {
        const char* what;
        bool sixtyFourBit;
        bool needsConsent;
        std::wstring document;
        std::deque<ShellAnswer> answers;
        std::vector<ShellRequest> asked;
        DWORD raised;  // NO_ERROR: started
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
        {"64-bit Windows, HKLM needs consent: the registry tool into the 32-bit view, asking once",
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
         ERROR_CANCELLED},
        {"another document with nothing associated: no registry editor",
         true,
         false,
         L"C:\\Games\\Readme.txt",
         {{false, 193, SE_ERR_NOASSOC}},
         {{L"", L"C:\\Games\\Readme.txt", L"", SW_SHOWNORMAL}},
         ERROR_NO_ASSOCIATION},
        {"the extension in another case",
         true,
         false,
         L"C:\\Games\\SETUP.REG",
         {started},
         {{L"", L"C:\\WINDOWS\\system32\\reg.exe", L"import \"C:\\Games\\SETUP.REG\" /reg:32", SW_HIDE}},
         NO_ERROR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const SystemFacts system{c.sixtyFourBit, c.needsConsent, L"C:\\WINDOWS\\system32", L"C:\\WINDOWS"};
        ScriptedShell shell(c.answers);
        DWORD raised = NO_ERROR;
        try {
            platform::win32::StartExistingDocument(c.document, system, std::ref(shell));
        } catch (const platform::RaisedError& error) {
            raised = static_cast<DWORD>(error.Number());
            EXPECT_FALSE(error.Description().empty());
        }
        EXPECT_EQ(raised, c.raised);
        EXPECT_TRUE(shell.asked == c.asked);
    }
}

TEST(DocumentStart, TheRunningSystemIsSixtyFourBitAndItsFoldersAreFull) {
    // This test program is a 64-bit one, so it decides as the 32-bit
    // program does on 64-bit Windows.
    const SystemFacts system = platform::win32::RunningSystem();
    EXPECT_TRUE(system.sixtyFourBit);
    EXPECT_FALSE(system.writingMachineKeysNeedsConsent);  // Wine has no UAC
    EXPECT_EQ(GetFileAttributesW((system.systemFolder + L"\\reg.exe").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(GetFileAttributesW((system.windowsFolder + L"\\regedit.exe").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

}  // namespace
