// SPDX-License-Identifier: MIT
// Reading a folder's data blocks (see blocks.h).
#include "cabformat/blocks.h"

#include "cabformat/layout.h"

#include <bit>
#include <cstring>

namespace cabformat {

namespace {

// Big enough for the largest block record with its reserve, and large
// enough that reads come in few system calls.
constexpr std::size_t kReadBufferSize = 256 * 1024;
constexpr int kShiftByte1 = 8;
constexpr int kShiftByte2 = 16;
constexpr int kShiftHigh = 32;

using layout::U16;
using layout::U32;

}  // namespace

uint64_t FolderData::blockCount() const {
    uint64_t blocks = 0;
    for (const DataSegment& segment : segments) {
        blocks += segment.blockCount;
    }
    return blocks;
}

uint32_t BlockChecksum(const unsigned char* data, std::size_t size, uint32_t seed) {
    // Eight bytes at a time: XOR is order-free, so the two halves fold into one word.
    uint64_t wide = 0;
    std::size_t at = 0;
    const std::size_t words = size & ~std::size_t{3};
    for (; at + sizeof wide <= words; at += sizeof wide) {
        uint64_t value = 0;
        std::memcpy(&value, data + at, sizeof value);
        if constexpr (std::endian::native == std::endian::big) {
            value = __builtin_bswap64(value);
        }
        wide ^= value;
    }
    uint32_t sum = seed ^ static_cast<uint32_t>(wide) ^ static_cast<uint32_t>(wide >> kShiftHigh);
    for (; at < words; at += 4) {
        sum ^= U32(data + at);
    }
    uint32_t tail = 0;
    switch (size & 3) {
        case 3: tail |= static_cast<uint32_t>(data[at++]) << kShiftByte2; [[fallthrough]];
        case 2: tail |= static_cast<uint32_t>(data[at++]) << kShiftByte1; [[fallthrough]];
        case 1: tail |= data[at]; break;
        default: break;
    }
    return sum ^ tail;
}

BlockReader::BlockReader(const FolderData& data) : data_(data), buffer_(kReadBufferSize) {}

Error BlockReader::openSegment(std::size_t index) {
    source_ = nullptr;
    if (index >= data_.segments.size()) {
        return {Errc::Damaged};  // a block goes on, but the folder has no next cabinet
    }
    segment_ = index;
    source_ = data_.segments[index].source;
    bufferAt_ = data_.segments[index].dataOffset;
    recordsLeft_ = data_.segments[index].blockCount;
    next_ = 0;
    end_ = 0;
    return {};
}

Error BlockReader::need(std::size_t size) {
    if (bufferAt_ + next_ + size > data_.segments[segment_].limit) {
        return {Errc::Damaged};  // the record runs into what follows the folder's data
    }
    if (end_ - next_ >= size) {
        return {};
    }
    std::memmove(buffer_.data(), buffer_.data() + next_, end_ - next_);
    bufferAt_ += next_;
    end_ -= next_;
    next_ = 0;
    std::size_t got = 0;
    if (const int error =
            ReadAtLeast(*source_, bufferAt_ + end_, buffer_.data() + end_, size - end_, buffer_.size() - end_, got);
        error != 0) {
        return {Errc::ReadFailed, error};
    }
    end_ += got;
    return end_ < size ? Error{Errc::Truncated} : Error{};  // the cabinet ends inside the block
}

Error BlockReader::next(DataBlock& block, bool& end) {
    end = false;
    if (source_ == nullptr) {
        if (data_.segments.empty()) {
            end = true;
            return {};
        }
        if (const Error opened = openSegment(0); !opened.ok()) {
            return opened;
        }
    }
    joined_.clear();
    for (;;) {
        // A folder may go on in the next cabinet after a whole block too.
        while (recordsLeft_ == 0) {
            if (!joined_.empty() || segment_ + 1 == data_.segments.size()) {
                end = joined_.empty();
                return end ? Error{} : Error{Errc::Damaged};  // a split block without its rest
            }
            if (const Error opened = openSegment(segment_ + 1); !opened.ok()) {
                return opened;
            }
        }
        --recordsLeft_;
        const std::size_t reserve = data_.segments[segment_].reserve;
        if (const Error got = need(layout::kDataHeaderSize + reserve); !got.ok()) {
            return got;
        }
        const unsigned char* header = buffer_.data() + next_;
        const uint32_t checksum = U32(header + layout::kDataChecksum);
        const std::size_t packed = U16(header + layout::kDataPackedSize);
        const std::size_t unpacked = U16(header + layout::kDataUnpackedSize);
        if (joined_.size() + packed > layout::kMaxPackedBlockSize || unpacked > layout::kMaxBlockSize) {
            return {Errc::Damaged};
        }
        // Split only as the folder's last record in a cabinet it goes on from.
        if (unpacked == 0 && (recordsLeft_ != 0 || segment_ + 1 == data_.segments.size())) {
            return {Errc::Damaged};
        }
        if (const Error got = need(layout::kDataHeaderSize + reserve + packed); !got.ok()) {
            return got;
        }
        header = buffer_.data() + next_;
        const unsigned char* bytes = header + layout::kDataHeaderSize + reserve;
        // The sum covers the bytes, then the two size fields (not the reserve).
        const std::size_t sizeFields = layout::kDataHeaderSize - layout::kDataPackedSize;
        if (checksum != 0 &&
            BlockChecksum(header + layout::kDataPackedSize, sizeFields, BlockChecksum(bytes, packed, 0)) != checksum) {
            return {Errc::Checksum};
        }
        next_ += layout::kDataHeaderSize + reserve + packed;
        if (unpacked != 0 && joined_.empty()) {
            block = {bytes, packed, unpacked};
            return {};
        }
        joined_.insert(joined_.end(), bytes, bytes + packed);
        if (unpacked != 0) {
            block = {joined_.data(), joined_.size(), unpacked};
            return {};
        }
        // A split block: the rest begins the folder's data in the next cabinet.
        if (const Error opened = openSegment(segment_ + 1); !opened.ok()) {
            return opened;
        }
    }
}

}  // namespace cabformat
