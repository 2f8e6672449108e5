// SPDX-License-Identifier: MIT
// The listing's element builder and the escaping that keeps any name
// well-formed.
#include "cabinet/xml.h"

#include "cabinet/xml_listing.h"
#include "platform/drives.h"
#include "platform/runtime.h"
#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

using namespace cabinet;

namespace {

std::string Utf8(const std::u16string& text) { return platform::TextToUtf8(text); }

TEST(XmlElement, WritesTheExactForm) {
    EXPECT_EQ(Utf8(XmlElement(u"v", u"TAG", u"", u"ignored")), "<TAG>v</TAG>");
    EXPECT_EQ(Utf8(XmlElement(u"", u"PATH", u"", u"")), "<PATH></PATH>");
    EXPECT_EQ(Utf8(XmlElement(u"<FILES></FILES>", u"CABFILE", u"CABFILENAME", u"D:\\Install\\Game1.cab")),
              "<CABFILE CABFILENAME = 'D:\\Install\\Game1.cab'><FILES></FILES></CABFILE>");
}

TEST(XmlEscape, KeepsOrdinaryTextAndEscapesTheRest) {
    struct Case {
        const char* what;
        std::u16string value;
        std::string text;       // as element content
        std::string attribute;  // as an apostrophe-quoted attribute
    };
    const Case cases[] = {
        {"ordinary name", u"Data\\caf\u00e9 map (1).dat", "Data\\caf\xc3\xa9 map (1).dat",
         "Data\\caf\xc3\xa9 map (1).dat"},
        {"markup", u"a&b<c>d", "a&amp;b&lt;c&gt;d", "a&amp;b&lt;c&gt;d"},
        {"apostrophe and quote", u"it's \"x\"", "it's \"x\"", "it&apos;s \"x\""},
        {"control characters", u"\x14hello\x06.\x05", "?hello?.?", "?hello?.?"},
        {"white space a parser would change", u"a\tb\nc\rd", "a\tb\nc&#13;d", "a&#9;b&#10;c&#13;d"},
        {"non-characters and a lone surrogate", std::u16string{0xFFFF, 0xFFFE, 0xD800}, "???", "???"},
        {"a surrogate pair stays", u"\U0001F600", "\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Utf8(XmlEscapeText(c.value)), c.text);
        EXPECT_EQ(Utf8(XmlEscapeAttribute(c.value)), c.attribute);
    }
}

// What a program prints through WriteXmlListing is GetXML's document, byte
// for byte, on every cabinet of the corpus; where GetXML raises, it raises
// the same error.
TEST(WriteXmlListing, GivesGetXmlsBytesOnTheCorpus) {
    const std::optional<std::filesystem::path> corpus = testsupport::CorpusDir();
    if (!corpus) {
        GTEST_SKIP() << "corpus not present";
    }
    int listed = 0;
    for (const auto& item : std::filesystem::recursive_directory_iterator(*corpus)) {
        if (item.path().extension() != ".cab") {
            continue;
        }
        SCOPED_TRACE(item.path().string());
        const std::u16string name = platform::AnsiToText(platform::HostPathToDosPath(item.path().string()));
        auto raised = [](auto&& body) -> std::optional<std::string> {
            try {
                body();
                return std::nullopt;
            } catch (const platform::RaisedError& error) {
                return std::to_string(error.Number()) + " " + Utf8(error.Source());
            }
        };
        auto cab = CabFile::Create();
        cab->SetCabName(name);
        std::string whole, streamed;
        const std::optional<std::string> wholeError = raised([&] { whole = Utf8(cab->GetXML(u"")); });
        const std::optional<std::string> streamedError =
            raised([&] { WriteXmlListing(*cab, name, [&](std::string_view slice) { streamed += slice; }); });
        EXPECT_EQ(streamedError, wholeError);
        if (!wholeError) {
            EXPECT_EQ(streamed, whole);
            ++listed;
        }
    }
    EXPECT_GT(listed, 40);
}

}  // namespace
