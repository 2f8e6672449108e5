// SPDX-License-Identifier: MIT
// Conversions between the window model's values and Qt's: 16-bit text and
// the font description. Twips become pixels through the model's own
// TwipsToPixels (app/control.h), as in the Win32 front end.
#pragma once

#include <QFont>
#include <QString>

#include <string>
#include <string_view>

#include "app/frm_main.h"

namespace app::qt {

inline QString ToQString(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::u16string ToText(const QString& text) { return text.toStdU16String(); }

inline QFont ToQFont(const FontSpec& fontSpec) {
    QFont font(ToQString(fontSpec.Name));
    font.setPointSizeF(fontSpec.Size);
    font.setWeight(static_cast<QFont::Weight>(fontSpec.Weight));
    font.setItalic(fontSpec.Italic);
    font.setUnderline(fontSpec.Underline);
    font.setStrikeOut(fontSpec.Strikethrough);
    return font;
}

}  // namespace app::qt
