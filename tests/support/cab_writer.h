// SPDX-License-Identifier: MIT
// A test-only cabinet writer, for cabinets gcab cannot make: chosen names
// (raw bytes, UTF-8 flag), chosen dates and attributes, sets that span
// several cabinets, folder indices and compression types as given. Data is
// stored, or MSZIP-compressed with zlib where a folder asks for it;
// corrupting it is left to the test, on the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// 2001-07-06 15:20:10, a date with every field distinct.
constexpr uint16_t kCabWriterDefaultDate = (21 << 9) | (7 << 5) | 6;
constexpr uint16_t kCabWriterDefaultTime = (15 << 11) | (20 << 5) | 5;
constexpr uint16_t kCabWriterArchive = 0x20;

struct CabWriterEntry {
    std::string name;  // stored as given
    std::string bytes;
    uint16_t dosDate = kCabWriterDefaultDate;
    uint16_t dosTime = kCabWriterDefaultTime;
    uint16_t attribs = kCabWriterArchive;
    // The folder index to store instead of the one the layout gives.
    std::optional<uint16_t> folderIndex;
};

// An entry with the default date, time and attributes.
inline CabWriterEntry EntryOf(std::string name, std::string bytes) {
    CabWriterEntry entry;
    entry.name = std::move(name);
    entry.bytes = std::move(bytes);
    return entry;
}

struct CabWriterFolder {
    std::vector<CabWriterEntry> entries;  // their bytes follow one another in the folder
    uint16_t compression = 0;             // written as given; the data is stored ...
    // ... unless this is set: then each block is "CK" and a raw deflate
    // stream with the previous block as its history, and the folder says MSZIP.
    bool mszip = false;
    // ... or this: then the folder is an LZX:21 stream of one uncompressed
    // LZX block (the method's stored form: a 16-byte header, the bytes
    // themselves, a pad byte to an even length), each data block holding
    // its 32 KB frame, and the folder says LZX.
    bool lzx = false;
    // The uncompressed sizes of its blocks in order, the last one repeated
    // (empty: the options' block size). An MSZIP block then refers back into
    // the block before it whatever that block's size.
    std::vector<std::size_t> blockSizes{};
};

struct CabWriterOptions {
    uint16_t setId = 0x4711;
    std::size_t blockSize = 32768;  // uncompressed bytes per data block (at most 32768)
    bool checksums = true;          // false writes 0, "no checksum"
    // For a set: where each cabinet after the first begins, as a position
    // in the data of all folders laid end to end. Inside a folder, the data
    // block holding that position is split between the two cabinets as
    // makecab splits it (the first half's uncompressed size is 0); on a
    // block boundary inside a folder, the folder goes on in the next cabinet
    // with its next whole block; at the end of a folder, the next cabinet
    // simply begins with the next folder.
    std::vector<std::size_t> cabinetStartsAt;
    // The names and disk names each cabinet is known by in the headers of
    // its neighbours; defaults "part1.cab", "Disk 1", ...
    std::vector<std::string> cabinetNames;
    std::vector<std::string> diskNames;
    // Zero bytes between the folder records and the file records, which
    // coffFiles then points past.
    std::size_t paddingBeforeFiles = 0;
    // For one cabinet: its file records in this order, by their place in
    // the order of the data (empty: that order).
    std::vector<std::size_t> recordOrder;
};

// The bytes of each cabinet of the set (one, without cabinetStartsAt).
std::vector<std::string> BuildCabinetSet(const std::vector<CabWriterFolder>& folders,
                                         const CabWriterOptions& options = {});

// One cabinet.
std::string BuildCabinet(const std::vector<CabWriterFolder>& folders, const CabWriterOptions& options = {});

// Where things lie in a cabinet of this writer, so a test can damage them:
// the first data byte of folder 0 (after its first CFDATA header), and the
// compression type field of folder 0.
std::size_t FirstDataOffset(const std::string& cabinet);
std::size_t FirstFolderCompressionOffset(const std::string& cabinet);
// The CFDATA record `n` (from 0) of folder 0, counted in this cabinet.
std::size_t DataRecordOffset(const std::string& cabinet, std::size_t n);
// Field offsets a test damages: in the header, cbCabinet, the version and
// coffFiles; in a CFFOLDER record, cCFData; in a CFFILE record, iFolder; in a
// CFDATA record, cbUncomp.
constexpr std::size_t kCabinetSizeAt = 8;
constexpr std::size_t kVersionAt = 24;         // minor, then major
constexpr std::size_t kFileFolderIndexAt = 8;  // in a CFFILE record
constexpr std::size_t kFilesOffsetAt = 16;
constexpr std::size_t kFolderBlockCountAt = 4;
constexpr std::size_t kDataUnpackedSizeAt = 6;
// The first CFFOLDER record.
std::size_t FirstFolderRecord(const std::string& cabinet);
// Overwrites the little-endian field of `width` bytes at `at`.
inline void SetField(std::string& cabinet, std::size_t at, uint32_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        cabinet.at(at + i) = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

// One folder in blocks of 1000 bytes: good.txt (block 0), then victim.txt
// (to block 3), then after.txt, stored or MSZIP; and where the byte at
// `position` of its data lies in the cabinet (stored).
std::string ThreeEntries(bool checksums = true, bool mszip = false);
std::size_t ThreeEntriesDataByte(const std::string& cabinet, std::size_t position);

// Two folders whose data begins at one place: a stored good.txt holding
// `goodBytes`, its data offset moved onto the MSZIP data of victim.txt.
std::string FoldersSharingData(const std::string& goodBytes);

// The folder type the writer gives an LZX folder: LZX with a 2^21-byte window.
constexpr uint16_t kCabWriterLzx21 = 3 | 21 << 8;

// An LZX cabinet of one 16-byte entry whose stream header gives the E8
// translation a file size of 0x80000000: libmspack 0.11 builds that size as
// (high << 16) | low in an int, a left shift that overflows (undefined
// behaviour), and then fails on the invalid block type that follows.
std::string LzxE8SizeOverflowCabinet();

}  // namespace testsupport
