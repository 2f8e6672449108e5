// Writing one entry safely (through SafeOutput: only whole files appear
// under their names), carrying the entry's date, with failures as Win32 codes.
#pragma once

#include "platform/posix/safe_output.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace platform::cabservice {

// The moment an entry's MS-DOS date and time words name, read as local time;
// nothing when they name no real moment (month 0, 31 February, hour 24...).
std::optional<std::time_t> LocalTimeOfDosStamp(uint16_t dosDate, uint16_t dosTime);

class TempOutput {
public:
    // Nothing is created yet; see create(). The destructor removes the
    // temporary file unless commit() succeeded.
    explicit TempOutput(std::string hostTarget);

    // Creates the empty temporary file in the target's folder. Returns 0 or
    // the Win32 code of the failure (a missing folder is
    // ERROR_PATH_NOT_FOUND, a full disk ERROR_DISK_FULL, ...).
    uint32_t create();
    int fd() const { return output_.fd(); }

    // Gives the file `modified` as its access and modification times (when
    // given) and puts it in place of the target. Returns 0 or the Win32 code
    // of the failure, in which case the temporary file goes.
    uint32_t commit(std::optional<std::time_t> modified);

private:
    SafeOutput output_;
};

}  // namespace platform::cabservice
