// SPDX-License-Identifier: MIT
// The test-only cabinet writer (see cab_writer.h). It writes the format as
// the engine's one description of it gives (cabformat/layout.h); what keeps
// that description honest is the corpus of cabinets other tools made, which
// the engine must read as libmspack does.
#include "tests/support/cab_writer.h"

#include "cabformat/layout.h"

#include <algorithm>
#include <map>
#include <stdexcept>
#include <zlib.h>

namespace testsupport {

namespace {

namespace layout = cabformat::layout;

constexpr char kSignature[] = "MSCF";  // layout::kSignature's bytes, as text
constexpr std::size_t kHeaderBytes = layout::kHeaderSize;
constexpr std::size_t kFolderBytes = layout::kFolderSize;
constexpr std::size_t kFileBytes = layout::kFileSize;
constexpr std::size_t kDataHeaderBytes = layout::kDataHeaderSize;
constexpr std::size_t kFolderCompressionAt = layout::kFolderCompression;
constexpr std::size_t kMaxBlockSize = layout::kMaxBlockSize;
constexpr uint8_t kVersionMinor = layout::kVersionMinorLatest;
constexpr uint8_t kVersionMajor = layout::kVersionMajor;
constexpr uint16_t kMszip = layout::kCompressionMszip;
constexpr uint16_t kFlagPrev = layout::kFlagPrevCabinet;
constexpr uint16_t kFlagNext = layout::kFlagNextCabinet;
constexpr uint16_t kFromPrev = layout::kContinuedFromPrev;
constexpr uint16_t kToNext = layout::kContinuedToNext;
constexpr uint16_t kPrevAndNext = layout::kContinuedPrevAndNext;
constexpr std::size_t kFlagsAt = layout::kHeaderFlags;

void Put16(std::string& out, uint16_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8);
}

void Put32(std::string& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out += static_cast<char>((value >> shift) & 0xFF);
    }
}

uint32_t Get32(const std::string& in, std::size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = value << 8 | static_cast<unsigned char>(in.at(at + static_cast<std::size_t>(i)));
    }
    return value;
}

uint16_t Get16(const std::string& in, std::size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(in.at(at)) | static_cast<unsigned char>(in.at(at + 1))
                                                                             << 8);
}

// The MS-CAB checksum: 32-bit little-endian words XORed, the tail bytes
// taken most significant first.
uint32_t Checksum(const unsigned char* data, std::size_t size, uint32_t seed) {
    uint32_t sum = seed;
    std::size_t i = 0;
    for (; i + 4 <= size; i += 4) {
        sum ^= static_cast<uint32_t>(data[i]) | static_cast<uint32_t>(data[i + 1]) << 8 |
               static_cast<uint32_t>(data[i + 2]) << 16 | static_cast<uint32_t>(data[i + 3]) << 24;
    }
    uint32_t tail = 0;
    switch (size - i) {
        case 3: tail |= static_cast<uint32_t>(data[i++]) << 16; [[fallthrough]];
        case 2: tail |= static_cast<uint32_t>(data[i++]) << 8; [[fallthrough]];
        case 1: tail |= data[i];
    }
    return sum ^ tail;
}

uint32_t BlockChecksum(const std::string& data, uint16_t stored, uint16_t uncompressed) {
    const uint32_t dataSum = Checksum(reinterpret_cast<const unsigned char*>(data.data()), data.size(), 0);
    const unsigned char sizes[4] = {static_cast<unsigned char>(stored & 0xFF), static_cast<unsigned char>(stored >> 8),
                                    static_cast<unsigned char>(uncompressed & 0xFF),
                                    static_cast<unsigned char>(uncompressed >> 8)};
    return Checksum(sizes, sizeof sizes, dataSum);
}

// An MSZIP block: "CK", then `block` as a raw deflate stream of its own that
// may refer back into `history`, the folder's previous block.
std::string MszipBlock(const std::string& block, const std::string& history) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2");
    }
    if (!history.empty()) {
        deflateSetDictionary(&stream, reinterpret_cast<const Bytef*>(history.data()),
                             static_cast<uInt>(history.size()));
    }
    std::string out(deflateBound(&stream, static_cast<uLong>(block.size())) + 2, '\0');
    out[0] = 'C';
    out[1] = 'K';
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(block.data()));
    stream.avail_in = static_cast<uInt>(block.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data() + 2);
    stream.avail_out = static_cast<uInt>(out.size() - 2);
    const int result = deflate(&stream, Z_FINISH);
    out.resize(out.size() - stream.avail_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END) {
        throw std::runtime_error("deflate");
    }
    return out;
}

