// SPDX-License-Identifier: MIT
// CabFile end to end on real cabinets made with gcab: counting, extracting,
// reporting and listing entries, its events, its errors and its hook.
#include "cabinet/cab_file.h"
#include "cabinet/callback.h"
#include "cabinet/errors.h"
#include "platform/runtime.h"
#include "tests/support/cab_writer.h"
#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace cabinet;
using platform::RaisedError;
using testsupport::CabEntry;
namespace fs = std::filesystem;

namespace {

std::string Utf8(const std::u16string& text) { return platform::TextToUtf8(text); }

// Runs `body` and returns the error it raised, failing the test when none.
template <typename Body>
RaisedError RaisedBy(Body&& body) {
    try {
        body();
    } catch (const RaisedError& error) {
        return error;
    }
    ADD_FAILURE() << "no error raised";
    return RaisedError(0, u"", u"");
}

struct FoundEntry {
    std::u16string fileName;
    double dateTime;
    int32_t size;
    std::u16string path;
};

class CabFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        prefix.mapDrive('d', prefix.root() / "cd");
        testsupport::MakeCabWithGcab(prefix.root() / "cd" / "Install" / "Game1.cab", scratch / "game1",
                                     {{"a.txt", "alpha"}, {"sub/b.txt", "bravo!"}}, true);
        cab->SetCabName(u"D:\\Install\\Game1.cab");
        cab->SetCurrentFileHook([this](const std::u16string& file) { toldCurrentFile.push_back(file); });
    }

    fs::path OnC(const std::string& rest) const { return prefix.driveC() / rest; }

    testsupport::ScopedEnv locale{"LC_ALL", "C"};
    testsupport::WinePrefix prefix;
    testsupport::TempDir scratch;
    std::shared_ptr<CabFile> cab = CabFile::Create();
    std::vector<std::u16string> toldCurrentFile;  // what the current-file hook was told
};

