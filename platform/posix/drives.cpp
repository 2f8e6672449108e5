// SPDX-License-Identifier: MIT
// Drive paths on this host's disk: the rules of drive_paths.h over the
// prefix's drives (drive_letters.h) and the directories as they are, where a
// component not there under its exact name is looked up ignoring case, as CD
// file systems often change the case of names. Inside a walk, what the walk
// knows (walk_memory.h) answers first.
#include "platform/drives.h"

#include "platform/kernel.h"
#include "platform/posix/drive_letters.h"
#include "platform/posix/drive_paths.h"
#include "platform/posix/walk_memory.h"
#include "platform/runtime.h"

#include <sys/stat.h>

namespace platform {

namespace {

bool Exists(const std::string& hostPath) {
    struct stat info {};
    return lstat(hostPath.c_str(), &info) == 0;
}

// The host directory whose names are looked up exactly, as the drive path a
// tool's walks are given resolves; empty for none. Set by a tool before its
// walks, for the whole process.
std::string exactDirectory;

bool InExactDirectory(const std::string& directory) {
    return !exactDirectory.empty() && directory.starts_with(exactDirectory) &&
           (directory.size() == exactDirectory.size() || directory[exactDirectory.size()] == '/' ||
            exactDirectory == "/");
}

// The disk as drive resolution sees it, with what a walk knows of it when
// there is a walk: a directory's listing is then read once in the walk.
class Disk final : public HostDirectories {
public:
    explicit Disk(WalkMemory* walk) : walk_(walk) {}

    std::optional<std::string> driveRoot(char drive) override { return DriveRoot(drive); }
    std::optional<std::string> currentDriveRoot() override { return CurrentDriveRoot(); }
    std::string currentDirectory() override { return CurrentDirectory(); }
    FoundName find(const std::string& directory, const std::string& name) override {
        return lookUp(directory, name, false);
    }

