// SPDX-License-Identifier: MIT
// The data blocks of one folder: from the folder's first cabinet through
// every cabinet it continues into, each block's checksum verified where the
// cabinet stores one.
#pragma once

#include "cabformat/byte_source.h"
#include "cabformat/error.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cabformat {

// Where a folder's data lies in one cabinet of the set.
struct DataSegment {
    ByteSource* source = nullptr;  // the cabinet's bytes; the set owns it
    uint32_t dataOffset = 0;       // of the folder's first CFDATA record in this cabinet
    uint16_t blockCount = 0;       // its CFDATA records in this cabinet
    uint8_t reserve = 0;           // extra bytes after each CFDATA header in this cabinet
    uint64_t limit = UINT64_MAX;   // its records end by here: what follows them begins
};

// A folder's data, from the cabinet it begins in to the one it ends in.
struct FolderData {
    uint16_t compression = 0;  // the folder's method (layout::kCompression*)
    std::vector<DataSegment> segments;

    // Its blocks at most: a block split between two cabinets counts twice.
    uint64_t blockCount() const;
};

// The cabinet checksum of `size` bytes: little-endian 32-bit words XORed
// into `seed`, the last 1-3 bytes taken as one word read big-end first.
uint32_t BlockChecksum(const unsigned char* data, std::size_t size, uint32_t seed);

// One whole block: its packed bytes (the pieces of a split block joined)
// and the unpacked size its last piece states.
struct DataBlock {
    const unsigned char* packed = nullptr;
    std::size_t packedSize = 0;
    std::size_t unpackedSize = 0;
};

class BlockReader {
public:
    explicit BlockReader(const FolderData& data);
    BlockReader(const BlockReader&) = delete;
    BlockReader& operator=(const BlockReader&) = delete;

    // Reads the next block; `block` stays valid until the next call. Sets
    // `end` instead when the folder has no more blocks. A record whose
    // unpacked size is 0 is the first piece of a block split between two
    // cabinets: only the folder's last record in a cabinet it goes on from
    // may be one. Returns ok, or the failure: Checksum for a checksum that
    // does not match, Damaged for a record out of bounds or past its
    // segment's limit or a split record anywhere else, Truncated for a
    // cabinet that ends early, ReadFailed for a failed read.
    Error next(DataBlock& block, bool& end);

private:
    // Makes `size` bytes at the current position of the open segment
    // available at buffer_[next_].
    Error need(std::size_t size);
    Error openSegment(std::size_t index);

    const FolderData& data_;
    std::size_t segment_ = 0;
    uint16_t recordsLeft_ = 0;      // of the open segment
    ByteSource* source_ = nullptr;  // of the open segment
    uint64_t bufferAt_ = 0;         // file offset of buffer_[0]
    std::vector<unsigned char> buffer_;
    std::size_t next_ = 0;
    std::size_t end_ = 0;
    std::vector<unsigned char> joined_;  // the pieces of a split block
};

}  // namespace cabformat
