// A whole install through the real window: a click on Install, the real
// message boxes answered as a person would, the demo CD installed into a
// temporary Wine prefix, and the program ending after the completion box.
#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include <memory>

#include "app/frm_main.h"
#include "app/qt/program.h"
#include "modal_answerer.h"
#include "tests/support/install_fixtures.h"

using app::FrmMain;
using app::qt::Program;

class TestInstallWindow : public QObject {
    Q_OBJECT

private slots:
    void installsTheDemoCdAndEnds();
};

void TestInstallWindow::installsTheDemoCdAndEnds() {
    testsupport::WinePrefix prefix;
    prefix.mapDrive('d', testsupport::DemoCd());
    const auto expected = testsupport::ExpectedInstall(testsupport::DemoCd());
    testsupport::PlaceRegistryScript();
    testsupport::RecordingLaunchers launchers;

    FrmMain& model = FrmMain::Instance();
    Program program(model, [](const QString&) {});
    program.Show();
    QVERIFY(QTest::qWaitForWindowExposed(program.Window()));

    ModalAnswerer person({QMessageBox::Yes, QMessageBox::Ok, QMessageBox::Ok});
    QWidget* install = program.Window()->WidgetFor(model.CmdInstall);
    QTimer::singleShot(0, install, [install] { QTest::mouseClick(install, Qt::LeftButton); });
    QCOMPARE(QApplication::exec(), 0);

    QStringList texts;
    for (const SeenBox& box : person.seen()) {
        texts << box.text;
    }
    QCOMPARE(texts, QStringList({
                        QStringLiteral("Are you sure you want to install Varnholt to C:\\Ostmere\\Varnholt\\?"),
                        QStringLiteral("Some files may take a long time to copy, especially perdura.dat and the "
                                       ".bnx files. Do not restart your computer if it seems to stop responding "
                                       "while extracting files."),
                        QStringLiteral("Varnholt installation complete! Run C:\\Ostmere\\Varnholt\\ to start the "
                                       "game. No shortcuts have been created."),
                    }));
    QVERIFY(program.Ending());
    QCOMPARE(program.ExitStatus(), 0);
    QVERIFY(!program.Window()->isVisible());
    QCOMPARE(qobject_cast<QLabel*>(program.Window()->WidgetFor(model.LblCurrentFile))->text(),
             QStringLiteral("Current File: "));
    QVERIFY(testsupport::ReadTree(prefix.driveC() / "Ostmere" / "Varnholt") == expected);
    QVERIFY(!launchers.WaitForRecord().empty());
}

QTEST_MAIN(TestInstallWindow)
#include "install_window_test.moc"
