// SPDX-License-Identifier: MIT
// Every file-layer call of a whole install failed in turn, through the
// fault-injection seam, on a small CD of the demo's layout: each failure
// must end in a clear error, leave only whole files and no temporary, write
// nothing outside the install folder, and a following install must succeed.
#include "app/frm_main.h"
#include "platform/files.h"
#include "platform/runtime.h"
#include "tests/app/fault_injection.h"
#include "tests/app/scripted_person.h"
#include "tests/support/install_fixtures.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <set>

namespace app {
namespace {

namespace fs = std::filesystem;
using faultinjection::Call;
using testsupport::PseudoRandomBytes;

constexpr char kInstallPath[] = "C:\\Ostmere\\Varnholt\\";

// The errors a pulled CD, a full disk or a locked folder may give, by call.
int ErrorFor(Call call, uint64_t n) {
    static const std::vector<int> kOpen = {ENOENT, EACCES, EIO, ENOSPC};
    static const std::vector<int> kStore = {ENOSPC, EACCES, EIO};
    switch (call) {
        case Call::Open: return kOpen[n % kOpen.size()];
        case Call::Read: return EIO;
        case Call::Write: return ENOSPC;
        case Call::Sync: return EIO;
        default: return kStore[n % kStore.size()];
    }
}

// What an install may raise when a call fails: the number and its text.
const std::set<std::pair<int32_t, std::string>> kSensibleErrors = {
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {82, "The directory or file cannot be created."},
    {5, "Access is denied."},
    {29, "The system cannot write to the specified device."},
    {30, "The system cannot read from the specified device."},
    {31, "A device attached to the system is not functioning."},
    {112, "There is not enough space on the disk."},
    {platform::kErrFileNotFound, "File not found"},
    {platform::kErrDeviceIo, "Device I/O error"},
    {platform::kErrDiskFull, "Disk full"},
    {platform::kErrPermissionDenied, "Permission denied"},
    {platform::kErrPathNotFound, "Path not found"},
};

// A CD of the demo's layout with a few files per cabinet: nested folders, an
// empty file, MSZIP and stored cabinets, an entry over several data blocks.
const fs::path& SmallCd() {
    static testsupport::TempDir folder;
    static const fs::path cd = [] {
        const fs::path install = folder / "cd" / "Install";
        testsupport::TempDir sources;
        testsupport::MakeCabWithGcab(install / "Game1.cab", sources / "1",
                                     {{"Data/Maps/North/map00.dat", std::string(3000, 'm')},
                                      {"Data/Scripts/quest000.txt", "the ostmere marches\r\n"},
                                      {"Data/empty.flag", ""}},
                                     true);
        testsupport::MakeCabWithGcab(install / "Game7.cab", sources / "7",
                                     {{"Sound/Bank0/sfx000.bnx", PseudoRandomBytes(5000, 7)},
                                      {"Sound/Bank1/sfx001.bnx", PseudoRandomBytes(3000, 8)}},
                                     false);
        testsupport::MakeCabWithGcab(
            install / "Game8.cab", sources / "8",
            {{"perdura.dat", PseudoRandomBytes(70'000, 9)}, {"Bin/engine.dll", PseudoRandomBytes(2000, 10)}}, true);
        uint32_t seed = 20;
        for (const char* name : testsupport::kLooseFiles) {
            testsupport::WriteFile(install / name, PseudoRandomBytes(300, seed++));
        }
        return folder / "cd";
    }();
    return cd;
}

class FaultWalkTest : public ::testing::Test {
protected:
    void SetUp() override {
        prefix.mapDrive('d', SmallCd());
        testsupport::PlaceRegistryScript();
        form.TxtCD.SetText(u"D");
        form.TxtPath.SetText(platform::Utf8ToText(kInstallPath));
    }
    void TearDown() override { form.SetUserInterface(nullptr); }

    std::optional<platform::RaisedError> Install() {
        ScriptedPerson person({MessageAnswer::Yes});
        return ClickInstall(form, person);
    }

    fs::path Installed() const { return prefix.driveC() / "Ostmere" / "Varnholt"; }

    // Everything under C: and on the CD that is neither the install folder,
    // a folder on the way to it, a file in it nor a file of the CD.
    std::vector<std::string> Strays(const std::map<std::string, std::string>& cdFiles) const {
        std::vector<std::string> strays;
        for (const auto& item : fs::recursive_directory_iterator(prefix.driveC())) {
            const std::string relative = fs::relative(item.path(), prefix.driveC()).generic_string();
            if (relative != "Ostmere" && !relative.starts_with("Ostmere/Varnholt")) {
                strays.push_back(relative);
            }
            if (item.path().filename().string().starts_with(".vh")) {
                strays.push_back(relative);
            }
        }
        if (testsupport::ReadTree(SmallCd()) != cdFiles) {
            strays.push_back("a changed CD");
        }
        return strays;
    }

    FrmMain& form = FrmMain::Instance();
    testsupport::WinePrefix prefix;
    testsupport::RecordingLaunchers launchers;
};

TEST_F(FaultWalkTest, EveryFailedCallEndsInAClearErrorWithOnlyWholeFilesLeft) {
    const auto expected = testsupport::ExpectedInstall(SmallCd());
    const auto cdFiles = testsupport::ReadTree(SmallCd());
    uint64_t n = 1;
    for (;; ++n) {
        // Odd n install into an empty folder, even n over the last install;
        // every other pair as on a file system without unnamed files.
        if (n % 2 == 1) {
            fs::remove_all(prefix.driveC() / "Ostmere");
        }
        faultinjection::Arm(
            n, [n](Call call) { return ErrorFor(call, n); }, n % 4 >= 2);
        const auto error = Install();
        const faultinjection::Tally tally = faultinjection::Disarm();
        EXPECT_EQ(tally.unlockedRenames, 0u) << "a file replaced at call " << n << " went by an unlocked name";
        if (!tally.failed) {
            EXPECT_FALSE(error.has_value()) << platform::TextToUtf8(error->Description());
            break;
        }
        SCOPED_TRACE("call " + std::to_string(n) + ": " + NameOf(tally.failedCall) + " failed with " +
                     strerror(ErrorFor(tally.failedCall, n)));
        if (!error) {
            EXPECT_EQ(testsupport::ReadTree(Installed()), expected) << "an install that ends without an error is whole";
        } else {
            EXPECT_EQ(kSensibleErrors.count({error->Number(), platform::TextToUtf8(error->Description())}), 1u)
                << error->Number() << " " << platform::TextToUtf8(error->Description());
        }
        const auto installed =
            fs::exists(Installed()) ? testsupport::ReadTree(Installed()) : std::map<std::string, std::string>{};
        for (const auto& [name, bytes] : installed) {
            EXPECT_EQ(expected.count(name) == 1 && expected.at(name) == bytes, true) << name << " is not whole";
        }
        EXPECT_EQ(Strays(cdFiles), std::vector<std::string>{});

        EXPECT_FALSE(Install().has_value()) << "the install after the failure";
        EXPECT_EQ(testsupport::ReadTree(Installed()), expected);
        if (HasFailure()) {
            break;
        }
    }
    RecordProperty("FaultPoints", std::to_string(n - 1));
    std::printf("walked %llu fault points\n", static_cast<unsigned long long>(n - 1));
}

}  // namespace
}  // namespace app
