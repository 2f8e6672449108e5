// Inside the Linux platform layer: what writers tell the drive map, so the
// folder listings it keeps for case-insensitive look-ups stay current.
#pragma once

#include <string>

namespace platform {

// An entry (file or folder) this process has just created at `hostPath`.
void NoteHostEntryCreated(const std::string& hostPath);

}  // namespace platform
