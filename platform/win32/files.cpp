// SPDX-License-Identifier: MIT
// File copy, the installer's directory and starting documents on Windows, over
// the kernel and the shell. Drive paths are the system's own paths.
#include "platform/files.h"

#include "platform/common/file_errors.h"
#include "platform/common/registry_merge.h"
#include "platform/runtime.h"
#include "platform/win32/shell.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>

namespace platform {

namespace {

constexpr char16_t kRuntimeSource[] = u"VarnholtInstall";
// The longest directory GetTempFileName takes: its name must fit beside it.
constexpr std::size_t kTemporaryDirectoryLimit = MAX_PATH - 14;

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

// The largest registry script copied for the elevated tool: far beyond any
// game's, and its copy is read whole into memory.
constexpr LONGLONG kLargestScript = 64LL * 1024 * 1024;

// A short, unique file in the destination's directory ("vhXXXX.tmp") for the
// copy to be written to first; "" where none can be made there, above all
// in a directory too long for one, where the copy goes to the destination
// directly. The destination's own name is never lengthened, so a
// destination close to MAX_PATH does not fail for the temporary's sake.
std::string TemporaryBeside(const std::string& destination) {
    const std::size_t separator = destination.find_last_of("\\/");
    const std::string directory = separator == std::string::npos ? "." : destination.substr(0, separator + 1);
    char temporary[MAX_PATH];
    if (directory.size() > kTemporaryDirectoryLimit || ::GetTempFileNameA(directory.c_str(), "vh", 0, temporary) == 0) {
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

// The window the document requests belong to, passed in by the front end.
HWND documentOwner = nullptr;

// How often the wait for a program looks at the window's messages even when
// nothing woke it: far below the 5 s after which Windows ghosts a window.
constexpr DWORD kAliveSlice = 200;
// How many messages of one kind one look handles at most: a window that
// never validates itself cannot hold the wait.
constexpr int kMessagesPerLook = 64;
// How long a stopped program is given to be gone.
constexpr DWORD kStopGrace = 5000;

// What keeps a window alive without letting any input in: the messages other
// threads and the system send (handled inside PeekMessage itself: the
// questions that decide whether a window is hung, WM_NCPAINT, ...) and
// WM_PAINT. Posted and input messages stay queued.
void KeepWindowsAlive() {
    MSG message;
    ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    for (int i = 0; i < kMessagesPerLook && ::PeekMessageW(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE); ++i) {
        ::DispatchMessageW(&message);
    }
}

// The installer's window takes no input while the object lives: disabled,
// so no click, key or close reaches it and nothing starts a second time;
// input queued meanwhile is thrown away before it is enabled again.
class InputHeldOff {
public:
    explicit InputHeldOff(HWND window) : window_(window != nullptr && ::IsWindowEnabled(window) ? window : nullptr) {
        if (window_ != nullptr) {
            ::EnableWindow(window_, FALSE);
        }
    }
    ~InputHeldOff() {
        if (window_ == nullptr) {
            return;
        }
        MSG message;
        for (int i = 0; i < kMessagesPerLook && ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE | PM_QS_INPUT); ++i) {
        }
        ::EnableWindow(window_, TRUE);
    }
    InputHeldOff(const InputHeldOff&) = delete;
    InputHeldOff& operator=(const InputHeldOff&) = delete;

private:
    HWND window_;
};

// Waits for `process` at most kRegistryImportBound, keeping the thread's
// windows painted and answering meanwhile, and records how it ended in
// `answer`. A program that outlasts the bound, or whose wait fails, is
// stopped: it is not left to write the values after the player was told
// they are missing (an elevated one may refuse, which is recorded).
void AwaitProcess(HANDLE process, win32::ShellAnswer& answer) {
    const auto deadline = std::chrono::steady_clock::now() + kRegistryImportBound;
    answer.outcome = win32::WaitOutcome::TimedOut;
    for (auto now = std::chrono::steady_clock::now(); now < deadline; now = std::chrono::steady_clock::now()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        const DWORD slice = static_cast<DWORD>(std::min<long long>(left + 1, kAliveSlice));
        const DWORD woke = ::MsgWaitForMultipleObjects(1, &process, FALSE, slice, QS_PAINT | QS_SENDMESSAGE);
        if (woke == WAIT_OBJECT_0) {
            answer.outcome = win32::WaitOutcome::Exited;
            if (!::GetExitCodeProcess(process, &answer.exitCode)) {
                answer.outcome = win32::WaitOutcome::ExitCodeUnread;
                answer.waitError = ::GetLastError();
            }
            return;
        }
        if (woke == WAIT_FAILED) {
            answer.outcome = win32::WaitOutcome::WaitFailed;
            answer.waitError = ::GetLastError();
            break;
        }
        KeepWindowsAlive();
    }
    if (!::TerminateProcess(process, ERROR_TIMEOUT)) {
        answer.stopped = false;
        answer.stopError = ::GetLastError();
        return;
    }
    // TerminateProcess only starts the end.
    ::WaitForSingleObject(process, kStopGrace);
}

win32::ShellAnswer ShellExecuteRequest(const win32::ShellRequest& request) {
    // From before the start: the shell itself waits for the consent prompt,
    // handling messages meanwhile.
    std::optional<InputHeldOff> held;
    if (request.wait) {
        held.emplace(request.owner);
    }
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    // The shell shows no failure of its own (it is raised), and it has
    // carried the request out before the program may end.
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC | (request.wait ? SEE_MASK_NOCLOSEPROCESS : 0);
    // The consent prompt belongs to the installer's window, so it comes to
    // the front rather than flashing in the taskbar.
    info.hwnd = request.owner;
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
        // running program reused); a program file always gives one.
        if (info.hProcess == nullptr) {
            answer.outcome = win32::WaitOutcome::NoProcess;
        } else {
            AwaitProcess(info.hProcess, answer);
            ::CloseHandle(info.hProcess);
        }
    }
    return answer;
}

// The whole of a file, or the system's code why not.
std::optional<std::string> ReadWhole(HANDLE file, DWORD& error) {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size)) {
        error = ::GetLastError();
        return std::nullopt;
    }
    if (size.QuadPart > kLargestScript) {
        error = ERROR_FILE_TOO_LARGE;
        return std::nullopt;
    }
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() &&
        (!::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) || read != bytes.size())) {
        error = read != bytes.size() ? ERROR_HANDLE_EOF : ::GetLastError();
        return std::nullopt;
    }
    return bytes;
}

