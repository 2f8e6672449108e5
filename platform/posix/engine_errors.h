// SPDX-License-Identifier: MIT
// What the cabinet engine's failures mean on Linux: the Win32 code the
// cabinet service fails with, and the words cabfile says them in. One table
// holds both, so the tool cannot come to read an engine failure otherwise
// than the service does.
#pragma once

#include "cabformat/error.h"

#include <cstdint>
#include <string>

namespace platform {

// The Win32 code for the engine's failure; never NO_ERROR.
uint32_t Win32FromEngine(const cabformat::Error& error);

// The engine's failure in a few English words ("checksum mismatch"); "" for
// none.
std::string EngineErrorWords(const cabformat::Error& error);

}  // namespace platform
