// SPDX-License-Identifier: MIT
// The fuzz targets' work (see harness.h). The engine's targets read the
// input from memory; CabFile's writes inside a scratch Wine-style prefix
// whose drive C: is a fresh temporary folder; the drive map never lets a
// path climb above a drive's root, so no input can write outside it.
#include "fuzz/harness.h"

#include "cabformat/cabinet_set.h"
#include "cabformat/header.h"
#include "cabinet/cab_file.h"
#include "platform/posix/safe_output.h"
#include "platform/runtime.h"
#include "platform/setupapi.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fuzzing {

namespace {

namespace fs = std::filesystem;
using namespace platform;

// What the walk does with successive entries; which one an entry gets also
// depends on the input's size, so the fuzzer reaches every answer at every entry.
constexpr std::array<uint32_t, 8> kAnswers = {FILEOP_DOIT, FILEOP_DOIT, FILEOP_SKIP, FILEOP_DOIT,
                                              FILEOP_DOIT, FILEOP_SKIP, FILEOP_DOIT, FILEOP_ABORT};

// The scratch prefix, made on first use and removed when the process ends.
class Scratch {
public:
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "varnholt-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        root_ = pattern;
        fs::create_directories(root_ / "drive_c");
        fs::create_directories(root_ / "dosdevices");
        fs::create_directory_symlink("../drive_c", root_ / "dosdevices" / "c:");
        setenv("WINEPREFIX", root_.c_str(), 1);
    }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    fs::path driveC() const { return root_ / "drive_c"; }

    // Puts the input where the cabinet is looked for and empties the output
    // folder.
    void place(const uint8_t* data, std::size_t size) const {
        std::error_code ignored;
        fs::remove_all(driveC() / "out", ignored);
        fs::create_directory(driveC() / "out", ignored);
        // A new file rather than a truncated one: ext4 writes a file
        // truncated and written again through to the disk when it closes.
        fs::remove(driveC() / "in.cab", ignored);
        std::ofstream(driveC() / "in.cab", std::ios::binary)
            .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

    // A temporary file some write left behind, or "".
    std::string litter() const {
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(driveC(), ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec)) {
            if (IsSafeOutputTemporaryName(it->path().filename().string())) {
                return "a temporary file was left: " + it->path().string();
            }
        }
        return "";
    }

private:
    fs::path root_;
};

const Scratch& TheScratch() {
    static const Scratch scratch;
    return scratch;
}

// The input as every cabinet of a set: the host hands the same bytes over
// when the next cabinet is asked for (they are rarely the next one).
class SameBytesHost final : public cabformat::SetHost {
public:
    SameBytesHost(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::unique_ptr<cabformat::ByteSource> nextPart(const cabformat::Part&, int attempt) override {
        return attempt == 0 ? std::make_unique<cabformat::MemorySource>(data_, size_) : nullptr;
    }
    void partOpened(const cabformat::Part&) override {}

private:
    const uint8_t* data_;
    std::size_t size_;
};

// Counts an entry's bytes.
class CountingSink final : public cabformat::EntrySink {
public:
    bool open() override {
        bytes = 0;
        return true;
    }
    void write(const unsigned char*, std::size_t size) override { bytes += size; }

    uint64_t bytes = 0;
};

}  // namespace

std::string WalkAsCabinet(const uint8_t* data, std::size_t size) {
    SameBytesHost host(data, size);
    CountingSink sink;
    unsigned turn = 0;
    try {
        cabformat::CabinetSet set(host);
        set.openFirst(std::make_unique<cabformat::MemorySource>(data, size), "in.cab");
        for (std::size_t index = 0; index < set.size(); ++index) {
            for (const cabformat::FileRecord& file : set.part(index).header.files) {
                const uint32_t answer = kAnswers[(turn++ + size) % kAnswers.size()];
                if (answer == FILEOP_ABORT) {
                    return "";
                }
                if (answer == FILEOP_SKIP || !set.offered(index, file)) {
                    continue;
                }
                if (set.extract(index, file, sink).ok() && sink.bytes != file.length) {
                    return "an entry extracted without failure is not whole";
                }
            }
            if (!set.part(index).header.hasNext()) {
                break;
            }
            if (index + 1 == set.size()) {
                set.openNext();
            }
        }
    } catch (const cabformat::Failure&) {
        // a damaged cabinet or set
    }
    return "";
}

std::string ReadAsHeader(const uint8_t* data, std::size_t size) {
    cabformat::MemorySource source(data, size);
    const cabformat::HeaderResult read = cabformat::ReadCabinetHeader(source);
    if (!read.error.ok()) {
        return "";
    }
    const auto& header = read.header;
    header.continuesFromPrev();
    header.continuesToNext();
    for (const auto& file : header.files) {
        if (header.folderOf(file) >= header.folderCount) {
            return "a file record names a folder the cabinet does not have";
        }
    }
    return "";
}

std::string UseWithCabFile(const uint8_t* data, std::size_t size) {
    const Scratch& scratch = TheScratch();
    scratch.place(data, size);
    const auto cab = cabinet::CabFile::Create();
    cab->SetCabName(u"C:\\in.cab");
    auto survive = [](auto&& call) {
        try {
            call();
        } catch (const RaisedError&) {
            // what an unreadable cabinet raises
        }
    };
    survive([&] { cab->FileCount(); });
    survive([&] { cab->GetXML(u""); });
    survive([&] { cab->Extract(u"", u"C:\\out\\", u""); });
    return scratch.litter();
}

}  // namespace fuzzing
