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
#include <limits>
#include <memory>

namespace platform::cabservice {

namespace {

using format::U16;
using format::U32;

// Bytes read at a time: a typical header in one read.
constexpr std::size_t kBufferSize = 64 * 1024;
// Room reserved for a file list whose size the header does not tell: a name
// of this many bytes on average.
constexpr std::size_t kTypicalNameSize = 32;

// Reads through a buffer from a position in the file, never at or past a
// limit (the cabinet's end); a failure is kept as a Win32 code.
class Reader {
public:
    explicit Reader(int fd) : fd_(fd) {}

    uint32_t error() const { return error_; }
    uint64_t position() const { return bufferAt_ + next_; }
    uint64_t limit() const { return limit_; }
    // Nothing at or past `end` is read from now on, not even what is in the
    // buffer already: that is damaged data.
    void limitTo(uint64_t end) {
        limit_ = end;
        if (bufferAt_ + end_ > end) {
            end_ = end > position() ? static_cast<std::size_t>(end - bufferAt_) : next_;
        }
    }

    // The next read starts at `offset`.
    void seek(uint64_t offset) {
        if (offset >= bufferAt_ && offset <= bufferAt_ + end_) {
            next_ = static_cast<std::size_t>(offset - bufferAt_);
        } else {
            bufferAt_ = offset;
            next_ = end_ = 0;
        }
    }

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
    // terminator included, appended to `into` with its terminator. Returns
    // the string's length.
    template <typename Bytes>
    bool string(Bytes& into, bool emptyAllowed, std::size_t& length) {
        length = 0;
        for (;;) {
            if (!fill()) {
                return false;
            }
            const std::size_t room = format::kMaxStringSize - length;
            const std::size_t look = std::min(room, end_ - next_);
            const unsigned char* from = buffer_.data() + next_;
            const auto* zero = static_cast<const unsigned char*>(std::memchr(from, 0, look));
            const std::size_t take = zero != nullptr ? static_cast<std::size_t>(zero - from) + 1 : look;
            into.insert(into.end(), from, from + take);
            next_ += take;
            if (zero != nullptr) {
                length += take - 1;
                return length > 0 || emptyAllowed || fail(ERROR_INVALID_DATA);
            }
            length += take;
            if (length == format::kMaxStringSize) {
                return fail(ERROR_INVALID_DATA);
            }
        }
    }

    bool string(std::string& into, bool emptyAllowed) {
        into.clear();
        std::size_t length = 0;
        if (!string(into, emptyAllowed, length)) {
            return false;
        }
        into.pop_back();  // the terminator
        return true;
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
        const uint64_t at = position();
        if (at >= limit_) {
            return fail(ERROR_INVALID_DATA);  // past the cabinet's end
        }
        const std::size_t room = static_cast<std::size_t>(std::min<uint64_t>(buffer_.size(), limit_ - at));
        const ssize_t got = ReadAtLeast(fd_, buffer_.data(), 1, room, static_cast<off_t>(at));
        if (got < 0) {
            return fail(Win32FromErrno(errno, IoOperation::Read));
        }
        if (got == 0) {
            return fail(ERROR_INVALID_DATA);  // cut short
        }
        bufferAt_ = at;
        next_ = 0;
        end_ = static_cast<std::size_t>(got);
        return true;
    }

