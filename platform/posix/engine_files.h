// SPDX-License-Identifier: MIT
// The host files the cabinet engine works through on Linux: a cabinet file
// as a byte source, and the spill file for decoded bytes a later entry
// needs. Shared by the cabinet service and cabfile's own engine walks.
#pragma once

#include "cabformat/byte_source.h"
#include "cabformat/cabinet_set.h"
#include "platform/posix/host_io.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

namespace platform {

// A cabinet file, read with pread from any thread.
class HostFile final : public cabformat::ByteSource {
public:
    HostFile(UniqueFd fd, uint64_t size, uint64_t device, uint64_t inode)
        : fd_(std::move(fd)), size_(size), identity_(device, inode) {}

    int readAt(uint64_t offset, unsigned char* into, std::size_t size, std::size_t& got) override;
    uint64_t size() const override { return size_; }
    // The file, by device and inode.
    std::pair<uint64_t, uint64_t> identity() const { return identity_; }

private:
    UniqueFd fd_;
    uint64_t size_;
    std::pair<uint64_t, uint64_t> identity_;
};

// Decoded bytes kept in memory at most, once no file can hold them.
constexpr std::size_t kSpillMemoryBound = 256u << 20;

// Where the engine keeps decoded bytes a later entry needs, so that records
// out of the data's order never cost a folder decoded again: an unnamed file
// in the temporary directory ($TMPDIR, else /tmp); where that cannot be made or
// fills, one in `nearDirectory` (the output's file system; "" for none); then
// memory up to kSpillMemoryBound. What one holds moves on to the next. Only
// past all three does a write fail, and the engine decode again; the notice
// given to OnSpillExhausted is then called, once per store. Nothing of any
// of them outlives its descriptor, however the process ends.
std::unique_ptr<cabformat::SpillStore> MakeSpillFile(const std::string& nearDirectory = "");

// What a program that has somewhere to say it wants done when a spill store
// gives up (see MakeSpillFile); nothing by default.
void OnSpillExhausted(std::function<void()> notice);

}  // namespace platform
