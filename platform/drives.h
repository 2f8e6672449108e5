// SPDX-License-Identifier: MIT
// How drive paths ("C:\Games\x.dat") meet the host's file system.
//
// On Linux a drive letter resolves the way Wine resolves it: through
// $WINEPREFIX/dosdevices/<letter>: (~/.wine when WINEPREFIX is unset), with
// Z: falling back to "/". Both '\' and '/' separate directories. Each existing
// component is looked up ignoring case when the exact name is absent.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The host path for a drive path in the ANSI code page (the result is in the
// host's encoding). A rooted path without a drive ("\x") uses the current
// drive. Returns nothing, with *Error set to a Win32 code, when the drive
// does not exist (ERROR_PATH_NOT_FOUND) or the path cannot be a drive path
// (ERROR_INVALID_NAME). Components that do not exist keep the case given.
std::optional<std::string> DosPathToHostPath(std::string_view DosPath, uint32_t* Error);

// The drive form of a host path (absolute or relative to the current directory),
// in the ANSI code page: the mapped drive that holds it, else Z:.
std::string HostPathToDosPath(std::string_view HostPath);

// The Wine prefix in use: $WINEPREFIX, else $HOME/.wine.
std::string WinePrefix();

// Names inside the directory the drive path `DosDirectory` names (in the ANSI
// code page; empty for none, the default) are looked up exactly as given,
// not ignoring case: there, "README" and "readme" are two files, as a Linux
// program expects of a directory of its own. Every other path keeps Wine's
// look-up, so the installer's walk into the prefix and the search for the
// next cabinet of a set go on finding names in another case.
void LookUpNamesExactlyIn(std::string_view DosDirectory);

}  // namespace platform