    int fd_;
    std::array<unsigned char, kBufferSize> buffer_{};
    uint64_t bufferAt_ = 0;  // file offset of buffer_[0]
    std::size_t next_ = 0;
    std::size_t end_ = 0;
    uint64_t limit_ = std::numeric_limits<uint64_t>::max();
    uint32_t error_ = 0;
};

// What CFHEADER says that the header itself does not keep.
struct Layout {
    uint32_t cabinetSize = 0;  // cbCabinet
    uint32_t filesOffset = 0;  // coffFiles
    uint16_t fileCount = 0;
    uint64_t recordsEnd = 0;  // where the records before the file records end
    uint64_t filesEnd = 0;    // where the file records end
};

// CFHEADER: the signature, the counts, the flags and the place in the set.
// From here on nothing is read beyond cbCabinet.
bool ReadFixedHeader(Reader& in, CabinetHeader& header, Layout& layout) {
    std::array<unsigned char, format::kHeaderSize> fixed{};
    if (!in.read(fixed.data(), fixed.size())) {
        return false;
    }
    if (U32(&fixed[format::kHeaderSignature]) != format::kSignature) {
        return in.fail(ERROR_INVALID_DATA);
    }
    layout.cabinetSize = U32(&fixed[format::kHeaderCabinetSize]);
    layout.filesOffset = U32(&fixed[format::kHeaderFilesOffset]);
    header.folderCount = U16(&fixed[format::kHeaderFolderCount]);
    layout.fileCount = U16(&fixed[format::kHeaderFileCount]);
    header.flags = U16(&fixed[format::kHeaderFlags]);
    header.setId = U16(&fixed[format::kHeaderSetId]);
    header.cabinetIndex = U16(&fixed[format::kHeaderCabinetIndex]);
    in.limitTo(layout.cabinetSize);
    // Entries need a folder to hold their data.
    return header.folderCount != 0 || layout.fileCount == 0 || in.fail(ERROR_INVALID_DATA);
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

// Bytes to reserve for the file list: up to where the data that follows it
// begins, in a cabinet laid out as usual, within what its records can hold.
std::size_t FileListEstimate(const CabinetHeader& header, const Layout& layout) {
    const uint64_t most = uint64_t{layout.fileCount} * (format::kFileSize + format::kMaxStringSize);
    uint64_t next = layout.cabinetSize;
    for (const FolderRecord& folder : header.folders) {
        if (folder.blockCount != 0 && folder.dataOffset > layout.filesOffset) {
            next = std::min<uint64_t>(next, folder.dataOffset);
        }
    }
    const uint64_t gap = next > layout.filesOffset ? next - layout.filesOffset : 0;
    const uint64_t typical = uint64_t{layout.fileCount} * (format::kFileSize + kTypicalNameSize);
    return static_cast<std::size_t>(gap <= most ? gap : typical);
}

// One CFFILE record and the name after it, appended to `files`. Its folder
// index names one of the cabinet's `folderCount` folders or is a
// continuation mark.
bool ReadFileRecord(Reader& in, uint16_t folderCount, FileList& files) {
    std::vector<unsigned char>& bytes = files.bytes();
    const std::size_t at = bytes.size();
    bytes.resize(at + format::kFileSize);
    if (!in.read(bytes.data() + at, format::kFileSize)) {
        return false;
    }
    const uint16_t folderIndex = U16(bytes.data() + at + format::kFileFolderIndex);
    if (folderIndex < format::kContinuedFromPrev && folderIndex >= folderCount) {
        return in.fail(ERROR_INVALID_DATA);
    }
    std::size_t length = 0;
    if (!in.string(bytes, false, length)) {
        return false;
    }
    files.counted();
    return true;
}

// The file records at coffFiles, and which of the folders they show to
// continue from or into the cabinets beside this one.
bool ReadFileRecords(Reader& in, Layout& layout, CabinetHeader& header) {
    if (layout.fileCount == 0) {
        // Nothing to extract is fine; data that belongs to no entry is not.
        const bool noData = std::all_of(header.folders.begin(), header.folders.end(),
                                        [](const FolderRecord& folder) { return folder.blockCount == 0; });
        return noData || in.fail(ERROR_INVALID_DATA);
    }
    // Not inside the records before them, nor outside the cabinet.
    if (layout.filesOffset < layout.recordsEnd || layout.filesOffset >= in.limit()) {
        return in.fail(ERROR_INVALID_DATA);
    }
    in.seek(layout.filesOffset);
    header.files.reserve(FileListEstimate(header, layout));
    for (uint16_t i = 0; i < layout.fileCount; ++i) {
        if (!ReadFileRecord(in, header.folderCount, header.files)) {
            return false;
        }
    }
    layout.filesEnd = in.position();
    for (const FileRecord& file : header.files) {
        if (file.continuedFromPrev()) {
            header.firstFolderContinued = true;
            header.fromPrev.push_back({file.folderOffset, file.length});
        }
        if (file.continuedToNext()) {
            header.lastFolderContinues = true;
            header.toNext.push_back({file.folderOffset, file.length});
        }
    }
    return true;
}

// Where each folder's data must end: before whatever comes next (another
// folder's data, the file records) or at the cabinet's end. Data that
// begins outside the cabinet or inside the header's records cannot be read
// at all (its limit is 0): the entries of that folder fail, the others and
// the listing are unharmed.
void PlaceFolderData(const Reader& in, const Layout& layout, CabinetHeader& header) {
    const bool hasFiles = layout.fileCount != 0;
    // Where things begin after the header's records, in order.
    std::vector<uint64_t> starts;
    starts.reserve(header.folders.size() + 1);
    for (const FolderRecord& folder : header.folders) {
        if (folder.blockCount != 0) {
            starts.push_back(folder.dataOffset);
        }
    }
    if (hasFiles) {
        starts.push_back(layout.filesOffset);
    }
    std::sort(starts.begin(), starts.end());
    for (FolderRecord& folder : header.folders) {
        const uint64_t start = folder.dataOffset;
        folder.dataLimit = 0;
        if (folder.blockCount == 0 || start < layout.recordsEnd || start >= in.limit() ||
            (hasFiles && start >= layout.filesOffset && start < layout.filesEnd)) {
            continue;
        }
        const auto next = std::upper_bound(starts.begin(), starts.end(), start);
        folder.dataLimit = next == starts.end() ? in.limit() : std::min<uint64_t>(*next, in.limit());
    }
}

// The records in the order they stand in the file, then the file records.
bool ReadHeader(Reader& in, CabinetHeader& header) {
    Layout layout;
    std::size_t folderReserve = 0;
    if (!ReadFixedHeader(in, header, layout) || !ReadReserveSizes(in, header, folderReserve) ||
        !ReadNeighbours(in, header) || !ReadFolderRecords(in, folderReserve, header)) {
        return false;
    }
    layout.recordsEnd = in.position();
    if (!ReadFileRecords(in, layout, header)) {
        return false;
    }
    PlaceFolderData(in, layout, header);
    return true;
}

FileRecord DecodeFileRecord(const unsigned char* at) {
    FileRecord file;
    file.length = U32(at + format::kFileLength);
    file.folderOffset = U32(at + format::kFileFolderOffset);
    file.folderIndex = U16(at + format::kFileFolderIndex);
    file.dosDate = U16(at + format::kFileDate);
    file.dosTime = U16(at + format::kFileTime);
    file.attribs = U16(at + format::kFileAttribs);
    const char* name = reinterpret_cast<const char*>(at + format::kFileSize);
    file.name = std::string_view(name, std::strlen(name));
    return file;
}

}  // namespace

FileList::Iterator::Iterator(const unsigned char* at, const unsigned char* end) : at_(at), end_(end) {
    if (at_ != end_) {
        record_ = DecodeFileRecord(at_);
    }
}

FileList::Iterator& FileList::Iterator::operator++() {
    at_ += format::kFileSize + record_.name.size() + 1;
    if (at_ != end_) {
        record_ = DecodeFileRecord(at_);
    }
    return *this;
}

void FileList::release() { std::vector<unsigned char>().swap(bytes_); }

bool FileRecord::continuedFromPrev() const {
    return folderIndex == format::kContinuedFromPrev || folderIndex == format::kContinuedPrevAndNext;
}

bool FileRecord::continuedToNext() const {
    return folderIndex == format::kContinuedToNext || folderIndex == format::kContinuedPrevAndNext;
}

bool CabinetHeader::hasPrev() const { return (flags & format::kFlagPrevCabinet) != 0; }

bool CabinetHeader::hasNext() const { return (flags & format::kFlagNextCabinet) != 0; }

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