TEST_F(CabFileTest, EveryOperationNeedsACabinetName) {
    auto empty = CabFile::Create();
    empty->SetCurrentFileHook([this](const std::u16string& file) { toldCurrentFile.push_back(file); });
    Callback::SetActiveCabFile(cab);
    struct Case {
        const char* what;
        std::function<void()> operation;
        std::u16string source;
    };
    const Case cases[] = {
        {"FileCount", [&] { empty->FileCount(); }, u"CabFile"},
        {"Extract", [&] { empty->Extract(u"a.txt", u"C:\\Out", u""); }, u"CabFile"},
        {"GetInfo", [&] { empty->GetInfo(u""); }, u"CabFile.GetInfo"},
        {"GetXML", [&] { empty->GetXML(u""); }, u"CabFile.GetXML"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const RaisedError error = RaisedBy(c.operation);
        EXPECT_EQ(error.Number(), -2147219548);
        EXPECT_EQ(Utf8(error.Source()), Utf8(c.source));
        EXPECT_EQ(Utf8(error.Description()),
                  "You must set the CabName property before taking any action on the CabFile object.");
        EXPECT_EQ(Callback::ActiveCabFile(), cab);
        EXPECT_TRUE(toldCurrentFile.empty());
    }
    EXPECT_FALSE(fs::exists(OnC("Out")));
}

TEST_F(CabFileTest, CountsEntriesOfTheCurrentCabinet) {
    EXPECT_EQ(cab->FileCount(), 2);
    EXPECT_EQ(cab->FileCount(), 2);
    testsupport::MakeCabWithGcab(prefix.driveC() / "three.cab", scratch / "three", {{"x", "1"}, {"y", "2"}, {"z", "3"}},
                                 false);
    cab->SetCabName(u"C:\\three.cab");
    EXPECT_EQ(cab->FileCount(), 3);
    EXPECT_TRUE(fs::is_empty(prefix.driveC()) || !fs::exists(OnC("x")));
}

TEST_F(CabFileTest, ExtractsToTheRightPaths) {
    struct Case {
        const char* what;
        std::u16string fileToExtract, outputPath, outputFile;
        std::map<std::string, std::string> written;  // relative to drive C
    };
    const Case cases[] = {
        {"all entries", u"", u"C:\\Out", u"", {{"Out/a.txt", "alpha"}, {"Out/sub/b.txt", "bravo!"}}},
        {"output folder with separator", u"", u"C:\\Out\\", u"", {{"Out/a.txt", "alpha"}, {"Out/sub/b.txt", "bravo!"}}},
        {"one entry, matched ignoring case", u"SUB\\B.TXT", u"C:\\Out", u"", {{"Out/sub/b.txt", "bravo!"}}},
        {"the last part alone matches nothing", u"b.txt", u"C:\\Out", u"", {}},
        {"under another name", u"a.txt", u"C:\\Out", u"other.dat", {{"Out/other.dat", "alpha"}}},
        {"deep output folder",
         u"",
         u"C:\\Ostmere\\Varnholt\\",
         u"",
         {{"Ostmere/Varnholt/a.txt", "alpha"}, {"Ostmere/Varnholt/sub/b.txt", "bravo!"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(prefix.driveC());
        fs::create_directories(prefix.driveC());
        EXPECT_TRUE(cab->Extract(c.fileToExtract, c.outputPath, c.outputFile));
        EXPECT_EQ(testsupport::ReadTree(prefix.driveC()), c.written);
    }
}

TEST_F(CabFileTest, WithoutOutputFolderEntriesLandBesideTheCabinet) {
    testsupport::MakeCabWithGcab(prefix.driveC() / "Install" / "Game7.cab", scratch / "game7", {{"a.dat", "data"}},
                                 false);
    cab->SetCabName(u"C:\\Install\\Game7.cab");
    EXPECT_TRUE(cab->Extract(u"", u"", u""));
    EXPECT_EQ(testsupport::ReadFile(OnC("Install/a.dat")), "data");
}

TEST_F(CabFileTest, EveryMatchIsWrittenToTheSameOutputFileInOrder) {
    testsupport::MakeCabWithGcab(prefix.driveC() / "twice.cab", scratch / "twice",
                                 {{"one/same.txt", "first"}, {"two/SAME.TXT", "second"}}, false);
    cab->SetCabName(u"C:\\twice.cab");
    std::vector<std::u16string> written;
    cab->AfterExtract.Subscribe([&](const std::u16string& path) { written.push_back(path); });
    EXPECT_TRUE(cab->Extract(u"", u"C:\\Out", u"merged.txt"));
    EXPECT_EQ(written, (std::vector<std::u16string>{u"C:\\Out\\merged.txt", u"C:\\Out\\merged.txt"}));
    EXPECT_EQ(testsupport::ReadFile(OnC("Out/merged.txt")), "second");
}

TEST_F(CabFileTest, NamesThatDifferOnlyInCaseMeetInTheFolderAndFileMadeFirst) {
    // Written by the test writer: a source tree for gcab cannot hold these
    // names on a file system that ignores case.
    testsupport::CabWriterFolder folder;
    folder.entries = {testsupport::EntryOf("Data\\a.txt", "first"), testsupport::EntryOf("DATA\\Sub\\b.txt", "bravo"),
                      testsupport::EntryOf("data\\A.TXT", "second")};
    testsupport::WriteFile(OnC("cases.cab"), testsupport::BuildCabinet({folder}));
    cab->SetCabName(u"C:\\cases.cab");
    EXPECT_TRUE(cab->Extract(u"", u"C:\\Out", u""));
    EXPECT_EQ(testsupport::ReadTree(OnC("Out")),
              (std::map<std::string, std::string>{{"Data/a.txt", "second"}, {"Data/Sub/b.txt", "bravo"}}));
}

TEST_F(CabFileTest, BeforeExtractCanCancelAndAfterExtractGetsFullPaths) {
    std::vector<std::u16string> before, after;
    cab->BeforeExtract.Subscribe([&](const std::u16string& name, bool& cancel) {
        before.push_back(name);
        cancel = name == u"sub\\b.txt";
    });
    cab->AfterExtract.Subscribe([&](const std::u16string& path) { after.push_back(path); });
    EXPECT_TRUE(cab->Extract(u"", u"C:\\Out", u""));
    EXPECT_EQ(before, (std::vector<std::u16string>{u"a.txt", u"sub\\b.txt"}));
    EXPECT_EQ(after, (std::vector<std::u16string>{u"C:\\Out\\a.txt"}));
    EXPECT_EQ(testsupport::ReadTree(prefix.driveC()), (std::map<std::string, std::string>{{"Out/a.txt", "alpha"}}));
    EXPECT_FALSE(fs::exists(OnC("Out/sub")));  // a cancelled entry's folder is not made
}

TEST_F(CabFileTest, TheCurrentFileHookHearsEachExtractOnceBeforeItsWalk) {
    std::vector<std::size_t> heardBeforeEntry;
    cab->BeforeExtract.Subscribe(
        [&](const std::u16string&, bool&) { heardBeforeEntry.push_back(toldCurrentFile.size()); });
    cab->Extract(u"", u"C:\\Out", u"");
    EXPECT_EQ(heardBeforeEntry, (std::vector<std::size_t>{1, 1}));
    cab->Extract(u"SUB\\B.TXT", u"C:\\Out", u"");
    cab->FileCount();
    cab->GetXML(u"");
    EXPECT_EQ(toldCurrentFile, (std::vector<std::u16string>{u"", u"SUB\\B.TXT"}));
}

TEST_F(CabFileTest, GetInfoReportsEntriesAndLooksUpFullNames) {
    std::vector<FoundEntry> found;
    cab->FileFound.Subscribe([&](const std::u16string& name, double date, int32_t size, const std::u16string& path) {
        found.push_back({name, date, size, path});
    });
    EXPECT_TRUE(cab->GetInfo(u""));
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].fileName, u"a.txt");
    EXPECT_EQ(found[0].path, u"");
    EXPECT_EQ(found[0].size, 5);
    EXPECT_EQ(found[1].fileName, u"b.txt");
    EXPECT_EQ(found[1].path, u"sub\\");
    EXPECT_EQ(found[1].size, 6);
    EXPECT_GT(found[1].dateTime, 40000.0);  // stored by gcab from the files' times: a recent date

    found.clear();
    EXPECT_TRUE(cab->GetInfo(u"b.txt"));
    EXPECT_TRUE(found.empty());
    EXPECT_TRUE(cab->GetInfo(u"SUB\\B.TXT"));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].fileName, u"b.txt");
    EXPECT_FALSE(fs::exists(OnC("sub")));
}

