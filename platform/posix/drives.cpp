// Drive paths on a Linux host, resolved the way Wine resolves them: each
// drive letter is an entry of $WINEPREFIX/dosdevices, Z: falls back to "/",
// and a component that is not there under its exact name is looked up
// ignoring case, as CD file systems often change the case of names.
#include "platform/drives.h"

#include "platform/kernel.h"
#include "platform/runtime.h"
#include "platform/posix/drive_listings.h"
#include "platform/posix/host_io.h"

#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <map>
#include <mutex>
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

// The host folder of a drive's root, or nothing when the drive is not mapped.
std::optional<std::string> DriveRoot(char drive) {
    std::string entry = DosDeviceEntry(drive);
    if (IsHostDirectory(entry)) {
        return entry;
    }
    if (drive == kFallbackDrive) {
        return std::string("/");
    }
    return std::nullopt;
}

std::string CurrentFolder() {
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string("/");
}

// The host folder of the current drive's root: the drive that holds the
// current folder, else C:.
std::optional<std::string> CurrentDriveRoot() {
    const std::string current = HostPathToDosPath(CurrentFolder());
    std::optional<std::string> root = DriveRoot(ToLower(current[0]));
    return root ? root : DriveRoot(kDefaultDrive);
}

// Where a drive path starts, and what follows: "X:rest" starts at drive X's
// root, "\rest" at the current drive's root, "rest" in the current folder.
struct PathStart {
    uint32_t error = NO_ERROR;        // ERROR_PATH_NOT_FOUND: it starts nowhere
    std::optional<std::string> root;  // the host folder; nothing for the current folder
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
        existing = ParentFolder(existing);
    }
    const std::string full = std::string(resolved) + tail;
    return full.empty() ? absolute : full;
}

// A mapped drive and the host folder of its root.
struct HoldingDrive {
    char letter;
    std::string root;
};

// The mapped drive whose root holds `full` (resolved), the innermost where
// several do; Z: at "/" where none does.
HoldingDrive DriveHolding(const std::string& full) {
    HoldingDrive best{kFallbackDrive, "/"};
    char resolved[PATH_MAX];
    for (char drive = 'a'; drive < kFallbackDrive; ++drive) {
        const std::string entry = DosDeviceEntry(drive);
        if (realpath(entry.c_str(), resolved) == nullptr) {
            continue;
        }
        std::string target = resolved;
        const bool inside = full == target || (full.rfind(target, 0) == 0 && (target == "/" || full[target.size()] == '/'));
        if (inside && (best.letter == kFallbackDrive || target.size() > best.root.size())) {
            best = {drive, std::move(target)};
        }
    }
    return best;
}

// Folder listings by host path, each keyed by case-folded name, so that a
// name written anew into a large folder does not cost a read of the whole
// folder every time. A listing stands while the folder keeps its identity
// and modification time; names this process creates are added as they are
// made (NoteHostEntryCreated), which keeps the listing of a folder being
// filled good.
struct FolderListing {
    dev_t device = 0;
    ino_t inode = 0;
    timespec modified{};
    std::map<std::u16string, std::string> byFoldedName;  // the first actual name in sorted order
};

constexpr std::size_t kMaxCachedFolders = 256;

std::mutex listingsLock;
std::unordered_map<std::string, FolderListing> listings;

bool SameState(const FolderListing& listing, const struct stat& info) {
    return listing.device == info.st_dev && listing.inode == info.st_ino &&
           listing.modified.tv_sec == info.st_mtim.tv_sec && listing.modified.tv_nsec == info.st_mtim.tv_nsec;
}

void AddName(FolderListing& listing, const std::string& name) {
    auto [slot, added] = listing.byFoldedName.emplace(FoldTextCase(Utf8ToText(name)), name);
    if (!added && name < slot->second) {
        slot->second = name;
    }
}

// The listing of `folder` as it is now; nullptr when it cannot be read.
const FolderListing* CurrentListing(const std::string& folder) {
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return nullptr;
    }
    auto found = listings.find(folder);
    if (found != listings.end() && SameState(found->second, info)) {
        return &found->second;
    }
    DIR* directory = opendir(folder.c_str());
    if (directory == nullptr) {
        return nullptr;
    }
    if (listings.size() >= kMaxCachedFolders && found == listings.end()) {
        listings.clear();
    }
    FolderListing& listing = listings[folder];
    listing = FolderListing{info.st_dev, info.st_ino, info.st_mtim, {}};
    while (const dirent* item = readdir(directory)) {
        AddName(listing, item->d_name);
    }
    closedir(directory);
    return &listing;
}

// `name` inside `folder`: the exact name when it exists, else the first entry
// (in sorted order, so the choice is stable) that differs only in case, else
// the name as given.
std::string FindComponent(const std::string& folder, const std::string& name) {
    const std::string exact = JoinHostPath(folder, name);
    if (Exists(exact)) {
        return exact;
    }
    std::lock_guard<std::mutex> hold(listingsLock);
    const FolderListing* listing = CurrentListing(folder);
    if (listing == nullptr) {
        return exact;
    }
    const auto match = listing->byFoldedName.find(FoldTextCase(Utf8ToText(name)));
    return match == listing->byFoldedName.end() ? exact : JoinHostPath(folder, match->second);
}

}  // namespace

std::string WinePrefix() {
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix != nullptr && *prefix != '\0') {
        return prefix;
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.wine";
}

std::optional<std::string> DosPathToHostPath(std::string_view DosPath, uint32_t* Error) {
    PathStart start = StartOf(DosPath);
    std::vector<std::string> components;
    const uint32_t error = start.error != NO_ERROR ? start.error : NormalisedComponents(start.rest, components);
    if (error != NO_ERROR) {
        if (Error != nullptr) {
            *Error = error;
        }
        return std::nullopt;
    }
    std::string host = start.root ? std::move(*start.root) : CurrentFolder();
    for (const auto& component : components) {
        host = FindComponent(host, component);
    }
    return host;
}

std::string HostPathToDosPath(std::string_view HostPath) {
    std::string absolute(HostPath);
    if (absolute.empty() || absolute[0] != '/') {
        absolute = CurrentFolder() + "/" + absolute;
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
    const std::string folder = ParentFolder(hostPath);
    std::lock_guard<std::mutex> hold(listingsLock);
    auto found = listings.find(folder);
    struct stat info {};
    if (found == listings.end()) {
        return;
    }
    if (stat(folder.c_str(), &info) != 0) {
        listings.erase(found);
        return;
    }
    found->second.modified = info.st_mtim;
    AddName(found->second, LastComponent(hostPath));
}

}  // namespace platform
