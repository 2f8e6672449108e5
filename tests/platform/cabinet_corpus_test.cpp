// SPDX-License-Identifier: MIT
// The cabinet service against a peer, on the shared corpus of real
// cabinets: every cabinet cabextract extracts without error gives the same
// entries and the same bytes through SetupIterateCabinetA; every other one
// ends in a failure with a Win32 code, with no crash, hang or sanitizer
// report. One test case per cabinet, named by the file.
#include "platform/kernel.h"
#include "platform/runtime.h"
#include "platform/setupapi.h"
#include "tests/cabformat/memory_set.h"
#include "tests/platform/cabinet_fixture.h"
#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mspack.h>
#include <mutex>
#include <sstream>
#include <thread>

using namespace platform;
using namespace cabinettest;
using testsupport::ReadFile;
using testsupport::ShellQuote;

namespace {

constexpr auto kWalkLimit = std::chrono::seconds(10);
constexpr char kMissing[] = "corpus-missing";
constexpr uint16_t kUtf8Name = 0x80;

// Ends the test program when one walk runs past its limit: a hang is a
// failure, and a stuck walk could not be stopped any other way. It does not
// time walks otherwise.
class Watchdog {
public:
    explicit Watchdog(std::string what)
        : what_(std::move(what)), thread_([this] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!finished_.wait_for(lock, kWalkLimit, [this] { return done_; })) {
                  std::fprintf(stderr, "%s: the walk is still running after %lld s\n", what_.c_str(),
                               static_cast<long long>(kWalkLimit.count()));
                  std::abort();
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        finished_.notify_one();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::string what_;
    std::mutex mutex_;
    std::condition_variable finished_;
    bool done_ = false;
    std::thread thread_;
};

// A multi-part set of the corpus: its parts, the names its headers give
// them, the entries that begin in each part (README table), and those that
// begin in an earlier one. A walk from the first part goes through the
// whole set; one from a later part lists both kinds, and the second kind
// fails as damaged data (its beginning is in no cabinet of the walk).
struct CorpusSet {
    std::vector<std::string> parts;   // relative to the corpus folder
    std::vector<std::string> copies;  // names the parts are copied under
    std::vector<std::vector<std::string>> beginIn;
    std::vector<std::vector<std::string>> beganBefore;
};

const std::vector<CorpusSet>& CorpusSets() {
    static const std::vector<CorpusSet> sets = {
        {{"cabextract-cabs/split-1.cab", "cabextract-cabs/split-2.cab", "cabextract-cabs/split-3.cab",
          "cabextract-cabs/split-4.cab", "cabextract-cabs/split-5.cab"},
         {"split-1.cab", "split-2.cab", "split-3.cab", "split-4.cab", "split-5.cab"},
         {{"small1.bin", "small2.bin", "medium1.bin"}, {"medium2.bin"}, {}, {"small3.bin", "medium3.bin"}, {}},
         {{}, {"small2.bin", "medium1.bin"}, {"medium2.bin"}, {"medium2.bin"}, {"small3.bin", "medium3.bin"}}},
        {{"libmspack-cabd/multi_basic_pt1.cab", "libmspack-cabd/multi_basic_pt2.cab",
          "libmspack-cabd/multi_basic_pt3.cab", "libmspack-cabd/multi_basic_pt4.cab",
          "libmspack-cabd/multi_basic_pt5.cab"},
         {"cabd_multi_basic_pt1.cab", "cabd_multi_basic_pt2.cab", "cabd_multi_basic_pt3.cab",
          "cabd_multi_basic_pt4.cab", "cabd_multi_basic_pt5.cab"},
         {{"test1.txt", "test2.txt", "test3.txt"}, {}, {}, {}, {}},
         {{},
          {"test1.txt", "test2.txt", "test3.txt"},
          {"test1.txt", "test2.txt", "test3.txt"},
          {"test1.txt", "test2.txt", "test3.txt"},
          {"test1.txt", "test2.txt", "test3.txt"}}},
        {{"libarchive-test/test_read_format_cab_multi.p1.cab", "libarchive-test/test_read_format_cab_multi.p2.cab"},
         {"test_read_format_cab_multi.p1.cab", "test_read_format_cab_multi.p2.cab"},
         {{"ones"}, {}},
         {{}, {"ones"}}},
    };
    return sets;
}

// Cabinets that sit after other data: cabextract finds them by searching;
// to a service that opens only at offset 0 they are not cabinets.
bool IsEmbedded(const std::string& relative) { return relative.find("/search") != std::string::npos; }

// Cabinets whose coffFiles names another place for the file records than
// right after the folder records, where libmspack (and so cabextract) reads
// them regardless. The service reads them where the header says: the
// entries it lists there, all empty; none when the walk fails.
const std::map<std::string, std::vector<std::string>>& FileRecordsElsewhere() {
    static const std::map<std::string, std::vector<std::string>> cabinets = {
        {"libmspack-cabd/hidden-files.cab", {"hidden1.txt", "hidden2.txt"}},
        {"libarchive-test/test_read_format_cab_skip_malformed.cab", {}},
    };
    return cabinets;
}

std::vector<std::string> CorpusCabinets() {
    const auto dir = testsupport::CorpusDir();
    if (!dir) {
        return {kMissing};
    }
    std::vector<std::string> found;
    for (const auto& item : fs::recursive_directory_iterator(*dir)) {
        if (item.is_regular_file() && item.path().extension() == ".cab") {
            found.push_back(fs::relative(item.path(), *dir).generic_string());
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::string CaseName(const ::testing::TestParamInfo<std::string>& info) {
    std::string name = info.param;
    if (name.ends_with(".cab")) {
        name.resize(name.size() - 4);
    }
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            c = '_';
        }
    }
    return name;
}

// One row of `cabextract -l`.
struct Listed {
    uint32_t size = 0;
    std::string stamp;  // "dd.mm.yyyy hh:mm:ss"
    std::string name;   // as cabextract writes it, '/' between folders
};

std::vector<Listed> CabextractListing(const fs::path& cabinet, bool single) {
    const auto listed =
        testsupport::Run("cabextract -l " + std::string(single ? "-s " : "") + ShellQuote(cabinet.string()));
    std::vector<Listed> rows;
    std::istringstream lines(listed.output);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t bar1 = line.find(" | ");
        const std::size_t bar2 = bar1 == std::string::npos ? bar1 : line.find(" | ", bar1 + 3);
        if (bar2 == std::string::npos) {
            continue;
        }
        const std::string size = line.substr(0, bar1);
        if (size.find_first_not_of(' ') == std::string::npos ||
            size.find_first_not_of(" 0123456789") != std::string::npos) {
            continue;  // the heading
        }
        rows.push_back(
            {static_cast<uint32_t>(std::stoul(size)), line.substr(bar1 + 3, bar2 - bar1 - 3), line.substr(bar2 + 3)});
    }
    return rows;
}

std::string StampOf(uint16_t date, uint16_t time) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d", date & 0x1F, (date >> 5) & 0x0F,
                  1980 + (date >> 9), time >> 11, (time >> 5) & 0x3F, (time & 0x1F) * 2);
    return text;
}

