// SPDX-License-Identifier: MIT
// A set of cabinets as one walk reads it: the cabinet it starts with and
// those that continue it, supplied one by one by the caller. For every file
// record it knows the folder holding its data, including files that begin
// in a later cabinet inside a folder continued from an earlier one, and it
// writes an entry's bytes to a sink.
//
// Every folder is decoded by a thread that runs ahead of the walk
// (readahead.h): stored and MSZIP by the engine's own decoders, LZX and
// Quantum by libmspack as one stream (libmspack_stream.h); with native
// decoding off, LZX and Quantum go to libmspack entry by entry
// (libmspack_folders.h). Either way the caller's sink and host are called
// only on the caller's thread.
#pragma once

#include "cabformat/blocks.h"
#include "cabformat/byte_source.h"
#include "cabformat/error.h"
#include "cabformat/header.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cabformat {

class LibmspackFolders;
class ReadAhead;

// One part of the set: a cabinet as the set holds it.
struct Part {
    std::string name;      // as the caller named the first, or the previous cabinet's header names it
    std::string diskName;  // as the previous cabinet's header names it; "" for the first
    std::unique_ptr<ByteSource> source;
    CabinetHeader header;
    // Its folder continues the previous cabinet's last one, and the two
    // headers were found to agree about the entries that cross.
    bool checkedWithPrev = false;
    // Its first folder began in the previous cabinet: as that cabinet's
    // records say, or for the walk's first cabinet as its own say when its
    // header names a previous cabinet.
    bool firstFolderBegunBefore = false;
    // Where in `header.files` the records stand that go on an entry of the
    // previous cabinet of the walk (the same place in the folder as one of
    // its records that continue): that entry is theirs, they are not
    // entries of their own. Sorted.
    std::vector<std::size_t> continuations;

    // Folder `index` began in the previous cabinet / goes on in the next.
    bool beginsEarlier(std::size_t index) const { return index == 0 && firstFolderBegunBefore; }
    bool goesOn(std::size_t index) const {
        return index + 1 == header.folderCount && header.continuesToNext() && header.hasNext();
    }
};

// Where the walk keeps decoded bytes it has passed until an entry later in
// the walk needs them: a temporary file, say. It grows by what the records
// still to come need of the bytes passed, never by more than the data.
class SpillStore {
public:
    virtual ~SpillStore() = default;
    // Adds `size` bytes at the end. Returns 0 or the host's error number.
    virtual int append(const unsigned char* bytes, std::size_t size) = 0;
    // Reads exactly `size` bytes from `offset` of what was added. Returns 0
    // or the host's error number.
    virtual int readAt(uint64_t offset, unsigned char* into, std::size_t size) = 0;
};

// What the set asks of its caller. Either call may throw to end the walk;
// the set is left to be destroyed.
class SetHost {
public:
    // The cabinet `current` names as its next (header.nextName, nextDisk),
    // asked for the `attempt`th time (from 0 to CabinetSet::kAttempts - 1):
    // its bytes, or nullptr when there is none to try this time. A cabinet
    // of another set or another place in this one counts as none.
    virtual std::unique_ptr<ByteSource> nextPart(const Part& current, int attempt) = 0;
    // A cabinet joined the set, the first one included.
    virtual void partOpened(const Part& cabinet) = 0;
    // Room for decoded bytes the walk passes on its way to an entry and a
    // later entry needs, asked for once, when first needed; nullptr when
    // there is none: a folder is then decoded again from its start for an
    // entry whose bytes it has passed.
    virtual std::unique_ptr<SpillStore> spillStore() { return nullptr; }

protected:
    ~SetHost() = default;
};

// Where an entry's bytes go, a block or more at a time. A sink that cannot
// take them keeps its own failure and lets the rest pass: the decoder keeps
// its place in the folder for the entries after it.
class EntrySink {
public:
    // Called once the entry's data is found, before its first byte; false
    // ends the entry with WriteFailed.
    virtual bool open() = 0;
    virtual void write(const unsigned char* bytes, std::size_t size) = 0;

protected:
    ~EntrySink() = default;
};

// The cabinets a folder's data runs through: from folder `firstFolder` of
// part `firstPart` on, through the first folder of each later part up to
// `lastPart`.
struct FolderSpan {
    std::size_t firstPart = 0;
    std::size_t firstFolder = 0;
    std::size_t lastPart = 0;

    bool operator==(const FolderSpan&) const = default;
};

class CabinetSet {
public:
    // The host is asked this many times at most for one cabinet.
    static constexpr int kAttempts = 3;

    explicit CabinetSet(SetHost& host);
    // Stops the decoder thread and closes every cabinet.
    ~CabinetSet();
    CabinetSet(const CabinetSet&) = delete;
    CabinetSet& operator=(const CabinetSet&) = delete;

    // Reads the header of the cabinet the walk starts with. Throws Failure.
    void openFirst(std::unique_ptr<ByteSource> source, std::string name);
    // Adds the cabinet the last one names as next. Throws Failure
    // (CabinetMissing when the host supplies none that fits).
    void openNext();

    std::size_t size() const { return parts_.size(); }
    const Part& part(std::size_t index) const { return *parts_[index]; }
    // The walk is done with the entries of part `index`: its file records go.
    void releaseFiles(std::size_t index) { parts_[index]->header.files.release(); }

