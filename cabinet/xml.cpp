// The XML listing's element builder and escaping.
#include "cabinet/xml.h"

namespace cabinet {

namespace {

std::u16string Escape(const std::u16string& value, bool apostrophe) {
    std::u16string out;
    out.reserve(value.size());
    for (char16_t c : value) {
        switch (c) {
            case u'&': out += u"&amp;"; break;
            case u'<': out += u"&lt;"; break;
            case u'>': out += u"&gt;"; break;
            case u'\'':
                out += apostrophe ? u"&apos;" : u"'";
                break;
            default: out += c;
        }
    }
    return out;
}

}  // namespace

std::u16string XmlElement(const std::u16string& value, const std::u16string& tag,
                          const std::u16string& attributeName, const std::u16string& attributeValue) {
    std::u16string element = u"<" + tag;
    if (!attributeName.empty()) {
        element += u" " + attributeName + u" = '" + attributeValue + u"'";
    }
    element += u">" + value + u"</" + tag + u">";
    return element;
}

std::u16string XmlEscapeText(const std::u16string& value) { return Escape(value, false); }

std::u16string XmlEscapeAttribute(const std::u16string& value) { return Escape(value, true); }

}  // namespace cabinet
