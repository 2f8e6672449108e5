// `cabfile test`: every entry of a cabinet, and of the cabinets that
// continue its set, decoded through the cabinet engine with every data
// block's checksum checked, and the bytes thrown away. Nothing is written.
#pragma once

#include <cstddef>
#include <string>

namespace cabfile_tool {

struct CheckResult {
    std::size_t entries = 0;  // entries decoded whole
    std::string entry;        // the first damaged entry, as `list` shows names; "" when none was reached
    std::string problem;      // what is wrong; "" when all is well
};

// Tests the cabinet in the host file `hostPath` (or embedded in it). A walk
// from the first cabinet of a set goes through the whole set, each next
// cabinet looked for beside the one before under the name its header gives
// (in any case; embedded in another file too); a walk from a later cabinet
// tests that cabinet's entries, reading on only for those that continue.
CheckResult CheckCabinet(const std::string& hostPath);

}  // namespace cabfile_tool
