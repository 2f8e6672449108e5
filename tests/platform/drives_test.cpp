// SPDX-License-Identifier: MIT
// Drive paths on a temporary Wine prefix: how they map to host paths and
// back, case-insensitive look-ups, and creating one directory level.
#include "platform/drives.h"
#include "platform/kernel.h"
#include "platform/posix/drive_letters.h"
#include "platform/posix/drive_listings.h"
#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

using namespace platform;

namespace {

constexpr uint32_t kSentinel = 0xDEADBEEF;

class DrivesTest : public ::testing::Test {
protected:
    testsupport::WinePrefix prefix;
};

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
        {"backslashes", "C:\\Ostmere\\Varnholt\\", c + "/Ostmere/Varnholt"},
        {"forward slashes and a lower-case letter", "c:/a/b.txt", c + "/a/b.txt"},
        {"drive root", "C:\\", c},
        {"doubled separators collapse", "C:\\a\\\\b", c + "/a/b"},
        {"dot and dot-dot", "C:\\a\\.\\b\\..\\c", c + "/a/c"},
        {"dot-dot never leaves the drive", "C:\\..\\..\\etc\\passwd", c + "/etc/passwd"},
        {"case-insensitive lookup of existing names", "D:\\install\\game1.cab", d + "/Install/GAME1.CAB"},
        {"missing names keep their case", "D:\\Install\\New\\X.dat", d + "/Install/New/X.dat"},
        {"ANSI bytes become UTF-8", "C:\\caf\xe9", c + "/caf\xc3\xa9"},
        {"Z: falls back to the root", "Z:\\tmp", "/tmp"},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.what);
        uint32_t error = kSentinel;
        const auto host = DosPathToHostPath(item.dos, &error);
        ASSERT_TRUE(host.has_value());
        EXPECT_EQ(*host, item.host);
    }
}

TEST_F(DrivesTest, ReportsMissingDrivesAndBadNames) {
    prefix.mapDrive('d', prefix.root() / "cd");
    struct Case {
        const char* what;
        std::string dos;
        uint32_t error;
    };
    const Case cases[] = {
        {"unmapped drive", "Q:\\x", ERROR_PATH_NOT_FOUND},
        {"empty path", "", ERROR_PATH_NOT_FOUND},
        {"network path", "\\\\server\\share\\x", ERROR_PATH_NOT_FOUND},
        {"doubled colon", "D::\\Install\\Game1.cab", ERROR_INVALID_NAME},
        {"wildcard", "C:\\a*b", ERROR_INVALID_NAME},
        {"substituted character", "C:\\?mega", ERROR_INVALID_NAME},
        {"control character", "C:\\a\tb", ERROR_INVALID_NAME},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.what);
        uint32_t error = kSentinel;
        EXPECT_FALSE(DosPathToHostPath(item.dos, &error).has_value());
        EXPECT_EQ(error, item.error);
    }
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

TEST_F(DrivesTest, InsideAScopeLookUpsFollowWhatThisProcessMakes) {
    const std::string c = (prefix.root() / "dosdevices" / "c:").string();
    std::filesystem::create_directories(prefix.driveC() / "out");
    uint32_t error = 0;
    {
        const DrivePathScope walk;
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
        NoteHostEntryCreated(c + "/out/a/Sub/y.txt");
        EXPECT_EQ(*DosPathToHostPath("C:\\out\\a\\Sub\\Y.TXT", &error), c + "/out/a/Sub/y.txt");
        EXPECT_EQ(*DosPathToHostPath("C:\\OUT\\A\\sub\\y.Txt", &error), c + "/out/a/Sub/y.txt");
        // Other separators and "." or ".." lead to the same folder.
        EXPECT_EQ(*DosPathToHostPath("C:/out/a/Sub/Y.TXT", &error), c + "/out/a/Sub/y.txt");
        EXPECT_EQ(*DosPathToHostPath("C:\\out\\.\\a\\x\\..\\Sub\\Y.TXT", &error), c + "/out/a/Sub/y.txt");
        // Past its bound the scope forgets what it made, and finds it on the disk.
        for (int i = 0; i < 80000; ++i) {
            NoteHostEntryCreated(c + "/elsewhere/" + std::to_string(i));
        }
        EXPECT_EQ(*DosPathToHostPath("C:\\OUT\\A\\Sub\\Y.TXT", &error), c + "/out/a/Sub/y.txt");  // as made

        // What another program adds to a folder the scope has looked at is
        // not seen while the scope lasts...
        testsupport::WriteFile(prefix.driveC() / "out" / "a" / "NEW.TXT", "x");
        EXPECT_EQ(*DosPathToHostPath("C:\\out\\a\\new.txt", &error), c + "/out/a/new.txt");
    }
    // ...and is once it has ended.
    EXPECT_EQ(*DosPathToHostPath("C:\\out\\a\\new.txt", &error), c + "/out/a/NEW.TXT");
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
