// SPDX-License-Identifier: MIT
// A folder through libmspack's cabinet decompressor, one block at a time
// (see libmspack_stream.h). libmspack sees one cabinet: a made-up header
// of one folder and one entry the size of the folder's data, then the
// folder's blocks as the engine's reader hands them over, each with a
// made-up record header without a checksum (the reader has checked it).
//
// Every callback is noexcept and allocates nothing that can throw: no C++
// exception ever crosses libmspack's C frames.
#include "cabformat/libmspack_stream.h"

#include "cabformat/layout.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <mspack.h>
#include <vector>

namespace cabformat {

namespace {

// The made-up cabinet: its header, the folder record, the file record of
// the one entry named "x", then zeros that libmspack may read past the name
// while it looks for the name's end, then the data blocks.
constexpr std::size_t kFolderAt = layout::kHeaderSize;
constexpr std::size_t kFileAt = kFolderAt + layout::kFolderSize;
constexpr std::size_t kNameAt = kFileAt + layout::kFileSize;
constexpr std::size_t kDataAt = kNameAt + 2 + layout::kMaxStringSize + 1;
// libmspack's input buffer: small, so that it asks for the next block only
// once its decoder has nearly used up the one before (1 KB: 4 bytes cost
// a call per 4 bytes, 5x the time of a stored LZX folder).
constexpr int kInputBuffer = 1024;
// Bytes a decoder may read ahead of what it has used at a frame's end.
constexpr std::size_t kLookahead = 16;
// Both methods' frame: what every data block but a folder's last unpacks to.
constexpr std::size_t kFrameSize = layout::kMaxBlockSize;
// libmspack's LZX decoder learns the folder's length only as it reads the
// last block, and sizes each frame as it begins it: a last frame shorter
// than 32 KB begun before the last block was read is decoded as a whole
// one, past the data's end. So the last bytes of the block before the last
// are handed over with the last block: the decoder reads into it (and
// learns the length) before it finishes the frame before.
constexpr std::size_t kCarried = 8;

void Put16(unsigned char* at, uint32_t value) {
    at[0] = static_cast<unsigned char>(value);
    at[1] = static_cast<unsigned char>(value >> 8);
}
void Put32(unsigned char* at, uint32_t value) {
    Put16(at, value & 0xFFFF);
    Put16(at + 2, value >> 16);
}

// The folder's blocks as its records state them, a split block counted once.
struct Shape {
    uint64_t blocks = 0;
    uint64_t unpacked = 0;
    uint64_t recordBytes = 0;  // of the blocks joined, with their record headers
    uint64_t lastPacked = 0;   // the last block's packed bytes
};

// Read from the records alone; stops at the first it cannot read, where the
// reader will meet the same failure once the blocks before it are decoded.
Shape ShapeOf(const FolderData& data) {
    Shape shape;
    uint64_t pieces = 0;  // packed bytes of a split block's pieces so far
    for (std::size_t s = 0; s < data.segments.size(); ++s) {
        const DataSegment& segment = data.segments[s];
        uint64_t at = segment.dataOffset;
        for (uint16_t record = 0; record < segment.blockCount; ++record) {
            std::array<unsigned char, layout::kDataHeaderSize> header{};
            std::size_t got = 0;
            if (at + header.size() > segment.limit ||
                ReadAtLeast(*segment.source, at, header.data(), header.size(), header.size(), got) != 0 ||
                got < header.size()) {
                return shape;
            }
            const uint16_t packed = layout::U16(&header[layout::kDataPackedSize]);
            const uint16_t unpacked = layout::U16(&header[layout::kDataUnpackedSize]);
            at += header.size() + segment.reserve + packed;
            shape.recordBytes += packed + (unpacked != 0 ? header.size() : 0);
            pieces += packed;
            if (unpacked != 0) {
                ++shape.blocks;
                shape.unpacked += unpacked;
                shape.lastPacked = pieces;
                pieces = 0;
            }
        }
    }
    return shape;
}

// libmspack's view of the made-up cabinet and of the entry's output.
struct Session {
    struct Handle {
        Session* session;
        bool output;
    };
    struct Table {
        mspack_system system;
        Session* owner;
    };

    explicit Session(FolderStream& out) : stream(out) {
        table.system = {&Open, &Close, &Read, &Write, &Seek, &Tell, &Message, &Alloc, &Free, &Copy, nullptr};
        table.owner = this;
    }

    void fail(Error error) noexcept {
        if (failure.ok()) {
            failure = error;
        }
    }

