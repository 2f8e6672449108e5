// SPDX-License-Identifier: MIT
// Drive paths: their rules over a made-up disk, and on a temporary Wine
// prefix how they map to host paths and back, case-insensitive look-ups,
// what a walk remembers, and creating one directory level.
#include "platform/drives.h"
#include "platform/kernel.h"
#include "platform/posix/drive_letters.h"
#include "platform/posix/drive_paths.h"
#include "platform/posix/host_io.h"
#include "platform/posix/walk_memory.h"
#include "platform/runtime.h"
#include "platform/walk.h"
#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <map>
#include <set>
#include <sys/stat.h>

using namespace platform;

namespace {

constexpr uint32_t kSentinel = 0xDEADBEEF;

class DrivesTest : public ::testing::Test {
protected:
    testsupport::WinePrefix prefix;
};

// A disk made up for the rules: drive roots, a current directory, and the
// host paths that exist, looked up as the real disk is (exact name first,
// else the first in sorted order that differs only in case).
class MadeUpDisk final : public HostDirectories {
public:
    std::map<char, std::string> roots{{'c', "/p/drive_c"}, {'d', "/media/cd"}, {'z', "/"}};
    std::string current = "/p/drive_c/Games";
    std::set<std::string> paths{"/p/drive_c/Games",
                                "/p/drive_c/Program Files",
                                "/media/cd/Install",
                                "/media/cd/Install/GAME1.CAB",
                                "/media/cd/Install/game1.cab.bak",
                                "/media/cd/README",
                                "/media/cd/ReadMe",
                                "/media/cd/readme.txt",
                                "/tmp"};

