// SPDX-License-Identifier: MIT
// Drive paths on Windows are the system's own paths: no mapping layer. Only
// a path's full form is worked out, for tools that take paths as typed.
#include "platform/drives.h"

#include "platform/kernel.h"

#include <windows.h>

namespace platform {

std::optional<std::string> DosPathToHostPath(std::string_view DosPath, uint32_t* /*Error*/) {
    return std::string(DosPath);
}

std::string HostPathToDosPath(std::string_view HostPath) {
    const std::string path(HostPath);
    const DWORD size = ::GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) {
        return path;
    }
    std::string full(size, '\0');
    full.resize(::GetFullPathNameA(path.c_str(), size, full.data(), nullptr));
    return full;
}

// The system's directories ignore case or keep it as they are set up to; there
// is nothing to switch.
void LookUpNamesExactlyIn(std::string_view /*DosDirectory*/) {}

}  // namespace platform
