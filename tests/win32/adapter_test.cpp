// The cabinet service adapter over the real setup library, on hand-made
// cabinets: whatever the service underneath does, a walk keeps the contract
// of platform/setupapi.h.
#include "platform/kernel.h"
#include "platform/setupapi.h"
#include "tests/support/cab_writer.h"
#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

// After the seam: windows.h defines its names (MAX_PATH, ERROR_...) as macros.
#include <windows.h>

#include <functional>

namespace {

namespace fs = std::filesystem;
using testsupport::CabWriterEntry;
using testsupport::EntryOf;

constexpr DWORD kPoison = 0xDEADBEEF;

// What the handler saw, and how it answers each entry.
struct Walk {
    std::function<uint32_t(const platform::FILE_IN_CABINET_INFO_A&)> answer;
    std::string outFolder;
    std::vector<std::string> seen;  // one line per notification
    std::vector<std::string> reportedGood;
};

uint32_t Handler(void* context, uint32_t notification, uintptr_t param1, uintptr_t) {
    Walk& walk = *static_cast<Walk*>(context);
    if (notification == platform::SPFILENOTIFY_FILEINCABINET) {
        auto& entry = *reinterpret_cast<platform::FILE_IN_CABINET_INFO_A*>(param1);
        walk.seen.push_back(std::string("entry ") + entry.NameInCabinet);
        const uint32_t answer = walk.answer(entry);
        if (answer == platform::FILEOP_DOIT) {
            const std::string target = walk.outFolder + "\\" + entry.NameInCabinet;
            lstrcpynA(entry.FullTargetName, target.c_str(), sizeof entry.FullTargetName);
        }
        return answer;
    }
    if (notification == platform::SPFILENOTIFY_FILEEXTRACTED) {
        const auto& paths = *reinterpret_cast<const platform::FILEPATHS_A*>(param1);
        walk.seen.push_back("written " + std::to_string(paths.Win32Error));
        if (paths.Win32Error == 0) {
            walk.reportedGood.push_back(paths.Target);
        }
        return paths.Win32Error;
    }
    return 0;
}

uint32_t WriteAll(const platform::FILE_IN_CABINET_INFO_A&) { return platform::FILEOP_DOIT; }

// Local file time of a written file as DOS words.
std::pair<WORD, WORD> StampOf(const std::string& path) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME written{};
    FILETIME local{};
    WORD date = 0;
    WORD time = 0;
    GetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
    FileTimeToLocalFileTime(&written, &local);
    FileTimeToDosDateTime(&local, &date, &time);
    return {date, time};
}

TEST(ServiceAdapter, KeepsTheContractWhereTheServiceDoesNot) {
    const std::string twoEntries =
        testsupport::BuildCabinet({{{EntryOf("a.txt", "alpha"), EntryOf("b.txt", "bravo"), EntryOf("c.txt", "c")}}});
    const std::string big = testsupport::PseudoRandomBytes(100'000, 7);
    const std::string whole = testsupport::BuildCabinet({{{EntryOf("first.dat", "1"), EntryOf("big.dat", big)}}});
    struct Case {
        const char* what;
        std::string cabinet;
        std::function<uint32_t(const platform::FILE_IN_CABINET_INFO_A&)> answer;
        bool completes;
        uint32_t lastError;  // when it fails
        std::vector<std::string> seen;
        std::vector<std::string> files;        // written, in the out folder
        const char* folderInTheWay = nullptr;  // made before the walk, in the out folder
    };
    const Case cases[] = {
        {"abort ends the walk as completed, nothing more is written",
         twoEntries,
         [](const platform::FILE_IN_CABINET_INFO_A& entry) {
             return std::string(entry.NameInCabinet) == "b.txt" ? platform::FILEOP_ABORT : platform::FILEOP_DOIT;
         },
         true,
         0,
         {"entry a.txt", "written 0", "entry b.txt"},
         {"a.txt"}},
        {"a cut-off cabinet never leaves a short file reported as good",
         whole.substr(0, whole.size() - 40'000),
         WriteAll,
         false,
         ERROR_INVALID_DATA,
         {"entry first.dat", "written 0", "entry big.dat", "written 13"},
         {"first.dat"}},
        {"not a cabinet",
         std::string("This is plain text, not a cabinet."),
         WriteAll,
         false,
         ERROR_INVALID_DATA,
         {},
         {}},
        {"a target that cannot be created fails with its cause, not as invalid data",
         twoEntries,
         WriteAll,
         false,
         ERROR_ACCESS_DENIED,
         {"entry a.txt"},
         {"a.txt"},
         "a.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::TempDir folder;
        const std::string cabinet = fs::absolute(folder / "test.cab").string();
        testsupport::WriteFile(cabinet, c.cabinet);
        Walk walk{c.answer, fs::absolute(folder / "out").string(), {}, {}};
        fs::create_directories(walk.outFolder);
        if (c.folderInTheWay != nullptr) {
            fs::create_directories(fs::path(walk.outFolder) / c.folderInTheWay);
        }

        SetLastError(kPoison);
        const int32_t completed = platform::SetupIterateCabinetA(cabinet.c_str(), 0, &Handler, &walk);
        const DWORD error = GetLastError();

        EXPECT_EQ(completed != 0, c.completes);
        if (!c.completes) {
            EXPECT_EQ(error, c.lastError);
        }
        EXPECT_EQ(walk.seen, c.seen);
        std::vector<std::string> files;
        for (const auto& item : fs::directory_iterator(walk.outFolder)) {
            files.push_back(item.path().filename().string());
        }
        EXPECT_EQ(files, c.files);
        for (const auto& good : walk.reportedGood) {
            EXPECT_EQ(StampOf(good),
                      (std::pair<WORD, WORD>{testsupport::kCabWriterDefaultDate, testsupport::kCabWriterDefaultTime}))
                << "the entry's stored date and time land on " << good;
        }
    }
}

}  // namespace
