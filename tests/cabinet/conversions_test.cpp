// SPDX-License-Identifier: MIT
// The cabinet object's field conversions: dates, 8-bit strings, target paths.
#include "cabinet/conversions.h"
#include "platform/runtime.h"
#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace cabinet;

namespace {

double DateOfDosWords(uint16_t date, uint16_t time) {
    platform::FILETIME fileTime{0, 0};
    platform::DosDateTimeToFileTime(date, time, &fileTime);
    return conversions::FileTimeToDate(fileTime);
}

TEST(EntryDates, DosWordsBecomeDateValuesWithoutTimeZone) {
    testsupport::ScopedEnv zone("TZ", "America/New_York");
    EXPECT_DOUBLE_EQ(DateOfDosWords(0x2AEE, 0x7A85), 37086.63900462963);
    EXPECT_DOUBLE_EQ(DateOfDosWords(0x0021, 0x0000), 29221.0);  // 1980-01-01, midnight
    // Words the kernel rejects leave the file time at zero: 1601-01-01.
    EXPECT_DOUBLE_EQ(DateOfDosWords(0x2A0E, 0x0000), -109205.0);
}

TEST(EntryDates, AFileTimeWithoutCalendarFieldsGivesZero) {
    EXPECT_DOUBLE_EQ(conversions::FileTimeToDate(platform::FILETIME{0, 0x80000000u}), 0.0);
    EXPECT_DOUBLE_EQ(conversions::SystemTimeToDate({1899, 12, 6, 30, 12, 0, 0, 999}), 0.5);
}

TEST(AnsiStrings, DecodeFromTheCodePage) {
    EXPECT_EQ(conversions::AnsiPointerToString(nullptr), u"");
    EXPECT_EQ(conversions::AnsiPointerToString(""), u"");
    EXPECT_EQ(conversions::AnsiPointerToString("Data\\caf\xe9.txt"), u"Data\\caf\u00e9.txt");
}

TEST(TargetNameField, HoldsAtMost259BytesAndATerminator) {
    struct Case {
        const char* what;
        std::size_t length;
        bool fits;
    };
    const Case cases[] = {
        {"empty", 0, true}, {"259 bytes", 259, true}, {"260 bytes", 260, false}, {"300 bytes", 300, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // Room past the field shows that nothing is written outside it.
        struct {
            char field[platform::MAX_PATH];
            char after[8];
        } record;
        std::memset(&record, 'X', sizeof record);
        const std::u16string text(c.length, u'a');
        if (c.fits) {
            conversions::StringToAnsiBuffer(record.field, text);
            EXPECT_EQ(std::string(record.field), std::string(c.length, 'a'));
            if (c.length + 1 < platform::MAX_PATH) {
                EXPECT_EQ(record.field[c.length + 1], 'X');
            }
        } else {
            try {
                conversions::StringToAnsiBuffer(record.field, text);
                ADD_FAILURE() << "no error raised";
            } catch (const platform::RaisedError& error) {
                EXPECT_EQ(error.Number(), conversions::kErrSubscriptOutOfRange);
            }
            EXPECT_EQ(std::string(record.field, platform::MAX_PATH), std::string(platform::MAX_PATH, 'a'));
        }
        EXPECT_EQ(std::string(record.after, sizeof record.after), std::string(8, 'X'));
    }
}

TEST(TargetPaths, BuildTargetPathFromItsThreeValues) {
    struct Case {
        const char* what;
        std::u16string cabName, extractPath, extractFile, name, target;
    };
    const Case cases[] = {
        {"output folder without separator", u"D:\\Install\\Game1.cab", u"C:\\Games", u"", u"Data\\a.dat",
         u"C:\\Games\\Data\\a.dat"},
        {"output folder with separator", u"D:\\Install\\Game1.cab", u"C:\\Out\\", u"", u"sub\\b.txt",
         u"C:\\Out\\sub\\b.txt"},
        {"no output folder: beside the cabinet", u"D:\\Install\\Game1.cab", u"", u"", u"a.dat", u"D:\\Install\\a.dat"},
        {"cabinet name without folder: drive root", u"Game1.cab", u"", u"", u"a.dat", u"\\a.dat"},
        {"output name replaces the entry's name", u"D:\\Install\\Game1.cab", u"C:\\Out", u"other.dat", u"sub\\a.txt",
         u"C:\\Out\\other.dat"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(conversions::BuildTargetPath(c.cabName, c.extractPath, c.extractFile, c.name), c.target);
    }
}

}  // namespace
