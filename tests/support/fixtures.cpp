// SPDX-License-Identifier: MIT
// Test helpers shared by every suite; what differs between Linux and
// Windows lives in fixtures_posix.cpp and fixtures_win32.cpp.
#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace testsupport {

void WriteFile(const fs::path& path, const std::string& bytes) {
    if (path.has_parent_path()) {
        fs::create_directories(path.parent_path());
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

std::string PseudoRandomBytes(std::size_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (auto& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<char>(state & 0xFF);
    }
    return bytes;
}

std::string PseudoText(std::size_t size, uint32_t seed) {
    static constexpr std::string_view kWords[] = {"the ",   "cabinet ", "folder ", "block ",  "of ",      "Varnholt ",
                                                  "entry ", "and ",     "data\n",  "window ", "install ", "0x7FFF "};
    constexpr std::size_t kWordCount = sizeof kWords / sizeof kWords[0];
    const std::string picks = PseudoRandomBytes(size, seed);
    std::string text(size, '\0');
    std::size_t at = 0;
    for (std::size_t i = 0; at < size; ++i) {
        const std::string_view word = kWords[static_cast<unsigned char>(picks[i % picks.size()]) % kWordCount];
        const std::size_t take = std::min(word.size(), size - at);
        std::copy_n(word.begin(), take, text.begin() + static_cast<std::ptrdiff_t>(at));
        at += take;
    }
    return text;
}

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

void MakeCabWithGcab(const fs::path& cabinet, const fs::path& root, const std::vector<CabEntry>& entries,
                     bool compress) {
    fs::create_directories(fs::absolute(cabinet).parent_path());
    std::string names;
    for (const auto& entry : entries) {
        WriteFile(root / entry.name, entry.bytes);
        names += ' ';
        names += ShellQuote(entry.name);
    }
    std::string command = "cd " + ShellQuote(root.string()) + " && gcab -c" + (compress ? " -z " : " ") +
                          ShellQuote(fs::absolute(cabinet).string()) + names;
    CommandResult made = Run(command);
    ASSERT_EQ(made.exitCode, 0) << command << "\n" << made.output;
}

std::map<std::string, std::string> ReadTree(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        if (item.is_regular_file()) {
            files[fs::relative(item.path(), root).generic_string()] = ReadFile(item.path());
        }
    }
    return files;
}

std::optional<fs::path> CorpusDir() {
    fs::path dir = VARNHOLT_CORPUS_DIR;
    std::error_code ec;
    if (fs::is_directory(dir, ec)) {
        return fs::canonical(dir, ec);
    }
    return std::nullopt;
}

}  // namespace testsupport
