// SPDX-License-Identifier: MIT
// What the fuzz targets do with one arbitrary input, shared with the test
// that replays every finding. Each routine returns "" when the code under
// test held up, or what went wrong (a crash or a sanitizer report ends the
// process instead).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzing {

// The input as a cabinet (and as each cabinet of its set) walked by the
// cabinet engine; each entry is extracted, skipped or ends the walk by turns.
std::string WalkAsCabinet(const uint8_t* data, std::size_t size);

// The input as a cabinet header.
std::string ReadAsHeader(const uint8_t* data, std::size_t size);

// The input as the cabinet of a CabFile: FileCount, GetXML and Extract.
std::string UseWithCabFile(const uint8_t* data, std::size_t size);

}  // namespace fuzzing
