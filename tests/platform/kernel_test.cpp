// SPDX-License-Identifier: MIT
// The kernel services: dates, 8-bit strings and the ANSI code page.
#include "platform/kernel.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

using namespace platform;

namespace {

constexpr uint32_t kSentinel = 0xDEADBEEF;

TEST(DosDateTime, ConvertsValidWordsToCalendarFields) {
    struct Case {
        const char* what;
        uint16_t date, time;
        SYSTEMTIME expected;
    };
    const Case cases[] = {
        {"afternoon in 2001", 0x2AEE, 0x7A85, {2001, 7, 6, 14, 15, 20, 10, 0}},
        {"first moment of the DOS era", 0x0021, 0x0000, {1980, 1, 2, 1, 0, 0, 0, 0}},
        {"leap day", (20 << 9) | (2 << 5) | 29, (23 << 11) | (59 << 5) | 29, {2000, 2, 2, 29, 23, 59, 58, 0}},
        {"last DOS year", (127 << 9) | (12 << 5) | 31, 0, {2107, 12, 6, 31, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FILETIME fileTime{};
        ASSERT_TRUE(DosDateTimeToFileTime(c.date, c.time, &fileTime));
        SYSTEMTIME got{};
        ASSERT_TRUE(FileTimeToSystemTime(&fileTime, &got));
        EXPECT_EQ(0, std::memcmp(&got, &c.expected, sizeof got))
            << got.wYear << "-" << got.wMonth << "-" << got.wDay << " dow " << got.wDayOfWeek << " " << got.wHour << ":"
            << got.wMinute << ":" << got.wSecond;
    }
}

TEST(DosDateTime, RejectsWordsThatNameNoMomentAndKeepsTheFileTime) {
    struct Case {
        const char* what;
        uint16_t date, time;
    };
    const Case cases[] = {
        {"month 0", 0x2A0E, 0},
        {"month 13", (21 << 9) | (13 << 5) | 1, 0},
        {"day 0", 0x2AE0, 0},
        {"31 February", (21 << 9) | (2 << 5) | 31, 0},
        {"29 February 2001", (21 << 9) | (2 << 5) | 29, 0},
        {"hour 24", 0x2AEE, 24 << 11},
        {"minute 60", 0x2AEE, 60 << 5},
        {"second 60", 0x2AEE, 30},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FILETIME fileTime{1, 2};
        SetLastError(kSentinel);
        EXPECT_FALSE(DosDateTimeToFileTime(c.date, c.time, &fileTime));
        EXPECT_EQ(fileTime.dwLowDateTime, 1u);
        EXPECT_EQ(fileTime.dwHighDateTime, 2u);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
}

TEST(FileTime, ZeroIsTheEpochAndTheTopHalfIsRejected) {
    FILETIME zero{0, 0};
    SYSTEMTIME fields{};
    ASSERT_TRUE(FileTimeToSystemTime(&zero, &fields));
    EXPECT_EQ(fields.wYear, 1601);
    EXPECT_EQ(fields.wMonth, 1);
    EXPECT_EQ(fields.wDay, 1);
    EXPECT_EQ(fields.wDayOfWeek, 1);  // a Monday
    FILETIME tooLate{0, 0x80000000u};
    EXPECT_FALSE(FileTimeToSystemTime(&tooLate, &fields));
}

TEST(Strings, LengthAndMoveFollowTheKernel) {
    EXPECT_EQ(lstrlenA(nullptr), 0);
    EXPECT_EQ(lstrlenA(""), 0);
    EXPECT_EQ(lstrlenA("abc\0def"), 3);
    char buffer[8] = "abcdef";
    RtlMoveMemory(buffer + 1, buffer, 4);
    EXPECT_STREQ(buffer, "aabcdf");
}

TEST(CodePage, EveryByteSurvivesARoundTrip) {
    for (int byte = 1; byte < 256; ++byte) {
        const char in = static_cast<char>(byte);
        char16_t wide = 0;
        ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, &in, 1, &wide, 1), 1);
        char out = 0;
        int32_t usedDefault = -1;
        ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, &wide, 1, &out, 1, nullptr, &usedDefault), 1);
        EXPECT_EQ(out, in) << "byte " << byte;
        EXPECT_EQ(usedDefault, 0) << "byte " << byte;
    }
}

TEST(CodePage, MapsTheWindows1252LettersAndSubstitutesTheRest) {
    struct Case {
        const char* what;
        std::u16string text;
        std::string ansi;
        bool substituted;
    };
    const Case cases[] = {
        {"ASCII", u"Game1.cab", "Game1.cab", false},
        {"Latin-1 letters", u"caf\u00e9 \u00c0", "caf\xe9 \xc0", false},
        {"euro and quotes", u"\u20ac\u201c\u201d\u0160", "\x80\x93\x94\x8a", false},
        {"Greek", u"\u03a9mega", "?mega", true},
        {"a character outside the BMP is one substitute", u"a\U0001F600b", "a?b", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto length = static_cast<int32_t>(c.text.size());
        char out[32] = {};
        int32_t usedDefault = -1;
        const int32_t written =
            WideCharToMultiByte(CP_ACP, 0, c.text.data(), length, out, sizeof out, nullptr, &usedDefault);
        EXPECT_EQ(std::string(out, static_cast<std::size_t>(written)), c.ansi);
        EXPECT_EQ(usedDefault != 0, c.substituted);
    }
}

TEST(CodePage, FollowsAUtf8LocaleWhenAskedAndWindows1252Otherwise) {
    const char* before = std::getenv("LC_ALL");
    const std::string saved = before != nullptr ? before : "";
    struct Case {
        const char* locale;
        uint32_t page;
        std::string ansi;  // of "Привет é"
    };
    const Case cases[] = {
        {"C.UTF-8", 65001, "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82 \xc3\xa9"},
        {"C", 1252, "?????? \xe9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.locale);
        ::setenv("LC_ALL", c.locale, 1);
        EXPECT_EQ(FollowLocaleCodePage(), c.page);
        const std::u16string text = u"\u041f\u0440\u0438\u0432\u0435\u0442 \u00e9";
        char out[32] = {};
        const int32_t written = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int32_t>(text.size()), out,
                                                    sizeof out, nullptr, nullptr);
        EXPECT_EQ(std::string(out, static_cast<std::size_t>(written)), c.ansi);
        char16_t back[32] = {};
        const int32_t read =
            MultiByteToWideChar(CP_ACP, 0, c.ansi.data(), static_cast<int32_t>(c.ansi.size()), back, 32);
        EXPECT_EQ(std::u16string(back, static_cast<std::size_t>(read)), c.page == 65001 ? text : u"?????? \u00e9");
    }
    // Windows-1252 again, as every other test expects it, and the locale as it was.
    ::setenv("LC_ALL", "C", 1);
    EXPECT_EQ(FollowLocaleCodePage(), 1252u);
    if (before != nullptr) {
        ::setenv("LC_ALL", saved.c_str(), 1);
    } else {
        ::unsetenv("LC_ALL");
    }
}

TEST(CodePage, SizeQueriesAndShortBuffers) {
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4);
    char16_t small[2];
    SetLastError(kSentinel);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, small, 2), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"abc", -1, nullptr, 0, nullptr, nullptr), 4);
    SetLastError(kSentinel);
    EXPECT_EQ(MultiByteToWideChar(65001, 0, "abc", -1, small, 2), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
