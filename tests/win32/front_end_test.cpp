// SPDX-License-Identifier: MIT
// VarnholtInstall.exe driven from outside, as a person would: its message
// boxes (#32770) and its window are found by polling, buttons are pressed
// with BM_CLICK. Runs under Wine's null display driver.
#include "tests/support/install_fixtures.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto kWait = std::chrono::seconds(20);
constexpr auto kInstallWait = std::chrono::seconds(120);
constexpr auto kPoll = std::chrono::milliseconds(20);
constexpr auto kNothingHappens = std::chrono::milliseconds(500);
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr char kLicence[] =
    "You must agree to the terms and conditions of the license agreement located at D:\\LICENSE.doc, where D is the "
    "driver letter of your CD drive. Do you agree?";
constexpr char kLiability[] = "Brannick shall not be held liable for any damage caused by this program. Do you agree?";

std::string Narrow(const std::wstring& text) {
    std::string out(
        static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr)),
        '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), static_cast<int>(out.size()), nullptr, nullptr);
    out.pop_back();
    return out;
}

// Asked of the window itself: another process's edit box keeps its text
// where GetWindowText does not look.
std::string TextOf(HWND window) {
    std::wstring text(static_cast<std::size_t>(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0)) + 1, L'\0');
    text.resize(
        static_cast<std::size_t>(SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()))));
    return Narrow(text);
}

// The child windows of `window` whose text is `text`, in their order.
std::vector<HWND> ChildrenWithText(HWND window, const std::string& text) {
    std::vector<HWND> found;
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (TextOf(child) == text) {
            found.push_back(child);
        }
    }
    return found;
}

HWND FocusOf(HWND window) {
    GUITHREADINFO thread{};
    thread.cbSize = sizeof thread;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &thread);
    return thread.hwndFocus;
}

// Presses `key` on the focused control as the keyboard would, and gives the
// window time to take it (a Tab: until the focus has moved).
void Press(HWND window, WPARAM key) {
    const HWND before = FocusOf(window);
    PostMessageW(before, WM_KEYDOWN, key, 0);
    const auto deadline = Clock::now() + (key == VK_TAB ? kWait : kPoll * 5);
    while (Clock::now() < deadline && !(key == VK_TAB && FocusOf(window) != before)) {
        std::this_thread::sleep_for(kPoll);
    }
}

std::string ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return Narrow(name);
}

// A Unix path as Wine shows it to Windows programs.
fs::path OnUnixRoot(const char* path) { return fs::path("Z:\\") / fs::path(path).relative_path(); }

// The names of the system's registry programs, which a search of the
// installer's or the current folder would find before the system's own.
constexpr const char* kPlantedNames[] = {"reg.exe", "regedit.exe"};

// The first visible top-level window of a process with a class name.
struct WindowSearch {
    DWORD process;
    const char* className;
    HWND found;
};

