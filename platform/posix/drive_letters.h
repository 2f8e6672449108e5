// SPDX-License-Identifier: MIT
// The drive letters Wine gives a prefix without an entry for them in its
// dosdevices directory: C: is the prefix's drive_c, as in every prefix Wine
// makes, and the discs mounted on this machine take the free letters from
// D: on, in the order of the mount table, as Wine's mount manager assigns
// them. An entry that exists always wins, and a disc already reached through
// one takes no second letter. Nothing here writes into the prefix: a player
// whose prefix Wine has not made yet, or has made without the disc in the
// drive, still finds the CD at D:.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Whether a mount of file system type `type` (as the mount table names it)
// is a disc: an optical or disc-image file system, or a FUSE disc-image
// mounter.
bool IsDiscFileSystem(std::string_view type);

// This process's mount table: the text of /proc/self/mountinfo.
std::string ReadMountTable();

// The mount points of the discs in a mount table in the format of
// /proc/self/mountinfo, in table order, with its octal escapes undone.
std::vector<std::string> DiscMountPoints(std::string_view mountinfo);

// A letter Wine implies, and the host directory of its root.
struct ImpliedDrive {
    char letter;  // lower case
    std::string root;
    bool operator==(const ImpliedDrive&) const = default;
};

// The letters implied for a prefix at `prefix` whose dosdevices entries are
// `entries` (a lower-case letter to the resolved directory its entry leads to,
// empty for an entry that leads nowhere), given the mount table `mountinfo`.
// C: first when it has no entry, then the discs.
std::vector<ImpliedDrive> ImpliedDrives(const std::string& prefix, const std::map<char, std::string>& entries,
                                        std::string_view mountinfo);

// ---- The drives of the prefix in use ----

// The host directory of the root of drive `drive` (a lower-case letter): its
// dosdevices entry when that leads to a directory, "/" for Z: without one,
// else the root Wine implies for it; nothing when the drive is not mapped (an
// entry that leads nowhere is still the drive's entry).
std::optional<std::string> DriveRoot(char drive);

// The host directory of the current drive's root: the drive that holds the
// current directory, else C:.
std::optional<std::string> CurrentDriveRoot();

// The current directory, "/" when it cannot be told.
std::string CurrentDirectory();

// The host directory of C:'s root when the prefix has no entry for C: (its
// drive_c, which may not exist yet), else nothing.
std::optional<std::string> ImpliedSystemDriveRoot();

}  // namespace platform
