// The front end's run of the program: the start-up prompts as real message
// boxes, the report of whatever leaves a handler and the nonzero end it
// brings, and the ways the event loop ends.
#include <QApplication>
#include <QTest>
#include <QTimer>

#include <memory>
#include <new>
#include <stdexcept>

#include "app/frm_main.h"
#include "app/qt/program.h"
#include "modal_answerer.h"
#include "platform/runtime.h"

using app::FrmMain;
using app::qt::Program;

class TestProgram : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startupPrompts_data();
    void startupPrompts();
    void raisedErrorIsReportedAndEndsTheProgram_data();
    void raisedErrorIsReportedAndEndsTheProgram();
    void endingFromAHandlerLeavesTheEventLoop();
    void closingTheWindowEndsTheProgram();

private:
    std::unique_ptr<FrmMain> model_;
    std::unique_ptr<Program> program_;
    QStringList opened_;
};

namespace {

const QString kLicence = QStringLiteral(
    "You must agree to the terms and conditions of the license agreement located at "
    "D:\\LICENSE.doc, where D is the driver letter of your CD drive. Do you agree?");
const QString kLiability = QStringLiteral(
    "Brannick shall not be held liable for any damage caused by this program. Do you agree?");

// What a handler lets out.
enum class Thrown { Raised, OutOfMemory, Standard, NotAnException };

// Runs `handler` through the program from inside the event loop, the way a
// click would, and returns the loop's exit status.
int RunInEventLoop(Program& program, std::function<void()> handler) {
    QTimer::singleShot(0, [&program, handler] { program.Dispatch(handler); });
    return QApplication::exec();
}

}  // namespace

void TestProgram::init() {
    opened_.clear();
    model_ = std::make_unique<FrmMain>();
    program_ = std::make_unique<Program>(*model_, [this](const QString& url) { opened_ << url; });
}

void TestProgram::cleanup() {
    program_.reset();
    model_.reset();
    QVERIFY2(QApplication::topLevelWidgets().isEmpty(), "a test left a window behind");
}

void TestProgram::startupPrompts_data() {
    using Answers = QList<QMessageBox::StandardButton>;
    QTest::addColumn<Answers>("answers");
    QTest::addColumn<QStringList>("asked");
    QTest::addColumn<bool>("windowShown");

    QTest::newRow("licence refused: nothing more is shown")
        << Answers{QMessageBox::No} << QStringList{kLicence} << false;
    QTest::newRow("disclaimer refused: the window is never shown")
        << Answers{QMessageBox::Yes, QMessageBox::No} << QStringList{kLicence, kLiability} << false;
    QTest::newRow("both accepted: the window opens")
        << Answers{QMessageBox::Yes, QMessageBox::Yes} << QStringList{kLicence, kLiability}
        << true;
    QTest::newRow("Escape answers nothing: the licence box stays")
        << Answers{QMessageBox::Escape, QMessageBox::Yes, QMessageBox::Yes}
        << QStringList{kLicence, kLicence, kLiability} << true;
}

void TestProgram::startupPrompts() {
    QFETCH(QList<QMessageBox::StandardButton>, answers);
    QFETCH(QStringList, asked);
    QFETCH(bool, windowShown);

    ModalAnswerer person(answers);
    const bool loaded = program_->Load();

    QStringList texts;
    for (const SeenBox& box : person.seen()) {
        texts << box.text;
    }
    QCOMPARE(texts, asked);
    for (const SeenBox& box : person.seen()) {
        QCOMPARE(box.title, QStringLiteral("VarnholtInstall"));
        QCOMPARE(box.icon, QMessageBox::NoIcon);
        QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(box.defaultButton, QMessageBox::Yes);
        QCOMPARE(box.font.family(), QStringLiteral("Verdana"));
        QVERIFY(!box.flags.testFlag(Qt::WindowCloseButtonHint));
    }
    QCOMPARE(loaded, windowShown);
    QCOMPARE(program_->Ending(), !windowShown);
    QCOMPARE(program_->ExitStatus(), 0);
    QVERIFY(program_->Window() == nullptr);
}

void TestProgram::raisedErrorIsReportedAndEndsTheProgram_data() {
    QTest::addColumn<bool>("windowShown");
    QTest::addColumn<int>("thrown");
    QTest::addColumn<QString>("report");
    const QString raised = QStringLiteral("Run-time error '53':\n\nFile <not> found");
    const QString internal = QStringLiteral("Run-time error '51':\n\nInternal error");
    QTest::newRow("while the window is shown") << true << int(Thrown::Raised) << raised;
    QTest::newRow("before the window is shown") << false << int(Thrown::Raised) << raised;
    QTest::newRow("out of memory") << true << int(Thrown::OutOfMemory)
                                   << QStringLiteral("Run-time error '7':\n\nOut of memory");
    QTest::newRow("a standard exception") << true << int(Thrown::Standard) << internal;
    QTest::newRow("something that is no exception class") << true << int(Thrown::NotAnException) << internal;
}

void TestProgram::raisedErrorIsReportedAndEndsTheProgram() {
    QFETCH(bool, windowShown);
    QFETCH(int, thrown);
    QFETCH(QString, report);
    const auto raise = [thrown] {
        switch (static_cast<Thrown>(thrown)) {
            case Thrown::Raised: throw platform::RaisedError(53, u"CabFile", u"File <not> found");
            case Thrown::OutOfMemory: throw std::bad_alloc();
            case Thrown::Standard: throw std::out_of_range("map::at");
            case Thrown::NotAnException: throw 42;
        }
    };
    ModalAnswerer person({QMessageBox::Ok});
    if (windowShown) {
        program_->Show();
        QVERIFY(QTest::qWaitForWindowExposed(program_->Window()));
        QCOMPARE(RunInEventLoop(*program_, raise), app::qt::kErrorExitStatus);
        QVERIFY(!program_->Window()->isVisible());
    } else {
        program_->Dispatch(raise);
    }

    QCOMPARE(person.seen().size(), 1);
    QCOMPARE(person.seen().front().title, QStringLiteral("VarnholtInstall"));
    QCOMPARE(person.seen().front().text, report);
    QVERIFY(program_->Ending());
    QCOMPARE(program_->ExitStatus(), app::qt::kErrorExitStatus);

    // Nothing runs after the end.
    bool ranAfterEnd = false;
    program_->Dispatch([&] { ranAfterEnd = true; });
    QVERIFY(!ranAfterEnd);
}

void TestProgram::endingFromAHandlerLeavesTheEventLoop() {
    program_->Show();
    QVERIFY(QTest::qWaitForWindowExposed(program_->Window()));
    QCOMPARE(RunInEventLoop(*program_, [this] { program_->EndProgram(); }), 0);
    QVERIFY(!program_->Window()->isVisible());
}

void TestProgram::closingTheWindowEndsTheProgram() {
    program_->Show();
    QVERIFY(QTest::qWaitForWindowExposed(program_->Window()));
    QTimer::singleShot(0, program_->Window(), &QWidget::close);
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(opened_.isEmpty());
}

QTEST_MAIN(TestProgram)
#include "program_test.moc"
