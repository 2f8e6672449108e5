// Reading a cabinet's raw header with plain reads (see header.h).
#include "platform/posix/cabinet/header.h"

#include "platform/kernel.h"
#include "platform/posix/cabinet/format.h"
#include "platform/posix/cabinet/io.h"
#include "platform/posix/cabinet/win32_codes.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>

namespace platform::cabservice {

namespace {

using format::U16;
using format::U32;

// Bytes read at a time: a typical header in one read.
constexpr std::size_t kBufferSize = 64 * 1024;

// Sequential reads through a buffer; a failure is kept as a Win32 code.
class Reader {
public:
    explicit Reader(int fd) : fd_(fd) {}

    uint32_t error() const { return error_; }

    // Reads exactly `size` bytes into `into`, or past them when `into` is
    // nullptr, or fails (a short file is damaged data).
    bool read(unsigned char* into, std::size_t size) {
        while (size > 0) {
            if (!fill()) {
                return false;
            }
            const std::size_t take = std::min(size, end_ - next_);
            if (into != nullptr) {
                std::memcpy(into, buffer_.data() + next_, take);
                into += take;
            }
            next_ += take;
            size -= take;
        }
        return true;
    }

    bool skip(std::size_t size) { return read(nullptr, size); }

    // A zero-terminated string of at most format::kMaxStringSize bytes, the
    // terminator included.
    bool string(std::string& into, bool emptyAllowed) {
        into.clear();
        while (into.size() < format::kMaxStringSize) {
            unsigned char byte = 0;
            if (!read(&byte, 1)) {
                return false;
            }
            if (byte == 0) {
                if (into.empty() && !emptyAllowed) {
                    return fail(ERROR_INVALID_DATA);
                }
                return true;
            }
            into += static_cast<char>(byte);
        }
        return fail(ERROR_INVALID_DATA);
    }

    bool fail(uint32_t code) {
        if (error_ == 0) {
            error_ = code;
        }
        return false;
    }

private:
    bool fill() {
        if (error_ != 0) {
            return false;
        }
        if (next_ < end_) {
            return true;
        }
        const ssize_t got = ReadAtLeast(fd_, buffer_.data(), 1, buffer_.size());
        if (got < 0) {
            return fail(Win32FromErrno(errno, IoOperation::Read));
        }
        if (got == 0) {
            return fail(ERROR_INVALID_DATA);  // cut short
        }
        next_ = 0;
        end_ = static_cast<std::size_t>(got);
        return true;
    }

