// A set of cabinets as one walk reads it: the cabinet it starts with and
// those that continue it, supplied one by one by the caller. For every file
// record it knows the folder holding its data, including files that begin
// in a later cabinet inside a folder continued from an earlier one, and it
// writes an entry's bytes to a sink.
//
// Stored and MSZIP folders are decoded by a thread that runs ahead of the
// walk (readahead.h); LZX and Quantum folders by libmspack, entry by entry
// (libmspack_folders.h). Either way the caller's sink and host are called
// only on the caller's thread.
#pragma once

#include "cabformat/blocks.h"
#include "cabformat/byte_source.h"
#include "cabformat/error.h"
#include "cabformat/header.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cabformat {

class LibmspackFolders;
class ReadAhead;

// One cabinet of the set.
struct Cabinet {
    std::string name;      // as the caller named the first, or the previous cabinet's header names it
    std::string diskName;  // as the previous cabinet's header names it; "" for the first
    std::unique_ptr<ByteSource> source;
    CabinetHeader header;
    // Its folder continues the previous cabinet's last one, and the two
    // headers were found to agree about the entries that cross.
    bool checkedWithPrev = false;

    // Folder `index` began in the previous cabinet / goes on in the next.
    bool beginsEarlier(std::size_t index) const { return index == 0 && header.continuesFromPrev(); }
    bool goesOn(std::size_t index) const { return index + 1 == header.folderCount && header.continuesToNext(); }
};

// What the set asks of its caller. Either call may throw to end the walk;
// the set is left to be destroyed.
class SetHost {
public:
    // The cabinet `current` names as its next (header.nextName, nextDisk),
    // asked for the `attempt`th time (from 0 to CabinetSet::kAttempts - 1):
    // its bytes, or nullptr when there is none to try this time. A cabinet
    // of another set or another place in this one counts as none.
    virtual std::unique_ptr<ByteSource> nextCabinet(const Cabinet& current, int attempt) = 0;
    // A cabinet joined the set, the first one included.
    virtual void cabinetOpened(const Cabinet& cabinet) = 0;

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
    const Cabinet& part(std::size_t index) const { return *parts_[index]; }
    // The walk is done with the entries of part `index`: its file records go.
    void releaseFiles(std::size_t index) { parts_[index]->header.files.release(); }

    // Writes the bytes of `file` of part `index` to `sink`. Returns ok or
    // the entry's failure (the walk goes on); throws Failure when the set
    // cannot go on: a cabinet the data continues into is missing, or two
    // cabinets disagree about the folder they share.
    Error extract(std::size_t index, const FileRecord& file, EntrySink& sink);

    // The cabinets the folder holding `file` of part `index` runs through,
    // opening those not open yet; nothing when the folder began in a cabinet
    // before the walk's first. Throws Failure.
    std::optional<FolderSpan> spanOf(std::size_t index, const FileRecord& file);
    // Where the data of the folder `span` covers lies.
    FolderData dataOf(const FolderSpan& span) const;

private:
    Error extractDecoded(const FolderSpan& span, const FileRecord& file, EntrySink& sink);
    // Whether the data of `span` lies where data can be (see FolderRecord).
    bool dataReadable(const FolderSpan& span) const;
    // Checks that part `index` continues the folder the part before it
    // ends with as that part says. Throws Failure.
    void checkContinuation(std::size_t index);
    void append(std::unique_ptr<Cabinet> part);

    SetHost& host_;
    std::vector<std::unique_ptr<Cabinet>> parts_;
    // The folder the decoder thread is on, and where the walk is in its data.
    std::unique_ptr<ReadAhead> readAhead_;
    std::optional<FolderSpan> decoding_;
    uint64_t decodingBlocks_ = 0;
    uint64_t position_ = 0;
    std::unique_ptr<LibmspackFolders> libmspack_;
};

}  // namespace cabformat