TEST_F(CabFileTest, GetXmlLooksUpLastPartsAndStartsAfreshEachTime) {
    const std::u16string one = cab->GetXML(u"B.TXT");
    EXPECT_NE(one.find(u"<FULLNAME>sub\\b.txt</FULLNAME><NAME>b.txt</NAME>"), std::u16string::npos);
    EXPECT_EQ(one.find(u"a.txt"), std::u16string::npos);
    EXPECT_EQ(cab->GetXML(u"sub\\b.txt"),
              u"<?xml version=\"1.0\"?><CABFILE CABFILENAME = 'D:\\Install\\Game1.cab'><FILES></FILES></CABFILE>");
}

// The listing example: two entries with chosen dates, under a US English locale.
TEST_F(CabFileTest, ListsTheExampleCabinetByteForByte) {
    const fs::path root = scratch / "example";
    testsupport::WriteFile(root / "readme.txt", std::string(1234, 'r'));
    testsupport::WriteFile(root / "Data" / "map01.dat", std::string(56789, 'm'));
    const std::string setTimes = "cd " + testsupport::ShellQuote(root.string()) +
                                 " && TZ=UTC touch -d '2001-07-14 15:20:10' readme.txt"
                                 " && TZ=UTC touch -d '2002-03-02 08:05:00' Data/map01.dat"
                                 " && TZ=UTC gcab -c -z " +
                                 testsupport::ShellQuote((prefix.root() / "cd" / "Install" / "Game1.cab").string()) +
                                 " readme.txt Data/map01.dat";
    const auto made = testsupport::Run(setTimes);
    ASSERT_EQ(made.exitCode, 0) << made.output;

    const std::u16string expected =
        u"<?xml version=\"1.0\"?><CABFILE CABFILENAME = 'D:\\Install\\Game1.cab'><FILES><FILE><FULLNAME>readme.txt"
        u"</FULLNAME><NAME>readme.txt</NAME><DATE>7/14/2001 3:20:10 PM</DATE><SIZE>1234</SIZE><PATH></PATH></FILE>\r\n"
        u"<FILE><FULLNAME>Data\\map01.dat</FULLNAME><NAME>map01.dat</NAME><DATE>3/2/2002 8:05:00 AM</DATE>"
        u"<SIZE>56789</SIZE><PATH>Data\\</PATH></FILE>\r\n</FILES></CABFILE>";
    EXPECT_EQ(Utf8(cab->GetXML(u"")), Utf8(expected));
}