BOOL CALLBACK FindProcessWindow(HWND window, LPARAM context) {
    auto& search = *reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    // Its own WS_VISIBLE: IsWindowVisible also asks the desktop, which a
    // fresh prefix's first program may see hidden.
    if (owner == search.process && (GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0 &&
        ClassOf(window) == search.className) {
        search.found = window;
        return FALSE;
    }
    return TRUE;
}

// The installer, started as players get it: from a folder of its own (whose
// name the ANSI code page cannot hold) with the registry script beside it,
// while the current folder is another one. Both folders hold planted
// programs under the names of the system's registry programs, which leave a
// mark when they run.
class Installer {
public:
    explicit Installer(const std::string& script = testsupport::SampleRegistryScript()) {
        fs::create_directories(program());
        fs::copy_file(OnUnixRoot(VARNHOLT_INSTALLER_EXE), program() / "VarnholtInstall.exe");
        testsupport::WriteFile(program() / "varnholtinstall.reg", script);
        for (const fs::path& folder : {program(), current_.path()}) {
            for (const char* name : kPlantedNames) {
                fs::copy_file(OnUnixRoot(VARNHOLT_PLANTED_EXE), folder / name);
            }
        }
        std::wstring command = (program() / "VarnholtInstall.exe").wstring();
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            current_.path().wstring().c_str(), &startup, &process_)) {
            throw std::runtime_error("cannot start the installer");
        }
    }
    ~Installer() {
        if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_.hProcess, 99);
            WaitForSingleObject(process_.hProcess, INFINITE);
        }
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }

    // The first visible top-level window of `className` the installer shows
    // within `wait`, or null.
    HWND WaitForWindow(const char* className, Clock::duration wait = kWait) const {
        const auto deadline = Clock::now() + wait;
        do {
            if (HWND found = Find(className)) {
                return found;
            }
            std::this_thread::sleep_for(kPoll);
        } while (Clock::now() < deadline);
        return nullptr;
    }

    // The message box shown now (waiting for one), as "<text>", pressed with
    // `button` after `whileShown` has run; "" when none came.
    std::string Answer(int button, Clock::duration wait = kWait, const std::function<void()>& whileShown = {}) const {
        const HWND box = WaitForWindow("#32770", wait);
        if (box == nullptr) {
            return "";
        }
        const std::string text = TextOf(GetDlgItem(box, kMessageBoxTextId));
        if (whileShown) {
            whileShown();
        }
        EXPECT_EQ(TextOf(box), "VarnholtInstall");
        EXPECT_NE(GetDlgItem(box, button), nullptr) << text;
        SendMessageW(GetDlgItem(box, button), BM_CLICK, 0, 0);
        return text;
    }

    // The exit status once the program has ended, or -1 when it goes on.
    int ExitStatus(Clock::duration wait = kWait) const {
        if (WaitForSingleObject(
                process_.hProcess,
                static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(wait).count())) !=
            WAIT_OBJECT_0) {
            return -1;
        }
        DWORD status = 0;
        GetExitCodeProcess(process_.hProcess, &status);
        return static_cast<int>(status);
    }

    HWND MainWindow() const { return WaitForWindow("VarnholtInstallMain"); }

    fs::path program() const { return folder_ / L"Varnholt \u03a9"; }

    // The planted programs that ran.
    std::vector<std::string> PlantedThatRan() const {
        std::vector<std::string> ran;
        for (const fs::path& folder : {program(), current_.path()}) {
            for (const char* name : kPlantedNames) {
                if (fs::exists(folder / (std::string(name) + ".ran"))) {
                    ran.push_back((folder / name).string());
                }
            }
        }
        return ran;
    }

