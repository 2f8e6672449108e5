// SPDX-License-Identifier: MIT
// The runtime's raised error, text conversions and case-insensitive
// comparison, the same on every platform: the code page itself is the
// kernel's business.
#include "platform/runtime.h"

#include "platform/kernel.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace platform {

namespace {

constexpr char16_t kReplacementChar = 0xFFFD;
constexpr char16_t kRuntimeSource[] = u"VarnholtInstall";

// The codes a failed conversion leaves, with the system's texts for them.
constexpr uint32_t kErrorInvalidFlags = 1004;
constexpr uint32_t kErrorNoUnicodeTranslation = 1113;

// A conversion the system refused, raised with the code it left.
[[noreturn]] void RaiseConversionError() {
    uint32_t code = GetLastError();
    const char16_t* text = u"The parameter is incorrect.";
    switch (code) {
        case ERROR_INSUFFICIENT_BUFFER: text = u"The data area passed to a system call is too small."; break;
        case kErrorInvalidFlags: text = u"Invalid flags."; break;
        case kErrorNoUnicodeTranslation:
            text = u"No mapping for the Unicode character exists in the target multi-byte code page.";
            break;
        default: code = ERROR_INVALID_PARAMETER; break;
    }
    throw RaisedError(static_cast<int32_t>(code), kRuntimeSource, text);
}

}  // namespace

RaisedError::RaisedError(int32_t number, std::u16string source, std::u16string description)
    : number_(number), source_(std::move(source)), description_(std::move(description)) {
    what_ = TextToUtf8(source_) + ": " + TextToUtf8(description_) + " (" + std::to_string(number_) + ")";
}

RaisedError RaisedError::WithSource(std::u16string source) const {
    return RaisedError(number_, std::move(source), description_);
}

std::string TextToAnsi(std::u16string_view text, uint32_t codePage) {
    if (text.empty()) {
        return {};
    }
    const auto length = static_cast<int32_t>(text.size());
    const int32_t size = WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        RaiseConversionError();
    }
    std::string ansi(static_cast<std::size_t>(size), '\0');
    if (WideCharToMultiByte(codePage, 0, text.data(), length, ansi.data(), size, nullptr, nullptr) != size) {
        RaiseConversionError();
    }
    return ansi;
}

std::u16string AnsiToText(std::string_view ansi, uint32_t codePage) {
    if (ansi.empty()) {
        return {};
    }
    const auto length = static_cast<int32_t>(ansi.size());
    const int32_t size = MultiByteToWideChar(codePage, 0, ansi.data(), length, nullptr, 0);
    if (size <= 0) {
        RaiseConversionError();
    }
    std::u16string text(static_cast<std::size_t>(size), u'\0');
    if (MultiByteToWideChar(codePage, 0, ansi.data(), length, text.data(), size) != size) {
        RaiseConversionError();
    }
    return text;
}

std::string TextToUtf8(std::u16string_view text) {
    std::string utf8;
    utf8.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        // A run of ASCII, the usual case, goes over in one piece, found four
        // units at a time.
        std::size_t ascii = i;
        for (uint64_t four = 0; ascii + 4 <= text.size(); ascii += 4) {
            std::memcpy(&four, text.data() + ascii, sizeof four);
            if ((four & 0xFF80FF80FF80FF80ULL) != 0) {
                break;
            }
        }
        while (ascii < text.size() && text[ascii] < 0x80) {
            ++ascii;
        }
        if (ascii > i) {
            const std::size_t at = utf8.size();
            utf8.resize(at + (ascii - i));
            char* out = utf8.data() + at;
            const char16_t* in = text.data() + i;
            for (std::size_t k = 0; k < ascii - i; ++k) {
                out[k] = static_cast<char>(in[k]);
            }
            i = ascii - 1;
            continue;
        }
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kReplacementChar;
        }
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else if (c < 0x800) {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            utf8 += static_cast<char>(0xE0 | (c >> 12));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            utf8 += static_cast<char>(0xF0 | (c >> 18));
            utf8 += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return utf8;
}

std::u16string Utf8ToText(std::string_view utf8) {
    std::u16string text;
    text.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        int extra = 0;
        char32_t c = 0;
        char32_t minimum = 0;
        if (lead < 0x80) {
            c = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1, c = lead & 0x1F, minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2, c = lead & 0x0F, minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3, c = lead & 0x07, minimum = 0x10000;
        } else {
            text += kReplacementChar;
            ++i;
            continue;
        }
        std::size_t taken = 1;
        bool valid = true;
        for (int k = 0; k < extra; ++k, ++taken) {
            if (i + taken >= utf8.size() || (static_cast<unsigned char>(utf8[i + taken]) & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            c = (c << 6) | (static_cast<unsigned char>(utf8[i + taken]) & 0x3F);
        }
        if (!valid || c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            text += kReplacementChar;
            i += valid ? taken : std::max<std::size_t>(taken, 1);
            continue;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            text += static_cast<char16_t>(0xD800 + (c >> 10));
            text += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            text += static_cast<char16_t>(c);
        }
        i += taken;
    }
    return text;
}

namespace {

char16_t FoldCase(char16_t c) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) {
        return static_cast<char16_t>(c + 0x20);
    }
    switch (c) {
        case 0x0160: return 0x0161;  // Š
        case 0x0152: return 0x0153;  // Œ
        case 0x017D: return 0x017E;  // Ž
        case 0x0178: return 0x00FF;  // Ÿ
        default: return c;
    }
}

}  // namespace

std::u16string FoldTextCase(std::u16string_view text) {
    std::u16string folded(text);
    for (auto& c : folded) {
        c = FoldCase(c);
    }
    return folded;
}

bool TextEqualsIgnoreCase(std::u16string_view left, std::u16string_view right) {
    if (left.size() != right.size()) {
        return false;
    }
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (FoldCase(left[i]) != FoldCase(right[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace platform
