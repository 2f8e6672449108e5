// SPDX-License-Identifier: MIT
// The thread's last error code, as the kernel keeps it: one slot per thread.
#include "platform/kernel.h"

namespace platform {

namespace {
thread_local uint32_t lastError = NO_ERROR;
}

uint32_t GetLastError() { return lastError; }

void SetLastError(uint32_t ErrorCode) { lastError = ErrorCode; }

}  // namespace platform
