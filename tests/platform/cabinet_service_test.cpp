// SPDX-License-Identifier: MIT
// SetupIterateCabinetA on Linux: the notifications of a walk, the answers
// that steer it, names in the ANSI code page and entry dates.
#include "platform/drives.h"
#include "platform/kernel.h"
#include "platform/posix/dos_stamp.h"
#include "platform/setupapi.h"
#include "tests/platform/cabinet_fixture.h"
#include "tests/support/cab_writer.h"
#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

using namespace platform;
using namespace cabinettest;
using testsupport::BuildCabinet;
using testsupport::CabEntry;
using testsupport::CabWriterEntry;
using testsupport::CabWriterFolder;
using testsupport::ReadFile;
using testsupport::ReadTree;
using testsupport::TempDir;

// The code Windows gives for a name component too long.
constexpr uint32_t kErrorFilenameExcedRange = 206;

namespace {

std::time_t ModifiedTime(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(0, stat(path.c_str(), &info)) << path;
    return info.st_mtime;
}

// TZ for the scope of a test; the old value comes back afterwards.
class TimeZone {
public:
    explicit TimeZone(const char* zone) {
        variable_.emplace("TZ", zone);
        tzset();
    }
    ~TimeZone() {
        variable_.reset();
        tzset();
    }

private:
    std::optional<testsupport::ScopedEnv> variable_;
};

class CabinetServiceTest : public CabinetTest {
protected:
    // gcab's cabinet of `entries` at C:\<name>; sources under a folder of their own.
    void MakeWithGcab(const std::string& name, const std::vector<CabEntry>& entries, bool compress) {
        testsupport::MakeCabWithGcab(C(name), sources_.path(), entries, compress);
    }
    std::pair<uint16_t, uint16_t> StampOfSource(const std::string& relative) const {
        return DosStampOf(ModifiedTime(sources_ / relative));
    }

