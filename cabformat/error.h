// SPDX-License-Identifier: MIT
// What can go wrong in reading a cabinet or a set, in the engine's own
// terms. The host adapter turns these into whatever its callers expect.
#pragma once

#include <cstdint>

namespace cabformat {

enum class Errc : uint8_t {
    Ok = 0,
    Damaged,         // the bytes do not make a valid cabinet, block or stream
    Truncated,       // the cabinet ends before what its records promise
    Checksum,        // a data block's checksum does not match
    Unsupported,     // a compression method the engine does not know
    ReadFailed,      // the byte source could not read (hostError tells why)
    CabinetMissing,  // the next cabinet of a set was not supplied
    WriteFailed,     // the sink an entry's bytes go to refused them
    NoMemory,
    Internal,  // anything else that stopped the decoder thread
};

struct Error {
    Errc code = Errc::Ok;
    // For ReadFailed: the byte source's own error number (errno on POSIX),
    // opaque to the engine. 0 otherwise.
    int hostError = 0;

    bool ok() const { return code == Errc::Ok; }
    bool operator==(const Error&) const = default;
};

// Thrown inside the engine to end a walk; the public calls that may throw it
// say so. Never thrown across libmspack's C frames.
struct Failure {
    Error error;
};

}  // namespace cabformat
