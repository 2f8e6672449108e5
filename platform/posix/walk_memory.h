// SPDX-License-Identifier: MIT
// Inside the Linux platform layer: what one walk knows of the disk. A walk
// (one SetupIterateCabinetA) writes thousands of entries into a few hundred
// directories; asking the disk again for every entry what the walk itself
// made or already looked at would cost it several system calls an entry.
// SetupIterateCabinetA owns one of these for the walk's length and hands it
// to drive resolution, safe output and the directory maker; the handlers of
// the walk's entries reach it through platform/walk.h.
//
// It knows: the directories resolved (a drive path whose every level exists,
// to its host directory); the host paths of what the walk made, so a
// directory it made holds only what it marked; the listings of directories
// it looked into, read once and then kept current from the walk's own
// creations; the directories swept of an earlier run's temporaries; and the
// directories the handlers made or found. What other programs change in
// those directories meanwhile is not seen, as a name another program writes
// between a look-up and the write never was.
//
// One policy holds for all of it: at most kWalkMemoryMarks marks of every
// kind together (a listing counts as one: it costs what its directory
// holds, and writing into directories another run filled must not make the
// walk forget what it made); past that the walk forgets everything at once and learns
// it again from the disk, so nothing it still holds was learnt on the far
// side of a forgetting. Hashes are FNV-1a (hash_marks.h).
#pragma once

#include "platform/common/hash_marks.h"
#include "platform/posix/directory_listing.h"
#include "platform/posix/host_io.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace platform {

// A directory a walk has resolved: its last name as the drive path spells it
// and on the host, below its parent's record (or whole paths, for one
// resolved from its root), and whether the walk made it, so that it holds
// nothing but what the walk has written into it since. A cabinet's thousands
// of directories then cost their names, not their paths twice over.
class ResolvedDirectory {
public:
    ResolvedDirectory(const ResolvedDirectory* above, std::string_view dos, std::string_view host, char separatorBefore,
                      bool madeHere);

    // A directory resolved from its drive's root: whole paths, no parent.
    static ResolvedDirectory Whole(std::string_view dosPath, std::string_view hostPath, bool made) {
        return {nullptr, dosPath, hostPath, '\\', made};
    }
    // The record of a directory one level below `parent`, named `dosName` at
    // the end of the drive path `dosPath` and at `host` on the host.
    static ResolvedDirectory Below(const ResolvedDirectory& parent, std::string_view dosPath, std::string_view dosName,
                                   const std::string& host, bool made);

    bool spells(std::string_view dosPath) const;
    std::string host() const;

    const ResolvedDirectory* parent;
    char separator;  // between the parent's drive path and the name
    bool made;

private:
    // The whole drive path / host path when there is no parent.
    std::string_view dosName() const { return std::string_view(names_).substr(0, dosLength_); }
    std::string_view hostName() const { return sameNames_ ? names_ : std::string_view(names_).substr(dosLength_); }

    bool sameNames_;
    uint32_t dosLength_;
    std::string names_;  // the drive name, then the host name unless it is the same
};

class WalkMemory {
public:
    // Becomes its thread's walk memory unless the thread has one already (a
    // walk begun from another walk's handler then shares the outer one's
    // memory through ForThisThread, and neither misses what the other made).
    WalkMemory();
    ~WalkMemory();
    WalkMemory(const WalkMemory&) = delete;
    WalkMemory& operator=(const WalkMemory&) = delete;

    // The memory of the walk running on this thread; nullptr outside a walk.
    static WalkMemory* ForThisThread();

    // ---- Directories resolved ----
    // The record for `dosPath`, or nullptr. A record answers only for a path
    // it spells: a path whose hash another holds is kept whole on the side.
    const ResolvedDirectory* directory(std::string_view dosPath) const;
    // Records `directory` for `dosPath`, in place of a record it had; returns
    // the record, which stays where it is until the walk forgets.
    const ResolvedDirectory* rememberDirectory(std::string_view dosPath, ResolvedDirectory directory);

    // ---- What the walk made ----
    // Whether the walk may have made `hostPath` (a false "yes" costs a look).
    bool mayHaveMade(const std::string& hostPath) const;
    // An entry (file or directory) the walk has just made at `hostPath`.
    void noteMade(const std::string& hostPath);
    // A directory the walk has just made at `hostPath` by the drive path
    // `dosPath`: every level of it exists, and it holds only what the walk
    // marks from now on, so names in it are looked up in the marks.
    void noteDirectoryMade(const std::string& hostPath, std::string_view dosPath);

    // ---- Listings ----
    // The listing of `hostDirectory`, read on its first use in the walk and
    // kept current from the walk's own creations; nullptr when it cannot be read.
    DirectoryListing* listing(const std::string& hostDirectory);

    // ---- Swept directories ----
    // Notes `hostDirectory` as clear of an earlier run's temporaries; false
    // when it was already.
    bool markSwept(const std::string& hostDirectory);

    // ---- The handlers' directories ----
    bool handlerMadeOrFound(std::u16string_view directory) const;
    void noteHandlerMadeOrFound(std::u16string_view directory);

    // A descriptor (O_PATH) of `hostDirectory`, held while the walk writes
    // into that same directory, so names there are reached without resolving
    // the path again, and by each holder for as long as it holds it. Nothing
    // for the first entry of a run in a directory, or when it cannot be opened:
    // only a run of entries in one directory repays the open and the close.
    std::shared_ptr<const UniqueFd> directoryDescriptor(const std::string& hostDirectory);

    // Forgets everything once the marks pass the bound. Called only where no
    // record or listing of the walk is held, before each resolution and note.
    void forgetIfFull();

private:
    void count(std::size_t marks) { marks_ += marks; }

    bool registered_;
    std::size_t marks_ = 0;
    std::unordered_map<uint64_t, ResolvedDirectory> byHash_;
    std::unordered_map<std::string, ResolvedDirectory> clashing_;
    // Host paths of everything made in the walk, folded to one case and
    // hashed: a name looked up in a directory the walk made can only be there
    // if it was marked here, so only a marked one costs a look at the disk
    // (as does a false match, one in 2^32 / marks).
    HashMarks<uint32_t> made_;
    std::unordered_map<std::string, DirectoryListing> listings_;
    HashMarks<uint64_t> swept_;
    HashMarks<uint64_t> handlerDirectories_;
    std::string openDirectory_;
    std::shared_ptr<const UniqueFd> openDirectoryFd_;
};

}  // namespace platform
