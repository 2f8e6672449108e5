// SPDX-License-Identifier: MIT
// 8-bit strings and the ANSI code page. The ANSI code page here is
// Windows-1252; its five unassigned bytes map to the C1 controls of the same
// value, as Windows maps them, so every byte survives a round trip. A
// program may make it follow a UTF-8 locale instead (FollowLocaleCodePage).
#include "platform/kernel.h"
#include "platform/runtime.h"

#include <langinfo.h>
#include <locale.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace platform {

namespace {

constexpr char16_t kFirstHighSurrogate = 0xD800;
constexpr char16_t kLastHighSurrogate = 0xDBFF;
constexpr char16_t kFirstLowSurrogate = 0xDC00;
constexpr char16_t kLastLowSurrogate = 0xDFFF;
constexpr char kDefaultChar = '?';

// The ANSI code page is UTF-8 rather than Windows-1252.
std::atomic<bool> utf8Page{false};

// Bytes 0x80-0x9F of Windows-1252; the rest of the page equals Latin-1.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char16_t ByteToChar(unsigned char byte) {
    return byte >= 0x80 && byte <= 0x9F ? kHighControls[byte - 0x80] : static_cast<char16_t>(byte);
}

// The byte for one UTF-16 unit, or -1 when the code page has none.
int CharToByte(char16_t unit) {
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
        return unit;
    }
    for (std::size_t i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] == unit) {
            return static_cast<int>(0x80 + i);
        }
    }
    return -1;
}

// Whether the environment's locale (as setlocale reads LC_ALL, LC_CTYPE and
// LANG) is a UTF-8 one. The process's own locale is left as it was.
bool LocaleIsUtf8() {
    const locale_t locale = ::newlocale(LC_CTYPE_MASK, "", nullptr);
    if (locale == nullptr) {
        return false;
    }
    const std::string_view codeset = ::nl_langinfo_l(CODESET, locale);
    const bool utf8 = codeset == "UTF-8" || codeset == "utf8";
    ::freelocale(locale);
    return utf8;
}

// Copies `text` (units, or bytes) into a caller's buffer as the
// conversion calls do: the size needed for a count of 0, else what fits.
template <typename Unit, typename Text>
int32_t Deliver(const Text& text, Unit* into, int32_t count) {
    const auto length = static_cast<int32_t>(text.size());
    if (count == 0) {
        return length;
    }
    if (count < length) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(into, text.data(), text.size() * sizeof(Unit));
    return length;
}

}  // namespace

uint32_t FollowLocaleCodePage() {
    utf8Page = LocaleIsUtf8();
    constexpr uint32_t kUtf8Page = 65001;
    constexpr uint32_t kWindows1252 = 1252;
    return utf8Page ? kUtf8Page : kWindows1252;
}

int32_t lstrlenA(const char* String) { return String == nullptr ? 0 : static_cast<int32_t>(std::strlen(String)); }

void RtlMoveMemory(void* Destination, const void* Source, std::size_t Length) {
    if (Length != 0) {
        std::memmove(Destination, Source, Length);
    }
}

int32_t MultiByteToWideChar(uint32_t CodePage, uint32_t Flags, const char* MultiByteStr, int32_t MultiByteLength,
                            char16_t* WideCharStr, int32_t WideCharCount) {
    if (CodePage != CP_ACP || Flags != 0 || MultiByteStr == nullptr || MultiByteLength == 0 || MultiByteLength < -1 ||
        WideCharCount < 0 || (WideCharCount > 0 && WideCharStr == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const int32_t length = MultiByteLength == -1 ? lstrlenA(MultiByteStr) + 1 : MultiByteLength;
    if (utf8Page) {
        return Deliver(Utf8ToText(std::string_view(MultiByteStr, static_cast<std::size_t>(length))), WideCharStr,
                       WideCharCount);
    }
    if (WideCharCount == 0) {
        return length;
    }
    if (WideCharCount < length) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    for (int32_t i = 0; i < length; ++i) {
        WideCharStr[i] = ByteToChar(static_cast<unsigned char>(MultiByteStr[i]));
    }
    return length;
}

int32_t WideCharToMultiByte(uint32_t CodePage, uint32_t Flags, const char16_t* WideCharStr, int32_t WideCharLength,
                            char* MultiByteStr, int32_t MultiByteCount, const char* DefaultChar,
                            int32_t* UsedDefaultChar) {
    if (CodePage != CP_ACP || Flags != 0 || WideCharStr == nullptr || WideCharLength == 0 || WideCharLength < -1 ||
        MultiByteCount < 0 || (MultiByteCount > 0 && MultiByteStr == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int32_t length = WideCharLength;
    if (length == -1) {
        length = 0;
        while (WideCharStr[length] != 0) {
            ++length;
        }
        ++length;
    }
    if (utf8Page) {
        // UTF-8 holds every character; a lone surrogate alone becomes U+FFFD.
        const std::string utf8 = TextToUtf8(std::u16string_view(WideCharStr, static_cast<std::size_t>(length)));
        if (UsedDefaultChar != nullptr) {
            *UsedDefaultChar = 0;
        }
        return Deliver(utf8, MultiByteStr, MultiByteCount);
    }
    const char substitute = DefaultChar != nullptr ? *DefaultChar : kDefaultChar;
    bool usedDefault = false;
    int32_t written = 0;
    for (int32_t i = 0; i < length; ++i) {
        int byte = CharToByte(WideCharStr[i]);
        if (byte < 0) {
            usedDefault = true;
            byte = static_cast<unsigned char>(substitute);
            // A surrogate pair is one character: it becomes one substitute.
            if (WideCharStr[i] >= kFirstHighSurrogate && WideCharStr[i] <= kLastHighSurrogate && i + 1 < length &&
                WideCharStr[i + 1] >= kFirstLowSurrogate && WideCharStr[i + 1] <= kLastLowSurrogate) {
                ++i;
            }
        }
        if (MultiByteCount != 0) {
            if (written == MultiByteCount) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return 0;
            }
            MultiByteStr[written] = static_cast<char>(byte);
        }
        ++written;
    }
    if (UsedDefaultChar != nullptr) {
        *UsedDefaultChar = usedDefault ? 1 : 0;
    }
    return written;
}

}  // namespace platform