std::optional<std::string> ReadWhole(const std::wstring& path, DWORD& error) {
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = ::GetLastError();
        return std::nullopt;
    }
    std::optional<std::string> bytes = ReadWhole(file, error);
    ::CloseHandle(file);
    return bytes;
}

// A copy of a registry script in the user's temporary directory while the
// object lives: an elevated program runs in another logon session, which
// does not see this one's mapped or SUBST drives. Any program of the player
// may write there, so the copy is held open, shared for reading only (no
// other program can then write, delete or rename it), and read back through
// that handle: what the registry tool reads is the script, byte for byte.
class TemporaryCopy {
public:
    explicit TemporaryCopy(const std::wstring& document) {
        const std::optional<std::string> script = ReadWhole(document, error_);
        wchar_t directory[MAX_PATH + 1];
        wchar_t reserved[MAX_PATH];
        if (!script) {
            return;
        }
        const DWORD length = ::GetTempPathW(MAX_PATH + 1, directory);
        if (length == 0 || length > MAX_PATH || ::GetTempFileNameW(directory, L"vh", 0, reserved) == 0) {
            error_ = ::GetLastError();
            return;
        }
        // The reserved name keeps the copy's unique; the copy keeps the
        // script's extension.
        reserved_ = reserved;
        const std::wstring path = reserved_ + L".reg";
        const HANDLE written =
            ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (written == INVALID_HANDLE_VALUE) {
            error_ = ::GetLastError();
            return;
        }
        path_ = path;
        DWORD count = 0;
        const bool whole = script->empty() ||
                           (::WriteFile(written, script->data(), static_cast<DWORD>(script->size()), &count, nullptr) &&
                            count == script->size());
        error_ = whole ? NO_ERROR : ::GetLastError();
        ::CloseHandle(written);
        if (!whole) {
            return;
        }
        held_ = ::CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        if (held_ == INVALID_HANDLE_VALUE) {
            error_ = ::GetLastError();
            return;
        }
        // Changed between our write and our hold.
        const std::optional<std::string> copied = ReadWhole(held_, error_);
        if (copied && *copied != *script) {
            error_ = ERROR_FILE_INVALID;
        }
        ready_ = copied && *copied == *script;
    }
    ~TemporaryCopy() {
        if (held_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(held_);
        }
        if (!path_.empty()) {
            ::DeleteFileW(path_.c_str());
        }
        if (!reserved_.empty()) {
            ::DeleteFileW(reserved_.c_str());
        }
    }
    TemporaryCopy(const TemporaryCopy&) = delete;
    TemporaryCopy& operator=(const TemporaryCopy&) = delete;

    // "" when none could be made, or it is not the script.
    std::wstring path() const { return ready_ ? path_ : std::wstring(); }
    DWORD error() const { return error_; }

private:
    std::wstring reserved_;
    std::wstring path_;
    HANDLE held_ = INVALID_HANDLE_VALUE;
    bool ready_ = false;
    DWORD error_ = NO_ERROR;
};

// reg import's exit code when it stopped at a failure, which may come after
// it wrote some of the script's keys.
constexpr DWORD kImportFailed = 1;

std::u16string Number(DWORD value) { return Text(std::to_wstring(value)); }

