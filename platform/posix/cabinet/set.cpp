// The cabinets of one walk, joined in libmspack (see set.h).
#include "platform/posix/cabinet/set.h"

#include "platform/drives.h"
#include "platform/kernel.h"
#include "platform/posix/cabinet/names.h"

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

namespace platform::cabservice {

namespace {

// Closes a cabinet libmspack opened unless it was handed on.
class PendingCabinet {
public:
    PendingCabinet(mscab_decompressor* decompressor, mscabd_cabinet* cabinet)
        : decompressor_(decompressor), cabinet_(cabinet) {}
    ~PendingCabinet() {
        if (cabinet_ != nullptr) {
            decompressor_->close(decompressor_, cabinet_);
        }
    }
    PendingCabinet(const PendingCabinet&) = delete;
    PendingCabinet& operator=(const PendingCabinet&) = delete;
    void release() { cabinet_ = nullptr; }

private:
    mscab_decompressor* decompressor_;
    mscabd_cabinet* cabinet_;
};

}  // namespace

void CabinetSet::DecompressorDeleter::operator()(mscab_decompressor* decompressor) const {
    mspack_destroy_cab_decompressor(decompressor);
}

CabinetSet::CabinetSet(CabinetIo& io, SetEvents& events) : io_(io), events_(events) {
    decompressor_.reset(mspack_create_cab_decompressor(io_.system()));
    if (!decompressor_) {
        throw WalkFailure{ERROR_NOT_ENOUGH_MEMORY};
    }
}

CabinetSet::~CabinetSet() { closeAll(); }

void CabinetSet::closeAll() noexcept {
    // Closing a cabinet closes every cabinet joined to it.
    for (auto& part : parts_) {
        if (part->cabinet != nullptr && !part->joinedToPrev) {
            decompressor_->close(decompressor_.get(), part->cabinet);
        }
    }
    for (auto& part : parts_) {
        part->cabinet = nullptr;
    }
}

std::unique_ptr<Part> CabinetSet::load(std::string dosFolder, std::string fileName, std::string hostPath,
                                       CabinetHeader header) {
    struct stat info {};
    if (stat(hostPath.c_str(), &info) == 0 &&
        !seen_.insert({static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)}).second) {
        throw WalkFailure{ERROR_INVALID_DATA};  // the set names one of its own cabinets again
    }

    auto part = std::make_unique<Part>();
    part->dosFolder = std::move(dosFolder);
    part->fileName = std::move(fileName);
    part->dosPath = part->dosFolder + part->fileName;
    part->hostPath = std::move(hostPath);
    part->header = std::move(header);
    return part;
}

void CabinetSet::openInLibmspack(std::size_t index) {
    Part& part = *parts_[index];
    if (part.cabinet != nullptr) {
        return;
    }
    io_.clearFailure();
    mscabd_cabinet* cabinet = decompressor_->open(decompressor_.get(), part.hostPath.c_str());
    if (cabinet == nullptr) {
        throw WalkFailure{Win32FromMspack(decompressor_->last_error(decompressor_.get()), io_.failure())};
    }
    PendingCabinet pending(decompressor_.get(), cabinet);
    // libmspack decodes what it read as the folders; any disagreement with
    // ours means a header it does not understand as we do.
    std::vector<mscabd_folder*> folders;
    for (mscabd_folder* folder = cabinet->folders; folder != nullptr; folder = folder->next) {
        const std::size_t at = folders.size();
        if (at == part.header.folders.size() || folder->comp_type != part.header.folders[at].compression ||
            folder->num_blocks != part.header.folders[at].blockCount) {
            throw WalkFailure{ERROR_INVALID_DATA};
        }
        folders.push_back(folder);
    }
    if (folders.size() != part.header.folders.size()) {
        throw WalkFailure{ERROR_INVALID_DATA};
    }
    part.folders = std::move(folders);
    part.cabinet = cabinet;
    pending.release();
}

