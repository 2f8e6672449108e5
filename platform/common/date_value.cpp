// SPDX-License-Identifier: MIT
// Splitting a date value for the general date form.
#include "platform/common/date_value.h"

#include <cmath>

namespace platform {

DateValueParts SplitDateValue(double dateValue) {
    // The whole part counts days (negative before day 0); the fraction's size
    // is the time of day on either side of day 0.
    double whole = std::trunc(dateValue);
    auto secondOfDay = static_cast<int64_t>(std::llround(std::fabs(dateValue - whole) * kSecondsPerDay));
    if (secondOfDay == kSecondsPerDay) {
        secondOfDay = 0;
        whole += dateValue < 0 ? -1 : 1;
    }
    const auto days = static_cast<int64_t>(whole);
    return {days, secondOfDay, days != 0, days == 0 || secondOfDay != 0};
}

}  // namespace platform
