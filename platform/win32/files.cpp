// File copy, the installer's folder and starting documents on Windows, over
// the kernel and the shell. Drive paths are the system's own paths.
#include "platform/files.h"

#include "platform/common/file_errors.h"
#include "platform/common/registry_merge.h"
#include "platform/runtime.h"
#include "platform/win32/shell.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <chrono>
#include <optional>
#include <string>

namespace platform {

namespace {

constexpr char16_t kRuntimeSource[] = u"VarnholtInstall";
// The longest folder GetTempFileName takes: its name must fit beside it.
constexpr std::size_t kTemporaryFolderLimit = MAX_PATH - 14;

int32_t NumberForError(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND: return kErrFileNotFound;
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH: return kErrPathNotFound;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT: return kErrPermissionDenied;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return kErrDiskFull;
        case ERROR_INVALID_NAME:
        case ERROR_FILENAME_EXCED_RANGE:
        case ERROR_DIRECTORY: return kErrPathFileAccess;
        default: return kErrDeviceIo;
    }
}

bool IsDirectory(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A short, unique file in the destination's folder ("vhXXXX.tmp") for the
// copy to be written to first; "" where none can be made there, above all
// in a folder too long for one, where the copy goes to the destination
// directly. The destination's own name is never lengthened, so a
// destination close to MAX_PATH does not fail for the temporary's sake.
std::string TemporaryBeside(const std::string& destination) {
    const std::size_t separator = destination.find_last_of("\\/");
    const std::string folder = separator == std::string::npos ? "." : destination.substr(0, separator + 1);
    char temporary[MAX_PATH];
    if (folder.size() > kTemporaryFolderLimit || ::GetTempFileNameA(folder.c_str(), "vh", 0, temporary) == 0) {
        return {};
    }
    return temporary;
}

std::u16string Text(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

// The system's text for `code`, without its line end; "" when it has none.
std::u16string SystemText(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::u16string description(text, text + length);
    ::LocalFree(text);
    while (!description.empty() &&
           (description.back() == u'\n' || description.back() == u'\r' || description.back() == u' ')) {
        description.pop_back();
    }
    return description;
}

[[noreturn]] void RaiseSystemError(DWORD code) {
    const std::u16string description = SystemText(code);
    throw RaisedError(static_cast<int32_t>(code), kRuntimeSource,
                      description.empty() ? u"Unknown error." : description);
}

// The system's text for `code` as a clause inside a sentence of ours.
std::u16string SystemClause(DWORD code) {
    std::u16string text = SystemText(code);
    if (!text.empty() && text.back() == u'.') {
        text.pop_back();
    }
    return text.empty() ? u"error " + Text(std::to_wstring(code)) : text;
}

bool IsRegistryScript(const std::wstring& path) {
    constexpr std::wstring_view kExtension = L".reg";
    return path.size() >= kExtension.size() &&
           ::lstrcmpiW(path.c_str() + path.size() - kExtension.size(), kExtension.data()) == 0;
}

// No program is associated with the document's type, or none completely.
bool HasNoAssociation(const win32::ShellAnswer& answer) {
    return answer.instApp == SE_ERR_NOASSOC || answer.instApp == SE_ERR_ASSOCINCOMPLETE;
}

// The system's code for a start that failed: its last error, or, where that
// says nothing (Wine leaves one from an earlier call when nothing is
// associated), what the shell's own value stands for.
DWORD FailureCode(const win32::ShellAnswer& answer) {
    if (HasNoAssociation(answer)) {
        return ERROR_NO_ASSOCIATION;
    }
    if (answer.error != NO_ERROR) {
        return answer.error;
    }
    switch (answer.instApp) {
        case SE_ERR_FNF:
        case SE_ERR_PNF:
        case SE_ERR_ACCESSDENIED:
        case SE_ERR_OOM: return static_cast<DWORD>(answer.instApp);  // the same numbers as the system's codes
        case SE_ERR_SHARE: return ERROR_SHARING_VIOLATION;
        case SE_ERR_DLLNOTFOUND: return ERROR_DLL_NOT_FOUND;
        default: return ERROR_GEN_FAILURE;
    }
}

win32::ShellAnswer ShellExecuteRequest(const win32::ShellRequest& request) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    // The shell shows no failure of its own (it is raised), and it has
    // carried the request out before the program may end.
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC | (request.wait ? SEE_MASK_NOCLOSEPROCESS : 0);
    // The window a consent prompt belongs to: the installer's own, active
    // again once its last message box has closed, so the prompt comes to
    // the front rather than flashing in the taskbar.
    info.hwnd = ::GetActiveWindow();
    info.lpVerb = request.verb.empty() ? nullptr : request.verb.c_str();
    info.lpFile = request.file.c_str();
    info.lpParameters = request.parameters.empty() ? nullptr : request.parameters.c_str();
    info.nShow = request.show;
    win32::ShellAnswer answer;
    answer.started = ::ShellExecuteExW(&info) != FALSE;
    answer.error = answer.started ? NO_ERROR : ::GetLastError();
    answer.instApp = reinterpret_cast<INT_PTR>(info.hInstApp);
    if (answer.started && request.wait) {
        // The shell hands over no process only when none was made (DDE, a
        // running program reused); a program file always gives one, and a
        // missing one counts as an end that could not be seen.
        answer.exitCode = ERROR_INVALID_HANDLE;
        if (info.hProcess != nullptr) {
            const auto bound = std::chrono::duration_cast<std::chrono::milliseconds>(kRegistryImportBound);
            answer.finished = ::WaitForSingleObject(info.hProcess, static_cast<DWORD>(bound.count())) == WAIT_OBJECT_0;
            if (answer.finished) {
                ::GetExitCodeProcess(info.hProcess, &answer.exitCode);
            } else {
                // Not left to write the values after the player was told
                // they are missing (an elevated one may refuse this).
                ::TerminateProcess(info.hProcess, ERROR_TIMEOUT);
            }
            ::CloseHandle(info.hProcess);
        }
    }
    return answer;
}

// A copy of a registry script in the user's temporary folder while the
// object lives: an elevated program runs in another logon session, which
// does not see this one's mapped or SUBST drives.
class TemporaryCopy {
public:
    explicit TemporaryCopy(const std::wstring& document) {
        wchar_t folder[MAX_PATH + 1];
        wchar_t reserved[MAX_PATH];
        const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
        if (length == 0 || length > MAX_PATH || ::GetTempFileNameW(folder, L"vh", 0, reserved) == 0) {
            error_ = ::GetLastError();
            return;
        }
        // The reserved name keeps the copy's unique; the copy keeps the
        // script's extension.
        reserved_ = reserved;
        path_ = reserved_ + L".reg";
        if (!::CopyFileW(document.c_str(), path_.c_str(), TRUE)) {
            error_ = ::GetLastError();
            path_.clear();
        }
    }
    ~TemporaryCopy() {
        if (!path_.empty()) {
            ::DeleteFileW(path_.c_str());
        }
        if (!reserved_.empty()) {
            ::DeleteFileW(reserved_.c_str());
        }
    }
    TemporaryCopy(const TemporaryCopy&) = delete;
    TemporaryCopy& operator=(const TemporaryCopy&) = delete;

    const std::wstring& path() const { return path_; }  // "" when none could be made
    DWORD error() const { return error_; }

private:
    std::wstring reserved_;
    std::wstring path_;
    DWORD error_ = NO_ERROR;
};

// Merges the registry script into the 32-bit view with the system's registry
// tool and waits for it; any failure is raised with the report of a script
// that was not merged, naming the command that finishes the installation.
void MergeIntoThirtyTwoBitView(const std::wstring& document, const win32::SystemFacts& system,
                               const win32::Shell& shell) {
    const std::wstring quoted = L"\"" + document + L"\"";
    std::u16string command = u"reg import " + Text(quoted) + u" /reg:32";
    if (system.writingMachineKeysNeedsConsent) {
        command += u"\n(in a Command Prompt run as administrator)";
    }
    std::optional<TemporaryCopy> copy;
    std::wstring script = quoted;
    if (system.writingMachineKeysNeedsConsent) {
        copy.emplace(document);
        if (copy->path().empty()) {
            RaiseRegistryNotMerged(
                static_cast<int32_t>(copy->error()),
                u"the script could not be copied to the temporary folder (" + SystemClause(copy->error()) + u")",
                command);
        }
        script = L"\"" + copy->path() + L"\"";
    }
    const win32::ShellAnswer answer =
        shell({system.writingMachineKeysNeedsConsent ? L"runas" : L"", system.systemFolder + L"\\reg.exe",
               L"import " + script + L" /reg:32", SW_HIDE, true});
    if (!answer.started) {
        const DWORD code = FailureCode(answer);
        if (code == ERROR_CANCELLED) {
            RaiseRegistryNotMerged(kMergeConsentDeclined, u"the administrator's consent was declined", command);
        }
        RaiseRegistryNotMerged(static_cast<int32_t>(code),
                               u"the registry tool could not be started (" + SystemClause(code) + u")", command);
    }
    if (!answer.finished) {
        RaiseRegistryNotMerged(kMergeTimedOut,
                               u"the registry tool did not finish within " +
                                   Text(std::to_wstring(kRegistryImportBound.count())) + u" seconds",
                               command);
    }
    if (answer.exitCode != 0) {
        RaiseRegistryNotMerged(kMergeToolFailed,
                               u"the registry tool ended with exit code " + Text(std::to_wstring(answer.exitCode)),
                               command);
    }
}

std::wstring SystemFolder(UINT(WINAPI* get)(LPWSTR, UINT)) {
    wchar_t folder[MAX_PATH];
    const UINT length = get(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        RaiseSystemError(length == 0 ? ::GetLastError() : ERROR_FILENAME_EXCED_RANGE);
    }
    return std::wstring(folder, length);
}

}  // namespace

namespace win32 {

ComApartment::ComApartment() : result_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}

ComApartment::~ComApartment() {
    if (SUCCEEDED(result_)) {
        ::CoUninitialize();
    }
}

bool IsSixtyFourBitWindows(bool sixtyFourBitBuild, std::optional<USHORT> nativeMachine, bool wow64) {
    if (sixtyFourBitBuild) {
        return true;
    }
    if (nativeMachine) {
        return *nativeMachine != IMAGE_FILE_MACHINE_I386 && *nativeMachine != IMAGE_FILE_MACHINE_ARMNT;
    }
    return wow64;
}

SystemFacts RunningSystem() {
    SystemFacts system;
    // IsWow64Process alone says FALSE for an x86 program on some ARM64
    // systems; IsWow64Process2 names the machine itself, where it exists.
    using IsWow64Process2Call = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    std::optional<USHORT> nativeMachine;
    if (const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll")) {
        const auto call =
            reinterpret_cast<IsWow64Process2Call>(reinterpret_cast<void*>(::GetProcAddress(kernel, "IsWow64Process2")));
        USHORT process = 0;
        USHORT native = 0;
        if (call != nullptr && call(::GetCurrentProcess(), &process, &native)) {
            nativeMachine = native;
        }
    }
    BOOL wow64 = FALSE;
    if (!::IsWow64Process(::GetCurrentProcess(), &wow64)) {
        wow64 = FALSE;
    }
    system.sixtyFourBit = IsSixtyFourBitWindows(sizeof(void*) == 8, nativeMachine, wow64 != FALSE);
    // Refused only where UAC keeps HKLM from this process until an
    // administrator consents. (The program's manifest names its execution
    // level, so no registry virtualisation hides a refusal.)
    HKEY software = nullptr;
    const LSTATUS opened = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0,
                                           KEY_CREATE_SUB_KEY | KEY_SET_VALUE | KEY_WOW64_32KEY, &software);
    if (opened == ERROR_SUCCESS) {
        ::RegCloseKey(software);
    }
    system.writingMachineKeysNeedsConsent = opened == ERROR_ACCESS_DENIED;
    // For a 32-bit program under WOW64 the file system redirector turns
    // System32 into SysWOW64, whose reg.exe is the 32-bit one: either takes
    // /reg:32. %windir% itself is not redirected; the system's own is asked
    // for, since a Terminal Services user's GetWindowsDirectory is private.
    system.systemFolder = SystemFolder(&::GetSystemDirectoryW);
    system.windowsFolder = SystemFolder(&::GetSystemWindowsDirectoryW);
    return system;
}

