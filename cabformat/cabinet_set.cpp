// The cabinets of one walk, and the entries' bytes out of their folders
// (see cabinet_set.h).
#include "cabformat/cabinet_set.h"

#include "cabformat/decoders.h"
#include "cabformat/layout.h"
#include "cabformat/libmspack_folders.h"
#include "cabformat/readahead.h"

#include <algorithm>

namespace cabformat {

CabinetSet::CabinetSet(SetHost& host) : host_(host) {}

CabinetSet::~CabinetSet() = default;

void CabinetSet::append(std::unique_ptr<Cabinet> part) {
    parts_.push_back(std::move(part));
    host_.cabinetOpened(*parts_.back());
}

void CabinetSet::openFirst(std::unique_ptr<ByteSource> source, std::string name) {
    HeaderResult read = ReadCabinetHeader(*source);
    if (!read.error.ok()) {
        throw Failure{read.error};
    }
    auto part = std::make_unique<Cabinet>();
    part->name = std::move(name);
    part->source = std::move(source);
    part->header = std::move(read.header);
    parts_.reserve(1);
    append(std::move(part));
}

void CabinetSet::openNext() {
    const Cabinet& current = *parts_.back();
    const CabinetHeader& header = current.header;
    if (!header.hasNext()) {
        throw Failure{{Errc::Damaged}};  // data runs on, but no cabinet is named to hold it
    }
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        std::unique_ptr<ByteSource> source = host_.nextCabinet(current, attempt);
        if (!source) {
            continue;
        }
        HeaderResult read = ReadCabinetHeader(*source);
        if (!read.error.ok()) {
            throw Failure{read.error};
        }
        if (read.header.setId == header.setId && read.header.cabinetIndex == header.cabinetIndex + 1) {
            auto next = std::make_unique<Cabinet>();
            next->name = header.nextName;
            next->diskName = header.nextDisk;
            next->source = std::move(source);
            next->header = std::move(read.header);
            append(std::move(next));
            return;
        }
    }
    throw Failure{{Errc::CabinetMissing}};
}

void CabinetSet::checkContinuation(std::size_t index) {
    Cabinet& right = *parts_[index];
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
        throw Failure{{Errc::Damaged}};
    }
    right.checkedWithPrev = true;
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
            throw Failure{{Errc::Damaged}};  // a folder cannot go on from a cabinet without entries
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
            throw Failure{{Errc::Damaged}};  // nor go on into one
        }
        checkContinuation(span.lastPart);
        at = 0;
    }
    return span;
}

FolderData CabinetSet::dataOf(const FolderSpan& span) const {
    FolderData data;
    for (std::size_t index = span.firstPart; index <= span.lastPart; ++index) {
        const Cabinet& part = *parts_[index];
        const FolderRecord& folder = part.header.folders[index == span.firstPart ? span.firstFolder : 0];
        if (index == span.firstPart) {
            data.compression = folder.compression;
        }
        data.segments.push_back(
            {part.source.get(), folder.dataOffset, folder.blockCount, part.header.dataReserve, folder.dataLimit});
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

Error CabinetSet::extract(std::size_t index, const FileRecord& file, EntrySink& sink) {
    const std::optional<FolderSpan> span = spanOf(index, file);
    if (!span) {
        return {Errc::Damaged};  // its data begins in a cabinet before this walk's first
    }
    const uint16_t compression = parts_[span->firstPart]->header.folders[span->firstFolder].compression;
    if ((compression & layout::kCompressionMask) > layout::kCompressionLzx) {
        return {Errc::Unsupported};
    }
    if (DecodesNatively(compression)) {
        if (!sink.open()) {
            return {Errc::WriteFailed};
        }
        return extractDecoded(*span, file, sink);
    }
    if (file.length != 0 && !dataReadable(*span)) {
        return {Errc::Damaged};  // libmspack would read whatever lies where the header points
    }
    if (!libmspack_) {
        libmspack_ = std::make_unique<LibmspackFolders>(parts_);
    }
    return libmspack_->extract(index, file, *span, sink);
}

Error CabinetSet::extractDecoded(const FolderSpan& span, const FileRecord& file, EntrySink& sink) {
    const bool sameFolder = decoding_ && *decoding_ == span;
    FolderData data = sameFolder ? FolderData{} : dataOf(span);
    const uint64_t blocks = sameFolder ? decodingBlocks_ : data.blockCount();
    const uint64_t end = uint64_t{file.folderOffset} + file.length;
    if (end > layout::kMaxFolderSize || end > blocks * layout::kMaxBlockSize) {
        return {Errc::Damaged};  // more than the folder can hold
    }
    if (file.length == 0) {
        return {};
    }
    if (!sameFolder || position_ > file.folderOffset) {
        if (sameFolder) {
            data = dataOf(span);  // an entry out of order: back to the folder's start
        }
        if (!readAhead_) {
            readAhead_ = std::make_unique<ReadAhead>();
        }
        readAhead_->start(std::move(data));
        decoding_ = span;
        decodingBlocks_ = blocks;
        position_ = 0;
    }
    uint64_t skip = file.folderOffset - position_;
    uint64_t left = file.length;
    while (skip + left > 0) {
        const unsigned char* bytes = nullptr;
        std::size_t size = 0;
        if (const Error failed = readAhead_->peek(bytes, size); !failed.ok()) {
            return failed;
        }
        if (size == 0) {
            return {Errc::Damaged};  // the folder's data ends before the entry does
        }
        std::size_t take = static_cast<std::size_t>(std::min<uint64_t>(size, skip + left));
        if (skip > 0) {
            take = static_cast<std::size_t>(std::min<uint64_t>(take, skip));
            skip -= take;
        } else {
            sink.write(bytes, take);
            left -= take;
        }
        readAhead_->consume(take);
        position_ += take;
    }
    return {};
}

}  // namespace cabformat
