// The service's own block decoders: stored blocks copied, MSZIP blocks
// inflated by ISA-L. LZX and Quantum folders are left to libmspack.
#pragma once

#include "platform/posix/cabinet/blocks.h"
#include "platform/posix/cabinet/format.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform::cabservice {

// Room a decoder needs for one block's output: a stored block's bytes are
// its packed bytes, which may be a little more than an unpacked block.
constexpr std::size_t kDecodedBlockCapacity = format::kMaxPackedBlockSize;

class BlockDecoder {
public:
    virtual ~BlockDecoder() = default;

    // Unpacks `block` into `out` (kDecodedBlockCapacity bytes) and sets
    // `produced`. `history` holds the folder's previous block as decoded
    // (nullptr for the first). Returns 0 or ERROR_INVALID_DATA.
    virtual uint32_t decode(const DataBlock& block, const unsigned char* history, std::size_t historySize,
                            unsigned char* out, std::size_t& produced) = 0;
};

// Whether this service decodes folders of `compression` itself.
bool DecodesNatively(uint16_t compression);

// A decoder for a method DecodesNatively() accepts.
std::unique_ptr<BlockDecoder> MakeBlockDecoder(uint16_t compression);

// Tests compare the service's decoders with libmspack's: off, every folder
// goes to libmspack. On by default.
void SetNativeDecoding(bool enabled);

}  // namespace platform::cabservice
