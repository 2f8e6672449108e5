// SPDX-License-Identifier: MIT
// The host half of a walk over the cabinet engine on Linux.
#include "platform/posix/engine_host.h"

#include "platform/kernel.h"
#include "platform/posix/host_errors.h"
#include "platform/posix/host_io.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

std::unique_ptr<HostFile> OpenCabinetFile(const std::string& hostPath) {
    using Why = CabinetRefused::Why;
    // O_NONBLOCK so that opening a pipe cannot wait for a writer; regular
    // files ignore it.
    UniqueFd fd(::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
        const int error = errno;
        // What Windows tells apart for a missing file.
        const uint32_t code = error != ENOENT                              ? Win32FromErrno(error, IoOperation::Open)
                              : IsHostDirectory(ParentDirectory(hostPath)) ? ERROR_FILE_NOT_FOUND
                                                                           : ERROR_PATH_NOT_FOUND;
        throw CabinetRefused{Why::CannotOpen, code, hostPath, error};
    }
    struct stat info {};
    if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        throw CabinetRefused{Why::NotARegularFile,
                             Win32FromErrno(S_ISDIR(info.st_mode) ? EISDIR : EINVAL, IoOperation::Open), hostPath};
    }
    return std::make_unique<HostFile>(std::move(fd), static_cast<uint64_t>(info.st_size),
                                      static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino));
}

std::unique_ptr<cabformat::ByteSource> EngineHost::openFirst(const std::string& hostPath) { return open(hostPath); }

std::unique_ptr<cabformat::ByteSource> EngineHost::nextPart(const cabformat::Part& current, int attempt) {
    const std::optional<std::string> hostPath = whereNext(current, attempt);
    struct stat info {};
    if (!hostPath || ::stat(hostPath->c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return nullptr;
    }
    return open(*hostPath);
}

void EngineHost::partOpened(const cabformat::Part& part) {
    if (!seen_.insert(opened_).second) {
        throw CabinetRefused{CabinetRefused::Why::AlreadyInTheSet, ERROR_INVALID_DATA, openedPath_};
    }
    joined(part);
}

std::unique_ptr<cabformat::SpillStore> EngineHost::spillStore() { return MakeSpillFile(spillNear()); }

std::unique_ptr<cabformat::ByteSource> EngineHost::cabinetIn(std::unique_ptr<HostFile> file, const std::string&) {
    return file;
}

std::unique_ptr<cabformat::ByteSource> EngineHost::open(const std::string& hostPath) {
    std::unique_ptr<HostFile> file = OpenCabinetFile(hostPath);
    opened_ = file->identity();
    openedPath_ = hostPath;
    return cabinetIn(std::move(file), hostPath);
}

}  // namespace platform
