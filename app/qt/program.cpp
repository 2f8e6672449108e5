// SPDX-License-Identifier: MIT
// Program: message boxes, the web launcher, the error report's box and the
// event loop of the Qt front end.
#include "app/qt/program.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QProcess>
#include <QThread>

#include "app/qt/qt_convert.h"

namespace app::qt {
namespace {

QFont WindowFont() { return ToQFont(FrmMain::Properties.Font); }

// A message box that can be answered only with one of its buttons when it
// holds a question: Escape picks nothing and there is no close box, as with
// the desktop's Yes/No boxes. (Qt would take No for Escape and closing.)
class MessageBox : public QMessageBox {
public:
    MessageBox(QMessageBox::Icon icon, const QString& text, QMessageBox::StandardButtons buttons, QWidget* owner)
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
int ShowBox(QWidget* owner, QMessageBox::Icon icon, const QString& text, QMessageBox::StandardButtons buttons,
            QMessageBox::StandardButton defaultButton) {
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
    : FrontEnd(model), openWebAddress_(std::move(openWebAddress)) {
    // One font for everything the front end shows, message boxes included.
    QApplication::setFont(WindowFont());
}

void Program::Show() {
    window_ = std::make_unique<MainWindow>(Model(), [this](const Control& control) { Click(control); });
    window_->show();
    // The program's only window takes the keyboard, as it would on a desktop
    // whose window manager activates new windows; without one it would not.
    window_->activateWindow();
}

MessageAnswer Program::MsgBox(std::u16string_view text, MessageButtons buttons) {
    if (buttons == MessageButtons::OK) {
        ShowBox(window_.get(), QMessageBox::NoIcon, ToQString(text), QMessageBox::Ok, QMessageBox::Ok);
        return MessageAnswer::OK;
    }
    const int answer = ShowBox(window_.get(), QMessageBox::NoIcon, ToQString(text), QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::Yes);
    return answer == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

void Program::OpenWebAddress(std::u16string_view address, WindowShow /*show*/) {
    // The desktop's launcher takes no window state: the browser decides.
    openWebAddress_(ToQString(address));
}

void Program::ShowErrorReport(std::u16string_view report) {
    ShowBox(window_.get(), QMessageBox::Critical, ToQString(report), QMessageBox::Ok, QMessageBox::Ok);
}

void Program::RunEventLoop() {
    // Ends with the last window closed, or when Finish() leaves it.
    QApplication::exec();
}

void Program::Finish() {
    if (window_) {
        window_->hide();
    }
    // Leaves the event loop when one runs. Before it starts, Run() sees the
    // end by itself, and an exit() then would make every later modal box
    // return at once.
    if (QThread::currentThread()->loopLevel() > 0) {
        QCoreApplication::exit(ExitStatus());
    }
}

}  // namespace app::qt
