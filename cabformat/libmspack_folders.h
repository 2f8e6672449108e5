// SPDX-License-Identifier: MIT
// LZX and Quantum folders decoded by libmspack entry by entry, as libmspack
// itself reads cabinets: the reference the engine's own decoding of them
// (libmspack_stream.h) is held to, used when native decoding is off.
//
// Every cabinet a folder runs through is opened in libmspack over the set's
// own byte sources, and the run is joined from its last cabinet backwards.
// (Joined forwards, libmspack 0.11 compares the files that cross the second
// boundary with those that crossed the first, and refuses a folder that
// spans three cabinets with different files crossing each.) The set has
// checked the continuation before libmspack sees it.
#pragma once

#include "cabformat/cabinet_set.h"

#include <cstddef>
#include <memory>
#include <vector>

namespace cabformat {

class LibmspackFolders {
public:
    // Reads the cabinets of `parts`, which outlives this object. Throws
    // Failure (NoMemory) when libmspack cannot start.
    explicit LibmspackFolders(const std::vector<std::unique_ptr<Part>>& parts);
    ~LibmspackFolders();
    LibmspackFolders(const LibmspackFolders&) = delete;
    LibmspackFolders& operator=(const LibmspackFolders&) = delete;

    // Writes `file` of part `index`, whose folder runs through `span`, to
    // `sink`. Returns ok or the entry's failure; throws Failure when
    // libmspack cannot open or join the cabinets.
    Error extract(std::size_t index, const FileRecord& file, const FolderSpan& span, EntrySink& sink);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace cabformat
