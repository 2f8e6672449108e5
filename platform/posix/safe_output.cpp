// SPDX-License-Identifier: MIT
// Whole files only (see safe_output.h). On Linux the temporary is an
// O_TMPFILE file: it has no name until linkat gives it the target's, so a
// killed process leaves nothing, and a new file costs no lock and no look-up
// of its name. Replacing an existing target needs a name for the rename,
// given only at the very end and held under an flock taken before the name
// appears, so a later sweep can tell a live temporary from one a killed run
// left behind. File systems without O_TMPFILE get a named, locked temporary
// from the start.
#include "platform/posix/safe_output.h"

#include "platform/posix/walk_memory.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int kNameAttempts = 100;
// Permissions of a new file before the umask, as for any created file.
constexpr mode_t kNewFileMode = 0666;
constexpr char kTemporaryPrefix[] = ".vh";
constexpr char kTemporarySuffix[] = ".part";
constexpr std::size_t kTemporaryHexDigits = 16;
// A name no other writer picks: the process, a counter and the clock, mixed.
std::string TemporaryName() {
    static std::atomic<uint64_t> counter{0};
    uint64_t x = static_cast<uint64_t>(getpid()) << 32 ^ counter.fetch_add(1) ^
                 static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    // splitmix64 finaliser
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    x ^= x >> 31;
    char name[32];
    std::snprintf(name, sizeof name, "%s%016llx%s", kTemporaryPrefix, static_cast<unsigned long long>(x),
                  kTemporarySuffix);
    return name;
}

// Makes the temporary under a fresh name in `directory`: `place` makes it
// under the name it is given and returns 0, or the errno of its failure
// (EEXIST: the name is taken, so another is tried). On success `named` is
// the name. Returns 0 or the errno of the last failure.
template <typename Place>
int PlaceUnderFreshName(const std::string& directory, std::string& named, Place place) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string candidate = JoinHostPath(directory, TemporaryName());
        const int error = place(candidate);
        if (error != EEXIST) {
            if (error == 0) {
                named = std::move(candidate);
            }
            return error;
        }
    }
    return EEXIST;
}

// Removes the temporaries in `directory` that no live writer holds locked:
// those of a run that was killed (or lost power) before it finished; once
// per directory in a walk, at every write outside one.
void RemoveStaleTemporaries(const std::string& directory, WalkMemory* walk) {
    if (walk != nullptr && !walk->markSwept(directory)) {
        return;
    }
    DIR* listing = opendir(directory.c_str());
    if (listing == nullptr) {
        return;
    }
    const int at = dirfd(listing);
    while (const dirent* item = readdir(listing)) {
        if (!IsSafeOutputTemporaryName(item->d_name)) {
            continue;
        }
        const UniqueFd fd(openat(at, item->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat info {};
        if (fd.valid() && fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) &&
            flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
            unlinkat(at, item->d_name, 0);
        }
    }
    closedir(listing);
}

// Set once linking by descriptor has been refused (a kernel that allows it
// to privileged processes only), so that it is not tried again.
std::atomic<bool> emptyPathRefused{false};

// Gives the unnamed file open at `fd` the name `name`, relative to the
// directory open at `at` (AT_FDCWD: relative to the current directory, or a whole
// path); fails with EEXIST when that name is taken.
int LinkUnnamed(int fd, int at, const std::string& name) {
    if (!emptyPathRefused.load(std::memory_order_relaxed)) {
        if (linkat(fd, "", at, name.c_str(), AT_EMPTY_PATH) == 0) {
            return 0;
        }
        if (errno != ENOENT && errno != EPERM) {
            return errno;
        }
        // Refused, or the directory is gone: /proc tells which.
    }
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (linkat(AT_FDCWD, self.c_str(), at, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        emptyPathRefused = true;
        return 0;
    }
    return errno;
}

}  // namespace

bool IsSafeOutputTemporaryName(const std::string& name) {
    const std::size_t prefix = sizeof kTemporaryPrefix - 1;
    const std::size_t suffix = sizeof kTemporarySuffix - 1;
    if (name.size() != prefix + kTemporaryHexDigits + suffix || !name.starts_with(kTemporaryPrefix) ||
        !name.ends_with(kTemporarySuffix)) {
        return false;
    }
    for (std::size_t i = prefix; i < prefix + kTemporaryHexDigits; ++i) {
        const char c = name[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

SafeOutput::SafeOutput(std::string hostTarget, WalkMemory* walk)
    : target_(std::move(hostTarget)), directory_(ParentDirectory(target_)), walk_(walk) {}

SafeOutput::~SafeOutput() {
    if (!committed_) {
        discard();
    }
}

void SafeOutput::discard() noexcept {
    if (!named_.empty()) {
        ::unlink(named_.c_str());  // while still locked, so no sweep takes it for stale
        named_.clear();
    }
    fd_.reset();
}

int SafeOutput::create() {
    RemoveStaleTemporaries(directory_, walk_);
    if (walk_ != nullptr) {
        openDirectory_ = walk_->directoryDescriptor(directory_);
    }
    const int unnamed = openDirectory_
                            ? ::openat(openDirectory_->get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, kNewFileMode)
                            : ::open(directory_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, kNewFileMode);
    if (unnamed >= 0) {
        fd_.reset(unnamed);
        return 0;
    }
    // EOPNOTSUPP: a file system without O_TMPFILE; EISDIR: a kernel without it.
    if (errno != EOPNOTSUPP && errno != EISDIR) {
        return errno;
    }
    return PlaceUnderFreshName(directory_, named_, [this](const std::string& candidate) {
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kNewFileMode);
        if (fd < 0) {
            return errno;
        }
        fd_.reset(fd);
        // A sweep running between the open and here could take the file for
        // stale; the commit then fails cleanly with ENOENT.
        flock(fd, LOCK_EX);
        return 0;
    });
}

int SafeOutput::commit(const std::optional<Times>& times, bool durable) {
    if (times) {
        const timespec both[2] = {times->accessed, times->modified};
        futimens(fd_.get(), both);
    }
    int error = durable && fsync(fd_.get()) != 0 ? errno : publish();
    if (error != 0) {
        discard();
        return error;
    }
    committed_ = true;
    if (::close(fd_.release()) != 0 && errno != EINTR && errno != EINPROGRESS) {
        // Only a network file system reports a lost write this late, when the
        // file already stands under its name; it must not stay there.
        error = errno;
        ::unlink(target_.c_str());
        return error;
    }
    if (walk_ != nullptr) {
        walk_->noteMade(target_);
    }
    return 0;
}

// Puts the complete temporary in place of the target.
int SafeOutput::publish() {
    if (named_.empty()) {
        const int linked = openDirectory_ ? LinkUnnamed(fd_.get(), openDirectory_->get(), LastComponent(target_))
                                          : LinkUnnamed(fd_.get(), AT_FDCWD, target_);
        if (linked != EEXIST) {
            return linked;  // placed at once, with no moment of a second name
        }
        // An older target: only a rename replaces it in one step, and a
        // rename needs a name to move, locked before it is given.
        flock(fd_.get(), LOCK_EX);
        const int named = PlaceUnderFreshName(directory_, named_, [this](const std::string& candidate) {
            return LinkUnnamed(fd_.get(), AT_FDCWD, candidate);
        });
        if (named != 0) {
            return named;
        }
    }
    if (::rename(named_.c_str(), target_.c_str()) != 0) {
        return errno;
    }
    named_.clear();
    return 0;
}

}  // namespace platform