// An entry's name as libmspack itself lists it, and with the service's rule
// applied: UTF-8 names into the ANSI code page, others as stored.
struct ReferenceName {
    std::string stored;
    std::string ansi;
};

std::vector<ReferenceName> ReferenceNames(const fs::path& cabinet) {
    std::vector<ReferenceName> names;
    mscab_decompressor* decompressor = mspack_create_cab_decompressor(nullptr);
    if (mscabd_cabinet* opened = decompressor->open(decompressor, cabinet.c_str())) {
        for (const mscabd_file* file = opened->files; file != nullptr; file = file->next) {
            names.push_back(
                {file->filename, file->attribs & kUtf8Name ? TextToAnsi(Utf8ToText(file->filename)) : file->filename});
        }
        decompressor->close(decompressor, opened);
    }
    mspack_destroy_cab_decompressor(decompressor);
    return names;
}

// A name cabextract writes as it is stored: printable ASCII, nothing it
// rewrites against walking out of its folder.
bool IsPlain(const std::string& name) {
    return !name.empty() && name[0] != '/' && name[0] != '\\' && name.find("..") == std::string::npos &&
           std::all_of(name.begin(), name.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

std::string WithSlashes(std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

class CabinetCorpusTest : public CabinetTest, public ::testing::WithParamInterface<std::string> {
protected:
    // Walks `dosCabinet`, writing entry n to C:\out\e<n>, and passes every
    // entry's result back as CabFile does.
    int32_t WalkWatched(Recorder& recorder, const std::string& dosCabinet) {
        recorder.onFile = ExtractByIndexInto("C:\\out\\");
        Watchdog watchdog(GetParam());
        return Walk(recorder, dosCabinet);
    }

    std::string Written(std::size_t entry) const { return ReadFile(C("out/e" + std::to_string(entry))); }

    // For a part of a set: copies the set to C:\set\ under the names its
    // headers give, and tells which set and which part it is.
    std::optional<std::pair<const CorpusSet*, std::size_t>> PlaceWithItsSet(const fs::path& corpus) const {
        for (const auto& set : CorpusSets()) {
            const auto at = std::find(set.parts.begin(), set.parts.end(), GetParam());
            if (at == set.parts.end()) {
                continue;
            }
            fs::create_directories(C("set"));
            for (std::size_t i = 0; i < set.parts.size(); ++i) {
                fs::copy_file(corpus / set.parts[i], C("set/" + set.copies[i]));
            }
            return std::make_pair(&set, static_cast<std::size_t>(at - set.parts.begin()));
        }
        return std::nullopt;
    }

    // The folder cabextract wrote into.
    testsupport::TempDir peer_;
};

TEST_P(CabinetCorpusTest, MatchesCabextract) {
    if (GetParam() == kMissing) {
        GTEST_SKIP() << "the shared cabinet corpus is not present";
    }
    const fs::path corpus = *testsupport::CorpusDir();
    const fs::path source = corpus / GetParam();

    // A part of a set: copied with its companions under the names the
    // headers give them, extracted by cabextract from the first part.
    if (const auto placed = PlaceWithItsSet(corpus)) {
        const CorpusSet& set = *placed->first;
        const std::size_t part = placed->second;
        const auto peer = testsupport::Run("cabextract -q -d " + ShellQuote(peer_.path().string()) + " " +
                                           ShellQuote(C("set/" + set.copies[0]).string()));
        ASSERT_EQ(peer.exitCode, 0) << peer.output;
        std::map<std::string, Listed> listing;
        for (const auto& row : CabextractListing(C("set/" + set.copies[0]), false)) {
            listing[row.name] = row;
        }

        Recorder recorder;
        recorder.onExtracted = [](const Notice&) { return NO_ERROR; };
        ASSERT_TRUE(WalkWatched(recorder, "C:\\set\\" + set.copies[part])) << GetLastError();
        const auto files = recorder.only(SPFILENOTIFY_FILEINCABINET);
        const auto results = recorder.only(SPFILENOTIFY_FILEEXTRACTED);
        ASSERT_EQ(results.size(), files.size());
        const std::vector<std::string>& beganBefore = set.beganBefore[part];
        std::vector<std::string> listed;
        const std::size_t last = part == 0 ? set.parts.size() : part + 1;
        for (std::size_t i = part; i < last; ++i) {
            for (const auto& name : set.beginIn[i]) {
                listed.push_back(name);
            }
        }
        std::vector<std::string> names = recorder.names();
        std::erase_if(names, [&](const std::string& name) {
            return std::find(beganBefore.begin(), beganBefore.end(), name) != beganBefore.end();
        });
        EXPECT_EQ(names, listed);
        EXPECT_EQ(recorder.names().size(), listed.size() + beganBefore.size());
        for (const auto& file : files) {
            SCOPED_TRACE(file.name);
            if (std::find(beganBefore.begin(), beganBefore.end(), file.name) != beganBefore.end()) {
                EXPECT_EQ(results[file.entry].win32Error, ERROR_INVALID_DATA);
                continue;
            }
            ASSERT_TRUE(listing.count(file.name));
            EXPECT_EQ(file.size, listing[file.name].size);
            EXPECT_EQ(StampOf(file.dosDate, file.dosTime), listing[file.name].stamp);
            EXPECT_EQ(Written(file.entry), ReadFile(peer_ / file.name));
        }
        return;
    }

    if (const auto elsewhere = FileRecordsElsewhere().find(GetParam()); elsewhere != FileRecordsElsewhere().end()) {
        Place("t.cab", ReadFile(source));
        Recorder recorder;
        const bool walked = WalkWatched(recorder, "C:\\t.cab");
        EXPECT_EQ(walked, !elsewhere->second.empty());
        if (walked) {
            EXPECT_EQ(recorder.names(), elsewhere->second);
            for (std::size_t i = 0; i < elsewhere->second.size(); ++i) {
                EXPECT_EQ(Written(i), "");
            }
        }
        return;
    }

    if (IsEmbedded(GetParam())) {
        Place("t.cab", ReadFile(source));
        Recorder recorder;
        EXPECT_FALSE(WalkWatched(recorder, "C:\\t.cab"));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
        EXPECT_TRUE(recorder.names().empty());
        return;
    }

    Place("t.cab", ReadFile(source));
    const auto peer = testsupport::Run("cabextract -q -s -d " + ShellQuote(peer_.path().string()) + " " +
                                       ShellQuote(source.string()));
    Recorder recorder;
    const int32_t walked = WalkWatched(recorder, "C:\\t.cab");
    if (peer.exitCode != 0) {
        EXPECT_FALSE(walked) << "cabextract failed:\n" << peer.output;
        EXPECT_NE(GetLastError(), NO_ERROR);
        EXPECT_NE(GetLastError(), kSentinel);
        return;
    }

    ASSERT_TRUE(walked) << "last error " << GetLastError();
    const auto rows = CabextractListing(source, true);
    const auto references = ReferenceNames(source);
    const auto files = recorder.only(SPFILENOTIFY_FILEINCABINET);
    ASSERT_EQ(files.size(), rows.size());
    ASSERT_EQ(files.size(), references.size());
    std::map<std::string, int> listedTimes;
    for (const auto& row : rows) {
        ++listedTimes[row.name];
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE("entry " + std::to_string(i) + " " + rows[i].name);
        EXPECT_EQ(files[i].size, rows[i].size);
        EXPECT_EQ(StampOf(files[i].dosDate, files[i].dosTime), rows[i].stamp);
        EXPECT_EQ(files[i].name, references[i].ansi);
        if (IsPlain(references[i].stored)) {
            EXPECT_EQ(WithSlashes(files[i].name), rows[i].name);
        }
        const std::string written = Written(i);
        EXPECT_EQ(written.size(), files[i].size);
        if (listedTimes[rows[i].name] == 1) {  // a name listed twice is overwritten by cabextract
            EXPECT_EQ(written, ReadFile(peer_ / rows[i].name));
        }
    }
    EXPECT_EQ(recorder.only(SPFILENOTIFY_FILEEXTRACTED).size(), files.size());
}

// The engine's own stored and MSZIP decoders against libmspack's on every
// cabinet, damaged ones included: the same entries, results and bytes.
TEST_P(CabinetCorpusTest, OurDecodersMatchLibmspack) {
    if (GetParam() == kMissing) {
        GTEST_SKIP() << "the shared cabinet corpus is not present";
    }
    if (FileRecordsElsewhere().count(GetParam()) != 0) {
        GTEST_SKIP() << "libmspack reads other file records than the service";
    }
    const fs::path corpus = *testsupport::CorpusDir();
    cabformattest::MemorySet set({{"t.cab", ReadFile(corpus / GetParam())}});
    std::string first = "t.cab";
    if (const auto placed = PlaceWithItsSet(corpus)) {
        first = placed->first->copies[placed->second];
        for (const std::string& copy : placed->first->copies) {
            set.cabinets[copy] = ReadFile(C("set/" + copy));
        }
    }
    Watchdog watchdog(GetParam());
    // Truncated and Damaged differ only in the detail: the service reports both alike.
    auto extract = [&] {
        std::vector<cabformattest::Extracted> all = cabformattest::ExtractAll(set, first);
        for (auto& entry : all) {
            entry.result = entry.result == cabformat::Errc::Truncated ? cabformat::Errc::Damaged : entry.result;
        }
        return all;
    };
    const std::vector<cabformattest::Extracted> ours = extract();
    LibmspackDecodesAll libmspack;
    EXPECT_TRUE(ours == extract()) << "the entries or their results differ";
}

INSTANTIATE_TEST_SUITE_P(Corpus, CabinetCorpusTest, ::testing::ValuesIn(CorpusCabinets()), CaseName);

// The set as shipped names its parts cabd_multi_basic_ptN.cab, which are
// not there: the handler is asked twice, then the walk fails.
TEST_F(CabinetTest, TheCorpusSetWhoseHeadersNameMissingPartsFailsWithFileNotFound) {
    const auto corpus = testsupport::CorpusDir();
    if (!corpus) {
        GTEST_SKIP() << "the shared cabinet corpus is not present";
    }
    for (int i = 1; i <= 5; ++i) {
        const std::string name = "multi_basic_pt" + std::to_string(i) + ".cab";
        fs::create_directories(C("set"));
        fs::copy_file(*corpus / "libmspack-cabd" / name, C("set/" + name));
    }
    Recorder recorder;
    recorder.onFile = ExtractAllInto("C:\\out\\");
    EXPECT_FALSE(Walk(recorder, "C:\\set\\multi_basic_pt1.cab"));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    const auto asked = recorder.only(SPFILENOTIFY_NEEDNEWCABINET);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0], NeedCabinet("C:\\set\\", "cabd_multi_basic_pt2.cab", "basic multipart test part 2", 12345, 1));
    EXPECT_FALSE(fs::exists(C("out/test1.txt")));
}

}  // namespace