void CabinetSet::checkContinuation(std::size_t index) {
    Part& right = *parts_[index];
    if (right.checkedWithPrev) {
        return;
    }
    const CabinetHeader& before = parts_[index - 1]->header;
    const CabinetHeader& after = right.header;
    // The folder goes on with the same method, and the entries that cross
    // the boundary stand in both headers at the same place: all of them, or,
    // as libmspack also accepts, at least one.
    bool agree = after.continuesFromPrev() && before.folders.back().compression == after.folders.front().compression;
    if (agree && before.toNext != after.fromPrev) {
        auto order = [](const Crossing& a, const Crossing& b) {
            return std::pair(a.folderOffset, a.length) < std::pair(b.folderOffset, b.length);
        };
        std::vector<Crossing> sorted = after.fromPrev;
        std::sort(sorted.begin(), sorted.end(), order);
        agree = std::any_of(before.toNext.begin(), before.toNext.end(), [&](const Crossing& crossing) {
            return std::binary_search(sorted.begin(), sorted.end(), crossing, order);
        });
    }
    if (!agree) {
        throw WalkFailure{ERROR_INVALID_DATA};
    }
    right.checkedWithPrev = true;
}

void CabinetSet::openFirst(const std::string& dosPath) {
    uint32_t error = 0;
    std::optional<std::string> hostPath = DosPathToHostPath(dosPath, &error);
    if (!hostPath) {
        throw WalkFailure{error != NO_ERROR ? error : ERROR_PATH_NOT_FOUND};
    }
    HeaderResult read = ReadCabinetHeader(*hostPath);
    if (read.error != NO_ERROR) {
        throw WalkFailure{read.error};
    }
    DosPathParts parts = SplitDosPath(dosPath);
    parts_.reserve(1);
    append(load(std::move(parts.folder), std::move(parts.file), std::move(*hostPath), std::move(read.header)));
}

