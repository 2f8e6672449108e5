// SPDX-License-Identifier: MIT
// How cabfile matches and names entries: the wildcard patterns of -F and
// cat, and the names cabextract's command line writes on the host.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cabfile_tool {

// Wildcards over a whole name, as cabextract -F takes them: '*' any run of
// characters, directory separators included, '?' any one character, "[...]"
// one of a class ("[a-c]", "[!ch]" or "[^ch]" for any other); letters in
// any case, '\' and '/' alike. A '[' without its ']' stands for itself.
class Wildcard {
public:
    explicit Wildcard(std::u16string_view pattern);

    // True when the pattern holds no wildcard: it then names one name.
    bool plain() const { return plain_; }

    bool Matches(std::u16string_view name) const;

private:
    struct Token {
        enum Kind { Run, One, Class } kind = Class;  // a literal is a class of one
        bool negated = false;
        std::vector<std::pair<char16_t, char16_t>> ranges;

        bool takes(char16_t c) const;
    };

    std::vector<Token> tokens_;
    bool plain_ = false;
};

// How cabextract's line names an entry on the host, as cabextract does: a
// name flagged as UTF-8 as it is (invalid sequences as U+FFFD), any other
// as its stored bytes, or converted from the code page -e names; directories
// between '/' ('\' in the cabinet), empty and "." parts dropped, ".." as
// "xx", so that nothing lands outside the output directory; in lower case
// with -L.
class HostNames {
public:
    HostNames(bool lowercase, const std::string& encoding);
    ~HostNames();
    HostNames(const HostNames&) = delete;
    HostNames& operator=(const HostNames&) = delete;

    // False when -e names a code page the system does not know.
    bool usable() const;

    // The path, relative to the output directory, for an entry stored as
    // `bytes`; `converted` false when -e could not convert them.
    std::string Of(const std::string& bytes, bool utf8, bool& converted) const;

private:
    bool Convert(const std::string& bytes, std::string& name) const;
    std::string Lowered(const std::string& name) const;

    bool lowercase_;
    std::string encoding_;
    void* convert_ = nullptr;  // the iconv descriptor for -e; none without it, or where it is unknown
    void* locale_ = nullptr;   // C.UTF-8, for lower case by Unicode letter
};

}  // namespace cabfile_tool
