// SPDX-License-Identifier: MIT
// Kernel services on Windows: each forwards to the kernel call of the same
// name, with the seam's records copied to and from the system's.
//
// The seam's headers come first: windows.h then defines macros of the same
// names and values (NO_ERROR, MAX_PATH, CP_ACP, ...), which this file uses.
#include "platform/kernel.h"

#include <windows.h>
// The system header makes RtlMoveMemory a macro; the seam defines a function.
#undef RtlMoveMemory

#include <cstring>

namespace platform {

namespace {

::FILETIME ToSystem(const FILETIME& time) { return {time.dwLowDateTime, time.dwHighDateTime}; }

void FromSystem(const ::FILETIME& time, FILETIME* out) {
    out->dwLowDateTime = time.dwLowDateTime;
    out->dwHighDateTime = time.dwHighDateTime;
}

}  // namespace

uint32_t GetLastError() { return ::GetLastError(); }

void SetLastError(uint32_t ErrorCode) { ::SetLastError(ErrorCode); }

int32_t DosDateTimeToFileTime(uint16_t FatDate, uint16_t FatTime, FILETIME* FileTime) {
    ::FILETIME time{};
    if (FileTime == nullptr || !::DosDateTimeToFileTime(FatDate, FatTime, &time)) {
        return 0;
    }
    FromSystem(time, FileTime);
    return 1;
}

int32_t SystemTimeToFileTime(const SYSTEMTIME* SystemTime, FILETIME* FileTime) {
    if (SystemTime == nullptr || FileTime == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const ::SYSTEMTIME fields{SystemTime->wYear,   SystemTime->wMonth,       SystemTime->wDayOfWeek,
                              SystemTime->wDay,    SystemTime->wHour,        SystemTime->wMinute,
                              SystemTime->wSecond, SystemTime->wMilliseconds};
    ::FILETIME time{};
    if (!::SystemTimeToFileTime(&fields, &time)) {
        return 0;
    }
    FromSystem(time, FileTime);
    return 1;
}

int32_t FileTimeToSystemTime(const FILETIME* FileTime, SYSTEMTIME* SystemTime) {
    if (FileTime == nullptr || SystemTime == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const ::FILETIME time = ToSystem(*FileTime);
    ::SYSTEMTIME fields{};
    if (!::FileTimeToSystemTime(&time, &fields)) {
        return 0;
    }
    *SystemTime = {fields.wYear, fields.wMonth,  fields.wDayOfWeek, fields.wDay,
                   fields.wHour, fields.wMinute, fields.wSecond,    fields.wMilliseconds};
    return 1;
}

int32_t lstrlenA(const char* String) { return ::lstrlenA(String); }

void RtlMoveMemory(void* Destination, const void* Source, std::size_t Length) {
    // The system header defines the kernel's RtlMoveMemory as this very call.
    if (Length != 0) {
        std::memmove(Destination, Source, Length);
    }
}

// The system's ANSI code page is the user's choice there already.
uint32_t FollowLocaleCodePage() { return ::GetACP(); }

int32_t MultiByteToWideChar(uint32_t CodePage, uint32_t Flags, const char* MultiByteStr, int32_t MultiByteLength,
                            char16_t* WideCharStr, int32_t WideCharCount) {
    return ::MultiByteToWideChar(CodePage, Flags, MultiByteStr, MultiByteLength,
                                 reinterpret_cast<wchar_t*>(WideCharStr), WideCharCount);
}

namespace {

// Whether Windows takes conversion flags for `page`: UTF-8 and GB18030 take
// WC_ERR_INVALID_CHARS alone, UTF-7, the ISO-2022 and ISCII pages and Symbol
// none at all; anything else fails with ERROR_INVALID_FLAGS. UTF-8 can be
// the ANSI code page itself ("Use Unicode UTF-8 for worldwide language
// support").
bool TakesFlags(UINT page) {
    switch (page) {
        case 42:
        case 50220:
        case 50221:
        case 50222:
        case 50225:
        case 50227:
        case 50229:
        case 54936:
        case CP_UTF7:
        case CP_UTF8: return false;
        default: return page < 57002 || page > 57011;
    }
}

// UTF-7 and UTF-8 hold every character: Windows refuses a default character
// and the question whether one was used (ERROR_INVALID_PARAMETER).
bool TakesDefaultChar(UINT page) { return page != CP_UTF7 && page != CP_UTF8; }

}  // namespace

int32_t WideCharToMultiByte(uint32_t CodePage, uint32_t Flags, const char16_t* WideCharStr, int32_t WideCharLength,
                            char* MultiByteStr, int32_t MultiByteCount, const char* DefaultChar,
                            int32_t* UsedDefaultChar) {
    const UINT page = CodePage == CP_ACP ? ::GetACP() : CodePage;
    // Without this flag Windows writes a look-alike for a character the code
    // page lacks (Omega becomes 'O'): a different name, where the contract
    // promises '?'.
    if (TakesFlags(page)) {
        Flags |= WC_NO_BEST_FIT_CHARS;
    }
    const bool asksDefault = TakesDefaultChar(page);
    BOOL usedDefault = FALSE;
    const int written = ::WideCharToMultiByte(
        page, Flags, reinterpret_cast<const wchar_t*>(WideCharStr), WideCharLength, MultiByteStr, MultiByteCount,
        asksDefault ? DefaultChar : nullptr, asksDefault && UsedDefaultChar != nullptr ? &usedDefault : nullptr);
    if (UsedDefaultChar != nullptr) {
        *UsedDefaultChar = usedDefault ? 1 : 0;
    }
    return written;
}

DirectoryOutcome CreateDirectoryLevel(const char* PathName) {
    if (::CreateDirectoryA(PathName != nullptr ? PathName : "", nullptr)) {
        return DirectoryOutcome::Created;
    }
    switch (::GetLastError()) {
        case ERROR_ALREADY_EXISTS:
        case ERROR_FILE_EXISTS:
        case ERROR_ACCESS_DENIED: return DirectoryOutcome::Exists;
        case ERROR_PATH_NOT_FOUND: return DirectoryOutcome::ParentMissing;
        default: return DirectoryOutcome::Other;
    }
}

}  // namespace platform
