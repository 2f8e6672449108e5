// SPDX-License-Identifier: MIT
// The cabinets of one walk, and the entries' bytes out of their folders
// (see cabinet_set.h).
#include "cabformat/cabinet_set.h"

#include "cabformat/decoders.h"
#include "cabformat/layout.h"
#include "cabformat/libmspack_folders.h"
#include "cabformat/readahead.h"

#include <algorithm>
#include <set>

namespace cabformat {

CabinetSet::CabinetSet(SetHost& host) : host_(host) {}

CabinetSet::~CabinetSet() = default;

namespace {

// Bytes read back from the spill store at a time.
constexpr std::size_t kUnspillBuffer = 64 * 1024;
constexpr int kRankPartShift = 32;

// A record's place in the walk: by cabinet, then by place in the file list.
uint64_t RankOf(std::size_t part, std::size_t position) { return (uint64_t{part} << kRankPartShift) | position; }

}  // namespace

// Which bytes of a folder records still to come need, and which of them
// the walk has kept in the spill store.
struct CabinetSet::FolderPlan {
    // A stretch of the folder's data, and the last record (by rank) that
    // needs it. In folder order, not overlapping.
    struct Need {
        uint64_t begin = 0;
        uint64_t end = 0;
        uint64_t lastRank = 0;
    };
    // A stretch kept in the spill store, from `at` on.
    struct Kept {
        uint64_t begin = 0;
        uint64_t end = 0;
        uint64_t at = 0;
    };
    // Records in the data's order, none over another's bytes (the usual
    // case): nothing passed on the way to one is needed later, except when
    // the walk leaves the folder with records to come. Then `needs` stays
    // empty, and only the last record's rank and end count.
    bool inOrder = false;
    uint64_t lastRank = 0;
    uint64_t lastEnd = 0;
    std::vector<Need> needs;
    // The needs' last ranks in order, each with the furthest end of the
    // needs of that rank or later: how far records after a rank need the
    // folder decoded.
    std::vector<std::pair<uint64_t, uint64_t>> furthest;
    std::vector<Kept> kept;
    std::size_t cursor = 0;  // the first need not wholly passed
    uint64_t passed = 0;     // the furthest the decoder has been: what lies before is kept where needed
    uint64_t reached = 0;    // where the decoder left the folder for another

