// SPDX-License-Identifier: MIT
// The XML listing's element builder and escaping.
#include "cabinet/xml.h"

#include "platform/runtime.h"

#include <charconv>

namespace cabinet {

namespace {

constexpr char16_t kSubstitute = u'?';

// Characters no XML 1.0 document may hold in any form, not even as a
// character reference.
bool IsForbidden(char16_t c) {
    return (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || c == 0xFFFE || c == 0xFFFF;
}

// Characters copied as they are, whether in content or in an attribute.
bool IsPlain(char16_t c) { return c >= 0x20 && c < 0xD800 && c != u'&' && c != u'<' && c != u'>' && c != u'\''; }

void Escape(std::u16string& out, std::u16string_view value, bool attribute) {
    for (std::size_t i = 0; i < value.size(); ++i) {
        // A run of plain characters, the usual case, goes over in one piece.
        std::size_t plain = i;
        while (plain < value.size() && IsPlain(value[plain])) {
            ++plain;
        }
        if (plain > i) {
            out.append(value.data() + i, plain - i);
            i = plain - 1;
            continue;
        }
        const char16_t c = value[i];
        const bool highSurrogate = c >= 0xD800 && c <= 0xDBFF;
        const bool pairedHigh =
            highSurrogate && i + 1 < value.size() && value[i + 1] >= 0xDC00 && value[i + 1] <= 0xDFFF;
        if (pairedHigh) {
            out += c;
            out += value[++i];
            continue;
        }
        if (IsForbidden(c) || (c >= 0xD800 && c <= 0xDFFF)) {
            out += kSubstitute;
            continue;
        }
        switch (c) {
            case u'&': out += u"&amp;"; break;
            case u'<': out += u"&lt;"; break;
            case u'>': out += u"&gt;"; break;
            // A parser turns a bare CR into LF, and in an attribute also a
            // tab or LF into a blank: references keep them as they are.
            case u'\r': out += u"&#13;"; break;
            case u'\n': out += attribute ? u"&#10;" : u"\n"; break;
            case u'\t': out += attribute ? u"&#9;" : u"\t"; break;
            case u'\'': out += attribute ? u"&apos;" : u"'"; break;
            default: out += c;
        }
    }
}

}  // namespace

std::u16string XmlElement(const std::u16string& value, const std::u16string& tag, const std::u16string& attributeName,
                          const std::u16string& attributeValue) {
    std::u16string element = u"<" + tag;
    if (!attributeName.empty()) {
        element += u" " + attributeName + u" = '" + attributeValue + u"'";
    }
    element += u">" + value + u"</" + tag + u">";
    return element;
}

std::u16string XmlEscapeText(const std::u16string& value) {
    std::u16string out;
    out.reserve(value.size());
    Escape(out, value, false);
    return out;
}

std::u16string XmlEscapeAttribute(const std::u16string& value) {
    std::u16string out;
    out.reserve(value.size());
    Escape(out, value, true);
    return out;
}

void AppendEscapedText(std::u16string& out, std::u16string_view value) { Escape(out, value, false); }

void AppendEscapedAttribute(std::u16string& out, std::u16string_view value) { Escape(out, value, true); }

void AppendTextElement(std::u16string& out, std::u16string_view tag, std::u16string_view value) {
    out += u'<';
    out += tag;
    out += u'>';
    Escape(out, value, false);
    out += u"</";
    out += tag;
    out += u'>';
}

void AppendXmlHead(std::u16string& out, std::u16string_view cabinetName) {
    out += u"<?xml version=\"1.0\"?><CABFILE CABFILENAME = '";
    Escape(out, cabinetName, true);
    out += u"'><FILES>";
}

void AppendFileElement(std::u16string& out, std::u16string_view fullName, std::u16string_view lastName,
                       std::u16string_view date, int32_t size, std::u16string_view directory) {
    out += u"<FILE>";
    AppendTextElement(out, u"FULLNAME", fullName);
    AppendTextElement(out, u"NAME", lastName);
    AppendTextElement(out, u"DATE", date);
    char digits[16];
    char* end = std::to_chars(digits, digits + sizeof digits, size).ptr;
    out += u"<SIZE>";
    out.append(&digits[0], end);
    out += u"</SIZE>";
    AppendTextElement(out, u"PATH", directory);
    out += u"</FILE>\r\n";
}

}  // namespace cabinet
