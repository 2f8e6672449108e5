// SPDX-License-Identifier: MIT
// The Qt front end's run: the start-up prompts as real message boxes, the
// report box of an error that leaves a handler and the nonzero end it brings,
// and the ways the event loop ends (which errors, and how: frm_main_test.cpp).
#include <QApplication>
#include <QTest>
#include <QTimer>

#include <memory>

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
const QString kLiability =
    QStringLiteral("Brannick shall not be held liable for any damage caused by this program. Do you agree?");

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

    // Which answer ends the program is the model's. A refusal ends it before
    // the event loop runs, and later boxes must still wait for their answer.
    QTest::newRow("disclaimer refused: the window is never shown")
        << Answers{QMessageBox::Yes, QMessageBox::No} << QStringList{kLicence, kLiability} << false;
    QTest::newRow("Escape answers nothing: the licence box stays, then the window opens")
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

void TestProgram::raisedErrorIsReportedAndEndsTheProgram() {
    const auto raise = [] { throw platform::RaisedError(53, u"CabFile", u"File <not> found"); };
    ModalAnswerer person({QMessageBox::Ok});
    program_->Show();
    QVERIFY(QTest::qWaitForWindowExposed(program_->Window()));
    QCOMPARE(RunInEventLoop(*program_, raise), app::kErrorExitStatus);
    QVERIFY(!program_->Window()->isVisible());

    QCOMPARE(person.seen().size(), 1);
    QCOMPARE(person.seen().front().title, QStringLiteral("VarnholtInstall"));
    QCOMPARE(person.seen().front().icon, QMessageBox::Critical);
    QCOMPARE(person.seen().front().text, QStringLiteral("Run-time error '53':\n\nFile <not> found"));
    QVERIFY(program_->Ending());
    QCOMPARE(program_->ExitStatus(), app::kErrorExitStatus);
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
