// SPDX-License-Identifier: MIT
// MainWindow: child windows built from the model's control table, one window
// procedure that dispatches each message to a small handler.
#include "app/win32/main_window.h"

#include <string>

#include "app/win32/win32_convert.h"

namespace app::win32 {
namespace {

// Control identifiers start past IDOK and IDCANCEL, which the dialog manager
// sends for Enter and Escape: those keys press nothing here.
constexpr int kFirstControlId = 100;

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

// Shows a control's value unless it already shows it (resetting an edit
// box's text would move the caret while the user types).
void ShowValue(const Control& control, HWND window) {
    const std::wstring value = ToWide(control.Caption());
    if (WindowText(window) != value) {
        ::SetWindowTextW(window, value.c_str());
    }
}

struct ControlClass {
    const wchar_t* className;
    DWORD style;
    DWORD extendedStyle;
};

ControlClass ClassOf(ControlKind kind) {
    switch (kind) {
        case ControlKind::Frame: return {L"BUTTON", BS_GROUPBOX, 0};
        // Captions show file names, which may hold '&': never an access key.
        case ControlKind::Label: return {L"STATIC", SS_LEFT | SS_NOPREFIX, 0};
        case ControlKind::TextBox: return {L"EDIT", ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE};
        case ControlKind::CommandButton: return {L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0};
    }
    return {L"STATIC", 0, 0};
}

}  // namespace

MainWindow::MainWindow(FrmMain& model, ClickForwarder forwardClick)
    : model_(model), forwardClick_(std::move(forwardClick)) {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &MainWindow::WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kMainWindowClass;
    ::RegisterClassExW(&windowClass);

    const HDC screen = ::GetDC(nullptr);
    dotsPerInchX_ = ::GetDeviceCaps(screen, LOGPIXELSX);
    dotsPerInchY_ = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);

    const WindowProperties& properties = FrmMain::Properties;
    DWORD style = WS_OVERLAPPED | WS_CAPTION | (properties.FixedBorder ? WS_BORDER : WS_THICKFRAME);
    if (properties.ControlBox) {
        style |= WS_SYSMENU;
    }
    if (properties.MinButton) {
        style |= WS_MINIMIZEBOX;
    }
    if (properties.MaxButton) {
        style |= WS_MAXIMIZEBOX;
    }
    RECT frame{0, 0, TwipsToPixels(properties.ClientWidth, dotsPerInchX_),
               TwipsToPixels(properties.ClientHeight, dotsPerInchY_)};
    ::AdjustWindowRectEx(&frame, style, FALSE, WS_EX_CONTROLPARENT);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    int left = CW_USEDEFAULT;
    int top = CW_USEDEFAULT;
    if (properties.CenterScreen) {
        // The whole primary monitor, taskbar included, as "centred on the
        // screen" means; the work area would sit it higher.
        left = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
        top = (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    }
    ::CreateWindowExW(WS_EX_CONTROLPARENT, kMainWindowClass, ToWide(properties.Caption).c_str(), style, left, top,
                      width, height, nullptr, nullptr, instance, this);
}

MainWindow::~MainWindow() {
    // The model outlives the window; leave it no observer pointing here.
    for (Control* control : model_.Controls()) {
        control->SetObserver({});
    }
    if (window_ != nullptr) {
        ::DestroyWindow(window_);
    }
    if (font_ != nullptr) {
        ::DeleteObject(font_);
    }
}

void MainWindow::Show() {
    ::ShowWindow(window_, SW_SHOWNORMAL);
    ::UpdateWindow(window_);
    for (const Control* control : model_.TabOrder()) {
        if (control->TabStop()) {
            ::SetFocus(windows_.at(control));
            break;
        }
    }
}

bool MainWindow::TranslateKey(const MSG& message) {
    if (message.message != WM_KEYDOWN || message.wParam != VK_RETURN) {
        return false;
    }
    const HWND focus = ::GetFocus();
    const int id = ::GetDlgCtrlID(focus);
    const auto found = controlsById_.find(id);
    if (::GetParent(focus) != window_ || found == controlsById_.end() ||
        found->second->Kind() != ControlKind::CommandButton) {
        return false;
    }
    ::SendMessageW(focus, BM_CLICK, 0, 0);
    return true;
}

LRESULT CALLBACK MainWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->window_ = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<MainWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    return self != nullptr ? self->OnMessage(message, wParam, lParam)
                           : ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT MainWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE: OnCreate(); return 0;
        case WM_COMMAND: OnCommand(wParam, lParam); return 0;
        case WM_ACTIVATE: OnActivate(wParam); return 0;
        case WM_DESTROY:
            ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
            window_ = nullptr;
            ::PostQuitMessage(0);
            return 0;
        default: return ::DefWindowProcW(window_, message, wParam, lParam);
    }
}