// The start of an LZX stream of one uncompressed block of `size` bytes.
// LZX reads 16-bit little-endian words, most significant bit first: no E8
// header (1 bit), block type 3 (3 bits), the size (24 bits), 4 bits to the
// word's end; then R0, R1 and R2, each 1.
std::string LzxStoredHeader(std::size_t size) {
    const uint32_t bits = (3u << 28) | (static_cast<uint32_t>(size) << 4);
    std::string header;
    for (const uint32_t word : {bits >> 16, bits & 0xFFFF}) {
        header += static_cast<char>(word & 0xFF);
        header += static_cast<char>(word >> 8);
    }
    for (int r = 0; r < 3; ++r) {
        header += std::string("\x01\0\0\0", 4);
    }
    return header;
}

// One CFDATA record as it lands in a cabinet.
struct Piece {
    std::string data;
    uint16_t uncompressed;  // 0 for the first half of a split block
};

struct FolderPlan {
    std::size_t start = 0;                 // position of its data among all folders' data
    std::string data;                      // all entries' bytes
    std::vector<std::size_t> blockStarts;  // in data, and data.size() last
    // Pieces by cabinet.
    std::map<std::size_t, std::vector<Piece>> pieces;
    std::size_t emptyIn = 0;  // the cabinet of a folder without data
};

}  // namespace

