// SPDX-License-Identifier: MIT
// Stored and MSZIP blocks (see decoders.h).
#include "cabformat/decoders.h"

#include "cabformat/layout.h"

#include <atomic>
#include <cstring>
#include <isa-l/igzip_lib.h>

namespace cabformat {

namespace {

std::atomic<bool> g_native{true};

// An MSZIP block begins with these two bytes.
constexpr unsigned char kMszipSignature[] = {'C', 'K'};

class StoredDecoder final : public BlockDecoder {
public:
    Error decode(const DataBlock& block, const unsigned char*, std::size_t, unsigned char* out,
                 std::size_t& produced) override {
        // A stored block is its packed bytes, as many as it unpacks to: a
        // block of another size is not stored data (an MSZIP block whose
        // folder record was changed, for one), and its bytes would be wrong.
        if (block.packedSize != block.unpackedSize) {
            return {Errc::Damaged};
        }
        std::memcpy(out, block.packed, block.packedSize);
        produced = block.packedSize;
        return {};
    }
};

// Each block is a raw deflate stream of its own, with the previous block's
// output as its history.
class MszipDecoder final : public BlockDecoder {
public:
    MszipDecoder() { isal_inflate_init(&state_); }

    Error decode(const DataBlock& block, const unsigned char* history, std::size_t historySize, unsigned char* out,
                 std::size_t& produced) override {
        if (block.packedSize < sizeof kMszipSignature ||
            std::memcmp(block.packed, kMszipSignature, sizeof kMszipSignature) != 0) {
            return {Errc::Damaged};
        }
        isal_inflate_reset(&state_);
        state_.crc_flag = ISAL_DEFLATE;
        if (history != nullptr && isal_inflate_set_dict(&state_, const_cast<unsigned char*>(history),
                                                        static_cast<uint32_t>(historySize)) != COMP_OK) {
            return {Errc::Damaged};
        }
        // ISA-L reads but never writes its input.
        state_.next_in = const_cast<unsigned char*>(block.packed) + sizeof kMszipSignature;
        state_.avail_in = static_cast<uint32_t>(block.packedSize - sizeof kMszipSignature);
        state_.next_out = out;
        state_.avail_out = static_cast<uint32_t>(kDecodedBlockCapacity);
        const int result = isal_inflate(&state_);
        produced = kDecodedBlockCapacity - state_.avail_out;
        // A stream that does not end in its block, or that unpacks to another
        // size than the block states, is damaged: its bytes would be wrong.
        if (result != ISAL_DECOMP_OK || state_.block_state != ISAL_BLOCK_FINISH || produced != block.unpackedSize) {
            return {Errc::Damaged};
        }
        return {};
    }

private:
    inflate_state state_{};
};

}  // namespace

bool DecodesNatively(uint16_t compression) {
    const uint16_t method = compression & layout::kCompressionMask;
    // LZX and Quantum go through libmspack on the decoder thread too
    // (libmspack_stream.h); off, libmspack decodes them entry by entry.
    return g_native.load(std::memory_order_relaxed) && method <= layout::kCompressionLzx;
}

std::unique_ptr<BlockDecoder> MakeBlockDecoder(uint16_t compression) {
    if ((compression & layout::kCompressionMask) == layout::kCompressionMszip) {
        return std::make_unique<MszipDecoder>();
    }
    return std::make_unique<StoredDecoder>();
}

void SetNativeDecoding(bool enabled) { g_native.store(enabled, std::memory_order_relaxed); }

}  // namespace cabformat
