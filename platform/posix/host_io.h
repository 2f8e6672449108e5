// SPDX-License-Identifier: MIT
// Inside the Linux platform layer: the host's files at the level of
// descriptors and host paths, written once for every caller. Reads and writes
// go on after interruptions and short counts; a failure is its errno.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>

namespace platform {

// A descriptor this object owns and closes when it goes; -1 holds none.
class UniqueFd {
public:
    UniqueFd() noexcept = default;
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const noexcept { return fd_; }
    bool valid() const noexcept { return fd_ >= 0; }
    // Hands the descriptor over without closing it.
    int release() noexcept { return std::exchange(fd_, -1); }
    // Closes the descriptor held, if any, and holds `fd` instead.
    void reset(int fd = -1) noexcept;

private:
    int fd_ = -1;
};

// ReadAtLeast reads from the file position unless given an offset.
constexpr off_t kAtFilePosition = -1;

// Reads into `into`, which has room for `size` bytes, until at least `least`
// of them are in; fewer only where the file ends. With an `offset`, reads
// there (pread) and leaves the file position alone. Returns the count, or -1
// with errno set when a read fails (the bytes before the failure are lost).
ssize_t ReadAtLeast(int fd, void* into, std::size_t least, std::size_t size, off_t offset = kAtFilePosition);

// Reads `size` bytes from the file position; fewer only where the file ends.
// Returns the count, or -1 with errno set.
inline ssize_t ReadFull(int fd, void* into, std::size_t size) { return ReadAtLeast(fd, into, size, size); }

// Writes all `size` bytes to `fd`. Returns 0 or the errno of the failure.
int WriteAll(int fd, const void* data, std::size_t size);

// The directory a host path names its entry in: all before the last '/', "/"
// for an entry of the root, "." for a bare name.
std::string ParentDirectory(const std::string& hostPath);

// The last component of a host path: all after its last '/'.
std::string LastComponent(const std::string& hostPath);

// `name` inside `directory`, with one '/' between them.
std::string JoinHostPath(std::string_view directory, std::string_view name);

// Whether `hostPath` is a directory, links followed.
bool IsHostDirectory(const std::string& hostPath);

}  // namespace platform