std::vector<std::string> BuildCabinetSet(const std::vector<CabWriterFolder>& folders, const CabWriterOptions& options) {
    const std::size_t blockSize = options.blockSize;
    if (blockSize == 0 || blockSize > kMaxBlockSize) {
        throw std::invalid_argument("block size");
    }
    const std::vector<std::size_t>& bounds = options.cabinetStartsAt;
    if (!std::is_sorted(bounds.begin(), bounds.end())) {
        throw std::invalid_argument("cabinet starts out of order");
    }
    const std::size_t cabinetCount = bounds.size() + 1;
    // The cabinet holding the byte at `position`.
    auto cabinetAt = [&](std::size_t position) {
        return static_cast<std::size_t>(std::upper_bound(bounds.begin(), bounds.end(), position) - bounds.begin());
    };

    std::vector<FolderPlan> plans;
    std::size_t position = 0;
    for (const auto& folder : folders) {
        FolderPlan plan;
        plan.start = position;
        for (const auto& entry : folder.entries) {
            plan.data += entry.bytes;
        }
        plan.emptyIn = cabinetAt(position);
        for (std::size_t at = 0, block = 0; at < plan.data.size(); ++block) {
            plan.blockStarts.push_back(at);
            const std::vector<std::size_t>& sizes = folder.blockSizes;
            const std::size_t size = sizes.empty() ? blockSize : sizes[std::min(block, sizes.size() - 1)];
            if (size == 0 || size > kMaxBlockSize) {
                throw std::invalid_argument("block size");
            }
            at += size;
        }
        plan.blockStarts.push_back(plan.data.size());
        for (std::size_t block = 0; block + 1 < plan.blockStarts.size(); ++block) {
            const std::size_t from = plan.blockStarts[block];
            const std::size_t to = std::min(plan.data.size(), plan.blockStarts[block + 1]);
            const std::string unpacked = plan.data.substr(from, to - from);
            // libmspack keeps a 32 KB window that each block overwrites from
            // its start: unless the folder's block sizes are given, only a
            // full previous block is history to refer to.
            const std::size_t previous = block == 0 ? 0 : from - plan.blockStarts[block - 1];
            const bool history = previous == kMaxBlockSize || (previous != 0 && !folder.blockSizes.empty());
            std::string packed = folder.mszip
                                     ? MszipBlock(unpacked, history ? plan.data.substr(from - previous, previous) : "")
                                     : unpacked;
            if (folder.lzx) {
                if (block == 0) {
                    packed.insert(0, LzxStoredHeader(plan.data.size()));
                }
                if (to == plan.data.size() && plan.data.size() % 2 != 0) {
                    packed += '\0';  // an uncompressed LZX block ends on an even byte
                }
            }
            // A cabinet boundary inside the block splits its packed bytes at
            // the same share.
            std::size_t cut = 0;
            for (std::size_t bound : bounds) {
                if (bound > position + from && bound < position + to) {
                    const std::size_t share = (bound - position - from) * packed.size() / (to - from);
                    const std::size_t at = std::clamp<std::size_t>(share, cut + 1, packed.size() - 1);
                    plan.pieces[cabinetAt(bound - 1)].push_back({packed.substr(cut, at - cut), 0});
                    cut = at;
                }
            }
            plan.pieces[cabinetAt(position + to - 1)].push_back({packed.substr(cut), static_cast<uint16_t>(to - from)});
        }
        position += plan.data.size();
        plans.push_back(std::move(plan));
    }

    // The cabinets an entry's data needs: from where the block holding its
    // first byte begins to where the block holding its last byte ends.
    // The start of the block holding the folder's byte at `offset`, and the end.
    auto blockOf = [](const FolderPlan& plan, std::size_t offset) {
        const auto next = std::upper_bound(plan.blockStarts.begin(), plan.blockStarts.end() - 1, offset);
        return std::make_pair(*(next - 1), *next);
    };
    auto firstCabinetOf = [&](const FolderPlan& plan, std::size_t offset) {
        return cabinetAt(plan.start + blockOf(plan, offset).first);
    };
    auto lastCabinetOf = [&](const FolderPlan& plan, std::size_t endOffset) {
        return cabinetAt(plan.start + blockOf(plan, endOffset - 1).second - 1);
    };
    auto nameOf = [&](std::size_t index) {
        return index < options.cabinetNames.size() ? options.cabinetNames[index]
                                                   : "part" + std::to_string(index + 1) + ".cab";
    };
    auto diskOf = [&](std::size_t index) {
        return index < options.diskNames.size() ? options.diskNames[index] : "Disk " + std::to_string(index + 1);
    };

    std::vector<std::string> cabinets;
    for (std::size_t c = 0; c < cabinetCount; ++c) {
        const bool last = c + 1 == cabinetCount;
        std::vector<std::size_t> present;  // folders with data (or their place) in this cabinet
        for (std::size_t f = 0; f < plans.size(); ++f) {
            if (plans[f].data.empty() ? plans[f].emptyIn == c : plans[f].pieces.count(c) > 0) {
                present.push_back(f);
            }
        }

        struct Record {
            const CabWriterEntry* entry;
            uint32_t offset;
            uint16_t index;
        };
        std::vector<Record> records;
        for (std::size_t local = 0; local < present.size(); ++local) {
            const FolderPlan& plan = plans[present[local]];
            std::size_t offset = 0;
            for (const auto& entry : folders[present[local]].entries) {
                const std::size_t end = offset + entry.bytes.size();
                std::size_t first = 0;
                std::size_t lastNeeded = 0;
                if (entry.bytes.empty()) {
                    // An empty entry needs no data: it lives where its position is.
                    first = lastNeeded = plan.data.empty()           ? plan.emptyIn
                                         : offset < plan.data.size() ? firstCabinetOf(plan, offset)
                                                                     : lastCabinetOf(plan, plan.data.size());
                } else {
                    first = firstCabinetOf(plan, offset);
                    lastNeeded = lastCabinetOf(plan, end);
                }
                if (c >= first && c <= lastNeeded) {
                    const bool fromPrev = c > first;
                    const bool toNext = c < lastNeeded;
                    const uint16_t index = fromPrev && toNext ? kPrevAndNext
                                           : fromPrev         ? kFromPrev
                                           : toNext           ? kToNext
                                                              : static_cast<uint16_t>(local);
                    records.push_back({&entry, static_cast<uint32_t>(offset), entry.folderIndex.value_or(index)});
                }
                offset = end;
            }
        }

        if (!options.recordOrder.empty()) {
            if (options.recordOrder.size() != records.size()) {
                throw std::invalid_argument("record order");
            }
            std::vector<Record> ordered;
            for (std::size_t index : options.recordOrder) {
                ordered.push_back(records.at(index));
            }
            records = std::move(ordered);
        }

        std::string out(kHeaderBytes, '\0');
        uint16_t flags = 0;
        if (c > 0) {
            flags |= kFlagPrev;
            out += nameOf(c - 1) + '\0' + diskOf(c - 1) + '\0';
        }
        if (!last) {
            flags |= kFlagNext;
            out += nameOf(c + 1) + '\0' + diskOf(c + 1) + '\0';
        }
        const std::size_t foldersAt = out.size();
        out.append(present.size() * kFolderBytes, '\0');
        out.append(options.paddingBeforeFiles, '\0');
        const std::size_t filesAt = out.size();
        for (const auto& record : records) {
            Put32(out, static_cast<uint32_t>(record.entry->bytes.size()));
            Put32(out, record.offset);
            Put16(out, record.index);
            Put16(out, record.entry->dosDate);
            Put16(out, record.entry->dosTime);
            Put16(out, record.entry->attribs);
            out += record.entry->name;
            out += '\0';
        }
        for (std::size_t local = 0; local < present.size(); ++local) {
            const FolderPlan& plan = plans[present[local]];
            const auto found = plan.pieces.find(c);
            const std::vector<Piece> none;
            const std::vector<Piece>& pieces = found == plan.pieces.end() ? none : found->second;
            std::string folderRecord;
            Put32(folderRecord, static_cast<uint32_t>(out.size()));
            Put16(folderRecord, static_cast<uint16_t>(pieces.size()));
            Put16(folderRecord, folders[present[local]].mszip ? kMszip
                                : folders[present[local]].lzx ? kCabWriterLzx21
                                                              : folders[present[local]].compression);
            out.replace(foldersAt + local * kFolderBytes, kFolderBytes, folderRecord);
            for (const Piece& piece : pieces) {
                const auto size = static_cast<uint16_t>(piece.data.size());
                Put32(out, options.checksums ? BlockChecksum(piece.data, size, piece.uncompressed) : 0);
                Put16(out, size);
                Put16(out, piece.uncompressed);
                out += piece.data;
            }
        }

        std::string header;
        header += kSignature;
        Put32(header, 0);
        Put32(header, static_cast<uint32_t>(out.size()));
        Put32(header, 0);
        Put32(header, static_cast<uint32_t>(filesAt));
        Put32(header, 0);
        header += static_cast<char>(kVersionMinor);
        header += static_cast<char>(kVersionMajor);
        Put16(header, static_cast<uint16_t>(present.size()));
        Put16(header, static_cast<uint16_t>(records.size()));
        Put16(header, flags);
        Put16(header, options.setId);
        Put16(header, static_cast<uint16_t>(c));
        out.replace(0, kHeaderBytes, header);
        cabinets.push_back(std::move(out));
    }
    return cabinets;
}

