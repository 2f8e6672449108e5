// SPDX-License-Identifier: MIT
// The path routines: completing and splitting paths, making folder trees.
#include "cabinet/paths.h"
#include "platform/runtime.h"
#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

using namespace cabinet;
using testsupport::WinePrefix;
namespace fs = std::filesystem;

namespace {

TEST(Paths, AddBackslashAndSplitPath) {
    struct Case {
        std::u16string path, folder, file;
    };
    const Case splits[] = {
        {u"Data\\Maps\\map01.dat", u"Data\\Maps\\", u"map01.dat"},
        {u"map01.dat", u"", u"map01.dat"},
        {u"C:\\", u"C:\\", u""},
        {u"\\a.cab", u"\\", u"a.cab"},
        {u"", u"", u""},
        {u"dir/with/slashes.txt", u"", u"dir/with/slashes.txt"},
    };
    for (const auto& c : splits) {
        SCOPED_TRACE(platform::TextToUtf8(c.path));
        std::u16string folder = u"junk", file = u"junk";
        paths::SplitPath(c.path, folder, file);
        EXPECT_EQ(folder, c.folder);
        EXPECT_EQ(file, c.file);
    }
    EXPECT_EQ(paths::AddBackslash(u""), u"\\");
    EXPECT_EQ(paths::AddBackslash(u"C:\\"), u"C:\\");
    EXPECT_EQ(paths::AddBackslash(u"C:\\Games"), u"C:\\Games\\");
}

class DirectoryTreeTest : public ::testing::Test {
protected:
    WinePrefix prefix;
};

TEST_F(DirectoryTreeTest, CreatesEveryMissingLevel) {
    fs::create_directories(prefix.driveC() / "A");
    testsupport::WriteFile(prefix.driveC() / "file", "x");
    struct Case {
        const char* what;
        std::u16string folder;
        bool exists;
        std::u16string afterCall;
        const char* created;  // relative to drive C, or nullptr
    };
    const Case cases[] = {
        {"two missing levels", u"C:\\A\\B\\C", true, u"C:\\A\\B\\C", "A/B/C"},
        {"trailing separator is dropped", u"C:\\A\\D\\", true, u"C:\\A\\D", "A/D"},
        {"existing folder", u"C:\\A", true, u"C:\\A", "A"},
        {"a file counts as there", u"C:\\file", true, u"C:\\file", nullptr},
        {"many levels from the drive root", u"C:\\x\\y\\z\\w", true, u"C:\\x\\y\\z\\w", "x/y/z/w"},
        {"unmapped drive", u"Q:\\a\\b", false, u"Q:\\a\\b", nullptr},
        {"below a file", u"C:\\file\\sub", false, u"C:\\file\\sub", nullptr},
        {"empty", u"", false, u"", nullptr},
        {"separator alone", u"\\", false, u"", nullptr},
        {"network path", u"\\\\server\\share\\x", false, u"\\\\server\\share\\x", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::u16string folder = c.folder;
        EXPECT_EQ(paths::MakeDirectoryTree(folder), c.exists);
        EXPECT_EQ(folder, c.afterCall);
        if (c.created != nullptr) {
            EXPECT_TRUE(fs::is_directory(prefix.driveC() / c.created));
        }
    }
}

TEST_F(DirectoryTreeTest, RootedPathsUseTheCurrentDrive) {
    if (testsupport::kFixtureFoldersOnAnotherDrive.applies) {
        GTEST_SKIP() << testsupport::kFixtureFoldersOnAnotherDrive.why;
    }
    const fs::path previous = fs::current_path();
    fs::current_path(prefix.driveC());
    std::u16string folder = u"\\rooted\\deeper";
    const bool made = paths::MakeDirectoryTree(folder);
    fs::current_path(previous);
    EXPECT_TRUE(made);
    EXPECT_TRUE(fs::is_directory(prefix.driveC() / "rooted" / "deeper"));
}

}  // namespace
