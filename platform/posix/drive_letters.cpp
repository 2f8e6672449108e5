// SPDX-License-Identifier: MIT
// Drive letters on a Linux host as Wine gives them: each is an entry of
// $WINEPREFIX/dosdevices, Z: falls back to "/", and a letter without an entry
// is what Wine implies for it, C: the prefix's drive_c and the discs of the
// mount table read the way Wine's mount manager reads it.
#include "platform/posix/drive_letters.h"

#include "platform/drives.h"
#include "platform/posix/host_io.h"
#include "platform/runtime.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr char kFirstDiscLetter = 'd';
constexpr char kFallbackLetter = 'z';  // Z: is "/" in every prefix, never a disc
constexpr char kSystemLetter = 'c';

bool Exists(const std::string& hostPath) {
    struct stat info {};
    return lstat(hostPath.c_str(), &info) == 0;
}

std::string DosDeviceEntry(char drive) { return WinePrefix() + "/dosdevices/" + std::string(1, drive) + ":"; }

// The prefix's dosdevices entries, a..y: each letter that has one, to the
// directory it leads to (empty when it leads nowhere, or not to a directory).
std::map<char, std::string> DosDeviceEntries() {
    std::map<char, std::string> entries;
    char resolved[PATH_MAX];
    for (char drive = 'a'; drive < kFallbackLetter; ++drive) {
        const std::string entry = DosDeviceEntry(drive);
        if (!Exists(entry)) {
            continue;
        }
        entries[drive] = realpath(entry.c_str(), resolved) != nullptr && IsHostDirectory(resolved) ? resolved : "";
    }
    return entries;
}

// The letters Wine implies for this prefix's missing entries.
std::vector<ImpliedDrive> CurrentImpliedDrives(const std::map<char, std::string>& entries) {
    return ImpliedDrives(WinePrefix(), entries, ReadMountTable());
}

}  // namespace

std::optional<std::string> DriveRoot(char drive) {
    std::string entry = DosDeviceEntry(drive);
    if (IsHostDirectory(entry)) {
        return entry;
    }
    if (drive == kFallbackLetter) {
        return std::string("/");
    }
    if (Exists(entry)) {
        return std::nullopt;  // an entry that leads nowhere is still the drive's entry
    }
    for (ImpliedDrive& implied : CurrentImpliedDrives(DosDeviceEntries())) {
        if (implied.letter == drive) {
            return std::move(implied.root);
        }
    }
    return std::nullopt;
}

std::string CurrentDirectory() {
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string("/");
}

std::optional<std::string> CurrentDriveRoot() {
    const std::string current = HostPathToDosPath(CurrentDirectory());
    const char letter = current[0] >= 'A' && current[0] <= 'Z' ? static_cast<char>(current[0] - 'A' + 'a') : current[0];
    std::optional<std::string> root = DriveRoot(letter);
    return root ? root : DriveRoot(kSystemLetter);
}

namespace {

// `absolute` with its longest existing ancestor resolved, so that links
// (dosdevices entries among them) compare by their targets; the rest is kept
// as written.
std::string WithExistingPartResolved(const std::string& absolute) {
    std::string existing = absolute;
    std::string tail;
    char resolved[PATH_MAX];
    while (realpath(existing.c_str(), resolved) == nullptr) {
        if (existing == "/") {
            resolved[0] = '\0';
            break;
        }
        tail = std::string("/").append(LastComponent(existing)).append(tail);
        existing = ParentDirectory(existing);
    }
    const std::string full = std::string(resolved) + tail;
    return full.empty() ? absolute : full;
}

// A mapped drive and the host directory of its root.
struct HoldingDrive {
    char letter;
    std::string root;
};

// The mapped drive whose root holds `full` (resolved), the innermost where
// several do; Z: at "/" where none does.
HoldingDrive DriveHolding(const std::string& full) {
    HoldingDrive best{kFallbackLetter, "/"};
    const auto consider = [&](char drive, std::string target) {
        const bool inside =
            full == target || (full.rfind(target, 0) == 0 && (target == "/" || full[target.size()] == '/'));
        if (inside && (best.letter == kFallbackLetter || target.size() > best.root.size())) {
            best = {drive, std::move(target)};
        }
    };
    const std::map<char, std::string> entries = DosDeviceEntries();
    for (const auto& [drive, target] : entries) {
        if (!target.empty()) {
            consider(drive, target);
        }
    }
    for (const ImpliedDrive& implied : CurrentImpliedDrives(entries)) {
        consider(implied.letter, WithExistingPartResolved(implied.root));
    }
    return best;
}

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

std::optional<std::string> ImpliedSystemDriveRoot() {
    if (Exists(DosDeviceEntry(kSystemLetter))) {
        return std::nullopt;
    }
    return WinePrefix() + "/drive_c";
}

std::string WinePrefix() {
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix != nullptr && *prefix != '\0') {
        return prefix;
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.wine";
}

std::string HostPathToDosPath(std::string_view HostPath) {
    std::string absolute(HostPath);
    if (absolute.empty() || absolute[0] != '/') {
        absolute = CurrentDirectory() + "/" + absolute;
    }
    const std::string full = WithExistingPartResolved(absolute);
    const HoldingDrive drive = DriveHolding(full);
    const std::string rest = full.substr(drive.root == "/" ? 0 : drive.root.size());
    std::string dos = std::string(1, static_cast<char>(drive.letter - 'a' + 'A')) + ":";
    for (char c : TextToAnsi(Utf8ToText(rest))) {
        dos += c == '/' ? '\\' : c;
    }
    if (dos.size() == 2) {
        dos += '\\';
    }
    return dos;
}

}  // namespace platform
