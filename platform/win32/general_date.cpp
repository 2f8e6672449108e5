// SPDX-License-Identifier: MIT
// The general date form of a date value on Windows: the user's locale's
// short date and long time, from GetDateFormatW and GetTimeFormatW.
#include "platform/runtime.h"

#include "platform/common/date_value.h"

#include <windows.h>

#include <cmath>
#include <string>

namespace platform {

namespace {

using Formatter = int(WINAPI*)(LCID, DWORD, const ::SYSTEMTIME*, LPCWSTR, LPWSTR, int);

std::u16string Formatted(Formatter format, DWORD flags, const ::SYSTEMTIME& moment) {
    const int size = format(LOCALE_USER_DEFAULT, flags, &moment, nullptr, nullptr, 0);
    if (size <= 0) {
        return {};
    }
    std::u16string text(static_cast<std::size_t>(size), u'\0');
    format(LOCALE_USER_DEFAULT, flags, &moment, nullptr, reinterpret_cast<wchar_t*>(text.data()), size);
    text.resize(static_cast<std::size_t>(size) - 1);
    return text;
}

}  // namespace

std::u16string FormatGeneralDate(double dateValue) {
    const auto [days, secondOfDay, withDate, withTime] = SplitDateValue(dateValue);

    const int64_t ticks = ((days + kDaysFrom1601ToDateZero) * kSecondsPerDay + secondOfDay) * kTicksPerSecond;
    const ::FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32)};
    ::SYSTEMTIME moment{};
    if (ticks < 0 || !::FileTimeToSystemTime(&time, &moment)) {
        return {};
    }
    std::u16string text;
    if (withDate) {
        text = Formatted(&::GetDateFormatW, DATE_SHORTDATE, moment);
    }
    if (withTime) {
        if (!text.empty()) {
            text += u' ';
        }
        text += Formatted(&::GetTimeFormatW, 0, moment);
    }
    return text;
}

}  // namespace platform
