// SPDX-License-Identifier: MIT
// Reading the mount table the way Wine's mount manager does for discs.
#include "platform/posix/drive_letters.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <sstream>

namespace platform {

namespace {

constexpr char kFirstDiscLetter = 'd';
constexpr char kFallbackLetter = 'z';  // Z: is "/" in every prefix, never a disc

// The whitespace-separated fields of one mount-table line.
std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t at = 0;
    while (at < line.size()) {
        const std::size_t start = line.find_first_not_of(' ', at);
        if (start == std::string_view::npos) {
            break;
        }
        const std::size_t end = std::min(line.find(' ', start), line.size());
        fields.push_back(line.substr(start, end - start));
        at = end;
    }
    return fields;
}

// The kernel writes space, tab, newline and backslash in a path as "\ooo".
std::string Unescaped(std::string_view field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        const auto isOctal = [&](std::size_t k) { return k < field.size() && field[k] >= '0' && field[k] <= '7'; };
        if (field[i] == '\\' && isOctal(i + 1) && isOctal(i + 2) && isOctal(i + 3)) {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

}  // namespace

std::string ReadMountTable() {
    std::ifstream table("/proc/self/mountinfo");
    std::ostringstream text;
    text << table.rdbuf();
    return text.str();
}

bool IsDiscFileSystem(std::string_view type) {
    // fuseiso names itself "fuseiso" or, through fuse's -o subtype, by its
    // program name; fuseiso9660 and the iso9660 driver of archive mounters
    // show ISO images the same way.
    static constexpr std::array<std::string_view, 6> kDiscTypes = {
        "iso9660", "udf", "fuse.fuseiso", "fuseiso", "fuse.fuseiso9660", "fuse.iso9660",
    };
    return std::find(kDiscTypes.begin(), kDiscTypes.end(), type) != kDiscTypes.end();
}

std::vector<std::string> DiscMountPoints(std::string_view mountinfo) {
    // "id parent major:minor root mount-point options [optional...] - type source super-options"
    constexpr std::size_t kMountPointField = 4;
    std::vector<std::string> points;
    std::size_t at = 0;
    while (at < mountinfo.size()) {
        const std::size_t end = std::min(mountinfo.find('\n', at), mountinfo.size());
        const std::vector<std::string_view> fields = Fields(mountinfo.substr(at, end - at));
        at = end + 1;
        const auto dash = std::find(fields.begin(), fields.end(), "-");
        if (fields.size() <= kMountPointField || dash == fields.end() || dash + 1 == fields.end() ||
            dash - fields.begin() <= static_cast<std::ptrdiff_t>(kMountPointField)) {
            continue;
        }
        if (IsDiscFileSystem(*(dash + 1))) {
            points.push_back(Unescaped(fields[kMountPointField]));
        }
    }
    return points;
}

std::vector<ImpliedDrive> ImpliedDrives(const std::string& prefix, const std::map<char, std::string>& entries,
                                        std::string_view mountinfo) {
    std::vector<ImpliedDrive> drives;
    if (!entries.contains('c')) {
        drives.push_back({'c', prefix + "/drive_c"});
    }
    const auto taken = [&](char letter) {
        return entries.contains(letter) ||
               std::any_of(drives.begin(), drives.end(), [&](const ImpliedDrive& d) { return d.letter == letter; });
    };
    char next = kFirstDiscLetter;
    for (const std::string& point : DiscMountPoints(mountinfo)) {
        const bool reached =
            std::any_of(entries.begin(), entries.end(), [&](const auto& e) { return e.second == point; }) ||
            std::any_of(drives.begin(), drives.end(), [&](const ImpliedDrive& d) { return d.root == point; });
        if (reached) {
            continue;
        }
        while (next < kFallbackLetter && taken(next)) {
            ++next;
        }
        if (next >= kFallbackLetter) {
            break;
        }
        drives.push_back({next, point});
        ++next;
    }
    return drives;
}

}  // namespace platform
