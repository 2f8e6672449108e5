// File copy, the installer's folder and starting documents on Windows, over
// the kernel and the shell. Drive paths are the system's own paths.
#include "platform/files.h"

#include "platform/common/file_errors.h"
#include "platform/runtime.h"
#include "platform/win32/shell.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

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

[[noreturn]] void RaiseSystemError(DWORD code) {
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
    throw RaisedError(static_cast<int32_t>(code), kRuntimeSource,
                      description.empty() ? u"Unknown error." : description);
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
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = request.verb.empty() ? nullptr : request.verb.c_str();
    info.lpFile = request.file.c_str();
    info.lpParameters = request.parameters.empty() ? nullptr : request.parameters.c_str();
    info.nShow = request.show;
    const bool started = ::ShellExecuteExW(&info) != FALSE;
    return {started, started ? NO_ERROR : ::GetLastError(), reinterpret_cast<INT_PTR>(info.hInstApp)};
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

SystemFacts RunningSystem() {
    SystemFacts system;
    // A 64-bit build runs only there; the shipped 32-bit one asks WOW64.
    BOOL wow64 = FALSE;
    system.sixtyFourBit = sizeof(void*) == 8 || (::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64);
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
    const std::wstring quoted = L"\"" + document + L"\"";
    ShellAnswer answer;
    if (IsRegistryScript(document) && system.sixtyFourBit) {
        // Opening the script would start the 64-bit registry editor, which
        // writes the 64-bit view; the game reads the 32-bit one. reg.exe
        // names the view; it is a console tool, so no window.
        answer = shell({system.writingMachineKeysNeedsConsent ? L"runas" : L"", system.systemFolder + L"\\reg.exe",
                        L"import " + quoted + L" /reg:32", SW_HIDE});
    } else {
        answer = shell({L"", document, L"", SW_SHOWNORMAL});
        // Where nothing is registered for registry scripts (a Wine prefix,
        // a stripped-down system), the registry editor, as Windows' own
        // registration does. Only then: a declined consent prompt must not
        // bring a second one.
        if (!answer.started && HasNoAssociation(answer) && IsRegistryScript(document)) {
            answer = shell({L"", system.windowsFolder + L"\\regedit.exe", quoted, SW_SHOWNORMAL});
        }
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
