// SPDX-License-Identifier: MIT
// The cabinet engine on cabinets in memory: header layouts, the blocks of a
// folder, sets whose folders continue from cabinet to cabinet, and its own
// decoders against libmspack's.
#include "cabformat/decoders.h"
#include "cabformat/header.h"
#include "tests/cabformat/memory_set.h"
#include "tests/support/cab_writer.h"
#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

using cabformat::Errc;
using cabformattest::ExtractAll;
using cabformattest::Extracted;
using cabformattest::MemorySet;
using testsupport::BuildCabinet;
using testsupport::CabWriterFolder;
using testsupport::CabWriterOptions;

namespace {

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
    // Records in another order than their data: each folder is decoded
    // once, the bytes a later record needs kept meanwhile.
    std::vector<CabWriterFolder> two(2);
    std::vector<testsupport::CabWriterEntry> inOrder;
    for (uint32_t i = 0; i < 8; ++i) {
        two[i / 4].mszip = true;
        two[i / 4].entries.push_back(
            testsupport::EntryOf(std::string("r").append(std::to_string(i)), testsupport::PseudoRandomBytes(1500, i)));
        inOrder.push_back(two[i / 4].entries.back());
    }
    auto reordered = [&](std::vector<std::size_t> order) {
        CabWriterOptions options = blocks;
        options.recordOrder = std::move(order);
        std::vector<testsupport::CabWriterEntry> entries;
        for (std::size_t index : options.recordOrder) {
            entries.push_back(inOrder[index]);
        }
        return std::pair(BuildCabinet(two, options), entries);
    };
    const auto alternating = reordered({0, 4, 1, 5, 2, 6, 3, 7});
    const auto descending = reordered({7, 6, 5, 4, 3, 2, 1, 0});
    const auto mixed = reordered({5, 1, 0, 7, 2, 4, 6, 3});
    struct Case {
        const char* what;
        std::string cabinet;
        std::vector<testsupport::CabWriterEntry> entries;  // in record order
    };
    const Case cases[] = {
        {"padding between the folder and the file records", BuildCabinet({folder}, padded), folder.entries},
        {"cbCabinet larger than the file", largerThanTheFile, folder.entries},
        {"cCFData larger than the blocks the entries need", moreBlocksThanStored, folder.entries},
        {"a short MSZIP block that is not the last, referred back into", BuildCabinet({backReference}),
         backReference.entries},
        {"records alternating between two folders", alternating.first, alternating.second},
        {"records at descending offsets", descending.first, descending.second},
        {"records in no order", mixed.first, mixed.second},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Extracted> whole;
        for (const auto& entry : c.entries) {
            whole.push_back({entry.name, Errc::Ok, entry.bytes});
        }
        EXPECT_TRUE(ExtractAll(MemorySet({{"t.cab", c.cabinet}})) == whole) << "the entries are not whole";
    }
}

// Our stored and MSZIP decoders give what libmspack gives, byte for byte
// and failure for failure, on cabinets of gcab's and of our test writer.
TEST(CabinetEngine, OurDecodersMatchLibmspackOnRandomCabinets) {
    testsupport::TempDir sources;
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const std::string dice = testsupport::PseudoRandomBytes(16, seed);
        std::vector<testsupport::CabEntry> entries;
        CabWriterFolder folder;
        folder.mszip = true;
        const std::size_t count = 1 + static_cast<unsigned char>(dice[0]) % 12;
        for (std::size_t i = 0; i < count; ++i) {
            // Empty, small, or over several blocks; noise or text.
            const auto pick = static_cast<unsigned char>(dice[i + 1]);
            const std::size_t size = pick % 4 == 0 ? 0 : pick % 4 == 1 ? pick * 3u : pick * 1500u;
            const auto bytesSeed = static_cast<uint32_t>(seed * 100 + i);
            const std::string bytes = (pick & 0x10) != 0 ? testsupport::PseudoRandomBytes(size, bytesSeed)
                                                         : testsupport::PseudoText(size, bytesSeed);
            // Not "f" + std::to_string(i): GCC 12 at -O3 warns falsely inside that operator+.
            const std::string name = std::string("f").append(std::to_string(i));
            entries.push_back({std::string("d").append(std::to_string(i % 3)) + "/" + name, bytes});
            folder.entries.push_back(testsupport::EntryOf(name, bytes));
        }
        testsupport::MakeCabWithGcab(sources / "gcab.cab", sources / "in", entries, seed % 2 == 0);
        // Full blocks that refer back into the block before them; and a
        // flipped byte under a checksum, half-way through the data.
        const std::string written = BuildCabinet({folder});
        std::string flipped = written;
        flipped[(testsupport::FirstDataOffset(written) + written.size()) / 2] ^= 0x01;
        const std::string cabinets[] = {testsupport::ReadFile(sources / "gcab.cab"), written, flipped};
        for (const std::string& cabinet : cabinets) {
            const bool damaged = &cabinet == &cabinets[2];
            const std::vector<Extracted> ours = ExtractAll(MemorySet({{"t.cab", cabinet}}));
            cabformat::SetNativeDecoding(false);
            const std::vector<Extracted> reference = ExtractAll(MemorySet({{"t.cab", cabinet}}));
            cabformat::SetNativeDecoding(true);
            ASSERT_EQ(ours.size(), reference.size());
            for (std::size_t i = 0; i < ours.size(); ++i) {
                SCOPED_TRACE(ours[i].name);
                if (!damaged) {
                    EXPECT_TRUE(ours[i] == reference[i]);
                    continue;
                }
                // libmspack reads ahead, and also fails entries that end just
                // before the damaged block: we write every entry it writes.
                EXPECT_TRUE(ours[i].result == Errc::Ok ? ours[i].bytes == folder.entries[i].bytes
                                                       : reference[i].result != Errc::Ok);
                EXPECT_TRUE(ours[i].result == Errc::Ok || ours[i].result == Errc::Checksum);
            }
            EXPECT_TRUE(!damaged ||
                        std::any_of(ours.begin(), ours.end(), [](auto& e) { return e.result != Errc::Ok; }));
        }
    }
}

