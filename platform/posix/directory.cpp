// SPDX-License-Identifier: MIT
// Creating one directory, through the drive map, reduced to the four
// outcomes that callers decide on.
#include "platform/drives.h"
#include "platform/kernel.h"
#include "platform/posix/drive_letters.h"
#include "platform/posix/drive_paths.h"
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
    switch (errno) {
        case EEXIST: SetLastError(ERROR_ALREADY_EXISTS); return DirectoryOutcome::Exists;
        case EACCES:
        case EPERM:
        case EROFS:
            // The name cannot be reached or made here; as on Windows, that
            // reads like a name that is taken.
            SetLastError(ERROR_ACCESS_DENIED);
            return DirectoryOutcome::Exists;
        case ENOENT:
        case ENOTDIR: SetLastError(ERROR_PATH_NOT_FOUND); return DirectoryOutcome::ParentMissing;
        case ENOSPC:
        case EDQUOT: SetLastError(ERROR_DISK_FULL); return DirectoryOutcome::Other;
        default: SetLastError(ERROR_CANNOT_MAKE); return DirectoryOutcome::Other;
    }
}

}  // namespace platform
