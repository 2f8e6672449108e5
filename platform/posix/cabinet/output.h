// Writing one entry safely: into a temporary file beside the target, which
// replaces the target only once it is complete, carrying the entry's date.
// A failed entry leaves nothing behind and never touches an older file.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace platform::cabinet {

// The moment an entry's MS-DOS date and time words name, read as local time;
// nothing when they name no real moment (month 0, 31 February, hour 24...).
std::optional<std::time_t> LocalTimeOfDosStamp(uint16_t dosDate, uint16_t dosTime);

class TempOutput {
public:
    // Nothing is created yet; see create().
    explicit TempOutput(std::string hostTarget);
    // Closes and removes the temporary file unless commit() succeeded.
    ~TempOutput();
    TempOutput(const TempOutput&) = delete;
    TempOutput& operator=(const TempOutput&) = delete;

    // Creates the empty temporary file in the target's folder. Returns 0 or
    // the Win32 code of the failure (a missing folder is
    // ERROR_PATH_NOT_FOUND, a full disk ERROR_DISK_FULL, ...).
    uint32_t create();
    int fd() const { return fd_; }

    // Gives the file `modified` as its access and modification times (when
    // given), closes it and renames it onto the target. Returns 0 or the
    // Win32 code of the failure, in which case the temporary file goes.
    uint32_t commit(std::optional<std::time_t> modified);

private:
    void discard() noexcept;

    std::string target_;
    std::string temporary_;
    int fd_ = -1;
    bool committed_ = false;
};

}  // namespace platform::cabinet