    std::optional<std::string> driveRoot(char drive) override {
        const auto found = roots.find(drive);
        return found == roots.end() ? std::nullopt : std::optional(found->second);
    }
    std::optional<std::string> currentDriveRoot() override { return roots.at('c'); }
    std::string currentDirectory() override { return current; }
    FoundName find(const std::string& directory, const std::string& name) override {
        const std::string exact = directory == "/" ? "/" + name : directory + "/" + name;
        if (paths.contains(exact)) {
            return {exact, true};
        }
        for (const std::string& path : paths) {  // sorted
            if (path.size() > directory.size() && path.starts_with(directory) && ParentDirectory(path) == directory &&
                FoldTextCase(Utf8ToText(LastComponent(path))) == FoldTextCase(Utf8ToText(name))) {
                return {path, true};
            }
        }
        return {exact, false};
    }
};

// The rules of a drive path, on Windows and as Wine keeps them, over the
// made-up disk: where it starts, how it is normalised, how names are found,
// and what cannot be a drive path.
TEST(DrivePathRules, ResolveAsWindowsAndWineDo) {
    struct Case {
        const char* what;
        std::string dos;
        std::string host;  // empty: fails with `error`
        bool everyLevelExists = false;
        uint32_t error = NO_ERROR;
    };
    const Case cases[] = {
        {"backslashes", "C:\\Ostmere\\Varnholt\\", "/p/drive_c/Ostmere/Varnholt"},
        {"forward slashes and a lower-case letter", "c:/Games/b.txt", "/p/drive_c/Games/b.txt"},
        {"drive root", "C:\\", "/p/drive_c", true},
        {"a drive without a separator is its root", "D:", "/media/cd", true},
        {"doubled separators collapse", "C:\\Games\\\\b", "/p/drive_c/Games/b"},
        {"dot and dot-dot", "C:\\Games\\.\\x\\..", "/p/drive_c/Games", true},
        {"dot-dot never leaves the drive", "C:\\..\\..\\etc\\passwd", "/p/drive_c/etc/passwd"},
        {"names found in another case", "D:\\install\\game1.cab", "/media/cd/Install/GAME1.CAB", true},
        {"an exact name wins over another case", "D:\\ReadMe", "/media/cd/ReadMe", true},
        {"else the first in sorted order", "D:\\readme", "/media/cd/README", true},
        {"a name is matched whole, not by its start", "D:\\Install\\game1", "/media/cd/Install/game1"},
        {"missing names keep their case", "D:\\Install\\New\\X.dat", "/media/cd/Install/New/X.dat"},
        {"spaces are part of a name", "C:\\PROGRAM FILES", "/p/drive_c/Program Files", true},
        {"ANSI bytes become UTF-8", "C:\\caf\xe9", "/p/drive_c/caf\xc3\xa9"},
        {"Z: is the host's root", "Z:\\TMP", "/tmp", true},
        {"a rooted path is on the current drive", "\\Games\\x", "/p/drive_c/Games/x"},
        {"a relative path is in the current directory", "sub\\x", "/p/drive_c/Games/sub/x"},
        {"unmapped drive", "Q:\\x", "", false, ERROR_PATH_NOT_FOUND},
        {"empty path", "", "", false, ERROR_PATH_NOT_FOUND},
        {"network path", "\\\\server\\share\\x", "", false, ERROR_PATH_NOT_FOUND},
        {"network path with forward slashes", "//server/share", "", false, ERROR_PATH_NOT_FOUND},
        {"doubled colon", "D::\\Install\\Game1.cab", "", false, ERROR_INVALID_NAME},
        {"a colon inside a name", "C:\\a:b", "", false, ERROR_INVALID_NAME},
        {"wildcard", "C:\\a*b", "", false, ERROR_INVALID_NAME},
        {"substituted character", "C:\\?mega", "", false, ERROR_INVALID_NAME},
        {"control character", "C:\\a\tb", "", false, ERROR_INVALID_NAME},
        {"pipe, quote and angle brackets", "C:\\a|b\"<>", "", false, ERROR_INVALID_NAME},
    };
    MadeUpDisk disk;
    for (const auto& item : cases) {
        SCOPED_TRACE(item.what);
        const Resolution resolution = ResolveDrivePath(item.dos, disk);
        EXPECT_EQ(resolution.error, item.error);
        EXPECT_EQ(resolution.host, item.host);
        EXPECT_EQ(resolution.everyLevelExists, item.everyLevelExists);
    }
}

// The same rules over the real disk, through a prefix's dosdevices.
TEST_F(DrivesTest, ResolvesDrivePathsThroughTheDosDevices) {
    prefix.mapDrive('d', prefix.root() / "cd");
    testsupport::WriteFile(prefix.root() / "cd" / "Install" / "GAME1.CAB", "x");
    const std::string c = (prefix.root() / "dosdevices" / "c:").string();
    const std::string d = (prefix.root() / "dosdevices" / "d:").string();
    struct Case {
        const char* what;
        std::string dos;
        std::string host;
    };
    const Case cases[] = {
        {"drive root", "C:\\", c},
        {"case-insensitive lookup of existing names", "D:\\install\\game1.cab", d + "/Install/GAME1.CAB"},
        {"missing names keep their case", "D:\\Install\\New\\X.dat", d + "/Install/New/X.dat"},
        {"Z: falls back to the root", "Z:\\tmp", "/tmp"},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.what);
        uint32_t error = kSentinel;
        EXPECT_EQ(DosPathToHostPath(item.dos, &error).value_or("none"), item.host);
    }
    uint32_t error = kSentinel;
    EXPECT_FALSE(DosPathToHostPath("Q:\\x", &error).has_value());
    EXPECT_EQ(error, ERROR_PATH_NOT_FOUND);
}

TEST_F(DrivesTest, HostPathsTakeTheDriveThatHoldsThem) {
    testsupport::TempDir outside;
    EXPECT_EQ(HostPathToDosPath((prefix.driveC() / "Games" / "x.dat").string()), "C:\\Games\\x.dat");
    EXPECT_EQ(HostPathToDosPath(prefix.driveC().string()), "C:\\");
    const std::string dos = HostPathToDosPath((outside / "a").string());
    EXPECT_EQ(dos.substr(0, 3), "Z:\\");
    uint32_t error = 0;
    const auto back = DosPathToHostPath(dos, &error);
    ASSERT_TRUE(back.has_value());
    EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::path(*back).parent_path(), outside.path()));
}

