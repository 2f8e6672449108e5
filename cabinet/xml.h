// SPDX-License-Identifier: MIT
// The element builder of the XML listing, and the escaping that keeps the
// listing well-formed whatever the names in a cabinet hold.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cabinet {

// One element: "<" tag, then " name = 'value'" when an attribute name is
// given, ">", the content, "</" tag ">". The content and the attribute value
// are copied as they are, so that elements can nest: escape leaf values
// with XmlEscapeText and XmlEscapeAttribute first.
std::u16string XmlElement(const std::u16string& value, const std::u16string& tag, const std::u16string& attributeName,
                          const std::u16string& attributeValue);

// A value as element content: '&', '<' and '>' become entity references and
// a CR a character reference; a character no XML document may hold (the C0
// controls but tab, LF and CR) becomes '?', as characters the code page
// cannot hold do. Ordinary text comes through unchanged.
std::u16string XmlEscapeText(const std::u16string& value);

// A value for an attribute quoted with apostrophes: as XmlEscapeText, and
// '\'', tab and LF become references too.
std::u16string XmlEscapeAttribute(const std::u16string& value);

// The same, appended to `out`: a listing builds its text in place, with no
// temporary text per element.
void AppendEscapedText(std::u16string& out, std::u16string_view value);
void AppendEscapedAttribute(std::u16string& out, std::u16string_view value);
// XmlElement(XmlEscapeText(value), tag, u"", u""), appended to `out`.
void AppendTextElement(std::u16string& out, std::u16string_view tag, std::u16string_view value);

// The listing GetXML gives, in parts, for GetXML and for a program that
// writes the listing a part at a time: the head (the declaration, the
// CABFILE element with the cabinet's name, the FILES element opened), one
// FILE element per entry, and the tail.
void AppendXmlHead(std::u16string& out, std::u16string_view cabinetName);
// `date` is the entry's date in general-date form (EntryDates::text).
void AppendFileElement(std::u16string& out, std::u16string_view fullName, std::u16string_view lastName,
                       std::u16string_view date, int32_t size, std::u16string_view directory);
inline constexpr char16_t kXmlTail[] = u"</FILES></CABFILE>";

}  // namespace cabinet