    // Takes the next block from the reader, checking that the decoder has
    // finished the frames it should have by now. False when there is none.
    bool fetch() noexcept {
        // Reading block n while frame n - 2 is open: the decoder read all
        // of block n - 1 (more than its lookahead) for a frame before it.
        if (framesDone + 1 < served && block.packedSize >= kInputBuffer + kLookahead + kCarried) {
            fail({Errc::Damaged});
            return false;
        }
        // What the block before kept back goes first, before it is released.
        carriedSize = block.packedSize - bodySize;
        if (carriedSize != 0) {
            std::memcpy(carried.data(), block.packed + bodySize, carriedSize);
        }
        Error error;
        if (!stream.nextBlock(block, error)) {
            if (!error.ok()) {
                fail(error);
            }
            return false;
        }
        if (served >= shape.blocks || block.unpackedSize == 0 ||
            (served + 1 < shape.blocks ? block.unpackedSize != kFrameSize : block.unpackedSize > kFrameSize)) {
            fail({Errc::Damaged});  // not the blocks the records promised, or not one frame each
            return false;
        }
        frameSizes[served] = static_cast<uint16_t>(block.unpackedSize);
        ++served;
        const bool keepBack = lzx && served + 1 == shape.blocks && block.packedSize > kCarried &&
                              shape.lastPacked + kCarried <= layout::kMaxPackedBlockSize;
        bodySize = keepBack ? block.packedSize - kCarried : block.packedSize;
        std::memset(record.data(), 0, record.size());
        Put16(&record[layout::kDataPackedSize], static_cast<uint32_t>(carriedSize + bodySize));
        Put16(&record[layout::kDataUnpackedSize], static_cast<uint32_t>(block.unpackedSize));
        blockAt = 0;
        return true;
    }

    int read(unsigned char* into, std::size_t size) noexcept {
        std::size_t done = 0;
        while (done < size) {
            if (position < kDataAt) {
                const std::size_t take = std::min(size - done, static_cast<std::size_t>(kDataAt - position));
                std::memcpy(into + done, header.data() + position, take);
                position += take;
                done += take;
                continue;
            }
            const std::size_t whole = record.size() + carriedSize + bodySize;
            if (!started || blockAt == whole) {
                started = true;
                if (!fetch()) {
                    if (!failure.ok()) {
                        return -1;
                    }
                    break;  // the end of the folder: libmspack sees the cabinet end
                }
                continue;
            }
            // The record header, the bytes carried over, the block's own.
            const unsigned char* from = nullptr;
            std::size_t left = 0;
            if (blockAt < record.size()) {
                from = record.data() + blockAt;
                left = record.size() - blockAt;
            } else if (blockAt < record.size() + carriedSize) {
                from = carried.data() + (blockAt - record.size());
                left = record.size() + carriedSize - blockAt;
            } else {
                from = block.packed + (blockAt - record.size() - carriedSize);
                left = whole - blockAt;
            }
            const std::size_t take = std::min(size - done, left);
            std::memcpy(into + done, from, take);
            blockAt += take;
            done += take;
            position += take;
        }
        return static_cast<int>(done);
    }

    int write(const unsigned char* bytes, std::size_t size) noexcept {
        const std::size_t asked = size;
        while (size > 0) {
            if (framesDone == served) {
                fail({Errc::Damaged});  // a frame out before its block was read: the one before ended early
                return -1;
            }
            const std::size_t frame = frameSizes[framesDone];
            const std::size_t take = std::min(size, frame - frameAt);
            frameAt += take;
            const bool ends = frameAt == frame;
            if (!stream.emit(bytes, take, ends)) {
                fail({Errc::Internal});
                stopped = true;
                return -1;
            }
            if (ends) {
                ++framesDone;
                frameAt = 0;
            }
            bytes += take;
            size -= take;
        }
        return static_cast<int>(asked);
    }

    static mspack_file* Open(mspack_system* self, const char*, int mode) noexcept {
        Session* session = reinterpret_cast<Table*>(self)->owner;
        if (mode == MSPACK_SYS_OPEN_READ && !session->started) {
            session->position = 0;  // read again from the start: the header, then the blocks
        }
        return reinterpret_cast<mspack_file*>(mode == MSPACK_SYS_OPEN_WRITE ? &session->outputHandle
                                                                            : &session->inputHandle);
    }
    static void Close(mspack_file*) noexcept {}
    static int Read(mspack_file* file, void* buffer, int bytes) noexcept {
        Handle* handle = reinterpret_cast<Handle*>(file);
        if (handle->output || bytes < 0) {
            return -1;
        }
        return handle->session->read(static_cast<unsigned char*>(buffer), static_cast<std::size_t>(bytes));
    }
    static int Write(mspack_file* file, void* buffer, int bytes) noexcept {
        Handle* handle = reinterpret_cast<Handle*>(file);
        if (!handle->output || bytes < 0) {
            return -1;
        }
        return handle->session->write(static_cast<const unsigned char*>(buffer), static_cast<std::size_t>(bytes));
    }
    static int Seek(mspack_file* file, off_t offset, int mode) noexcept {
        Handle* handle = reinterpret_cast<Handle*>(file);
        Session& session = *handle->session;
        if (handle->output) {
            return -1;
        }
        int64_t from = 0;
        switch (mode) {
            case MSPACK_SYS_SEEK_START: from = 0; break;
            case MSPACK_SYS_SEEK_CUR: from = static_cast<int64_t>(session.position); break;
            case MSPACK_SYS_SEEK_END: from = static_cast<int64_t>(session.cabinetSize); break;
            default: return -1;
        }
        const int64_t to = from + offset;
        // Within the header, or to where the blocks begin before any is read;
        // libmspack reads its blocks front to back from there.
        if (to < 0 || (to > static_cast<int64_t>(kDataAt) && to != static_cast<int64_t>(session.position)) ||
            (session.started && to != static_cast<int64_t>(session.position))) {
            return -1;
        }
        session.position = static_cast<uint64_t>(to);
        return 0;
    }
    static off_t Tell(mspack_file* file) noexcept {
        return static_cast<off_t>(reinterpret_cast<Handle*>(file)->session->position);
    }
    static void Message(mspack_file*, const char*, ...) noexcept {}
    static void* Alloc(mspack_system*, size_t bytes) noexcept { return std::malloc(bytes); }
    static void Free(void* pointer) noexcept { std::free(pointer); }
    static void Copy(void* source, void* destination, size_t bytes) noexcept {
        std::memmove(destination, source, bytes);
    }