    // Visits the walk's cabinets in order from the first opened: `visit`
    // hands on the entries of the part it is given and returns false to end
    // the walk. A walk opened at a set's first cabinet goes on through each
    // cabinet the last names as next, opening it (throws Failure as
    // openNext does) and letting the file records of those done with go;
    // one opened at a later cabinet visits that cabinet alone (it reads on
    // into the next ones only for the data of entries that continue there).
    void visitCabinets(const std::function<bool(std::size_t index)>& visit);

    // Whether `file` of part `index` is an entry the walk offers: every
    // record is, except one that goes on an entry a record of the previous
    // cabinet of the walk already stands for. A record marked as continued
    // that nothing before it in the walk stands for is an entry of its own,
    // extracted from wherever its folder's data lies, so that no record
    // goes unaccounted for.
    bool offered(std::size_t index, const FileRecord& file) const;

    // Writes the bytes of `file` of part `index` (a record of its file
    // list) to `sink`. Returns ok or the entry's failure (the walk goes on);
    // throws Failure when the set cannot go on: a cabinet the data continues
    // into is missing, or two cabinets disagree about the folder they share.
    //
    // A folder is decoded once however the walk's records are ordered: its
    // bytes the walk passes on its way to one entry that entries offered
    // later need go to the host's spill store and are read back from there.
    // Entries asked for in an order other than the walk's still come out
    // whole, at the cost of decoding again.
    Error extract(std::size_t index, const FileRecord& file, EntrySink& sink);

    // The cabinets the folder holding `file` of part `index` runs through,
    // opening those not open yet; nothing when the folder began in a cabinet
    // before the walk's first. Throws Failure.
    std::optional<FolderSpan> spanOf(std::size_t index, const FileRecord& file);
    // Where the data of the folder `span` covers lies.
    FolderData dataOf(const FolderSpan& span) const;

private:
    struct FolderPlan;
    // Where the bytes of an entry the walk offers lie in its folder, and its rank.
    struct Extent {
        uint64_t begin = 0;
        uint64_t end = 0;
        uint64_t rank = 0;
    };
    // The extents of part `index`'s entries in its folder `folder`, handed
    // out once: read from its file list, for all its folders at once, on
    // first asking.
    std::vector<Extent> takeExtents(std::size_t index, std::size_t folder);
    // Whether the entries of part `index` in its folder `folder` come in the
    // data's order, where they begin and end, and the last one's rank: for
    // all its folders at once, on first asking.
    struct FolderOrder {
        bool any = false;
        bool inOrder = true;
        uint64_t firstBegin = 0;
        uint64_t lastEnd = 0;
        uint64_t lastRank = 0;
    };
    const FolderOrder& orderOf(std::size_t index, std::size_t folder);

    Error extractDecoded(const FolderSpan& span, uint64_t rank, const FileRecord& file, EntrySink& sink);
    // The plan of the folder `span` covers, made on first asking.
    FolderPlan& planOf(const FolderSpan& span);
    // Hands bytes [`from`, `to`) of the folder the decoder is on past the
    // walk, at the record of `rank`: to `sink` from `write` on (nullptr:
    // none), and to the spill store where records after it need them.
    Error pass(uint64_t from, uint64_t to, uint64_t rank, EntrySink* sink);
    // Keeps bytes at `at` of the decoder's folder that records after `rank`
    // need; `leaving`: passed as the walk leaves the folder.
    void spill(FolderPlan& plan, uint64_t at, const unsigned char* bytes, std::size_t size, uint64_t rank,
               bool leaving);
    // Writes bytes [`from`, `to`) of `plan`'s folder from the spill store to
    // `sink`. Returns false when they were not all kept.
    bool unspill(const FolderPlan& plan, uint64_t from, uint64_t to, EntrySink& sink, Error& error);
    // Leaves the folder the decoder is on, decoding first as far as records
    // after `rank` need of it.
    void leave(uint64_t rank);
    // Whether the data of `span` lies where data can be (see FolderRecord).
    bool dataReadable(const FolderSpan& span) const;
    // Checks that part `index` continues the folder the part before it
    // ends with as that part says. Throws Failure.
    void checkContinuation(std::size_t index);
    void append(std::unique_ptr<Part> part);

    SetHost& host_;
    std::vector<std::unique_ptr<Part>> parts_;
    // The folder the decoder thread is on, and where the walk is in its data.
    std::unique_ptr<ReadAhead> readAhead_;
    std::optional<FolderSpan> decoding_;
    uint64_t decodingBlocks_ = 0;
    uint64_t position_ = 0;
    // Each natively decoded folder's plan, by its first part and folder.
    std::map<std::pair<std::size_t, std::size_t>, std::unique_ptr<FolderPlan>> plans_;
    std::map<std::size_t, std::vector<std::vector<Extent>>> extents_;  // by part, then folder
    std::map<std::size_t, std::vector<FolderOrder>> orders_;           // by part, then folder
    std::unique_ptr<SpillStore> spill_;
    bool spillAsked_ = false;
    bool spillBroken_ = false;  // a spill failed: nothing more is kept or read back
    uint64_t spillSize_ = 0;
    std::vector<unsigned char> unspillBuffer_;
    std::unique_ptr<LibmspackFolders> libmspack_;
};

}  // namespace cabformat
