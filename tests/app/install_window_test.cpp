// SPDX-License-Identifier: MIT
// A whole install through the real window and the real Wine: a click on
// Install, the real message boxes answered as a person would, the demo CD
// installed into a temporary Wine prefix (which the registry import creates,
// as on a player's first run), and the program ending after the last box.
// One row installs from a real ISO 9660 image of the CD, mounted with
// fuseiso, into a prefix that does not exist yet: no drive is set up by hand.
#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include <memory>

#include "app/frm_main.h"
#include "app/qt/program.h"
#include "modal_answerer.h"
#include "platform/posix/drive_letters.h"
#include "tests/support/install_fixtures.h"

#include <optional>

using app::FrmMain;
using app::qt::Program;

class TestInstallWindow : public QObject {
    Q_OBJECT

private slots:
    void installsTheDemoCdAndEnds_data();
    void installsTheDemoCdAndEnds();
};

namespace {

const QString kCompletion = QStringLiteral(
    "Varnholt installation complete! Run C:\\Ostmere\\Varnholt\\ to start the game. No shortcuts have been created.");
constexpr char kGameKey[] = "'HKLM\\SOFTWARE\\Ostmere\\Varnholt' /reg:32";

// Where the CD comes from.
enum class Disc { MappedFolder, IsoImageNoPrefix };

// The demo CD as an ISO 9660 image (plain ISO names: the mount shows them in
// lower case), mounted with fuseiso while the object lives.
class MountedIso {
public:
    explicit MountedIso(const testsupport::fs::path& folder) : point_(folder / "cd") {
        const auto iso = folder / "demo.iso";
        testsupport::fs::create_directories(point_);
        made_ = testsupport::Run("genisoimage -quiet -o " + testsupport::ShellQuote(iso.string()) + " " +
                                 testsupport::ShellQuote(testsupport::DemoCd().string()));
        if (made_.exitCode == 0) {
            made_ = testsupport::Run("fuseiso " + testsupport::ShellQuote(iso.string()) + " " +
                                     testsupport::ShellQuote(point_.string()));
        }
    }
    ~MountedIso() {
        if (mounted()) {
            testsupport::Run("fusermount -u " + testsupport::ShellQuote(point_.string()));
        }
    }
    bool mounted() const { return made_.exitCode == 0; }
    const std::string& output() const { return made_.output; }
    const testsupport::fs::path& point() const { return point_; }

private:
    testsupport::fs::path point_;
    testsupport::CommandResult made_;
};

}  // namespace

Q_DECLARE_METATYPE(Disc)

void TestInstallWindow::installsTheDemoCdAndEnds_data() {
    QTest::addColumn<Disc>("disc");
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QString>("lastBox");
    QTest::addColumn<int>("exitStatus");
    QTest::addColumn<bool>("merged");

    QTest::newRow("the sample script: merged into the 32-bit view before the completion box")
        << Disc::MappedFolder << QByteArray::fromStdString(testsupport::SampleRegistryScript()) << kCompletion << 0
        << true;
    QTest::newRow("a script Wine's registry tool rejects: the report says how to finish, exit status 1")
        << Disc::MappedFolder << QByteArray("not a registry script\r\n")
        << QStringLiteral(
               "Run-time error '1603':\n\nThe game's files are installed, but its registry settings were "
               "not merged: Wine's registry tool ended with exit code 1.\n\nTo finish the installation, "
               "run this command:\n")
        << app::kErrorExitStatus << false;
    QTest::newRow("a player's first install: the CD's ISO image mounted, no prefix yet, nothing set up by hand")
        << Disc::IsoImageNoPrefix << QByteArray::fromStdString(testsupport::SampleRegistryScript()) << kCompletion << 0
        << true;
}

