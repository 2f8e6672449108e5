// SPDX-License-Identifier: MIT
// Conversions between the window model's values and Win32's: 16-bit text and
// the font description. Twips become pixels through the model's own
// TwipsToPixels (app/control.h), as in the Qt front end.
#pragma once

#include <windows.h>

#include <cmath>
#include <string>
#include <string_view>

#include "app/frm_main.h"

namespace app::win32 {

// Windows' wide characters are the model's 16-bit characters: a copy each way.
inline std::wstring ToWide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

inline std::u16string ToText(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }

// The font as CreateFontIndirectW takes it, at `dotsPerInchY`: a negative
// height asks for that character height in pixels.
inline LOGFONTW ToLogFont(const FontSpec& fontSpec, int dotsPerInchY) {
    constexpr double kPointsPerInch = 72.0;
    LOGFONTW font{};
    font.lfHeight = -static_cast<LONG>(std::lround(fontSpec.Size * dotsPerInchY / kPointsPerInch));
    font.lfWeight = fontSpec.Weight;
    font.lfItalic = fontSpec.Italic;
    font.lfUnderline = fontSpec.Underline;
    font.lfStrikeOut = fontSpec.Strikethrough;
    font.lfCharSet = static_cast<BYTE>(fontSpec.Charset);
    font.lfOutPrecision = OUT_DEFAULT_PRECIS;
    font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    font.lfQuality = DEFAULT_QUALITY;
    font.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
    ToWide(fontSpec.Name).copy(font.lfFaceName, LF_FACESIZE - 1);  // the rest stays zero
    return font;
}

}  // namespace app::win32