CabinetSet::Candidate CabinetSet::findNext(const Part& current) {
    const CabinetHeader& header = current.header;
    std::string folder = current.dosFolder;
    for (int asked = 0;; ++asked) {
        uint32_t error = NO_ERROR;
        const std::optional<std::string> hostPath = DosPathToHostPath(folder + header.nextName, &error);
        struct stat info {};
        if (hostPath && stat(hostPath->c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            HeaderResult read = ReadCabinetHeader(*hostPath);
            if (read.error != NO_ERROR) {
                throw WalkFailure{read.error};
            }
            // Another set's cabinet, or another part of this set, is as
            // good as none: the handler is asked for the right one.
            if (read.header.setId == header.setId && read.header.cabinetIndex == header.cabinetIndex + 1) {
                return {std::move(folder), *hostPath, std::move(read.header)};
            }
        }
        if (asked == kMaxAsksPerCabinet) {
            throw WalkFailure{ERROR_FILE_NOT_FOUND};
        }

        const CABINET_INFO_A wanted{folder.c_str(), header.nextName.c_str(), header.nextDisk.c_str(), header.setId,
                                    static_cast<uint16_t>(header.cabinetIndex + 1)};
        char newPath[MAX_PATH] = {};
        const uint32_t answer = events_.needNewCabinet(wanted, newPath);
        if (answer != NO_ERROR) {
            throw WalkFailure{answer};
        }
        const std::size_t length = strnlen(newPath, MAX_PATH);
        if (length == MAX_PATH) {
            throw WalkFailure{ERROR_INVALID_PARAMETER};  // no terminator in the buffer
        }
        if (length > 0) {
            folder = WithTrailingSeparator(std::string(newPath, length));
        }
    }
}

void CabinetSet::openNext() {
    const Part& current = *parts_.back();
    if (!current.header.hasNext()) {
        throw WalkFailure{ERROR_INVALID_DATA};  // data runs on, but no cabinet is named to hold it
    }
    Candidate found = findNext(current);
    std::unique_ptr<Part> next =
        load(std::move(found.dosFolder), current.header.nextName, std::move(found.hostPath), std::move(found.header));
    next->diskName = current.header.nextDisk;
    append(std::move(next));
}

void CabinetSet::append(std::unique_ptr<Part> part) {
    parts_.push_back(std::move(part));
    events_.cabinetOpened(*parts_.back());
}

void CabinetSet::join(std::size_t index) {
    Part& left = *parts_[index - 1];
    Part& right = *parts_[index];
    io_.clearFailure();
    const int joined = decompressor_->append(decompressor_.get(), left.cabinet, right.cabinet);
    if (joined != MSPACK_ERR_OK) {
        throw WalkFailure{Win32FromMspack(joined, io_.failure())};
    }
    right.joinedToPrev = true;
    // libmspack merged the right part's first folder into the left part's
    // last and freed it; whoever pointed at it points at the survivor.
    mscabd_folder* freed = right.folders.front();
    mscabd_folder* survivor = left.folders.back();
    for (std::size_t later = index; later < parts_.size(); ++later) {
        for (auto& folder : parts_[later]->folders) {
            if (folder == freed) {
                folder = survivor;
            }
        }
    }
}

std::optional<FolderSpan> CabinetSet::spanOf(std::size_t index, const FileRecord& file) {
    const std::size_t folder = parts_[index]->header.folderOf(file);
    FolderSpan span;
    // Where the folder begins ...
    span.firstPart = index;
    span.firstFolder = folder;
    while (parts_[span.firstPart]->beginsEarlier(span.firstFolder)) {
        if (span.firstPart == 0) {
            return std::nullopt;
        }
        --span.firstPart;
        if (parts_[span.firstPart]->header.files.empty()) {
            throw WalkFailure{ERROR_INVALID_DATA};  // a folder cannot go on from a cabinet without entries
        }
        checkContinuation(span.firstPart + 1);
        span.firstFolder = parts_[span.firstPart]->header.folderCount - 1u;
    }
    // ... and where it ends, opening what is not open yet.
    span.lastPart = index;
    std::size_t at = folder;
    while (parts_[span.lastPart]->goesOn(at)) {
        if (span.lastPart + 1 == parts_.size()) {
            openNext();
        }
        ++span.lastPart;
        if (parts_[span.lastPart]->header.files.empty()) {
            throw WalkFailure{ERROR_INVALID_DATA};  // nor go on into one
        }
        checkContinuation(span.lastPart);
        at = 0;
    }
    return span;
}

FolderData CabinetSet::dataOf(const FolderSpan& span) const {
    FolderData data;
    for (std::size_t index = span.firstPart; index <= span.lastPart; ++index) {
        const CabinetHeader& header = parts_[index]->header;
        const FolderRecord& folder = header.folders[index == span.firstPart ? span.firstFolder : 0];
        if (index == span.firstPart) {
            data.compression = folder.compression;
        }
        data.segments.push_back(
            {parts_[index]->hostPath, folder.dataOffset, folder.blockCount, header.dataReserve, folder.dataLimit});
    }
    return data;
}

bool CabinetSet::dataReadable(const FolderSpan& span) const {
    for (std::size_t index = span.firstPart; index <= span.lastPart; ++index) {
        const CabinetHeader& header = parts_[index]->header;
        if (!header.folders[index == span.firstPart ? span.firstFolder : 0].dataReadable()) {
            return false;
        }
    }
    return true;
}

mscabd_folder* CabinetSet::libmspackFolder(std::size_t index, const FileRecord& file, const FolderSpan& span) {
    for (std::size_t opening = span.firstPart; opening <= span.lastPart; ++opening) {
        openInLibmspack(opening);
    }
    for (std::size_t joining = span.lastPart; joining > span.firstPart; --joining) {
        if (!parts_[joining]->joinedToPrev) {
            join(joining);
        }
    }
    return parts_[index]->folders[parts_[index]->header.folderOf(file)];
}
}  // namespace platform::cabservice
