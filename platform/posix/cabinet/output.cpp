// The output of one entry, and the entry's date as a host time.
#include "platform/posix/cabinet/output.h"

#include "platform/kernel.h"
#include "platform/posix/cabinet/win32_codes.h"
#include "platform/posix/dos_stamp.h"

namespace platform::cabservice {

namespace {

constexpr int kTmEpochYear = 1900;
constexpr int kLastHour = 23;
constexpr int kLastMinute = 59;
constexpr int kLastSecond = 59;

}  // namespace

std::optional<std::time_t> LocalTimeOfDosStamp(uint16_t dosDate, uint16_t dosTime) {
    const DosStamp stamp = UnpackDosStamp(dosDate, dosTime);
    std::tm fields{};
    fields.tm_year = stamp.year - kTmEpochYear;
    fields.tm_mon = stamp.month - 1;
    fields.tm_mday = stamp.day;
    fields.tm_hour = stamp.hour;
    fields.tm_min = stamp.minute;
    fields.tm_sec = stamp.second;
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