// The first failed entry of each damaged cabinet fails with the error that
// fits, through our decoders and libmspack's alike; the entries before it
// come out whole.
TEST(CabinetEngine, DamagedCabinetsFailTheirEntriesWithTheFittingError) {
    using testsupport::EntryOf;
    const std::string whole = testsupport::ThreeEntries();
    const std::size_t data = testsupport::FirstDataOffset(whole);
    std::string flipped = whole;
    flipped[testsupport::ThreeEntriesDataByte(whole, 2500)] ^= 0x01;
    std::string unknownMethod = testsupport::ThreeEntries(false);
    unknownMethod[testsupport::FirstFolderCompressionOffset(unknownMethod)] = 0x0F;
    // A block of 0 unpacked bytes is the first piece of a split block: not
    // inside a cabinet, nor at the end of one whose folder goes on nowhere.
    auto unpackedZero = [](std::size_t record) {
        std::string cabinet = testsupport::ThreeEntries(false);
        testsupport::SetField(cabinet,
                              testsupport::DataRecordOffset(cabinet, record) + testsupport::kDataUnpackedSizeAt, 0, 2);
        return cabinet;
    };
    std::string endsInData = whole;
    testsupport::SetField(endsInData, testsupport::kCabinetSizeAt,
                          static_cast<uint32_t>(testsupport::DataRecordOffset(whole, 2) + 4), 4);
    // victim.txt said to run on 1000 bytes and its folder one block more,
    // into the first block of the next folder.
    CabWriterFolder first;
    first.entries = {EntryOf("good.txt", "good entry\n"), EntryOf("victim.txt", std::string(3000, 'v'))};
    CabWriterFolder second;
    second.entries = {EntryOf("next.txt", std::string(1000, 'n'))};
    CabWriterOptions noChecksums;
    noChecksums.checksums = false;
    noChecksums.blockSize = 1000;
    std::string intoTheNextFolder = BuildCabinet({first, second}, noChecksums);
    const std::size_t victim = intoTheNextFolder.find("victim.txt") - 16;  // its CFFILE record
    testsupport::SetField(intoTheNextFolder, victim, 4000, 4);
    testsupport::SetField(intoTheNextFolder,
                          testsupport::FirstFolderRecord(intoTheNextFolder) + testsupport::kFolderBlockCountAt, 5, 2);
    // An MSZIP folder whose record says stored (the checksums do not cover
    // it), with nothing else in the method's field or with more.
    auto saidStored = [](uint16_t compression) {
        std::string cabinet = testsupport::ThreeEntries(true, true);
        testsupport::SetField(cabinet, testsupport::FirstFolderCompressionOffset(cabinet), compression, 2);
        return cabinet;
    };
    std::string unpacksToMore = testsupport::ThreeEntries(false);
    testsupport::SetField(unpacksToMore,
                          testsupport::DataRecordOffset(unpacksToMore, 0) + testsupport::kDataUnpackedSizeAt, 2000, 2);
    // good.txt's folder begins where victim.txt's does.
    const std::string sharedData = testsupport::FoldersSharingData("good entry\n");
    // A 36-byte header with nothing in it, of a version there is none of.
    std::string emptyHeader = "MSCF" + std::string(32, '\0');
    testsupport::SetField(emptyHeader, testsupport::kVersionAt, 0xFFFF, 2);
    testsupport::SetField(emptyHeader, testsupport::kCabinetSizeAt, 1000, 4);
    // victim.txt marked as continued from a previous cabinet, into a next
    // one, or both, in a cabinet that has neither.
    auto marked = [](uint16_t folderIndex) {
        std::string cabinet = testsupport::ThreeEntries(true, true);
        testsupport::SetField(cabinet, cabinet.find("victim.txt") - 16 + testsupport::kFileFolderIndexAt, folderIndex,
                              2);
        return cabinet;
    };
    struct Case {
        const char* what;
        std::string bytes;
        Errc expected;  // Damaged stands for Truncated too
        // libmspack reads past where the folder's data ends, so it is no
        // judge of these.
        bool ourDecodersOnly = false;
    };
    const Case cases[] = {
        {"a flipped byte under a checksum", flipped, Errc::Checksum},
        {"data cut short", whole.substr(0, data + 2000), Errc::Damaged},
        {"no data at all", whole.substr(0, data - 8), Errc::Damaged},
        {"an unknown compression method", unknownMethod, Errc::Unsupported},
        {"an LZX E8 size that overflows libmspack's shift", testsupport::LzxE8SizeOverflowCabinet(), Errc::Damaged},
        {"a block of 0 unpacked bytes inside the cabinet", unpackedZero(1), Errc::Damaged},
        {"a block of 0 unpacked bytes last in a cabinet without a next", unpackedZero(3), Errc::Damaged},
        {"cbCabinet ends inside the data", endsInData, Errc::Damaged, true},
        {"cCFData and an entry running into the next folder's data", intoTheNextFolder, Errc::Damaged, true},
        {"MSZIP data in a folder said to be stored", saidStored(0), Errc::Damaged, true},
        {"MSZIP data in a folder said to be stored, other bits set", saidStored(0x0050), Errc::Damaged, true},
        {"a stored block whose cbUncomp is not its cbData", unpacksToMore, Errc::Damaged, true},
        {"two folders whose data begins at one offset", sharedData, Errc::Damaged, true},
        {"an empty header of an unknown version", emptyHeader, Errc::Damaged},
        {"a record continued from a previous cabinet there is not", marked(0xFFFD), Errc::Damaged},
        {"a record continued into a next cabinet there is not", marked(0xFFFE), Errc::Damaged},
        {"a record continued from and into cabinets there are not", marked(0xFFFF), Errc::Damaged},
    };
    const std::map<std::string, std::string> contents = {
        {"good.txt", "good entry\n"}, {"victim.txt", std::string(3000, 'v')}, {"after.txt", "after\n"}};
    for (const auto& c : cases) {
        for (const bool libmspack : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (libmspack ? ", decoded by libmspack" : ""));
            cabformat::SetNativeDecoding(!libmspack);
            const std::vector<Extracted> extracted =
                libmspack && c.ourDecodersOnly ? std::vector<Extracted>{} : ExtractAll(MemorySet({{"t.cab", c.bytes}}));
            cabformat::SetNativeDecoding(true);
            const auto failed = std::find_if(extracted.begin(), extracted.end(),
                                             [](const Extracted& entry) { return entry.result != Errc::Ok; });
            if (extracted.empty() || failed == extracted.end()) {
                EXPECT_TRUE(libmspack && c.ourDecodersOnly) << "no entry failed";
                continue;
            }
            EXPECT_EQ(failed->result == Errc::Truncated ? Errc::Damaged : failed->result, c.expected);
            for (auto entry = extracted.begin(); entry != failed; ++entry) {
                EXPECT_EQ(entry->bytes, contents.at(entry->name)) << "an entry before the damage";
            }
        }
    }
}

