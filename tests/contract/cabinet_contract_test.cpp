// SPDX-License-Identifier: MIT
// The contract of platform/setupapi.h, kept by both services: the Linux one
// over the cabinet engine (in platform_tests) and Windows' own under Wine
// (in win32_adapter_tests), on the same hand-made cabinets, through the one
// recording handler both suites use.
#include "platform/drives.h"
#include "platform/kernel.h"
#include "platform/setupapi.h"
#include "tests/support/cab_writer.h"
#include "tests/support/cabinet_recorder.h"
#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

#include <functional>

#ifdef _WIN32
// After the seam: windows.h defines its names (MAX_PATH, ERROR_...) as macros.
#include <windows.h>
#else
#include "tests/platform/cabinet_fixture.h"  // DosStampOf

#include <sys/stat.h>
#endif

namespace {

namespace fs = std::filesystem;
using cabinettest::Notice;
using cabinettest::Recorder;
using testsupport::EntryOf;

constexpr uint32_t kPoison = 0xDEADBEEF;
// ERROR_INVALID_DATA and ERROR_ACCESS_DENIED, which windows.h makes macros.
constexpr uint32_t kInvalidData = 13;
constexpr uint32_t kAccessDenied = 5;

// The local modification time of a written file as DOS words.
std::pair<uint16_t, uint16_t> StampOf(const std::string& hostPath) {
#ifdef _WIN32
    const HANDLE file =
        CreateFileA(hostPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME written{};
    FILETIME local{};
    WORD date = 0;
    WORD time = 0;
    GetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
    FileTimeToLocalFileTime(&written, &local);
    FileTimeToDosDateTime(&local, &date, &time);
    return {date, time};
#else
    struct stat info {};
    stat(hostPath.c_str(), &info);
    return cabinettest::DosStampOf(info.st_mtime);
#endif
}

TEST(CabinetContract, KeptByEitherService) {
    const std::string threeEntries =
        testsupport::BuildCabinet({{{EntryOf("a.txt", "alpha"), EntryOf("b.txt", "bravo"), EntryOf("c.txt", "c")}}});
    const std::string big = testsupport::PseudoRandomBytes(100'000, 7);
    const std::string whole = testsupport::BuildCabinet({{{EntryOf("first.dat", "1"), EntryOf("big.dat", big)}}});
    auto writeAll = [](const Notice&) { return platform::FILEOP_DOIT; };
    struct Case {
        const char* what;
        std::string cabinet;
        std::function<uint32_t(const Notice&)> answer;
        bool completes;
        uint32_t lastError;  // when it fails
        std::vector<std::string> seen;
        std::vector<std::string> files;        // written, in the out folder
        const char* folderInTheWay = nullptr;  // made before the walk, in the out folder
    };
    const Case cases[] = {
        {"skip leaves an entry alone; abort ends the walk as completed, nothing more is written",
         threeEntries,
         [](const Notice& entry) {
             return entry.name == "b.txt"   ? platform::FILEOP_SKIP
                    : entry.name == "c.txt" ? platform::FILEOP_ABORT
                                            : platform::FILEOP_DOIT;
         },
         true,
         0,
         {"entry a.txt", "written 0", "entry b.txt", "entry c.txt"},
         {"a.txt"}},
        {"a cut-off cabinet never leaves a short file reported as good",
         whole.substr(0, whole.size() - 40'000),
         writeAll,
         false,
         kInvalidData,
         {"entry first.dat", "written 0", "entry big.dat", "written 13"},
         {"first.dat"}},
        {"not a cabinet", std::string("This is plain text, not a cabinet."), writeAll, false, kInvalidData, {}, {}},
        // Windows' service fails the walk before it reports the entry; ours
        // reports it failed, and the handler's answer (its code) ends the walk
        // with no entry after it.
        {"a target that cannot be created fails with its cause, not as invalid data",
         threeEntries,
         writeAll,
         false,
         kAccessDenied,
#ifdef _WIN32
         {"entry a.txt"},
#else
         {"entry a.txt", "written 5"},
#endif
         {"a.txt"},
         "a.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::TempDir folder;
        testsupport::WriteFile(folder / "test.cab", c.cabinet);
        const fs::path out = fs::absolute(folder / "out");
        fs::create_directories(out);
        if (c.folderInTheWay != nullptr) {
            fs::create_directories(out / c.folderInTheWay);
        }
        const std::string dosOut = platform::HostPathToDosPath(out.string());
        Recorder recorder;
        recorder.onFile = [&](const Notice& notice, platform::FILE_IN_CABINET_INFO_A& info) {
            const uint32_t answer = c.answer(notice);
            return answer == platform::FILEOP_DOIT ? cabinettest::DoIt(info, dosOut + "\\" + notice.name) : answer;
        };

        platform::SetLastError(kPoison);
        const int32_t completed =
            recorder.walk(platform::HostPathToDosPath(fs::absolute(folder / "test.cab").string()));
        const uint32_t error = platform::GetLastError();

        EXPECT_EQ(completed != 0, c.completes);
        if (!c.completes) {
            EXPECT_EQ(error, c.lastError);
        }
        std::vector<std::string> seen;
        const std::vector<std::string> names = recorder.names();
        for (const Notice& notice : recorder.log) {
            if (notice.notification == platform::SPFILENOTIFY_FILEINCABINET) {
                seen.push_back("entry " + notice.name);
            } else if (notice.notification == platform::SPFILENOTIFY_FILEEXTRACTED) {
                seen.push_back("written " + std::to_string(notice.win32Error));
                if (notice.win32Error == 0) {
                    EXPECT_EQ(StampOf((out / names[notice.entry]).string()),
                              (std::pair<uint16_t, uint16_t>{testsupport::kCabWriterDefaultDate,
                                                             testsupport::kCabWriterDefaultTime}))
                        << "the entry's stored date and time land on " << notice.target;
                }
            }
        }
        EXPECT_EQ(seen, c.seen);
        std::vector<std::string> files;
        for (const auto& item : fs::directory_iterator(out)) {
            files.push_back(item.path().filename().string());
        }
        EXPECT_EQ(files, c.files);
    }
}

}  // namespace
