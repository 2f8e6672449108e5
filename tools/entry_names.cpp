// SPDX-License-Identifier: MIT
// Wildcards and host names of cabfile's entries (see entry_names.h).
#include "tools/entry_names.h"

#include "platform/runtime.h"

#ifndef _WIN32
#include <iconv.h>
#include <locale.h>
#endif

#include <algorithm>
#include <cctype>
#include <cwctype>
#include <string_view>

namespace cabfile_tool {

namespace {

// `text` folded to one case, with '\' for '/'.
std::u16string Normal(std::u16string_view text) {
    std::u16string folded = platform::FoldTextCase(text);
    std::replace(folded.begin(), folded.end(), u'/', u'\\');
    return folded;
}

// Where the class that opens at `at` ends (its ']'); npos when it does not.
// A ']' first in the class (after any '!' or '^') is one of it.
std::size_t ClassEnd(const std::u16string& text, std::size_t at) {
    std::size_t from = at + 1;
    if (from < text.size() && (text[from] == u'!' || text[from] == u'^')) {
        ++from;
    }
    return from < text.size() ? text.find(u']', from + 1) : std::u16string::npos;
}

#ifndef _WIN32
const auto kNoConversion = reinterpret_cast<iconv_t>(-1);
#endif

}  // namespace

Wildcard::Wildcard(std::u16string_view pattern) : plain_(pattern.find_first_of(u"*?[") == std::u16string_view::npos) {
    const std::u16string text = Normal(pattern);
    for (std::size_t at = 0; at < text.size(); ++at) {
        Token token;
        if (text[at] == u'*') {
            token.kind = Token::Run;
        } else if (text[at] == u'?') {
            token.kind = Token::One;
        } else if (const std::size_t end = ClassEnd(text, at); text[at] == u'[' && end != std::u16string::npos) {
            std::size_t from = at + 1;
            if (text[from] == u'!' || text[from] == u'^') {
                token.negated = true;
                ++from;
            }
            for (std::size_t i = from; i < end; ++i) {
                if (i + 2 < end && text[i + 1] == u'-') {
                    token.ranges.emplace_back(text[i], text[i + 2]);
                    i += 2;
                } else {
                    token.ranges.emplace_back(text[i], text[i]);
                }
            }
            at = end;
        } else {
            token.ranges.emplace_back(text[at], text[at]);
        }
        tokens_.push_back(std::move(token));
    }
}

bool Wildcard::Token::takes(char16_t c) const {
    if (kind == One) {
        return true;
    }
    const bool in = std::any_of(ranges.begin(), ranges.end(),
                                [c](const auto& range) { return range.first <= c && c <= range.second; });
    return in != negated;
}

bool Wildcard::Matches(std::u16string_view name) const {
    const std::u16string text = Normal(name);
    // Greedy, going back only to the latest '*': linear for the usual
    // patterns, never worse than pattern times name.
    std::size_t p = 0, t = 0, star = std::u16string::npos, resume = 0;
    while (t < text.size()) {
        if (p < tokens_.size() && tokens_[p].kind != Token::Run && tokens_[p].takes(text[t])) {
            ++p, ++t;
        } else if (p < tokens_.size() && tokens_[p].kind == Token::Run) {
            star = p++;
            resume = t;
        } else if (star != std::u16string::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < tokens_.size() && tokens_[p].kind == Token::Run) {
        ++p;
    }
    return p == tokens_.size();
}

HostNames::HostNames(bool lowercase, const std::string& encoding) : lowercase_(lowercase), encoding_(encoding) {
#ifndef _WIN32
    if (!encoding.empty()) {
        if (const iconv_t convert = ::iconv_open("UTF-8", encoding.c_str()); convert != kNoConversion) {
            convert_ = convert;
        }
    }
    if (lowercase) {
        locale_ = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    }
#endif
}

HostNames::~HostNames() {
#ifndef _WIN32
    if (convert_ != nullptr) {
        ::iconv_close(static_cast<iconv_t>(convert_));
    }
    if (locale_ != nullptr) {
        ::freelocale(static_cast<locale_t>(locale_));
    }
#endif
}

bool HostNames::usable() const { return encoding_.empty() || convert_ != nullptr; }

std::string HostNames::Of(const std::string& bytes, bool utf8, bool& converted) const {
    converted = true;
    std::string name = utf8 ? platform::TextToUtf8(platform::Utf8ToText(bytes)) : bytes;
    if (!utf8 && convert_ != nullptr) {
        converted = Convert(bytes, name);
    }
    std::replace(name.begin(), name.end(), '\\', '/');
    std::string path;
    for (std::size_t from = 0; from <= name.size();) {
        const std::size_t end = std::min(name.find('/', from), name.size());
        const std::string part = name.substr(from, end - from);
        if (!part.empty() && part != ".") {
            if (!path.empty()) {
                path += '/';
            }
            path += part == ".." ? std::string_view("xx") : std::string_view(part);
        }
        from = end + 1;
    }
    if (path.empty()) {
        path.push_back('x');  // a name of separators alone, as cabextract names it
    }
    return lowercase_ ? Lowered(path) : path;
}

bool HostNames::Convert(const std::string& bytes, std::string& name) const {
#ifndef _WIN32
    const auto convert = static_cast<iconv_t>(convert_);
    ::iconv(convert, nullptr, nullptr, nullptr, nullptr);
    std::string out(bytes.size() * 4 + 16, '\0');  // UTF-8 takes at most 4 bytes per character
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char* to = out.data();
    std::size_t outLeft = out.size();
    if (::iconv(convert, &in, &inLeft, &to, &outLeft) == static_cast<std::size_t>(-1)) {
        return false;
    }
    out.resize(out.size() - outLeft);
    name = std::move(out);
    return true;
#else
    (void)bytes;
    (void)name;
    return false;
#endif
}

// Every letter in lower case: by Unicode letter when the name is UTF-8 (as
// it is once converted), else by ASCII letter.
std::string HostNames::Lowered(const std::string& name) const {
    const std::u16string text = platform::Utf8ToText(name);
    if (platform::TextToUtf8(text) != name) {
        std::string lowered = name;
        for (char& c : lowered) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        return lowered;
    }
    std::u16string lowered;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
#ifndef _WIN32
        if (locale_ != nullptr) {
            c = static_cast<char32_t>(::towlower_l(static_cast<wint_t>(c), static_cast<locale_t>(locale_)));
        }
#else
        c = static_cast<char32_t>(std::towlower(static_cast<wint_t>(c)));
#endif
        if (c >= 0x10000) {
            lowered += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            lowered += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            lowered += static_cast<char16_t>(c);
        }
    }
    return platform::TextToUtf8(lowered);
}

}  // namespace cabfile_tool