void TestInstallWindow::installsTheDemoCdAndEnds() {
    QFETCH(Disc, disc);
    QFETCH(QByteArray, script);
    QFETCH(QString, lastBox);
    QFETCH(int, exitStatus);
    QFETCH(bool, merged);
    if (testsupport::Run("command -v " + testsupport::WineCommand()).exitCode != 0) {
        QSKIP("wine is not installed");
    }
    std::optional<testsupport::WinePrefix> mappedPrefix;
    std::optional<testsupport::TempDir> home;
    std::optional<testsupport::ScopedEnv> newPrefix;
    std::optional<MountedIso> iso;
    testsupport::fs::path prefixRoot;
    if (disc == Disc::MappedFolder) {
        mappedPrefix.emplace();
        mappedPrefix->mapDrive('d', testsupport::DemoCd());
        prefixRoot = mappedPrefix->root();
    } else {
        if (!testsupport::fs::exists("/dev/fuse") || testsupport::Run("command -v fuseiso genisoimage").exitCode != 0) {
            QSKIP("FUSE is not available here (no /dev/fuse, fuseiso or genisoimage): the ISO image is not mounted");
        }
        home.emplace();
        prefixRoot = *home / "prefix-not-made-yet";
        newPrefix.emplace("WINEPREFIX", prefixRoot.string());
        iso.emplace(home->path());
        QVERIFY2(iso->mounted(), iso->output().c_str());
        const auto discs = platform::DiscMountPoints(platform::ReadMountTable());
        if (discs.empty() || discs.front() != iso->point().string()) {
            QSKIP("another disc mounted on this machine takes D: before the image");
        }
    }
    const auto expected = testsupport::ExpectedInstall(testsupport::DemoCd());
    const auto placed = testsupport::PlaceRegistryScript(script.toStdString());
    testsupport::ScopedEnv quiet("WINEDEBUG", "-all");
    testsupport::ScopedEnv noGeckoNoMenus("WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d");
    struct EndServer {
        ~EndServer() { testsupport::Run("wineserver -k; wineserver -w"); }
    } endServer;

    FrmMain model;
    Program program(model, [](const QString&) {});
    program.Show();
    QVERIFY(QTest::qWaitForWindowExposed(program.Window()));

    // The game's values as the 32-bit game reads them, the moment the last
    // box is up: nothing may still be on its way.
    ModalAnswerer person({QMessageBox::Yes, QMessageBox::Ok, QMessageBox::Ok});
    std::string valuesWhileLastBoxShown;
    person.whileShown = [&](const QString& text) {
        if (text.startsWith(lastBox)) {
            valuesWhileLastBoxShown = testsupport::Run(testsupport::WineCommand() + " reg query " + kGameKey).output;
        }
    };
    QWidget* install = program.Window()->WidgetFor(model.CmdInstall);
    QTimer::singleShot(0, install, [install] { QTest::mouseClick(install, Qt::LeftButton); });
    QCOMPARE(QApplication::exec(), exitStatus);

    QCOMPARE(person.seen().size(), 3);
    QCOMPARE(person.seen()[0].text,
             QStringLiteral("Are you sure you want to install Varnholt to C:\\Ostmere\\Varnholt\\?"));
    QVERIFY(person.seen()[1].text.startsWith(QStringLiteral("Some files may take a long time to copy")));
    QVERIFY2(person.seen()[2].text.startsWith(lastBox), qPrintable(person.seen()[2].text));
    if (!merged) {
        // The command names this prefix and the script beside the installer.
        const QString command = person.seen()[2].text.mid(lastBox.size());
        QCOMPARE(command,
                 QStringLiteral("WINEPREFIX=\"%1\" wine reg import \"%2\" /reg:32")
                     .arg(QString::fromStdString(prefixRoot.string()), QString::fromStdString(placed.string())));
    }
    QCOMPARE(valuesWhileLastBoxShown.find("    Version    REG_SZ    1.00\r\n") != std::string::npos, merged);
    QCOMPARE(program.ExitStatus(), exitStatus);
    QVERIFY(!program.Window()->isVisible());
    QCOMPARE(qobject_cast<QLabel*>(program.Window()->WidgetFor(model.LblCurrentFile))->text(),
             QStringLiteral("Current File: "));
    // Nothing is rolled back: the game's files stay.
    QVERIFY(testsupport::ReadTree(prefixRoot / "drive_c" / "Ostmere" / "Varnholt") == expected);
}

QTEST_MAIN(TestInstallWindow)
#include "install_window_test.moc"
