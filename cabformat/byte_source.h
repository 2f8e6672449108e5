// SPDX-License-Identifier: MIT
// Where the engine reads a cabinet from: a host file, a buffer in memory, or
// a stretch of a larger file. The engine never opens a file itself.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace cabformat {

class ByteSource {
public:
    virtual ~ByteSource() = default;

    // Reads up to `size` bytes at `offset` into `into` and sets `got`: at
    // least one byte unless `offset` is at or past the end (0 then), maybe
    // fewer than asked, as pread does. Returns 0, or the source's own error
    // number (nonzero) when the read failed. Called from more than one
    // thread at once: it must not depend on a shared position.
    virtual int readAt(uint64_t offset, unsigned char* into, std::size_t size, std::size_t& got) = 0;
    // Its length in bytes.
    virtual uint64_t size() const = 0;
};

// Reads at `offset` until `least` of the `size` bytes are in `into`, or the
// source ends. Returns 0 or the source's error number; `got` is the count.
inline int ReadAtLeast(ByteSource& source, uint64_t offset, unsigned char* into, std::size_t least, std::size_t size,
                       std::size_t& got) {
    got = 0;
    while (got < least) {
        std::size_t more = 0;
        if (const int error = source.readAt(offset + got, into + got, size - got, more); error != 0) {
            return error;
        }
        if (more == 0) {
            break;
        }
        got += more;
    }
    return 0;
}

// Bytes the caller keeps alive: a cabinet in memory, or one in a larger buffer.
class MemorySource final : public ByteSource {
public:
    MemorySource(const void* data, std::size_t size) : data_(static_cast<const unsigned char*>(data)), size_(size) {}

    int readAt(uint64_t offset, unsigned char* into, std::size_t size, std::size_t& got) override {
        got = offset >= size_ ? 0 : static_cast<std::size_t>(std::min<uint64_t>(size, size_ - offset));
        if (got != 0) {
            std::memcpy(into, data_ + offset, got);
        }
        return 0;
    }
    uint64_t size() const override { return size_; }

private:
    const unsigned char* data_;
    std::size_t size_;
};

}  // namespace cabformat
