// SPDX-License-Identifier: MIT
// File operations of the runtime that the install procedure uses: copying a
// file, the installer's own directory, and starting a document. Failures are
// raised errors with the runtime's numbers and texts.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The runtime's file error numbers.
constexpr int32_t kErrFileNotFound = 53;      // "File not found"
constexpr int32_t kErrDeviceIo = 57;          // "Device I/O error"
constexpr int32_t kErrDiskFull = 61;          // "Disk full"
constexpr int32_t kErrPermissionDenied = 70;  // "Permission denied"
constexpr int32_t kErrPathFileAccess = 75;    // "Path/File access error"
constexpr int32_t kErrPathNotFound = 76;      // "Path not found"

// Copies `source` to `destination` (drive paths), replacing an existing
// destination file. The copy is written beside the destination and renamed
// into place once complete, so a failed copy never leaves a half-written
// file where a good one stood (on Windows, a directory too long for even a short
// temporary name beside the destination is written to directly, rather than
// failing). The copy keeps the source's modification time.
void FileCopy(const std::u16string& source, const std::u16string& destination);

// The directory that holds the running program, in drive form, without a
// trailing '\' except at a drive's root ("C:\").
std::u16string InstallerDirectory();

// Starts the document `path` (a drive path). A registry script (".reg") is
// merged into the registry view that 32-bit programs read, the game's view:
// on Linux inside the Wine prefix when `wine` is on the PATH (`wine reg
// import FILE /reg:32`); on 64-bit Windows by the system's registry tool
// (`reg import FILE /reg:32`); on 32-bit Windows, which has that view alone,
// through the program associated with registry scripts. The two registry
// tools show nothing of their own, so they are waited for (a bounded wait)
// and their exit status read: a merge that fails, cannot start or outlasts
// the bound is raised with a report that the game's files are installed,
// its settings are not, and the command that merges them. Anything else
// (on 32-bit Windows the registry editor, which shows its own result) is
// not waited for: any other document goes to its associated program (on
// Linux: Wine's start, or xdg-open without Wine), in a normal window.
// A missing document is raised as "File not found"; so is, on Linux, a
// launcher for other documents that is missing or cannot be started. On
// Windows a start the system refuses is raised with the system's own code.
void StartDocument(const std::u16string& path);

}  // namespace platform
