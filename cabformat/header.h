// SPDX-License-Identifier: MIT
// The raw header of one cabinet: the set it belongs to, its folders and each
// file record as stored, with the folder index libmspack does not keep
// (0xFFFD..0xFFFF tell which entries continue from or into the cabinets
// beside this one).
#pragma once

#include "cabformat/byte_source.h"
#include "cabformat/error.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cabformat {

// One CFFILE record, read out of a FileList.
struct FileRecord {
    std::string_view name;      // raw bytes, as stored; a zero byte follows them
    uint32_t length = 0;        // uncompressed size
    uint32_t folderOffset = 0;  // offset in the folder's uncompressed data
    uint16_t folderIndex = 0;   // raw: an index, or one of layout::kContinued*
    uint16_t dosDate = 0;
    uint16_t dosTime = 0;
    uint16_t attribs = 0;
    uint32_t position = 0;  // where the record stands in its list, in bytes from the first

    bool continuedFromPrev() const;  // begins in an earlier cabinet
    bool continuedToNext() const;    // ends in a later cabinet
};

// A cabinet's file records. The list keeps none of them: each pass reads
// them again from the cabinet, a window at a time, so that a walk of 65,535
// entries costs the memory of one of a hundred. Every window is checked
// against what the header reader checked, so a pass hands out exactly the
// records the header was read with. Read front to back.
class FileList {
public:
    // Bytes of the list read at a time, and kept per pass.
    static constexpr std::size_t kWindowSize = 16 * 1024;

    class Iterator {
    public:
        // The record's name lives in the iterator's window: not copied.
        Iterator(Iterator&&) noexcept = default;
        Iterator& operator=(Iterator&&) noexcept = default;
        Iterator(const Iterator&) = delete;
        Iterator& operator=(const Iterator&) = delete;

        const FileRecord& operator*() const { return record_; }
        const FileRecord* operator->() const { return &record_; }
        // Throws Failure: ReadFailed with the source's error, or Damaged
        // when the cabinet no longer holds the records its header was read
        // with.
        Iterator& operator++();
        bool operator==(const Iterator& other) const { return at_ == other.at_; }

    private:
        friend class FileList;
        Iterator(const FileList& list, uint64_t at);
        // Reads the record at at_, moving the window on when it ends first.
        void decode();

        const FileList* list_;
        uint64_t at_;  // where the current record stands in the list
        std::vector<unsigned char> window_;
        uint64_t windowAt_ = 0;  // where window_[0] stands in the list
        FileRecord record_;
    };

    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    // Throws Failure as Iterator::operator++ does.
    Iterator begin() const { return {*this, released_ ? bytes_ : 0}; }
    Iterator end() const { return {*this, bytes_}; }
    // Nothing is read any more: a pass hands out no record. size() stays.
    void release() { released_ = true; }
    std::size_t positionOf(const FileRecord& file) const { return file.position; }

    // For the header reader: the list begins at `offset` of `source`, which
    // outlives it, and names folders below `folderCount`; then each record
    // in turn, once checked (a name of 1 to 255 bytes and its zero byte).
    void start(ByteSource& source, uint64_t offset, uint16_t folderCount);
    void add(const unsigned char* record, std::size_t size);

private:
    // Reads window `index` into the end of `into`, and checks it.
    void readWindow(uint64_t index, std::vector<unsigned char>& into) const;

    ByteSource* source_ = nullptr;
    uint64_t offset_ = 0;  // of the first record in the cabinet
    uint64_t bytes_ = 0;   // of every record
    std::size_t count_ = 0;
    uint16_t folderCount_ = 0;
    bool released_ = false;
    // The sum of each window's bytes as the header reader checked them.
    std::vector<uint64_t> sums_;
};

// A CFFOLDER record: where the folder's data blocks begin in this cabinet.
struct FolderRecord {
    uint32_t dataOffset = 0;  // of its first CFDATA record in the file
    uint16_t blockCount = 0;  // CFDATA records in this cabinet
    uint16_t compression = 0;
    // Where its blocks must end: at cbCabinet, or where the next thing in
    // the cabinet begins (another folder's data, the file records). 0 when
    // its data begins where no data can be: outside the cabinet, inside the
    // header's records, or where another folder's data begins too.
    uint64_t dataLimit = 0;

    bool dataReadable() const { return blockCount == 0 || dataLimit > dataOffset; }
};

// Where an entry crosses a boundary between two cabinets: its place in the
// shared folder, which the records on both sides of the boundary must agree on.
struct Crossing {
    uint32_t folderOffset = 0;
    uint32_t length = 0;

    bool operator==(const Crossing&) const = default;
};

struct CabinetHeader {
    uint16_t flags = 0;
    uint16_t setId = 0;
    uint16_t cabinetIndex = 0;  // 0-based position in the set
    uint16_t folderCount = 0;
    uint8_t dataReserve = 0;  // extra bytes after each CFDATA header
    std::string prevName, prevDisk, nextName, nextDisk;
    std::vector<FolderRecord> folders;
    FileList files;
    // Worked out once from the file records (see below).
    bool firstFolderContinued = false;
    bool lastFolderContinues = false;
    std::vector<Crossing> fromPrev;  // the entries continued from the previous cabinet
    std::vector<Crossing> toNext;    // and into the next

    bool hasPrev() const;
    bool hasNext() const;
    // Some entry begins in the previous cabinet: the first folder continues.
    bool continuesFromPrev() const { return firstFolderContinued; }
    // Some entry ends in the next cabinet: the last folder continues.
    bool continuesToNext() const { return lastFolderContinues; }
    // The folder (0-based) whose data holds `file`.
    std::size_t folderOf(const FileRecord& file) const;
};

struct HeaderResult {
    CabinetHeader header;
    Error error;  // ok when the header was read whole
};

// Reads the header at offset 0 of `source`, of format version 1.0 to 1.3
// (see layout.h): the records after CFHEADER in
// the order they stand, the file records where coffFiles says they begin (a
// reserve or padding before them is fine, the records before them are not).
// Nothing is read from beyond cbCabinet. Names are 1 to 255 bytes; each
// index names a folder of this cabinet or is a continuation mark.
// A cabinet without file records is an empty cabinet when no folder holds
// data either. Anything else is Damaged or Truncated; a failed read is
// ReadFailed with the source's error.
HeaderResult ReadCabinetHeader(ByteSource& source);

}  // namespace cabformat
