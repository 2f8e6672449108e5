// SPDX-License-Identifier: MIT
// Writing a file so that only whole files ever appear under their names:
// the bytes go into an unnamed temporary file in the target's directory, which
// becomes visible under the target's name only once it is complete. A failed
// or interrupted write leaves nothing behind and never touches an older file.
#pragma once

#include "platform/posix/host_io.h"

#include <ctime>
#include <memory>
#include <optional>
#include <string>

namespace platform {

// Whether `name` is one of the temporary names SafeOutput gives
// (".vh" + 16 hex digits + ".part").
bool IsSafeOutputTemporaryName(const std::string& name);

class WalkMemory;

class SafeOutput {
public:
    // Nothing is created yet; see create(). Inside a walk, `walk` is what it
    // knows of the disk: the sweep for temporaries is done once per directory
    // in it, a run of entries in one directory shares one descriptor of it,
    // and the file written is noted as the walk's.
    explicit SafeOutput(std::string hostTarget, WalkMemory* walk = nullptr);
    // Closes and removes the temporary file unless commit() succeeded.
    ~SafeOutput();
    SafeOutput(const SafeOutput&) = delete;
    SafeOutput& operator=(const SafeOutput&) = delete;

    // Creates the empty temporary file in the target's directory, first removing
    // the temporaries an interrupted earlier run left in that directory.
    // Returns 0 or the errno of the failure.
    int create();
    int fd() const { return fd_.get(); }

    struct Times {
        timespec accessed;
        timespec modified;
    };
    // Gives the file `times` (when given; a file system without times is no
    // reason to lose the file), writes it through to the disk when `durable`,
    // and puts it in place of the target. Returns 0 or the errno of the
    // failure, in which case the temporary file goes and the target is as
    // it was.
    int commit(const std::optional<Times>& times, bool durable);

private:
    int publish();
    void discard() noexcept;

    std::string target_;
    std::string directory_;
    std::string named_;  // the temporary's name, while it has one
    WalkMemory* walk_;
    std::shared_ptr<const UniqueFd> openDirectory_;  // the directory, from the walk
    UniqueFd fd_;
    bool committed_ = false;
};

}  // namespace platform
