// File operations of the runtime that the install procedure uses: copying a
// file, the installer's own folder, and starting a document. Failures are
// raised errors with the runtime's numbers and texts.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The runtime's file error numbers.
constexpr int32_t kErrFileNotFound = 53;     // "File not found"
constexpr int32_t kErrDeviceIo = 57;         // "Device I/O error"
constexpr int32_t kErrDiskFull = 61;         // "Disk full"
constexpr int32_t kErrPermissionDenied = 70; // "Permission denied"
constexpr int32_t kErrPathFileAccess = 75;   // "Path/File access error"
constexpr int32_t kErrPathNotFound = 76;     // "Path not found"

// Copies `source` to `destination` (drive paths), replacing an existing
// destination file. The copy is written beside the destination and renamed
// into place once complete, so a failed copy never leaves a half-written
// file where a good one stood. The copy keeps the source's modification time.
void FileCopy(const std::u16string& source, const std::u16string& destination);

// The folder that holds the running program, in drive form, without a
// trailing '\' except at a drive's root ("C:\").
std::u16string InstallerFolder();

// Starts the document `path` (a drive path) with the program the desktop
// associates with it, in a normal window, without waiting for it. Inside the
// Wine prefix when `wine` is on the PATH: a registry script (".reg") goes to
// Wine's regedit, which merges it into that prefix, anything else to Wine's
// start. Else through xdg-open. A missing file or launcher, or one that
// cannot be started, is raised as "File not found".
void StartDocument(const std::u16string& path);

}  // namespace platform
