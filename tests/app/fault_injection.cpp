// The wrapped calls of the fault-injection seam (see fault_injection.h).
#include "tests/app/fault_injection.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <fcntl.h>
#include <mutex>
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

std::mutex lock;
bool armed = false;
bool unnamedRefused = false;
uint64_t target = 0;
std::function<int(Call)> chooser;
Tally tally;

// Counts one call; true (errno set) when it is the one to fail.
bool Fails(Call call) {
    std::lock_guard<std::mutex> hold(lock);
    if (!armed) {
        return false;
    }
    if (++tally.calls != target) {
        return false;
    }
    tally.failed = true;
    tally.failedCall = call;
    errno = chooser(call);
    return true;
}

// An open fails: as on a file system without unnamed files, or as counted.
bool OpenFails(int flags) {
    {
        std::lock_guard<std::mutex> hold(lock);
        if (armed && unnamedRefused && (flags & O_TMPFILE) == O_TMPFILE) {
            errno = EOPNOTSUPP;
            return true;
        }
    }
    return Fails(Call::Open);
}

// The mode argument, present only when the file may be created.
mode_t ModeOf(int flags, va_list arguments) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? static_cast<mode_t>(va_arg(arguments, int))
                                                                       : 0;
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
    std::lock_guard<std::mutex> hold(lock);
    armed = true;
    unnamedRefused = noUnnamedFiles;
    target = failAt;
    chooser = std::move(errorFor);
    tally = {};
}

Tally Disarm() {
    std::lock_guard<std::mutex> hold(lock);
    armed = false;
    return tally;
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
    return Fails(Call::Rename) ? -1 : __real_rename(from, to);
}

int __wrap_mkdir(const char* path, mode_t mode) {
    return Fails(Call::Mkdir) ? -1 : __real_mkdir(path, mode);
}

int __wrap_linkat(int fromAt, const char* from, int toAt, const char* to, int flags) {
    return Fails(Call::Link) ? -1 : __real_linkat(fromAt, from, toAt, to, flags);
}

int __wrap_fsync(int fd) {
    return Fails(Call::Sync) ? -1 : __real_fsync(fd);
}

}  // extern "C"
