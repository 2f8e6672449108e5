// SPDX-License-Identifier: MIT
// Cabinet sets: a walk follows the next cabinet a header names, asks the
// handler where it is when it is not beside the last one, and reports each
// entry once, in the cabinet it begins in.
#include "platform/kernel.h"
#include "platform/setupapi.h"
#include "tests/platform/cabinet_fixture.h"
#include "tests/support/cab_writer.h"
#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>

using namespace platform;
using namespace cabinettest;
using testsupport::BuildCabinetSet;
using testsupport::CabWriterFolder;
using testsupport::CabWriterOptions;
using testsupport::ReadFile;
using testsupport::ReadTree;

namespace {

constexpr uint16_t kSetId = 0x4711;
constexpr uint16_t kDate = testsupport::kCabWriterDefaultDate;
constexpr uint16_t kTime = testsupport::kCabWriterDefaultTime;
constexpr uint16_t kArchive = testsupport::kCabWriterArchive;

// Three cabinets. Folder 0 runs through all three: A lies in the first, B
// crosses into the second, C begins and ends in the second (a file that
// begins inside a continued folder, which libmspack's merge drops), D
// crosses into the third. Folder 1 begins in the third and holds E.
class CabinetSetTest : public CabinetTest {
protected:
    static constexpr std::size_t kBlock = 1000;

    void SetUp() override {
        const std::vector<std::pair<std::string, std::size_t>> folder0 = {
            {"A.txt", 1500}, {"B.txt", 1500}, {"sub\\C.txt", 1000}, {"D.txt", 2000}};
        CabWriterFolder first;
        uint32_t seed = 1;
        for (const auto& [name, size] : folder0) {
            first.entries.push_back(testsupport::EntryOf(name, testsupport::PseudoRandomBytes(size, seed++)));
        }
        CabWriterFolder second;
        second.entries.push_back(testsupport::EntryOf("E.txt", testsupport::PseudoRandomBytes(1500, seed++)));
        for (const auto* folder : {&first, &second}) {
            for (const auto& entry : folder->entries) {
                contents_[entry.name] = entry.bytes;
            }
        }
        folders_ = {first, second};
        options_.blockSize = kBlock;
        options_.setId = kSetId;
        options_.cabinetStartsAt = {2500, 5500};
        options_.cabinetNames = {"part1.cab", "part2.cab", "part3.cab"};
        options_.diskNames = {"Disk One", "Disk Two", "Disk Three"};
    }

    // Writes the set's cabinets to C:\<folders[i]>\<names[i]>.
    void PlaceSet(const std::vector<std::string>& where, const std::vector<std::string>& names = {}) {
        const auto cabinets = BuildCabinetSet(folders_, options_);
        ASSERT_EQ(cabinets.size(), where.size());
        for (std::size_t i = 0; i < cabinets.size(); ++i) {
            Place(where[i] + "/" + (names.empty() ? options_.cabinetNames[i] : names[i]), cabinets[i]);
        }
    }

    std::string Content(const std::string& name) const { return contents_.at(name); }

    // A walk from part 1 writes every entry once, in order, with every notification right.
    void ExpectEveryEntryOnce();