TEST_F(DrivesTest, CaseInsensitiveLookUpsSeeEveryChangeToAFolder) {
    const std::filesystem::path folder = prefix.driveC() / "dir";
    std::filesystem::create_directories(folder);
    uint32_t error = 0;
    EXPECT_EQ(*DosPathToHostPath("C:\\dir\\new.txt", &error), (prefix.root() / "dosdevices/c:/dir/new.txt").string());

    // Another program adds the name in another case: the folder's time moves
    // on (set here, so that no clock tick decides), and the look-up sees it.
    testsupport::WriteFile(folder / "NEW.TXT", "x");
    const timespec times[2] = {{978307200, 0}, {978307200, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, folder.c_str(), times, 0), 0);
    EXPECT_EQ(*DosPathToHostPath("C:\\dir\\new.txt", &error), (prefix.root() / "dosdevices/c:/dir/NEW.TXT").string());

    // What this process creates is seen at once.
    ASSERT_EQ(CreateDirectoryLevel("C:\\dir\\Made"), DirectoryOutcome::Created);
    EXPECT_EQ(*DosPathToHostPath("C:\\DIR\\made\\", &error), (prefix.root() / "dosdevices/c:/dir/Made").string());
}

TEST_F(DrivesTest, InsideAnExactFolderOnlyTheNameGivenIsFound) {
    testsupport::WriteFile(prefix.driveC() / "out" / "Sub" / "README", "x");
    testsupport::WriteFile(prefix.driveC() / "cd" / "GAME.CAB", "x");
    const std::string c = (prefix.root() / "dosdevices" / "c:").string();
    LookUpNamesExactlyIn("C:\\out");
    struct Case {
        const char* what;
        std::string dos;
        std::string host;
    };
    const Case cases[] = {
        {"a name in another case is another name", "C:\\out\\Sub\\readme", c + "/out/Sub/readme"},
        {"so is a folder", "C:\\out\\sub\\README", c + "/out/sub/README"},
        {"the exact name is found", "C:\\out\\Sub\\README", c + "/out/Sub/README"},
        {"the folder itself is found as before", "C:\\OUT\\Sub", c + "/out/Sub"},
        {"outside it, names fold case as before", "C:\\CD\\game.cab", c + "/cd/GAME.CAB"},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.what);
        uint32_t error = kSentinel;
        EXPECT_EQ(DosPathToHostPath(item.dos, &error).value_or("none"), item.host);
    }
    LookUpNamesExactlyIn("");
    uint32_t error = kSentinel;
    EXPECT_EQ(*DosPathToHostPath("C:\\out\\sub\\readme", &error), c + "/out/Sub/README");
}

TEST_F(DrivesTest, InsideAWalkLookUpsFollowWhatTheWalkMakes) {
    const std::string c = (prefix.root() / "dosdevices" / "c:").string();
    std::filesystem::create_directories(prefix.driveC() / "out");
    uint32_t error = 0;
    {
        WalkMemory walk;
        // A folder not made yet is not remembered, so the folder made next,
        // in another case, is where the same drive path leads.
        EXPECT_EQ(*DosPathToHostPath("C:\\out\\A\\x.txt", &error), c + "/out/A/x.txt");
        ASSERT_EQ(CreateDirectoryLevel("C:\\out\\a"), DirectoryOutcome::Created);
        EXPECT_EQ(*DosPathToHostPath("C:\\out\\A\\x.txt", &error), c + "/out/a/x.txt");
        ASSERT_EQ(CreateDirectoryLevel("C:\\OUT\\A\\Sub"), DirectoryOutcome::Created);
        EXPECT_EQ(*DosPathToHostPath("C:\\out\\a\\SUB\\y.txt", &error), c + "/out/a/Sub/y.txt");
        // A name written into a made folder is found again in any case, by
        // any spelling of the folder.
        testsupport::WriteFile(prefix.driveC() / "out" / "a" / "Sub" / "y.txt", "x");
        walk.noteMade(c + "/out/a/Sub/y.txt");
        EXPECT_EQ(*DosPathToHostPath("C:\\out\\a\\Sub\\Y.TXT", &error), c + "/out/a/Sub/y.txt");
        EXPECT_EQ(*DosPathToHostPath("C:\\OUT\\A\\sub\\y.Txt", &error), c + "/out/a/Sub/y.txt");
        // Other separators and "." or ".." lead to the same folder.
        EXPECT_EQ(*DosPathToHostPath("C:/out/a/Sub/Y.TXT", &error), c + "/out/a/Sub/y.txt");
        EXPECT_EQ(*DosPathToHostPath("C:\\out\\.\\a\\x\\..\\Sub\\Y.TXT", &error), c + "/out/a/Sub/y.txt");
        // Past its bound the walk forgets what it made, and finds it on the disk.
        for (std::size_t i = 0; i <= kWalkMemoryMarks; ++i) {
            walk.noteMade(c + "/elsewhere/" + std::to_string(i));
        }
        EXPECT_EQ(*DosPathToHostPath("C:\\OUT\\A\\Sub\\Y.TXT", &error), c + "/out/a/Sub/y.txt");  // as made

        // What another program adds to a directory the walk has looked at is
        // not seen while the walk lasts...
        testsupport::WriteFile(prefix.driveC() / "out" / "a" / "NEW.TXT", "x");
        EXPECT_EQ(*DosPathToHostPath("C:\\out\\a\\new.txt", &error), c + "/out/a/new.txt");
    }
    // ...and is once it has ended.
    EXPECT_EQ(*DosPathToHostPath("C:\\out\\a\\new.txt", &error), c + "/out/a/NEW.TXT");
}

