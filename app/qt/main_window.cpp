// SPDX-License-Identifier: MIT
// MainWindow: widgets built from the model's control table.
#include "app/qt/main_window.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include <limits>

#include "app/qt/qt_convert.h"

namespace app::qt {
namespace {

QScreen* ScreenOf(const QWidget* widget) {
    QScreen* screen = widget->screen();
    return screen != nullptr ? screen : QGuiApplication::primaryScreen();
}

// A push button as the desktop's dialog keys treat it: Enter presses the
// focused button, as Space does. It is never a default button, so Enter
// elsewhere (in a text box) presses nothing.
class PushButton : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            event->accept();
            click();
            return;
        }
        QPushButton::keyPressEvent(event);
    }
};

// Shows a control's caption or text in its widget.
void ShowValue(const Control& control, QWidget* widget) {
    const QString value = ToQString(control.Caption());
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(value);
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        // Setting the same text again would move the cursor while typing.
        if (edit->text() != value) {
            edit->setText(value);
        }
    } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
        button->setText(value);
    } else if (auto* frame = qobject_cast<QGroupBox*>(widget)) {
        frame->setTitle(value);
    }
}

}  // namespace

MainWindow::MainWindow(FrmMain& model, ClickForwarder forwardClick)
    : model_(model), forwardClick_(std::move(forwardClick)) {
    const WindowProperties& properties = FrmMain::Properties;
    const QScreen* screen = ScreenOf(this);
    dotsPerInchX_ = screen->logicalDotsPerInchX();
    dotsPerInchY_ = screen->logicalDotsPerInchY();

    setWindowTitle(ToQString(properties.Caption));
    setFont(ToQFont(properties.Font));

    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (properties.ControlBox) {
        flags |= Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint;
    }
    if (properties.MinButton) {
        flags |= Qt::WindowMinimizeButtonHint;
    }
    if (properties.MaxButton) {
        flags |= Qt::WindowMaximizeButtonHint;
    }
    setWindowFlags(flags);

    for (Control* control : model_.Controls()) {
        QWidget* widget = CreateControl(*control);
        widgets_.emplace(control, widget);
        ConnectControl(*control, widget);
    }
    ApplyTabOrder();

    const int width = TwipsToPixels(properties.ClientWidth, dotsPerInchX_);
    const int height = TwipsToPixels(properties.ClientHeight, dotsPerInchY_);
    if (properties.FixedBorder) {
        setFixedSize(width, height);
    } else {
        resize(width, height);
    }
    if (properties.CenterScreen) {
        PlaceOnScreen(width, height);
    }
}

MainWindow::~MainWindow() {
    // The model outlives the window; leave it no observer pointing here.
    for (Control* control : model_.Controls()) {
        control->SetObserver({});
    }
}

QWidget* MainWindow::WidgetFor(const Control& control) const {
    const auto found = widgets_.find(&control);
    return found != widgets_.end() ? found->second : nullptr;
}

QWidget* MainWindow::CreateControl(Control& control) {
    QWidget* parent = control.Container() != nullptr ? WidgetFor(*control.Container()) : this;
    QWidget* widget = nullptr;
    switch (control.Kind()) {
        case ControlKind::Frame: widget = new QGroupBox(parent); break;
        case ControlKind::Label: {
            auto* label = new QLabel(parent);
            // Captions show file names, which may hold '<' or '&'; never markup.
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            widget = label;
            break;
        }
        case ControlKind::TextBox: {
            auto* edit = new QLineEdit(parent);
            edit->setMaxLength(std::numeric_limits<int>::max());
            widget = edit;
            break;
        }
        case ControlKind::CommandButton: {
            auto* button = new PushButton(parent);
            // Enter in a text box must press nothing.
            button->setAutoDefault(false);
            button->setDefault(false);
            widget = button;
            break;
        }
    }
    widget->setObjectName(QString::fromStdString(control.Name()));
    widget->setFocusPolicy(control.TabStop() ? Qt::StrongFocus : Qt::NoFocus);
    const TwipsRect& rect = control.Rect();
    widget->setGeometry(TwipsToPixels(rect.Left, dotsPerInchX_), TwipsToPixels(rect.Top, dotsPerInchY_),
                        TwipsToPixels(rect.Width, dotsPerInchX_), TwipsToPixels(rect.Height, dotsPerInchY_));
    ShowValue(control, widget);
    return widget;
}

void MainWindow::ConnectControl(Control& control, QWidget* widget) {
    control.SetObserver([&control, widget] { ShowValue(control, widget); });
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        // The model always holds what the user typed.
        connect(edit, &QLineEdit::textChanged, this,
                [&control](const QString& text) { control.SetText(ToText(text)); });
    } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
        connect(button, &QPushButton::clicked, this, [this, &control] { forwardClick_(control); });
    }
}

void MainWindow::ApplyTabOrder() {
    QWidget* previous = nullptr;
    for (const Control* control : model_.TabOrder()) {
        if (!control->TabStop()) {
            continue;
        }
        QWidget* widget = WidgetFor(*control);
        if (previous == nullptr) {
            widget->setFocus(Qt::OtherFocusReason);
        } else {
            setTabOrder(previous, widget);
        }
        previous = widget;
    }
}

void MainWindow::PlaceOnScreen(int width, int height) {
    // The whole screen, panels included, as "centred on the screen" means
    // and as the Win32 front end does; the work area would sit it higher.
    // The window manager's frame is not known before the window is shown, so
    // the client area is what gets centred.
    const QRect screen = ScreenOf(this)->geometry();
    setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, QSize(width, height), screen));
}

}  // namespace app::qt
