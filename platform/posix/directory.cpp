// SPDX-License-Identifier: MIT
// Creating one directory, through the drive map, reduced to the four
// outcomes that callers decide on.
#include "platform/drives.h"
#include "platform/kernel.h"
#include "platform/posix/drive_letters.h"
#include "platform/posix/drive_paths.h"
#include "platform/posix/host_errors.h"
#include "platform/posix/walk_memory.h"

#include <cerrno>
#include <sys/stat.h>

namespace platform {

DirectoryOutcome CreateDirectoryLevel(const char* PathName) {
    uint32_t error = NO_ERROR;
    WalkMemory* walk = WalkMemory::ForThisThread();
    const auto host = ResolveOnDisk(PathName != nullptr ? PathName : "", walk, &error);
    if (!host) {
        SetLastError(error);
        return error == ERROR_PATH_NOT_FOUND ? DirectoryOutcome::ParentMissing : DirectoryOutcome::Other;
    }
    int made = mkdir(host->c_str(), 0777);
    if (made != 0 && errno == ENOENT && *host == ImpliedSystemDriveRoot()) {
        // C: of a prefix Wine has not made yet: the prefix's directory comes
        // first, as Wine makes it; Wine fills in the rest around what the
        // install puts there when it first runs.
        if (mkdir(WinePrefix().c_str(), 0755) == 0 || errno == EEXIST) {
            made = mkdir(host->c_str(), 0777);
        } else {
            errno = ENOENT;
        }
    }
    if (made == 0) {
        if (walk != nullptr) {
            walk->noteDirectoryMade(*host, PathName);
        }
        return DirectoryOutcome::Created;
    }
    // The table's column for making a directory holds Windows' answers,
    // and each answer is one of the outcomes.
    const uint32_t code = Win32FromErrno(errno, IoOperation::MakeDirectory);
    SetLastError(code);
    switch (code) {
        case ERROR_ALREADY_EXISTS:
        case ERROR_ACCESS_DENIED: return DirectoryOutcome::Exists;
        case ERROR_PATH_NOT_FOUND: return DirectoryOutcome::ParentMissing;
        default: return DirectoryOutcome::Other;
    }
}

}  // namespace platform