// The directories a walk's handlers note: every one they were told of, no
// other, and still right after the memory started afresh at its bound;
// nothing outside a walk.
TEST(WalkMemory, HoldsExactlyTheDirectoriesNotedAcrossTheBound) {
    auto name = [](std::size_t i) { return u"C:\\Out\\" + Utf8ToText(std::to_string(i)); };
    NoteWalkDirectory(name(0));
    EXPECT_FALSE(WalkHasDirectory(name(0)));
    const WalkMemory walk;
    const std::size_t count = kWalkMemoryMarks + 100;
    for (std::size_t i = 0; i < count; ++i) {
        ASSERT_FALSE(WalkHasDirectory(name(i))) << i;
        NoteWalkDirectory(name(i));
        ASSERT_TRUE(WalkHasDirectory(name(i))) << i;
    }
    EXPECT_FALSE(WalkHasDirectory(u"C:\\out\\1"));  // the text as written: another case is another directory
    EXPECT_FALSE(WalkHasDirectory(u"C:\\Out\\" + Utf8ToText(std::to_string(count))));
}

TEST_F(DrivesTest, CreatingOneLevelReportsFourOutcomes) {
    testsupport::WriteFile(prefix.driveC() / "file", "x");
    std::filesystem::create_directories(prefix.driveC() / "there");
    struct Case {
        const char* what;
        const char* path;
        DirectoryOutcome outcome;
    };
    const Case cases[] = {
        {"new folder", "C:\\new", DirectoryOutcome::Created},
        {"existing folder", "C:\\there", DirectoryOutcome::Exists},
        {"existing file", "C:\\file", DirectoryOutcome::Exists},
        {"drive root", "C:\\", DirectoryOutcome::Exists},
        {"missing parent", "C:\\a\\b", DirectoryOutcome::ParentMissing},
        {"parent is a file", "C:\\file\\b", DirectoryOutcome::ParentMissing},
        {"unmapped drive", "Q:\\a", DirectoryOutcome::ParentMissing},
        {"empty name", "", DirectoryOutcome::ParentMissing},
        {"bad name", "C:\\a|b", DirectoryOutcome::Other},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(CreateDirectoryLevel(c.path), c.outcome);
    }
    EXPECT_TRUE(std::filesystem::is_directory(prefix.driveC() / "new"));
}

