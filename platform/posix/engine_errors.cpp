// SPDX-License-Identifier: MIT
// The one table of the cabinet engine's failures.
#include "platform/posix/engine_errors.h"

#include "platform/kernel.h"
#include "platform/posix/host_errors.h"

#include <cstring>
#include <iterator>

namespace platform {

namespace {

using cabformat::Errc;

struct EngineErrorRow {
    Errc code;
    // The code the service fails with; for a failed read, the host's errno
    // decides (kFromHostError).
    uint32_t win32;
    const char* words;  // for a failed read, followed by the system's
};

// In the Win32 column: the code is the host error's, read as a failed read.
constexpr uint32_t kFromHostError = NO_ERROR;

// clang-format off
constexpr EngineErrorRow kEngineErrors[] = {
    {Errc::Ok,             ERROR_GEN_FAILURE,       ""},
    {Errc::Damaged,        ERROR_INVALID_DATA,      "damaged data"},
    {Errc::Truncated,      ERROR_INVALID_DATA,      "the cabinet is cut short"},
    {Errc::Checksum,       ERROR_CRC,               "checksum mismatch"},
    {Errc::Unsupported,    ERROR_INVALID_DATA,      "unsupported compression method"},
    {Errc::ReadFailed,     kFromHostError,          "read failed: "},
    {Errc::CabinetMissing, ERROR_FILE_NOT_FOUND,    "the next cabinet of the set is missing"},
    {Errc::WriteFailed,    ERROR_WRITE_FAULT,       "write failed"},
    {Errc::NoMemory,       ERROR_NOT_ENOUGH_MEMORY, "out of memory"},
    {Errc::Internal,       ERROR_GEN_FAILURE,       "internal failure"},
};
// clang-format on

// A code outside the engine's list reads as its own internal failure.
const EngineErrorRow& RowOf(Errc code) {
    for (const EngineErrorRow& row : kEngineErrors) {
        if (row.code == code) {
            return row;
        }
    }
    return kEngineErrors[std::size(kEngineErrors) - 1];
}

}  // namespace

uint32_t Win32FromEngine(const cabformat::Error& error) {
    const EngineErrorRow& row = RowOf(error.code);
    return row.win32 != kFromHostError ? row.win32 : Win32FromErrno(error.hostError, IoOperation::Read);
}

std::string EngineErrorWords(const cabformat::Error& error) {
    const EngineErrorRow& row = RowOf(error.code);
    std::string words = row.words;
    if (error.code == Errc::ReadFailed) {
        words += std::strerror(error.hostError);
    }
    return words;
}

}  // namespace platform
