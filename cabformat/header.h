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

    bool continuedFromPrev() const;  // begins in an earlier cabinet
    bool continuedToNext() const;    // ends in a later cabinet
};

// A cabinet's file records, held as the cabinet stores them (the fixed part
// of each record, then its name and the name's zero byte): a list costs its
// bytes in the file and no allocation per entry. Read front to back.
class FileList {
public:
    class Iterator {
    public:
        const FileRecord& operator*() const { return record_; }
        const FileRecord* operator->() const { return &record_; }
        Iterator& operator++();
        bool operator==(const Iterator& other) const { return at_ == other.at_; }

    private:
        friend class FileList;
        Iterator(const unsigned char* at, const unsigned char* end);

        const unsigned char* at_;
        const unsigned char* end_;
        FileRecord record_;
    };

    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    Iterator begin() const { return {bytes_.data(), bytes_.data() + bytes_.size()}; }
    Iterator end() const { return {bytes_.data() + bytes_.size(), bytes_.data() + bytes_.size()}; }
    // Gives the memory back; size() stays what it was.
    void release();
    // Where `file`, a record read from this list, stands in it: grows from
    // record to record.
    std::size_t positionOf(const FileRecord& file) const;

    // For the header reader: room for `bytes` more, and one record more,
    // whose bytes (checked: a name of 1 to 255 bytes and its zero byte) it
    // has appended to bytes().
    void reserve(std::size_t bytes) { bytes_.reserve(bytes_.size() + bytes); }
    std::vector<unsigned char>& bytes() { return bytes_; }
    void counted() { ++count_; }

private:
    std::vector<unsigned char> bytes_;
    std::size_t count_ = 0;
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
