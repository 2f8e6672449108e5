// SPDX-License-Identifier: MIT
// Conversions between the service's notification fields and CabFile's
// values: entry dates to date values, 8-bit strings to text and back into
// the target-name field, and target paths.
// CabFile uses them as its private members; they are free functions here so
// that each can be tested on its own.
#pragma once

#include "platform/kernel.h"
#include "platform/setupapi.h"

#include <cstdint>
#include <string>

namespace cabinet::conversions {

// The error raised when a text does not fit the target-name field.
constexpr int32_t kErrSubscriptOutOfRange = 9;

// A file time as a date value, with no time-zone conversion; 0 when the file
// time cannot be turned into calendar fields.
double FileTimeToDate(const platform::FILETIME& fileTime);

// Whole days since 1899-12-30 plus the time of day; day of week and
// milliseconds play no part.
double SystemTimeToDate(const platform::SYSTEMTIME& fields);

// The zero-terminated 8-bit string at `address`, decoded from the ANSI code
// page; the empty text for a null address.
std::u16string AnsiPointerToString(const char* address);

// Writes the ANSI form of `text` and a zero byte into the target-name field.
// A text of MAX_PATH bytes or more fills the field with its first MAX_PATH
// bytes and raises error 9; nothing is written outside the field.
void StringToAnsiBuffer(char (&buffer)[platform::MAX_PATH], const std::u16string& text);

// Where an entry named `nameInCabinet` is written: `extractPath` (else the
// directory of `cabName`) with a '\' appended when missing, followed by
// `extractFile` (else the entry's name with its directories).
std::u16string BuildTargetPath(const std::u16string& cabName, const std::u16string& extractPath,
                               const std::u16string& extractFile, const std::u16string& nameInCabinet);

}  // namespace cabinet::conversions
