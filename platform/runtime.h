// SPDX-License-Identifier: MIT
// The language runtime's services that sit above the kernel: the raised error
// that carries a failure to the caller, text in its 16-bit form and its
// conversions, and the general date form of a date value.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace platform {

// A raised error: number, source and description. Thrown by the operations
// that fail; window code never catches it, the front end reports it.
class RaisedError : public std::exception {
public:
    RaisedError(int32_t number, std::u16string source, std::u16string description);

    int32_t Number() const noexcept { return number_; }
    const std::u16string& Source() const noexcept { return source_; }
    const std::u16string& Description() const noexcept { return description_; }

    // The same error under another source, number and description unchanged.
    RaisedError WithSource(std::u16string source) const;

    const char* what() const noexcept override { return what_.c_str(); }

private:
    int32_t number_;
    std::u16string source_;
    std::u16string description_;
    std::string what_;  // "source: description (number)" in UTF-8, for logs and gtest
};

// Text in the ANSI code page and back; characters the code page cannot hold
// become '?'. Another code page may be named (0 is the ANSI one): the
// Windows build knows every page the system does, Linux only its ANSI page.
// A conversion the system refuses is raised with its code; a text that is
// not empty never comes back empty.
std::string TextToAnsi(std::u16string_view text, uint32_t codePage = 0);
std::u16string AnsiToText(std::string_view ansi, uint32_t codePage = 0);

// Text in UTF-8 and back, for the host's terminals and file names.
// Invalid UTF-8 becomes U+FFFD.
std::string TextToUtf8(std::u16string_view text);
std::u16string Utf8ToText(std::string_view utf8);

// Text comparison that ignores case: ASCII letters, and the letters of the
// ANSI code page (Latin-1 and the few others it holds), fold to one case.
bool TextEqualsIgnoreCase(std::u16string_view left, std::u16string_view right);

// `text` with every letter folded as TextEqualsIgnoreCase folds it: two texts
// are equal ignoring case exactly when their folded forms are equal.
std::u16string FoldTextCase(std::u16string_view text);

// A date value (days since 1899-12-30, the fraction being the time of day) in
// the general date form of the user's locale: short date, a blank, long time;
// the date alone at midnight; the time alone on the zero day (0 <= value < 1).
// en-US patterns (M/d/yyyy h:mm:ss AM/PM) for the C, POSIX and en_US locales.
std::u16string FormatGeneralDate(double dateValue);

}  // namespace platform
