// Conversions between the window model's values and Qt's: 16-bit text,
// the font description, and twips to pixels.
#pragma once

#include <QFont>
#include <QString>

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/frm_main.h"

namespace app::qt {

inline QString ToQString(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::u16string ToText(const QString& text) {
    return text.toStdU16String();
}

inline QFont ToQFont(const FontSpec& fontSpec) {
    QFont font(ToQString(fontSpec.Name));
    font.setPointSizeF(fontSpec.Size);
    font.setWeight(static_cast<QFont::Weight>(fontSpec.Weight));
    font.setItalic(fontSpec.Italic);
    font.setUnderline(fontSpec.Underline);
    font.setStrikeOut(fontSpec.Strikethrough);
    return font;
}

// A twips length in pixels at `dotsPerInch` (1440 twips to the inch).
inline int TwipsToPixels(int32_t twips, double dotsPerInch) {
    constexpr double kTwipsPerInch = 1440.0;
    return static_cast<int>(std::lround(twips * dotsPerInch / kTwipsPerInch));
}

}  // namespace app::qt
