// SPDX-License-Identifier: MIT
// LZX and Quantum folders decoded by libmspack as one stream, on the
// engine's decoder thread: libmspack is handed a cabinet of one folder and
// one entry that spans it, made up as it reads, whose data blocks are the
// folder's own, read and checksummed by the engine's reader. Each block
// goes in as libmspack asks for it and its frame comes out, so the walk
// above sees a folder decoded once, block by block, as it sees MSZIP.
//
// Both methods unpack 32 KB frames, one to a data block: a block that
// states another size (but the folder's last), a frame that comes out
// before its block was read, or a decoder that reads two blocks on while a
// frame is still open, or past the folder's last block, is damage.
#pragma once

#include "cabformat/blocks.h"
#include "cabformat/error.h"

#include <cstddef>
#include <cstdint>

namespace cabformat {

// What the stream decoder reads from and writes to.
class FolderStream {
public:
    // The folder's next data block, valid until the next call; false at the
    // folder's end (`error` ok) or on the failure that stopped the reader.
    // Throws nothing.
    virtual bool nextBlock(DataBlock& block, Error& error) noexcept = 0;
    // Decoded bytes of the folder's current block, in order; `blockEnds`
    // with its last ones. False: stop decoding (the job was stopped).
    virtual bool emit(const unsigned char* bytes, std::size_t size, bool blockEnds) noexcept = 0;

protected:
    ~FolderStream() = default;
};

// Decodes the LZX or Quantum folder `data` (compression as its record
// states it) through `stream`. Returns ok when every block came out whole,
// else the failure; nothing is emitted after a failure.
Error DecodeFolderStream(const FolderData& data, FolderStream& stream);

}  // namespace cabformat
