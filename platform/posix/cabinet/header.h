// The raw header of one cabinet: the set it belongs to and each file record
// as stored, with the folder index libmspack does not keep (0xFFFD..0xFFFF
// tell which entries continue from or into the cabinets beside this one).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform::cabservice {

struct FileRecord {
    std::string name;           // raw bytes, as stored
    uint32_t length = 0;        // uncompressed size
    uint32_t folderOffset = 0;  // offset in the folder's uncompressed data
    uint16_t folderIndex = 0;   // raw: an index, or one of format::kContinued*
    uint16_t dosDate = 0;
    uint16_t dosTime = 0;
    uint16_t attribs = 0;

    bool continuedFromPrev() const;  // begins in an earlier cabinet
    bool continuedToNext() const;    // ends in a later cabinet
};

// A CFFOLDER record: where the folder's data blocks begin in this cabinet.
struct FolderRecord {
    uint32_t dataOffset = 0;  // of its first CFDATA record in the file
    uint16_t blockCount = 0;  // CFDATA records in this cabinet
    uint16_t compression = 0;
};

struct CabinetHeader {
    uint16_t flags = 0;
    uint16_t setId = 0;
    uint16_t cabinetIndex = 0;  // 0-based position in the set
    uint16_t folderCount = 0;
    uint8_t dataReserve = 0;  // extra bytes after each CFDATA header
    std::string prevName, prevDisk, nextName, nextDisk;
    std::vector<FolderRecord> folders;
    std::vector<FileRecord> files;
    // Worked out once from the file records (see below).
    bool firstFolderContinued = false;
    bool lastFolderContinues = false;

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
    uint32_t error = 0;  // Win32 code; 0 when the header was read whole
};

// Reads the header at offset 0 of `hostPath` the way libmspack's open reads
// it: the file records are taken right after the folder records (coffFiles
// is not followed), names are 1 to 255 bytes, each index names a folder of
// this cabinet or one of the continuation marks. A cabinet without file
// records is an empty cabinet when no folder holds data either. Anything
// else is ERROR_INVALID_DATA; a file that cannot be read gives its host error.
HeaderResult ReadCabinetHeader(const std::string& hostPath);

}  // namespace platform::cabservice