// LZX and Quantum folders decode on the engine's decoder thread, held to
// the block rules MSZIP is: each block one 32 KB frame (the last one less),
// a stream that decodes otherwise is damage. libmspack, entry by entry, is
// the judge of the bytes where it decodes them.
TEST(CabinetEngine, LzxFoldersKeepTheBlockRules) {
    using testsupport::EntryOf;
    CabWriterFolder folder;
    folder.lzx = true;
    folder.entries = {EntryOf("first.bin", testsupport::PseudoRandomBytes(70000, 1)),
                      EntryOf("second.txt", std::string(40001, 's')), EntryOf("empty", ""),
                      EntryOf("third.bin", testsupport::PseudoRandomBytes(5000, 2))};
    CabWriterFolder second;
    second.mszip = true;
    second.entries = {EntryOf("after.txt", "after the LZX folder\n")};
    const std::string whole = BuildCabinet({folder, second});
    // The same stream said to be Quantum, with the same window (the
    // folder record is under no checksum).
    std::string saidQuantum = whole;
    testsupport::SetField(saidQuantum, testsupport::FirstFolderCompressionOffset(saidQuantum), 2 | 21 << 8, 2);
    // Block 0 said to unpack to less than its frame (no checksum to catch it first).
    CabWriterOptions unsummed;
    unsummed.checksums = false;
    std::string shortFrame = BuildCabinet({folder, second}, unsummed);
    testsupport::SetField(shortFrame, testsupport::DataRecordOffset(shortFrame, 0) + testsupport::kDataUnpackedSizeAt,
                          30000, 2);
    // Records in the data's order reversed: each folder still decoded once,
    // the bytes passed kept for the records after.
    CabWriterOptions reversed;
    reversed.recordOrder = {4, 3, 2, 1, 0};
    const std::string backwards = BuildCabinet({folder, second}, reversed);
    struct Case {
        const char* what;
        std::string bytes;
        std::size_t firstFailed;  // in cabinet order; 5: none
        bool ourDecodersOnly = false;
    };
    const Case cases[] = {
        {"whole", whole, 5},
        {"records in reverse", backwards, 5},
        {"LZX data in a folder said to be Quantum", saidQuantum, 0, true},
        {"a block that does not unpack to its 32 KB frame", shortFrame, 0, true},
    };
    for (const Case& c : cases) {
        for (const bool libmspack : {false, true}) {
            if (libmspack && c.ourDecodersOnly) {
                continue;
            }
            SCOPED_TRACE(std::string(c.what) + (libmspack ? ", decoded by libmspack" : ""));
            cabformat::SetNativeDecoding(!libmspack);
            const std::vector<Extracted> extracted = ExtractAll(MemorySet({{"t.cab", c.bytes}}));
            cabformat::SetNativeDecoding(true);
            ASSERT_EQ(extracted.size(), 5u);
            for (const Extracted& entry : extracted) {
                const auto stored =
                    std::find_if(folder.entries.begin(), folder.entries.end(),
                                 [&](const testsupport::CabWriterEntry& e) { return e.name == entry.name; });
                const std::string expected = stored != folder.entries.end() ? stored->bytes : "after the LZX folder\n";
                const bool inLzx = stored != folder.entries.end();
                if (c.firstFailed == 5 || !inLzx || (entry.name == "empty")) {
                    EXPECT_EQ(entry.result, Errc::Ok) << entry.name;
                    EXPECT_EQ(entry.bytes, expected) << entry.name;
                } else {
                    EXPECT_EQ(entry.result == Errc::Truncated ? Errc::Damaged : entry.result, Errc::Damaged)
                        << entry.name;
                }
            }
        }
    }
}

