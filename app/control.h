// SPDX-License-Identifier: MIT
// One control of the window model: its kind, container, caption or text,
// position in twips and tab index, with a change notice for the front end.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace app {

enum class ControlKind { Frame, Label, TextBox, CommandButton };

// Position and size in twips (1/1440 inch), relative to the container.
struct TwipsRect {
    int32_t Left;
    int32_t Top;
    int32_t Width;
    int32_t Height;

    friend bool operator==(const TwipsRect&, const TwipsRect&) = default;
};

// A length in twips as whole pixels at `dotsPerInch`, rounded to the nearest:
// how both front ends place the controls on the screen.
int TwipsToPixels(int32_t twips, double dotsPerInch);

class Control {
public:
    // `container` is the frame the control sits on, or null for the
    // window's client area.
    Control(std::string_view name, ControlKind kind, const Control* container, std::u16string_view initialValue,
            TwipsRect rect, int tabIndex);

    // Controls are identified by address (containers, the front end's
    // widgets), so they never move.
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    const std::string& Name() const { return name_; }
    ControlKind Kind() const { return kind_; }
    const Control* Container() const { return container_; }
    const TwipsRect& Rect() const { return rect_; }
    int TabIndex() const { return tabIndex_; }

    // Whether the keyboard focus can rest on it: text boxes and buttons do,
    // frames and labels only hold a place in the tab order.
    bool TabStop() const;

    // A label's, button's or frame's caption and a text box's text are one
    // value under two names, so either name may be used on any control.
    const std::u16string& Caption() const { return value_; }
    void SetCaption(std::u16string caption) { Change(std::move(caption)); }
    const std::u16string& Text() const { return value_; }
    void SetText(std::u16string text) { Change(std::move(text)); }

    // The one observer (the front end) is called after every change of the
    // value, not when the same value is set again. An empty function
    // detaches it.
    void SetObserver(std::function<void()> observer) { observer_ = std::move(observer); }

private:
    void Change(std::u16string value);

    std::string name_;
    ControlKind kind_;
    const Control* container_;
    std::u16string value_;
    TwipsRect rect_;
    int tabIndex_;
    std::function<void()> observer_;
};

}  // namespace app
