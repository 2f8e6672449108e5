// SPDX-License-Identifier: MIT
// What one walk knows of the disk (see walk_memory.h), and the handlers'
// way to it (platform/walk.h).
#include "platform/posix/walk_memory.h"

#include "platform/posix/drive_paths.h"
#include "platform/walk.h"

#include <fcntl.h>

namespace platform {

namespace {

// The walk memory of this thread's walk: set by the outermost WalkMemory for
// its own length, the only way in for calls the walk's handlers make through
// the Win32 contract, which has no place to hand it on.
thread_local WalkMemory* thisThreadsWalk = nullptr;

uint64_t DosPathHash(std::string_view dosPath) { return BytesHash64(dosPath); }

}  // namespace

ResolvedDirectory::ResolvedDirectory(const ResolvedDirectory* above, std::string_view dos, std::string_view host,
                                     char separatorBefore, bool madeHere)
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

ResolvedDirectory ResolvedDirectory::Below(const ResolvedDirectory& parent, std::string_view dosPath,
                                           std::string_view dosName, const std::string& host, bool made) {
    return {&parent, dosName, LastComponent(host), dosPath[dosPath.size() - dosName.size() - 1], made};
}

bool ResolvedDirectory::spells(std::string_view dosPath) const {
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

std::string ResolvedDirectory::host() const {
    return parent == nullptr ? std::string(hostName()) : JoinHostPath(parent->host(), hostName());
}

WalkMemory::WalkMemory() : registered_(thisThreadsWalk == nullptr) {
    if (registered_) {
        thisThreadsWalk = this;
    }
}

WalkMemory::~WalkMemory() {
    if (registered_) {
        thisThreadsWalk = nullptr;
    }
}

WalkMemory* WalkMemory::ForThisThread() { return thisThreadsWalk; }

const ResolvedDirectory* WalkMemory::directory(std::string_view dosPath) const {
    if (const auto found = byHash_.find(DosPathHash(dosPath));
        found != byHash_.end() && found->second.spells(dosPath)) {
        return &found->second;
    }
    const auto aside = clashing_.find(std::string(dosPath));
    return aside != clashing_.end() ? &aside->second : nullptr;
}

const ResolvedDirectory* WalkMemory::rememberDirectory(std::string_view dosPath, ResolvedDirectory directory) {
    count(1);
    const uint64_t hash = DosPathHash(dosPath);
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
                                  ResolvedDirectory::Whole(dosPath, directory.host(), directory.made))
                .first->second;
}

bool WalkMemory::mayHaveMade(const std::string& hostPath) const { return made_.mayHold(FoldedPathHash(hostPath)); }

void WalkMemory::noteMade(const std::string& hostPath) {
    forgetIfFull();
    count(1);
    made_.insert(FoldedPathHash(hostPath));
    if (const auto found = listings_.find(ParentDirectory(hostPath)); found != listings_.end()) {
        AddName(found->second, LastComponent(hostPath));  // counted as the mark of what was made
    }
}

void WalkMemory::noteDirectoryMade(const std::string& hostPath, std::string_view dosPath) {
    noteMade(hostPath);
    // Only the form an entry's directory takes is worth keeping.
    if (const auto split = DirectoryAndName(dosPath)) {
        const ResolvedDirectory* parent = directory(split->first);
        const bool below = parent != nullptr && JoinHostPath(parent->host(), LastComponent(hostPath)) == hostPath;
        rememberDirectory(dosPath, below ? ResolvedDirectory::Below(*parent, dosPath, split->second, hostPath, true)
                                         : ResolvedDirectory::Whole(dosPath, hostPath, true));
    }
    listings_.erase(hostPath);  // a listing from before describes a directory that is gone
    markSwept(hostPath);        // a new directory holds no earlier run's temporaries
}

DirectoryListing* WalkMemory::listing(const std::string& hostDirectory) {
    if (const auto found = listings_.find(hostDirectory); found != listings_.end()) {
        return &found->second;
    }
    DirectoryListing read;
    if (!ReadNames(hostDirectory, read)) {
        return nullptr;
    }
    count(1);  // a listing is one directory's names: its size is the directory's, not the walk's
    return &listings_.emplace(hostDirectory, std::move(read)).first->second;
}

bool WalkMemory::markSwept(const std::string& hostDirectory) {
    const uint64_t hash = BytesHash64(hostDirectory);
    if (swept_.mayHold(hash)) {
        return false;
    }
    count(1);
    swept_.insert(hash);
    return true;
}

bool WalkMemory::handlerMadeOrFound(std::u16string_view directory) const {
    return handlerDirectories_.mayHold(TextHash64(directory));
}

void WalkMemory::noteHandlerMadeOrFound(std::u16string_view directory) {
    forgetIfFull();
    count(1);
    handlerDirectories_.insert(TextHash64(directory));
}

std::shared_ptr<const UniqueFd> WalkMemory::directoryDescriptor(const std::string& hostDirectory) {
    if (openDirectory_ != hostDirectory) {
        openDirectory_ = hostDirectory;
        openDirectoryFd_.reset();
        return nullptr;
    }
    if (!openDirectoryFd_) {
        UniqueFd fd(::open(hostDirectory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        openDirectoryFd_ = fd.valid() ? std::make_shared<const UniqueFd>(std::move(fd)) : nullptr;
    }
    return openDirectoryFd_;
}

void WalkMemory::forgetIfFull() {
    if (marks_ < kWalkMemoryMarks) {
        return;
    }
    byHash_.clear();
    clashing_.clear();
    made_.clear();
    listings_.clear();
    swept_.clear();
    handlerDirectories_.clear();
    marks_ = 0;
}

bool WalkHasDirectory(std::u16string_view Directory) {
    const WalkMemory* walk = WalkMemory::ForThisThread();
    return walk != nullptr && walk->handlerMadeOrFound(Directory);
}

void NoteWalkDirectory(std::u16string_view Directory) {
    if (WalkMemory* walk = WalkMemory::ForThisThread()) {
        walk->noteHandlerMadeOrFound(Directory);
    }
}

}  // namespace platform