    int fd_;
    std::array<unsigned char, kBufferSize> buffer_{};
    std::size_t next_ = 0;
    std::size_t end_ = 0;
    uint32_t error_ = 0;
};

// CFHEADER: the signature, the counts, the flags and the place in the set.
// The file count goes to `fileCount`: the header keeps the records instead.
bool ReadFixedHeader(Reader& in, CabinetHeader& header, uint16_t& fileCount) {
    std::array<unsigned char, format::kHeaderSize> fixed{};
    if (!in.read(fixed.data(), fixed.size())) {
        return false;
    }
    if (U32(&fixed[format::kHeaderSignature]) != format::kSignature) {
        return in.fail(ERROR_INVALID_DATA);
    }
    header.folderCount = U16(&fixed[format::kHeaderFolderCount]);
    fileCount = U16(&fixed[format::kHeaderFileCount]);
    header.flags = U16(&fixed[format::kHeaderFlags]);
    header.setId = U16(&fixed[format::kHeaderSetId]);
    header.cabinetIndex = U16(&fixed[format::kHeaderCabinetIndex]);
    // Entries need a folder to hold their data.
    return header.folderCount != 0 || fileCount == 0 || in.fail(ERROR_INVALID_DATA);
}

// The reserve sizes, when the flags say they follow, and past the header's
// own reserve. Each folder record carries `folderReserve` bytes after it.
bool ReadReserveSizes(Reader& in, CabinetHeader& header, std::size_t& folderReserve) {
    folderReserve = 0;
    if ((header.flags & format::kFlagReservePresent) == 0) {
        return true;
    }
    std::array<unsigned char, format::kReserveSizesSize> sizes{};
    if (!in.read(sizes.data(), sizes.size()) || !in.skip(U16(&sizes[format::kReserveHeaderBytes]))) {
        return false;
    }
    folderReserve = sizes[format::kReserveFolderBytes];
    header.dataReserve = sizes[format::kReserveDataBytes];
    return true;
}

// The names of the cabinets before and after this one, and of their disks,
// when the flags say they follow.
bool ReadNeighbours(Reader& in, CabinetHeader& header) {
    if (header.hasPrev() && (!in.string(header.prevName, false) || !in.string(header.prevDisk, true))) {
        return false;
    }
    return !header.hasNext() || (in.string(header.nextName, false) && in.string(header.nextDisk, true));
}

// The CFFOLDER records, each with `reserve` bytes after it.
bool ReadFolderRecords(Reader& in, std::size_t reserve, CabinetHeader& header) {
    header.folders.resize(header.folderCount);
    for (FolderRecord& folder : header.folders) {
        std::array<unsigned char, format::kFolderSize> record{};
        if (!in.read(record.data(), record.size()) || !in.skip(reserve)) {
            return false;
        }
        folder.dataOffset = U32(&record[format::kFolderDataOffset]);
        folder.blockCount = U16(&record[format::kFolderBlockCount]);
        folder.compression = U16(&record[format::kFolderCompression]);
    }
    return true;
}

// One CFFILE record and the name after it. Its folder index names one of
// the cabinet's `folderCount` folders or is a continuation mark.
bool ReadFileRecord(Reader& in, uint16_t folderCount, FileRecord& file) {
    std::array<unsigned char, format::kFileSize> record{};
    if (!in.read(record.data(), record.size())) {
        return false;
    }
    file.length = U32(&record[format::kFileLength]);
    file.folderOffset = U32(&record[format::kFileFolderOffset]);
    file.folderIndex = U16(&record[format::kFileFolderIndex]);
    file.dosDate = U16(&record[format::kFileDate]);
    file.dosTime = U16(&record[format::kFileTime]);
    file.attribs = U16(&record[format::kFileAttribs]);
    if (file.folderIndex < format::kContinuedFromPrev && file.folderIndex >= folderCount) {
        return in.fail(ERROR_INVALID_DATA);
    }
    return in.string(file.name, false);
}

// The `fileCount` CFFILE records, and which of the folders they show to
// continue from or into the cabinets beside this one.
bool ReadFileRecords(Reader& in, uint16_t fileCount, CabinetHeader& header) {
    if (fileCount == 0) {
        // Nothing to extract is fine; data that belongs to no entry is not.
        const bool noData = std::all_of(header.folders.begin(), header.folders.end(),
                                        [](const FolderRecord& folder) { return folder.blockCount == 0; });
        return noData || in.fail(ERROR_INVALID_DATA);
    }
    header.files.resize(fileCount);
    for (FileRecord& file : header.files) {
        if (!ReadFileRecord(in, header.folderCount, file)) {
            return false;
        }
        header.firstFolderContinued = header.firstFolderContinued || file.continuedFromPrev();
        header.lastFolderContinues = header.lastFolderContinues || file.continuedToNext();
    }
    return true;
}

// The records in the order they stand in the file.
bool ReadHeader(Reader& in, CabinetHeader& header) {
    uint16_t fileCount = 0;
    std::size_t folderReserve = 0;
    return ReadFixedHeader(in, header, fileCount) && ReadReserveSizes(in, header, folderReserve) &&
           ReadNeighbours(in, header) && ReadFolderRecords(in, folderReserve, header) &&
           ReadFileRecords(in, fileCount, header);
}

}  // namespace

bool FileRecord::continuedFromPrev() const {
    return folderIndex == format::kContinuedFromPrev || folderIndex == format::kContinuedPrevAndNext;
}

bool FileRecord::continuedToNext() const {
    return folderIndex == format::kContinuedToNext || folderIndex == format::kContinuedPrevAndNext;
}

bool CabinetHeader::hasPrev() const {
    return (flags & format::kFlagPrevCabinet) != 0;
}

bool CabinetHeader::hasNext() const {
    return (flags & format::kFlagNextCabinet) != 0;
}

std::size_t CabinetHeader::folderOf(const FileRecord& file) const {
    switch (file.folderIndex) {
        case format::kContinuedFromPrev:
        case format::kContinuedPrevAndNext: return 0;
        case format::kContinuedToNext: return folderCount - 1u;
        default: return file.folderIndex;
    }
}

HeaderResult ReadCabinetHeader(const std::string& hostPath) {
    HeaderResult result;
    int error = 0;
    const UniqueFd fd = OpenForReading(hostPath, &error);
    if (!fd.valid()) {
        result.error = error == ENOENT ? Win32ForMissingFile(hostPath) : Win32FromErrno(error, IoOperation::Open);
        return result;
    }
    auto reader = std::make_unique<Reader>(fd.get());
    if (!ReadHeader(*reader, result.header)) {
        result.error = reader->error() != 0 ? reader->error() : ERROR_INVALID_DATA;
    }
    return result;
}

}  // namespace platform::cabservice
