// SPDX-License-Identifier: MIT
// The cabinet service when things go wrong: damaged cabinets, full disks,
// folders it may not write, handlers that throw. A failed entry leaves no
// half-written file, never destroys an older one, and does not fail the
// entries after it.
#include "platform/kernel.h"
#include "platform/setupapi.h"
#include "tests/platform/cabinet_fixture.h"
#include "tests/support/cab_writer.h"
#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <dlfcn.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <mspack.h>
#include <optional>
#include <stdexcept>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace platform;
using namespace cabinettest;
using testsupport::BuildCabinet;
using testsupport::CabEntry;
using testsupport::CabWriterFolder;
using testsupport::CabWriterOptions;
using testsupport::EntryOf;
using testsupport::ReadFile;

// Reads of one file fail from a chosen offset on, as on a scratched CD: a
// read that reaches the bad place returns what lies before it, the next one
// fails with EIO. These stand in front of the C library's read() and pread()
// for the whole test program, the service and libmspack included.
namespace {

struct ReadFault {
    std::atomic<bool> armed{false};
    dev_t device = 0;
    ino_t inode = 0;
    off_t from = 0;
};
ReadFault g_readFault;

// How much of a read of `size` bytes at `offset` may go ahead; -1 for none.
ssize_t AllowedRead(int fd, off_t offset, std::size_t size) {
    if (!g_readFault.armed.load(std::memory_order_acquire)) {
        return static_cast<ssize_t>(size);
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || info.st_dev != g_readFault.device || info.st_ino != g_readFault.inode ||
        offset + static_cast<off_t>(size) <= g_readFault.from) {
        return static_cast<ssize_t>(size);
    }
    return offset < g_readFault.from ? static_cast<ssize_t>(g_readFault.from - offset) : -1;
}

template <typename Function>
Function Real(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" ssize_t read(int fd, void* buffer, size_t size) {
    static const auto real = Real<ssize_t (*)(int, void*, size_t)>("read");
    if (!g_readFault.armed.load(std::memory_order_acquire)) {
        return real(fd, buffer, size);
    }
    const ssize_t allowed = AllowedRead(fd, lseek(fd, 0, SEEK_CUR), size);
    if (allowed < 0) {
        errno = EIO;
        return -1;
    }
    return real(fd, buffer, static_cast<size_t>(allowed));
}

extern "C" ssize_t pread(int fd, void* buffer, size_t size, off_t offset) {
    static const auto real = Real<ssize_t (*)(int, void*, size_t, off_t)>("pread");
    const ssize_t allowed = AllowedRead(fd, offset, size);
    if (allowed < 0) {
        errno = EIO;
        return -1;
    }
    return real(fd, buffer, static_cast<size_t>(allowed), offset);
}

namespace {

constexpr uid_t kNobody = 65534;

// Makes reads of `file` fail from `offset` on while it lives.
class FaultyReads {
public:
    FaultyReads(const fs::path& file, off_t offset) {
        struct stat info {};
        stat(file.c_str(), &info);
        g_readFault.device = info.st_dev;
        g_readFault.inode = info.st_ino;
        g_readFault.from = offset;
        g_readFault.armed.store(true, std::memory_order_release);
    }
    ~FaultyReads() { g_readFault.armed.store(false, std::memory_order_release); }
    FaultyReads(const FaultyReads&) = delete;
    FaultyReads& operator=(const FaultyReads&) = delete;
};

std::size_t Threads() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& item : fs::directory_iterator("/proc/self/task")) {
        ++count;
    }
    return count;
}

// Threads of this process once no more than `expected` are left, or after
// a second: a thread just joined may linger a moment.
std::size_t ThreadsSettledAt(std::size_t expected) {
    for (int tries = 0; tries < 100 && Threads() > expected; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return Threads();
}

// Bytes this process has read through read() and its kin so far.
uint64_t BytesReadByProcess() {
    std::ifstream io("/proc/self/io");
    std::string key;
    uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") {
            return value;
        }
    }
    return 0;
}

