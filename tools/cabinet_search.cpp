// SPDX-License-Identifier: MIT
// The search for an embedded cabinet (see cabinet_search.h).
#include "tools/cabinet_search.h"

#include "cabformat/layout.h"
#include "platform/runtime.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace cabfile_tool {

namespace {

namespace layout = cabformat::layout;

constexpr unsigned char kSignature[] = {'M', 'S', 'C', 'F'};
constexpr uint16_t kKnownFlags = layout::kFlagPrevCabinet | layout::kFlagNextCabinet | layout::kFlagReservePresent;
// The smallest file record: its fixed part, a one-byte name and the name's zero.
constexpr uint64_t kSmallestFileRecord = layout::kFileSize + 2;

// The bytes of a file a window at a time, each window followed by as much
// of the file as a header beginning in the window can need: every
// candidate is judged in memory, in one pass over the file.
class Windows {
public:
    // A header's fixed part, the reserve sizes, a header reserve of at most
    // 64 KB, the four names of the cabinets beside it and the first folder
    // record with its reserve.
    static constexpr std::size_t kMargin = layout::kHeaderSize + layout::kReserveSizesSize + 0xFFFF +
                                           4 * layout::kMaxStringSize + layout::kFolderSize + 0xFF;
    static constexpr std::size_t kWindow = 1 << 20;

    Windows(std::istream& file, uint64_t fileSize) : file_(file), fileSize_(fileSize), bytes_(kWindow + kMargin) {}

    // Loads the window at `base`; false when nothing could be read there.
    bool load(uint64_t base) {
        base_ = base;
        const auto wanted =
            static_cast<std::size_t>(std::min<uint64_t>(bytes_.size(), fileSize_ - std::min(base, fileSize_)));
        file_.clear();
        file_.seekg(static_cast<std::streamoff>(base));
        file_.read(reinterpret_cast<char*>(bytes_.data()), static_cast<std::streamsize>(wanted));
        size_ = static_cast<std::size_t>(std::max<std::streamsize>(file_.gcount(), 0));
        return size_ > 0 || wanted == 0;
    }
    uint64_t base() const { return base_; }
    // Bytes loaded from `base` on, and where a search for a header stops.
    const unsigned char* data() const { return bytes_.data(); }
    std::size_t size() const { return size_; }
    std::size_t searchEnd() const { return std::min(size_, kWindow); }

private:
    std::istream& file_;
    uint64_t fileSize_;
    std::vector<unsigned char> bytes_;
    uint64_t base_ = 0;
    std::size_t size_ = 0;
};

// Reads a zero-ended string of at most kMaxStringSize bytes at `at` of the
// first `size` bytes, moving `at` past it; false when there is none.
bool TakeString(const unsigned char* bytes, std::size_t size, std::size_t& at, std::string* into) {
    const std::size_t limit = std::min(size, at + layout::kMaxStringSize);
    if (at >= limit) {
        return false;
    }
    const auto* end = static_cast<const unsigned char*>(std::memchr(bytes + at, 0, limit - at));
    if (end == nullptr) {
        return false;
    }
    const auto length = static_cast<std::size_t>(end - bytes) - at;
    if (into != nullptr) {
        into->assign(reinterpret_cast<const char*>(bytes + at), length);
    }
    at += length + 1;
    return true;
}

// The cabinet whose header is at `offset`, when its fields fit together and
// fit a file of `fileSize` bytes: reserved fields zero, version 1.3, no
// unknown flag, the cabinet inside the file, at least one folder and one
// file, whose records fit between coffFiles and the cabinet's end, the
// folder records before coffFiles, and the first folder's data inside the
// cabinet. `h` holds the `available` bytes the file has from `offset` on, or
// at least Windows::kMargin of them.
std::optional<CabinetPlace> PlausibleAt(const unsigned char* h, std::size_t available, uint64_t offset,
                                        uint64_t fileSize) {
    if (available < layout::kHeaderSize) {
        return std::nullopt;
    }
    const uint32_t cabinetSize = layout::U32(h + layout::kHeaderCabinetSize);
    const uint32_t filesOffset = layout::U32(h + layout::kHeaderFilesOffset);
    const uint16_t folders = layout::U16(h + layout::kHeaderFolderCount);
    const uint16_t files = layout::U16(h + layout::kHeaderFileCount);
    const uint16_t flags = layout::U16(h + layout::kHeaderFlags);
    if (layout::U32(h + layout::kHeaderReserved1) != 0 || layout::U32(h + layout::kHeaderReserved2) != 0 ||
        layout::U32(h + layout::kHeaderReserved3) != 0 ||
        h[layout::kHeaderVersionMinor] != layout::kVersionMinorLatest ||
        h[layout::kHeaderVersionMajor] != layout::kVersionMajor || (flags & ~kKnownFlags) != 0 ||
        cabinetSize > fileSize - offset || filesOffset < layout::kHeaderSize || filesOffset >= cabinetSize ||
        folders == 0 || files == 0 || uint64_t{files} * kSmallestFileRecord > cabinetSize - filesOffset) {
        return std::nullopt;
    }
    // The records between the fixed header and the file records: the
    // reserve, the names of the cabinets beside it, the folder records.
    std::size_t at = layout::kHeaderSize;
    std::size_t folderReserve = 0;
    if ((flags & layout::kFlagReservePresent) != 0) {
        if (available < at + layout::kReserveSizesSize) {
            return std::nullopt;
        }
        folderReserve = h[at + layout::kReserveFolderBytes];
        at += layout::kReserveSizesSize + layout::U16(h + at + layout::kReserveHeaderBytes);
    }
    // Of the records before coffFiles, the file holds this many.
    const uint64_t wanted = at + 4 * layout::kMaxStringSize + uint64_t{folders} * (layout::kFolderSize + folderReserve);
    const uint64_t records = std::min<uint64_t>({filesOffset, wanted, available});
    const auto inMemory = static_cast<std::size_t>(std::min<uint64_t>(records, Windows::kMargin));
    CabinetPlace place{offset, cabinetSize, {}};
    if ((flags & layout::kFlagPrevCabinet) != 0 &&
        (!TakeString(h, inMemory, at, nullptr) || !TakeString(h, inMemory, at, nullptr))) {
        return std::nullopt;
    }
    if ((flags & layout::kFlagNextCabinet) != 0 && (!TakeString(h, inMemory, at, &place.nextName) ||
                                                    !TakeString(h, inMemory, at, nullptr) || place.nextName.empty())) {
        return std::nullopt;
    }
    if (at + uint64_t{folders} * (layout::kFolderSize + folderReserve) > records ||
        at + layout::kFolderSize > inMemory) {
        return std::nullopt;
    }
    const uint32_t firstData = layout::U32(h + at + layout::kFolderDataOffset);
    if (firstData < layout::kHeaderSize || firstData >= cabinetSize) {
        return std::nullopt;
    }
    return place;
}

}  // namespace

