// SPDX-License-Identifier: MIT
// Test helpers: temporary folders, Wine-style prefixes with drive letters,
// files, external commands and cabinets made with gcab.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace testsupport {

namespace fs = std::filesystem;

// An environment variable set for the object's life; its old value (or its
// absence) comes back afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return path_; }
    fs::path operator/(const fs::path& rest) const { return path_ / rest; }

private:
    fs::path path_;
};

// A Wine-style prefix in a temporary folder: dosdevices/c: points at
// <prefix>/drive_c. WINEPREFIX points at it while the object lives and gets
// its old value back afterwards. On Windows (under Wine) the running
// prefix's drive links point into the folder instead, and come back after.
class WinePrefix {
public:
    WinePrefix();
    ~WinePrefix();
    WinePrefix(const WinePrefix&) = delete;
    WinePrefix& operator=(const WinePrefix&) = delete;

    const fs::path& root() const { return dir_.path(); }
    fs::path driveC() const { return dir_ / "drive_c"; }

    // Maps `letter`: (lower case) to `target`, creating the target folder.
    void mapDrive(char letter, const fs::path& target);

private:
    TempDir dir_;
    std::optional<ScopedEnv> prefixVariable_;
    std::set<char> mapped_;  // the letters mapDrive linked, besides c
};

void WriteFile(const fs::path& path, const std::string& bytes);
std::string ReadFile(const fs::path& path);

// Deterministic pseudo-random bytes; `seed` picks the sequence.
std::string PseudoRandomBytes(std::size_t size, uint32_t seed);
// Deterministic text of words from a small vocabulary: it compresses, with
// matches near and far, as real files do.
std::string PseudoText(std::size_t size, uint32_t seed);

struct CommandResult {
    int exitCode = -1;
    std::string output;  // standard output and standard error together
};
// Runs a shell command line. The exit code is -1 when it did not end normally.
CommandResult Run(const std::string& commandLine);
std::string ShellQuote(const std::string& text);

// Makes `cabinet` with gcab from the files under `root` (names relative to
// it, as gcab stores them, with '\' for '/'). Each file's modification time
// becomes its stored date, read in local time. Fails the test on error.
struct CabEntry {
    std::string name;  // relative path with '/', e.g. "sub/b.txt"
    std::string bytes;
};
void MakeCabWithGcab(const fs::path& cabinet, const fs::path& root, const std::vector<CabEntry>& entries,
                     bool compress);

// The files below a folder, by relative path with '/', and their bytes.
std::map<std::string, std::string> ReadTree(const fs::path& root);

// A result that differs only because the platform differs. Where each one
// applies and why is written down in one place: fixtures_posix.cpp and
// fixtures_win32.cpp. A test that meets one skips on it, saying why.
struct PlatformDifference {
    bool applies;
    const char* why;
};
// The fixtures' folders lie on the Unix side, which Windows reaches as
// another drive than the prefix's C:.
extern const PlatformDifference kFixtureFoldersOnAnotherDrive;
// File names cannot hold '<' or '>'.
extern const PlatformDifference kNoAngleBracketsInFileNames;
// A folder on a drive that does not exist is "file not found" (2), not
// "path not found" (3).
extern const PlatformDifference kMissingDriveIsFileNotFound;

// The shared cabinet corpus, when present.
std::optional<fs::path> CorpusDir();

// A small tmpfs mounted at `at` for the life of the object, when this
// process may mount: a real full disk.
class SmallDisk {
public:
    SmallDisk(const fs::path& at, std::size_t bytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool mounted() const { return mounted_; }

private:
    fs::path at_;
    bool mounted_ = false;
};

}  // namespace testsupport