std::size_t OpenDescriptors() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& item : fs::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

class CabinetFailureTest : public CabinetTest {
protected:
    static constexpr std::size_t kBlock = 1000;
    static constexpr std::size_t kDataHeader = 8;

    // C:\t.cab, one MSZIP folder of eight 1 MB entries part<n>.bin made by `bytes`.
    std::vector<CabEntry> EightMegabytes(std::string (*bytes)(std::size_t, uint32_t)) const {
        std::vector<CabEntry> entries;
        for (uint32_t i = 0; i < 8; ++i) {
            entries.push_back({"part" + std::to_string(i) + ".bin", bytes(1'000'000, i)});
        }
        testsupport::MakeCabWithGcab(C("t.cab"), sources_.path(), entries, true);
        return entries;
    }
    testsupport::TempDir sources_;
};

TEST_F(CabinetFailureTest, AReadFaultFailsEveryLaterEntryOfTheFolderWithTheReadCode) {
    // first.txt in block 0, victim.bin over blocks 0-2, then two more. The
    // first block is noise, so that it stays long when packed and reading
    // the header stays clear of block 1.
    const std::string first = testsupport::PseudoRandomBytes(500, 3);
    CabWriterFolder folder;
    folder.entries = {EntryOf("first.txt", first), EntryOf("victim.bin", testsupport::PseudoText(2000, 1)),
                      EntryOf("later.bin", testsupport::PseudoText(1000, 2)), EntryOf("last.txt", "last\n")};
    CabWriterOptions options;
    options.blockSize = kBlock;
    struct Case {
        const char* what;
        bool mszip;
        bool libmspack;  // which reads 4 KB ahead, into block 1 while still on first.txt
    };
    const Case cases[] = {
        {"stored", false, false},
        {"MSZIP", true, false},
        {"MSZIP, through libmspack", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        folder.mszip = c.mszip;
        const std::string cabinet = BuildCabinet({folder}, options);
        Place("t.cab", cabinet);
        // Block 1 is unreadable.
        const std::size_t block0 = testsupport::FirstDataOffset(cabinet) - kDataHeader;
        const std::size_t block1 =
            block0 + kDataHeader +
            (static_cast<unsigned char>(cabinet[block0 + 4]) | static_cast<unsigned char>(cabinet[block0 + 5]) << 8);
        std::optional<LibmspackDecodesAll> libmspack;
        if (c.libmspack) {
            libmspack.emplace();
        }
        Recorder recorder;
        recorder.onFile = ExtractAllInto("C:\\out\\");
        recorder.onExtracted = [](const Notice&) { return NO_ERROR; };
        {
            FaultyReads fault(C("t.cab"), static_cast<off_t>(block1 + 2));
            ASSERT_TRUE(Walk(recorder, "C:\\t.cab")) << GetLastError();
        }
        std::vector<uint32_t> codes;
        for (const auto& notice : recorder.only(SPFILENOTIFY_FILEEXTRACTED)) {
            codes.push_back(notice.win32Error);
        }
        const uint32_t firstCode = c.libmspack ? ERROR_READ_FAULT : NO_ERROR;
        EXPECT_EQ(codes, (std::vector<uint32_t>{firstCode, ERROR_READ_FAULT, ERROR_READ_FAULT, ERROR_READ_FAULT}));
        if (!c.libmspack) {
            EXPECT_EQ(ReadFile(C("out/first.txt")), first);
        }
        fs::remove_all(C("out"));
    }
}

TEST_F(CabinetFailureTest, TheDecoderThreadEndsWithTheWalkHoweverItEnds) {
    // The decoder runs ahead of the writes, into the next entries.
    const std::vector<CabEntry> entries = EightMegabytes(testsupport::PseudoText);
    const std::size_t threads = Threads();
    const std::size_t descriptors = OpenDescriptors();
    struct Case {
        const char* what;
        std::size_t abortAt;  // the entry answered FILEOP_ABORT
        bool fileTooLarge;    // writes beyond 300 KB fail
        bool handlerThrows;   // on the second entry's FILEEXTRACTED
        uint32_t expected;    // the walk's code; NO_ERROR for success
    };
    const Case cases[] = {
        {"aborted on the third entry", 2, false, false, NO_ERROR},
        {"a write fails on the first entry", 99, true, false, ERROR_DISK_FULL},
        {"the handler throws", 99, false, true, NO_ERROR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Recorder recorder;
        recorder.onFile = [&c](const Notice& notice, FILE_IN_CABINET_INFO_A& info) {
            return notice.entry == c.abortAt ? FILEOP_ABORT : DoIt(info, "C:\\" + notice.name);
        };
        recorder.onExtracted = [&c](const Notice& notice) -> uint32_t {
            if (c.handlerThrows && notice.entry == 1) {
                throw std::runtime_error("thrown by the handler");
            }
            return notice.win32Error;
        };
        rlimit before{};
        getrlimit(RLIMIT_FSIZE, &before);
        if (c.fileTooLarge) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit small{300'000, before.rlim_max};
            setrlimit(RLIMIT_FSIZE, &small);
        }
        if (c.handlerThrows) {
            EXPECT_THROW(Walk(recorder, "C:\\t.cab"), std::runtime_error);
        } else {
            EXPECT_EQ(Walk(recorder, "C:\\t.cab") ? NO_ERROR : GetLastError(), c.expected);
        }
        setrlimit(RLIMIT_FSIZE, &before);
        EXPECT_EQ(ThreadsSettledAt(threads), threads) << "the decoder thread is gone";
        EXPECT_EQ(OpenDescriptors(), descriptors);
        EXPECT_EQ(TemporariesUnder(prefix_.root()), std::vector<std::string>{});
        if (c.abortAt == 2) {
            EXPECT_EQ(ReadFile(C("part1.bin")), entries[1].bytes);
            EXPECT_FALSE(fs::exists(C("part2.bin")));
        }
    }
}

// After a failure every file on disk is whole and right: what the failed
// entry would have replaced is untouched, and no entry before it was made
// from bytes a later check finds wrong.
TEST_F(CabinetFailureTest, AFailedEntryLeavesTheOlderFileAtItsTargetAlone) {
    std::string flipped = testsupport::ThreeEntries();
    flipped[testsupport::ThreeEntriesDataByte(flipped, 2500)] ^= 0x01;  // inside victim.txt
    // MSZIP data whose folder record says stored, with more bits set: the
    // first block is "CK" and deflate bytes.
    std::string saidStored = testsupport::ThreeEntries(true, true);
    testsupport::SetField(saidStored, testsupport::FirstFolderCompressionOffset(saidStored), 0x0050, 2);
    std::string unpacksToMore = testsupport::ThreeEntries(false);
    testsupport::SetField(unpacksToMore,
                          testsupport::DataRecordOffset(unpacksToMore, 1) + testsupport::kDataUnpackedSizeAt, 2000, 2);
    // The first folder's data moved onto the second's MSZIP data.
    const std::string sharedData = testsupport::FoldersSharingData("C");
    struct Case {
        const char* what;
        std::string cabinet;
        uint32_t expected;
        std::map<std::string, std::string> after;  // the files in the output folder
    };
    const Case cases[] = {
        {"a flipped byte inside victim.txt",
         flipped,
         ERROR_CRC,
         {{"good.txt", "good entry\n"}, {"victim.txt", "the older file"}}},
        {"MSZIP said to be stored", saidStored, ERROR_INVALID_DATA, {{"victim.txt", "the older file"}}},
        {"a stored block of victim.txt that unpacks to more than it holds",
         unpacksToMore,
         ERROR_INVALID_DATA,
         {{"good.txt", "good entry\n"}, {"victim.txt", "the older file"}}},
        {"two folders' data at one offset", sharedData, ERROR_INVALID_DATA, {{"victim.txt", "the older file"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(C("out"));
        Place("damaged.cab", c.cabinet);
        Place("out/victim.txt", "the older file");
        Recorder recorder;
        recorder.onFile = ExtractAllInto("C:\\out\\");
        EXPECT_FALSE(Walk(recorder, "C:\\damaged.cab"));
        EXPECT_EQ(GetLastError(), c.expected);
        EXPECT_EQ(testsupport::ReadTree(C("out")), c.after);
    }
}

TEST_F(CabinetFailureTest, AFullDiskFailsOnlyTheEntryThatDidNotFit) {
    // F: is a 64 KiB disk; the first entry of the folder is bigger than
    // that. The folder runs on for the entries after it, which go to C:.
    testsupport::SmallDisk disk(prefix_.root() / "small", 64 * 1024);
    if (!disk.mounted()) {
        GTEST_SKIP() << "this process may not mount a tmpfs";
    }
    prefix_.mapDrive('f', prefix_.root() / "small");
    const std::vector<CabEntry> entries = {
        {"big.bin", testsupport::PseudoRandomBytes(300'000, 3)},
        {"next.txt", "the entry after the failed one\n"},
        {"last.bin", testsupport::PseudoRandomBytes(50'000, 4)},
    };
    testsupport::TempDir sources;
    for (const bool compress : {true, false}) {
        SCOPED_TRACE(compress ? "MSZIP" : "stored");
        testsupport::MakeCabWithGcab(C("t.cab"), sources.path(), entries, compress);
        Place("out/last.bin", "older");
        Recorder recorder;
        recorder.onFile = [](const Notice& notice, FILE_IN_CABINET_INFO_A& info) {
            return DoIt(info, (notice.name == "big.bin" ? "F:\\" : "C:\\out\\") + notice.name);
        };
        recorder.onExtracted = [](const Notice&) { return NO_ERROR; };
        ASSERT_TRUE(Walk(recorder, "C:\\t.cab")) << GetLastError();
        const auto extracted = recorder.only(SPFILENOTIFY_FILEEXTRACTED);
        ASSERT_EQ(extracted.size(), 3u);
        EXPECT_EQ(extracted[0].win32Error, ERROR_DISK_FULL);
        EXPECT_EQ(extracted[1].win32Error, NO_ERROR);
        EXPECT_EQ(extracted[2].win32Error, NO_ERROR);
        EXPECT_FALSE(fs::exists(prefix_.root() / "small" / "big.bin"));
        EXPECT_TRUE(fs::is_empty(prefix_.root() / "small")) << "no temporary file left on the full disk";
        EXPECT_EQ(ReadFile(C("out/next.txt")), entries[1].bytes);
        EXPECT_EQ(ReadFile(C("out/last.bin")), entries[2].bytes);
    }
}

TEST_F(CabinetFailureTest, AFolderThatMayNotBeWrittenFailsTheEntryWithAccessDenied) {
    testsupport::MakeCabWithGcab(C("t.cab"), C("src"), {{"a.txt", "a"}}, false);
    fs::create_directories(C("locked"));
    fs::permissions(C("locked"), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    // In the folder itself, and in a folder that may not be made in it
    // (the handler's folder maker takes it for one that is there).
    for (const char* target : {"C:\\locked\\a.txt", "C:\\locked\\sub\\a.txt"}) {
        SCOPED_TRACE(target);
        auto walk = [target]() -> uint32_t {
            Recorder recorder;
            recorder.onFile = [target](const Notice&, FILE_IN_CABINET_INFO_A& info) { return DoIt(info, target); };
            recorder.onExtracted = [](const Notice& notice) { return notice.win32Error; };
            SetLastError(kSentinel);
            return recorder.walk("C:\\t.cab") ? NO_ERROR : GetLastError();
        };
        if (geteuid() != 0) {
            EXPECT_EQ(walk(), ERROR_ACCESS_DENIED);
            continue;
        }
        // Root writes anywhere: walk as nobody, in a child process.
        for (fs::path p = C("t.cab"); p != prefix_.root().parent_path(); p = p.parent_path()) {
            fs::permissions(p, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
        }
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const bool dropped = setgroups(0, nullptr) == 0 && setresgid(kNobody, kNobody, kNobody) == 0 &&
                                 setresuid(kNobody, kNobody, kNobody) == 0;
            _exit(dropped ? static_cast<int>(walk()) : 255);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(static_cast<uint32_t>(WEXITSTATUS(status)), ERROR_ACCESS_DENIED);
    }
    EXPECT_TRUE(fs::is_empty(C("locked")));
}

TEST_F(CabinetFailureTest, AHandlerThatThrowsLeavesNothingBehindAndItsExceptionReachesTheCaller) {
    testsupport::TempDir sources;
    testsupport::MakeCabWithGcab(C("t.cab"), sources.path(),
                                 {{"1.bin", testsupport::PseudoRandomBytes(200'000, 1)}, {"2.bin", "two"}}, true);
    const std::size_t descriptors = OpenDescriptors();
    struct Case {
        const char* what;
        uint32_t throwOn;
    };
    const Case cases[] = {
        {"on the cabinet's information", SPFILENOTIFY_CABINETINFO},
        {"on an entry", SPFILENOTIFY_FILEINCABINET},
        {"on an extracted entry", SPFILENOTIFY_FILEEXTRACTED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Recorder recorder;
        recorder.onFile = [&c](const Notice& notice, FILE_IN_CABINET_INFO_A& info) {
            if (c.throwOn == SPFILENOTIFY_FILEINCABINET && notice.entry == 1) {
                throw std::runtime_error("thrown by the handler");
            }
            return DoIt(info, "C:\\" + notice.name);
        };
        recorder.onExtracted = [&c](const Notice&) -> uint32_t {
            if (c.throwOn == SPFILENOTIFY_FILEEXTRACTED) {
                throw std::runtime_error("thrown by the handler");
            }
            return NO_ERROR;
        };
        auto handler = [](void* context, uint32_t notification, uintptr_t p1, uintptr_t p2) -> uint32_t {
            auto* self = static_cast<std::pair<Recorder*, const Case*>*>(context);
            if (notification == self->second->throwOn && notification == SPFILENOTIFY_CABINETINFO) {
                throw std::runtime_error("thrown by the handler");
            }
            return Recorder::Callback(self->first, notification, p1, p2);
        };
        std::pair<Recorder*, const Case*> context{&recorder, &c};
        EXPECT_THROW(SetupIterateCabinetA("C:\\t.cab", 0, handler, &context), std::runtime_error);
        EXPECT_EQ(OpenDescriptors(), descriptors) << "the cabinet is closed";
        EXPECT_EQ(TemporariesUnder(prefix_.root()), std::vector<std::string>{});
    }
}

TEST_F(CabinetFailureTest, AHandlerThatThrowsWhenAskedForTheNextCabinetLeavesNothingBehind) {
    CabWriterFolder folder;
    folder.entries = {EntryOf("a.bin", testsupport::PseudoRandomBytes(3000, 1))};
    CabWriterOptions options;
    options.blockSize = 1000;
    options.cabinetStartsAt = {1500};
    const auto set = testsupport::BuildCabinetSet({folder}, options);
    Place("one/part1.cab", set[0]);
    Place("two/part2.cab", set[1]);
    const std::size_t descriptors = OpenDescriptors();
    Recorder recorder;
    recorder.onFile = ExtractAllInto("C:\\out\\");
    recorder.onNeedCabinet = [](const Notice&, char*) -> uint32_t { throw std::logic_error("no disk"); };
    EXPECT_THROW(Walk(recorder, "C:\\one\\part1.cab"), std::logic_error);
    EXPECT_EQ(OpenDescriptors(), descriptors);
    EXPECT_FALSE(fs::exists(C("out/a.bin")));
}

TEST_F(CabinetFailureTest, AKilledWalkLeavesOnlyWholeFilesAndTheNextSweepsOldTemporaries) {
    std::vector<CabEntry> entries;
    for (int i = 0; i < 6; ++i) {
        entries.push_back({"big" + std::to_string(i) + ".bin", testsupport::PseudoRandomBytes(3'000'000, i)});
    }
    testsupport::TempDir sources;
    testsupport::MakeCabWithGcab(C("t.cab"), sources.path(), entries, true);
    // What killed runs left before: an entry half-written under a temporary
    // name, and the live temporary of a writer still at work (its lock held
    // here), which must stay; so must a file that only looks like ours.
    Place("out/.vh0123456789abcdef.part", "half an entry");
    Place("out/.vhfedcba9876543210.part", "a live writer's entry");
    Place("out/.vh0123456789abcdef.part.old", "someone else's");
    const int live = open(C("out/.vhfedcba9876543210.part").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(live, LOCK_EX), 0);
    auto walk = [] {
        Recorder recorder;
        recorder.onFile = ExtractAllInto("C:\\out\\");
        return Walk(recorder, "C:\\t.cab");
    };
    const std::string stale = C("out/.vh0123456789abcdef.part").string();
    const std::string held = C("out/.vhfedcba9876543210.part").string();
    // Only whole entries, and no temporary but the two planted (the stale
    // one gone once `swept`).
    auto check = [&](const std::string& when, bool swept) {
        SCOPED_TRACE(when);
        for (const auto& [name, bytes] : testsupport::ReadTree(C("out"))) {
            if (!name.starts_with(".vh")) {
                const auto source = std::find_if(entries.begin(), entries.end(),
                                                 [&](const CabEntry& entry) { return entry.name == name; });
                EXPECT_TRUE(source != entries.end() && source->bytes == bytes) << name << " is not whole";
            }
        }
        auto temporaries = TemporariesUnder(C("out"));
        std::sort(temporaries.begin(), temporaries.end());
        if (swept || temporaries.size() < 2) {
            EXPECT_EQ(temporaries, std::vector<std::string>{held});
        } else {
            EXPECT_EQ(temporaries, (std::vector<std::string>{stale, held}));
        }
        EXPECT_TRUE(fs::exists(C("out/.vh0123456789abcdef.part.old")));
    };
    // Killed at a few moments; the later kills replace what earlier walks
    // wrote. A kill may land before the walk swept anything.
    for (const int delayMs : {0, 30, 120, 400}) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            _exit(walk() ? 0 : 1);
        }
        usleep(static_cast<useconds_t>(delayMs) * 1000);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        check("killed after " + std::to_string(delayMs) + " ms", false);
    }
    EXPECT_TRUE(walk()) << GetLastError();
    check("after a whole walk", true);
    EXPECT_EQ(testsupport::ReadTree(C("out")).size(), 2 + entries.size());
    close(live);
    fs::remove(C("out/.vhfedcba9876543210.part"));
}

TEST_F(CabinetFailureTest, EachFolderIsDecompressedOnceWhateverTheHandlerSkips) {
    // Incompressible entries, so the cabinet is as big as its data: a walk
    // that restarted the folder would read it again.
    const std::vector<CabEntry> entries = EightMegabytes(testsupport::PseudoRandomBytes);
    const auto cabinetSize = static_cast<double>(fs::file_size(C("t.cab")));
    Recorder recorder;
    recorder.onFile = [](const Notice& notice, FILE_IN_CABINET_INFO_A& info) {
        // write 0, skip 1 and 2, write 3, skip 4, write 5, 6 and 7
        return notice.entry == 1 || notice.entry == 2 || notice.entry == 4 ? FILEOP_SKIP
                                                                           : DoIt(info, "C:\\" + notice.name);
    };
    const uint64_t before = BytesReadByProcess();
    ASSERT_TRUE(Walk(recorder, "C:\\t.cab")) << GetLastError();
    const auto read = static_cast<double>(BytesReadByProcess() - before);
    EXPECT_LT(read, 1.2 * cabinetSize) << "read " << read << " bytes of a " << cabinetSize << "-byte cabinet";
    for (int i : {0, 3, 5, 6, 7}) {
        EXPECT_EQ(ReadFile(C(entries[static_cast<std::size_t>(i)].name)), entries[static_cast<std::size_t>(i)].bytes);
    }
}

}  // namespace

namespace {

// TMPDIR for as long as it lives, then as it was.
class TemporaryFolderVariable {
public:
    explicit TemporaryFolderVariable(const std::string& value) {
        if (const char* before = std::getenv("TMPDIR")) {
            before_ = before;
        }
        setenv("TMPDIR", value.c_str(), 1);
    }
    ~TemporaryFolderVariable() {
        if (before_) {
            setenv("TMPDIR", before_->c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
    }
    TemporaryFolderVariable(const TemporaryFolderVariable&) = delete;
    TemporaryFolderVariable& operator=(const TemporaryFolderVariable&) = delete;

private:
    std::optional<std::string> before_;
};

TEST_F(CabinetFailureTest, RecordsOutOfOrderDecodeTheFolderOnceWhereverTheTemporaryFolderCannotHoldTheSpill) {
    // Records at descending offsets: each entry's bytes are passed on the
    // way to the one before it, and kept until it comes.
    CabWriterFolder folder;
    folder.mszip = true;
    for (int i = 0; i < 32; ++i) {
        std::string name = "e";  // built in steps: GCC 12 warns falsely of operator+ at -O3
        name += std::to_string(i);
        name += ".bin";
        folder.entries.push_back(
            EntryOf(name, testsupport::PseudoRandomBytes(128 * 1024, static_cast<uint32_t>(i + 1))));
    }
    CabWriterOptions options;
    for (std::size_t i = folder.entries.size(); i-- > 0;) {
        options.recordOrder.push_back(i);
    }
    Place("t.cab", BuildCabinet({folder}, options));
    const auto cabinetSize = static_cast<double>(fs::file_size(C("t.cab")));
    Place("a-file", "not a folder");
    testsupport::SmallDisk full(prefix_.root() / "full", 64 * 1024);
    if (full.mounted()) {
        Place("full/filler", std::string(64 * 1024, 'f'));
    }
    struct Case {
        const char* what;
        fs::path folder;
    };
    const Case cases[] = {
        {"missing", prefix_.root() / "missing"},
        {"a file", C("a-file")},
        {"full", full.mounted() ? prefix_.root() / "full" : fs::path()},
    };
    for (const Case& c : cases) {
        if (c.folder.empty()) {
            continue;  // this process may not mount a tmpfs
        }
        SCOPED_TRACE(c.what);
        const TemporaryFolderVariable temporary(c.folder.string());
        fs::remove_all(C("out"));
        fs::create_directories(C("out"));
        Recorder recorder;
        recorder.onFile = ExtractAllInto("C:\\out\\");
        const uint64_t before = BytesReadByProcess();
        ASSERT_TRUE(Walk(recorder, "C:\\t.cab")) << GetLastError();
        const auto read = static_cast<double>(BytesReadByProcess() - before);
        // The cabinet once, and the kept bytes back from a spill file:
        // decoding the folder again for each record would read it 16 times.
        EXPECT_LT(read, 3 * cabinetSize) << "read " << read << " bytes of a " << cabinetSize << "-byte cabinet";
        for (const auto& entry : folder.entries) {
            EXPECT_EQ(ReadFile(C("out/" + entry.name)), entry.bytes);
        }
    }
}

}  // namespace
