// The cabinet engine on cabinets in memory: header layouts, the blocks of a
// folder, and a set whose folders continue from cabinet to cabinet.
#include "cabformat/cabinet_set.h"
#include "cabformat/header.h"
#include "tests/support/cab_writer.h"
#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

using cabformat::Errc;
using testsupport::BuildCabinet;
using testsupport::CabWriterFolder;
using testsupport::CabWriterOptions;

namespace {

// A set in memory: the next cabinet is the one under the name the last
// header gives, on the first asking.
class MemorySet final : public cabformat::SetHost {
public:
    explicit MemorySet(std::map<std::string, std::string> cabinets) : cabinets_(std::move(cabinets)) {}

    std::unique_ptr<cabformat::ByteSource> source(const std::string& name) const {
        const std::string& bytes = cabinets_.at(name);
        return std::make_unique<cabformat::MemorySource>(bytes.data(), bytes.size());
    }
    std::unique_ptr<cabformat::ByteSource> nextCabinet(const cabformat::Cabinet& current, int attempt) override {
        const auto found = cabinets_.find(current.header.nextName);
        return attempt == 0 && found != cabinets_.end() ? source(found->first) : nullptr;
    }
    void cabinetOpened(const cabformat::Cabinet& cabinet) override { opened.push_back(cabinet.name); }

    std::vector<std::string> opened;

private:
    std::map<std::string, std::string> cabinets_;
};

class StringSink final : public cabformat::EntrySink {
public:
    bool open() override {
        bytes.clear();
        return true;
    }
    void write(const unsigned char* data, std::size_t size) override {
        bytes.append(reinterpret_cast<const char*>(data), size);
    }

    std::string bytes;
};

struct Extracted {
    std::string name;
    Errc result;
    std::string bytes;  // when extracted whole
};

// Every entry of the set `first` begins, in order, each extracted.
std::vector<Extracted> ExtractAll(MemorySet& host, const std::string& first) {
    cabformat::CabinetSet set(host);
    set.openFirst(host.source(first), first);
    std::vector<Extracted> out;
    for (std::size_t index = 0;; ++index) {
        for (const cabformat::FileRecord& file : set.part(index).header.files) {
            if (file.continuedFromPrev()) {
                continue;
            }
            StringSink sink;
            const cabformat::Error result = set.extract(index, file, sink);
            out.push_back({std::string(file.name), result.code, result.ok() ? sink.bytes : ""});
        }
        if (!set.part(index).header.hasNext()) {
            return out;
        }
        if (index + 1 == set.size()) {
            set.openNext();
        }
    }
}

TEST(CabinetEngine, CabinetsLaidOutAsTheFormatAllowsAreReadWhole) {
    CabWriterFolder folder;
    folder.entries = {testsupport::EntryOf("a.bin", testsupport::PseudoRandomBytes(1500, 1)),
                      testsupport::EntryOf("sub\\b.txt", testsupport::PseudoText(2500, 2))};
    CabWriterOptions blocks;
    blocks.blockSize = 1000;
    CabWriterOptions padded = blocks;
    padded.paddingBeforeFiles = 16;
    std::string largerThanTheFile = BuildCabinet({folder}, blocks);
    testsupport::SetField(largerThanTheFile, testsupport::kCabinetSizeAt, 0xFFFFFFFF, 4);
    std::string moreBlocksThanStored = BuildCabinet({folder}, blocks);
    const std::size_t blockCount =
        testsupport::FirstFolderRecord(moreBlocksThanStored) + testsupport::kFolderBlockCountAt;
    testsupport::SetField(moreBlocksThanStored, blockCount, 9, 2);  // 4 are stored
    // A short block that is not the last, then one made only of a reference
    // back into it.
    const std::string noise = testsupport::PseudoRandomBytes(1000, 3);
    CabWriterFolder backReference;
    backReference.mszip = true;
    backReference.blockSizes = {1000};
    backReference.entries = {testsupport::EntryOf("twice.bin", noise + noise)};
    struct Case {
        const char* what;
        std::string cabinet;
        const CabWriterFolder& folder;
    };
    const Case cases[] = {
        {"padding between the folder and the file records", BuildCabinet({folder}, padded), folder},
        {"cbCabinet larger than the file", largerThanTheFile, folder},
        {"cCFData larger than the blocks the entries need", moreBlocksThanStored, folder},
        {"a short MSZIP block that is not the last, referred back into", BuildCabinet({backReference}), backReference},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MemorySet host({{"t.cab", c.cabinet}});
        const std::vector<Extracted> extracted = ExtractAll(host, "t.cab");
        ASSERT_EQ(extracted.size(), c.folder.entries.size());
        for (std::size_t i = 0; i < extracted.size(); ++i) {
            EXPECT_EQ(extracted[i].result, Errc::Ok) << extracted[i].name;
            EXPECT_TRUE(extracted[i].bytes == c.folder.entries[i].bytes) << extracted[i].name << " is not whole";
        }
    }
}

// Three cabinets. Folder 0 runs through all three: A lies in the first, B
// crosses into the second, C begins and ends in the second (a file that
// begins inside a continued folder, which libmspack's merge drops), D
// crosses into the third. Folder 1 begins in the third and holds E.
class CabinetEngineSet : public testing::Test {
protected:
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
        folders_ = {first, second};
        options_.blockSize = 1000;
        options_.cabinetStartsAt = {2500, 5500};
        options_.cabinetNames = {"part1.cab", "part2.cab", "part3.cab"};
    }

