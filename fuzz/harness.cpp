// The fuzz targets' work (see harness.h). Everything is written inside a
// scratch Wine-style prefix whose drive C: is a fresh temporary folder; the
// drive map never lets a path climb above a drive's root, so no input can
// write outside it.
#include "fuzz/harness.h"

#include "cabinet/cab_file.h"
#include "platform/drives.h"
#include "platform/kernel.h"
#include "platform/posix/cabinet/header.h"
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

constexpr char kCabinet[] = "C:\\in.cab";
constexpr char kOutput[] = "C:\\out\\";
// The answers to successive entries; which one an entry gets also depends on
// the input's size, so the fuzzer reaches every answer at every entry.
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

struct WalkState {
    std::size_t size = 0;
    unsigned turn = 0;
    uint32_t announcedSize = 0;
    std::string problem;
};

// The entry's name as a path under the output folder: "." and ".." become
// "_", each folder on the way is made.
std::string TargetFor(const char* name) {
    std::string target = kOutput;
    std::string component;
    auto finish = [&](bool folder) {
        target += component == "." || component == ".." ? "_" : component;
        component.clear();
        if (folder) {
            CreateDirectoryLevel(target.c_str());
            target += '\\';
        }
    };
    for (const char* c = name; *c != '\0' && target.size() + component.size() < MAX_PATH - 1; ++c) {
        if (*c == '\\' || *c == '/') {
            finish(true);
        } else {
            component += *c;
        }
    }
    finish(false);
    return target.substr(0, MAX_PATH - 1);
}

uint32_t WalkHandler(void* context, uint32_t notification, uintptr_t param1, uintptr_t) {
    auto* state = static_cast<WalkState*>(context);
    switch (notification) {
        case SPFILENOTIFY_FILEINCABINET: {
            auto* info = reinterpret_cast<FILE_IN_CABINET_INFO_A*>(param1);
            const uint32_t answer = kAnswers[(state->turn++ + state->size) % kAnswers.size()];
            if (answer == FILEOP_DOIT) {
                const std::string target = TargetFor(info->NameInCabinet);
                std::memcpy(info->FullTargetName, target.c_str(), target.size() + 1);
                state->announcedSize = info->FileSize;
            }
            return answer;
        }
        case SPFILENOTIFY_FILEEXTRACTED: {
            const auto* paths = reinterpret_cast<const FILEPATHS_A*>(param1);
            if (paths->Win32Error == NO_ERROR) {
                const auto host = DosPathToHostPath(paths->Target, nullptr);
                std::error_code ec;
                if (!host || fs::file_size(*host, ec) != state->announcedSize || ec) {
                    state->problem = std::string("an entry reported written is not whole: ") + paths->Target;
                }
            }
            return NO_ERROR;
        }
        default: return NO_ERROR;  // the cabinet's information; a next cabinet: look again where it was
    }
}

}  // namespace

std::string WalkAsCabinet(const uint8_t* data, std::size_t size) {
    const Scratch& scratch = TheScratch();
    scratch.place(data, size);
    WalkState state;
    state.size = size;
    SetLastError(0);
    if (!SetupIterateCabinetA(kCabinet, 0, &WalkHandler, &state) && GetLastError() == NO_ERROR) {
        return "the walk failed without a last error";
    }
    return !state.problem.empty() ? state.problem : scratch.litter();
}

std::string ReadAsHeader(const uint8_t* data, std::size_t size) {
    const Scratch& scratch = TheScratch();
    scratch.place(data, size);
    const auto read = platform::cabservice::ReadCabinetHeader((scratch.driveC() / "in.cab").string());
    if (read.error != NO_ERROR) {
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
