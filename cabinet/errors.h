// SPDX-License-Identifier: MIT
// How the cabinet object describes its failures: its own error number, the
// texts of its own numbers and of the platform's error codes.
#pragma once

#include <cstdint>
#include <string>

namespace cabinet {

// Raised when an operation starts without a cabinet name: the base of
// object-defined errors (0x80040000) plus 1956.
constexpr int32_t CabErrNoCabName = static_cast<int32_t>(0x800407A4u);

// Raised for a failed walk that left the last error at 0, which cannot stand
// for an error: the generic failure E_FAIL, described as "Unknown error.".
constexpr int32_t CabErrWalkFailedWithoutCode = static_cast<int32_t>(0x80004005u);

// The description of one of the object's own numbers.
std::u16string CabErrorText(int32_t number);

// The description of a platform error code; "Unknown error." for codes the
// table does not hold.
std::u16string Win32ErrorText(int32_t code);

}  // namespace cabinet
