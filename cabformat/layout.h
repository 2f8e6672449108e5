// SPDX-License-Identifier: MIT
// The cabinet file format's on-disk layout ([MS-CAB] 2.1-2.4): record sizes,
// field offsets, flags and the special folder indices, and the two readers
// of its little-endian fields.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace cabformat::layout {

// CFHEADER, at offset 0 of the file (the engine never searches further in).
constexpr uint32_t kSignature = 0x4643534D;  // "MSCF", little-endian
constexpr std::size_t kHeaderSize = 36;
constexpr std::size_t kHeaderSignature = 0;      // u32
constexpr std::size_t kHeaderReserved1 = 4;      // u32: 0
constexpr std::size_t kHeaderCabinetSize = 8;    // u32: cbCabinet, the cabinet's size in bytes
constexpr std::size_t kHeaderReserved2 = 12;     // u32: 0
constexpr std::size_t kHeaderFilesOffset = 16;   // u32: coffFiles, the first CFFILE record
constexpr std::size_t kHeaderReserved3 = 20;     // u32: 0
constexpr std::size_t kHeaderVersionMinor = 24;  // u8
constexpr std::size_t kHeaderVersionMajor = 25;  // u8
constexpr std::size_t kHeaderFolderCount = 26;   // u16
constexpr std::size_t kHeaderFileCount = 28;     // u16
constexpr std::size_t kHeaderFlags = 30;         // u16
constexpr std::size_t kHeaderSetId = 32;         // u16
constexpr std::size_t kHeaderCabinetIndex = 34;  // u16

// The format's versions: 1.3 is the one in use; 1.0 to 1.2 were the same
// layout. A later minor or another major version may lay records out in a
// way this reader does not know.
constexpr uint8_t kVersionMajor = 1;
constexpr uint8_t kVersionMinorLatest = 3;

// Header flags.
constexpr uint16_t kFlagPrevCabinet = 0x0001;     // previous cabinet's name and disk follow
constexpr uint16_t kFlagNextCabinet = 0x0002;     // next cabinet's name and disk follow
constexpr uint16_t kFlagReservePresent = 0x0004;  // the reserve sizes below follow

// Reserve sizes, right after CFHEADER when kFlagReservePresent is set.
constexpr std::size_t kReserveSizesSize = 4;
constexpr std::size_t kReserveHeaderBytes = 0;  // u16: bytes to skip after this record
constexpr std::size_t kReserveFolderBytes = 2;  // u8: extra bytes after each CFFOLDER
constexpr std::size_t kReserveDataBytes = 3;    // u8: extra bytes after each CFDATA header

// Zero-terminated strings (cabinet, disk and file names): at most this many
// bytes, terminator included.
constexpr std::size_t kMaxStringSize = 256;

// CFFOLDER.
constexpr std::size_t kFolderSize = 8;
constexpr std::size_t kFolderDataOffset = 0;   // u32: first CFDATA record, from the file's start
constexpr std::size_t kFolderBlockCount = 4;   // u16: CFDATA records in this cabinet
constexpr std::size_t kFolderCompression = 6;  // u16: method in the low 4 bits

// Compression methods (the low 4 bits of the folder's field).
constexpr uint16_t kCompressionMask = 0x000F;
constexpr uint16_t kCompressionStored = 0;
constexpr uint16_t kCompressionMszip = 1;
constexpr uint16_t kCompressionQuantum = 2;
constexpr uint16_t kCompressionLzx = 3;  // the last method there is

// CFDATA: a header, the reserve, then the block's packed bytes.
constexpr std::size_t kDataHeaderSize = 8;
constexpr std::size_t kDataChecksum = 0;      // u32: 0 when none is stored
constexpr std::size_t kDataPackedSize = 4;    // u16
constexpr std::size_t kDataUnpackedSize = 6;  // u16: 0 when the block goes on in the next cabinet
// Largest unpacked block, and largest packed block (with room for data that
// did not compress), as libmspack limits them.
constexpr std::size_t kMaxBlockSize = 32768;
constexpr std::size_t kMaxPackedBlockSize = kMaxBlockSize + 6144;
// Largest unpacked folder: 65,535 full blocks.
constexpr uint64_t kMaxFolderSize = uint64_t{kMaxBlockSize} * 65535;

// CFFILE; the first record at the header's coffFiles, the others after it.
constexpr std::size_t kFileSize = 16;
constexpr std::size_t kFileLength = 0;        // u32: uncompressed size
constexpr std::size_t kFileFolderOffset = 4;  // u32: offset in its folder's uncompressed data
constexpr std::size_t kFileFolderIndex = 8;   // u16
constexpr std::size_t kFileDate = 10;         // u16: MS-DOS date
constexpr std::size_t kFileTime = 12;         // u16: MS-DOS time
constexpr std::size_t kFileAttribs = 14;      // u16

// Folder indices that do not index: the entry's data lies in a folder that
// spans cabinets.
constexpr uint16_t kContinuedFromPrev = 0xFFFD;     // the first folder, begun in the previous cabinet
constexpr uint16_t kContinuedToNext = 0xFFFE;       // the last folder, ending in the next cabinet
constexpr uint16_t kContinuedPrevAndNext = 0xFFFF;  // the only folder, spanning both

// Attribute bit: the name is UTF-8 rather than the ANSI code page.
constexpr uint16_t kAttribUtf8Name = 0x80;

// The little-endian field that begins at `at`.
inline uint16_t U16(const unsigned char* at) { return static_cast<uint16_t>(at[0] | at[1] << 8); }

inline uint32_t U32(const unsigned char* at) {
    uint32_t value = 0;
    std::memcpy(&value, at, sizeof value);
    if constexpr (std::endian::native == std::endian::big) {
        value = __builtin_bswap32(value);
    }
    return value;
}

}  // namespace cabformat::layout