    TempDir sources_;
};

TEST_F(CabinetServiceTest, ReportsEveryNotificationOfAWalkInOrderWithEveryField) {
    MakeWithGcab("t.cab", {{"a.txt", "alpha\n"}, {"sub/b.txt", "bravo bravo\n"}, {"empty.txt", ""}}, false);
    Recorder recorder;
    recorder.onFile = ExtractAllInto("C:\\out\\");

    ASSERT_TRUE(Walk(recorder, "C:\\t.cab")) << GetLastError();

    const auto [dateA, timeA] = StampOfSource("a.txt");
    const auto [dateB, timeB] = StampOfSource("sub/b.txt");
    const auto [dateE, timeE] = StampOfSource("empty.txt");
    const std::vector<Notice> expected = {
        CabinetInfo("C:\\", "t.cab", "", 0, 0),
        FileInCabinet("a.txt", 6, dateA, timeA, 0x20, "C:\\t.cab"),
        FileExtracted("C:\\out\\a.txt", "C:\\t.cab", NO_ERROR),
        FileInCabinet("sub\\b.txt", 12, dateB, timeB, 0x20, "C:\\t.cab"),
        FileExtracted("C:\\out\\sub\\b.txt", "C:\\t.cab", NO_ERROR),
        FileInCabinet("empty.txt", 0, dateE, timeE, 0x20, "C:\\t.cab"),
        FileExtracted("C:\\out\\empty.txt", "C:\\t.cab", NO_ERROR),
    };
    ASSERT_EQ(recorder.log.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("notification " + std::to_string(i));
        EXPECT_EQ(recorder.log[i], expected[i]);
    }
    EXPECT_EQ(ReadTree(C("out")), (std::map<std::string, std::string>{
                                      {"a.txt", "alpha\n"}, {"empty.txt", ""}, {"sub/b.txt", "bravo bravo\n"}}));
}

TEST_F(CabinetServiceTest, ExtractsStoredAndMszipCabinetsWhole) {
    // Sub-folders, an empty file, names with spaces and Latin-1 letters, and
    // a file of several megabytes that is neither random nor trivial.
    std::string large;
    for (int i = 0; large.size() < 6'000'000; ++i) {
        large += "line " + std::to_string(i * 7919 % 100003) + " of the large file\n";
        large += testsupport::PseudoRandomBytes(static_cast<std::size_t>(i % 64), static_cast<uint32_t>(i));
    }
    const std::vector<CabEntry> entries = {
        {"readme file.txt", "words with spaces\r\n"},
        {"Grüße aus Köln.txt", "Latin-1 letters in the name\n"},
        {"deep/er/and deeper/x.bin", testsupport::PseudoRandomBytes(70'000, 7)},
        {"empty", ""},
        {"large.dat", large},
    };
    std::map<std::string, std::string> expected;
    for (const auto& entry : entries) {
        expected[entry.name] = entry.bytes;
    }
    for (const bool compress : {false, true}) {
        SCOPED_TRACE(compress ? "MSZIP" : "stored");
        const std::string name = compress ? "mszip.cab" : "stored.cab";
        const std::string out = compress ? "mszip" : "stored";
        MakeWithGcab(name, entries, compress);
        Recorder recorder;
        recorder.onFile = ExtractAllInto("C:\\" + out + "\\");
        ASSERT_TRUE(Walk(recorder, "C:\\" + name)) << GetLastError();
        EXPECT_EQ(recorder.names(), (std::vector<std::string>{"readme file.txt",
                                                              "Gr\xFC\xDF"
                                                              "e aus K\xF6ln.txt",
                                                              "deep\\er\\and deeper\\x.bin", "empty", "large.dat"}));
        EXPECT_EQ(ReadTree(C(out)), expected);
    }
}

TEST_F(CabinetServiceTest, AnAnswerThatIsNoFileOperationFailsTheWalk) {
    MakeWithGcab("t.cab", {{"1.txt", "one"}, {"2.txt", "two"}}, false);
    Recorder recorder;
    recorder.onFile = [](const Notice&, FILE_IN_CABINET_INFO_A&) { return 7u; };
    EXPECT_FALSE(Walk(recorder, "C:\\t.cab"));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(recorder.names().size(), 1u);
}

TEST_F(CabinetServiceTest, AFailedEntryAnsweredNoErrorLetsTheWalkGoOn) {
    MakeWithGcab("t.cab", {{"1.txt", "one"}, {"2.txt", "two"}, {"3.txt", "three"}}, true);
    Recorder recorder;
    recorder.onFile = [](const Notice& notice, FILE_IN_CABINET_INFO_A& info) {
        return DoIt(info, notice.name == "2.txt" ? "Q:\\no drive\\2.txt" : "C:\\" + notice.name);
    };
    recorder.onExtracted = [](const Notice&) { return NO_ERROR; };

    EXPECT_TRUE(Walk(recorder, "C:\\t.cab"));
    const auto extracted = recorder.only(SPFILENOTIFY_FILEEXTRACTED);
    ASSERT_EQ(extracted.size(), 3u);
    EXPECT_EQ(extracted[1].win32Error, ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(ReadFile(C("1.txt")), "one");
    EXPECT_EQ(ReadFile(C("3.txt")), "three");
}

TEST_F(CabinetServiceTest, AnyNonzeroAnswerToFileExtractedEndsTheWalkWithThatCode) {
    MakeWithGcab("t.cab", {{"1.txt", "one"}, {"2.txt", "two"}}, false);
    Recorder recorder;
    recorder.onFile = [](const Notice& notice, FILE_IN_CABINET_INFO_A& info) {
        return DoIt(info, "C:\\" + notice.name);
    };
    recorder.onExtracted = [](const Notice&) { return 1223u; };  // ERROR_CANCELLED

    EXPECT_FALSE(Walk(recorder, "C:\\t.cab"));
    EXPECT_EQ(GetLastError(), 1223u);
    EXPECT_EQ(recorder.names().size(), 1u);
    EXPECT_EQ(ReadFile(C("1.txt")), "one") << "the entry itself was written";
}

TEST_F(CabinetServiceTest, TargetNamesThatCannotBeWrittenFailTheirEntryWithTheirCode) {
    MakeWithGcab("t.cab", {{"x.txt", "x"}}, false);
    struct Case {
        const char* what;
        std::string target;  // empty: 260 bytes with no terminator
        uint32_t expected;
    };
    const Case cases[] = {
        {"folder missing", "C:\\nowhere\\x.txt", ERROR_PATH_NOT_FOUND},
        {"drive missing", "Q:\\x.txt", ERROR_PATH_NOT_FOUND},
        {"a character Windows forbids", "C:\\what?.txt", ERROR_INVALID_NAME},
        {"a file stands where a folder should", "C:\\t.cab\\x.txt", ERROR_PATH_NOT_FOUND},
        {"a name longer than the file system holds", "C:\\" + std::string(256, 'n'), kErrorFilenameExcedRange},
        {"no terminator", "", ERROR_INVALID_NAME},
        {"empty name", std::string(1, '\0'), ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Recorder recorder;
        recorder.onFile = [&c](const Notice&, FILE_IN_CABINET_INFO_A& info) {
            if (c.target.empty()) {
                std::memset(info.FullTargetName, 'x', sizeof info.FullTargetName);
                return FILEOP_DOIT;
            }
            return DoIt(info, c.target.c_str());
        };
        EXPECT_FALSE(Walk(recorder, "C:\\t.cab"));
        EXPECT_EQ(GetLastError(), c.expected);
        const auto extracted = recorder.only(SPFILENOTIFY_FILEEXTRACTED);
        ASSERT_EQ(extracted.size(), 1u);
        EXPECT_EQ(extracted[0].win32Error, c.expected);
    }
}

TEST_F(CabinetServiceTest, CallsThatCannotWalkFailWithTheirCodeAndReportNothing) {
    Place("empty.cab", "");
    Place("header only.cab", std::string("MSCF") + std::string(26, '\0'));
    std::string noEntries = BuildCabinet({CabWriterFolder{{testsupport::EntryOf("a.txt", "alpha")}}});
    noEntries[28] = 0;  // the file count: data that belongs to nobody
    Place("no entries.cab", noEntries);
    // Nothing but a header, of a version there is none of, with a size it does not have.
    std::string unknownVersion = "MSCF" + std::string(32, '\0');
    testsupport::SetField(unknownVersion, testsupport::kVersionAt, 0xFFFF, 2);
    testsupport::SetField(unknownVersion, testsupport::kCabinetSizeAt, 1000, 4);
    Place("unknown version.cab", unknownVersion);
    // The file records where coffFiles says: outside the cabinet, inside
    // the folder records, past where cbCabinet ends it.
    const std::string whole = BuildCabinet({CabWriterFolder{{testsupport::EntryOf("a.txt", "alpha")}}});
    std::string filesOutside = whole;
    testsupport::SetField(filesOutside, testsupport::kFilesOffsetAt, 0xFFFFFFFF, 4);
    Place("files outside.cab", filesOutside);
    std::string filesInFolders = whole;
    testsupport::SetField(filesInFolders, testsupport::kFilesOffsetAt, 40, 4);
    Place("files in folders.cab", filesInFolders);
    std::string cabinetEndsEarly = whole;
    testsupport::SetField(cabinetEndsEarly, testsupport::kCabinetSizeAt, 50, 4);
    Place("ends early.cab", cabinetEndsEarly);
    fs::create_directories(C("folder.cab"));
    ASSERT_EQ(mkfifo(C("pipe.cab").c_str(), 0600), 0);
    struct Case {
        const char* what;
        std::string path;
        uint32_t expected;
    };
    const Case cases[] = {
        {"no such file", "C:\\absent.cab", ERROR_FILE_NOT_FOUND},
        {"no such folder", "C:\\absent\\t.cab", ERROR_PATH_NOT_FOUND},
        {"no such drive", "Q:\\t.cab", ERROR_PATH_NOT_FOUND},
        {"empty file", "C:\\empty.cab", ERROR_INVALID_DATA},
        {"header cut short", "C:\\header only.cab", ERROR_INVALID_DATA},
        {"no entries, but data", "C:\\no entries.cab", ERROR_INVALID_DATA},
        {"an empty header of an unknown version", "C:\\unknown version.cab", ERROR_INVALID_DATA},
        {"coffFiles outside the cabinet", "C:\\files outside.cab", ERROR_INVALID_DATA},
        {"coffFiles inside the folder records", "C:\\files in folders.cab", ERROR_INVALID_DATA},
        {"cbCabinet ends inside the file records", "C:\\ends early.cab", ERROR_INVALID_DATA},
        {"a folder", "C:\\folder.cab", ERROR_ACCESS_DENIED},
        {"a pipe, which could block a read for ever", "C:\\pipe.cab", ERROR_INVALID_DATA},
        {"a name longer than the file system holds", "C:\\" + std::string(256, 'n'), kErrorFilenameExcedRange},
        {"empty path", "", ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Recorder recorder;
        EXPECT_FALSE(Walk(recorder, c.path));
        EXPECT_EQ(GetLastError(), c.expected);
        EXPECT_TRUE(recorder.log.empty()) << "no notification for a cabinet that did not open";
    }
}

TEST_F(CabinetServiceTest, BadArgumentsFailWithInvalidParameter) {
    MakeWithGcab("t.cab", {{"x.txt", "x"}}, false);
    Recorder recorder;
    SetLastError(kSentinel);
    EXPECT_FALSE(SetupIterateCabinetA(nullptr, 0, &Recorder::Callback, &recorder));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    SetLastError(kSentinel);
    EXPECT_FALSE(SetupIterateCabinetA("C:\\t.cab", 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    SetLastError(kSentinel);
    EXPECT_FALSE(SetupIterateCabinetA("C:\\t.cab", 1, &Recorder::Callback, &recorder));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(recorder.log.empty());
}

TEST_F(CabinetServiceTest, ContextReachesTheHandlerUnchanged) {
    MakeWithGcab("t.cab", {{"x.txt", "x"}}, false);
    static void* seen = nullptr;
    int marker = 0;
    auto handler = [](void* context, uint32_t, uintptr_t, uintptr_t) -> uint32_t {
        seen = context;
        return FILEOP_SKIP;
    };
    ASSERT_TRUE(SetupIterateCabinetA("C:\\t.cab", 0, handler, &marker));
    EXPECT_EQ(seen, &marker);
}

TEST_F(CabinetServiceTest, NamesAreHandedOverInTheAnsiCodePage) {
    constexpr uint16_t kUtf8 = 0x80 | testsupport::kCabWriterArchive;
    struct Case {
        const char* what;
        std::string stored;
        uint16_t attribs;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"plain", "plain.txt", 0x20, "plain.txt"},
        {"raw Latin-1 byte passes through", "caf\xE9.txt", 0x20, "caf\xE9.txt"},
        {"raw bytes of no code page pass through", "\x81\x8D\x8F\x90\x9D.bin", 0x20, "\x81\x8D\x8F\x90\x9D.bin"},
        {"UTF-8 in the code page", "Gr\xC3\xBC\xC3\x9F \xE2\x80\x93 \xE2\x82\xAC.txt", kUtf8,
         "Gr\xFC\xDF \x96 \x80.txt"},
        {"UTF-8 beyond the code page", "\xCE\xB1\xCE\xB2 \xD0\xB6.txt", kUtf8, "?? ?.txt"},
        {"invalid UTF-8", "a\xC3(b", kUtf8, "a?(b"},
        {"folders kept", "dir\\sub dir\\f.txt", 0x20, "dir\\sub dir\\f.txt"},
        {"attributes as stored", "ro.txt", 0x01 | 0x02 | 0x04 | 0x20, "ro.txt"},
    };
    CabWriterFolder folder;
    for (const auto& c : cases) {
        folder.entries.push_back({c.stored, c.what, testsupport::kCabWriterDefaultDate,
                                  testsupport::kCabWriterDefaultTime, c.attribs, std::nullopt});
    }
    Place("names.cab", BuildCabinet({folder}));
    Recorder recorder;
    recorder.onFile = ExtractByIndexInto("C:\\out\\");
    ASSERT_TRUE(Walk(recorder, "C:\\names.cab")) << GetLastError();
    const auto files = recorder.only(SPFILENOTIFY_FILEINCABINET);
    ASSERT_EQ(files.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].what);
        EXPECT_EQ(files[i].name, cases[i].expected);
        EXPECT_EQ(files[i].attribs, cases[i].attribs);
        EXPECT_EQ(ReadFile(C("out/e" + std::to_string(i))), cases[i].what);
    }
}

TEST_F(CabinetServiceTest, DatesAreHandedOverAsStoredAndBecomeTheModificationTimeInLocalTime) {
    struct Case {
        const char* zone;
        long offsetSeconds;  // local time minus UTC on 2001-07-06
    };
    const Case zones[] = {{"UTC0", 0}, {"<+0530>-5:30", 5 * 3600 + 1800}, {"EST5EDT,M3.2.0,M11.1.0", -4 * 3600}};
    // 2001-07-06 15:20:10 as stored.
    std::tm fields{};
    fields.tm_year = 101;
    fields.tm_mon = 6;
    fields.tm_mday = 6;
    fields.tm_hour = 15;
    fields.tm_min = 20;
    fields.tm_sec = 10;
    const std::time_t asUtc = timegm(&fields);

    CabWriterFolder folder;
    folder.entries.push_back({"dated.txt", "dated", testsupport::kCabWriterDefaultDate,
                              testsupport::kCabWriterDefaultTime, 0x20, std::nullopt});
    folder.entries.push_back({"no such day.txt", "31 February", (21 << 9) | (2 << 5) | 31, 0, 0x20, std::nullopt});
    Place("dates.cab", BuildCabinet({folder}));
    for (const auto& zone : zones) {
        SCOPED_TRACE(zone.zone);
        TimeZone tz(zone.zone);
        Recorder recorder;
        recorder.onFile = ExtractAllInto("C:\\out\\");
        const std::time_t before = std::time(nullptr);
        ASSERT_TRUE(Walk(recorder, "C:\\dates.cab")) << GetLastError();
        const auto files = recorder.only(SPFILENOTIFY_FILEINCABINET);
        ASSERT_EQ(files.size(), 2u);
        EXPECT_EQ(files[0].dosDate, testsupport::kCabWriterDefaultDate);
        EXPECT_EQ(files[0].dosTime, testsupport::kCabWriterDefaultTime);
        EXPECT_EQ(files[1].dosDate, (21 << 9) | (2 << 5) | 31);
        EXPECT_EQ(ModifiedTime(C("out/dated.txt")), asUtc - zone.offsetSeconds);
        EXPECT_GE(ModifiedTime(C("out/no such day.txt")), before) << "a date that names no day is not set";
    }
}

TEST(LocalTimeOfDosStamp, AgreesWithTheCLibraryAlsoWhereTheOffsetChanges) {
    struct Stamp {
        const char* what;
        int year, month, day, hour, minute, second;
    };
    const Stamp stamps[] = {
        {"a summer afternoon", 2001, 7, 6, 15, 20, 10},
        {"just before the clocks go forward", 2001, 3, 11, 1, 59, 58},
        {"in the hour they skip", 2001, 3, 11, 2, 30, 0},
        {"just after it", 2001, 3, 11, 3, 0, 0},
        {"in the hour they repeat", 2001, 11, 4, 1, 30, 0},
        {"in the hour Europe skips", 2001, 3, 25, 2, 30, 0},
        {"in the hour Europe repeats", 2001, 10, 28, 2, 30, 0},
        {"the last moment of a year", 2000, 12, 31, 23, 59, 58},
    };
    // TZ alone, without tzset: a changed zone must still be followed.
    for (const char* zone : {"UTC0", "<+0530>-5:30", "EST5EDT,M3.2.0,M11.1.0", "CET-1CEST,M3.5.0,M10.5.0/3"}) {
        testsupport::ScopedEnv tz("TZ", zone);
        for (const Stamp& stamp : stamps) {
            SCOPED_TRACE(std::string(zone) + ", " + stamp.what);
            std::tm fields{};
            fields.tm_year = stamp.year - 1900;
            fields.tm_mon = stamp.month - 1;
            fields.tm_mday = stamp.day;
            fields.tm_hour = stamp.hour;
            fields.tm_min = stamp.minute;
            fields.tm_sec = stamp.second;
            fields.tm_isdst = -1;
            const auto date = static_cast<uint16_t>((stamp.year - 1980) << 9 | stamp.month << 5 | stamp.day);
            const auto time = static_cast<uint16_t>(stamp.hour << 11 | stamp.minute << 5 | stamp.second / 2);
            EXPECT_EQ(platform::LocalTimeOfDosStamp(date, time), std::optional<std::time_t>(std::mktime(&fields)));
        }
    }
}

TEST_F(CabinetServiceTest, GcabsDatesComeBackAsTheSourceFilesTimes) {
    MakeWithGcab("t.cab", {{"a.txt", "a"}, {"sub/b.txt", "b"}}, true);
    Recorder recorder;
    recorder.onFile = ExtractAllInto("C:\\out\\");
    ASSERT_TRUE(Walk(recorder, "C:\\t.cab")) << GetLastError();
    for (const char* name : {"a.txt", "sub/b.txt"}) {
        SCOPED_TRACE(name);
        const std::time_t source = ModifiedTime(sources_ / name);
        EXPECT_EQ(ModifiedTime(C(std::string("out/") + name)), source - source % 2) << "DOS times count 2 s";
    }
}

TEST_F(CabinetServiceTest, AnExistingFileIsReplacedByAWholeEntry) {
    MakeWithGcab("t.cab", {{"a.txt", "new contents"}}, true);
    Place("out/a.txt", "an older and longer file at the target");
    Recorder recorder;
    recorder.onFile = ExtractAllInto("C:\\out\\");
    ASSERT_TRUE(Walk(recorder, "C:\\t.cab")) << GetLastError();
    EXPECT_EQ(ReadFile(C("out/a.txt")), "new contents");
}

TEST_F(CabinetServiceTest, TargetFoldersAreLookedUpIgnoringCase) {
    MakeWithGcab("t.cab", {{"a.txt", "a"}}, false);
    fs::create_directories(C("Out Folder"));
    Recorder recorder;
    recorder.onFile = [](const Notice&, FILE_IN_CABINET_INFO_A& info) { return DoIt(info, "c:\\OUT FOLDER\\A.TXT"); };
    ASSERT_TRUE(Walk(recorder, "c:\\T.CAB")) << GetLastError();
    EXPECT_EQ(ReadFile(C("Out Folder/A.TXT")), "a");
    EXPECT_EQ(recorder.only(SPFILENOTIFY_CABINETINFO).at(0).cabinetFile, "T.CAB") << "the name as given";
}

}  // namespace
