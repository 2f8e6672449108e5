// SPDX-License-Identifier: MIT
// A cabinet that lies inside a larger file (a self-extracting program, an
// installer with its cabinet appended): the stretch of another source that
// holds it, read as a source of its own. The cabinet's offsets count from
// its own first byte, so the engine reads the stretch as it reads a file.
#pragma once

#include "cabformat/byte_source.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace cabformat {

class FileSlice final : public ByteSource {
public:
    // `size` bytes of `whole` from `offset` on; whatever of them lies past
    // the end of `whole` reads as the end.
    FileSlice(std::unique_ptr<ByteSource> whole, uint64_t offset, uint64_t size)
        : whole_(std::move(whole)), offset_(offset), size_(size) {}

    int readAt(uint64_t offset, unsigned char* into, std::size_t size, std::size_t& got) override {
        got = 0;
        if (offset >= size_) {
            return 0;
        }
        const auto take = static_cast<std::size_t>(std::min<uint64_t>(size, size_ - offset));
        return whole_->readAt(offset_ + offset, into, take, got);
    }
    uint64_t size() const override { return size_; }

private:
    std::unique_ptr<ByteSource> whole_;
    uint64_t offset_;
    uint64_t size_;
};

}  // namespace cabformat
