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
constexpr std::size_t kReserved1 = 4, kReserved2 = 12, kReserved3 = 20, kVersionMinor = 24, kVersionMajor = 25;
constexpr uint16_t kKnownFlags = layout::kFlagPrevCabinet | layout::kFlagNextCabinet | layout::kFlagReservePresent;
// The smallest file record: its fixed part, a one-byte name and the name's zero.
constexpr uint64_t kSmallestFileRecord = layout::kFileSize + 2;

// Up to `size` bytes at `offset`; fewer at the end of the file.
std::vector<unsigned char> ReadAt(std::istream& file, uint64_t offset, std::size_t size) {
    std::vector<unsigned char> bytes(size);
    file.clear();
    file.seekg(static_cast<std::streamoff>(offset));
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    bytes.resize(file ? size : static_cast<std::size_t>(std::max<std::streamsize>(file.gcount(), 0)));
    return bytes;
}

// Reads a zero-ended string of at most kMaxStringSize bytes at `at`, moving
// `at` past it; false when there is none.
bool TakeString(const std::vector<unsigned char>& bytes, std::size_t& at, std::string* into) {
    const std::size_t limit = std::min(bytes.size(), at + layout::kMaxStringSize);
    const auto end = std::find(bytes.begin() + static_cast<std::ptrdiff_t>(std::min(at, bytes.size())),
                               bytes.begin() + static_cast<std::ptrdiff_t>(limit), 0);
    if (end == bytes.begin() + static_cast<std::ptrdiff_t>(limit)) {
        return false;
    }
    const auto length = static_cast<std::size_t>(end - bytes.begin()) - at;
    if (into != nullptr) {
        into->assign(reinterpret_cast<const char*>(bytes.data() + at), length);
    }
    at += length + 1;
    return true;
}

// The cabinet whose header is at `offset`, when its fields fit together and
// fit the file: reserved fields zero, version 1.3, no unknown flag, the
// cabinet inside the file, at least one folder and one file, whose records
// fit between coffFiles and the cabinet's end, the folder records before
// coffFiles, and the first folder's data inside the cabinet.
std::optional<CabinetPlace> PlausibleAt(std::istream& file, uint64_t offset, uint64_t fileSize) {
    const std::vector<unsigned char> fixed = ReadAt(file, offset, layout::kHeaderSize + layout::kReserveSizesSize);
    if (fixed.size() < layout::kHeaderSize) {
        return std::nullopt;
    }
    const unsigned char* h = fixed.data();
    const uint32_t cabinetSize = layout::U32(h + layout::kHeaderCabinetSize);
    const uint32_t filesOffset = layout::U32(h + layout::kHeaderFilesOffset);
    const uint16_t folders = layout::U16(h + layout::kHeaderFolderCount);
    const uint16_t files = layout::U16(h + layout::kHeaderFileCount);
    const uint16_t flags = layout::U16(h + layout::kHeaderFlags);
    if (layout::U32(h + kReserved1) != 0 || layout::U32(h + kReserved2) != 0 || layout::U32(h + kReserved3) != 0 ||
        h[kVersionMinor] != 3 || h[kVersionMajor] != 1 || (flags & ~kKnownFlags) != 0 ||
        cabinetSize > fileSize - offset || filesOffset < layout::kHeaderSize || filesOffset >= cabinetSize ||
        folders == 0 || files == 0 || uint64_t{files} * kSmallestFileRecord > cabinetSize - filesOffset) {
        return std::nullopt;
    }
    // The records between the fixed header and the file records: the
    // reserve, the names of the cabinets beside it, the folder records.
    std::size_t at = layout::kHeaderSize;
    std::size_t folderReserve = 0;
    if ((flags & layout::kFlagReservePresent) != 0) {
        if (fixed.size() < at + layout::kReserveSizesSize) {
            return std::nullopt;
        }
        folderReserve = h[at + layout::kReserveFolderBytes];
        at += layout::kReserveSizesSize + layout::U16(h + at + layout::kReserveHeaderBytes);
    }
    const uint64_t wanted = at + 4 * layout::kMaxStringSize + uint64_t{folders} * (layout::kFolderSize + folderReserve);
    const std::vector<unsigned char> records =
        ReadAt(file, offset, static_cast<std::size_t>(std::min<uint64_t>(filesOffset, wanted)));
    CabinetPlace place{offset, cabinetSize, {}};
    if ((flags & layout::kFlagPrevCabinet) != 0 &&
        (!TakeString(records, at, nullptr) || !TakeString(records, at, nullptr))) {
        return std::nullopt;
    }
    if ((flags & layout::kFlagNextCabinet) != 0 &&
        (!TakeString(records, at, &place.nextName) || !TakeString(records, at, nullptr) || place.nextName.empty())) {
        return std::nullopt;
    }
    if (at + uint64_t{folders} * (layout::kFolderSize + folderReserve) > records.size()) {
        return std::nullopt;
    }
    const uint32_t firstData = layout::U32(records.data() + at + layout::kFolderDataOffset);
    if (firstData < layout::kHeaderSize || firstData >= cabinetSize) {
        return std::nullopt;
    }
    return place;
}

}  // namespace