// Raises the report of a script the registry tool did not (wholly) merge,
// by how the tool's run ended; returns when it merged the script.
void RaiseUnlessMerged(const win32::ShellAnswer& answer, const std::u16string& command) {
    using win32::WaitOutcome;
    const std::u16string bound = Number(static_cast<DWORD>(kRegistryImportBound.count()));
    const std::u16string stopped = answer.stopped ? u", and was stopped; it may have merged part of the script first"
                                                  : u", and could not be stopped (" + SystemClause(answer.stopError) +
                                                        u"): it may still merge them after this message";
    switch (answer.outcome) {
        case WaitOutcome::Exited:
            if (answer.exitCode == 0) {
                return;
            }
            RaiseRegistryNotMerged(kMergeToolFailed,
                                   u"the registry tool ended with exit code " + Number(answer.exitCode) +
                                       (answer.exitCode == kImportFailed
                                            ? u"; it may have merged part of the script first, so the settings "
                                              u"may be partly merged"
                                            : u""),
                                   command);
        case WaitOutcome::ExitCodeUnread:
            RaiseRegistryNotMerged(static_cast<int32_t>(answer.waitError),
                                   u"the registry tool ended, but its exit code could not be read (" +
                                       SystemClause(answer.waitError) + u"), so whether it merged them is not known",
                                   command);
        case WaitOutcome::TimedOut:
            RaiseRegistryNotMerged(
                kMergeTimedOut, u"the registry tool did not finish within " + bound + u" seconds" + stopped, command);
        case WaitOutcome::WaitFailed:
            RaiseRegistryNotMerged(
                static_cast<int32_t>(answer.waitError),
                u"waiting for the registry tool failed (" + SystemClause(answer.waitError) + u")" + stopped, command);
        case WaitOutcome::NoProcess:
            RaiseRegistryNotMerged(ERROR_INVALID_HANDLE,
                                   u"the system started the registry tool but gave no handle to wait for it with, so "
                                   u"whether it merged them is not known",
                                   command);
    }
    RaiseRegistryNotMerged(ERROR_GEN_FAILURE, u"the registry tool's end could not be told", command);
}

// Merges the registry script into the 32-bit view with the system's registry
// tool and waits for it; any failure is raised with the report of a script
// that was not merged, naming the command that finishes the installation.
void MergeIntoThirtyTwoBitView(const std::wstring& document, const win32::SystemFacts& system, HWND owner,
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
        shell({system.writingMachineKeysNeedsConsent ? L"runas" : L"", system.systemDirectory + L"\\reg.exe",
               L"import " + script + L" /reg:32", SW_HIDE, true, owner});
    if (!answer.started) {
        const DWORD code = FailureCode(answer);
        if (code == ERROR_CANCELLED) {
            RaiseRegistryNotMerged(kMergeConsentDeclined, u"the administrator's consent was declined", command);
        }
        RaiseRegistryNotMerged(static_cast<int32_t>(code),
                               u"the registry tool could not be started (" + SystemClause(code) + u")", command);
    }
    RaiseUnlessMerged(answer, command);
}

std::wstring SystemDirectory(UINT(WINAPI* get)(LPWSTR, UINT)) {
    wchar_t directory[MAX_PATH];
    const UINT length = get(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        RaiseSystemError(length == 0 ? ::GetLastError() : ERROR_FILENAME_EXCED_RANGE);
    }
    return std::wstring(directory, length);
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
    system.systemDirectory = SystemDirectory(&::GetSystemDirectoryW);
    system.windowsDirectory = SystemDirectory(&::GetSystemWindowsDirectoryW);
    return system;
}

void SetDocumentOwner(HWND window) { documentOwner = window; }

void StartExistingDocument(const std::wstring& document, const SystemFacts& system, HWND owner, const Shell& shell) {
    if (IsRegistryScript(document) && system.sixtyFourBit) {
        // Opening the script would start the 64-bit registry editor, which
        // writes the 64-bit view; the game reads the 32-bit one. reg.exe
        // names the view; it is a console tool, so no window.
        MergeIntoThirtyTwoBitView(document, system, owner, shell);
        return;
    }
    ShellAnswer answer = shell({L"", document, L"", SW_SHOWNORMAL, false, owner});
    // Where nothing is registered for registry scripts (a Wine prefix, a
    // stripped-down system), the registry editor, as Windows' own
    // registration does. Only then: a declined consent prompt must not bring
    // a second one.
    if (!answer.started && HasNoAssociation(answer) && IsRegistryScript(document)) {
        answer = shell(
            {L"", system.windowsDirectory + L"\\regedit.exe", L"\"" + document + L"\"", SW_SHOWNORMAL, false, owner});
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

std::u16string InstallerDirectory() {
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
    // Wide calls: the installer's directory may hold characters the ANSI code
    // page cannot.
    const std::wstring document(path.begin(), path.end());
    const DWORD attributes = ::GetFileAttributesW(document.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        RaiseFileError(kErrFileNotFound);
    }
    const win32::ComApartment com;
    win32::StartExistingDocument(document, win32::RunningSystem(), documentOwner, &ShellExecuteRequest);
}

}  // namespace platform
