// SPDX-License-Identifier: MIT
// The install procedure end to end through the window model, with scripted
// answers, on the demo CD in a temporary Wine prefix; the registry script is
// "started" by a stand-in launcher that records its arguments.
#include "app/frm_main.h"
#include "cabinet/cab_file.h"
#include "platform/files.h"
#include "platform/runtime.h"
#include "tests/app/scripted_person.h"
#include "tests/support/install_fixtures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace app {
namespace {

namespace fs = std::filesystem;
using enum MessageAnswer;

constexpr uid_t kNobody = 65534;
constexpr char kDefaultPath[] = "C:\\Ostmere\\Varnholt\\";

std::string Confirmation(const std::string& path) {
    return "yes/no: Are you sure you want to install Varnholt to " + path + "?";
}
const std::string kWarning =
    "ok: Some files may take a long time to copy, especially perdura.dat and the .bnx files. Do not restart your "
    "computer if it seems to stop responding while extracting files.";
std::string Completion(const std::string& path) {
    return "ok: Varnholt installation complete! Run " + path + " to start the game. No shortcuts have been created.";
}

class InstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        prefix.mapDrive('d', testsupport::DemoCd());
        script = testsupport::PlaceRegistryScript();
        form.TxtCD.SetText(u"D");
        form.TxtPath.SetText(platform::Utf8ToText(kDefaultPath));
        form.LblCurrentFile.SetCaption(u"Current File:");
    }
    void TearDown() override { form.SetUserInterface(nullptr); }

    // Runs the Install button's handler with `answers`; the raised error
    // that left it, if any.
    std::optional<platform::RaisedError> Install(ScriptedPerson& person) { return ClickInstall(form, person); }

    fs::path Installed() const { return prefix.driveC() / "Ostmere" / "Varnholt"; }

    FrmMain& form = FrmMain::Instance();
    testsupport::WinePrefix prefix;
    testsupport::RecordingLaunchers launchers;
    fs::path script;
    static inline std::map<std::string, std::string> expected_;

public:
    static void SetUpTestSuite() { expected_ = testsupport::ExpectedInstall(testsupport::DemoCd()); }
};

TEST_F(InstallTest, InstallsEveryFileStartsTheScriptAndEnds) {
    // While each cabinet is extracted the label names the entry asked for: none.
    std::set<std::u16string> captions;
    const auto watch = form.cab()->BeforeExtract.Subscribe(
        [&](const std::u16string&, bool&) { captions.insert(form.LblCurrentFile.Caption()); });
    ScriptedPerson person({Yes});
    EXPECT_FALSE(Install(person).has_value());
    form.cab()->BeforeExtract.Unsubscribe(watch);
    EXPECT_EQ(captions, std::set<std::u16string>{u"Current File: "});

    EXPECT_EQ(person.log,
              (std::vector<std::string>{Confirmation(kDefaultPath), kWarning, Completion(kDefaultPath), "end"}));
    EXPECT_EQ(testsupport::ReadTree(Installed()), expected_);
    EXPECT_EQ(expected_.size(), 385u + 8u);
    // The registry script goes to Wine's registry tool, into the 32-bit view.
    const std::string record = launchers.WaitForRecord();
    EXPECT_TRUE(record.starts_with((launchers.folder() / "wine").string() + "\nreg\nimport\n")) << record;
    EXPECT_TRUE(record.ends_with(script.filename().string() + "\n/reg:32\n")) << record;
    EXPECT_EQ(form.LblCurrentFile.Caption(), u"Current File: ");
    // One cabinet object serves every cabinet, and it is kept.
    EXPECT_EQ(platform::TextToUtf8(form.cab()->CabName()), "D:\\Install\\Game8.cab");
}

TEST_F(InstallTest, NoAtTheConfirmationDoesNothingElse) {
    ScriptedPerson person({No});
    EXPECT_FALSE(Install(person).has_value());
    EXPECT_EQ(person.log, (std::vector<std::string>{Confirmation(kDefaultPath)}));
    EXPECT_TRUE(fs::is_empty(prefix.driveC()));
    EXPECT_EQ(form.LblCurrentFile.Caption(), u"Current File:");
    EXPECT_FALSE(fs::exists(launchers.record()));
}

TEST_F(InstallTest, ADriveTypedWithItsColonFailsAtTheFirstCabinet) {
    form.TxtCD.SetText(u"D:");
    ScriptedPerson person({Yes});
    const auto error = Install(person);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->Number(), 123);
    EXPECT_EQ(platform::TextToUtf8(error->Description()),
              "The filename, directory name, or volume label syntax is incorrect.");
    EXPECT_EQ(platform::TextToUtf8(form.cab()->CabName()), "D::\\Install\\Game1.cab");
    EXPECT_EQ(person.log, (std::vector<std::string>{Confirmation(kDefaultPath), kWarning}));
    EXPECT_TRUE(fs::is_empty(prefix.driveC()));
}

