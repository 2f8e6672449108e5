// SPDX-License-Identifier: MIT
// Finding a cabinet inside another file, such as a self-extracting program:
// the first place whose bytes make a plausible cabinet header, judged by the
// header's own fields, not the signature alone (programs hold "MSCF" in
// their code and data often enough).
#pragma once

#include <cstdint>
#include <filesystem>
#include <istream>
#include <optional>
#include <string>

namespace cabfile_tool {

struct CabinetPlace {
    uint64_t offset = 0;   // of its header in the file
    uint64_t size = 0;     // cbCabinet
    std::string nextName;  // the next cabinet of its set as its header names it; "" when none
};

// The first plausible cabinet in `file` (of `fileSize` bytes), or nothing.
// One pass over the file, every candidate judged in memory.
// A file that begins with the signature is that cabinet when its header
// would be plausible in a file long enough (one cut short stays a damaged
// cabinet rather than a search inside its data), and when nothing further
// in is plausible either (as when "MSCF" is written twice at the start).
std::optional<CabinetPlace> LocateCabinet(std::istream& file, uint64_t fileSize);

// The regular file `name` in `directory`: by that name, else by the same name in
// another case (cabinets are named by Windows programs). Empty when none.
std::filesystem::path FindBeside(const std::filesystem::path& directory, const std::string& name);

}  // namespace cabfile_tool
