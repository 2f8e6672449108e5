// How the cabinet service's failures become Win32 codes: host errno values,
// libmspack's error numbers, and the failure that ends a walk.
#pragma once

#include <cstdint>
#include <string>

namespace platform::cabservice {

// Not in kernel.h: the code Windows gives for a name component too long.
constexpr uint32_t ERROR_FILENAME_EXCED_RANGE = 206;

// What the host was doing when it failed; the same errno means different
// things for a read and a write (EIO) or an open and a create (ENOENT).
enum class IoOperation { Open, Read, Seek, Create, Write, Close, Rename };

// A failed host call: its errno (0 when none failed) and what it was doing.
struct IoFailure {
    int error = 0;
    IoOperation operation = IoOperation::Read;
};

// The Win32 code for a host errno value; never NO_ERROR.
uint32_t Win32FromErrno(int error, IoOperation operation);

// The Win32 code for a libmspack error number. `io` is the first failure
// our own I/O saw during the same call: libmspack reports a failed read and
// a read cut short by the end of the file alike, and only the errno tells a
// read fault from a truncated cabinet. Never NO_ERROR.
uint32_t Win32FromMspack(int mspackError, const IoFailure& io);

// ERROR_FILE_NOT_FOUND when the folder of `hostPath` exists, otherwise
// ERROR_PATH_NOT_FOUND: what Windows tells apart for a missing file.
uint32_t Win32ForMissingFile(const std::string& hostPath);

// Thrown inside the service to end a walk with a Win32 code; caught at
// SetupIterateCabinetA, which turns it into the last error. Never thrown
// from a libmspack callback.
struct WalkFailure {
    uint32_t code;
};

}  // namespace platform::cabservice
