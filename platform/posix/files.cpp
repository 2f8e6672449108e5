// SPDX-License-Identifier: MIT
// File copy, the installer's directory and starting documents on Linux.
#include "platform/files.h"

#include "platform/common/file_errors.h"
#include "platform/common/registry_merge.h"
#include "platform/drives.h"
#include "platform/kernel.h"
#include "platform/posix/host_errors.h"
#include "platform/posix/host_io.h"
#include "platform/posix/launch.h"
#include "platform/posix/safe_output.h"
#include "platform/posix/walk_memory.h"
#include "platform/runtime.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
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
    std::string directories = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= directories.size()) {
        const std::size_t end = std::min(directories.find(':', start), directories.size());
        std::string candidate = directories.substr(start, end - start);
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

std::vector<char*> ArgumentVector(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    return argv;
}

// Standard input and output of a started program lead nowhere: it asks
// nothing, and a pipe it inherits would hold up whoever reads the other end
// (Wine's services outlive the call that starts them).
struct QuietStreams {
    QuietStreams() {
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    ~QuietStreams() { posix_spawn_file_actions_destroy(&actions); }
    QuietStreams(const QuietStreams&) = delete;
    QuietStreams& operator=(const QuietStreams&) = delete;

    posix_spawn_file_actions_t actions;
};

// Starts `argv` in a session of its own and does not wait for it: an
// intermediate child starts it and ends at once, so nothing is left to
// reap. Returns 0 or the error that kept it from starting.
int SpawnDetached(const std::vector<std::string>& arguments) {
    std::vector<char*> argv = ArgumentVector(arguments);
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
        QuietStreams quiet;
        pid_t grandchild = 0;
        const int result = posix_spawn(&grandchild, argv[0], &quiet.actions, nullptr, argv.data(), environ);
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

// Reaps `child` when it has ended; its wait status, or nullopt while it runs.
std::optional<int> Reap(pid_t child, int options) {
    int status = 0;
    pid_t reaped = 0;
    while ((reaped = waitpid(child, &status, options)) < 0 && errno == EINTR) {
    }
    if (reaped == child) {
        return status;
    }
    return std::nullopt;
}

// The command a person types to merge the script by hand, in the same
// prefix: the host path, which Wine's tools take as well, in double quotes
// with the characters the shell reads there escaped.
std::u16string MergeCommand(const std::string& document) {
    const auto quoted = [](const std::string& text) {
        std::string out = "\"";
        for (const char c : text) {
            if (c == '"' || c == '\\' || c == '$' || c == '`') {
                out += '\\';
            }
            out += c;
        }
        return out + "\"";
    };
    std::string command;
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix != nullptr && *prefix != '\0') {
        command = "WINEPREFIX=" + quoted(prefix) + " ";
    }
    return Utf8ToText(command + "wine reg import " + quoted(document) + " /reg:32");
}

}  // namespace

ProgramEnd RunAndWait(const std::vector<std::string>& arguments, std::chrono::milliseconds bound) {
    std::vector<char*> argv = ArgumentVector(arguments);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A session of its own: a timed-out program is ended with everything
    // it started, and a terminal's signals meant for us do not reach it.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    QuietStreams quiet;
    pid_t child = 0;
    const int started = posix_spawn(&child, argv[0], &quiet.actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (started != 0) {
        return {ProgramEnd::NotStarted, started};
    }
    constexpr timespec kPoll{0, 10'000'000};
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        if (const auto status = Reap(child, WNOHANG)) {
            if (WIFEXITED(*status)) {
                return {ProgramEnd::Exited, WEXITSTATUS(*status)};
            }
            return {ProgramEnd::Killed, WIFSIGNALED(*status) ? WTERMSIG(*status) : 0};
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(-child, SIGKILL);
            Reap(child, 0);
            return {ProgramEnd::TimedOut, 0};
        }
        nanosleep(&kPoll, nullptr);
    }
}

void ImportRegistryScript(const std::string& wine, const std::string& document, std::chrono::milliseconds bound) {
    ProgramEnd end = RunAndWait({wine, "reg", "import", WineName(document), "/reg:32"}, bound);
    // Debian's wine picks the 32-bit loader whenever it is installed; on a
    // kernel that cannot run 32-bit programs that loader fails to start
    // (126), and the 64-bit loader beside it imports into the same view.
    constexpr int kLoaderCannotRun = 126;
    if (end.how == ProgramEnd::Exited && end.value == kLoaderCannotRun) {
        if (const auto wine64 = FindOnPath("wine64")) {
            end = RunAndWait({*wine64, "reg", "import", WineName(document), "/reg:32"}, bound);
        }
    }
    const auto number = [](int value) { return Utf8ToText(std::to_string(value)); };
    switch (end.how) {
        case ProgramEnd::Exited:
            if (end.value == 0) {
                return;
            }
            RaiseRegistryNotMerged(kMergeToolFailed, u"Wine's registry tool ended with exit code " + number(end.value),
                                   MergeCommand(document));
        case ProgramEnd::Killed:
            RaiseRegistryNotMerged(kMergeToolFailed, u"Wine's registry tool was ended by signal " + number(end.value),
                                   MergeCommand(document));
        case ProgramEnd::NotStarted:
            RaiseRegistryNotMerged(kMergeToolFailed,
                                   u"Wine could not be started (" + Utf8ToText(std::strerror(end.value)) + u")",
                                   MergeCommand(document));
        case ProgramEnd::TimedOut:
            RaiseRegistryNotMerged(
                kMergeTimedOut,
                u"Wine's registry tool did not finish within " +
                    number(static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(bound).count())) +
                    u" seconds",
                MergeCommand(document));
    }
    RaiseRegistryNotMerged(kMergeToolFailed, u"Wine's registry tool failed", MergeCommand(document));
}

void FileCopy(const std::u16string& source, const std::u16string& destination) {
    const std::string from = HostPath(source);
    const UniqueFd input(open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (!input.valid()) {
        const int error = errno;
        RaiseFileError(error == ENOENT && IsHostDirectory(ParentDirectory(from)) ? kErrFileNotFound
                                                                                 : RuntimeNumberFromErrno(error));
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
    SafeOutput output(to, WalkMemory::ForThisThread());
    if (const int error = output.create(); error != 0) {
        RaiseFileError(RuntimeNumberFromErrno(error));
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
            RaiseFileError(RuntimeNumberFromErrno(error));
        }
    }
    // The copy keeps the source's times and reaches the disk before it
    // replaces anything.
    if (const int error = output.commit(SafeOutput::Times{sourceInfo.st_atim, sourceInfo.st_mtim}, true); error != 0) {
        RaiseFileError(RuntimeNumberFromErrno(error));
    }
}

std::u16string InstallerDirectory() {
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) {
        RaiseFileError(kErrPathNotFound);
    }
    const std::string executable(buffer, static_cast<std::size_t>(length));
    return AnsiToText(HostPathToDosPath(ParentDirectory(executable)));
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
        // and there the switch changes nothing. The tool shows nothing of
        // its own, so it is waited for: the installation is complete only
        // once the values are in place.
        if (IsRegistryScript(document)) {
            ImportRegistryScript(*wine, document, kRegistryImportBound);
            return;
        }
        command = {*wine, "start", "/unix", document};
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