TEST_F(InstallTest, APathWithoutItsSeparatorPrefixesTheLooseFiles) {
    form.TxtPath.SetText(u"C:\\Games\\V");
    ScriptedPerson person({Yes});
    EXPECT_FALSE(Install(person).has_value());

    std::map<std::string, std::string> expected;
    for (const auto& [name, bytes] : expected_) {
        const bool loose = std::find_if(std::begin(testsupport::kLooseFiles), std::end(testsupport::kLooseFiles),
                                        [&](const char* looseName) { return name == looseName; }) !=
                           std::end(testsupport::kLooseFiles);
        expected[loose ? "V" + name : "V/" + name] = bytes;
    }
    EXPECT_EQ(testsupport::ReadTree(prefix.driveC() / "Games"), expected);
    EXPECT_EQ(person.log.back(), "end");
}

TEST_F(InstallTest, AMissingLooseFileStopsTheInstallThere) {
    testsupport::TempDir copy;
    fs::copy(testsupport::DemoCd(), copy.path(), fs::copy_options::recursive);
    fs::remove(copy / "Install" / "Readme.txt");
    prefix.mapDrive('d', copy.path());

    ScriptedPerson person({Yes});
    const auto error = Install(person);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->Number(), platform::kErrFileNotFound);
    EXPECT_EQ(platform::TextToUtf8(error->Description()), "File not found");
    EXPECT_EQ(person.log, (std::vector<std::string>{Confirmation(kDefaultPath), kWarning}));

    // What came before the missing file stays; nothing after it was copied.
    const auto installed = testsupport::ReadTree(Installed());
    for (const char* name : {"Netsond.dll", "Notes.ico", "Readme.doc"}) {
        EXPECT_EQ(installed.count(name), 1u) << name;
    }
    for (const char* name : {"Readme.txt", "Register.exe", "Uninstll.exe"}) {
        EXPECT_EQ(installed.count(name), 0u) << name;
    }
    EXPECT_EQ(installed.at("perdura.dat"), expected_.at("perdura.dat"));
    EXPECT_FALSE(fs::exists(launchers.record()));
}

TEST_F(InstallTest, AFailureAtTheSecondCabinetKeepsTheFirstCabinetsFiles) {
    testsupport::TempDir copy, game1;
    fs::copy(testsupport::DemoCd(), copy.path(), fs::copy_options::recursive);
    fs::remove(copy / "Install" / "Game7.cab");
    prefix.mapDrive('d', copy.path());
    ASSERT_EQ(testsupport::Run("cabextract -q -d " + testsupport::ShellQuote(game1.path().string()) + " " +
                               testsupport::ShellQuote((copy / "Install" / "Game1.cab").string()))
                  .exitCode,
              0);

    ScriptedPerson person({Yes});
    const auto error = Install(person);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->Number(), 2);
    EXPECT_EQ(platform::TextToUtf8(error->Description()), "The system cannot find the file specified.");
    EXPECT_EQ(platform::TextToUtf8(form.cab()->CabName()), "D:\\Install\\Game7.cab");
    EXPECT_EQ(testsupport::ReadTree(Installed()), testsupport::ReadTree(game1.path()));
    EXPECT_FALSE(fs::exists(launchers.record()));
}

TEST_F(InstallTest, AReadOnlyDestinationGivesAClearError) {
    fs::permissions(prefix.root(), fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
    fs::create_directories(prefix.driveC() / "Locked");
    fs::permissions(prefix.driveC() / "Locked", fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    form.TxtPath.SetText(u"C:\\Locked\\");

    // Root may write anywhere, so the install runs as an ordinary user in a
    // child; its exit status carries the raised number.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
            _exit(100);
        }
        ScriptedPerson person({Yes});
        const auto error = Install(person);
        _exit(error.has_value() ? error->Number() : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    // A folder that cannot be made reads as one that is there, so the first
    // entry written into it finds no folder: "The system cannot find the
    // path specified.", as on Windows.
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_TRUE(fs::is_empty(prefix.driveC() / "Locked"));
}

TEST_F(InstallTest, ASecondInstallReplacesEveryFile) {
    ScriptedPerson first({Yes});
    ASSERT_FALSE(Install(first).has_value());
    for (const auto& item : fs::recursive_directory_iterator(Installed())) {
        if (item.is_regular_file()) {
            testsupport::WriteFile(item.path(), "stale");
        }
    }
    fs::remove(launchers.record());

    ScriptedPerson second({Yes});
    EXPECT_FALSE(Install(second).has_value());
    EXPECT_EQ(testsupport::ReadTree(Installed()), expected_);
    EXPECT_FALSE(launchers.WaitForRecord().empty());
}

}  // namespace
}  // namespace app
