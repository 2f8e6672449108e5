// SPDX-License-Identifier: MIT
// Inside the Linux platform layer: a directory's names as a case-insensitive
// look-up needs them, read from the disk once and kept as small hashes, with
// the actual spellings read only when a name is held in another case.
#pragma once

#include "platform/common/hash_marks.h"

#include <map>
#include <memory>
#include <string>

namespace platform {

// A directory's names folded to one case, as 32-bit hashes (at most three
// quarters of the slots used): the listing of a directory of 65,535 entries
// costs half a megabyte, one of the ten names a typical installed directory
// holds 64 bytes. A hash only says a name may be there; the disk decides: a
// false match among 2^32 costs one look at the disk.
struct DirectoryListing {
    HashMarks<uint32_t> folded;
    // Folded name to the first actual name in sorted order: read only once a
    // look-up needs the actual name of a name held in another case.
    std::unique_ptr<std::map<std::u16string, std::string>> actual;
};

// The 32-bit hash a listing keeps of a name already folded to one case.
uint32_t FoldedNameHash(const std::u16string& folded);

// The hash of a host path (or name) folded to one case.
uint32_t FoldedPathHash(const std::string& hostPath);

// Adds `name` (the host's encoding) to `listing`.
void AddName(DirectoryListing& listing, const std::string& name);

// Adds every name in the host directory `directory` to `listing`; false when
// it cannot be read.
bool ReadNames(const std::string& directory, DirectoryListing& listing);

// The actual name in `directory` of the folded name `folded`, the first in
// sorted order; nullptr when there is none.
const std::string* ActualName(DirectoryListing& listing, const std::string& directory, const std::u16string& folded);

}  // namespace platform
