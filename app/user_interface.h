// SPDX-License-Identifier: MIT
// The window model's only way to reach the person in front of the screen:
// modal message boxes, opening a web address, and ending the program.
// Both front ends implement it (app/qt, app/win32, on the common ground of
// FrontEnd); tests replace it with scripted answers.
#pragma once

#include <string_view>

namespace app {

// The title bar text of every message box the program shows.
inline constexpr std::u16string_view kMessageBoxTitle = u"VarnholtInstall";

enum class MessageButtons { OK, YesNo };
enum class MessageAnswer { OK, Yes, No };

// How the page opened from a web address is to be shown.
enum class WindowShow { Normal, Maximized };

class UserInterface {
public:
    virtual ~UserInterface() = default;

    // Shows a modal message box and waits for the answer. The box has no
    // icon, the title kMessageBoxTitle and its first button (Yes or OK) as
    // the default. A Yes/No box answers Yes or No, an OK box answers OK.
    virtual MessageAnswer MsgBox(std::u16string_view text, MessageButtons buttons) = 0;

    // Asks the desktop to open a web address in the user's browser, shown as
    // asked where the platform can ask for that. Fire and forget: a failure
    // (no browser, no handler, no network) gives no message and no result.
    virtual void OpenWebAddress(std::u16string_view address, WindowShow show) = 0;

    // Ends the program once the running handler has returned. The caller
    // returns straight away and does nothing more; whatever is not yet shown
    // is never shown.
    virtual void EndProgram() = 0;
};

}  // namespace app
