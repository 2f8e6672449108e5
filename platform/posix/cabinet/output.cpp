// The output of one entry, and the entry's date as a host time.
#include "platform/posix/cabinet/output.h"

#include "platform/kernel.h"
#include "platform/posix/cabinet/win32_codes.h"

namespace platform::cabservice {

namespace {

// MS-DOS date word: bits 15-9 year - 1980, 8-5 month, 4-0 day; time word:
// bits 15-11 hour, 10-5 minute, 4-0 seconds / 2.
constexpr int kDosEpochYear = 1980;
constexpr int kDosYearShift = 9;
constexpr int kDosMonthShift = 5;
constexpr int kDosMonthMask = 0x0F;
constexpr int kDosDayMask = 0x1F;
constexpr int kDosHourShift = 11;
constexpr int kDosMinuteShift = 5;
constexpr int kDosMinuteMask = 0x3F;
constexpr int kDosHalfSecondsMask = 0x1F;
constexpr int kDosSecondsPerUnit = 2;
constexpr int kTmEpochYear = 1900;
constexpr int kLastHour = 23;
constexpr int kLastMinute = 59;
constexpr int kLastSecond = 59;

}  // namespace

std::optional<std::time_t> LocalTimeOfDosStamp(uint16_t dosDate, uint16_t dosTime) {
    std::tm fields{};
    fields.tm_year = kDosEpochYear + (dosDate >> kDosYearShift) - kTmEpochYear;
    fields.tm_mon = ((dosDate >> kDosMonthShift) & kDosMonthMask) - 1;
    fields.tm_mday = dosDate & kDosDayMask;
    fields.tm_hour = dosTime >> kDosHourShift;
    fields.tm_min = (dosTime >> kDosMinuteShift) & kDosMinuteMask;
    fields.tm_sec = (dosTime & kDosHalfSecondsMask) * kDosSecondsPerUnit;
    fields.tm_isdst = -1;  // whatever the zone says for that day
    if (fields.tm_hour > kLastHour || fields.tm_min > kLastMinute || fields.tm_sec > kLastSecond) {
        return std::nullopt;
    }
    const std::tm asked = fields;
    const std::time_t moment = std::mktime(&fields);
    // mktime carries impossible days into the next month; a real date comes
    // back as it went in (the hour may move out of a daylight-saving gap).
    if (moment == static_cast<std::time_t>(-1) || fields.tm_year != asked.tm_year || fields.tm_mon != asked.tm_mon ||
        fields.tm_mday != asked.tm_mday) {
        return std::nullopt;
    }
    return moment;
}

TempOutput::TempOutput(std::string hostTarget) : output_(std::move(hostTarget)) {}

uint32_t TempOutput::create() {
    const int error = output_.create();
    return error == 0 ? NO_ERROR : Win32FromErrno(error, IoOperation::Create);
}

uint32_t TempOutput::commit(std::optional<std::time_t> modified) {
    std::optional<SafeOutput::Times> times;
    if (modified) {
        times = SafeOutput::Times{{*modified, 0}, {*modified, 0}};
    }
    const int error = output_.commit(times, false);
    return error == 0 ? NO_ERROR : Win32FromErrno(error, IoOperation::Rename);
}

}  // namespace platform::cabservice
