// Reading a folder's data blocks (see blocks.h).
#include "platform/posix/cabinet/blocks.h"

#include "platform/kernel.h"
#include "platform/posix/cabinet/format.h"
#include "platform/posix/cabinet/io.h"
#include "platform/posix/cabinet/win32_codes.h"

#include <bit>
#include <cerrno>
#include <cstring>

namespace platform::cabservice {

namespace {

// Big enough for the largest block record with its reserve, and large
// enough that reads come in few system calls.
constexpr std::size_t kReadBufferSize = 256 * 1024;
constexpr int kShiftByte1 = 8;
constexpr int kShiftByte2 = 16;
constexpr int kShiftHigh = 32;

using format::U16;
using format::U32;

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

uint32_t BlockReader::openSegment(std::size_t index) {
    fd_.reset();
    if (index >= data_.segments.size()) {
        return ERROR_INVALID_DATA;  // a block goes on, but the folder has no next cabinet
    }
    segment_ = index;
    int error = 0;
    fd_ = OpenForReading(data_.segments[index].hostPath, &error);
    if (!fd_.valid()) {
        return Win32FromErrno(error, IoOperation::Open);
    }
    bufferAt_ = data_.segments[index].dataOffset;
    recordsLeft_ = data_.segments[index].blockCount;
    next_ = 0;
    end_ = 0;
    return NO_ERROR;
}

uint32_t BlockReader::need(std::size_t size) {
    if (bufferAt_ + next_ + size > data_.segments[segment_].limit) {
        return ERROR_INVALID_DATA;  // the record runs into what follows the folder's data
    }
    if (end_ - next_ >= size) {
        return NO_ERROR;
    }
    std::memmove(buffer_.data(), buffer_.data() + next_, end_ - next_);
    bufferAt_ += next_;
    end_ -= next_;
    next_ = 0;
    const ssize_t got = ReadAtLeast(fd_.get(), buffer_.data() + end_, size - end_, buffer_.size() - end_,
                                    static_cast<off_t>(bufferAt_ + end_));
    if (got < 0) {
        return Win32FromErrno(errno, IoOperation::Read);
    }
    end_ += static_cast<std::size_t>(got);
    return end_ < size ? ERROR_INVALID_DATA : NO_ERROR;  // short: the cabinet ends inside the block
}

uint32_t BlockReader::next(DataBlock& block, bool& end) {
    end = false;
    if (!fd_.valid()) {
        if (data_.segments.empty()) {
            end = true;
            return NO_ERROR;
        }
        if (const uint32_t opened = openSegment(0); opened != NO_ERROR) {
            return opened;
        }
    }
    joined_.clear();
    for (;;) {
        // A folder may go on in the next cabinet after a whole block too.
        while (recordsLeft_ == 0) {
            if (!joined_.empty() || segment_ + 1 == data_.segments.size()) {
                end = joined_.empty();
                return end ? NO_ERROR : ERROR_INVALID_DATA;  // a split block without its rest
            }
            if (const uint32_t opened = openSegment(segment_ + 1); opened != NO_ERROR) {
                return opened;
            }
        }
        --recordsLeft_;
        const std::size_t reserve = data_.segments[segment_].reserve;
        if (const uint32_t got = need(format::kDataHeaderSize + reserve); got != NO_ERROR) {
            return got;
        }
        const unsigned char* header = buffer_.data() + next_;
        const uint32_t checksum = U32(header + format::kDataChecksum);
        const std::size_t packed = U16(header + format::kDataPackedSize);
        const std::size_t unpacked = U16(header + format::kDataUnpackedSize);
        if (joined_.size() + packed > format::kMaxPackedBlockSize || unpacked > format::kMaxBlockSize) {
            return ERROR_INVALID_DATA;
        }
        // Split only as the folder's last record in a cabinet it goes on from.
        if (unpacked == 0 && (recordsLeft_ != 0 || segment_ + 1 == data_.segments.size())) {
            return ERROR_INVALID_DATA;
        }
        if (const uint32_t got = need(format::kDataHeaderSize + reserve + packed); got != NO_ERROR) {
            return got;
        }
        header = buffer_.data() + next_;
        const unsigned char* bytes = header + format::kDataHeaderSize + reserve;
        // The sum covers the bytes, then the two size fields (not the reserve).
        const std::size_t sizeFields = format::kDataHeaderSize - format::kDataPackedSize;
        if (checksum != 0 &&
            BlockChecksum(header + format::kDataPackedSize, sizeFields, BlockChecksum(bytes, packed, 0)) != checksum) {
            return ERROR_CRC;
        }
        next_ += format::kDataHeaderSize + reserve + packed;
        if (unpacked != 0 && joined_.empty()) {
            block = {bytes, packed, unpacked};
            return NO_ERROR;
        }
        joined_.insert(joined_.end(), bytes, bytes + packed);
        if (unpacked != 0) {
            block = {joined_.data(), joined_.size(), unpacked};
            return NO_ERROR;
        }
        // A split block: the rest begins the folder's data in the next cabinet.
        if (const uint32_t opened = openSegment(segment_ + 1); opened != NO_ERROR) {
            return opened;
        }
    }
}

}  // namespace platform::cabservice
