// Inside the Linux platform layer: the fields of an MS-DOS date and time
// word pair, the stamp cabinets and FAT folders keep for a file.
#pragma once

#include <cstdint>

namespace platform {

struct DosStamp {
    int year;
    int month;  // 1-12 when valid
    int day;    // 1-31 when valid
    int hour;
    int minute;
    int second;  // even: the time word keeps seconds / 2
};

namespace dosword {
// Date word: bits 15-9 year - 1980, 8-5 month, 4-0 day.
constexpr int kEpochYear = 1980;
constexpr int kYearShift = 9;
constexpr int kMonthShift = 5;
constexpr int kMonthMask = 0x0F;
constexpr int kDayMask = 0x1F;
// Time word: bits 15-11 hour, 10-5 minute, 4-0 seconds / 2.
constexpr int kHourShift = 11;
constexpr int kMinuteShift = 5;
constexpr int kMinuteMask = 0x3F;
constexpr int kHalfSecondsMask = 0x1F;
constexpr int kSecondsPerUnit = 2;
}  // namespace dosword

// The fields as the words hold them, unchecked: month 0 or hour 31 come back
// as they are.
constexpr DosStamp UnpackDosStamp(uint16_t date, uint16_t time) {
    using namespace dosword;
    return {kEpochYear + (date >> kYearShift),
            (date >> kMonthShift) & kMonthMask,
            date & kDayMask,
            time >> kHourShift,
            (time >> kMinuteShift) & kMinuteMask,
            (time & kHalfSecondsMask) * kSecondsPerUnit};
}

}  // namespace platform