std::optional<CabinetPlace> LocateCabinet(std::istream& file, uint64_t fileSize) {
    const std::vector<unsigned char> start = ReadAt(file, 0, sizeof kSignature);
    const bool signature =
        start.size() == sizeof kSignature && std::memcmp(start.data(), kSignature, sizeof kSignature) == 0;
    if (signature) {
        if (std::optional<CabinetPlace> place = PlausibleAt(file, 0, fileSize)) {
            return place;
        }
        // A header that would be plausible in a longer file: a cabinet cut
        // short, which stays that rather than a search inside its data.
        if (PlausibleAt(file, 0, UINT64_MAX)) {
            return CabinetPlace{0, fileSize, {}};
        }
    }
    // A window at a time, each overlapping the one before by the
    // signature's length less one, so that none is missed across the seam.
    constexpr std::size_t kWindow = 1 << 20;
    for (uint64_t base = 0; base < fileSize; base += kWindow - (sizeof kSignature - 1)) {
        const std::vector<unsigned char> window = ReadAt(file, base, kWindow);
        if (window.size() < sizeof kSignature) {
            break;
        }
        for (auto at = window.begin() + (base == 0 && signature ? 1 : 0);
             (at = std::search(at, window.end(), std::begin(kSignature), std::end(kSignature))) != window.end(); ++at) {
            if (std::optional<CabinetPlace> place =
                    PlausibleAt(file, base + static_cast<uint64_t>(at - window.begin()), fileSize)) {
                return place;
            }
        }
        if (window.size() < kWindow) {
            break;
        }
    }
    // Nothing plausible: a file that begins as a cabinet is a damaged one.
    return signature ? std::optional<CabinetPlace>(CabinetPlace{0, fileSize, {}}) : std::nullopt;
}

std::filesystem::path FindBeside(const std::filesystem::path& where, const std::string& name) {
    const std::filesystem::path folder = where.empty() ? std::filesystem::path(".") : where;
    std::error_code error;
    if (name.empty() || name.find_first_of("/\\") != std::string::npos) {
        return {};  // a name, not a path
    }
    if (std::filesystem::is_regular_file(folder / name, error)) {
        return folder / name;
    }
    const std::u16string wanted = platform::FoldTextCase(platform::AnsiToText(name));
    for (const auto& item : std::filesystem::directory_iterator(folder, error)) {
        if (platform::FoldTextCase(platform::AnsiToText(item.path().filename().string())) == wanted &&
            item.is_regular_file(error)) {
            return item.path();
        }
    }
    return {};
}

}  // namespace cabfile_tool