void MainWindow::OnCreate() {
    const LOGFONTW font = ToLogFont(FrmMain::Properties.Font, dotsPerInchY_);
    font_ = ::CreateFontIndirectW(&font);
    ::SendMessageW(window_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    int id = kFirstControlId;
    for (Control* control : model_.Controls()) {
        const HWND child = CreateControl(*control, id);
        controlsById_.emplace(id++, control);
        windows_.emplace(control, child);
        control->SetObserver([control, child] { ShowValue(*control, child); });
    }
    ApplyTabOrder();
}

HWND MainWindow::CreateControl(Control& control, int id) {
    // Every control is a child of the window itself, the frame's at the
    // frame's offset: a group box passes no notifications on.
    TwipsRect rect = control.Rect();
    for (const Control* container = control.Container(); container != nullptr; container = container->Container()) {
        rect.Left += container->Rect().Left;
        rect.Top += container->Rect().Top;
    }
    const ControlClass kind = ClassOf(control.Kind());
    const HWND child = ::CreateWindowExW(
        kind.extendedStyle, kind.className, ToWide(control.Caption()).c_str(), WS_CHILD | WS_VISIBLE | kind.style,
        TwipsToPixels(rect.Left, dotsPerInchX_), TwipsToPixels(rect.Top, dotsPerInchY_),
        TwipsToPixels(rect.Width, dotsPerInchX_), TwipsToPixels(rect.Height, dotsPerInchY_), window_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr), nullptr);
    ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    if (control.Kind() == ControlKind::TextBox) {
        ::SendMessageW(child, EM_SETLIMITTEXT, 0, 0);  // no length limit
    }
    return child;
}

// The dialog manager moves the focus in z-order: put the children in the
// table's tab order.
void MainWindow::ApplyTabOrder() {
    HWND previous = HWND_TOP;
    for (const Control* control : model_.TabOrder()) {
        const HWND child = windows_.at(control);
        ::SetWindowPos(child, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        previous = child;
    }
}

void MainWindow::OnCommand(WPARAM wParam, LPARAM lParam) {
    const auto found = controlsById_.find(LOWORD(wParam));
    if (found == controlsById_.end() || lParam == 0) {
        return;
    }
    Control& control = *found->second;
    const HWND child = reinterpret_cast<HWND>(lParam);
    if (control.Kind() == ControlKind::TextBox && HIWORD(wParam) == EN_CHANGE) {
        // The model always holds what the user typed.
        control.SetText(ToText(WindowText(child)));
    } else if (control.Kind() == ControlKind::CommandButton && HIWORD(wParam) == BN_CLICKED) {
        forwardClick_(control);
    }
}

// The focus goes back where it was when the window is activated again
// (after a message box, or another program).
void MainWindow::OnActivate(WPARAM wParam) {
    if (LOWORD(wParam) == WA_INACTIVE) {
        focusBeforeDeactivation_ = ::GetFocus();
    } else if (focusBeforeDeactivation_ != nullptr && ::IsWindow(focusBeforeDeactivation_)) {
        ::SetFocus(focusBeforeDeactivation_);
    }
}

}  // namespace app::win32
