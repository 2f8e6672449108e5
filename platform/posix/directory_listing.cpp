// SPDX-License-Identifier: MIT
// A directory's names for case-insensitive look-ups (see directory_listing.h).
#include "platform/posix/directory_listing.h"

#include "platform/runtime.h"

#include <dirent.h>

namespace platform {

uint32_t FoldedNameHash(const std::u16string& folded) {
    const uint64_t wide = TextHash64(folded);
    return static_cast<uint32_t>(wide ^ (wide >> 32));
}

uint32_t FoldedPathHash(const std::string& hostPath) { return FoldedNameHash(FoldTextCase(Utf8ToText(hostPath))); }

void AddName(DirectoryListing& listing, const std::string& name) {
    std::u16string folded = FoldTextCase(Utf8ToText(name));
    listing.folded.insert(FoldedNameHash(folded));
    if (listing.actual) {
        auto [slot, added] = listing.actual->emplace(std::move(folded), name);
        if (!added && name < slot->second) {
            slot->second = name;
        }
    }
}

bool ReadNames(const std::string& directory, DirectoryListing& listing) {
    DIR* stream = opendir(directory.c_str());
    if (stream == nullptr) {
        return false;
    }
    while (const dirent* item = readdir(stream)) {
        AddName(listing, item->d_name);
    }
    closedir(stream);
    return true;
}

const std::string* ActualName(DirectoryListing& listing, const std::string& directory, const std::u16string& folded) {
    if (!listing.actual) {
        listing.actual = std::make_unique<std::map<std::u16string, std::string>>();
        ReadNames(directory, listing);
    }
    const auto match = listing.actual->find(folded);
    return match == listing.actual->end() ? nullptr : &match->second;
}

}  // namespace platform
