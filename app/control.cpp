// SPDX-License-Identifier: MIT
// The control of the window model: value changes and their notice, and its
// twips in pixels.
#include "app/control.h"

#include <cmath>
#include <utility>

namespace app {

int TwipsToPixels(int32_t twips, double dotsPerInch) {
    constexpr double kTwipsPerInch = 1440.0;
    return static_cast<int>(std::lround(twips * dotsPerInch / kTwipsPerInch));
}

Control::Control(std::string_view name, ControlKind kind, const Control* container, std::u16string_view initialValue,
                 TwipsRect rect, int tabIndex)
    : name_(name), kind_(kind), container_(container), value_(initialValue), rect_(rect), tabIndex_(tabIndex) {}

bool Control::TabStop() const { return kind_ == ControlKind::TextBox || kind_ == ControlKind::CommandButton; }

void Control::Change(std::u16string value) {
    if (value == value_) {
        return;
    }
    value_ = std::move(value);
    if (observer_) {
        observer_();
    }
}

}  // namespace app
