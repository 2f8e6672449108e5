// SPDX-License-Identifier: MIT
// An entry's MS-DOS date and time as a host time (see dos_stamp.h).
#include "platform/posix/dos_stamp.h"

#include <cstdlib>
#include <string>

namespace platform {

namespace {

constexpr int kTmEpochYear = 1900;
constexpr int kLastHour = 23;
constexpr int kLastMinute = 59;
constexpr int kLastSecond = 59;
// Farther than any zone is from UTC.
constexpr std::time_t kZoneReach = 15 * 60 * 60;

// localtime_r keeps the zone it read last, where mktime reads it again on
// every call, zone file and all (a stat per entry). Read it again when TZ
// has changed, as mktime would have; a new zone file under an unchanged TZ
// is seen by the next process.
void KeepZoneCurrent() {
    thread_local bool read = false;
    thread_local std::string seen;  // TZ when it was read, "\0" when unset
    const char* zone = std::getenv("TZ");
    const std::string now = zone != nullptr ? zone : std::string(1, '\0');
    if (!read || now != seen) {
        tzset();
        seen = now;
        read = true;
    }
}

bool SameClockReading(const std::tm& a, const std::tm& b) {
    return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday && a.tm_hour == b.tm_hour &&
           a.tm_min == b.tm_min && a.tm_sec == b.tm_sec;
}

// The moment the clock reading `fields` names in the local zone, where the
// zone keeps one offset for hours around it: then it is the only answer,
// the one mktime gives.
std::optional<std::time_t> WithSteadyOffset(const std::tm& fields) {
    std::tm asUtc = fields;
    const std::time_t reading = timegm(&asUtc);
    std::tm before{};
    std::tm after{};
    const std::time_t early = reading - kZoneReach;
    const std::time_t late = reading + kZoneReach;
    if (localtime_r(&early, &before) == nullptr || localtime_r(&late, &after) == nullptr ||
        before.tm_gmtoff != after.tm_gmtoff) {
        return std::nullopt;
    }
    const std::time_t moment = reading - before.tm_gmtoff;
    std::tm back{};
    if (localtime_r(&moment, &back) == nullptr || !SameClockReading(back, fields)) {
        return std::nullopt;  // a zone that counts leap seconds, or a day that is not there
    }
    return moment;
}

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
    KeepZoneCurrent();
    if (const std::optional<std::time_t> moment = WithSteadyOffset(fields)) {
        return moment;
    }
    // Near a change of offset (or on no real day): mktime settles a skipped
    // or repeated hour.
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

}  // namespace platform
