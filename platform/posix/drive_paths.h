// SPDX-License-Identifier: MIT
// Inside the Linux platform layer: the rules by which a drive path
// ("C:\Games\x.dat") becomes a host path, as a function over what they need
// of the host (drive roots, the current directory, the names in a
// directory), so that they read, and are tested, apart from any one disk.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace platform {

// A name looked up in a host directory, and whether it is there.
struct FoundName {
    std::string path;
    bool exists;
};

// What resolving a drive path asks of the host.
class HostDirectories {
public:
    virtual ~HostDirectories() = default;
    // The host directory of the root of drive `drive` (a lower-case letter);
    // nothing when the drive is not mapped.
    virtual std::optional<std::string> driveRoot(char drive) = 0;
    // The host directory of the current drive's root: the drive that holds
    // the current directory, else C:.
    virtual std::optional<std::string> currentDriveRoot() = 0;
    virtual std::string currentDirectory() = 0;
    // `name` (the host's encoding) inside the host directory `directory`: the
    // exact name when it exists, else the first entry (in sorted order, so
    // the choice is stable) that differs only in case, else the name as given.
    virtual FoundName find(const std::string& directory, const std::string& name) = 0;
};

// A drive path resolved level by level, and whether every level exists.
struct Resolution {
    uint32_t error = 0;  // a Win32 code; 0 when resolved
    std::string host;
    bool everyLevelExists = true;
};

// `dosPath` (the ANSI code page) on `host`: "X:rest" from drive X's root,
// "\rest" from the current drive's root, "rest" from the current directory;
// '\' and '/' both separate, "." is dropped and ".." takes one level back
// (never above the root), as Windows normalises a path before it looks at
// the disk; each level is found as `host` finds names, and the result is in
// the host's encoding. ERROR_PATH_NOT_FOUND for an empty path, a drive that
// is not mapped and a network path; ERROR_INVALID_NAME for a component no
// Windows name can be.
Resolution ResolveDrivePath(std::string_view dosPath, HostDirectories& host);

// Whether `component` can be a Windows file name: no control character and
// none of < > : " | ? *.
bool IsValidComponent(std::string_view component);

// A drive path "X:...\name" as its directory and its last name, where the
// directory can stand for every name in it: nothing for a path relative to
// the current drive or directory, and for a last name that is empty, "." or "..".
std::optional<std::pair<std::string_view, std::string_view>> DirectoryAndName(std::string_view dosPath);

// A component of a drive path (the ANSI code page) in the host's encoding.
std::string HostName(std::string_view dosComponent);

class WalkMemory;

// A drive path on this host's disk (drives.cpp), with what `walk` knows of it
// (nullptr outside a walk): DosPathToHostPath with the walk handed in.
std::optional<std::string> ResolveOnDisk(std::string_view dosPath, WalkMemory* walk, uint32_t* error);

}  // namespace platform
