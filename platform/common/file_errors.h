// SPDX-License-Identifier: MIT
// The runtime's raised error for a failed file operation: one text per
// number of files.h, "Device I/O error" for anything else.
#pragma once

#include <cstdint>

namespace platform {

[[noreturn]] void RaiseFileError(int32_t number);

}  // namespace platform