    // The end of what records after `rank` need; 0 for nothing.
    uint64_t neededAfter(uint64_t rank) const {
        if (inOrder) {
            return lastRank > rank ? lastEnd : 0;
        }
        const auto later = std::upper_bound(furthest.begin(), furthest.end(), std::pair(rank, UINT64_MAX));
        return later == furthest.end() ? 0 : later->second;
    }
};

void CabinetSet::append(std::unique_ptr<Part> part) {
    if (parts_.empty()) {
        part->firstFolderBegunBefore = part->header.hasPrev() && part->header.continuesFromPrev();
    } else {
        // Each record of the previous cabinet that goes on here stands for
        // one record here at the same place in the folder.
        const CabinetHeader& before = parts_.back()->header;
        part->firstFolderBegunBefore = before.continuesToNext();
        std::multiset<std::pair<uint32_t, uint32_t>> crossing;
        for (const Crossing& record : before.toNext) {
            crossing.emplace(record.folderOffset, record.length);
        }
        for (const FileRecord& file : part->header.files) {
            if (!file.continuedFromPrev()) {
                continue;
            }
            if (const auto match = crossing.find({file.folderOffset, file.length}); match != crossing.end()) {
                crossing.erase(match);
                part->continuations.push_back(part->header.files.positionOf(file));
            }
        }
    }
    parts_.push_back(std::move(part));
    host_.partOpened(*parts_.back());
}

bool CabinetSet::offered(std::size_t index, const FileRecord& file) const {
    if (index == 0 || !file.continuedFromPrev()) {
        return true;
    }
    const Part& part = *parts_[index];
    return !std::binary_search(part.continuations.begin(), part.continuations.end(),
                               part.header.files.positionOf(file));
}

void CabinetSet::openFirst(std::unique_ptr<ByteSource> source, std::string name) {
    HeaderResult read = ReadCabinetHeader(*source);
    if (!read.error.ok()) {
        throw Failure{read.error};
    }
    auto part = std::make_unique<Part>();
    part->name = std::move(name);
    part->source = std::move(source);
    part->header = std::move(read.header);
    parts_.reserve(1);
    append(std::move(part));
}

void CabinetSet::openNext() {
    const Part& current = *parts_.back();
    const CabinetHeader& header = current.header;
    if (!header.hasNext()) {
        throw Failure{{Errc::Damaged}};  // data runs on, but no cabinet is named to hold it
    }
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        std::unique_ptr<ByteSource> source = host_.nextPart(current, attempt);
        if (!source) {
            continue;
        }
        HeaderResult read = ReadCabinetHeader(*source);
        if (!read.error.ok()) {
            throw Failure{read.error};
        }
        if (read.header.setId == header.setId && read.header.cabinetIndex <= header.cabinetIndex) {
            // The set names one of its own cabinets, or one before it, as
            // its next: following the names would go round for ever.
            throw Failure{{Errc::Damaged}};
        }
        if (read.header.setId == header.setId && read.header.cabinetIndex == header.cabinetIndex + 1) {
            auto next = std::make_unique<Part>();
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
        const Part& part = *parts_[index];
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
    const CabinetHeader& header = parts_[index]->header;
    if ((file.continuedToNext() && !header.hasNext()) || (file.continuedFromPrev() && !header.hasPrev())) {
        return {Errc::Damaged};  // its data would run into a cabinet that is not there
    }
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
        return extractDecoded(*span, RankOf(index, parts_[index]->header.files.positionOf(file)), file, sink);
    }
    if (file.length != 0 && !dataReadable(*span)) {
        return {Errc::Damaged};  // libmspack would read whatever lies where the header points
    }
    if (!libmspack_) {
        libmspack_ = std::make_unique<LibmspackFolders>(parts_);
    }
    return libmspack_->extract(index, file, *span, sink);
}

std::vector<CabinetSet::Extent> CabinetSet::takeExtents(std::size_t index, std::size_t folder) {
    auto [found, added] = extents_.try_emplace(index);
    std::vector<std::vector<Extent>>& byFolder = found->second;
    if (added) {
        const CabinetHeader& header = parts_[index]->header;
        byFolder.resize(header.folderCount);
        for (const FileRecord& file : header.files) {
            if (file.length != 0 && offered(index, file)) {
                byFolder[header.folderOf(file)].push_back({file.folderOffset, uint64_t{file.folderOffset} + file.length,
                                                           RankOf(index, header.files.positionOf(file))});
            }
        }
    }
    return folder < byFolder.size() ? std::move(byFolder[folder]) : std::vector<Extent>{};
}

const CabinetSet::FolderOrder& CabinetSet::orderOf(std::size_t index, std::size_t folder) {
    auto [found, added] = orders_.try_emplace(index);
    std::vector<FolderOrder>& byFolder = found->second;
    if (added) {
        const CabinetHeader& header = parts_[index]->header;
        byFolder.resize(header.folderCount);
        for (const FileRecord& file : header.files) {
            if (file.length == 0 || !offered(index, file)) {
                continue;
            }
            FolderOrder& order = byFolder[header.folderOf(file)];
            const uint64_t end = uint64_t{file.folderOffset} + file.length;
            if (!order.any) {
                order.any = true;
                order.firstBegin = file.folderOffset;
            } else if (file.folderOffset < order.lastEnd) {
                order.inOrder = false;
            }
            order.lastEnd = std::max(order.lastEnd, end);
            order.lastRank = RankOf(index, header.files.positionOf(file));
        }
    }
    static const FolderOrder none;
    return folder < byFolder.size() ? byFolder[folder] : none;
}

CabinetSet::FolderPlan& CabinetSet::planOf(const FolderSpan& span) {
    std::unique_ptr<FolderPlan>& slot = plans_[{span.firstPart, span.firstFolder}];
    if (slot) {
        return *slot;
    }
    slot = std::make_unique<FolderPlan>();
    // Records in the data's order need no more than where the last one ends.
    bool inOrder = true;
    bool any = false;
    for (std::size_t index = span.firstPart; index <= span.lastPart && inOrder; ++index) {
        const FolderOrder& order = orderOf(index, index == span.firstPart ? span.firstFolder : 0);
        if (!order.any) {
            continue;
        }
        inOrder = order.inOrder && (!any || order.firstBegin >= slot->lastEnd);
        any = true;
        slot->lastEnd = std::max(slot->lastEnd, order.lastEnd);
        slot->lastRank = order.lastRank;
    }
    if (inOrder) {
        slot->inOrder = true;
        return *slot;
    }
    // Every entry the walk offers from this folder, where its bytes begin
    // (+) and end (-), with its rank.
    struct Edge {
        uint64_t at;
        bool begins;
        uint64_t rank;
    };
    std::vector<Edge> edges;
    for (std::size_t index = span.firstPart; index <= span.lastPart; ++index) {
        for (const Extent& extent : takeExtents(index, index == span.firstPart ? span.firstFolder : 0)) {
            edges.push_back({extent.begin, true, extent.rank});
            edges.push_back({extent.end, false, extent.rank});
        }
    }
    std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.at < b.at; });
    std::multiset<uint64_t> covering;
    std::vector<FolderPlan::Need>& needs = slot->needs;
    for (std::size_t i = 0; i < edges.size();) {
        const uint64_t at = edges[i].at;
        for (; i < edges.size() && edges[i].at == at; ++i) {
            if (edges[i].begins) {
                covering.insert(edges[i].rank);
            } else {
                covering.erase(covering.find(edges[i].rank));
            }
        }
        if (covering.empty() || i == edges.size()) {
            continue;
        }
        const uint64_t last = *covering.rbegin();
        if (!needs.empty() && needs.back().end == at && needs.back().lastRank == last) {
            needs.back().end = edges[i].at;
        } else {
            needs.push_back({at, edges[i].at, last});
        }
    }
    for (const FolderPlan::Need& need : needs) {
        slot->furthest.emplace_back(need.lastRank, need.end);
    }
    std::sort(slot->furthest.begin(), slot->furthest.end());
    for (std::size_t i = slot->furthest.size(); i-- > 1;) {
        slot->furthest[i - 1].second = std::max(slot->furthest[i - 1].second, slot->furthest[i].second);
    }
    return *slot;
}

