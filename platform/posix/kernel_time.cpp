// SPDX-License-Identifier: MIT
// MS-DOS date and time words, file times and calendar fields, by arithmetic:
// no time zone takes part anywhere.
#include "platform/kernel.h"

#include "platform/calendar.h"

#include "platform/posix/dos_stamp.h"

namespace platform {

namespace {

constexpr uint64_t kTicksPerMillisecond = 10'000;

bool IsLeapYear(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int64_t year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

// The file time of a moment, or false when the fields name none.
bool MomentToFileTime(int64_t year, int month, int day, int hour, int minute, int second, int millisecond,
                      FILETIME* FileTime) {
    if (FileTime == nullptr || year < 1601 || year > 30827 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month) || hour > 23 || minute > 59 || second > 59 || millisecond > 999) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    const int64_t days =
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + kDaysFrom1601To1970;
    const uint64_t ticks =
        (static_cast<uint64_t>(days) * kSecondsPerDay + static_cast<uint64_t>(hour * 3600 + minute * 60 + second)) *
            kTicksPerSecond +
        static_cast<uint64_t>(millisecond) * kTicksPerMillisecond;
    FileTime->dwLowDateTime = static_cast<uint32_t>(ticks);
    FileTime->dwHighDateTime = static_cast<uint32_t>(ticks >> 32);
    return true;
}

}  // namespace

int32_t DosDateTimeToFileTime(uint16_t FatDate, uint16_t FatTime, FILETIME* FileTime) {
    const DosStamp stamp = UnpackDosStamp(FatDate, FatTime);
    return MomentToFileTime(stamp.year, stamp.month, stamp.day, stamp.hour, stamp.minute, stamp.second, 0, FileTime)
               ? 1
               : 0;
}

int32_t SystemTimeToFileTime(const SYSTEMTIME* SystemTime, FILETIME* FileTime) {
    if (SystemTime == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return MomentToFileTime(SystemTime->wYear, SystemTime->wMonth, SystemTime->wDay, SystemTime->wHour,
                            SystemTime->wMinute, SystemTime->wSecond, SystemTime->wMilliseconds, FileTime)
               ? 1
               : 0;
}

int32_t FileTimeToSystemTime(const FILETIME* FileTime, SYSTEMTIME* SystemTime) {
    if (FileTime == nullptr || SystemTime == nullptr || (FileTime->dwHighDateTime & 0x80000000u) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const uint64_t ticks = (static_cast<uint64_t>(FileTime->dwHighDateTime) << 32) | FileTime->dwLowDateTime;
    const uint64_t totalSeconds = ticks / kTicksPerSecond;
    const auto days = static_cast<int64_t>(totalSeconds / kSecondsPerDay);
    const auto secondOfDay = static_cast<uint32_t>(totalSeconds % kSecondsPerDay);
    int64_t year = 0;
    unsigned month = 0;
    unsigned day = 0;
    CivilFromDays(days - kDaysFrom1601To1970, year, month, day);
    SystemTime->wYear = static_cast<uint16_t>(year);
    SystemTime->wMonth = static_cast<uint16_t>(month);
    // 1601-01-01 was a Monday.
    SystemTime->wDayOfWeek = static_cast<uint16_t>((days + 1) % 7);
    SystemTime->wDay = static_cast<uint16_t>(day);
    SystemTime->wHour = static_cast<uint16_t>(secondOfDay / 3600);
    SystemTime->wMinute = static_cast<uint16_t>(secondOfDay / 60 % 60);
    SystemTime->wSecond = static_cast<uint16_t>(secondOfDay % 60);
    SystemTime->wMilliseconds = static_cast<uint16_t>(ticks % kTicksPerSecond / kTicksPerMillisecond);
    return 1;
}

}  // namespace platform
