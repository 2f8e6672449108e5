// What the fuzz targets do with one arbitrary input, shared with the test
// that replays every finding. Each routine returns "" when the code under
// test held up, or what went wrong (a crash or a sanitizer report ends the
// process instead).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzing {

// The input as a cabinet walked by the cabinet service; the handler answers
// DOIT (into a scratch folder, making the folders), SKIP and ABORT by turns.
std::string WalkAsCabinet(const uint8_t* data, std::size_t size);

// The input as a cabinet header.
std::string ReadAsHeader(const uint8_t* data, std::size_t size);

// The input as the cabinet of a CabFile: FileCount, GetXML and Extract.
std::string UseWithCabFile(const uint8_t* data, std::size_t size);

}  // namespace fuzzing