std::string BuildCabinet(const std::vector<CabWriterFolder>& folders, const CabWriterOptions& options) {
    CabWriterOptions single = options;
    single.cabinetStartsAt.clear();
    return BuildCabinetSet(folders, single).front();
}

// The first CFFOLDER record, after the header and the set's names.
std::size_t FirstFolderRecord(const std::string& cabinet) {
    std::size_t at = kHeaderBytes;
    const uint16_t flags = Get16(cabinet, kFlagsAt);
    const int strings = ((flags & kFlagPrev) ? 2 : 0) + ((flags & kFlagNext) ? 2 : 0);
    for (int i = 0; i < strings; ++i) {
        at = cabinet.find('\0', at) + 1;
    }
    return at;
}

std::size_t FirstDataOffset(const std::string& cabinet) {
    return Get32(cabinet, FirstFolderRecord(cabinet)) + kDataHeaderBytes;
}

std::size_t DataRecordOffset(const std::string& cabinet, std::size_t n) {
    std::size_t at = Get32(cabinet, FirstFolderRecord(cabinet));
    for (std::size_t i = 0; i < n; ++i) {
        at += kDataHeaderBytes + Get16(cabinet, at + 4);
    }
    return at;
}

std::size_t FirstFolderCompressionOffset(const std::string& cabinet) {
    return FirstFolderRecord(cabinet) + kFolderCompressionAt;
}

std::string ThreeEntries(bool checksums, bool mszip) {
    CabWriterFolder folder;
    folder.mszip = mszip;
    folder.entries = {EntryOf("good.txt", "good entry\n"), EntryOf("victim.txt", std::string(3000, 'v')),
                      EntryOf("after.txt", "after\n")};
    CabWriterOptions options;
    options.checksums = checksums;
    options.blockSize = 1000;
    return BuildCabinet({folder}, options);
}

std::size_t ThreeEntriesDataByte(const std::string& cabinet, std::size_t position) {
    return FirstDataOffset(cabinet) + position / 1000 * (1000 + kDataHeaderBytes) + position % 1000;
}

std::string FoldersSharingData(const std::string& goodBytes) {
    CabWriterFolder stored;
    stored.entries = {EntryOf("good.txt", goodBytes)};
    CabWriterFolder deflated;
    deflated.mszip = true;
    deflated.entries = {EntryOf("victim.txt", std::string(3000, 'v'))};
    std::string cabinet = BuildCabinet({stored, deflated});
    const std::size_t folders = FirstFolderRecord(cabinet);
    cabinet.replace(folders, 4, cabinet, folders + 8, 4);
    return cabinet;
}

std::string LzxE8SizeOverflowCabinet() {
    // LZX with a 2^15-byte window: type 3, window bits in the high byte.
    constexpr uint16_t kLzx15 = 3 | 15 << 8;
    // LZX reads 16-bit little-endian words, most significant bit first:
    // 1 (an E8 header follows), 0x8000 (high half of the size), 0x0000 (low
    // half), then block type 0, which does not exist.
    std::string stream = {'\x00', '\xC0'};
    stream.resize(16, '\0');
    CabWriterFolder folder;
    folder.entries = {EntryOf("file.txt", stream)};
    folder.compression = kLzx15;
    return BuildCabinet({folder});
}

}  // namespace testsupport
