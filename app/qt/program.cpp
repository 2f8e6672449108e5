// Program: message boxes, the web launcher, handler dispatch and the error
// report of the Qt front end.
#include "app/qt/program.h"

#include "app/handler_run.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QProcess>
#include <QThread>

#include <new>
#include <string>

#include "app/qt/qt_convert.h"
#include "platform/runtime.h"

namespace app::qt {
namespace {

// The runtime's own number and text for memory running out.

QFont WindowFont() {
    return ToQFont(FrmMain::Properties.Font);
}

// A message box that can be answered only with one of its buttons when it
// holds a question: Escape picks nothing and there is no close box, as with
// the desktop's Yes/No boxes. (Qt would take No for Escape and closing.)
class MessageBox : public QMessageBox {
public:
    MessageBox(QMessageBox::Icon icon, const QString& text, QMessageBox::StandardButtons buttons,
               QWidget* owner)
        : QMessageBox(icon, ToQString(kMessageBoxTitle), text, buttons, owner),
          question_(buttons.testFlag(QMessageBox::Yes) && buttons.testFlag(QMessageBox::No)) {
        setTextFormat(Qt::PlainText);
        setWindowModality(Qt::ApplicationModal);
        // After the modality, which sets the flags afresh.
        if (question_) {
            setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
        }
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (question_ && event->matches(QKeySequence::Cancel)) {
            event->accept();
            return;
        }
        QMessageBox::keyPressEvent(event);
    }
    void closeEvent(QCloseEvent* event) override {
        if (question_) {
            event->ignore();
            return;
        }
        QMessageBox::closeEvent(event);
    }

private:
    bool question_;
};

// A modal box with the program's title and font; returns the button pressed.
int ShowBox(QWidget* owner, QMessageBox::Icon icon, const QString& text,
            QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton) {
    MessageBox box(icon, text, buttons, owner);
    box.setFont(WindowFont());
    box.setDefaultButton(defaultButton);
    const int pressed = box.exec();
    // Give the keyboard back to the window even where no window manager does.
    if (owner != nullptr && owner->isVisible()) {
        owner->activateWindow();
    }
    return pressed;
}

}  // namespace

void OpenWithDesktop(const QString& address) {
    QProcess launcher;
    launcher.setProgram(QStringLiteral("xdg-open"));
    launcher.setArguments({address});
    launcher.setStandardOutputFile(QProcess::nullDevice());
    launcher.setStandardErrorFile(QProcess::nullDevice());
    launcher.startDetached();
}

Program::Program(FrmMain& model, WebOpener openWebAddress)
    : model_(model), openWebAddress_(std::move(openWebAddress)) {
    // One font for everything the front end shows, message boxes included.
    QApplication::setFont(WindowFont());
    model_.SetUserInterface(this);
}

Program::~Program() {
    model_.SetUserInterface(nullptr);
}

int Program::Run() {
    if (!Load()) {
        return exitStatus_;
    }
    Show();
    const int status = QApplication::exec();
    return ending_ ? exitStatus_ : status;
}

bool Program::Load() {
    Dispatch([this] { model_.Form_Load(); });
    return !ending_;
}

void Program::Show() {
    window_ = std::make_unique<MainWindow>(model_, [this](const Control& control) {
        Dispatch([this, &control] { model_.Click(control); });
    });
    window_->show();
    // The program's only window takes the keyboard, as it would on a desktop
    // whose window manager activates new windows; without one it would not.
    window_->activateWindow();
}

void Program::Dispatch(const std::function<void()>& handler) {
    if (ending_) {
        return;
    }
    if (!RunHandler(handler, [this](int32_t number, std::u16string_view description) {
            ReportError(number, description);
        })) {
        ending_ = true;
        exitStatus_ = kErrorExitStatus;
    }
    if (ending_) {
        Finish();
    }
}

MessageAnswer Program::MsgBox(std::u16string_view text, MessageButtons buttons) {
    if (buttons == MessageButtons::OK) {
        ShowBox(window_.get(), QMessageBox::NoIcon, ToQString(text), QMessageBox::Ok,
                QMessageBox::Ok);
        return MessageAnswer::OK;
    }
    const int answer = ShowBox(window_.get(), QMessageBox::NoIcon, ToQString(text),
                               QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    return answer == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

void Program::OpenWebAddress(std::u16string_view address, WindowShow /*show*/) {
    // The desktop's launcher takes no window state: the browser decides.
    openWebAddress_(ToQString(address));
}

void Program::EndProgram() {
    ending_ = true;
}

void Program::ReportError(int32_t number, std::u16string_view description) {
    const QString text = QStringLiteral("Run-time error '") + QString::number(number) +
                         QStringLiteral("':\n\n") + ToQString(description);
    ShowBox(window_.get(), QMessageBox::Critical, text, QMessageBox::Ok, QMessageBox::Ok);
}

void Program::Finish() {
    if (window_) {
        window_->hide();
    }
    // Leaves the event loop when one runs. Before it starts, Run() sees the
    // end by itself, and an exit() then would make every later modal box
    // return at once.
    if (QThread::currentThread()->loopLevel() > 0) {
        QCoreApplication::exit(exitStatus_);
    }
}

}  // namespace app::qt
