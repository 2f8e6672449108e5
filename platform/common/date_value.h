// SPDX-License-Identifier: MIT
// A date value split as the general date form shows it. Private to the
// platform implementations.
#pragma once

#include "platform/calendar.h"

#include <cstdint>

namespace platform {

struct DateValueParts {
    int64_t days;         // whole days since 1899-12-30, negative before it
    int64_t secondOfDay;  // the time of day, rounded to the second
    bool withDate;        // the form shows the date (not on day 0)
    bool withTime;        // the form shows the time (not at midnight, except on day 0)
};

DateValueParts SplitDateValue(double dateValue);

}  // namespace platform
