// SPDX-License-Identifier: MIT
// The fixed points of the three clocks the program meets, once: file times
// count 100 ns ticks from 1601-01-01, date values count days (and fractions
// of a day) from 1899-12-30, and the host counts seconds from 1970-01-01.
#pragma once

#include <cstdint>

namespace platform {

constexpr int64_t kSecondsPerDay = 86'400;
constexpr int64_t kTicksPerSecond = 10'000'000;  // of a file time
constexpr int64_t kTicksPerDay = kSecondsPerDay * kTicksPerSecond;
// Days from 1601-01-01 (day 0 of file times) to 1899-12-30 (day 0 of date values).
constexpr int64_t kDaysFrom1601ToDateZero = 109'205;
// Days from 1899-12-30 to 1970-01-01: the date value of the host's epoch.
constexpr int64_t kDaysFromDateZeroTo1970 = 25'569;
// Days from 1601-01-01 to 1970-01-01.
constexpr int64_t kDaysFrom1601To1970 = kDaysFrom1601ToDateZero + kDaysFromDateZeroTo1970;
static_assert(kDaysFrom1601To1970 == 134'774);

}  // namespace platform
