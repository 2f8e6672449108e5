// SPDX-License-Identifier: MIT
// The wrapped calls of the fault-injection seam (see fault_injection.h).
#include "tests/app/fault_injection.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
int __real_open(const char* path, int flags, ...);
int __real_openat(int at, const char* path, int flags, ...);
ssize_t __real_read(int fd, void* buffer, size_t size);
ssize_t __real_pread(int fd, void* buffer, size_t size, off_t offset);
ssize_t __real_write(int fd, const void* buffer, size_t size);
int __real_rename(const char* from, const char* to);
int __real_mkdir(const char* path, mode_t mode);
int __real_linkat(int fromAt, const char* from, int toAt, const char* to, int flags);
int __real_fsync(int fd);
}

namespace faultinjection {

namespace {

// Atomics, not a lock: a child forked while another thread counts must not
// inherit a held lock.
std::atomic<bool> armed{false};
std::atomic<bool> unnamedRefused{false};
std::atomic<uint64_t> target{0};
std::atomic<uint64_t> calls{0};
std::atomic<bool> failed{false};
std::atomic<Call> failedCall{Call::Open};
std::atomic<uint64_t> unlockedRenames{0};
std::function<int(Call)> chooser;  // set only while disarmed

// Counts one call; true (errno set) when it is the one to fail.
bool Fails(Call call) {
    if (!armed || calls.fetch_add(1) + 1 != target) {
        return false;
    }
    failed = true;
    failedCall = call;
    errno = chooser(call);
    return true;
}

// An open fails: as on a file system without unnamed files, or as counted.
bool OpenFails(int flags) {
    if (armed && unnamedRefused && (flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return true;
    }
    return Fails(Call::Open);
}

// Counts a temporary (".vh...") about to be renamed that no one holds locked.
void CheckLocked(const char* path) {
    const char* slash = std::strrchr(path, '/');
    if (std::strncmp(slash != nullptr ? slash + 1 : path, ".vh", 3) != 0) {
        return;
    }
    const int fd = __real_open(path, O_RDONLY | O_CLOEXEC);
    if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) {
        ++unlockedRenames;
    }
    if (fd >= 0) {
        close(fd);
    }
}

// The mode argument, present only when the file may be created.
mode_t ModeOf(int flags, va_list arguments) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

}  // namespace

const char* NameOf(Call call) {
    switch (call) {
        case Call::Open: return "open";
        case Call::Read: return "read";
        case Call::Write: return "write";
        case Call::Rename: return "rename";
        case Call::Mkdir: return "mkdir";
        case Call::Link: return "linkat";
        case Call::Sync: return "fsync";
    }
    return "?";
}

void Arm(uint64_t failAt, std::function<int(Call)> errorFor, bool noUnnamedFiles) {
    chooser = std::move(errorFor);
    unnamedRefused = noUnnamedFiles;
    target = failAt;
    calls = 0;
    failed = false;
    unlockedRenames = 0;
    armed = true;
}

Tally Disarm() {
    armed = false;
    return {calls, failed, failedCall, unlockedRenames};
}

}  // namespace faultinjection

using faultinjection::Call;
using faultinjection::Fails;

extern "C" {

int __wrap_open(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = faultinjection::ModeOf(flags, arguments);
    va_end(arguments);
    return faultinjection::OpenFails(flags) ? -1 : __real_open(path, flags, mode);
}

int __wrap_openat(int at, const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = faultinjection::ModeOf(flags, arguments);
    va_end(arguments);
    return faultinjection::OpenFails(flags) ? -1 : __real_openat(at, path, flags, mode);
}

ssize_t __wrap_read(int fd, void* buffer, size_t size) {
    return Fails(Call::Read) ? -1 : __real_read(fd, buffer, size);
}

ssize_t __wrap_pread(int fd, void* buffer, size_t size, off_t offset) {
    return Fails(Call::Read) ? -1 : __real_pread(fd, buffer, size, offset);
}

ssize_t __wrap_write(int fd, const void* buffer, size_t size) {
    return Fails(Call::Write) ? -1 : __real_write(fd, buffer, size);
}

int __wrap_rename(const char* from, const char* to) {
    faultinjection::CheckLocked(from);
    return Fails(Call::Rename) ? -1 : __real_rename(from, to);
}

int __wrap_mkdir(const char* path, mode_t mode) { return Fails(Call::Mkdir) ? -1 : __real_mkdir(path, mode); }

int __wrap_linkat(int fromAt, const char* from, int toAt, const char* to, int flags) {
    return Fails(Call::Link) ? -1 : __real_linkat(fromAt, from, toAt, to, flags);
}

int __wrap_fsync(int fd) { return Fails(Call::Sync) ? -1 : __real_fsync(fd); }

}  // extern "C"
