// SPDX-License-Identifier: MIT
// What a Linux system error (errno) means to the program: the Win32 code the
// cabinet service and the directory calls set, and the runtime's number for
// a failed file operation. One table holds both.
#pragma once

#include <cstdint>

namespace platform {

// What the host was doing when it failed; the same errno means different
// things for a read and a write (EIO), an open and a create (ENOENT), or a
// file and a directory being made (EACCES).
enum class IoOperation { Open, Read, Create, Write, Rename, MakeDirectory };

// The Win32 code for a host errno value met in `operation`. Never NO_ERROR.
uint32_t Win32FromErrno(int error, IoOperation operation);

// The runtime's file error number (files.h) for a host errno value.
int32_t RuntimeNumberFromErrno(int error);

}  // namespace platform