TEST_F(CabFileTest, ListingsEscapeMarkupInNamesAndTheCabinetName) {
    if (testsupport::kNoAngleBracketsInFileNames.applies) {
        GTEST_SKIP() << testsupport::kNoAngleBracketsInFileNames.why;
    }
    fs::create_directories(prefix.driveC() / "it's");
    testsupport::MakeCabWithGcab(prefix.driveC() / "it's" / "odd.cab", scratch / "odd",
                                 {{"a&b<c>.txt", "x"}, {"plain.txt", "y"}}, false);
    cab->SetCabName(u"C:\\it's\\odd.cab");
    const std::u16string xml = cab->GetXML(u"");
    EXPECT_NE(xml.find(u"CABFILENAME = 'C:\\it&apos;s\\odd.cab'"), std::u16string::npos) << Utf8(xml);
    EXPECT_NE(xml.find(u"<FULLNAME>a&amp;b&lt;c&gt;.txt</FULLNAME><NAME>a&amp;b&lt;c&gt;.txt</NAME>"),
              std::u16string::npos)
        << Utf8(xml);
    EXPECT_NE(xml.find(u"<FULLNAME>plain.txt</FULLNAME>"), std::u16string::npos);
    // A look-up compares the stored name, not its escaped form.
    EXPECT_NE(cab->GetXML(u"A&B<C>.TXT").find(u"<NAME>a&amp;b&lt;c&gt;.txt</NAME>"), std::u16string::npos);
}