void CabinetSet::spill(FolderPlan& plan, uint64_t at, const unsigned char* bytes, std::size_t size, uint64_t rank,
                       bool leaving) {
    const uint64_t end = at + size;
    while (plan.cursor < plan.needs.size() && plan.needs[plan.cursor].end <= plan.passed) {
        ++plan.cursor;
    }
    // In order, what is passed on the way to a record of the folder belongs
    // to records before it; what the walk passes as it leaves, to those after.
    const FolderPlan::Need all{0, UINT64_MAX, UINT64_MAX};
    const std::size_t count = plan.inOrder ? (leaving ? 1 : 0) : plan.needs.size();
    // Bytes before `passed` were kept the first time, if anything needed them.
    for (std::size_t i = plan.inOrder ? 0 : plan.cursor; i < count && !spillBroken_; ++i) {
        const FolderPlan::Need& need = plan.inOrder ? all : plan.needs[i];
        if (need.begin >= end) {
            break;
        }
        const uint64_t from = std::max({at, need.begin, plan.passed});
        const uint64_t to = std::min(end, need.end);
        if (need.lastRank <= rank || from >= to) {
            continue;
        }
        if (!spillAsked_) {
            spillAsked_ = true;
            spill_ = host_.spillStore();
        }
        if (!spill_ || spill_->append(bytes + (from - at), static_cast<std::size_t>(to - from)) != 0) {
            spillBroken_ = true;  // those records' folder will be decoded again
            break;
        }
        if (!plan.kept.empty() && plan.kept.back().end == from &&
            plan.kept.back().at + (plan.kept.back().end - plan.kept.back().begin) == spillSize_) {
            plan.kept.back().end = to;
        } else {
            plan.kept.push_back({from, to, spillSize_});
        }
        spillSize_ += to - from;
    }
    plan.passed = std::max(plan.passed, end);
}