    FolderStream& stream;
    Table table{};
    Handle inputHandle{this, false};
    Handle outputHandle{this, true};
    Shape shape;
    uint64_t cabinetSize = 0;
    std::array<unsigned char, kDataAt> header{};
    uint64_t position = 0;  // in the made-up cabinet
    bool started = false;   // the first block has been asked for
    // The block being read, and its made-up record header.
    DataBlock block;
    std::array<unsigned char, layout::kDataHeaderSize> record{};
    std::size_t blockAt = 0;   // of record + carried + body, given to libmspack
    std::size_t bodySize = 0;  // of the block's packed bytes, handed over with it
    std::array<unsigned char, kCarried> carried{};
    std::size_t carriedSize = 0;  // of the block before's, handed over first
    bool lzx = false;
    uint64_t served = 0;  // blocks handed to libmspack
    // The unpacked size of each block handed to libmspack: its frame's.
    std::vector<uint16_t> frameSizes;
    uint64_t framesDone = 0;
    std::size_t frameAt = 0;  // bytes out of the current frame
    Error failure;
    bool stopped = false;
};

Error ErrorOf(int status) {
    switch (status) {
        case MSPACK_ERR_NOMEMORY: return {Errc::NoMemory};
        case MSPACK_ERR_OK: return {};
        default: return {Errc::Damaged};  // a stream that does not decode, or ends early
    }
}

}  // namespace

Error DecodeFolderStream(const FolderData& data, FolderStream& stream) {
    Session session(stream);
    session.shape = ShapeOf(data);
    const Shape& shape = session.shape;
    if (shape.blocks == 0) {
        // No record to be read: an empty folder, or the reader's failure.
        Error error;
        DataBlock block;
        return stream.nextBlock(block, error) ? Error{Errc::Damaged} : error;
    }
    if (shape.blocks > UINT16_MAX || shape.unpacked > UINT32_MAX) {
        return {Errc::Damaged};
    }
    session.frameSizes.resize(static_cast<std::size_t>(shape.blocks));
    session.lzx = (data.compression & layout::kCompressionMask) == layout::kCompressionLzx;
    session.cabinetSize = std::min<uint64_t>(kDataAt + shape.recordBytes, UINT32_MAX);
    unsigned char* h = session.header.data();
    Put32(h + layout::kHeaderSignature, layout::kSignature);
    Put32(h + layout::kHeaderCabinetSize, static_cast<uint32_t>(session.cabinetSize));
    Put32(h + layout::kHeaderFilesOffset, kFileAt);
    h[layout::kHeaderVersionMinor] = layout::kVersionMinorLatest;
    h[layout::kHeaderVersionMajor] = layout::kVersionMajor;
    Put16(h + layout::kHeaderFolderCount, 1);
    Put16(h + layout::kHeaderFileCount, 1);
    Put32(h + kFolderAt + layout::kFolderDataOffset, kDataAt);
    Put16(h + kFolderAt + layout::kFolderBlockCount, static_cast<uint32_t>(shape.blocks));
    Put16(h + kFolderAt + layout::kFolderCompression, data.compression);
    Put32(h + kFileAt + layout::kFileLength, static_cast<uint32_t>(shape.unpacked));
    h[kNameAt] = 'x';

    mscab_decompressor* decompressor = mspack_create_cab_decompressor(&session.table.system);
    if (decompressor == nullptr) {
        return {Errc::NoMemory};
    }
    decompressor->set_param(decompressor, MSCABD_PARAM_DECOMPBUF, kInputBuffer);
    Error result;
    if (mscabd_cabinet* cabinet = decompressor->open(decompressor, "folder")) {
        const int status = decompressor->extract(decompressor, cabinet->files, "entry");
        decompressor->close(decompressor, cabinet);
        if (!session.failure.ok()) {
            result = session.failure;
        } else if (status != MSPACK_ERR_OK) {
            result = ErrorOf(status);
        } else if (session.framesDone != shape.blocks || session.frameAt != 0) {
            result = {Errc::Damaged};
        }
    } else {
        result = ErrorOf(decompressor->last_error(decompressor));
        result = result.ok() ? Error{Errc::Internal} : result;
    }
    mspack_destroy_cab_decompressor(decompressor);
    return result;
}

}  // namespace cabformat