TEST_F(CabFileTest, NamesThatLeaveTheOutputFolderAreRefused) {
    struct Case {
        const char* what;
        std::string stored;
    };
    const Case cases[] = {
        {"parent folders", "..\\..\\x.dll"},  {"rooted", "\\Windows\\x.dll"},         {"drive", "C:\\x.dll"},
        {"forward slashes", "a/../../x.dll"}, {"dots and spaces", "sub\\.. \\x.dll"}, {"three dots", "...\\x.dll"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::u16string stored = platform::AnsiToText(c.stored);
        testsupport::CabWriterFolder folder;
        folder.entries.resize(2);
        folder.entries[0].name = "good.txt";
        folder.entries[0].bytes = "fine";
        folder.entries[1].name = c.stored;
        folder.entries[1].bytes = "evil";
        testsupport::WriteFile(prefix.driveC() / "In" / "hostile.cab", testsupport::BuildCabinet({folder}));
        cab->SetCabName(u"C:\\In\\hostile.cab");

        const RaisedError error = RaisedBy([&] { cab->Extract(u"", u"C:\\In\\Out", u""); });
        EXPECT_EQ(error.Number(), 123);
        EXPECT_EQ(Utf8(error.Source()), "CabFile.CabCallBack");
        EXPECT_EQ(Utf8(error.Description()), "The filename, directory name, or volume label syntax is incorrect.");
        std::map<std::string, std::string> expected{
            {"In/hostile.cab", testsupport::ReadFile(prefix.driveC() / "In" / "hostile.cab")},
            {"In/Out/good.txt", "fine"}};
        EXPECT_EQ(testsupport::ReadTree(prefix.driveC()), expected);

        // Listings still show the name as stored.
        EXPECT_NE(cab->GetXML(u"").find(u"<FULLNAME>" + stored + u"</FULLNAME>"), std::u16string::npos);
        // A listener may skip such an entry quietly, and a name the caller
        // chose is safe whatever the stored one holds.
        auto skip =
            cab->BeforeExtract.Subscribe([&](const std::u16string& name, bool& cancel) { cancel = name == stored; });
        EXPECT_TRUE(cab->Extract(u"", u"C:\\In\\Out", u""));
        cab->BeforeExtract.Unsubscribe(skip);
        EXPECT_TRUE(cab->Extract(stored, u"C:\\In\\Out", u"renamed.dll"));
        EXPECT_EQ(testsupport::ReadFile(prefix.driveC() / "In" / "Out" / "renamed.dll"), "evil");
        fs::remove_all(prefix.driveC() / "In");
    }
}

TEST_F(CabFileTest, ListenerErrorsComeBackThroughTheDispatcher) {
    struct Case {
        const char* what;
        std::function<void()> operation;
        std::u16string source;
    };
    auto raise = [] { throw RaisedError(5, u"Listener", u"Access is denied."); };
    cab->BeforeExtract.Subscribe([&](const std::u16string&, bool&) { raise(); });
    cab->FileFound.Subscribe([&](const std::u16string&, double, int32_t, const std::u16string&) { raise(); });
    const Case cases[] = {
        {"BeforeExtract", [&] { cab->Extract(u"", u"C:\\Out", u""); }, u"CabFile.CabCallBack"},
        {"FileFound", [&] { cab->GetInfo(u""); }, u"CabFile.GetInfo"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const RaisedError error = RaisedBy(c.operation);
        EXPECT_EQ(error.Number(), 5);
        EXPECT_EQ(Utf8(error.Source()), Utf8(c.source));
        EXPECT_EQ(Utf8(error.Description()), "Access is denied.");
    }
    EXPECT_FALSE(fs::exists(OnC("Out")));
    // The object stays usable after a failed walk.
    EXPECT_EQ(cab->FileCount(), 2);
}

TEST_F(CabFileTest, AfterExtractErrorsEndTheWalkAfterTheFileIsWritten) {
    cab->AfterExtract.Subscribe(
        [](const std::u16string&) { throw RaisedError(70, u"Listener", u"Permission denied"); });
    const RaisedError error = RaisedBy([&] { cab->Extract(u"", u"C:\\Out", u""); });
    EXPECT_EQ(error.Number(), 70);
    EXPECT_EQ(Utf8(error.Source()), "CabFile.CabCallBack");
    EXPECT_EQ(testsupport::ReadTree(OnC("Out")), (std::map<std::string, std::string>{{"a.txt", "alpha"}}));
}

TEST_F(CabFileTest, ACabinetWithoutEntriesIsEmptyNotDamaged) {
    testsupport::WriteFile(OnC("empty.cab"), testsupport::BuildCabinet({}));
    cab->SetCabName(u"C:\\empty.cab");
    EXPECT_EQ(cab->FileCount(), 0);
    EXPECT_EQ(cab->GetXML(u""),
              u"<?xml version=\"1.0\"?><CABFILE CABFILENAME = 'C:\\empty.cab'><FILES></FILES></CABFILE>");
    EXPECT_TRUE(cab->Extract(u"", u"C:\\Out", u""));
    EXPECT_FALSE(fs::exists(OnC("Out")));
}

TEST_F(CabFileTest, FailedWalksRaiseThePlatformCode) {
    struct Case {
        const char* what;
        std::u16string cabName;
        std::function<void(CabFile&)> operation;
        int32_t number;
        std::u16string source;
        std::u16string description;
    };
    testsupport::WriteFile(prefix.driveC() / "not-a-cabinet.cab", "This is plain text, not a cabinet.");
    const Case cases[] = {
        {"missing cabinet", u"C:\\nothing.cab", [](CabFile& c) { c.Extract(u"", u"C:\\Out", u""); }, 2, u"CabFile",
         u"The system cannot find the file specified."},
        {"missing cabinet, listed", u"C:\\nothing.cab", [](CabFile& c) { c.GetXML(u""); }, 2, u"CabFile.GetXML",
         u"The system cannot find the file specified."},
        {"missing drive, counted", u"Q:\\Install\\Game1.cab", [](CabFile& c) { c.FileCount(); }, 3, u"CabFile",
         u"The system cannot find the path specified."},
        {"not a cabinet, reported", u"C:\\not-a-cabinet.cab", [](CabFile& c) { c.GetInfo(u""); }, 13,
         u"CabFile.GetInfo", u"Invalid data."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        cab->SetCabName(c.cabName);
        const RaisedError error = RaisedBy([&] { c.operation(*cab); });
        EXPECT_EQ(error.Number(), c.number);
        EXPECT_EQ(Utf8(error.Source()), Utf8(c.source));
        EXPECT_EQ(Utf8(error.Description()), Utf8(c.description));
    }
}

TEST_F(CabFileTest, TargetPathsTooLongForTheFieldRaiseNine) {
    const std::u16string deep = u"C:\\" + std::u16string(250, u'd');
    const RaisedError error = RaisedBy([&] { cab->Extract(u"", deep, u""); });
    EXPECT_EQ(error.Number(), 9);
    EXPECT_EQ(Utf8(error.Source()), "CabFile.CabCallBack");
}

TEST_F(CabFileTest, AFolderThatCannotBeMadeRaisesWhatStoppedIt) {
    std::vector<std::u16string> after;
    cab->AfterExtract.Subscribe([&](const std::u16string& path) { after.push_back(path); });
    const RaisedError error = RaisedBy([&] { cab->Extract(u"", u"Q:\\Nowhere", u""); });
    if (testsupport::kMissingDriveIsFileNotFound.applies) {
        EXPECT_EQ(error.Number(), 2) << testsupport::kMissingDriveIsFileNotFound.why;
    } else {
        EXPECT_EQ(error.Number(), 3);
        EXPECT_EQ(Utf8(error.Description()), "The system cannot find the path specified.");
    }
    EXPECT_TRUE(after.empty());
}

TEST_F(CabFileTest, TheCabinetNameComesBackThroughTheCodePage) {
    cab->SetCabName(u"C:\\\u03a9.cab");
    const RaisedError error = RaisedBy([&] { cab->FileCount(); });
    EXPECT_NE(error.Number(), 0);
    EXPECT_EQ(cab->CabName(), u"C:\\?.cab");
}

}  // namespace
