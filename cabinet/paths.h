// SPDX-License-Identifier: MIT
// The path routines the cabinet object's handlers share: completing a directory
// name, splitting a path at its last '\', and creating a directory tree one
// level at a time. Only '\' separates directories here; '/' is an ordinary
// character.
#pragma once

#include <string>

namespace cabinet::paths {

// `text` with a '\' appended unless it already ends in one; "\" for "".
std::u16string AddBackslash(const std::u16string& text);

// Splits at the last '\': `directory` gets everything up to and including it
// and `fileName` the rest; without a '\', the directory is empty and the file
// name is the whole path.
void SplitPath(const std::u16string& path, std::u16string& directory, std::u16string& fileName);

// Creates `directory` and every missing directory on the way, one level at a
// time. Drops one trailing '\' from the caller's text. True when the directory
// exists at the end; no error ever leaves it.
bool MakeDirectoryTree(std::u16string& directory);

}  // namespace cabinet::paths