void StartExistingDocument(const std::wstring& document, const SystemFacts& system, const Shell& shell) {
    if (IsRegistryScript(document) && system.sixtyFourBit) {
        // Opening the script would start the 64-bit registry editor, which
        // writes the 64-bit view; the game reads the 32-bit one. reg.exe
        // names the view; it is a console tool, so no window.
        MergeIntoThirtyTwoBitView(document, system, shell);
        return;
    }
    ShellAnswer answer = shell({L"", document, L"", SW_SHOWNORMAL});
    // Where nothing is registered for registry scripts (a Wine prefix, a
    // stripped-down system), the registry editor, as Windows' own
    // registration does. Only then: a declined consent prompt must not bring
    // a second one.
    if (!answer.started && HasNoAssociation(answer) && IsRegistryScript(document)) {
        answer = shell({L"", system.windowsFolder + L"\\regedit.exe", L"\"" + document + L"\"", SW_SHOWNORMAL});
    }
    if (!answer.started) {
        RaiseSystemError(FailureCode(answer));
    }
}

}  // namespace win32

void FileCopy(const std::u16string& source, const std::u16string& destination) {
    const std::string from = TextToAnsi(source);
    const std::string to = TextToAnsi(destination);
    if (IsDirectory(from) || IsDirectory(to)) {
        RaiseFileError(kErrPathFileAccess);
    }
    // Copied beside the destination and moved into place once complete, so a
    // failed copy never leaves a half-written file where a good one stood.
    const std::string temporary = TemporaryBeside(to);
    const std::string& written = temporary.empty() ? to : temporary;
    if (!::CopyFileA(from.c_str(), written.c_str(), FALSE)) {
        const DWORD error = ::GetLastError();
        if (!temporary.empty()) {
            ::DeleteFileA(temporary.c_str());
        }
        RaiseFileError(NumberForError(error));
    }
    ::SetFileAttributesA(written.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!temporary.empty() &&
        !::MoveFileExA(temporary.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = ::GetLastError();
        ::DeleteFileA(temporary.c_str());
        RaiseFileError(NumberForError(error));
    }
}

std::u16string InstallerFolder() {
    std::u16string path(MAX_PATH, u'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(path.data()), static_cast<DWORD>(path.size()));
        if (length == 0) {
            RaiseFileError(kErrPathNotFound);
        }
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const std::size_t separator = path.find_last_of(u'\\');
    if (separator == std::u16string::npos) {
        RaiseFileError(kErrPathNotFound);
    }
    // A drive's root keeps its separator ("C:\").
    path.resize(separator == 2 ? 3 : separator);
    return path;
}

void StartDocument(const std::u16string& path) {
    // Wide calls: the installer's folder may hold characters the ANSI code
    // page cannot.
    const std::wstring document(path.begin(), path.end());
    const DWORD attributes = ::GetFileAttributesW(document.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        RaiseFileError(kErrFileNotFound);
    }
    const win32::ComApartment com;
    win32::StartExistingDocument(document, win32::RunningSystem(), &ShellExecuteRequest);
}

}  // namespace platform
