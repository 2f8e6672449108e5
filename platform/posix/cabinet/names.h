// Names as the handler sees them: entry names in the ANSI code page, and
// drive paths split into folder and file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::cabservice {

// An entry's name in the ANSI code page: converted from UTF-8 when the
// attributes carry the UTF-8 flag (characters the code page lacks, and
// invalid sequences, become '?'), otherwise the stored bytes unchanged.
std::string AnsiEntryName(std::string_view storedName, uint16_t attribs);

// The folder of a drive path, up to and including its last '\' or '/'
// ("" when there is none), and the rest.
struct DosPathParts {
    std::string folder;
    std::string file;
};
DosPathParts SplitDosPath(std::string_view dosPath);

// `folder` ending in a separator: '\' is added unless it ends in '\' or '/'.
std::string WithTrailingSeparator(std::string folder);

}  // namespace platform::cabservice