// A cabinet's file records are read again for each pass over them, a
// window at a time: a pass hands out the records the header was read
// with, or fails at the first window that holds others.
TEST(CabinetEngine, FileRecordsChangedSinceTheHeaderWasReadAreDamage) {
    CabWriterFolder folder;
    for (int i = 0; i < 600; ++i) {  // about 30 KB of records: two windows
        folder.entries.push_back(testsupport::EntryOf("sub\\an-entry-with-a-longer-name-" + std::to_string(i), "x"));
    }
    const std::string cabinet = BuildCabinet({folder});
    struct Case {
        const char* what;
        std::size_t changed;  // the byte flipped after the header was read
        Errc expected;
        std::size_t fewest, most;  // records handed out before the failure
    };
    const Case cases[] = {
        {"nothing changed", std::string::npos, Errc::Ok, 600, 600},
        {"a name in the first window", cabinet.find("name-0"), Errc::Damaged, 0, 0},
        {"a name in the last window", cabinet.find("name-599"), Errc::Damaged, 1, 599},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MemorySet host({{"t.cab", cabinet}});
        cabformat::CabinetSet set(host);
        set.openFirst(host.source("t.cab"), "t.cab");
        if (c.changed != std::string::npos) {
            host.cabinets["t.cab"][c.changed] ^= 0x20;
        }
        std::vector<std::string> names;
        Errc result = Errc::Ok;
        try {
            for (const cabformat::FileRecord& file : set.part(0).header.files) {
                names.emplace_back(file.name);
            }
        } catch (const cabformat::Failure& failure) {
            result = failure.error.code;
        }
        EXPECT_EQ(result, c.expected);
        EXPECT_GE(names.size(), c.fewest);
        EXPECT_LE(names.size(), c.most);
        for (std::size_t i = 0; i < names.size(); ++i) {
            EXPECT_EQ(names[i], folder.entries[i].name);
        }
    }
}

