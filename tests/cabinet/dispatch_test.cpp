// SPDX-License-Identifier: MIT
// The Callback module's handler and CabFile's dispatcher, fed records
// directly: answers, events and the cases a real cabinet cannot produce.
#include "cabinet/cab_file.h"
#include "cabinet/callback.h"
#include "platform/runtime.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace cabinet;

namespace {

platform::FILE_IN_CABINET_INFO_A Entry(const char* name) {
    platform::FILE_IN_CABINET_INFO_A info{};
    info.NameInCabinet = name;
    info.FileSize = 42;
    info.DosDate = 0x2AEE;
    info.DosTime = 0x7A85;
    return info;
}

uint32_t Notify(Callback::WalkContext& walk, uint32_t notification, const void* param1, uintptr_t param2 = 0) {
    return Callback::CabFileCallback(&walk, notification, reinterpret_cast<uintptr_t>(param1), param2);
}

// A registered object and the record of an extraction walk of it.
class Dispatch : public ::testing::Test {
protected:
    void SetUp() override { Callback::SetActiveCabFile(cab); }

    std::shared_ptr<CabFile> cab = CabFile::Create();
    Callback::WalkContext walk{cab.get(), IterationMode::ModeExtract, nullptr, {}};
};

TEST_F(Dispatch, FileExtractedRaisesAfterExtractOnlyWithoutError) {
    std::vector<std::u16string> after;
    cab->AfterExtract.Subscribe([&](const std::u16string& path) { after.push_back(path); });

    platform::FILEPATHS_A written{"C:\\Out\\a.txt", "D:\\Install\\Game1.cab", 0, 0};
    EXPECT_EQ(Notify(walk, platform::SPFILENOTIFY_FILEEXTRACTED, &written), 0u);
    platform::FILEPATHS_A denied{"C:\\Out\\b.txt", "D:\\Install\\Game1.cab", 5, 0};
    EXPECT_EQ(Notify(walk, platform::SPFILENOTIFY_FILEEXTRACTED, &denied), 5u);
    EXPECT_EQ(after, (std::vector<std::u16string>{u"C:\\Out\\a.txt"}));
}

TEST_F(Dispatch, OtherNotificationsAreAnsweredZeroAndWriteNothing) {
    platform::CABINET_INFO_A info{"D:\\Install\\", "Game7.cab", "", 1, 1};
    char newPath[platform::MAX_PATH];
    std::memset(newPath, 'X', sizeof newPath);
    for (uint32_t notification : {platform::SPFILENOTIFY_CABINETINFO, platform::SPFILENOTIFY_NEEDNEWCABINET, 0x99u}) {
        EXPECT_EQ(Notify(walk, notification, &info, reinterpret_cast<uintptr_t>(newPath)), 0u) << notification;
    }
    EXPECT_EQ(std::string(newPath, sizeof newPath), std::string(sizeof newPath, 'X'));
}

TEST_F(Dispatch, AnswersPerModeAndLookUp) {
    struct Case {
        const char* what;
        IterationMode mode;
        std::u16string lookUp;  // set through the operation that uses the mode
        const char* name;
        uint32_t answer;
    };
    const Case cases[] = {
        {"count skips", IterationMode::ModeCount, u"", "sub\\b.txt", platform::FILEOP_SKIP},
        {"info, every entry", IterationMode::ModeInfo, u"", "sub\\b.txt", platform::FILEOP_SKIP},
        {"info, matched full name ends the walk", IterationMode::ModeInfo, u"SUB\\B.TXT", "sub\\b.txt",
         platform::FILEOP_ABORT},
        {"info, last part does not match", IterationMode::ModeInfo, u"b.txt", "sub\\b.txt", platform::FILEOP_SKIP},
        {"xml, every entry", IterationMode::ModeXml, u"", "sub\\b.txt", platform::FILEOP_SKIP},
        {"xml, matched last part ends the walk", IterationMode::ModeXml, u"B.TXT", "sub\\b.txt",
         platform::FILEOP_ABORT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto looking = CabFile::Create();
        // Store the look-up the way the operation does: a walk of a missing
        // cabinet stores it and then fails.
        looking->SetCabName(u"Q:\\missing.cab");
        try {
            if (c.mode == IterationMode::ModeInfo) {
                looking->GetInfo(c.lookUp);
            } else if (c.mode == IterationMode::ModeXml) {
                looking->GetXML(c.lookUp);
            }
        } catch (const platform::RaisedError&) {
        }
        Callback::WalkContext lookUp{looking.get(), c.mode, nullptr, {}};
        auto info = Entry(c.name);
        EXPECT_EQ(Notify(lookUp, platform::SPFILENOTIFY_FILEINCABINET, &info), c.answer);
    }
}

TEST_F(Dispatch, UnknownModesEndTheWalkAndNoObjectMeansZero) {
    auto info = Entry("a.txt");
    Callback::WalkContext unknown{cab.get(), static_cast<IterationMode>(7), nullptr, {}};
    EXPECT_EQ(Notify(unknown, platform::SPFILENOTIFY_FILEINCABINET, &info), platform::FILEOP_ABORT);
    Callback::WalkContext withoutObject{};
    EXPECT_EQ(Notify(withoutObject, platform::SPFILENOTIFY_FILEINCABINET, &info), 0u);
    Callback::WalkContext count{cab.get(), IterationMode::ModeCount, nullptr, {}};
    Callback::SetActiveCabFile(nullptr);
    EXPECT_EQ(Notify(count, platform::SPFILENOTIFY_FILEINCABINET, &info), 0u);
}

TEST_F(Dispatch, ARaisedErrorIsParkedInItsWalksRecordAndTheWalkEnded) {
    Callback::WalkContext otherWalk{cab.get(), IterationMode::ModeCount, nullptr, {}};
    cab->AfterExtract.Subscribe(
        [](const std::u16string&) { throw platform::RaisedError(61, u"Listener", u"Disk full"); });
    platform::FILEPATHS_A written{"C:\\Out\\a.txt", "D:\\Install\\Game1.cab", 0, 0};
    EXPECT_NE(Notify(walk, platform::SPFILENOTIFY_FILEEXTRACTED, &written), 0u);
    // A service that goes on regardless is told to stop again; another walk
    // is not touched.
    auto info = Entry("b.txt");
    EXPECT_EQ(Notify(walk, platform::SPFILENOTIFY_FILEINCABINET, &info), platform::FILEOP_ABORT);
    EXPECT_EQ(Notify(otherWalk, platform::SPFILENOTIFY_FILEINCABINET, &info), platform::FILEOP_SKIP);
    EXPECT_FALSE(otherWalk.parkedError);
    EXPECT_TRUE(walk.parkedError);  // for the operation to raise once the service returns
}

}  // namespace
