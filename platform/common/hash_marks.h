// SPDX-License-Identifier: MIT
// A set of hashes in open addressing: what a walk remembers by the thousand
// (directories made, names written) at a few bytes each instead of a node and a
// copy of every path. A hash only says a text may have been marked: callers
// use it where a false "marked" costs a look at the disk or a clear error,
// never a wrong file.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace platform {

// The one bound on what a walk remembers of the disk: the directories it
// made, found, listed and swept and the entries it wrote count together, and
// past this many the walk forgets all of it at once and asks the disk again.
// A cabinet holds at most 65,535 entries; the bound keeps a walk's marks of
// what it made within 128 Ki slots of 4 bytes.
inline constexpr std::size_t kWalkMemoryMarks = 98304;

template <typename Hash>
class HashMarks {
public:
    bool mayHold(Hash hash) const {
        hash = Stored(hash);
        if (slots_.empty()) {
            return false;
        }
        for (std::size_t at = hash & (slots_.size() - 1);; at = (at + 1) & (slots_.size() - 1)) {
            if (slots_[at] == hash) {
                return true;
            }
            if (slots_[at] == kEmpty) {
                return false;
            }
        }
    }

    void insert(Hash hash) {
        if ((used_ + 1) * 4 > slots_.size() * 3) {
            std::vector<Hash> old(std::max<std::size_t>(kFirstSize, slots_.size() * 2), kEmpty);
            old.swap(slots_);
            used_ = 0;
            for (const Hash kept : old) {
                if (kept != kEmpty) {
                    place(kept);
                }
            }
        }
        place(Stored(hash));
    }

    std::size_t size() const { return used_; }

    void clear() {
        slots_.clear();
        slots_.shrink_to_fit();
        used_ = 0;
    }

private:
    static constexpr Hash kEmpty = 0;
    static constexpr std::size_t kFirstSize = 4;  // most directories hold a few names

    static Hash Stored(Hash hash) { return hash == kEmpty ? 1 : hash; }

    void place(Hash hash) {
        std::size_t at = hash & (slots_.size() - 1);
        while (slots_[at] != kEmpty) {
            if (slots_[at] == hash) {
                return;
            }
            at = (at + 1) & (slots_.size() - 1);
        }
        slots_[at] = hash;
        ++used_;
    }

    std::vector<Hash> slots_;  // a power of two of them, at most three quarters used
    std::size_t used_ = 0;
};

// FNV-1a, the same on every build (std::hash differs between libraries and
// is 32 bits on a 32-bit one): over bytes, or over a text's UTF-16 units,
// each as its two bytes.
inline uint64_t BytesHash64(std::string_view bytes) {
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : bytes) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    }
    return hash;
}

inline uint64_t TextHash64(std::u16string_view text) {
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char16_t unit : text) {
        hash = (hash ^ (unit & 0xFFu)) * 0x100000001b3ULL;
        hash = (hash ^ (static_cast<unsigned>(unit) >> 8)) * 0x100000001b3ULL;
    }
    return hash;
}

}  // namespace platform