// Three cabinets. Folder 0 runs through all three: A lies in the first, B
// crosses into the second, C begins and ends in the second (a file that
// begins inside a continued folder, which libmspack's merge drops), D
// crosses into the third. Folder 1 begins in the third and holds E.
//
// Where a folder crosses from one cabinet to the next: after a split block
// (whose first piece unpacks to 0 bytes) or after a whole block. A block of
// 0 unpacked bytes anywhere else is damage: the entries before it come out
// whole, the one that needs it fails, and the walk goes on past it.
TEST(CabinetEngine, AFolderGoesOnAfterASplitOrAWholeBlockAndNowhereElseSplits) {
    std::vector<CabWriterFolder> folders(2);
    uint32_t seed = 1;
    for (const auto& [name, size] : std::vector<std::pair<std::string, std::size_t>>{
             {"A.txt", 1500}, {"B.txt", 1500}, {"sub\\C.txt", 1000}, {"D.txt", 2000}, {"E.txt", 1500}}) {
        folders[name == "E.txt"].entries.push_back(
            testsupport::EntryOf(name, testsupport::PseudoRandomBytes(size, seed++)));
    }
    CabWriterOptions options;
    options.blockSize = 1000;
    options.cabinetNames = {"part1.cab", "part2.cab", "part3.cab"};
    options.checksums = false;  // a checksum would catch the damage first
    auto unpackedZero = [](std::size_t part, std::size_t record) {
        return [part, record](std::vector<std::string>& cabinets) {
            std::string& cabinet = cabinets[part];
            testsupport::SetField(
                cabinet, testsupport::DataRecordOffset(cabinet, record) + testsupport::kDataUnpackedSizeAt, 0, 2);
        };
    };
    // A record of part 2 or 3 marked as continued though nothing before it
    // stands for it: its data lies in its folder all the same, unless the
    // mark names a cabinet there is not.
    auto marked = [](std::size_t part, const std::string& name, uint16_t mark) {
        return [part, name, mark](std::vector<std::string>& cabinets) {
            std::string& cabinet = cabinets[part];
            testsupport::SetField(cabinet, cabinet.find(name + '\0') - 16 + testsupport::kFileFolderIndexAt, mark, 2);
        };
    };
    struct Case {
        const char* what;
        std::vector<std::size_t> startsAt;
        bool mszip;
        std::function<void(std::vector<std::string>&)> damage;
        std::vector<Errc> results;  // A, B, sub\C, D, E
    };
    const std::vector<Errc> whole(5, Errc::Ok);
    const Case cases[] = {
        {"split blocks; an entry begins in a later cabinet of the folder", {2500, 5500}, false, nullptr, whole},
        {"whole blocks, stored", {2000, 5000}, false, nullptr, whole},
        {"whole blocks, MSZIP", {2000, 5000}, true, nullptr, whole},
        {"no folder crosses a boundary: the second cabinet begins with folder 1", {6000}, false, nullptr, whole},
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
        {"an entry of a continued folder marked 0xFFFD that no record before it stands for",
         {2500, 5500},
         true,
         marked(1, "sub\\C.txt", 0xFFFD),
         whole},
        {"the last cabinet's own folder's entry marked 0xFFFF, continued into no cabinet",
         {6000},
         true,
         marked(1, "E.txt", 0xFFFF),
         {Errc::Ok, Errc::Ok, Errc::Ok, Errc::Ok, Errc::Damaged}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        options.cabinetStartsAt = c.startsAt;
        for (auto& folder : folders) {
            folder.mszip = c.mszip;
        }
        std::vector<std::string> cabinets = testsupport::BuildCabinetSet(folders, options);
        if (c.damage) {
            c.damage(cabinets);
        }
        MemorySet host({});
        for (std::size_t i = 0; i < cabinets.size(); ++i) {
            host.cabinets[options.cabinetNames[i]] = cabinets[i];
        }
        std::vector<Extracted> expected;
        for (std::size_t i = 0; i < c.results.size(); ++i) {
            const auto& stored = i < 4 ? folders[0].entries[i] : folders[1].entries[0];
            expected.push_back({stored.name, c.results[i], c.results[i] == Errc::Ok ? stored.bytes : ""});
        }
        EXPECT_TRUE(ExtractAll(std::move(host), "part1.cab") == expected);
    }
}

}  // namespace
