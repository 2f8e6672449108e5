// SPDX-License-Identifier: MIT
// The runtime's text conversions, comparison, date form and raised error.
#include "platform/runtime.h"
#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

#include <string>

using namespace platform;

namespace {

TEST(GeneralDate, UsesTheUsFormAndItsShortcuts) {
    testsupport::ScopedEnv locale("LC_ALL", "C");
    struct Case {
        const char* what;
        double value;
        std::u16string text;
    };
    const Case cases[] = {
        {"date and time", 37086.63900462963, u"7/14/2001 3:20:10 PM"},
        {"morning", 37317.33680555556, u"3/2/2002 8:05:00 AM"},
        {"midnight gives the date alone", 37086.0, u"7/14/2001"},
        {"day zero gives the time alone", 0.25, u"6:00:00 AM"},
        {"the value 0 is midnight alone", 0.0, u"12:00:00 AM"},
        {"noon", 0.5, u"12:00:00 PM"},
        {"the file time epoch", -109205.0, u"1/1/1601"},
        {"before day zero the fraction is still the time", -1.25, u"12/29/1899 6:00:00 AM"},
        {"a second short of midnight", 37086.99998842593, u"7/14/2001 11:59:59 PM"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(TextToUtf8(FormatGeneralDate(c.value)), TextToUtf8(c.text));
    }
}

TEST(TextConversion, AnsiAndUtf8RoundTrips) {
    EXPECT_EQ(TextToAnsi(u"caf\u00e9\u20ac"), "caf\xe9\x80");
    EXPECT_EQ(AnsiToText("caf\xe9\x80"), u"caf\u00e9\u20ac");
    EXPECT_EQ(TextToAnsi(u"\u0416"), "?");
    EXPECT_EQ(TextToAnsi(u""), "");
    const std::u16string mixed = u"a\u00e9\u20ac\U0001F600z";
    EXPECT_EQ(Utf8ToText(TextToUtf8(mixed)), mixed);
    EXPECT_EQ(TextToUtf8(u"\u00e9"), "\xc3\xa9");
}

TEST(TextConversion, InvalidUtf8BecomesReplacementCharacters) {
    struct Case {
        const char* what;
        std::string utf8;
        std::u16string text;
    };
    const Case cases[] = {
        {"overlong slash",
         "a\xc0\xaf"
         "b",
         u"a\ufffd\ufffdb"},
        {"cut sequence", "a\xe2\x82", u"a\ufffd"},
        {"encoded surrogate", "\xed\xa0\x80", u"\ufffd"},
        {"stray continuation", "\x80", u"\ufffd"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Utf8ToText(c.utf8), c.text);
    }
}

TEST(TextComparison, IgnoresCaseOfTheCodePageLetters) {
    EXPECT_TRUE(TextEqualsIgnoreCase(u"SUB\\B.TXT", u"sub\\b.txt"));
    EXPECT_TRUE(TextEqualsIgnoreCase(u"\u00c9T\u00c9", u"\u00e9t\u00e9"));
    EXPECT_TRUE(TextEqualsIgnoreCase(u"\u0160", u"\u0161"));
    EXPECT_FALSE(TextEqualsIgnoreCase(u"b.txt", u"sub\\b.txt"));
    EXPECT_FALSE(TextEqualsIgnoreCase(u"\u00d7", u"\u00f7"));  // signs, not letters
    EXPECT_TRUE(TextEqualsIgnoreCase(u"", u""));
}

TEST(RaisedErrors, KeepNumberAndDescriptionUnderANewSource) {
    const RaisedError error(2, u"CabFile", u"The system cannot find the file specified.");
    const RaisedError moved = error.WithSource(u"CabFile.GetXML");
    EXPECT_EQ(moved.Number(), 2);
    EXPECT_EQ(moved.Source(), u"CabFile.GetXML");
    EXPECT_EQ(moved.Description(), error.Description());
    EXPECT_STREQ(moved.what(), "CabFile.GetXML: The system cannot find the file specified. (2)");
}

}  // namespace
