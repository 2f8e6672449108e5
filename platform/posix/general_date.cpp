// SPDX-License-Identifier: MIT
// The general date form of a date value on Linux: the C library's patterns
// of the user's time locale, en-US ones for the C and POSIX locales.
#include "platform/runtime.h"

#include "platform/common/date_value.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <langinfo.h>
#include <locale.h>
#include <string>

namespace platform {

namespace {

// The locale that governs dates, looked up as the C library does for "".
const char* TimeLocaleName() {
    for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') {
            return value;
        }
    }
    return "C";
}

bool UsesUsPatterns(const std::string& locale) {
    return locale == "C" || locale == "POSIX" || locale.rfind("C.", 0) == 0 || locale.rfind("en_US", 0) == 0;
}

// The patterns of the time locale, looked up once per locale name and
// thread: a listing formats one date per entry.
class DatePatterns {
public:
    DatePatterns() = default;
    ~DatePatterns() { reset(); }
    DatePatterns(const DatePatterns&) = delete;
    DatePatterns& operator=(const DatePatterns&) = delete;

    // The patterns for `locale`; nullptr handle for the en-US ones.
    void use(const char* locale) {
        if (looked_ && name_ == locale) {
            return;
        }
        reset();
        name_ = locale;
        looked_ = true;
        handle_ = UsesUsPatterns(name_) ? nullptr : newlocale(LC_TIME_MASK, locale, nullptr);
        if (handle_ != nullptr) {
            date_ = nl_langinfo_l(D_FMT, handle_);
            time_ = nl_langinfo_l(T_FMT, handle_);
        }
    }

    locale_t handle() const { return handle_; }
    const std::string& date() const { return date_; }
    const std::string& time() const { return time_; }

private:
    void reset() {
        if (handle_ != nullptr) {
            freelocale(handle_);
            handle_ = nullptr;
        }
        date_.clear();
        time_.clear();
    }

    bool looked_ = false;
    std::string name_;
    locale_t handle_ = nullptr;
    std::string date_;
    std::string time_;
};

// `value` in decimal, at least `width` digits, at `out`; the end.
char* Decimal(char* out, int64_t value, int width = 1) {
    char digits[24];
    char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    for (auto length = end - digits; length < width; ++length) {
        *out++ = '0';
    }
    return std::copy(digits, end, out);
}

std::u16string FormatUs(int64_t year, unsigned month, unsigned day, bool withDate, int64_t secondOfDay, bool withTime) {
    char buffer[96];
    char* at = buffer;
    if (withDate) {
        at = Decimal(at, month);
        *at++ = '/';
        at = Decimal(at, day);
        *at++ = '/';
        at = Decimal(at, year);
    }
    if (withTime) {
        const int64_t hour = secondOfDay / 3600;
        const int64_t hour12 = hour % 12 == 0 ? 12 : hour % 12;
        if (at != buffer) {
            *at++ = ' ';
        }
        at = Decimal(at, hour12);
        *at++ = ':';
        at = Decimal(at, secondOfDay / 60 % 60, 2);
        *at++ = ':';
        at = Decimal(at, secondOfDay % 60, 2);
        *at++ = ' ';
        *at++ = hour < 12 ? 'A' : 'P';
        *at++ = 'M';
    }
    return std::u16string(buffer, at);  // ASCII
}

}  // namespace

std::u16string FormatGeneralDate(double dateValue) {
    const auto [days, secondOfDay, withDate, withTime] = SplitDateValue(dateValue);

    std::tm parts{};
    const time_t seconds = static_cast<time_t>((days - kDaysFromDateZeroTo1970) * kSecondsPerDay + secondOfDay);
    gmtime_r(&seconds, &parts);
    const int64_t year = static_cast<int64_t>(parts.tm_year) + 1900;

    thread_local DatePatterns patterns;
    patterns.use(TimeLocaleName());
    if (patterns.handle() == nullptr) {
        return FormatUs(year, static_cast<unsigned>(parts.tm_mon + 1), static_cast<unsigned>(parts.tm_mday), withDate,
                        secondOfDay, withTime);
    }
    std::string pattern;
    if (withDate) {
        pattern = patterns.date();
    }
    if (withTime) {
        if (!pattern.empty()) {
            pattern += ' ';
        }
        pattern += patterns.time();
    }
    char buffer[128];
    const std::size_t length = strftime_l(buffer, sizeof buffer, pattern.c_str(), &parts, patterns.handle());
    return Utf8ToText(std::string_view(buffer, length));
}

}  // namespace platform
