// SPDX-License-Identifier: MIT
// Drive paths on a Linux host, resolved the way Wine resolves them: each
// drive letter is an entry of $WINEPREFIX/dosdevices, Z: falls back to "/",
// a letter without an entry is what Wine implies for it (drive_letters.h),
// and a component that is not there under its exact name is looked up
// ignoring case, as CD file systems often change the case of names.
#include "platform/drives.h"

#include "platform/common/hash_marks.h"
#include "platform/kernel.h"
#include "platform/posix/drive_letters.h"
#include "platform/posix/drive_listings.h"
#include "platform/posix/host_io.h"
#include "platform/runtime.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace platform {

namespace {

constexpr char kFallbackDrive = 'z';
constexpr char kDefaultDrive = 'c';

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsDriveLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

char ToLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool Exists(const std::string& hostPath) {
    struct stat info {};
    return lstat(hostPath.c_str(), &info) == 0;
}

// Characters a Windows file name cannot hold; ':' only after a drive letter.
bool IsValidComponent(std::string_view component) {
    for (char c : component) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '?' || c == '*') {
            return false;
        }
    }
    return true;
}

std::string DosDeviceEntry(char drive) { return WinePrefix() + "/dosdevices/" + std::string(1, drive) + ":"; }

// The prefix's dosdevices entries, a..y: each letter that has one, to the
// directory it leads to (empty when it leads nowhere, or not to a directory).
std::map<char, std::string> DosDeviceEntries() {
    std::map<char, std::string> entries;
    char resolved[PATH_MAX];
    for (char drive = 'a'; drive < kFallbackDrive; ++drive) {
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

// The host directory of a drive's root, or nothing when the drive is not mapped.
std::optional<std::string> DriveRoot(char drive) {
    std::string entry = DosDeviceEntry(drive);
    if (IsHostDirectory(entry)) {
        return entry;
    }
    if (drive == kFallbackDrive) {
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

// The host directory of the current drive's root: the drive that holds the
// current directory, else C:.
std::optional<std::string> CurrentDriveRoot() {
    const std::string current = HostPathToDosPath(CurrentDirectory());
    std::optional<std::string> root = DriveRoot(ToLower(current[0]));
    return root ? root : DriveRoot(kDefaultDrive);
}

// Where a drive path starts, and what follows: "X:rest" starts at drive X's
// root, "\rest" at the current drive's root, "rest" in the current directory.
struct PathStart {
    uint32_t error = NO_ERROR;        // ERROR_PATH_NOT_FOUND: it starts nowhere
    std::optional<std::string> root;  // the host directory; nothing for the current directory
    std::string_view rest;
};

PathStart StartOf(std::string_view dosPath) {
    if (dosPath.empty()) {
        return {ERROR_PATH_NOT_FOUND, std::nullopt, {}};
    }
    if (dosPath.size() >= 2 && IsDriveLetter(dosPath[0]) && dosPath[1] == ':') {
        std::optional<std::string> root = DriveRoot(ToLower(dosPath[0]));
        return {root ? NO_ERROR : ERROR_PATH_NOT_FOUND, std::move(root), dosPath.substr(2)};
    }
    if (dosPath.size() >= 2 && IsSeparator(dosPath[0]) && IsSeparator(dosPath[1])) {
        return {ERROR_PATH_NOT_FOUND, std::nullopt, {}};  // network paths lead nowhere on this host
    }
    if (IsSeparator(dosPath[0])) {
        std::optional<std::string> root = CurrentDriveRoot();
        return {root ? NO_ERROR : ERROR_PATH_NOT_FOUND, std::move(root), dosPath};
    }
    return {NO_ERROR, std::nullopt, dosPath};
}

// The components of `rest` in the host's encoding, with "." dropped and ".."
// taking one back (never above the root), as Windows normalises a path
// before it looks at the disk. ERROR_INVALID_NAME for a component that no
// Windows name can be.
uint32_t NormalisedComponents(std::string_view rest, std::vector<std::string>& components) {
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = start;
        while (end < rest.size() && !IsSeparator(rest[end])) {
            ++end;
        }
        const std::string_view component = rest.substr(start, end - start);
        if (component == "..") {
            if (!components.empty()) {
                components.pop_back();
            }
        } else if (!component.empty() && component != ".") {
            if (!IsValidComponent(component)) {
                return ERROR_INVALID_NAME;
            }
            components.push_back(TextToUtf8(AnsiToText(component)));
        }
        start = end + 1;
    }
    return NO_ERROR;
}

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
    HoldingDrive best{kFallbackDrive, "/"};
    const auto consider = [&](char drive, std::string target) {
        const bool inside =
            full == target || (full.rfind(target, 0) == 0 && (target == "/" || full[target.size()] == '/'));
        if (inside && (best.letter == kFallbackDrive || target.size() > best.root.size())) {
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

// A directory's names folded to one case, as 32-bit hashes: at most three
// quarters of the slots used, so that the listing of a directory of 65,535
// entries costs half a megabyte, and one of the ten names a typical
// installed directory holds 64 bytes. A hash only says a name may be there; the
// disk decides: a false match among 2^32 costs one look at the disk.
using FoldedNameSet = HashMarks<uint32_t>;

uint32_t NameHash(const std::u16string& folded) {
    const uint64_t wide = TextHash64(folded);
    return static_cast<uint32_t>(wide ^ (wide >> 32));
}

// A directory a DrivePathScope has resolved: its last name as the drive path
// spells it and on the host, below its parent's record (or whole paths, for
// one resolved from its root), and whether the scope made it, so that it
// held nothing but what the scope has written into it since. A cabinet's
// thousands of directories then cost their names, not their paths twice over.
struct ScopeDirectory {
    ScopeDirectory(const ScopeDirectory* above, std::string_view dos, std::string_view host, char separatorBefore,
                   bool madeHere)
        : parent(above),
          separator(separatorBefore),
          made(madeHere),
          sameNames_(host == dos),  // as most directories are: kept once
          dosLength_(static_cast<uint32_t>(dos.size())),
          names_(dos) {
        if (!sameNames_) {
            names_ += host;
        }
    }

    // A directory resolved from its drive's root: whole paths, no parent.
    static ScopeDirectory Whole(std::string_view dosPath, std::string_view hostPath, bool made) {
        return {nullptr, dosPath, hostPath, '\\', made};
    }

    // The whole drive path / host path when there is no parent.
    std::string_view dosName() const { return std::string_view(names_).substr(0, dosLength_); }
    std::string_view hostName() const { return sameNames_ ? names_ : std::string_view(names_).substr(dosLength_); }

    bool spells(std::string_view dosPath) const {
        const std::string_view dos = dosName();
        if (parent == nullptr) {
            return dosPath == dos;
        }
        if (dosPath.size() <= dos.size() || !dosPath.ends_with(dos)) {
            return false;
        }
        const std::size_t at = dosPath.size() - dos.size() - 1;
        return dosPath[at] == separator && parent->spells(dosPath.substr(0, at));
    }

    std::string host() const {
        return parent == nullptr ? std::string(hostName()) : JoinHostPath(parent->host(), hostName());
    }

    const ScopeDirectory* parent;
    char separator;  // between the parent's drive path and the name
    bool made;

private:
    bool sameNames_;
    uint32_t dosLength_;
    std::string names_;  // the drive name, then the host name unless it is the same
};

// The directories a scope has resolved, by a hash of their drive path. A record
// answers only for a path it spells: a path whose hash another holds is kept
// whole on the side, so a shared hash never leads to another directory. Records
// stay where they are until the whole memory is cleared, as children point
// to their parents.
class ScopeDirectories {
public:
    const ScopeDirectory* find(std::string_view dosPath) const {
        if (const auto found = byHash_.find(Hash(dosPath)); found != byHash_.end() && found->second.spells(dosPath)) {
            return &found->second;
        }
        const auto aside = clashing_.find(std::string(dosPath));
        return aside != clashing_.end() ? &aside->second : nullptr;
    }

    // Records `directory` for `dosPath`, in place of a record it had; returns
    // the record.
    const ScopeDirectory* remember(std::string_view dosPath, ScopeDirectory directory) {
        const uint64_t hash = Hash(dosPath);
        const auto slot = byHash_.find(hash);
        if (slot == byHash_.end()) {
            return &byHash_.emplace(hash, std::move(directory)).first->second;
        }
        if (slot->second.spells(dosPath) && directory.parent != &slot->second) {
            // In place: records below it stay good, as they hold only their own names.
            slot->second = std::move(directory);
            return &slot->second;
        }
        return &clashing_
                    .insert_or_assign(std::string(dosPath),
                                      ScopeDirectory::Whole(dosPath, directory.host(), directory.made))
                    .first->second;
    }

    void clear() {
        byHash_.clear();
        clashing_.clear();
    }

private:
    static uint64_t Hash(std::string_view dosPath) { return BytesHash64(dosPath); }

    std::unordered_map<uint64_t, ScopeDirectory> byHash_;
    std::unordered_map<std::string, ScopeDirectory> clashing_;
};

// The record of a directory one level below `parent`, named `dosName` in the
// drive path `dosPath` and at `host` on the host (which JoinHostPath made
// from the parent's host directory).
ScopeDirectory Below(const ScopeDirectory& parent, std::string_view dosPath, std::string_view dosName,
                     const std::string& host, bool made) {
    return {&parent, dosName, LastComponent(host), dosPath[dosPath.size() - dosName.size() - 1], made};
}

// What a DrivePathScope keeps for its thread.
struct ScopeMemory {
    uint64_t generation = 0;  // unique to this scope: listings checked in it carry it
    // Drive paths of directories whose every level exists.
    ScopeDirectories directories;
    // The host paths of everything made in the scope, folded to one case and
    // hashed: a name looked up in a directory the scope made can only be there
    // if it was marked here, so only a marked one costs a look at the disk
    // (as does a false match, one in 2^32 / marks). About 8 bytes a file or
    // directory: a made directory needs no listing of its own.
    HashMarks<uint32_t> created;
    // The host directory written into last, and a descriptor of it once a
    // second entry in a row goes there.
    std::string openDirectory;
    std::shared_ptr<const UniqueFd> openDirectoryFd;
};

// Past this many marks (half a megabyte) the scope forgets what it made, and
// the directories with it: they are looked up again like any other, on the disk.
// A cabinet holds at most 65,535 entries.
constexpr std::size_t kMaxCreatedMarks = 65536 + 8192;

uint32_t FoldedPathHash(const std::string& hostPath) { return NameHash(FoldTextCase(Utf8ToText(hostPath))); }

thread_local std::unique_ptr<ScopeMemory> scopeMemory;
std::atomic<uint64_t> scopeGenerations{0};

// Directory listings by host path, so that a name written anew into a large
// directory does not cost a read of the whole directory every time. A listing
// stands while the directory keeps its identity and modification time; names
// this process creates are added as they are made (NoteHostEntryCreated),
// which keeps the listing of a directory being filled good. Inside a scope, a
// listing checked once in it is not checked again.
struct DirectoryListing {
    dev_t device = 0;
    ino_t inode = 0;
    timespec modified{};
    uint64_t checkedIn = 0;  // the scope generation that checked it last; 0 for none
    FoldedNameSet folded;
    // Folded name to the first actual name in sorted order: read only once a
    // look-up needs the actual name of a name held in another case.
    std::unique_ptr<std::map<std::u16string, std::string>> actual;
};

// Enough for every directory of a large cabinet, whose entries come in any
// order of directories: past this, the cache starts afresh and every directory is
// read again at its next use. A listing of a few dozen names takes about
// 700 bytes.
constexpr std::size_t kMaxCachedDirectories = 8192;

std::mutex listingsLock;
std::unordered_map<std::string, DirectoryListing> listings;

bool SameState(const DirectoryListing& listing, const struct stat& info) {
    return listing.device == info.st_dev && listing.inode == info.st_ino &&
           listing.modified.tv_sec == info.st_mtim.tv_sec && listing.modified.tv_nsec == info.st_mtim.tv_nsec;
}

void AddName(DirectoryListing& listing, const std::string& name) {
    std::u16string folded = FoldTextCase(Utf8ToText(name));
    listing.folded.insert(NameHash(folded));
    if (listing.actual) {
        auto [slot, added] = listing.actual->emplace(std::move(folded), name);
        if (!added && name < slot->second) {
            slot->second = name;
        }
    }
}

// Adds every name in `directory` to `listing`; false when it cannot be read.
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

// A fresh listing slot for `directory`, making room when the cache is full.
DirectoryListing& NewListing(const std::string& directory) {
    if (listings.size() >= kMaxCachedDirectories && listings.find(directory) == listings.end()) {
        listings.clear();
    }
    DirectoryListing& listing = listings[directory];
    listing = DirectoryListing{};
    return listing;
}

// The listing of `directory` as it is now; nullptr when it cannot be read.
DirectoryListing* CurrentListing(const std::string& directory) {
    const ScopeMemory* memory = scopeMemory.get();
    auto found = listings.find(directory);
    if (memory != nullptr && found != listings.end() && found->second.checkedIn == memory->generation) {
        return &found->second;
    }
    struct stat info {};
    if (stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return nullptr;
    }
    DirectoryListing* listing = nullptr;
    if (found != listings.end() && SameState(found->second, info)) {
        listing = &found->second;
    } else {
        listing = &NewListing(directory);
        *listing = DirectoryListing{info.st_dev, info.st_ino, info.st_mtim, 0, {}, nullptr};
        if (!ReadNames(directory, *listing)) {
            listings.erase(directory);
            return nullptr;
        }
    }
    listing->checkedIn = memory != nullptr ? memory->generation : 0;
    return listing;
}

// The actual name in `directory` of `folded`, the first in sorted order;
// nullptr when there is none.
const std::string* ActualName(DirectoryListing& listing, const std::string& directory, const std::u16string& folded) {
    if (!listing.actual) {
        listing.actual = std::make_unique<std::map<std::u16string, std::string>>();
        ReadNames(directory, listing);
    }
    const auto match = listing.actual->find(folded);
    return match == listing.actual->end() ? nullptr : &match->second;
}

// The host directory whose names are looked up exactly, as the drive path a
// walk is given resolves; empty for none. Set by a tool before its walks.
std::string exactDirectory;

bool InExactDirectory(const std::string& directory) {
    return !exactDirectory.empty() && directory.starts_with(exactDirectory) &&
           (directory.size() == exactDirectory.size() || directory[exactDirectory.size()] == '/' ||
            exactDirectory == "/");
}

// A component looked up in a directory, and whether it is there.
struct Component {
    std::string path;
    bool exists;
};

// `name` inside `directory`: the exact name when it exists, else the first entry
// (in sorted order, so the choice is stable) that differs only in case, else
// the name as given. With `listingFirst` the directory's listing is asked
// before the disk, so that inside a scope a name that is not there costs no
// system call; otherwise the exact name is looked for first.
Component FindComponent(const std::string& directory, const std::string& name, bool listingFirst) {
    std::string exact = JoinHostPath(directory, name);
    if (InExactDirectory(directory)) {
        const bool exists = Exists(exact);
        return {std::move(exact), exists};
    }
    if (!listingFirst && Exists(exact)) {
        return {std::move(exact), true};
    }
    std::lock_guard<std::mutex> hold(listingsLock);
    DirectoryListing* listing = CurrentListing(directory);
    if (listing == nullptr) {
        const bool exists = listingFirst && Exists(exact);
        return {std::move(exact), exists};
    }
    const std::u16string folded = FoldTextCase(Utf8ToText(name));
    if (!listing->folded.mayHold(NameHash(folded))) {
        return {std::move(exact), false};
    }
    if (listingFirst && Exists(exact)) {
        return {std::move(exact), true};
    }
    const std::string* actual = ActualName(*listing, directory, folded);
    return actual != nullptr ? Component{JoinHostPath(directory, *actual), true} : Component{std::move(exact), false};
}

// A drive path resolved level by level, and whether every level exists.
struct Resolution {
    uint32_t error = NO_ERROR;
    std::string host;
    bool everyLevelExists = true;
};

Resolution Resolve(std::string_view dosPath) {
    PathStart start = StartOf(dosPath);
    std::vector<std::string> components;
    const uint32_t error = start.error != NO_ERROR ? start.error : NormalisedComponents(start.rest, components);
    if (error != NO_ERROR) {
        return {error, {}, false};
    }
    Resolution resolution{NO_ERROR, start.root ? std::move(*start.root) : CurrentDirectory(), true};
    for (const auto& component : components) {
        Component found = FindComponent(resolution.host, component, false);
        resolution.host = std::move(found.path);
        resolution.everyLevelExists = resolution.everyLevelExists && found.exists;
    }
    return resolution;
}

// A drive path "X:...\name" as its directory and its last name, where the directory
// can stand for every name in it: nothing for a path relative to the current
// drive or directory, and for a last name that is empty, "." or "..".
std::optional<std::pair<std::string_view, std::string_view>> DirectoryAndName(std::string_view dosPath) {
    if (dosPath.size() < 2 || !IsDriveLetter(dosPath[0]) || dosPath[1] != ':') {
        return std::nullopt;
    }
    const std::size_t last = dosPath.find_last_of("\\/");
    if (last == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view name = dosPath.substr(last + 1);
    if (name.empty() || name == "." || name == "..") {
        return std::nullopt;
    }
    return std::pair{dosPath.substr(0, last), name};
}

// `name` (the host's encoding) inside `directory`: a directory the scope made holds
// only what the scope marked, so a name not marked is not there, at no cost;
// any other asks the directory's listing before the disk.
Component LookUpInScope(const ScopeMemory& memory, const ScopeDirectory& directory, const std::string& name) {
    const std::string host = directory.host();
    if (!directory.made) {
        return FindComponent(host, name, true);
    }
    std::string exact = JoinHostPath(host, name);
    if (!memory.created.mayHold(FoldedPathHash(exact))) {
        return {std::move(exact), false};
    }
    return FindComponent(host, name, false);
}

// The directory of the drive path `directoryPath` inside a scope: from the scope's
// memory, else from its parent's (itself found the same way) and one more
// level, and remembered when every level exists (a level still to be made may
// yet turn up in another case). A path that is not a plain chain of names
// under a drive ("X:", "X:\a\.\b") is resolved whole from its root.
// nullptr when a level is missing: `unremembered` then holds where it would be.
const ScopeDirectory* DirectoryInScope(ScopeMemory& memory, std::string_view directoryPath, std::string& unremembered,
                                       uint32_t& error) {
    if (const ScopeDirectory* known = memory.directories.find(directoryPath)) {
        return known;
    }
    const auto split = DirectoryAndName(directoryPath);
    if (!split || split->second == "." || split->second == "..") {
        Resolution whole = Resolve(directoryPath);
        if (whole.error != NO_ERROR) {
            error = whole.error;
            return nullptr;
        }
        if (!whole.everyLevelExists) {
            unremembered = std::move(whole.host);
            return nullptr;
        }
        return memory.directories.remember(directoryPath, ScopeDirectory::Whole(directoryPath, whole.host, false));
    }
    if (!IsValidComponent(split->second)) {
        error = ERROR_INVALID_NAME;
        return nullptr;
    }
    const std::string name = TextToUtf8(AnsiToText(split->second));
    const ScopeDirectory* parent = DirectoryInScope(memory, split->first, unremembered, error);
    if (parent == nullptr) {
        if (error == NO_ERROR) {
            unremembered = JoinHostPath(unremembered, name);
        }
        return nullptr;
    }
    Component found = LookUpInScope(memory, *parent, name);
    if (!found.exists) {
        unremembered = std::move(found.path);
        return nullptr;
    }
    return memory.directories.remember(directoryPath, Below(*parent, directoryPath, split->second, found.path, false));
}

// DosPathToHostPath inside a scope, for "X:...\name": the directory from the
// scope's memory, the last name from what the scope made or the directory's
// listing.
std::optional<std::string> ResolveInScope(ScopeMemory& memory, std::string_view directoryPath, std::string_view name,
                                          uint32_t& error) {
    std::string unremembered;
    const ScopeDirectory* directory = DirectoryInScope(memory, directoryPath, unremembered, error);
    if (directory == nullptr && error != NO_ERROR) {
        return std::nullopt;
    }
    if (!IsValidComponent(name)) {
        error = ERROR_INVALID_NAME;
        return std::nullopt;
    }
    const std::string host = TextToUtf8(AnsiToText(name));
    // Nothing is in a directory that is not there.
    return directory == nullptr ? JoinHostPath(unremembered, host) : LookUpInScope(memory, *directory, host).path;
}

}  // namespace

std::optional<std::string> ImpliedSystemDriveRoot() {
    if (Exists(DosDeviceEntry(kDefaultDrive))) {
        return std::nullopt;
    }
    return WinePrefix() + "/drive_c";
}

void LookUpNamesExactlyIn(std::string_view DosDirectory) {
    // As the walks will resolve paths below it, through the drive's root.
    std::string host = DosDirectory.empty() ? std::string() : Resolve(DosDirectory).host;
    while (host.size() > 1 && host.back() == '/') {
        host.pop_back();
    }
    exactDirectory = std::move(host);
}

std::string WinePrefix() {
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix != nullptr && *prefix != '\0') {
        return prefix;
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.wine";
}

std::optional<std::string> DosPathToHostPath(std::string_view DosPath, uint32_t* Error) {
    uint32_t error = NO_ERROR;
    std::optional<std::string> host;
    const auto split = scopeMemory != nullptr ? DirectoryAndName(DosPath) : std::nullopt;
    if (split) {
        host = ResolveInScope(*scopeMemory, split->first, split->second, error);
    } else if (Resolution resolution = Resolve(DosPath); resolution.error == NO_ERROR) {
        host = std::move(resolution.host);
    } else {
        error = resolution.error;
    }
    if (!host && Error != nullptr) {
        *Error = error;
    }
    return host;
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

namespace platform {

void NoteHostEntryCreated(const std::string& hostPath) {
    if (ScopeMemory* memory = scopeMemory.get()) {
        if (memory->created.size() >= kMaxCreatedMarks) {
            memory->created.clear();
            memory->directories.clear();
        }
        memory->created.insert(FoldedPathHash(hostPath));
    }
    const std::string directory = ParentDirectory(hostPath);
    std::lock_guard<std::mutex> hold(listingsLock);
    auto found = listings.find(directory);
    if (found == listings.end()) {
        return;
    }
    DirectoryListing& listing = found->second;
    const ScopeMemory* memory = scopeMemory.get();
    if (memory == nullptr || listing.checkedIn != memory->generation) {
        // Checked again at its next use: take this process's change into
        // its state, so that only others' changes make it read again.
        struct stat info {};
        if (stat(directory.c_str(), &info) != 0) {
            listings.erase(found);
            return;
        }
        listing.modified = info.st_mtim;
    }
    AddName(listing, LastComponent(hostPath));
}

void NoteHostDirectoryCreated(const std::string& hostPath, std::string_view dosPath) {
    NoteHostEntryCreated(hostPath);
    if (ScopeMemory* memory = scopeMemory.get()) {
        // Every level of it exists now, made or found by the resolution that
        // gave `hostPath`, and it holds only what this scope marks from now
        // on: the same drive path resolves there, and names in it are looked
        // up in the marks, as long as the scope lasts. Only the form an
        // entry's directory takes is worth keeping.
        if (const auto split = DirectoryAndName(dosPath)) {
            const ScopeDirectory* parent = memory->directories.find(split->first);
            const bool below = parent != nullptr && JoinHostPath(parent->host(), LastComponent(hostPath)) == hostPath;
            memory->directories.remember(dosPath, below ? Below(*parent, dosPath, split->second, hostPath, true)
                                                        : ScopeDirectory::Whole(dosPath, hostPath, true));
        }
        // A listing kept from before describes a directory that is gone.
        std::lock_guard<std::mutex> hold(listingsLock);
        listings.erase(hostPath);
    }
}

std::shared_ptr<const UniqueFd> ScopeDirectoryDescriptor(const std::string& hostDirectory) {
    ScopeMemory* memory = scopeMemory.get();
    if (memory == nullptr) {
        return nullptr;
    }
    if (memory->openDirectory != hostDirectory) {
        // Only a run of entries in one directory repays the open and the close:
        // a cabinet that spreads its entries over directories would pay both
        // for every entry.
        memory->openDirectory = hostDirectory;
        memory->openDirectoryFd.reset();
        return nullptr;
    }
    if (!memory->openDirectoryFd) {
        UniqueFd fd(::open(hostDirectory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        memory->openDirectoryFd = fd.valid() ? std::make_shared<const UniqueFd>(std::move(fd)) : nullptr;
    }
    return memory->openDirectoryFd;
}

DrivePathScope::DrivePathScope() : outermost_(scopeMemory == nullptr) {
    if (outermost_) {
        scopeMemory = std::make_unique<ScopeMemory>();
        scopeMemory->generation = scopeGenerations.fetch_add(1) + 1;
    }
}

DrivePathScope::~DrivePathScope() {
    if (outermost_) {
        scopeMemory.reset();
    }
}

}  // namespace platform
