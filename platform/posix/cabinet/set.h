// The cabinets one walk has opened, in set order. Finds the next cabinet of
// a set (asking the handler where it is when it is not beside the last one)
// and knows, for every file record, the folder holding its data, including
// files that begin in a later cabinet inside a folder continued from an
// earlier one (which libmspack's merge drops).
//
// The service reads stored and MSZIP folders itself; libmspack opens a
// cabinet only when an LZX or Quantum folder of it is decoded. Then every
// cabinet that folder runs through is opened in libmspack and the run is
// joined from its last cabinet backwards. (Joined forwards, libmspack 0.11
// compares the files that cross the second boundary with those that crossed
// the first, and refuses a folder that spans three cabinets with different
// files crossing each.)
#pragma once

#include "platform/posix/cabinet/blocks.h"
#include "platform/posix/cabinet/header.h"
#include "platform/posix/cabinet/io.h"
#include "platform/setupapi.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mspack.h>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace platform::cabservice {

// One cabinet of the walk.
struct Part {
    std::string dosPath;    // as named to the handler: the path given, or folder + name from the header
    std::string dosFolder;  // its folder, with the trailing separator
    std::string fileName;
    std::string diskName;  // as the previous cabinet's header names it; "" for the first
    std::string hostPath;  // libmspack keeps a pointer to this string
    CabinetHeader header;
    // Its folder continues the previous cabinet's last one, and the two
    // headers were found to agree about the entries that cross.
    bool checkedWithPrev = false;
    // Opened in libmspack only when one of its folders is decoded there.
    mscabd_cabinet* cabinet = nullptr;
    bool joinedToPrev = false;  // joined in libmspack to the part before it
    // This cabinet's folders in libmspack by index; the first becomes the
    // folder it was merged into when it continues one from the previous cabinet.
    std::vector<mscabd_folder*> folders;

    // Folder `index` began in the previous cabinet / goes on in the next.
    bool beginsEarlier(std::size_t index) const { return index == 0 && header.continuesFromPrev(); }
    bool goesOn(std::size_t index) const { return index + 1 == header.folderCount && header.continuesToNext(); }
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

// What the set asks of the walk that owns it: both are handler calls.
class SetEvents {
public:
    // SPFILENOTIFY_CABINETINFO: a cabinet was opened.
    virtual void cabinetOpened(const Part& part) = 0;
    // SPFILENOTIFY_NEEDNEWCABINET: the handler's answer; it may write a
    // folder to search into `newPath`.
    virtual uint32_t needNewCabinet(const CABINET_INFO_A& info, char (&newPath)[MAX_PATH]) = 0;

protected:
    ~SetEvents() = default;
};

class CabinetSet {
public:
    // The handler is asked at most this many times for one cabinet.
    static constexpr int kMaxAsksPerCabinet = 2;

    CabinetSet(CabinetIo& io, SetEvents& events);
    // Closes every cabinet, then the decompressor.
    ~CabinetSet();
    CabinetSet(const CabinetSet&) = delete;
    CabinetSet& operator=(const CabinetSet&) = delete;

    // Opens the cabinet the walk starts with. Throws WalkFailure.
    void openFirst(const std::string& dosPath);
    // Opens the cabinet the last one names as next. Throws WalkFailure (ERROR_FILE_NOT_FOUND when it cannot be found,
    // the handler's code when it answers NEEDNEWCABINET with one).
    void openNext();

    std::size_t size() const { return parts_.size(); }
    const Part& part(std::size_t index) const { return *parts_[index]; }

    // The cabinets the folder holding `file` of part `index` runs through,
    // opening those not open yet; nothing when the folder began in a cabinet
    // before the walk's first. Throws WalkFailure, ERROR_INVALID_DATA when
    // two cabinets disagree about the folder they share.
    std::optional<FolderSpan> spanOf(std::size_t index, const FileRecord& file);
    // Where the data of the folder `span` covers lies.
    FolderData dataOf(const FolderSpan& span) const;
    // Whether that data lies where data can be (see FolderRecord).
    bool dataReadable(const FolderSpan& span) const;
    // The libmspack folder holding the data of `file` of part `index`,
    // after opening in libmspack and joining the cabinets `span` (its
    // spanOf()) runs through. Throws WalkFailure.
    mscabd_folder* libmspackFolder(std::size_t index, const FileRecord& file, const FolderSpan& span);
    // The walk is done with the entries of part `index`: its file records go.
    void releaseFiles(std::size_t index) { parts_[index]->header.files.release(); }

    mscab_decompressor* decompressor() const { return decompressor_.get(); }

private:
    struct DecompressorDeleter {
        void operator()(mscab_decompressor* decompressor) const;
    };

    // A cabinet found for the set: where it is, and its header.
    struct Candidate {
        std::string dosFolder;
        std::string hostPath;
        CabinetHeader header;
    };

    // A part for the cabinet, unless the walk has seen it before. Throws WalkFailure.
    std::unique_ptr<Part> load(std::string dosFolder, std::string fileName, std::string hostPath, CabinetHeader header);
    // Opens part `index` in libmspack, unless it is open, and checks that
    // libmspack read its folders as they are. Throws WalkFailure.
    void openInLibmspack(std::size_t index);
    // Checks that part `index` continues the folder the part before it
    // ends with as that part says. Throws WalkFailure.
    void checkContinuation(std::size_t index);
    // Makes `part` (from load()) the set's last and tells the handler.
    void append(std::unique_ptr<Part> part);
    // Joins part `index` to the part before it.
    void join(std::size_t index);
    // Looks for the cabinet `current` names as next: in its folder, then
    // where the handler says. Throws WalkFailure.
    Candidate findNext(const Part& current);
    void closeAll() noexcept;

    CabinetIo& io_;
    SetEvents& events_;
    std::unique_ptr<mscab_decompressor, DecompressorDeleter> decompressor_;
    std::vector<std::unique_ptr<Part>> parts_;
    // Files opened so far, by device and inode: a set that names one of its
    // own cabinets again would walk for ever.
    std::set<std::pair<uint64_t, uint64_t>> seen_;
};

}  // namespace platform::cabservice
