// SPDX-License-Identifier: MIT
// Kernel services the cabinet code needs, under their platform names: the
// thread's last error, MS-DOS and file times, 8-bit strings and the ANSI code
// page, and creating one directory.
//
// Self-contained: a program outside this project can include this header and
// link the `platform` library.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Win32 error codes this layer reports.
constexpr uint32_t NO_ERROR = 0;
constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr uint32_t ERROR_PATH_NOT_FOUND = 3;
constexpr uint32_t ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr uint32_t ERROR_ACCESS_DENIED = 5;
constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr uint32_t ERROR_INVALID_DATA = 13;
constexpr uint32_t ERROR_OUTOFMEMORY = 14;
constexpr uint32_t ERROR_INVALID_DRIVE = 15;
constexpr uint32_t ERROR_WRITE_PROTECT = 19;
constexpr uint32_t ERROR_CRC = 23;
constexpr uint32_t ERROR_WRITE_FAULT = 29;
constexpr uint32_t ERROR_READ_FAULT = 30;
constexpr uint32_t ERROR_GEN_FAILURE = 31;
constexpr uint32_t ERROR_SHARING_VIOLATION = 32;
constexpr uint32_t ERROR_HANDLE_DISK_FULL = 39;
constexpr uint32_t ERROR_CANNOT_MAKE = 82;
constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
constexpr uint32_t ERROR_BUFFER_OVERFLOW = 111;
constexpr uint32_t ERROR_DISK_FULL = 112;
constexpr uint32_t ERROR_INVALID_NAME = 123;
constexpr uint32_t ERROR_ALREADY_EXISTS = 183;

// The calling thread's last error code. Every failing call of this layer sets
// it; successful calls may leave it as it was.
uint32_t GetLastError();
void SetLastError(uint32_t ErrorCode);

// 100-nanosecond intervals since 1601-01-01 00:00, split in two halves.
struct FILETIME {
    uint32_t dwLowDateTime;
    uint32_t dwHighDateTime;
};

struct SYSTEMTIME {
    uint16_t wYear;
    uint16_t wMonth;      // 1-12
    uint16_t wDayOfWeek;  // 0 = Sunday
    uint16_t wDay;        // 1-31
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};

// MS-DOS date and time words to a file time, with no time-zone shift.
// Date: bits 15-9 year - 1980, 8-5 month, 4-0 day; time: bits 15-11 hour,
// 10-5 minute, 4-0 seconds / 2. Returns 0 and leaves *FileTime untouched when
// the words do not name a real moment (month 0, 31 February, hour 24, ...).
int32_t DosDateTimeToFileTime(uint16_t FatDate, uint16_t FatTime, FILETIME* FileTime);

// Calendar fields to a file time; day of week is ignored. Returns 0 and
// leaves *FileTime untouched for fields that name no real moment.
int32_t SystemTimeToFileTime(const SYSTEMTIME* SystemTime, FILETIME* FileTime);

// A file time to calendar fields. Returns 0 for times at or past 2^63.
int32_t FileTimeToSystemTime(const FILETIME* FileTime, SYSTEMTIME* SystemTime);

// Bytes before the first zero byte; 0 for a null pointer.
int32_t lstrlenA(const char* String);

// Copies Length bytes; the ranges may overlap.
void RtlMoveMemory(void* Destination, const void* Source, std::size_t Length);

// The ANSI code page, the one the program uses. Linux knows no other; the
// Windows build accepts every page the system knows.
constexpr uint32_t CP_ACP = 0;

// Makes the ANSI code page follow the locale, as Wine takes it from the
// Unix one: UTF-8 when the locale of the environment (LC_ALL, LC_CTYPE,
// LANG) is a UTF-8 one, so that host paths and UTF-8 names go through the
// 8-bit calls whole; Windows-1252 otherwise. Until a program calls it the
// page is Windows-1252, the installer's for its CD, and the installer never
// does. Returns the page now in use: 65001 (UTF-8) or 1252; on Windows the
// system's, unchanged.
uint32_t FollowLocaleCodePage();

// Both conversions follow the platform's contract: a length of -1 means
// "zero-terminated, terminator included"; an output size of 0 asks for the
// size needed; the result is the number of units written (or needed), 0 on
// failure. Characters the code page cannot hold become '?', and
// *UsedDefaultChar (when given) tells whether that happened.
int32_t MultiByteToWideChar(uint32_t CodePage, uint32_t Flags, const char* MultiByteStr, int32_t MultiByteLength,
                            char16_t* WideCharStr, int32_t WideCharCount);
int32_t WideCharToMultiByte(uint32_t CodePage, uint32_t Flags, const char16_t* WideCharStr, int32_t WideCharLength,
                            char* MultiByteStr, int32_t MultiByteCount, const char* DefaultChar,
                            int32_t* UsedDefaultChar);

// Creating one directory (not its parents), by drive path in the ANSI code
// page. The outcome is all a caller learns; the last error is set as well.
enum class DirectoryOutcome {
    Created,        // the directory was made
    Exists,         // the name exists already (file or directory), or cannot be accessed
    ParentMissing,  // a directory on the way does not exist
    Other,          // any other failure (no such drive, bad name, ...)
};
DirectoryOutcome CreateDirectoryLevel(const char* PathName);

}  // namespace platform