private:
    HWND Find(const char* className) const {
        WindowSearch search{process_.dwProcessId, className, nullptr};
        EnumWindows(&FindProcessWindow, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    testsupport::TempDir folder_;
    testsupport::TempDir current_;
    PROCESS_INFORMATION process_{};
};

// A fresh prefix makes its desktop when the first window is created, and a
// loaded machine can take longer than Wine waits for it: that window then
// fails, and a message box returns at once. Make the desktop here first.
class WineDesktop : public ::testing::Environment {
public:
    void SetUp() override {
        const auto deadline = Clock::now() + kInstallWait;
        while (Clock::now() < deadline) {
            if (const HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                                   GetModuleHandleW(nullptr), nullptr)) {
                DestroyWindow(probe);
                return;
            }
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
        // A failed environment would only skip the tests.
        std::fprintf(stderr, "Wine's desktop did not come up\n");
        std::exit(1);
    }
};
const auto* const kDesktop = ::testing::AddGlobalTestEnvironment(new WineDesktop);

TEST(FrontEnd, NoToEitherPromptEndsTheProgramWithoutAWindow) {
    struct Case {
        const char* what;
        std::vector<int> answers;
        std::vector<std::string> prompts;
    };
    const Case cases[] = {
        {"no to the licence", {IDNO}, {kLicence}},
        {"yes, then no to the disclaimer", {IDYES, IDNO}, {kLicence, kLiability}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Installer installer;
        std::vector<std::string> prompts;
        for (int answer : c.answers) {
            prompts.push_back(installer.Answer(answer));
        }
        EXPECT_EQ(prompts, c.prompts);
        EXPECT_EQ(installer.ExitStatus(), 0);
        EXPECT_EQ(installer.WaitForWindow("VarnholtInstallMain", std::chrono::milliseconds(0)), nullptr);
    }
}

TEST(FrontEnd, TheWindowShowsTheTableWithItsTabOrderAndKeys) {
    Installer installer;
    installer.Answer(IDYES);
    installer.Answer(IDYES);
    const HWND window = installer.MainWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(TextOf(window), "VarnholtInstall 1.0.0");
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 425);  // 6375 x 2940 twips at 96 DPI
    EXPECT_EQ(client.bottom, 196);
    const LONG style = GetWindowLongW(window, GWL_STYLE);
    EXPECT_TRUE((style & WS_SYSMENU) && !(style & WS_THICKFRAME) && !(style & WS_MINIMIZEBOX) &&
                !(style & WS_MAXIMIZEBOX));
    // Centred on the whole primary monitor, not on its work area.
    RECT frame{};
    GetWindowRect(window, &frame);
    EXPECT_EQ(frame.left, (GetSystemMetrics(SM_CXSCREEN) - (frame.right - frame.left)) / 2);
    EXPECT_EQ(frame.top, (GetSystemMetrics(SM_CYSCREEN) - (frame.bottom - frame.top)) / 2);

    std::vector<std::string> tabOrder{TextOf(FocusOf(window))};
    for (int i = 0; i < 6; ++i) {
        Press(window, VK_TAB);
        tabOrder.push_back(TextOf(FocusOf(window)));
    }
    EXPECT_EQ(tabOrder, (std::vector<std::string>{"C:\\Ostmere\\Varnholt\\", "Install", "?", "D", "?", "Go!",
                                                  "C:\\Ostmere\\Varnholt\\"}));

    // Enter and Escape in a text box do nothing; Enter on a button presses it.
    Press(window, VK_RETURN);
    Press(window, VK_ESCAPE);
    EXPECT_EQ(installer.WaitForWindow("#32770", kNothingHappens), nullptr);
    EXPECT_NE(GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE, 0);
    Press(window, VK_TAB);
    Press(window, VK_TAB);
    Press(window, VK_RETURN);
    EXPECT_EQ(installer.Answer(IDOK),
              "Enter the path where you want Varnholt to be installed to. All nonexistent "
              "directories will be created.");

    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(installer.ExitStatus(), 0);
}

// The prefix's own D: while the object lives.
class CdDrive {
public:
    explicit CdDrive(const fs::path& cd) { Link("ln -sfn " + testsupport::ShellQuote(cd.string())); }
    ~CdDrive() { Link("rm -f"); }

private:
    static void Link(const std::string& command) { testsupport::Run(command + " \"$WINEPREFIX/dosdevices/d:\""); }
};

// The game's key as the 32-bit game reads it: in the 32-bit view, which this
// 64-bit test program must name.
constexpr wchar_t kGameKey[] = L"SOFTWARE\\Ostmere";

std::string ValueOf(const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Ostmere\\Varnholt", 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key) !=
        ERROR_SUCCESS) {
        return "";
    }
    wchar_t value[256] = {};
    DWORD size = sizeof value;
    const LSTATUS read = RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, value, &size);
    RegCloseKey(key);
    return read == ERROR_SUCCESS ? Narrow(value) : "";
}

void DeleteGameKey(REGSAM view) {
    HKEY software = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_ALL_ACCESS | view, &software) == ERROR_SUCCESS) {
        RegDeleteTreeW(software, L"Ostmere");
        RegCloseKey(software);
    }
}

