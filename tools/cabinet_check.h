// SPDX-License-Identifier: MIT
// `cabfile test`: every entry of a cabinet, and of the cabinets that
// continue its set, decoded through the cabinet engine with every data
// block's checksum checked, and the bytes thrown away. Nothing is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace cabfile_tool {

struct CheckResult {
    std::size_t entries = 0;  // entries decoded whole
    // Of the data blocks of their folders, those that carry no checksum.
    std::size_t uncheckedBlocks = 0;
    std::string entry;    // the first damaged entry, as `list` shows names; "" when none was reached
    std::string problem;  // what is wrong; "" when all is well
    // Entries of a later part that begin in an earlier one, which a walk
    // from this part cannot decode, and the part before, which holds their start.
    std::vector<std::string> begunEarlier;
    std::string earlierPart;
};

// Tests the cabinet in the host file `hostPath` (or embedded in it). A walk
// from the first cabinet of a set goes through the whole set, each next
// cabinet looked for beside the one before under the name its header gives
// (in any case; embedded in another file too); a walk from a later cabinet
// tests the entries that begin in that cabinet, reading on only for those
// that continue, and names those that begin before it.
CheckResult CheckCabinet(const std::string& hostPath);

struct CatResult {
    uint32_t error = 0;                  // the Win32 code the cabinet service gives for the failure; 0: none
    std::u16string entry;                // the entry it met, as CabFile names it; "" for none
    std::string problem;                 // a failure of the tool's own; "" when none
    std::optional<std::size_t> missing;  // the first of the places that no entry has
};

// `cabfile cat`: the entries of the cabinet in (or embedded in) `hostPath`,
// and of the cabinets that continue its set, at the places `places` gives
// in the order a walk offers them (0 the first; one may come twice),
// decoded in one walk into an unnamed temporary file, then handed to `out`
// in the order given, once every one is whole. A damaged or missing entry
// hands nothing on. `out` returns false to stop.
CatResult CatEntries(const std::string& hostPath, const std::vector<std::size_t>& places,
                     const std::function<bool(const unsigned char* bytes, std::size_t size)>& out);

// An entry's name as the cabinet stores it.
struct StoredName {
    std::string bytes;  // raw, '\' between directories
    bool utf8 = false;  // flagged as UTF-8; otherwise in a code page the cabinet does not say
    // For an entry of the cabinet named that begins in an earlier part of
    // its set: the name of the part before, as its header gives it; else "".
    std::string earlierPart;
};

// The stored names of the entries a walk of the cabinet in (or embedded
// in) `hostPath` offers, in its order, as far as the walk reads its set
// without a failure.
std::vector<StoredName> StoredNames(const std::string& hostPath);

}  // namespace cabfile_tool
