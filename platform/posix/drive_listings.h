// SPDX-License-Identifier: MIT
// Inside the Linux platform layer: what writers tell the drive map, so the
// directory listings it keeps for case-insensitive look-ups stay current; and
// the scope in which the map keeps what it learnt, with the directory its
// thread writes into held open.
#pragma once

#include "platform/posix/host_io.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The host directory of C:'s root when the prefix has no entry for C: (its
// drive_c, which may not exist yet), else nothing.
std::optional<std::string> ImpliedSystemDriveRoot();

// An entry (file or directory) this process has just created at `hostPath`.
void NoteHostEntryCreated(const std::string& hostPath);

// A directory this process has just made at `hostPath`, by the drive path
// `dosPath`: as NoteHostEntryCreated, and, inside a DrivePathScope, the new
// directory is known to be empty and its drive path to map to `hostPath`, so
// the entries written into it next cost no walk of its path.
void NoteHostDirectoryCreated(const std::string& hostPath, std::string_view dosPath);

// While one lives on a thread (a cabinet walk holds one), that thread's drive
// paths resolve with what it learnt earlier in the scope: a directory's drive
// path whose every level exists maps to its host directory without a look at the
// disk, and a directory's listing, checked once, is then kept current from this
// process's own creations instead of being checked before every look-up, so
// that a name not there yet costs no system call at all. What other programs
// change in those directories meanwhile is not seen, as a name another program
// writes between a look-up and the write never was. Scopes on one thread
// nest; the outermost ends the memory.
class DrivePathScope {
public:
    DrivePathScope();
    ~DrivePathScope();
    DrivePathScope(const DrivePathScope&) = delete;
    DrivePathScope& operator=(const DrivePathScope&) = delete;

private:
    bool outermost_;
};

// Inside a DrivePathScope, a descriptor (O_PATH) of the host directory
// `hostDirectory`, kept open by the scope while its thread writes into that
// same directory, so that names there are reached without walking the path
// again, and by each holder for as long as it holds it; nothing outside a
// scope, for the first entry of a run in a directory, or when the directory cannot
// be opened.
std::shared_ptr<const UniqueFd> ScopeDirectoryDescriptor(const std::string& hostDirectory);

}  // namespace platform