bool CabinetSet::unspill(const FolderPlan& plan, uint64_t from, uint64_t to, EntrySink& sink, Error& error) {
    if (spillBroken_ || !spill_) {
        return false;
    }
    auto piece = std::upper_bound(plan.kept.begin(), plan.kept.end(), from,
                                  [](uint64_t at, const FolderPlan::Kept& kept) { return at < kept.begin; });
    if (piece == plan.kept.begin()) {
        return false;
    }
    --piece;
    // All of it kept, in pieces that follow one another.
    for (auto at = piece; at->end < to; ++at) {
        if (at + 1 == plan.kept.end() || (at + 1)->begin != at->end) {
            return false;
        }
    }
    if (piece->end <= from) {
        return false;
    }
    unspillBuffer_.resize(kUnspillBuffer);
    for (uint64_t at = from; at < to;) {
        if (at == piece->end) {
            ++piece;
        }
        const auto size = static_cast<std::size_t>(std::min<uint64_t>({to, piece->end, at + kUnspillBuffer}) - at);
        if (const int failed = spill_->readAt(piece->at + (at - piece->begin), unspillBuffer_.data(), size);
            failed != 0) {
            error = {Errc::ReadFailed, failed};
            return true;
        }
        sink.write(unspillBuffer_.data(), size);
        at += size;
    }
    return true;
}

Error CabinetSet::pass(uint64_t writeFrom, uint64_t to, uint64_t rank, EntrySink* sink) {
    FolderPlan& plan = planOf(*decoding_);
    while (position_ < to) {
        const unsigned char* bytes = nullptr;
        std::size_t size = 0;
        if (const Error failed = readAhead_->peek(bytes, size); !failed.ok()) {
            return failed;
        }
        if (size == 0) {
            return {Errc::Damaged};  // the folder's data ends before the entry does
        }
        std::size_t take = static_cast<std::size_t>(std::min<uint64_t>(size, to - position_));
        if (position_ < writeFrom) {
            take = static_cast<std::size_t>(std::min<uint64_t>(take, writeFrom - position_));
        } else if (sink != nullptr) {
            sink->write(bytes, take);
        }
        spill(plan, position_, bytes, take, rank, sink == nullptr && writeFrom == to);
        readAhead_->consume(take);
        position_ += take;
    }
    return {};
}

void CabinetSet::leave(uint64_t rank) {
    if (!decoding_) {
        return;
    }
    FolderPlan& plan = planOf(*decoding_);
    const uint64_t needed = plan.neededAfter(rank);
    if (needed > position_) {
        // A failure here is the failure of those later entries, which meet
        // it again when they decode the folder themselves.
        pass(needed, needed, rank, nullptr);
    }
    plan.reached = position_;
    readAhead_->stop();
    decoding_.reset();
}

Error CabinetSet::extractDecoded(const FolderSpan& span, uint64_t rank, const FileRecord& file, EntrySink& sink) {
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
    FolderPlan& plan = planOf(span);
    uint64_t at = file.folderOffset;
    // Bytes the decoder has passed: from the spill store, when kept there.
    const uint64_t reached = sameFolder ? position_ : plan.reached;
    if (at < reached) {
        Error failed;
        const uint64_t kept = std::min(end, reached);
        if (unspill(plan, at, kept, sink, failed)) {
            if (!failed.ok() || kept == end) {
                return failed;
            }
            at = kept;
        }
    }
    if (!sameFolder || position_ > at) {
        if (sameFolder) {
            data = dataOf(span);  // bytes passed and not kept: back to the folder's start
        } else {
            leave(rank);
        }
        if (!readAhead_) {
            readAhead_ = std::make_unique<ReadAhead>();
        }
        readAhead_->start(std::move(data));
        decoding_ = span;
        decodingBlocks_ = blocks;
        position_ = 0;
    }
    return pass(at, end, rank, &sink);
}

void CabinetSet::visitCabinets(const std::function<bool(std::size_t index)>& visit) {
    const bool wholeSet = !part(0).header.hasPrev();
    for (std::size_t index = 0;; ++index) {
        if (!visit(index) || !wholeSet || !part(index).header.hasNext()) {
            return;
        }
        if (index + 1 == size()) {
            openNext();
        }
        releaseFiles(index);
    }
}

}  // namespace cabformat
