// SPDX-License-Identifier: MIT
// The setup library's cabinet iteration call and its records, under their
// platform names and with their 32-bit Windows layouts.
//
// Self-contained: a program outside this project can include this header and
// link the `platform` library to walk a cabinet.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Notifications sent to the handler during a walk.
constexpr uint32_t SPFILENOTIFY_CABINETINFO = 0x10;     // Param1: CABINET_INFO_A*; answer ignored
constexpr uint32_t SPFILENOTIFY_FILEINCABINET = 0x11;   // Param1: FILE_IN_CABINET_INFO_A*, Param2: cabinet path
constexpr uint32_t SPFILENOTIFY_NEEDNEWCABINET = 0x12;  // Param1: CABINET_INFO_A*, Param2: char[MAX_PATH] new path
constexpr uint32_t SPFILENOTIFY_FILEEXTRACTED = 0x13;   // Param1: FILEPATHS_A*

// Answers to SPFILENOTIFY_FILEINCABINET.
constexpr uint32_t FILEOP_ABORT = 0;
constexpr uint32_t FILEOP_DOIT = 1;
constexpr uint32_t FILEOP_SKIP = 2;

constexpr std::size_t MAX_PATH = 260;

// The 32-bit setup library packs its records to one byte. All members here
// are naturally aligned anyway, so the packing changes no offset; it keeps
// the 32-bit sizes exact (checked below).
#pragma pack(push, 1)

struct FILE_IN_CABINET_INFO_A {
    const char* NameInCabinet;      // entry name, directories separated by '\', ANSI code page
    uint32_t FileSize;              // uncompressed size in bytes
    uint32_t Win32Error;            // not read: FILEOP_ABORT always ends the walk as completed
    uint16_t DosDate;               // MS-DOS date word as stored
    uint16_t DosTime;               // MS-DOS time word as stored
    uint16_t DosAttribs;            // MS-DOS attribute bits as stored
    char FullTargetName[MAX_PATH];  // written by the handler before FILEOP_DOIT
};

struct FILEPATHS_A {
    const char* Target;   // where the entry was written
    const char* Source;   // the cabinet it came from
    uint32_t Win32Error;  // 0 when the entry was written whole
    uint32_t Flags;
};

struct CABINET_INFO_A {
    const char* CabinetPath;  // the cabinet's directory, with its trailing '\'
    const char* CabinetFile;  // the cabinet's file name
    const char* DiskName;     // the disk name stored in the header, or ""
    uint16_t SetId;
    uint16_t CabinetNumber;  // 0-based position in its set
};

#pragma pack(pop)

static_assert(sizeof(void*) != 4 || sizeof(FILE_IN_CABINET_INFO_A) == 278);
static_assert(sizeof(void*) != 4 || sizeof(FILEPATHS_A) == 16);
static_assert(sizeof(void*) != 4 || sizeof(CABINET_INFO_A) == 16);

// The handler: called synchronously, on the caller's thread, before
// SetupIterateCabinetA returns. Context is handed through unchanged.
using PSP_FILE_CALLBACK_A = uint32_t (*)(void* Context, uint32_t Notification, uintptr_t Param1, uintptr_t Param2);

// Walks the cabinet CabinetFile (a drive path in the ANSI code page) and the
// cabinets that continue it, calling MsgHandler:
//  - SPFILENOTIFY_CABINETINFO once for each cabinet opened;
//  - SPFILENOTIFY_FILEINCABINET for each entry that begins in a cabinet, in
//    the cabinet's order. FILEOP_SKIP leaves it alone; FILEOP_DOIT writes it
//    to FullTargetName (whose directories must exist) and then sends
//    SPFILENOTIFY_FILEEXTRACTED; FILEOP_ABORT ends the walk, which then
//    counts as completed;
//  - SPFILENOTIFY_FILEEXTRACTED with Win32Error 0 when the entry was written
//    whole, otherwise the failure's code. A nonzero answer ends the walk and
//    the call fails with that code as last error;
//  - SPFILENOTIFY_NEEDNEWCABINET when the next cabinet of a set is not in the
//    current cabinet's directory. Answer NO_ERROR with the Param2 buffer empty
//    (same directory) or holding a directory to search; any other answer ends the
//    walk with that code.
// Returns nonzero when the walk ran to its end (or was ended by FILEOP_ABORT);
// returns 0 with a nonzero Win32 code as the thread's last error otherwise.
// Reserved must be 0.
int32_t SetupIterateCabinetA(const char* CabinetFile, uint32_t Reserved, PSP_FILE_CALLBACK_A MsgHandler, void* Context);

}  // namespace platform