    MemorySet Host(const std::vector<std::string>& cabinets) const {
        std::map<std::string, std::string> named;
        for (std::size_t i = 0; i < cabinets.size(); ++i) {
            named[options_.cabinetNames[i]] = cabinets[i];
        }
        return MemorySet(std::move(named));
    }

    std::vector<CabWriterFolder> folders_;
    CabWriterOptions options_;
};

TEST_F(CabinetEngineSet, EachHeaderTellsWhetherItsFirstAndLastFoldersContinue) {
    std::vector<std::string> cabinets = testsupport::BuildCabinetSet(folders_, options_);
    cabinets.push_back(BuildCabinet(folders_, {}));
    const bool fromPrev[] = {false, true, true, false};
    const bool toNext[] = {true, true, false, false};
    for (std::size_t i = 0; i < cabinets.size(); ++i) {
        SCOPED_TRACE(i);
        cabformat::MemorySource source(cabinets[i].data(), cabinets[i].size());
        const cabformat::HeaderResult read = cabformat::ReadCabinetHeader(source);
        ASSERT_TRUE(read.error.ok());
        EXPECT_EQ(read.header.continuesFromPrev(), fromPrev[i]);
        EXPECT_EQ(read.header.continuesToNext(), toNext[i]);
    }
}

// Where a folder crosses from one cabinet to the next: after a split block
// (whose first piece unpacks to 0 bytes) or after a whole block. A block of
// 0 unpacked bytes anywhere else is damage: the entries before it come out
// whole, the one that needs it fails, and the walk goes on past it.
TEST_F(CabinetEngineSet, AFolderGoesOnAfterASplitOrAWholeBlockAndNowhereElseSplits) {
    options_.checksums = false;  // a checksum would catch the damage first
    auto unpackedZero = [](std::size_t part, std::size_t record) {
        return [part, record](std::vector<std::string>& cabinets) {
            std::string& cabinet = cabinets[part];
            testsupport::SetField(
                cabinet, testsupport::DataRecordOffset(cabinet, record) + testsupport::kDataUnpackedSizeAt, 0, 2);
        };
    };
    using Damage = std::function<void(std::vector<std::string>&)>;
    struct Case {
        const char* what;
        std::vector<std::size_t> startsAt;
        bool mszip;
        Damage damage;
        std::vector<Errc> results;  // A, B, sub\C, D, E
    };
    const std::vector<Errc> whole(5, Errc::Ok);
    const Case cases[] = {
        {"split blocks; an entry begins in a later cabinet of the folder", {2500, 5500}, false, nullptr, whole},
        {"whole blocks, stored", {2000, 5000}, false, nullptr, whole},
        {"whole blocks, MSZIP", {2000, 5000}, true, nullptr, whole},
        // Part 2 holds the rest of block 2, blocks 3 and 4, and half of block 5.
        {"a block of 0 unpacked bytes inside a cabinet whose folder goes on",
         {2500, 5500},
         false,
         unpackedZero(1, 2),
         {Errc::Ok, Errc::Ok, Errc::Ok, Errc::Damaged, Errc::Ok}},
        {"a block of 0 unpacked bytes last in the last cabinet",
         {2500, 5500},
         false,
         unpackedZero(2, 1),
         {Errc::Ok, Errc::Ok, Errc::Ok, Errc::Ok, Errc::Damaged}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        options_.cabinetStartsAt = c.startsAt;
        for (auto& folder : folders_) {
            folder.mszip = c.mszip;
        }
        std::vector<std::string> cabinets = testsupport::BuildCabinetSet(folders_, options_);
        if (c.damage) {
            c.damage(cabinets);
        }
        MemorySet host = Host(cabinets);
        const std::vector<Extracted> extracted = ExtractAll(host, "part1.cab");
        EXPECT_EQ(host.opened, options_.cabinetNames);
        std::vector<Errc> results;
        for (const Extracted& entry : extracted) {
            results.push_back(entry.result);
            const auto& entries = entry.name == "E.txt" ? folders_[1].entries : folders_[0].entries;
            for (const auto& stored : entries) {
                if (stored.name == entry.name && entry.result == Errc::Ok) {
                    EXPECT_TRUE(entry.bytes == stored.bytes) << entry.name;
                }
            }
        }
        EXPECT_EQ(results, c.results);
    }
}

TEST_F(CabinetEngineSet, AMissingNextCabinetEndsTheWalk) {
    std::vector<std::string> cabinets = testsupport::BuildCabinetSet(folders_, options_);
    cabinets.pop_back();
    MemorySet host = Host(cabinets);
    try {
        ExtractAll(host, "part1.cab");
        ADD_FAILURE() << "the walk went on without part 3";
    } catch (const cabformat::Failure& failure) {
        EXPECT_EQ(failure.error.code, Errc::CabinetMissing);
    }
}

}  // namespace