    // As find; with `listingFirst` the directory's listing is asked before
    // the disk, so that inside a walk a name that is not there costs no
    // system call; otherwise the exact name is looked for first.
    FoundName lookUp(const std::string& directory, const std::string& name, bool listingFirst) {
        std::string exact = JoinHostPath(directory, name);
        if (InExactDirectory(directory)) {
            const bool exists = Exists(exact);
            return {std::move(exact), exists};
        }
        if (!listingFirst && Exists(exact)) {
            return {std::move(exact), true};
        }
        DirectoryListing unkept;
        DirectoryListing* listing =
            walk_ != nullptr ? walk_->listing(directory) : (ReadNames(directory, unkept) ? &unkept : nullptr);
        if (listing == nullptr) {
            const bool exists = listingFirst && Exists(exact);
            return {std::move(exact), exists};
        }
        const std::u16string folded = FoldTextCase(Utf8ToText(name));
        if (!listing->folded.mayHold(FoldedNameHash(folded))) {
            return {std::move(exact), false};
        }
        if (listingFirst && Exists(exact)) {
            return {std::move(exact), true};
        }
        const std::string* actual = ActualName(*listing, directory, folded);
        return actual != nullptr ? FoundName{JoinHostPath(directory, *actual), true}
                                 : FoundName{std::move(exact), false};
    }

private:
    WalkMemory* walk_;
};

// `name` (the host's encoding) inside a directory the walk resolved: one the
// walk made holds only what it marked, so a name not marked is not there, at
// no cost; any other asks the directory's listing before the disk.
FoundName LookUpInWalk(WalkMemory& walk, Disk& disk, const ResolvedDirectory& directory, const std::string& name) {
    const std::string host = directory.host();
    if (!directory.made) {
        return disk.lookUp(host, name, true);
    }
    std::string exact = JoinHostPath(host, name);
    if (!walk.mayHaveMade(exact)) {
        return {std::move(exact), false};
    }
    return disk.lookUp(host, name, false);
}

// The directory of the drive path `directoryPath` inside a walk: from the
// walk's memory, else from its parent's (itself found the same way) and one
// more level, and remembered when every level exists (a level still to be
// made may yet turn up in another case). A path that is not a plain chain of
// names under a drive ("X:", "X:\a\.\b") is resolved whole from its root.
// nullptr when a level is missing: `unremembered` then holds where it would be.
const ResolvedDirectory* DirectoryInWalk(WalkMemory& walk, Disk& disk, std::string_view directoryPath,
                                         std::string& unremembered, uint32_t& error) {
    if (const ResolvedDirectory* known = walk.directory(directoryPath)) {
        return known;
    }
    const auto split = DirectoryAndName(directoryPath);
    if (!split) {
        Resolution whole = ResolveDrivePath(directoryPath, disk);
        if (whole.error != NO_ERROR) {
            error = whole.error;
            return nullptr;
        }
        if (!whole.everyLevelExists) {
            unremembered = std::move(whole.host);
            return nullptr;
        }
        return walk.rememberDirectory(directoryPath, ResolvedDirectory::Whole(directoryPath, whole.host, false));
    }
    if (!IsValidComponent(split->second)) {
        error = ERROR_INVALID_NAME;
        return nullptr;
    }
    const std::string name = HostName(split->second);
    const ResolvedDirectory* parent = DirectoryInWalk(walk, disk, split->first, unremembered, error);
    if (parent == nullptr) {
        if (error == NO_ERROR) {
            unremembered = JoinHostPath(unremembered, name);
        }
        return nullptr;
    }
    FoundName found = LookUpInWalk(walk, disk, *parent, name);
    if (!found.exists) {
        unremembered = std::move(found.path);
        return nullptr;
    }
    return walk.rememberDirectory(directoryPath,
                                  ResolvedDirectory::Below(*parent, directoryPath, split->second, found.path, false));
}

// "X:...\name" inside a walk: the directory from the walk's memory, the last
// name from what the walk made or the directory's listing.
std::optional<std::string> ResolveInWalk(WalkMemory& walk, std::string_view directoryPath, std::string_view name,
                                         uint32_t& error) {
    walk.forgetIfFull();
    Disk disk(&walk);
    std::string unremembered;
    const ResolvedDirectory* directory = DirectoryInWalk(walk, disk, directoryPath, unremembered, error);
    if (directory == nullptr && error != NO_ERROR) {
        return std::nullopt;
    }
    if (!IsValidComponent(name)) {
        error = ERROR_INVALID_NAME;
        return std::nullopt;
    }
    const std::string host = HostName(name);
    // Nothing is in a directory that is not there.
    return directory == nullptr ? JoinHostPath(unremembered, host) : LookUpInWalk(walk, disk, *directory, host).path;
}

}  // namespace

std::optional<std::string> ResolveOnDisk(std::string_view dosPath, WalkMemory* walk, uint32_t* error) {
    uint32_t failure = NO_ERROR;
    std::optional<std::string> host;
    const auto split = walk != nullptr ? DirectoryAndName(dosPath) : std::nullopt;
    if (split) {
        host = ResolveInWalk(*walk, split->first, split->second, failure);
    } else {
        Disk disk(walk);
        Resolution resolution = ResolveDrivePath(dosPath, disk);
        failure = resolution.error;
        if (failure == NO_ERROR) {
            host = std::move(resolution.host);
        }
    }
    if (!host && error != nullptr) {
        *error = failure;
    }
    return host;
}

std::optional<std::string> DosPathToHostPath(std::string_view DosPath, uint32_t* Error) {
    return ResolveOnDisk(DosPath, WalkMemory::ForThisThread(), Error);
}

void LookUpNamesExactlyIn(std::string_view DosDirectory) {
    // As the walks will resolve paths below it, through the drive's root.
    Disk disk(nullptr);
    std::string host = DosDirectory.empty() ? std::string() : ResolveDrivePath(DosDirectory, disk).host;
    while (host.size() > 1 && host.back() == '/') {
        host.pop_back();
    }
    exactDirectory = std::move(host);
}

}  // namespace platform
