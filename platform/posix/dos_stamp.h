// SPDX-License-Identifier: MIT
// Inside the Linux platform layer: the fields of an MS-DOS date and time
// word pair, the stamp cabinets and FAT directories keep for a file, and the
// host time it names.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>

namespace platform {

struct DosStamp {
    int year, month, day, hour, minute, second;
};

// The fields as the words hold them, unchecked (month 0 or hour 31 come back
// as they are). The date word holds the year since 1980 in bits 15-9, the
// month in 8-5, the day in 4-0; the time word the hour in 15-11, the minute
// in 10-5, the seconds halved in 4-0.
constexpr DosStamp UnpackDosStamp(uint16_t date, uint16_t time) {
    constexpr int kEpochYear = 1980;
    constexpr int kYearShift = 9, kMonthShift = 5, kHourShift = 11, kMinuteShift = 5;
    constexpr int kMonthMask = 0x0F, kDayMask = 0x1F, kMinuteMask = 0x3F, kHalfSecondsMask = 0x1F;
    constexpr int kSecondsPerUnit = 2;
    return {kEpochYear + (date >> kYearShift),
            (date >> kMonthShift) & kMonthMask,
            date & kDayMask,
            time >> kHourShift,
            (time >> kMinuteShift) & kMinuteMask,
            (time & kHalfSecondsMask) * kSecondsPerUnit};
}

// The moment an entry's MS-DOS date and time words name, read as local time;
// nothing when they name no real moment (month 0, 31 February, hour 24...).
std::optional<std::time_t> LocalTimeOfDosStamp(uint16_t dosDate, uint16_t dosTime);

}  // namespace platform
