// SPDX-License-Identifier: MIT
// Reading a cabinet's raw header with plain reads (see header.h).
#include "cabformat/header.h"

#include "cabformat/layout.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

namespace cabformat {

namespace {

using layout::U16;
using layout::U32;

// Bytes read at a time: a typical header in one read.
constexpr std::size_t kBufferSize = 64 * 1024;

// Reads through a buffer from a position in the file, never at or past a
// limit (the cabinet's end); the first failure is kept.
class Reader {
public:
    explicit Reader(ByteSource& source) : source_(source) {}

    ByteSource& source() const { return source_; }
    const Error& error() const { return error_; }
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

    // A zero-terminated string of at most layout::kMaxStringSize bytes, the
    // terminator included, appended to `into` with its terminator. Returns
    // the string's length.
    template <typename Bytes>
    bool string(Bytes& into, bool emptyAllowed, std::size_t& length) {
        length = 0;
        for (;;) {
            if (!fill()) {
                return false;
            }
            const std::size_t room = layout::kMaxStringSize - length;
            const std::size_t look = std::min(room, end_ - next_);
            const unsigned char* from = buffer_.data() + next_;
            const auto* zero = static_cast<const unsigned char*>(std::memchr(from, 0, look));
            const std::size_t take = zero != nullptr ? static_cast<std::size_t>(zero - from) + 1 : look;
            into.insert(into.end(), from, from + take);
            next_ += take;
            if (zero != nullptr) {
                length += take - 1;
                return length > 0 || emptyAllowed || fail(Errc::Damaged);
            }
            length += take;
            if (length == layout::kMaxStringSize) {
                return fail(Errc::Damaged);
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

    bool fail(Errc code, int hostError = 0) {
        if (error_.ok()) {
            error_ = {code, hostError};
        }
        return false;
    }

private:
    bool fill() {
        if (!error_.ok()) {
            return false;
        }
        if (next_ < end_) {
            return true;
        }
        const uint64_t at = position();
        if (at >= limit_) {
            return fail(Errc::Damaged);  // past the cabinet's end
        }
        const std::size_t room = static_cast<std::size_t>(std::min<uint64_t>(buffer_.size(), limit_ - at));
        std::size_t got = 0;
        if (const int error = ReadAtLeast(source_, at, buffer_.data(), 1, room, got); error != 0) {
            return fail(Errc::ReadFailed, error);
        }
        if (got == 0) {
            return fail(Errc::Truncated);
        }
        bufferAt_ = at;
        next_ = 0;
        end_ = got;
        return true;
    }

    ByteSource& source_;
    std::array<unsigned char, kBufferSize> buffer_{};
    uint64_t bufferAt_ = 0;  // file offset of buffer_[0]
    std::size_t next_ = 0;
    std::size_t end_ = 0;
    uint64_t limit_ = std::numeric_limits<uint64_t>::max();
    Error error_;
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
    std::array<unsigned char, layout::kHeaderSize> fixed{};
    if (!in.read(fixed.data(), fixed.size())) {
        return false;
    }
    if (U32(&fixed[layout::kHeaderSignature]) != layout::kSignature) {
        return in.fail(Errc::Damaged);
    }
    // A version we do not know, or a cabinet smaller than its own header,
    // is damage whether or not anything follows the header.
    if (fixed[layout::kHeaderVersionMajor] != layout::kVersionMajor ||
        fixed[layout::kHeaderVersionMinor] > layout::kVersionMinorLatest) {
        return in.fail(Errc::Damaged);
    }
    layout.cabinetSize = U32(&fixed[layout::kHeaderCabinetSize]);
    if (layout.cabinetSize < layout::kHeaderSize) {
        return in.fail(Errc::Damaged);
    }
    layout.filesOffset = U32(&fixed[layout::kHeaderFilesOffset]);
    header.folderCount = U16(&fixed[layout::kHeaderFolderCount]);
    layout.fileCount = U16(&fixed[layout::kHeaderFileCount]);
    header.flags = U16(&fixed[layout::kHeaderFlags]);
    header.setId = U16(&fixed[layout::kHeaderSetId]);
    header.cabinetIndex = U16(&fixed[layout::kHeaderCabinetIndex]);
    in.limitTo(layout.cabinetSize);
    // Entries need a folder to hold their data.
    return header.folderCount != 0 || layout.fileCount == 0 || in.fail(Errc::Damaged);
}

// The reserve sizes, when the flags say they follow, and past the header's
// own reserve. Each folder record carries `folderReserve` bytes after it.
bool ReadReserveSizes(Reader& in, CabinetHeader& header, std::size_t& folderReserve) {
    folderReserve = 0;
    if ((header.flags & layout::kFlagReservePresent) == 0) {
        return true;
    }
    std::array<unsigned char, layout::kReserveSizesSize> sizes{};
    if (!in.read(sizes.data(), sizes.size()) || !in.skip(U16(&sizes[layout::kReserveHeaderBytes]))) {
        return false;
    }
    folderReserve = sizes[layout::kReserveFolderBytes];
    header.dataReserve = sizes[layout::kReserveDataBytes];
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
        std::array<unsigned char, layout::kFolderSize> record{};
        if (!in.read(record.data(), record.size()) || !in.skip(reserve)) {
            return false;
        }
        folder.dataOffset = U32(&record[layout::kFolderDataOffset]);
        folder.blockCount = U16(&record[layout::kFolderBlockCount]);
        folder.compression = U16(&record[layout::kFolderCompression]);
    }
    return true;
}

// The fixed part of a record at `at` and the name after it, whose zero
// byte is known to follow within the record.
FileRecord DecodeFileRecord(const unsigned char* at) {
    FileRecord file;
    file.length = U32(at + layout::kFileLength);
    file.folderOffset = U32(at + layout::kFileFolderOffset);
    file.folderIndex = U16(at + layout::kFileFolderIndex);
    file.dosDate = U16(at + layout::kFileDate);
    file.dosTime = U16(at + layout::kFileTime);
    file.attribs = U16(at + layout::kFileAttribs);
    const char* name = reinterpret_cast<const char*>(at + layout::kFileSize);
    file.name = std::string_view(name, std::strlen(name));
    return file;
}

// One CFFILE record and the name after it, read into `record`. Its folder
// index names one of the cabinet's `folderCount` folders or is a
// continuation mark.
bool ReadFileRecord(Reader& in, uint16_t folderCount, std::vector<unsigned char>& record) {
    record.resize(layout::kFileSize);
    if (!in.read(record.data(), layout::kFileSize)) {
        return false;
    }
    const uint16_t folderIndex = U16(record.data() + layout::kFileFolderIndex);
    if (folderIndex < layout::kContinuedFromPrev && folderIndex >= folderCount) {
        return in.fail(Errc::Damaged);
    }
    std::size_t length = 0;
    return in.string(record, false, length);
}

// The file records at coffFiles, and which of the folders they show to
// continue from or into the cabinets beside this one.
bool ReadFileRecords(Reader& in, Layout& layout, CabinetHeader& header) {
    if (layout.fileCount == 0) {
        // Nothing to extract is fine; data that belongs to no entry is not.
        const bool noData = std::all_of(header.folders.begin(), header.folders.end(),
                                        [](const FolderRecord& folder) { return folder.blockCount == 0; });
        return noData || in.fail(Errc::Damaged);
    }
    // Not inside the records before them, nor outside the cabinet.
    if (layout.filesOffset < layout.recordsEnd || layout.filesOffset >= in.limit()) {
        return in.fail(Errc::Damaged);
    }
    in.seek(layout.filesOffset);
    header.files.start(in.source(), layout.filesOffset, header.folderCount);
    std::vector<unsigned char> record;
    record.reserve(layout::kFileSize + layout::kMaxStringSize);
    for (uint16_t i = 0; i < layout.fileCount; ++i) {
        if (!ReadFileRecord(in, header.folderCount, record)) {
            return false;
        }
        header.files.add(record.data(), record.size());
        const FileRecord file = DecodeFileRecord(record.data());
        if (file.continuedFromPrev()) {
            header.firstFolderContinued = true;
            header.fromPrev.push_back({file.folderOffset, file.length});
        }
        if (file.continuedToNext()) {
            header.lastFolderContinues = true;
            header.toNext.push_back({file.folderOffset, file.length});
        }
    }
    layout.filesEnd = in.position();
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
        // Two folders whose data begins at one place would read the same
        // blocks: neither can be told from the other, both are damaged.
        const auto [first, last] = std::equal_range(starts.begin(), starts.end(), start);
        const bool shared = last - first > 1;
        if (folder.blockCount == 0 || shared || start < layout.recordsEnd || start >= in.limit() ||
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

// What a window of the file list sums to (FNV-1a, 64 bits): a record
// changed since the header was read shows in its window's sum.
constexpr uint64_t kSumStart = 0xcbf29ce484222325u;

uint64_t Sum(uint64_t sum, const unsigned char* bytes, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        sum = (sum ^ bytes[i]) * 0x100000001b3u;
    }
    return sum;
}

}  // namespace

void FileList::start(ByteSource& source, uint64_t offset, uint16_t folderCount) {
    *this = FileList();
    source_ = &source;
    offset_ = offset;
    folderCount_ = folderCount;
}

void FileList::add(const unsigned char* record, std::size_t size) {
    while (size > 0) {
        const std::size_t inWindow = static_cast<std::size_t>(bytes_ % kWindowSize);
        if (inWindow == 0) {
            sums_.push_back(kSumStart);
        }
        const std::size_t take = std::min(size, kWindowSize - inWindow);
        sums_.back() = Sum(sums_.back(), record, take);
        record += take;
        size -= take;
        bytes_ += take;
    }
    ++count_;
}

void FileList::readWindow(uint64_t index, std::vector<unsigned char>& into) const {
    const uint64_t begin = index * kWindowSize;
    const std::size_t size = static_cast<std::size_t>(std::min<uint64_t>(kWindowSize, bytes_ - begin));
    const std::size_t at = into.size();
    into.resize(at + size);
    std::size_t got = 0;
    if (const int error = ReadAtLeast(*source_, offset_ + begin, into.data() + at, size, size, got); error != 0) {
        throw Failure{{Errc::ReadFailed, error}};
    }
    if (got < size) {
        throw Failure{{Errc::Truncated}};  // the cabinet is shorter than when its header was read
    }
    if (Sum(kSumStart, into.data() + at, size) != sums_[static_cast<std::size_t>(index)]) {
        throw Failure{{Errc::Damaged}};  // its records are not those its header was read with
    }
}

FileList::Iterator::Iterator(const FileList& list, uint64_t at) : list_(&list), at_(at) {
    if (at_ < list_->bytes_) {
        decode();
    }
}

FileList::Iterator& FileList::Iterator::operator++() {
    at_ += layout::kFileSize + record_.name.size() + 1;
    if (at_ < list_->bytes_) {
        decode();
    }
    return *this;
}

void FileList::Iterator::decode() {
    const uint64_t longest = layout::kFileSize + layout::kMaxStringSize;
    const uint64_t windowEnd = windowAt_ + window_.size();
    if (at_ + std::min(longest, list_->bytes_ - at_) > windowEnd) {
        // What is left of this window, then the next one: a window is
        // longer than any record.
        window_.erase(window_.begin(), window_.begin() + static_cast<std::ptrdiff_t>(at_ - windowAt_));
        windowAt_ = at_;
        list_->readWindow(windowEnd / kWindowSize, window_);
    }
    // Checked as the header reader checked it, whatever the sums say.
    const unsigned char* record = window_.data() + (at_ - windowAt_);
    const std::size_t left = static_cast<std::size_t>(windowAt_ + window_.size() - at_);
    if (left <= layout::kFileSize) {
        throw Failure{{Errc::Damaged}};
    }
    const unsigned char* name = record + layout::kFileSize;
    const void* zero = std::memchr(name, 0, std::min(left - layout::kFileSize, layout::kMaxStringSize));
    const uint16_t folderIndex = U16(record + layout::kFileFolderIndex);
    if (zero == nullptr || zero == name ||
        (folderIndex < layout::kContinuedFromPrev && folderIndex >= list_->folderCount_)) {
        throw Failure{{Errc::Damaged}};
    }
    record_ = DecodeFileRecord(record);
    record_.position = static_cast<uint32_t>(at_);
}

bool FileRecord::continuedFromPrev() const {
    return folderIndex == layout::kContinuedFromPrev || folderIndex == layout::kContinuedPrevAndNext;
}

bool FileRecord::continuedToNext() const {
    return folderIndex == layout::kContinuedToNext || folderIndex == layout::kContinuedPrevAndNext;
}

bool CabinetHeader::hasPrev() const { return (flags & layout::kFlagPrevCabinet) != 0; }

bool CabinetHeader::hasNext() const { return (flags & layout::kFlagNextCabinet) != 0; }

std::size_t CabinetHeader::folderOf(const FileRecord& file) const {
    switch (file.folderIndex) {
        case layout::kContinuedFromPrev:
        case layout::kContinuedPrevAndNext: return 0;
        case layout::kContinuedToNext: return folderCount - 1u;
        default: return file.folderIndex;
    }
}

HeaderResult ReadCabinetHeader(ByteSource& source) {
    HeaderResult result;
    auto reader = std::make_unique<Reader>(source);
    if (!ReadHeader(*reader, result.header)) {
        result.error = !reader->error().ok() ? reader->error() : Error{Errc::Damaged};
    }
    return result;
}

}  // namespace cabformat