// The letters Wine implies where a prefix has no entry, over mount tables
// given as text in /proc/self/mountinfo's format.
TEST(ImpliedDrives, FollowTheMountTableAsWinesMountManagerDoes) {
    const auto line = [](const std::string& point, const std::string& type) {
        return "36 25 0:33 / " + point + " ro,relatime shared:1 - " + type + " /dev/x ro\n";
    };
    const std::string root = "22 1 254:0 / / rw - ext4 /dev/vda rw\n";
    using Drives = std::vector<ImpliedDrive>;
    struct Case {
        const char* what;
        std::map<char, std::string> entries;
        std::string mountinfo;
        Drives drives;
    };
    const Case cases[] = {
        {"no prefix, no disc: C: is drive_c", {}, root, {{'c', "/p/drive_c"}}},
        {"an ISO 9660 disc takes D:",
         {},
         root + line("/media/cd", "iso9660"),
         {{'c', "/p/drive_c"}, {'d', "/media/cd"}}},
        {"discs take the free letters in table order",
         {{'c', "/p/drive_c"}},
         line("/m/one", "udf") + root + line("/m/two", "fuse.fuseiso") + line("/m/three", "iso9660"),
         {{'d', "/m/one"}, {'e', "/m/two"}, {'f', "/m/three"}}},
        {"a taken letter is passed over, a dangling entry takes its letter too",
         {{'c', "/p/drive_c"}, {'d', "/srv/copy"}, {'e', ""}},
         line("/media/cd", "iso9660"),
         {{'f', "/media/cd"}}},
        {"a disc an entry already leads to takes no second letter",
         {{'c', "/p/drive_c"}, {'d', "/media/cd"}},
         line("/media/cd", "iso9660") + line("/media/dvd", "udf"),
         {{'e', "/media/dvd"}}},
        {"the same disc mounted twice at one place is one drive",
         {{'c', "/c"}},
         line("/cd", "iso9660") + line("/cd", "iso9660"),
         {{'d', "/cd"}}},
        {"other file systems, FUSE ones included, are no discs",
         {{'c', "/c"}},
         line("/mnt/usb", "vfat") + line("/mnt/sshfs", "fuse.sshfs") + line("/mnt/img", "squashfs"),
         {}},
        {"escaped spaces in a mount point",
         {{'c', "/c"}},
         line("/media/My\\040Disc", "iso9660"),
         {{'d', "/media/My Disc"}}},
        {"a line without its separator is skipped", {{'c', "/c"}}, "36 25 0:33 / /cd ro iso9660\n", {}},
        {"past Y: no letter is left, and Z: is never given",
         {{'c', "/c"}, {'d', "/d"}, {'e', "/e"}, {'f', "/f"}, {'g', "/g"}, {'h', "/h"}, {'i', "/i"}, {'j', "/j"},
          {'k', "/k"}, {'l', "/l"}, {'m', "/m"}, {'n', "/n"}, {'o', "/o"}, {'p', "/p"}, {'q', "/q"}, {'r', "/r"},
          {'s', "/s"}, {'t', "/t"}, {'u', "/u"}, {'v', "/v"}, {'w', "/w"}, {'x', "/x"}},
         line("/cd1", "iso9660") + line("/cd2", "iso9660"),
         {{'y', "/cd1"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ImpliedDrives("/p", c.entries, c.mountinfo), c.drives);
    }
}

// A player whose prefix Wine has not made yet: C: is the prefix's drive_c,
// and the install's first folder makes the prefix's folder as Wine would.
TEST(ImpliedDrives, ACPathOfAPrefixNotMadeYetIsItsDriveC) {
    testsupport::TempDir home;
    const testsupport::ScopedEnv prefix("WINEPREFIX", (home / "new-prefix").string());
    uint32_t error = kSentinel;
    EXPECT_EQ(DosPathToHostPath("C:\\Ostmere\\Varnholt\\", &error),
              (home / "new-prefix/drive_c/Ostmere/Varnholt").string());
    EXPECT_FALSE(std::filesystem::exists(home / "new-prefix"));  // looking writes nothing
    ASSERT_EQ(CreateDirectoryLevel("C:\\Ostmere"), DirectoryOutcome::ParentMissing);
    ASSERT_EQ(CreateDirectoryLevel("C:"), DirectoryOutcome::Created);
    ASSERT_EQ(CreateDirectoryLevel("C:\\Ostmere"), DirectoryOutcome::Created);
    EXPECT_TRUE(std::filesystem::is_directory(home / "new-prefix/drive_c/Ostmere"));
    EXPECT_EQ(HostPathToDosPath((home / "new-prefix/drive_c/Ostmere/x.dat").string()), "C:\\Ostmere\\x.dat");
    // An entry that exists wins over what is implied.
    std::filesystem::create_directories(home / "new-prefix/dosdevices");
    std::filesystem::create_directory_symlink(home / "elsewhere", home / "new-prefix/dosdevices/c:");
    EXPECT_FALSE(DosPathToHostPath("C:\\Ostmere", &error).has_value());
    EXPECT_EQ(error, ERROR_PATH_NOT_FOUND);
}

}  // namespace
