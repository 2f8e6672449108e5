// The listing's element builder and the escaping that keeps any name
// well-formed.
#include "cabinet/xml.h"
#include "platform/runtime.h"

#include <gtest/gtest.h>

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

}  // namespace
