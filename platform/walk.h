// SPDX-License-Identifier: MIT
// What the walk running on this thread (one SetupIterateCabinetA, while its
// handler runs) knows of the disk, as the handlers of its entries ask it:
// entries come by the thousand into a few directories, and a directory the
// walk has already made or found is not made again for each. Outside a walk
// nothing is known and nothing is kept.
#pragma once

#include <string_view>

namespace platform {

// Whether the walk has noted the directory `Directory` (a drive path) as made
// or found. A "yes" may, about once in 10^10 for a cabinet's directories, be
// a directory that shares another's hash: its first entry then fails to be
// written and says so; nothing is written anywhere else.
bool WalkHasDirectory(std::u16string_view Directory);

// Notes that the directory `Directory` exists, made or found by a handler.
void NoteWalkDirectory(std::u16string_view Directory);

}  // namespace platform
