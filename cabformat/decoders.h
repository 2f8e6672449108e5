// SPDX-License-Identifier: MIT
// The engine's own block decoders: stored blocks copied, MSZIP blocks
// inflated by ISA-L. LZX and Quantum folders are streams through libmspack
// on the same decoder thread (libmspack_stream.h).
#pragma once

#include "cabformat/blocks.h"
#include "cabformat/layout.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace cabformat {

// Room a decoder needs for one block's output. No block unpacks to more: the
// reader refuses a larger stated size, a stored block must state its packed
// size, and a deflate stream that would run past it does not end in its
// block, which is damage.
constexpr std::size_t kDecodedBlockCapacity = layout::kMaxBlockSize;

class BlockDecoder {
public:
    virtual ~BlockDecoder() = default;

    // Unpacks `block` into `out` (kDecodedBlockCapacity bytes) and sets
    // `produced`. `history` holds the folder's previous block as decoded
    // (nullptr for the first). Returns ok or Damaged.
    virtual Error decode(const DataBlock& block, const unsigned char* history, std::size_t historySize,
                         unsigned char* out, std::size_t& produced) = 0;
};

// Whether the engine decodes folders of `compression` on its decoder thread.
bool DecodesNatively(uint16_t compression);

// A decoder for a method DecodesNatively() accepts.
std::unique_ptr<BlockDecoder> MakeBlockDecoder(uint16_t compression);

// Tests compare the engine's decoders with libmspack's: off, every folder
// goes to libmspack, entry by entry. On by default.
void SetNativeDecoding(bool enabled);

}  // namespace cabformat