bool GameKeyIn(REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kGameKey, 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

// The registry script is merged before the completion box shows; one the
// registry tool rejects ends the install with the report that says how to
// finish, and the game's files stay.
TEST(FrontEnd, InstallsTheDemoCdIntoThePrefixAndMergesTheRegistryScript) {
    const CdDrive cd(testsupport::DemoCd());
    const fs::path installed = "C:\\Ostmere\\Varnholt";
    struct Case {
        const char* what;
        std::string script;
        std::string lastBox;  // the report ends with the command, after the script's folder
        int exitStatus;
        bool merged;
    };
    const Case cases[] = {
        {"the sample script", testsupport::SampleRegistryScript(),
         "Varnholt installation complete! Run C:\\Ostmere\\Varnholt\\ to start the game. No shortcuts have been "
         "created.",
         0, true},
        {"a script the registry tool rejects", "not a registry script\r\n",
         "Run-time error '1603':\n\nThe game's files are installed, but its registry settings were not merged: the "
         "registry tool ended with exit code 1; it may have merged part of the script first, so the settings may be "
         "partly merged.\n\nTo finish the installation, run this command:\nreg import \"",
         1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(installed);
        DeleteGameKey(KEY_WOW64_32KEY);
        DeleteGameKey(KEY_WOW64_64KEY);

        Installer installer(c.script);
        installer.Answer(IDYES);
        installer.Answer(IDYES);
        const HWND window = installer.MainWindow();
        ASSERT_NE(window, nullptr);
        const std::vector<HWND> buttons = ChildrenWithText(window, "Install");
        ASSERT_EQ(buttons.size(), 1u);
        PostMessageW(buttons[0], BM_CLICK, 0, 0);
        EXPECT_EQ(installer.Answer(IDYES), "Are you sure you want to install Varnholt to C:\\Ostmere\\Varnholt\\?");
        EXPECT_EQ(installer.Answer(IDOK).rfind("Some files may take a long time to copy", 0), 0u);
        // The values as the 32-bit game reads them, the moment the last box
        // is up: nothing may still be on its way.
        std::string version;
        const std::string last = installer.Answer(IDOK, kInstallWait, [&] { version = ValueOf(L"Version"); });
        EXPECT_EQ(last.rfind(c.lastBox, 0), 0u) << last;
        if (!c.merged) {
            const fs::path script = (installer.program() / "varnholtinstall.reg").make_preferred();
            EXPECT_EQ(last.substr(c.lastBox.size()), Narrow(script.wstring()) + "\" /reg:32");
        }
        EXPECT_EQ(installer.ExitStatus(), c.exitStatus);
        EXPECT_EQ(version, c.merged ? "1.00" : "");
        EXPECT_EQ(ValueOf(L"InstallPath"), c.merged ? "C:\\Ostmere\\Varnholt\\" : "");

        // Nothing is rolled back. The script went to the system's own
        // registry tool (never a program of that name in the installer's or
        // the current folder), which wrote the view the 32-bit game reads,
        // and only there.
        EXPECT_EQ(testsupport::ReadTree(installed), testsupport::ExpectedInstall(testsupport::DemoCd()));
        EXPECT_FALSE(GameKeyIn(KEY_WOW64_64KEY));
        EXPECT_EQ(installer.PlantedThatRan(), std::vector<std::string>{});
    }
}

// The system's registry tool, while the object lives, is a stand-in whose
// import takes 8 s and writes nothing. Wine is told to run that file rather
// than its own built-in tool of the name.
class SlowRegistryTool {
public:
    SlowRegistryTool() {
        wchar_t folder[MAX_PATH];
        const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
        tool_ = fs::path(std::wstring(folder, length)) / "reg.exe";
        saved_ = fs::path(tool_) += ".saved";
        // CopyFileW: the runtime's copy_file refuses to replace a file here.
        if (!CopyFileW(tool_.c_str(), saved_.c_str(), FALSE) ||
            !CopyFileW(OnUnixRoot(VARNHOLT_SLOW_REGISTRY_TOOL_EXE).c_str(), tool_.c_str(), FALSE)) {
            throw std::runtime_error("cannot put the stand-in in place of " + tool_.string());
        }
        if (RegCreateKeyExW(HKEY_CURRENT_USER, kOverrides, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &overrides_,
                            nullptr) == ERROR_SUCCESS) {
            RegSetValueExW(overrides_, L"reg.exe", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"native"),
                           sizeof L"native");
        }
    }
    ~SlowRegistryTool() {
        if (overrides_ != nullptr) {
            RegDeleteValueW(overrides_, L"reg.exe");
            RegCloseKey(overrides_);
        }
        CopyFileW(saved_.c_str(), tool_.c_str(), FALSE);
        DeleteFileW(saved_.c_str());
    }
    SlowRegistryTool(const SlowRegistryTool&) = delete;
    SlowRegistryTool& operator=(const SlowRegistryTool&) = delete;

private:
    static constexpr wchar_t kOverrides[] = L"Software\\Wine\\DllOverrides";
    fs::path tool_;
    fs::path saved_;
    HKEY overrides_ = nullptr;
};

// A left click at the middle of `window`, as the mouse gives it.
void ClickWithTheMouse(HWND window) {
    RECT frame{};
    GetWindowRect(window, &frame);
    SetCursorPos((frame.left + frame.right) / 2, (frame.top + frame.bottom) / 2);
    INPUT clicks[2] = {};
    clicks[0].type = clicks[1].type = INPUT_MOUSE;
    clicks[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    clicks[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, clicks, sizeof(INPUT));
}

// Alt+F4, as the keyboard gives it.
void PressAltF4() {
    INPUT keys[4] = {};
    const WORD order[4] = {VK_MENU, VK_F4, VK_F4, VK_MENU};
    for (int i = 0; i < 4; ++i) {
        keys[i].type = INPUT_KEYBOARD;
        keys[i].ki.wVk = order[i];
        keys[i].ki.dwFlags = i < 2 ? 0 : KEYEVENTF_KEYUP;
    }
    SendInput(4, keys, sizeof(INPUT));
}

// While a slow import runs, the window takes no input and stays alive: it
// answers the system's questions well past the 5 s after which Windows
// ghosts a window as "Not Responding", it repaints what is invalidated, and
// neither a click on Install nor Alt+F4 gets in; the install then completes.
TEST(FrontEnd, ASlowImportKeepsTheWindowPaintedAndTakesNoInput) {
    constexpr auto kWatch = std::chrono::seconds(6);
    constexpr UINT kAnswerWithin = 1000;  // ms
    const CdDrive cd(testsupport::DemoCd());
    fs::remove_all("C:\\Ostmere\\Varnholt");
    const SlowRegistryTool tool;
    Installer installer;
    installer.Answer(IDYES);
    installer.Answer(IDYES);
    const HWND window = installer.MainWindow();
    ASSERT_NE(window, nullptr);
    const std::vector<HWND> buttons = ChildrenWithText(window, "Install");
    ASSERT_FALSE(buttons.empty());
    const HWND install = buttons.back();
    PostMessageW(install, BM_CLICK, 0, 0);
    installer.Answer(IDYES);
    installer.Answer(IDOK);
    // The hand-off has begun once the window no longer takes input.
    const auto deadline = Clock::now() + kInstallWait;
    while (IsWindowEnabled(window) && Clock::now() < deadline && installer.ExitStatus(kPoll) == -1) {
    }
    ASSERT_FALSE(IsWindowEnabled(window));

    const auto began = Clock::now();
    ClickWithTheMouse(install);
    PressAltF4();
    int looks = 0;
    int unanswered = 0;
    int leftUnpainted = 0;
    while (Clock::now() - began < kWatch) {
        DWORD_PTR result = 0;
        if (SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kAnswerWithin, &result) == 0) {
            ++unanswered;
        }
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        // Without erasing: asks the window nothing, so it cannot block here.
        if (GetUpdateRect(window, nullptr, FALSE)) {
            ++leftUnpainted;
        }
        EXPECT_FALSE(IsWindowEnabled(window));
        ++looks;
    }
    EXPECT_GE(looks, 10);
    EXPECT_EQ(unanswered, 0);
    EXPECT_EQ(leftUnpainted, 0);
    EXPECT_EQ(installer.WaitForWindow("#32770", std::chrono::milliseconds(0)), nullptr);
    EXPECT_EQ(installer.ExitStatus(std::chrono::milliseconds(0)), -1);

    const std::string last = installer.Answer(IDOK, kInstallWait);
    EXPECT_EQ(last.rfind("Varnholt installation complete!", 0), 0u) << last;
    EXPECT_EQ(installer.ExitStatus(), 0);
}

TEST(FrontEnd, AFailedInstallShowsTheRuntimeReportAndEnds) {
    Installer installer;
    installer.Answer(IDYES);
    installer.Answer(IDYES);
    const HWND window = installer.MainWindow();
    ASSERT_NE(window, nullptr);
    const std::vector<HWND> cdBoxes = ChildrenWithText(window, "D");
    const std::vector<HWND> buttons = ChildrenWithText(window, "Install");
    ASSERT_TRUE(!cdBoxes.empty() && !buttons.empty());
    const HWND cdBox = cdBoxes.back();
    const HWND install = buttons.back();
    SendMessageW(cdBox, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"Q"));
    PostMessageW(install, BM_CLICK, 0, 0);
    installer.Answer(IDYES);
    installer.Answer(IDOK);
    EXPECT_EQ(installer.Answer(IDOK), "Run-time error '3':\n\nThe system cannot find the path specified.");
    EXPECT_EQ(installer.ExitStatus(), 1);
}

}  // namespace