std::optional<CabinetPlace> LocateCabinet(std::istream& file, uint64_t fileSize) {
    Windows windows(file, fileSize);
    if (!windows.load(0)) {
        return std::nullopt;
    }
    const bool signature =
        windows.size() >= sizeof kSignature && std::memcmp(windows.data(), kSignature, sizeof kSignature) == 0;
    if (signature) {
        if (std::optional<CabinetPlace> place = PlausibleAt(windows.data(), windows.size(), 0, fileSize)) {
            return place;
        }
        // A header that would be plausible in a longer file: a cabinet cut
        // short, which stays that rather than a search inside its data.
        if (PlausibleAt(windows.data(), windows.size(), 0, UINT64_MAX)) {
            return CabinetPlace{0, fileSize, {}};
        }
    }
    // Windows that overlap by the signature's length less one, so that none
    // is missed across the seam.
    for (uint64_t base = 0; base < fileSize; base += Windows::kWindow - (sizeof kSignature - 1)) {
        if (base != 0 && !windows.load(base)) {
            break;
        }
        const unsigned char* bytes = windows.data();
        const std::size_t end = windows.searchEnd();
        for (std::size_t at = base == 0 && signature ? 1 : 0; at + sizeof kSignature <= windows.size() && at < end;
             ++at) {
            const auto* found = static_cast<const unsigned char*>(std::memchr(bytes + at, kSignature[0], end - at));
            if (found == nullptr) {
                break;
            }
            at = static_cast<std::size_t>(found - bytes);
            if (at + sizeof kSignature > windows.size() || std::memcmp(found, kSignature, sizeof kSignature) != 0) {
                continue;
            }
            if (std::optional<CabinetPlace> place = PlausibleAt(found, windows.size() - at, base + at, fileSize)) {
                return place;
            }
        }
        if (windows.size() <= Windows::kWindow) {
            break;  // the file ends in this window
        }
    }
    // Nothing plausible: a file that begins as a cabinet is a damaged one.
    return signature ? std::optional<CabinetPlace>(CabinetPlace{0, fileSize, {}}) : std::nullopt;
}

std::filesystem::path FindBeside(const std::filesystem::path& where, const std::string& name) {
    const std::filesystem::path directory = where.empty() ? std::filesystem::path(".") : where;
    std::error_code error;
    if (name.empty() || name.find_first_of("/\\") != std::string::npos) {
        return {};  // a name, not a path
    }
    if (std::filesystem::is_regular_file(directory / name, error)) {
        return directory / name;
    }
    const std::u16string wanted = platform::FoldTextCase(platform::AnsiToText(name));
    for (const auto& item : std::filesystem::directory_iterator(directory, error)) {
        if (platform::FoldTextCase(platform::AnsiToText(item.path().filename().string())) == wanted &&
            item.is_regular_file(error)) {
            return item.path();
        }
    }
    return {};
}

}  // namespace cabfile_tool