    std::vector<CabWriterFolder> folders_;
    CabWriterOptions options_;
    std::map<std::string, std::string> contents_;
};

TEST_F(CabinetSetTest, AWalkFromTheFirstCabinetReportsAndExtractsEveryEntryOnce) {
    struct Case {
        const char* what;
        bool mszip;
        bool libmspack;
        // C's record marked as continued, though nothing in part 1 stands
        // for it: it is an entry all the same, its data where its folder's is.
        std::optional<uint16_t> markOfC;
    };
    const Case cases[] = {
        // Stored through our decoders is the engine suite's (tests/cabformat).
        {"MSZIP", true, false, std::nullopt},
        {"stored, through libmspack", false, true, std::nullopt},
        {"MSZIP, through libmspack", true, true, std::nullopt},
        {"MSZIP, C marked as continued from part 1", true, false, 0xFFFD},
        {"MSZIP, C marked as continued from part 1 and into part 3", true, false, 0xFFFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (auto& folder : folders_) {
            folder.mszip = c.mszip;
        }
        folders_[0].entries[2].folderIndex = c.markOfC;
        std::optional<LibmspackDecodesAll> libmspack;
        if (c.libmspack) {
            libmspack.emplace();
        }
        ExpectEveryEntryOnce();
        fs::remove_all(C("out"));
    }
}

void CabinetSetTest::ExpectEveryEntryOnce() {
    PlaceSet({"set", "set", "set"});
    Recorder recorder;
    recorder.onFile = ExtractAllInto("C:\\out\\");

    ASSERT_TRUE(Walk(recorder, "C:\\set\\part1.cab")) << GetLastError();

    const std::string one = "C:\\set\\part1.cab";
    const std::string two = "C:\\set\\part2.cab";
    const std::string three = "C:\\set\\part3.cab";
    const std::vector<Notice> expected = {
        CabinetInfo("C:\\set\\", "part1.cab", "", kSetId, 0),
        FileInCabinet("A.txt", 1500, kDate, kTime, kArchive, one),
        // A's folder goes on in the next two cabinets: both are opened
        // before its first entry is written.
        CabinetInfo("C:\\set\\", "part2.cab", "Disk Two", kSetId, 1),
        CabinetInfo("C:\\set\\", "part3.cab", "Disk Three", kSetId, 2),
        FileExtracted("C:\\out\\A.txt", one, NO_ERROR),
        FileInCabinet("B.txt", 1500, kDate, kTime, kArchive, one),
        FileExtracted("C:\\out\\B.txt", one, NO_ERROR),
        FileInCabinet("sub\\C.txt", 1000, kDate, kTime, kArchive, two),
        FileExtracted("C:\\out\\sub\\C.txt", two, NO_ERROR),
        FileInCabinet("D.txt", 2000, kDate, kTime, kArchive, two),
        FileExtracted("C:\\out\\D.txt", two, NO_ERROR),
        FileInCabinet("E.txt", 1500, kDate, kTime, kArchive, three),
        FileExtracted("C:\\out\\E.txt", three, NO_ERROR),
    };
    ASSERT_EQ(recorder.log.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("notification " + std::to_string(i));
        EXPECT_EQ(recorder.log[i], expected[i]);
    }
    EXPECT_EQ(ReadTree(C("out")), (std::map<std::string, std::string>{{"A.txt", Content("A.txt")},
                                                                      {"B.txt", Content("B.txt")},
                                                                      {"sub/C.txt", Content("sub\\C.txt")},
                                                                      {"D.txt", Content("D.txt")},
                                                                      {"E.txt", Content("E.txt")}}));
}

TEST_F(CabinetSetTest, AWalkThatWritesNothingOpensEachCabinetOnlyToReportItsEntries) {
    PlaceSet({"set", "set", "set"});
    Recorder recorder;
    ASSERT_TRUE(Walk(recorder, "C:\\set\\part1.cab")) << GetLastError();
    EXPECT_EQ(recorder.names(), (std::vector<std::string>{"A.txt", "B.txt", "sub\\C.txt", "D.txt", "E.txt"}));
    EXPECT_EQ(recorder.only(SPFILENOTIFY_CABINETINFO).size(), 3u);
}

TEST_F(CabinetSetTest, WritingOnlyTheEntriesOfALaterCabinetStillJoinsTheFolder) {
    PlaceSet({"set", "set", "set"});
    Recorder recorder;
    recorder.onFile = [](const Notice& notice, FILE_IN_CABINET_INFO_A& info) {
        return notice.name == "sub\\C.txt" || notice.name == "E.txt"
                   ? DoIt(info, "C:\\" + notice.name.substr(notice.name.find_last_of('\\') + 1))
                   : FILEOP_SKIP;
    };
    ASSERT_TRUE(Walk(recorder, "C:\\set\\part1.cab")) << GetLastError();
    EXPECT_EQ(ReadFile(C("C.txt")), Content("sub\\C.txt"));
    EXPECT_EQ(ReadFile(C("E.txt")), Content("E.txt"));
}

TEST_F(CabinetSetTest, ALaterCabinetWalkedAloneListsEveryRecordAndFailsThoseItCannotDecode) {
    PlaceSet({"set", "set", "set"});
    struct Case {
        const char* cabinet;
        std::vector<std::string> names;
        std::vector<uint32_t> results;  // of extracting each
    };
    const Case cases[] = {
        // B begins in part 1, which this walk never opens; C and D begin
        // in part 2, but their folder began in part 1: their data cannot be
        // decoded from here. The same holds for D in part 3. A record that
        // begins before the walk's first cabinet is listed all the same, so
        // that no record the cabinet holds passes unaccounted for.
        {"part2.cab", {"B.txt", "sub\\C.txt", "D.txt"}, {ERROR_INVALID_DATA, ERROR_INVALID_DATA, ERROR_INVALID_DATA}},
        {"part3.cab", {"D.txt", "E.txt"}, {ERROR_INVALID_DATA, NO_ERROR}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cabinet);
        Recorder recorder;
        recorder.onFile = ExtractByIndexInto("C:\\alone\\");
        recorder.onExtracted = [](const Notice&) { return NO_ERROR; };
        ASSERT_TRUE(Walk(recorder, std::string("C:\\set\\") + c.cabinet)) << GetLastError();
        EXPECT_EQ(recorder.names(), c.names);
        std::vector<uint32_t> results;
        for (const auto& notice : recorder.only(SPFILENOTIFY_FILEEXTRACTED)) {
            results.push_back(notice.win32Error);
        }
        EXPECT_EQ(results, c.results);
        EXPECT_EQ(recorder.only(SPFILENOTIFY_CABINETINFO).size(), 1u) << "no other cabinet was needed";
    }
    EXPECT_EQ(ReadFile(C("alone/e1")), Content("E.txt"));
}

TEST_F(CabinetSetTest, TheNextCabinetIsFoundIgnoringCase) {
    PlaceSet({"set", "set", "set"}, {"part1.cab", "PART2.CAB", "Part3.Cab"});
    Recorder recorder;
    recorder.onFile = ExtractAllInto("C:\\out\\");
    ASSERT_TRUE(Walk(recorder, "C:\\set\\part1.cab")) << GetLastError();
    EXPECT_TRUE(recorder.only(SPFILENOTIFY_NEEDNEWCABINET).empty());
    EXPECT_EQ(ReadFile(C("out/E.txt")), Content("E.txt"));
}

TEST_F(CabinetSetTest, AFolderAnsweredToNeedNewCabinetIsSearchedAndKeptForTheNextCabinet) {
    PlaceSet({"disk1", "disk2", "disk2"});
    Recorder recorder;
    recorder.onFile = ExtractAllInto("C:\\out\\");
    recorder.onNeedCabinet = [](const Notice&, char* newPath) {
        std::strcpy(newPath, "C:\\disk2");  // no trailing separator
        return NO_ERROR;
    };
    ASSERT_TRUE(Walk(recorder, "C:\\disk1\\part1.cab")) << GetLastError();

    const auto asked = recorder.only(SPFILENOTIFY_NEEDNEWCABINET);
    ASSERT_EQ(asked.size(), 1u) << "part3 is looked up beside part2";
    EXPECT_EQ(asked[0], NeedCabinet("C:\\disk1\\", "part2.cab", "Disk Two", kSetId, 1));
    const auto opened = recorder.only(SPFILENOTIFY_CABINETINFO);
    ASSERT_EQ(opened.size(), 3u);
    EXPECT_EQ(opened[1], CabinetInfo("C:\\disk2\\", "part2.cab", "Disk Two", kSetId, 1));
    EXPECT_EQ(opened[2], CabinetInfo("C:\\disk2\\", "part3.cab", "Disk Three", kSetId, 2));
    EXPECT_EQ(recorder.only(SPFILENOTIFY_FILEINCABINET).at(2).cabinet, "C:\\disk2\\part2.cab");
    EXPECT_EQ(ReadFile(C("out/D.txt")), Content("D.txt"));
}

TEST_F(CabinetSetTest, NeedNewCabinetAnswers) {
    PlaceSet({"disk1", "disk2", "disk2"});
    struct Case {
        const char* what;
        std::vector<std::string> answers;  // folder written per ask ("" = none)
        uint32_t code;                     // answer code for every ask
        bool completes;
        uint32_t lastError;
        std::size_t asks;
    };
    const Case cases[] = {
        {"empty buffer means the same folder, asked twice at most", {"", ""}, NO_ERROR, false, ERROR_FILE_NOT_FOUND, 2},
        {"a wrong folder, then the right one", {"C:\\disk3\\", "C:\\disk2\\"}, NO_ERROR, true, 0, 2},
        {"a folder that is not there either, twice", {"C:\\nowhere", "Q:\\"}, NO_ERROR, false, ERROR_FILE_NOT_FOUND, 2},
        {"an error ends the walk with it", {""}, 1223, false, 1223, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Recorder recorder;
        recorder.onFile = ExtractByIndexInto("C:\\out\\");
        std::size_t asks = 0;
        recorder.onNeedCabinet = [&](const Notice&, char* newPath) {
            const std::string answer = asks < c.answers.size() ? c.answers[asks] : "";
            ++asks;
            std::strcpy(newPath, answer.c_str());
            return c.code;
        };
        EXPECT_EQ(Walk(recorder, "C:\\disk1\\part1.cab") != 0, c.completes);
        if (!c.completes) {
            EXPECT_EQ(GetLastError(), c.lastError);
        }
        EXPECT_EQ(asks, c.asks);
        for (const auto& notice : recorder.only(SPFILENOTIFY_NEEDNEWCABINET)) {
            EXPECT_EQ(notice.cabinetFile, "part2.cab");
        }
    }
}

TEST_F(CabinetSetTest, ACabinetOfAnotherSetUnderTheNextNameIsNotTaken) {
    PlaceSet({"set", "set", "set"});
    CabWriterOptions other = options_;
    other.setId = kSetId + 1;
    Place("set/part2.cab", BuildCabinetSet(folders_, other)[1]);
    Recorder recorder;
    recorder.onFile = ExtractByIndexInto("C:\\out\\");
    EXPECT_FALSE(Walk(recorder, "C:\\set\\part1.cab"));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(recorder.only(SPFILENOTIFY_NEEDNEWCABINET).size(), 2u);
}

TEST_F(CabinetSetTest, ACabinetThatNamesItselfOrAnEarlierOneAsNextIsDamage) {
    // Following the names would go round for ever: the set is damaged, not
    // missing a cabinet.
    struct Case {
        const char* what;
        std::vector<std::string> namedAs;  // in the headers of their neighbours
        std::vector<std::string> files;
    };
    const Case cases[] = {
        {"itself", {"loop.cab", "loop.cab", "loop.cab"}, {"loop.cab", "two.cab", "three.cab"}},
        {"the one before it", {"a.cab", "b.cab", "a.cab"}, {"a.cab", "b.cab", "c.cab"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        options_.cabinetNames = c.namedAs;
        PlaceSet({"set" + c.files[0], "set" + c.files[0], "set" + c.files[0]}, c.files);
        Recorder recorder;
        EXPECT_FALSE(Walk(recorder, "C:\\set" + c.files[0] + "\\" + c.files[0]));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
        EXPECT_TRUE(recorder.only(SPFILENOTIFY_NEEDNEWCABINET).empty());
    }
}

TEST_F(CabinetSetTest, AMissingNextCabinetFailsTheWalkEvenWhenNothingIsWritten) {
    PlaceSet({"set", "elsewhere", "elsewhere"});
    Recorder recorder;
    EXPECT_FALSE(Walk(recorder, "C:\\set\\part1.cab"));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(recorder.names(), (std::vector<std::string>{"A.txt", "B.txt"}));
}

}  // namespace
