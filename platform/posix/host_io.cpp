// SPDX-License-Identifier: MIT
// Descriptors, whole reads and writes, and host paths (see host_io.h).
#include "platform/posix/host_io.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

void UniqueFd::reset(int fd) noexcept {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
}

ssize_t ReadAtLeast(int fd, void* into, std::size_t least, std::size_t size, off_t offset) {
    auto* bytes = static_cast<unsigned char*>(into);
    std::size_t total = 0;
    while (total < least) {
        const ssize_t got = offset == kAtFilePosition
                                ? ::read(fd, bytes + total, size - total)
                                : ::pread(fd, bytes + total, size - total, offset + static_cast<off_t>(total));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (got == 0) {
            break;
        }
        total += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(total);
}

int WriteAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t put = ::write(fd, bytes, size);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        bytes += put;
        size -= static_cast<std::size_t>(put);
    }
    return 0;
}

std::string ParentDirectory(const std::string& hostPath) {
    const std::size_t slash = hostPath.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : hostPath.substr(0, slash);
}

std::string LastComponent(const std::string& hostPath) { return hostPath.substr(hostPath.find_last_of('/') + 1); }

std::string JoinHostPath(std::string_view directory, std::string_view name) {
    std::string joined;
    joined.reserve(directory.size() + 1 + name.size());
    joined.append(directory);
    if (!directory.ends_with('/')) {
        joined += '/';
    }
    return joined.append(name);
}

bool IsHostDirectory(const std::string& hostPath) {
    struct stat info {};
    return stat(hostPath.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace platform
