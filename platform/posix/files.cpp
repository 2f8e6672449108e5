// File copy, the installer's folder and starting documents on Linux.
#include "platform/files.h"

#include "platform/common/file_errors.h"
#include "platform/drives.h"
#include "platform/kernel.h"
#include "platform/posix/host_io.h"
#include "platform/posix/safe_output.h"
#include "platform/runtime.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace platform {

namespace {

constexpr std::size_t kCopyChunk = 1 << 20;

int32_t NumberForErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR: return kErrPathNotFound;
        case EACCES:
        case EPERM:
        case EROFS: return kErrPermissionDenied;
        case ENOSPC:
        case EDQUOT: return kErrDiskFull;
        case EISDIR:
        case EBUSY:
        case ETXTBSY:
        case EEXIST:
        case ENAMETOOLONG:
        case ELOOP: return kErrPathFileAccess;
        default: return kErrDeviceIo;
    }
}

// The host path of a drive path, or the raised error for a path that leads
// nowhere.
std::string HostPath(const std::u16string& path) {
    uint32_t error = NO_ERROR;
    auto host = DosPathToHostPath(TextToAnsi(path), &error);
    if (!host) {
        RaiseFileError(error == ERROR_INVALID_NAME ? kErrPathFileAccess : kErrPathNotFound);
    }
    return *host;
}

// A destination that exists and may not be written: a read-only file (which
// even root must not replace, as on Windows) or one this user may not write.
bool IsReadOnlyFile(const std::string& hostPath) {
    struct stat info {};
    if (stat(hostPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || access(hostPath.c_str(), W_OK) != 0;
}

std::optional<std::string> FindOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        std::string candidate = folders.substr(start, end - start);
        candidate = (candidate.empty() ? "." : candidate) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0 && !IsHostDirectory(candidate)) {
            return candidate;
        }
        start = end + 1;
    }
    return std::nullopt;
}

// Whether `hostPath` names a registry script: its extension is ".reg" in
// any case, as Windows matches extensions.
bool IsRegistryScript(const std::string& hostPath) {
    constexpr std::u16string_view kExtension = u".reg";
    const std::u16string name = Utf8ToText(LastComponent(hostPath));
    return name.size() >= kExtension.size() &&
           TextEqualsIgnoreCase(std::u16string_view(name).substr(name.size() - kExtension.size()), kExtension);
}

bool IsSameFile(const std::string& left, const std::string& right) {
    struct stat a {
    }, b{};
    return stat(left.c_str(), &a) == 0 && stat(right.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The document as programs inside the Wine prefix name it: its drive path
// when a drive of the prefix leads there, else Wine's own form for a host
// path outside every drive ("\\?\unix\..."), which a prefix that maps no
// Z: still understands. In the host's encoding, as Wine reads its arguments.
std::string WineName(const std::string& document) {
    const std::string drivePath = HostPathToDosPath(document);
    const std::string driveEntry =
        WinePrefix() + "/dosdevices/" + static_cast<char>(std::tolower(static_cast<unsigned char>(drivePath[0]))) + ":";
    uint32_t error = NO_ERROR;
    const auto resolved = DosPathToHostPath(drivePath, &error);
    if (IsHostDirectory(driveEntry) && resolved && IsSameFile(*resolved, document)) {
        return TextToUtf8(AnsiToText(drivePath));
    }
    char absolute[PATH_MAX];
    std::string name = "\\\\?\\unix";
    name += realpath(document.c_str(), absolute) != nullptr ? absolute : document.c_str();
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}

// Starts `argv` in a session of its own, its output discarded, and does not
// wait for it: an intermediate child starts it and ends at once, so nothing
// is left to reap. Returns 0 or the error that kept it from starting.
int SpawnDetached(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return errno;
    }
    UniqueFd reading(ends[0]);
    UniqueFd writing(ends[1]);
    const pid_t child = fork();
    if (child < 0) {
        return errno;
    }
    if (child == 0) {
        setsid();
        posix_spawn_file_actions_t quiet;
        posix_spawn_file_actions_init(&quiet);
        posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        pid_t grandchild = 0;
        const int result = posix_spawn(&grandchild, argv[0], &quiet, nullptr, argv.data(), environ);
        ssize_t ignored = write(writing.get(), &result, sizeof result);
        (void)ignored;
        _exit(0);
    }
    writing.reset();
    int result = ECHILD;
    ReadFull(reading.get(), &result, sizeof result);
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    return result;
}

}  // namespace

void FileCopy(const std::u16string& source, const std::u16string& destination) {
    const std::string from = HostPath(source);
    const UniqueFd input(open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (!input.valid()) {
        const int error = errno;
        RaiseFileError(error == ENOENT && IsHostDirectory(ParentFolder(from)) ? kErrFileNotFound
                                                                              : NumberForErrno(error));
    }
    struct stat sourceInfo {};
    if (fstat(input.get(), &sourceInfo) != 0 || S_ISDIR(sourceInfo.st_mode)) {
        RaiseFileError(kErrPathFileAccess);
    }

    const std::string to = HostPath(destination);
    if (IsHostDirectory(to)) {
        RaiseFileError(kErrPathFileAccess);
    }
    if (IsReadOnlyFile(to)) {
        RaiseFileError(kErrPermissionDenied);
    }
    SafeOutput output(to);
    if (const int error = output.create(); error != 0) {
        RaiseFileError(NumberForErrno(error));
    }

    std::vector<char> buffer(kCopyChunk);
    for (;;) {
        const ssize_t got = ReadAtLeast(input.get(), buffer.data(), 1, buffer.size());
        if (got < 0) {
            RaiseFileError(kErrDeviceIo);
        }
        if (got == 0) {
            break;
        }
        if (const int error = WriteAll(output.fd(), buffer.data(), static_cast<std::size_t>(got)); error != 0) {
            RaiseFileError(NumberForErrno(error));
        }
    }
    // The copy keeps the source's times and reaches the disk before it
    // replaces anything.
    if (const int error = output.commit(SafeOutput::Times{sourceInfo.st_atim, sourceInfo.st_mtim}, true); error != 0) {
        RaiseFileError(NumberForErrno(error));
    }
}

std::u16string InstallerFolder() {
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) {
        RaiseFileError(kErrPathNotFound);
    }
    const std::string executable(buffer, static_cast<std::size_t>(length));
    return AnsiToText(HostPathToDosPath(ParentFolder(executable)));
}

void StartDocument(const std::u16string& path) {
    const std::string document = HostPath(path);
    struct stat info {};
    if (stat(document.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) {
        RaiseFileError(kErrFileNotFound);
    }
    std::vector<std::string> command;
    if (auto wine = FindOnPath("wine")) {
        // A Wine prefix associates nothing with .reg files, so "start" would
        // refuse a registry script. The game is a 32-bit program: it reads
        // HKLM\Software through the 32-bit view, which in a 64-bit prefix is
        // Wow6432Node, where a plain import never writes. Wine's registry
        // tool imports into that view; a 32-bit prefix has only the one view,
        // and there the switch changes nothing.
        if (IsRegistryScript(document)) {
            command = {*wine, "reg", "import", WineName(document), "/reg:32"};
        } else {
            command = {*wine, "start", "/unix", document};
        }
    } else if (auto opener = FindOnPath("xdg-open")) {
        command = {*opener, document};
    } else {
        RaiseFileError(kErrFileNotFound);
    }
    if (SpawnDetached(command) != 0) {
        RaiseFileError(kErrFileNotFound);
    }
}

}  // namespace platform
