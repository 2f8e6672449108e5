// File copy, the installer's folder and starting documents on Windows, over
// the kernel and the shell. Drive paths are the system's own paths.
#include "platform/files.h"

#include "platform/common/file_errors.h"
#include "platform/runtime.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

namespace platform {

namespace {

// ShellExecute's results up to this value are failures.
constexpr INT_PTR kShellExecuteLastFailure = 32;
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

bool EndsWithIgnoringCase(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && ::lstrcmpiA(text.c_str() + text.size() - suffix.size(), suffix.c_str()) == 0;
}

}  // namespace

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
        const DWORD length = ::GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(path.data()),
                                                  static_cast<DWORD>(path.size()));
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
    const std::string document = TextToAnsi(path);
    const DWORD attributes = ::GetFileAttributesA(document.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        RaiseFileError(kErrFileNotFound);
    }
    INT_PTR result = reinterpret_cast<INT_PTR>(
        ::ShellExecuteA(nullptr, nullptr, document.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (result <= kShellExecuteLastFailure && EndsWithIgnoringCase(document, ".reg")) {
        // Where nothing is registered for registry scripts (a Wine prefix,
        // a stripped-down system), hand it to regedit as Windows' own
        // registration for the file type does.
        const std::string quoted = "\"" + document + "\"";
        result = reinterpret_cast<INT_PTR>(
            ::ShellExecuteA(nullptr, "open", "regedit.exe", quoted.c_str(), nullptr, SW_SHOWNORMAL));
    }
    if (result <= kShellExecuteLastFailure) {
        RaiseFileError(kErrFileNotFound);
    }
}

}  // namespace platform
