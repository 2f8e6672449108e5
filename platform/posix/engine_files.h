// The host files the cabinet engine works through on Linux: a cabinet file
// as a byte source, and the spill file for decoded bytes a later entry
// needs. Shared by the cabinet service and cabfile's own engine walks.
#pragma once

#include "cabformat/byte_source.h"
#include "cabformat/cabinet_set.h"
#include "platform/posix/host_io.h"

#include <cstddef>
#include <cstdint>
#include <memory>
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

// What the host was doing when it failed; the same errno means different
// things for a read and a write (EIO) or an open and a create (ENOENT).
enum class IoOperation { Open, Read, Create, Write, Rename };

// The one table of the engine walks' failures as Win32 codes: for a host
// errno value met in `operation`, and for the engine's own failure. Never
// NO_ERROR.
uint32_t Win32FromErrno(int error, IoOperation operation);
uint32_t Win32FromEngine(const cabformat::Error& error);

// Where the engine keeps decoded bytes a later entry needs: an unnamed file
// in the temporary folder ($TMPDIR, else /tmp), gone with its descriptor,
// so that neither a failure nor a kill leaves it behind. nullptr when none
// can be made: the engine then decodes again instead.
std::unique_ptr<cabformat::SpillStore> MakeSpillFile();

}  // namespace platform
