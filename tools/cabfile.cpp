// SPDX-License-Identifier: MIT
// cabfile: a command-line front end over CabFile, for scripts, benchmarks
// and checks, that also reads cabextract's command line.
//
//   cabfile [OPTIONS] count|list CAB
//   cabfile [OPTIONS] xml|info CAB [NAME]
//   cabfile [OPTIONS] cat CAB [PATTERN...]
//   cabfile [OPTIONS] test CAB...
//   cabfile [OPTIONS] extract CAB OUTDIR [NAME [OUTNAME]]
//   cabfile [-d DIR] [-F PATTERN]... [-lptqLfs] [-e ENCODING] CAB...   (as cabextract)
//   cabfile --help | --version
//
// A line whose first operand is one of the commands, with no option only
// cabextract's line has (-d, -l, -p, -t, -s), is ours; any other is read as
// cabextract reads it. CAB and OUTDIR are drive paths ("D:\Install\x.cab")
// or host paths, turned into their drive form first. A CAB that is not
// itself a cabinet but holds one (a self-extracting program) is read at the
// first plausible cabinet header in it. Exit status: 0 done, 1 a failure
// (each said on standard error with the cabinet, the entry and the system's
// words and number), 2 a wrong command line, 3 `test` asked of a build
// without the engine.
#include "cabinet/cab_file.h"
#include "cabinet/errors.h"
#include "cabinet/xml_listing.h"
#include "platform/calendar.h"
#include "platform/drives.h"
#include "platform/kernel.h"
#include "platform/runtime.h"
#include "tools/cabinet_search.h"
#include "tools/entry_names.h"
#ifndef _WIN32
#include "platform/posix/engine_files.h"
#include "platform/posix/host_errors.h"
#include "tools/cabinet_check.h"
#endif

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/mman.h>
#include <sys/syscall.h>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

using cabfile_tool::HostNames;
using cabfile_tool::Wildcard;

constexpr int kExitRaised = 1;
constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    "usage: cabfile [OPTIONS] COMMAND CAB [ARGUMENTS]\n"
    "       cabfile [-d DIR] [-F PATTERN]... [-lptqLfs] [-e ENCODING] CAB...   (as cabextract)\n"
    "Commands:\n"
    "  count CAB                   the number of entries\n"
    "  list CAB                    size, date and time, and name of every entry, one a line\n"
    "  info CAB [NAME]             name, date and size of every entry, or of NAME, tab-separated\n"
    "  xml CAB [NAME]              the XML listing of every entry, or of NAME\n"
    "  cat CAB [PATTERN...]        the bytes of the entries named, in the order named,\n"
    "                              or of every entry, on standard output; all or nothing\n"
#ifndef _WIN32
    "  test CAB...                 decode every entry and check every checksum, writing nothing\n"
#endif
    "  extract CAB OUTDIR [NAME [OUTNAME]]\n"
    "                              every entry, or those named NAME (under OUTNAME), into OUTDIR\n"
    "A line whose first operand is not a command, or that has -d, -l, -p, -t or -s,\n"
    "is read as cabextract reads it: every CAB is extracted into DIR (default .).\n"
    "Options:\n"
    "  -d, --directory DIR  extract into DIR, made when missing\n"
    "  -F, --filter PATTERN take only the entries whose full name matches PATTERN\n"
    "                       (*, ? and [...], any case, \\ and / alike; * crosses\n"
    "                       folders); repeatable\n"
    "  -l, --list           list the entries, as cabextract -l\n"
    "  -p, --pipe           the entries' bytes on standard output, as cat\n"
    "  -t, --test           as test\n"
    "  -q, --quiet          no progress, and no line for each entry\n"
    "  -L, --lowercase      write names in lower case\n"
    "  -f, --fix            go on past a damaged entry, saying each; exit 1 at the end\n"
    "                       (cabextract's line always does)\n"
    "  -e, --encoding ENC   the code page of names not flagged as UTF-8 (iconv's names,\n"
    "                       such as CP932, CP866, KOI8-R); default: their bytes as stored\n"
    "  -s, --single         accepted, and said to change nothing\n"
    "  -h, --help           show this help and exit\n"
    "  -v, --version        show the version and exit\n"
    "NAME and PATTERN take \\ and / alike; a NAME or PATTERN that matches no entry is an\n"
    "error. CAB and OUTDIR may be drive paths (C:\\dir) or host paths (/dir); a CAB that\n"
    "holds a cabinet further in, such as a self-extracting .exe, is read there.\n"
#ifdef _WIN32
    "Exit status: 0 done, 1 a failure, 2 a wrong command line, 3 'test', which this\n"
    "build does not have (it reads through the cabinet engine). See cabfile(1).\n";
#else
    "Exit status: 0 done, 1 a failure, 2 a wrong command line. See cabfile(1).\n";
#endif

// A wrong command line: what was wrong, and where to read more, on standard error.
int UsageError(const std::string& problem) {
    std::cerr << "cabfile: " << problem << "\ntry 'cabfile --help'\n";
    return kExitUsage;
}

bool IsDrivePath(const std::string& path) {
    return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

// A drive path as given; a host path in its drive form. Arguments arrive in
// the host's encoding (UTF-8).
std::u16string ToDrivePath(const std::string& argument) {
    if (IsDrivePath(argument) || argument.starts_with('\\')) {
        return platform::Utf8ToText(argument);
    }
    return platform::AnsiToText(platform::HostPathToDosPath(argument));
}

std::u16string Argument(const std::vector<std::string>& args, std::size_t index) {
    return index < args.size() ? platform::Utf8ToText(args[index]) : std::u16string();
}

// Writes all of `size` bytes to the descriptor `fd`. Returns 0 or errno.
int WriteAllTo(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        constexpr std::size_t kMost = 1 << 30;
        const auto wrote = ::write(fd, data, static_cast<unsigned>(std::min(size, kMost)));
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return wrote < 0 ? errno : EIO;
        }
        data += wrote;
        size -= static_cast<std::size_t>(wrote);
    }
    return 0;
}

// Standard output, written through a buffer of our own with write(2), so
// that no failure goes unseen: a short write, a reader that has gone
// (EPIPE, when SIGPIPE is ignored), a full disk. The first failure is kept;
// nothing more is written after it, and the command ends failing.
class StandardOutput {
public:
    static constexpr std::size_t kBuffer = 64 * 1024;

    // False once anything written has failed.
    bool write(std::string_view bytes) {
        if (error_ != 0) {
            return false;
        }
        written_ = written_ || !bytes.empty();
        if (buffer_.size() + bytes.size() > kBuffer) {
            if (!flush()) {
                return false;
            }
            if (bytes.size() >= kBuffer) {
                return (error_ = WriteAllTo(STDOUT_FILENO, bytes.data(), bytes.size())) == 0;
            }
        }
        buffer_.append(bytes);
        return true;
    }
    bool write(const unsigned char* bytes, std::size_t size) {
        return write(std::string_view(reinterpret_cast<const char*>(bytes), size));
    }

    bool flush() {
        if (error_ == 0 && !buffer_.empty()) {
            error_ = WriteAllTo(STDOUT_FILENO, buffer_.data(), buffer_.size());
        }
        buffer_.clear();
        return error_ == 0;
    }

    // Flushes and closes standard output: a file system may report a
    // failed write only then. A command that wrote nothing has nothing to
    // lose (standard output may even be closed). Returns 0 or the errno of
    // the first failure.
    int finish() {
        flush();
        if (!closed_ && written_) {
            closed_ = true;
            if (::close(STDOUT_FILENO) != 0 && error_ == 0 && errno != EINTR) {
                error_ = errno;
            }
        }
        return error_;
    }

private:
    std::string buffer_;
    int error_ = 0;
    bool written_ = false;
    bool closed_ = false;
};

StandardOutput& Out() {
    static StandardOutput output;
    return output;
}

// Writes `text` as UTF-8, a slice at a time: a listing can be tens of
// megabytes, and a whole second copy of it would double the tool's memory.
void Print(std::u16string_view text) {
    constexpr std::size_t kSlice = 64 * 1024;
    while (!text.empty()) {
        std::size_t take = std::min(kSlice, text.size());
        if (take < text.size() && text[take - 1] >= 0xD800 && text[take - 1] <= 0xDBFF) {
            --take;  // keep a surrogate pair together
        }
        Out().write(platform::TextToUtf8(text.substr(0, take)));
        text.remove_prefix(take);
    }
}

// One line on a terminal, rewritten in place at most every kInterval:
// entries and bytes extracted of the total. Shows the final count and ends
// its line when it goes, so whatever follows (an error among them) starts on
// a fresh one.
class ProgressLine {
public:
    ProgressLine(uint32_t entries, uint64_t bytes) : totalEntries_(entries), totalBytes_(bytes) { Show(); }
    ~ProgressLine() {
        Show();
        std::fputc('\n', stderr);
    }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void Advance(uint64_t bytes) {
        ++entries_;
        bytes_ += bytes;
        if (std::chrono::steady_clock::now() - shownAt_ >= kInterval) {
            Show();
        }
    }

private:
    static constexpr auto kInterval = std::chrono::milliseconds(100);

    void Show() {
        // One unit for both byte counts, chosen by the total.
        static constexpr const char* kUnits[] = {"B", "KB", "MB", "GB", "TB"};
        std::size_t unit = 0;
        double scale = 1;
        while (unit + 1 < std::size(kUnits) && totalBytes_ >= scale * 1024) {
            scale *= 1024;
            ++unit;
        }
        const int precision = unit == 0 ? 0 : 1;
        const int length = std::fprintf(stderr, "\r%u/%u entries, %.*f/%.*f %s", entries_, totalEntries_, precision,
                                        bytes_ / scale, precision, totalBytes_ / scale, kUnits[unit]);
        // Blank what a longer earlier line left behind.
        std::fprintf(stderr, "%*s", length < width_ ? width_ - length : 0, "");
        width_ = std::max(width_, length);
        std::fflush(stderr);
        shownAt_ = std::chrono::steady_clock::now();
    }

    uint32_t totalEntries_;
    uint64_t totalBytes_;
    uint32_t entries_ = 0;
    uint64_t bytes_ = 0;
    int width_ = 0;
    std::chrono::steady_clock::time_point shownAt_;
};

// One entry a line, as cabextract -l shows them: the size, the stored date
// and time (day.month.year), and the full name with '/' between directories.
void PrintListLine(const std::u16string& name, double date, int32_t size, const std::u16string& path) {
    constexpr auto kSecondsPerDay = static_cast<int>(platform::kSecondsPerDay);
    const double day = std::floor(date);
    const auto seconds = static_cast<int>(std::lround((date - day) * kSecondsPerDay));  // a whole day at most
    const std::chrono::year_month_day calendar{std::chrono::sys_days{std::chrono::days{
        static_cast<int>(day) - static_cast<int>(platform::kDaysFromDateZeroTo1970) + seconds / kSecondsPerDay}}};
    const int time = seconds % kSecondsPerDay;
    std::u16string full = path + name;
    std::replace(full.begin(), full.end(), u'\\', u'/');
    char columns[64];
    std::snprintf(columns, sizeof columns, "%10u | %02u.%02u.%04d %02d:%02d:%02d | ", static_cast<uint32_t>(size),
                  static_cast<unsigned>(calendar.day()), static_cast<unsigned>(calendar.month()),
                  static_cast<int>(calendar.year()), time / 3600, time / 60 % 60, time % 60);
    Out().write(columns);
    Print(full);
    Out().write("\n");
}

// The directory of private copies, while there is one: emptied and removed
// by the signal handler as well, so that SIGINT, SIGTERM, SIGHUP and
// SIGPIPE leave nothing behind. Only async-signal-safe calls touch it there.
char g_scratchDirectory[4096];

#ifndef _WIN32
void RemoveScratchDirectory() noexcept {
    if (g_scratchDirectory[0] == '\0') {
        return;
    }
    const int directory = ::open(g_scratchDirectory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        // struct linux_dirent64, which glibc does not declare.
        struct Entry {
            uint64_t inode;
            int64_t offset;
            unsigned short length;
            unsigned char type;
            char name[1];
        };
        alignas(Entry) char entries[4096];
        long got = 0;
        while ((got = ::syscall(SYS_getdents64, directory, entries, sizeof entries)) > 0) {
            for (long at = 0; at < got;) {
                const auto* entry = reinterpret_cast<const Entry*>(entries + at);
                if (std::strcmp(entry->name, ".") != 0 && std::strcmp(entry->name, "..") != 0) {
                    ::unlinkat(directory, entry->name, 0);
                }
                at += entry->length;
            }
        }
        ::close(directory);
    }
    ::rmdir(g_scratchDirectory);
    g_scratchDirectory[0] = '\0';
}

extern "C" void EndOnSignal(int signal) {
    RemoveScratchDirectory();
    ::raise(signal);  // its own disposition again (SA_RESETHAND): the conventional end
}

// Signals that end the process by default end it through EndOnSignal; one
// the caller ignores (SIGPIPE, often) stays ignored.
void CatchEndingSignals() {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        struct sigaction before {};
        if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_DFL) {
            struct sigaction action {};
            action.sa_handler = EndOnSignal;
            action.sa_flags = SA_RESETHAND;
            sigemptyset(&action.sa_mask);
            ::sigaction(signal, &action, nullptr);
        }
    }
}

// A file without a name, gone with its descriptor however the process
// ends: in the temporary directory, else in memory. -1 when none can be made.
int UnnamedFile() {
    const char* directory = std::getenv("TMPDIR");
    const int fd = ::open(directory != nullptr && *directory != '\0' ? directory : "/tmp",
                          O_TMPFILE | O_RDWR | O_CLOEXEC, S_IRUSR | S_IWUSR);
    return fd >= 0 ? fd : ::memfd_create("cabfile-cabinet", MFD_CLOEXEC);
}
#else
void RemoveScratchDirectory() noexcept {
    std::error_code ignored;
    std::filesystem::remove_all(g_scratchDirectory, ignored);
    g_scratchDirectory[0] = '\0';
}
void CatchEndingSignals() {}
int UnnamedFile() { return -1; }  // private copies are named here
#endif

// A directory of our own, readable by us alone, under the host's temporary
// directory; removed with all it holds when the object goes, or when a signal
// ends the process. Empty path() and the reason in error() when it could
// not be made.
class TemporaryDirectory {
public:
    TemporaryDirectory() {
        namespace fs = std::filesystem;
        const fs::path base = fs::temp_directory_path(error_);
        std::random_device random;
        for (int attempt = 0; !error_ && attempt < 100; ++attempt) {
            char name[32];
            std::snprintf(name, sizeof name, "cabfile.%08x", static_cast<unsigned>(random()));
            const std::string path = (base / name).string();
            if (path.size() >= sizeof g_scratchDirectory) {
                error_ = std::make_error_code(std::errc::filename_too_long);
                break;
            }
            // Known to the signal handler before it exists, and nothing is
            // written into it before its permissions are ours alone.
            std::memcpy(g_scratchDirectory, path.c_str(), path.size() + 1);
            if (fs::create_directory(path, error_)) {
                path_ = path;
                fs::permissions(path_, fs::perms::owner_all, fs::perm_options::replace, error_);
                break;
            }
            g_scratchDirectory[0] = '\0';
        }
        if (error_ || path_.empty()) {
            if (!path_.empty()) {
                RemoveScratchDirectory();
            }
            path_.clear();
            if (!error_) {
                error_ = std::make_error_code(std::errc::file_exists);
            }
        }
    }
    ~TemporaryDirectory() {
        if (!path_.empty()) {
            RemoveScratchDirectory();
        }
    }
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::string& path() const { return path_; }
    std::error_code error() const { return error_; }

private:
    std::string path_;
    std::error_code error_;
};

// The host path a CAB argument names; drive paths as the platform resolves them.
std::string HostPathOf(const std::string& argument) {
    if (!IsDrivePath(argument) && !argument.starts_with('\\')) {
        return argument;
    }
    uint32_t error = 0;
    return platform::DosPathToHostPath(platform::TextToAnsi(platform::Utf8ToText(argument)), &error).value_or(argument);
}

// Copies `size` bytes at `offset` of `from` through `write`, which returns
// 0 or an errno. Returns 0 or the errno of the failure.
int CopyStretch(std::istream& from, uint64_t offset, uint64_t size,
                const std::function<int(const char*, std::size_t)>& write) {
    from.clear();
    from.seekg(static_cast<std::streamoff>(offset));
    std::vector<char> buffer(1 << 20);
    while (size > 0) {
        const auto take = static_cast<std::streamsize>(std::min<uint64_t>(size, buffer.size()));
        from.read(buffer.data(), take);
        if (from.gcount() != take) {
            return EIO;  // the file has shrunk since it was searched
        }
        if (const int error = write(buffer.data(), static_cast<std::size_t>(take)); error != 0) {
            return error;
        }
        size -= static_cast<uint64_t>(take);
    }
    return 0;
}

// The cabinet a CabFile command reads. CabFile reads a cabinet file whole,
// from its first byte; so when the file named holds its cabinet further in,
// the command reads a private copy of just that cabinet: an unnamed file,
// which nothing can leave behind. A cabinet whose set goes on is copied
// with the later parts found beside it (each a cabinet, or holding one,
// under the name the part before gives) into a private directory instead, for
// CabFile to find them by name, removed when the command ends however it
// ends. A file that is a cabinet, or holds none, is read as it is, and
// CabFile reports on it as ever.
class CabinetInput {
public:
    explicit CabinetInput(const std::string& argument) : drivePath_(ToDrivePath(argument)) {
        std::filesystem::path host = HostPathOf(argument);
        std::error_code error;
        if (!std::filesystem::is_regular_file(host, error)) {
            return;  // opening a pipe could wait for ever; CabFile refuses it
        }
        std::ifstream file(host, std::ios::binary);
        const uint64_t size = std::filesystem::file_size(host, error);
        std::optional<cabfile_tool::CabinetPlace> place;
        if (!file || error || !(place = cabfile_tool::LocateCabinet(file, size)) || place->offset == 0) {
            return;
        }
        if (place->nextName.empty() && (copy_ = UnnamedFile()) >= 0) {
            const int fd = copy_;
            if (const int failed =
                    CopyStretch(file, place->offset, place->size,
                                [fd](const char* bytes, std::size_t count) { return WriteAllTo(fd, bytes, count); });
                failed != 0) {
                problem_ = "cannot copy the cabinet in '" + argument + "': " + std::strerror(failed);
                return;
            }
            drivePath_ = ToDrivePath("/proc/self/fd/" + std::to_string(fd));
            return;
        }
        copies_.emplace();
        if (copies_->path().empty()) {
            problem_ = "cannot make a temporary folder: " + copies_->error().message();
            return;
        }
        std::filesystem::path copy = std::filesystem::path(copies_->path()) / host.filename();
        drivePath_ = ToDrivePath(copy.string());
        // The parts of a set are 65,535 at most; a set that names itself
        // again stops at the copy already made.
        for (int part = 0; part < 65535; ++part) {
            std::ofstream out(copy, std::ios::binary | std::ios::trunc);
            const int failed =
                !out ? errno
                     : CopyStretch(file, place->offset, place->size, [&out](const char* bytes, std::size_t count) {
                           return out.write(bytes, static_cast<std::streamsize>(count)) ? 0 : EIO;
                       });
            if (failed != 0 || !out.flush()) {
                problem_ = "cannot copy the cabinet in '" + argument + "' to " + copies_->path() + ": " +
                           std::strerror(failed != 0 ? failed : EIO);
                return;
            }
            const std::string next = place->nextName;
            if (next.empty() || std::filesystem::exists(copy.parent_path() / next, error)) {
                return;
            }
            host = cabfile_tool::FindBeside(host.parent_path(), next);  // a regular file, or none
            file = std::ifstream(host, std::ios::binary);
            const uint64_t nextSize = host.empty() ? 0 : std::filesystem::file_size(host, error);
            if (host.empty() || !file || error || !(place = cabfile_tool::LocateCabinet(file, nextSize))) {
                return;  // missing: CabFile reports it as for any set
            }
            copy = copy.parent_path() / next;  // FindBeside took it as a name, not a path
            if (place->offset == 0) {
                place->size = nextSize;
            }
        }
    }
    ~CabinetInput() {
        if (copy_ >= 0) {
            ::close(copy_);
        }
    }
    CabinetInput(const CabinetInput&) = delete;
    CabinetInput& operator=(const CabinetInput&) = delete;

    // The drive path to give CabFile, and the one its listing shows.
    const std::u16string& drivePath() const { return drivePath_; }
    // Why the copy could not be made; "" when there is none or it was.
    const std::string& problem() const { return problem_; }

private:
    std::u16string drivePath_;
    int copy_ = -1;  // the unnamed copy
    std::optional<TemporaryDirectory> copies_;
    std::string problem_;
};

// `test` on each cabinet: one line on standard output for each that is
// whole, the first damaged entry (or what else is wrong) on standard error
// for each that is not. Returns the exit status.
int Test(const std::vector<std::string>& cabinets) {
#ifdef _WIN32
    // A well-formed command this build cannot run: a status of its own.
    constexpr int kExitNotInThisBuild = 3;
    (void)cabinets;
    std::cerr << "cabfile: 'test' reads through the cabinet engine, which this build does not have\n";
    return kExitNotInThisBuild;
#else
    int status = 0;
    for (const std::string& cabinet : cabinets) {
        const cabfile_tool::CheckResult result = cabfile_tool::CheckCabinet(HostPathOf(cabinet));
        if (result.problem.empty()) {
            std::string line = cabinet + ": " + std::to_string(result.entries) +
                               (result.entries == 1 ? " entry" : " entries") + " whole, ";
            if (result.uncheckedBlocks == 0) {
                line += "every checksum right\n";
            } else {
                // Nothing vouches for the bytes of a block stored without a checksum.
                line += "every checksum stored right; " + std::to_string(result.uncheckedBlocks) +
                        (result.uncheckedBlocks == 1 ? " data block carries" : " data blocks carry") + " no checksum\n";
            }
            Out().write(line);
            if (!result.begunEarlier.empty()) {
                std::string names;
                for (const std::string& name : result.begunEarlier) {
                    names += (names.empty() ? "'" : ", '") + name + "'";
                }
                Out().flush();
                std::cerr << "cabfile: " << cabinet << ": not tested, as they continue from " << result.earlierPart
                          << ", the part before: " << names << "\n";
            }
            continue;
        }
        status = kExitRaised;
        Out().flush();
        std::cerr << "cabfile: " << cabinet << ": " << (result.entry.empty() ? "" : "entry '" + result.entry + "': ")
                  << result.problem << "\n";
    }
    return status;
#endif
}

// A name as it may be shown on a terminal: UTF-8, control characters as '?',
// so that a damaged name cannot drive the terminal it is shown on.
std::string Shown(std::u16string_view name) {
    std::string shown = platform::TextToUtf8(name);
    std::replace_if(
        shown.begin(), shown.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }, '?');
    return shown;
}

// What failed, as the tool says it on standard error: what it was working
// on (the cabinet, or the output directory), the entry where there is one, the
// system's words and their number: "cabfile: doc.cab: 'a\2': Invalid data (13)".
void SayFailed(const std::string& what, std::u16string_view entry, int32_t number, std::u16string_view words) {
    Out().flush();
    std::u16string said(words);
    if (said.ends_with(u'.')) {
        said.pop_back();
    }
    std::cerr << "cabfile: " << what << ": " << (entry.empty() ? "" : "'" + Shown(entry) + "': ")
              << platform::TextToUtf8(said) << " (" << number << ")\n";
}

void SayFailed(const std::string& what, std::u16string_view entry, const platform::RaisedError& error) {
    SayFailed(what, entry, error.Number(), error.Description());
}

// One line on standard error about a cabinet that is not an error of the system's.
void Say(const std::string& cabinet, const std::string& words) {
    Out().flush();
    std::cerr << "cabfile: " << cabinet << ": " << words << "\n";
}

// An entry as a walk offers it: its full name as CabFile gives it ('\'
// between directories) and its size. A walk offers the same entries in the same
// order every time, so an entry is known by its place.
struct Listed {
    std::u16string name;
    uint32_t size = 0;
};

std::vector<Listed> ListEntries(cabinet::CabFile& cab) {
    std::vector<Listed> entries;
    const auto listing =
        cab.FileFound.Subscribe([&](const std::u16string& name, double, int32_t size, const std::u16string& path) {
            entries.push_back({path + name, static_cast<uint32_t>(size)});
        });
    try {
        cab.GetInfo(u"");
    } catch (const platform::RaisedError&) {
        cab.FileFound.Unsubscribe(listing);
        throw;
    }
    cab.FileFound.Unsubscribe(listing);
    return entries;
}

// The places of the entries an argument names. A pattern (with '*', '?' or
// "[...]") takes every entry it matches, in cabinet order; a plain name the
// entries of exactly that name, else those of that name in another case:
// "README" is not "readme" when the cabinet holds both.
std::vector<std::size_t> Selected(const std::vector<Listed>& entries, const std::string& argument) {
    const Wildcard pattern(platform::Utf8ToText(argument));
    std::u16string name = platform::Utf8ToText(argument);
    std::replace(name.begin(), name.end(), u'/', u'\\');
    std::vector<std::size_t> exact, matched;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (pattern.Matches(entries[i].name)) {
            matched.push_back(i);
            if (entries[i].name == name) {
                exact.push_back(i);
            }
        }
    }
    return pattern.plain() && !exact.empty() ? exact : matched;
}

#ifndef _WIN32
// The Win32 code and words for a host failure, as the cabinet service gives them.
void SayHostFailed(const std::string& what, int error, platform::IoOperation operation) {
    const auto code = static_cast<int32_t>(platform::Win32FromErrno(error, operation));
    SayFailed(what, u"", code, cabinet::Win32ErrorText(code));
}
#endif

// Makes the output directory and the directories on the way, as cabextract -d
// does, and checks that entries can be written there; its host path in
// `host`. False, having said why, when they cannot.
bool PrepareOutputDirectory(const std::string& argument, std::string& host) {
    host = HostPathOf(argument);
#ifndef _WIN32
    std::error_code error;
    std::filesystem::create_directories(host, error);
    if (error) {
        SayHostFailed(argument, error.value(), platform::IoOperation::Create);
        return false;
    }
    if (!std::filesystem::is_directory(host, error)) {
        SayHostFailed(argument, ENOTDIR, platform::IoOperation::Create);
        return false;
    }
    if (::access(host.c_str(), W_OK | X_OK) != 0) {
        SayHostFailed(argument, errno, platform::IoOperation::Create);
        return false;
    }
    host = std::filesystem::absolute(host, error).lexically_normal().string();
    while (host.size() > 1 && host.back() == '/') {
        host.pop_back();
    }
#endif
    return true;
}

// The name an entry whose own name the walk cannot write is written
// under, in the output directory, until it is moved to its own.
constexpr char16_t kStandInName[] = u".cabfile-entry.partial";

// What an extraction is asked to do.
struct ExtractJob {
    std::string cabinet;                 // as given, for what the tool says
    std::string directoryArgument;       // the output directory as given
    std::string hostDirectory;           // its host path
    std::u16string outputName;           // OUTNAME: every entry taken is written under it
    std::vector<bool> taken;             // by place
    bool keepGoing = false;              // past a damaged entry, to the next
    bool progress = false;               // the progress line on standard error
    bool lines = false;                  // "  extracting NAME" for each entry, as cabextract says it
    bool caseFolded = true;              // names in another case are one file here, as on Wine's drives
    std::vector<std::string> hostNames;  // by place, where entries are moved once written; empty: where written
};

// Extracts the entries taken, through CabFile, in one walk; past a damaged
// entry with keepGoing, by walking again for the entries not yet done, each
// entry said once. Returns the number of entries that failed, or -1 when
// the cabinet itself could not be read.
int ExtractEntries(cabinet::CabFile& cab, const ExtractJob& job, const std::vector<Listed>& entries) {
    enum class State : uint8_t { Waiting, Later, Done, Failed };
    std::vector<State> state(entries.size(), State::Waiting);
    std::optional<std::size_t> only;  // the one entry a walk is for
    int failed = 0;
    const auto fail = [&](std::size_t at) {
        state[at] = State::Failed;
        ++failed;
    };
    // Entries written, by their names folded to one case, where a directory
    // folds names (two that differ only in case would be one file).
    std::unordered_map<std::u16string, std::size_t> landed;
    std::optional<std::size_t> current;  // the entry the walk writes now
    std::size_t offered = 0;
    // An entry taken that ends without being written and without a failed
    // walk is one whose directory could not be made, which CabFile passes over.
    const auto passedOver = [&] {
        if (current && state[*current] == State::Waiting) {
            Say(job.cabinet,
                "'" + Shown(entries[*current].name) + "': its folder cannot be made in " + job.directoryArgument);
            fail(*current);
        }
        current.reset();
    };
    std::optional<ProgressLine> line;
    if (job.progress) {
        uint64_t bytes = 0;
        uint32_t count = 0;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (job.taken[i]) {
                bytes += entries[i].size;
                ++count;
            }
        }
        line.emplace(count, bytes);
    }
    const auto before = cab.BeforeExtract.Subscribe([&](const std::u16string& fullName, bool& cancel) {
        passedOver();
        const std::size_t at = offered++;
        cancel = at >= entries.size() || !job.taken[at] || state[at] != State::Waiting || (only && at != *only);
        if (cancel) {
            return;
        }
        if (job.caseFolded && job.outputName.empty() && !only) {
            const auto [first, added] = landed.emplace(platform::FoldTextCase(fullName), at);
            if (!added && entries[first->second].name != fullName) {
                Say(job.cabinet, "'" + Shown(fullName) + "' and '" + Shown(entries[first->second].name) +
                                     "' differ only in case and would be one file in " + job.directoryArgument +
                                     "; the first is kept (cabextract's command line writes both)");
                cancel = true;
                fail(at);
                return;
            }
        }
        current = at;
    });
    const auto after = cab.AfterExtract.Subscribe([&](const std::u16string& written) {
        if (!current) {
            return;
        }
        const std::size_t at = *current;
        current.reset();
        state[at] = State::Done;
        std::string shownPath = platform::TextToUtf8(written);
#ifndef _WIN32
        uint32_t error = 0;
        const std::optional<std::string> host = platform::DosPathToHostPath(platform::TextToAnsi(written), &error);
        if (host) {
            shownPath = *host;
        }
        if (host && !job.hostNames.empty()) {
            namespace fs = std::filesystem;
            const fs::path from = *host;
            const fs::path to = fs::path(job.hostDirectory) / job.hostNames[at];
            std::error_code failure;
            if (from != to) {
                fs::create_directories(to.parent_path(), failure);
                if (!failure) {
                    fs::rename(from, to, failure);
                }
                if (failure) {
                    SayHostFailed(job.cabinet + ": '" + Shown(entries[at].name) + "' as " + to.string(),
                                  failure.value(), platform::IoOperation::Rename);
                    fs::remove(from, failure);
                    fail(at);
                    return;
                }
                // Directories made under the stored name, left empty by the move.
                for (fs::path directory = from.parent_path();
                     directory != to.parent_path() && directory.string().size() > job.hostDirectory.size() &&
                     fs::is_empty(directory, failure) && fs::remove(directory, failure);
                     directory = directory.parent_path()) {
                }
            }
            shownPath = to.string();
        }
#endif
        if (job.lines) {
            // As cabextract says it: the directory as given, then the name.
            const std::string name = job.hostNames.empty() ? shownPath : job.hostNames[at];
            Out().write("  extracting " + (job.directoryArgument == "." ? "" : job.directoryArgument + "/") + name +
                        "\n");
        }
        if (line) {
            line->Advance(entries[at].size);
        }
    });
    // Entries whose names the walk cannot write (a character the code page
    // lacks or Windows forbids, a directory part it refuses, a path past 259
    // bytes), where the tool names entries itself: each is written alone
    // under a stand-in name afterwards and then moved to its own.
    std::vector<std::size_t> renamedLater;
    const auto underOwnName = [&](const platform::RaisedError& error) {
        constexpr int32_t kIndexOutOfRange = 9;  // the target name does not fit the platform's buffer
        return !job.hostNames.empty() && !only &&
               (error.Number() == static_cast<int32_t>(platform::ERROR_INVALID_NAME) ||
                error.Number() == kIndexOutOfRange);
    };
    int result = 0;
    for (;;) {
        offered = 0;
        current.reset();
        try {
            cab.Extract(u"", ToDrivePath(job.directoryArgument), only ? kStandInName : job.outputName);
            passedOver();
        } catch (const platform::RaisedError& error) {
            if (!current) {
                SayFailed(job.cabinet, u"", error);
                result = -1;
                break;
            }
            if (underOwnName(error)) {
                state[*current] = State::Later;
                renamedLater.push_back(*current);
                continue;
            }
            SayFailed(job.cabinet, entries[*current].name, error);
            fail(*current);
            if (job.keepGoing) {
                continue;
            }
        }
        if (!job.keepGoing && failed > 0) {
            break;
        }
        if (renamedLater.empty()) {
            break;
        }
        only = renamedLater.front();
        renamedLater.erase(renamedLater.begin());
        state[*only] = State::Waiting;
    }
    if (result == 0) {
        result = failed;
    }
    cab.BeforeExtract.Unsubscribe(before);
    cab.AfterExtract.Unsubscribe(after);
    return result;
}

// The bytes of the entries at `places`, one after the other, on standard
// output. Every entry is decoded whole into an unnamed temporary file
// first, where a damaged one fails before a byte of any reaches the output:
// standard output gets all of them or nothing, and nothing is left behind
// however the command ends.
int Cat(cabinet::CabFile& cab, const std::string& cabinet, const std::vector<Listed>& entries,
        const std::vector<std::size_t>& places) {
#ifdef _WIN32
    TemporaryDirectory scratch;
    if (scratch.path().empty()) {
        std::cerr << "cabfile: cannot make a temporary folder: " << scratch.error().message() << "\n";
        return kExitRaised;
    }
    const std::u16string directory = ToDrivePath(scratch.path());
    for (std::size_t i = 0; i < places.size(); ++i) {
        std::size_t offered = 0;
        const auto only =
            cab.BeforeExtract.Subscribe([&](const std::u16string&, bool& cancel) { cancel = offered++ != places[i]; });
        try {
            cab.Extract(u"", directory, platform::Utf8ToText(std::to_string(i)));
        } catch (const platform::RaisedError& error) {
            cab.BeforeExtract.Unsubscribe(only);
            SayFailed(cabinet, entries[places[i]].name, error);
            return kExitRaised;
        }
        cab.BeforeExtract.Unsubscribe(only);
    }
    for (std::size_t i = 0; i < places.size(); ++i) {
        std::ifstream entry(scratch.path() + "/" + std::to_string(i), std::ios::binary);
        std::vector<char> buffer(1 << 16);
        while (entry.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || entry.gcount() > 0) {
            if (!Out().write(std::string_view(buffer.data(), static_cast<std::size_t>(entry.gcount())))) {
                return 0;  // the output's failure ends the command
            }
        }
        if (!entry) {
            Say(cabinet, "cannot read back '" + Shown(entries[places[i]].name) + "'");
            return kExitRaised;
        }
    }
    return 0;
#else
    (void)cab;
    const std::vector<cabfile_tool::StoredName> stored = cabfile_tool::StoredNames(HostPathOf(cabinet));
    for (const std::size_t place : places) {
        if (place < stored.size() && !stored[place].earlierPart.empty()) {
            Say(cabinet, "'" + Shown(entries[place].name) + "' continues from " + stored[place].earlierPart +
                             ", the part before; read it from the set's first part");
            return kExitRaised;
        }
    }
    const cabfile_tool::CatResult result =
        cabfile_tool::CatEntries(HostPathOf(cabinet), places,
                                 [](const unsigned char* bytes, std::size_t size) { return Out().write(bytes, size); });
    if (result.error != 0) {
        // The number and words the cabinet service gives for it, as CabFile raises them.
        const auto code = static_cast<int32_t>(result.error);
        SayFailed(cabinet, result.entry, code, cabinet::Win32ErrorText(code));
        return kExitRaised;
    }
    if (!result.problem.empty()) {
        Say(cabinet, result.problem);
        return kExitRaised;
    }
    if (result.missing) {
        Say(cabinet, "'" + Shown(entries[places[*result.missing]].name) + "' is not found again");
        return kExitRaised;
    }
    return 0;
#endif
}

// The places the arguments name, each argument's in turn; every entry in
// cabinet order when there are none. False, having said which, when one
// names no entry.
bool PlacesNamed(const std::string& cabinet, const std::vector<Listed>& entries,
                 const std::vector<std::string>& arguments, std::vector<std::size_t>& places) {
    if (arguments.empty()) {
        for (std::size_t i = 0; i < entries.size(); ++i) {
            places.push_back(i);
        }
        return true;
    }
    bool all = true;
    for (const std::string& argument : arguments) {
        const std::vector<std::size_t> named = Selected(entries, argument);
        if (named.empty()) {
            Say(cabinet, "no entry matches '" + argument + "'");
            all = false;
        }
        places.insert(places.end(), named.begin(), named.end());
    }
    return all;
}

// Everything a command line asks for, read from either form of it.
struct Options {
    bool quiet = false;
    bool keepGoing = false;  // -f
    bool lowercase = false;  // -L
    bool single = false;     // -s
    std::string encoding;    // -e
    std::vector<std::string> filters;
    // The cabextract form only.
    std::optional<std::string> directory;  // -d
    bool list = false, test = false, pipe = false;
};

// The cabinet a command works on, opened through CabFile; `input` keeps
// what it reads (a private copy of an embedded cabinet) while it does.
std::shared_ptr<cabinet::CabFile> OpenCab(const CabinetInput& input) {
    auto cab = cabinet::CabFile::Create();
    cab->SetCabName(input.drivePath());
    return cab;
}

// A cabinet opened and its entries listed, with the object that listed them.
struct OpenedCabinet {
    std::shared_ptr<cabinet::CabFile> cab;
    std::vector<Listed> entries;
};

// Opens the cabinet `input` reads and lists it; nothing, with the failure
// said on standard error, when it cannot be opened or listed. `input` must
// outlive what this returns.
std::optional<OpenedCabinet> OpenAndList(const std::string& cabinet, const CabinetInput& input) {
    if (!input.problem().empty()) {
        Say(cabinet, input.problem());
        return std::nullopt;
    }
    OpenedCabinet opened{OpenCab(input), {}};
    try {
        opened.entries = ListEntries(*opened.cab);
    } catch (const platform::RaisedError& error) {
        SayFailed(cabinet, u"", error);
        return std::nullopt;
    }
    return opened;
}

// `extract` on one cabinet, for either command line; returns the exit status.
int ExtractCabinet(const std::string& cabinet, const std::string& directory, const std::string& name,
                   const std::string& outputName, const Options& options, bool cabextractLine,
                   std::vector<bool>* filterMatched) {
    const CabinetInput input(cabinet);
    auto opened = OpenAndList(cabinet, input);
    if (!opened) {
        return kExitRaised;
    }
    auto& [cab, entries] = *opened;
    ExtractJob job;
    job.cabinet = cabinet;
    job.directoryArgument = directory;
    job.outputName = platform::Utf8ToText(outputName);
    job.keepGoing = options.keepGoing || cabextractLine;
    job.lines = cabextractLine && !options.quiet;
    job.progress = !cabextractLine && !options.quiet && isatty(STDERR_FILENO) == 1;
    job.taken.assign(entries.size(), name.empty() && options.filters.empty());
    if (!name.empty()) {
        const std::vector<std::size_t> named = Selected(entries, name);
        if (named.empty()) {
            Say(cabinet, "no entry matches '" + name + "'");
            return kExitRaised;
        }
        for (const std::size_t at : named) {
            job.taken[at] = true;
        }
    }
    for (std::size_t f = 0; f < options.filters.size(); ++f) {
        const Wildcard pattern(platform::Utf8ToText(options.filters[f]));
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (pattern.Matches(entries[i].name)) {
                job.taken[i] = true;
                (*filterMatched)[f] = true;
            }
        }
    }
    int begunEarlier = 0;
#ifndef _WIN32
    const std::vector<cabfile_tool::StoredName> stored = cabfile_tool::StoredNames(HostPathOf(cabinet));
    for (std::size_t i = 0; i < entries.size() && i < stored.size(); ++i) {
        if (job.taken[i] && !stored[i].earlierPart.empty()) {
            // Its data begins in the part before, which a walk from here does not read.
            Say(cabinet, "'" + Shown(entries[i].name) + "' continues from " + stored[i].earlierPart +
                             ", the part before; extract it from the set's first part");
            job.taken[i] = false;
            ++begunEarlier;
        }
    }
#endif
    if (!PrepareOutputDirectory(directory, job.hostDirectory)) {
        return kExitRaised;
    }
    // Where the names are the cabinet's own, a directory keeps names that
    // differ only in case apart, as cabextract writes them.
    const bool ownNames = cabextractLine || options.lowercase || !options.encoding.empty();
#ifndef _WIN32
    if (ownNames && outputName.empty()) {
        const std::string dosDirectory = platform::TextToAnsi(ToDrivePath(directory));
        platform::LookUpNamesExactlyIn(dosDirectory);
        // The directory as the walk reaches it (through the drive's root), so
        // that what it writes and where it is moved share one spelling.
        uint32_t error = 0;
        job.hostDirectory = platform::DosPathToHostPath(dosDirectory, &error).value_or(job.hostDirectory);
        job.caseFolded = false;
        HostNames hostNames(options.lowercase, options.encoding);
        std::unordered_map<std::string, std::size_t> named;  // host name to the first entry taken under it
        for (std::size_t i = 0; i < entries.size(); ++i) {
            bool converted = true;
            // Past the entries the header scan read, the name CabFile gives, as UTF-8.
            job.hostNames.push_back(i < stored.size()
                                        ? hostNames.Of(stored[i].bytes, stored[i].utf8, converted)
                                        : hostNames.Of(platform::TextToUtf8(entries[i].name), true, converted));
            if (!job.taken[i]) {
                continue;
            }
            if (!converted) {
                Say(cabinet, "'" + Shown(entries[i].name) + "' is not in " + options.encoding +
                                 "; written as the cabinet stores it");
            }
            const auto [first, added] = named.emplace(job.hostNames[i], i);
            if (!added && entries[first->second].name != entries[i].name) {
                Say(cabinet, "'" + Shown(entries[first->second].name) + "' and '" + Shown(entries[i].name) +
                                 "' are both " + job.hostNames[i] + "; the later is kept, as cabextract keeps it");
            }
        }
    }
#endif
    (void)ownNames;
    if (job.lines) {
        Out().write("Extracting cabinet: " + cabinet + "\n");
    }
    int failed = ExtractEntries(*cab, job, entries);
    failed = failed < 0 ? failed : failed + begunEarlier;
    if (job.lines) {
        Out().write(failed == 0  ? "\nAll done, no errors.\n"
                    : failed < 0 ? "\nThe cabinet could not be read.\n"
                                 : "\nAll done, errors in processing " + std::to_string(failed) +
                                       (failed == 1 ? " file.\n" : " files.\n"));
    }
    return failed == 0 ? 0 : kExitRaised;
}

// The commands of our own line: "cabfile [options] COMMAND CAB ...".
int RunCommand(const std::vector<std::string>& args, const Options& options) {
    const std::string& command = args[0];
    const std::size_t operands = args.size() - 1;
    const bool fits = ((command == "count" || command == "list") && operands == 1) ||
                      ((command == "xml" || command == "info") && operands >= 1 && operands <= 2) ||
                      (command == "cat" && operands >= 1) || (command == "test" && operands >= 1) ||
                      (command == "extract" && operands >= 2 && operands <= (options.filters.empty() ? 4 : 2));
    const bool extractOnly =
        !options.filters.empty() || options.keepGoing || options.lowercase || !options.encoding.empty();
    if (extractOnly && command != "extract") {
        return UsageError(!options.filters.empty() ? "'--filter' belongs to 'extract' only"
                                                   : "'-f', '-L' and '-e' belong to 'extract' only");
    }
    if (!fits) {
        return UsageError("wrong number of arguments for '" + command + "'");
    }
    if (command == "test") {
        return Test(std::vector<std::string>(args.begin() + 1, args.end()));
    }
    const std::string& cabinet = args[1];
    if (command == "extract") {
        std::vector<bool> matched(options.filters.size());
        int status = ExtractCabinet(cabinet, args[2], operands >= 3 ? args[3] : "", operands >= 4 ? args[4] : "",
                                    options, false, &matched);
        for (std::size_t f = 0; f < matched.size(); ++f) {
            if (!matched[f]) {
                Say(cabinet, "no entry matches '" + options.filters[f] + "'");
                status = kExitRaised;
            }
        }
        return status;
    }
    const CabinetInput input(cabinet);
    if (!input.problem().empty()) {
        Say(cabinet, input.problem());
        return kExitRaised;
    }
    const std::u16string shownName = ToDrivePath(cabinet);
    auto cab = OpenCab(input);
    std::u16string name = Argument(args, 2);
    std::replace(name.begin(), name.end(), u'/', u'\\');
    try {
        if (command == "count") {
            Out().write(std::to_string(cab->FileCount()) + "\n");
        } else if (command == "xml" && operands == 1) {
            // Written as the walk goes, as cabextract -l is: holding the whole
            // document back cost a third more time. A walk fails after its
            // first entries only where a set runs on into a cabinet that is
            // missing or damaged; the status and the error then say so.
            cabinet::WriteXmlListing(*cab, shownName, [](std::string_view slice) { Out().write(slice); });
            Out().write("\n");
        } else if (command == "xml") {
            // A copy read in place of an embedded cabinet shows the original's name.
            const std::u16string document = cabinet::GetXmlShownAs(*cab, name, shownName);
            if (document.find(u"<FILE>") == std::u16string::npos) {
                Say(cabinet, "no entry named '" + args[2] + "'");
                return kExitRaised;
            }
            Print(document);
            Out().write("\n");
        } else if (command == "info") {
            std::size_t found = 0;
            cab->FileFound.Subscribe(
                [&found](const std::u16string& entry, double date, int32_t size, const std::u16string& path) {
                    ++found;
                    Print(path + entry + u"\t" + platform::FormatGeneralDate(date) + u"\t");
                    Out().write(std::to_string(size) + "\n");
                });
            cab->GetInfo(name);
            if (found == 0 && operands == 2) {
                Say(cabinet, "no entry named '" + args[2] + "'");
                return kExitRaised;
            }
        } else if (command == "list") {
            cab->FileFound.Subscribe(PrintListLine);
            cab->GetInfo(u"");
        } else {  // cat
            const std::vector<Listed> entries = ListEntries(*cab);
            std::vector<std::size_t> places;
            if (!PlacesNamed(cabinet, entries, std::vector<std::string>(args.begin() + 2, args.end()), places)) {
                return kExitRaised;
            }
            return Cat(*cab, cabinet, entries, places);
        }
    } catch (const platform::RaisedError& error) {
        SayFailed(cabinet, u"", error);
        return kExitRaised;
    }
    return 0;
}

// cabextract's line: "cabfile [-d DIR] [-F PATTERN]... [-lptqLf] CAB...".
int RunCabextractLine(const std::vector<std::string>& cabinets, const Options& options) {
    if (cabinets.empty()) {
        return UsageError("no cabinet given");
    }
    if (options.single) {
        std::cerr << "cabfile: -s: the later parts of a set are always looked for beside the part before, under "
                     "the name it gives; -s changes nothing\n";
    }
    if (options.keepGoing) {
        std::cerr << "cabfile: -f: damaged entries are named and passed over, as always on this line; damaged "
                     "headers are not salvaged\n";
    }
    if (options.test) {
        return Test(cabinets);
    }
    int status = 0;
    std::vector<bool> matched(options.filters.size());
    for (const std::string& cabinet : cabinets) {
        if (options.list || options.pipe) {
            const CabinetInput input(cabinet);
            auto opened = OpenAndList(cabinet, input);
            if (!opened) {
                status = kExitRaised;
                continue;
            }
            auto& [cab, entries] = *opened;
            std::vector<std::size_t> places;
            for (std::size_t i = 0; i < entries.size(); ++i) {
                bool wanted = options.filters.empty();
                for (std::size_t f = 0; f < options.filters.size(); ++f) {
                    if (Wildcard(platform::Utf8ToText(options.filters[f])).Matches(entries[i].name)) {
                        wanted = true;
                        matched[f] = true;
                    }
                }
                if (wanted) {
                    places.push_back(i);
                }
            }
            if (options.pipe) {
                status = Cat(*cab, cabinet, entries, places) != 0 ? kExitRaised : status;
                continue;
            }
            // As cabextract: -q leaves out the cabinet's name and the last line, not the heading.
            Out().write((options.quiet ? "" : "Viewing cabinet: " + cabinet + "\n") +
                        " File size | Date       Time     | Name\n"
                        "-----------+---------------------+-------------\n");
            std::size_t offered = 0;
            std::size_t next = 0;
            cab->FileFound.Subscribe(
                [&](const std::u16string& name, double date, int32_t size, const std::u16string& path) {
                    if (next < places.size() && places[next] == offered++) {
                        ++next;
                        PrintListLine(name, date, size, path);
                    }
                });
            try {
                cab->GetInfo(u"");
            } catch (const platform::RaisedError& error) {
                SayFailed(cabinet, u"", error);
                status = kExitRaised;
                continue;
            }
            if (!options.quiet) {
                Out().write("\nAll done, no errors.\n");
            }
            continue;
        }
        if (ExtractCabinet(cabinet, options.directory.value_or("."), "", "", options, true, &matched) != 0) {
            status = kExitRaised;
        }
    }
    for (std::size_t f = 0; f < matched.size(); ++f) {
        if (!matched[f]) {
            std::cerr << "cabfile: no entry matches '" << options.filters[f] << "'\n";
            status = kExitRaised;
        }
    }
    return status;
}

// Ends the command with `status`, or failing when anything written to
// standard output was lost, which it then says.
int Finish(int status) {
    if (const int error = Out().finish(); error != 0) {
        std::cerr << "cabfile: cannot write to standard output: " << std::strerror(error) << "\n";
        return kExitRaised;
    }
    return status;
}

bool IsCommand(const std::string& word) {
    return word == "count" || word == "xml" || word == "info" || word == "list" || word == "cat" || word == "test" ||
           word == "extract";
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args;
    Options options;
    bool cabextractOnly = false;  // an option only cabextract's line has
    bool version = false;
    bool operandsOnly = false;
    // Options with a value: "-d DIR", "-dDIR", "--directory DIR", "--directory=DIR".
    const auto value = [&](int& i, const std::string& arg, std::size_t prefix, std::string& into) {
        if (arg.size() > prefix) {
            into = arg.substr(prefix + (arg[prefix] == '=' ? 1 : 0));
            return true;
        }
        if (++i == argc) {
            return false;
        }
        into = argv[i];
        return true;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (operandsOnly || arg.size() < 2 || arg[0] != '-') {
            args.push_back(arg);
            continue;
        }
        if (arg == "--") {
            operandsOnly = true;
            continue;
        }
        if (arg.starts_with("--")) {
            const std::string name = arg.substr(0, arg.find('='));
            const bool withValue = name == "--filter" || name == "--directory" || name == "--encoding";
            if (name != arg && !withValue) {
                return UsageError("'" + name + "' takes no value");
            }
            std::string given;
            if (withValue && !value(i, arg, name.size(), given)) {
                return UsageError("'" + name + "' needs a value");
            }
            if (name == "--help") {
                Out().write(kUsage);
                return Finish(0);
            } else if (name == "--version") {
                version = true;
            } else if (name == "--quiet") {
                options.quiet = true;
            } else if (name == "--filter") {
                options.filters.push_back(given);
            } else if (name == "--directory") {
                options.directory = given;
                cabextractOnly = true;
            } else if (name == "--encoding") {
                options.encoding = given;
            } else if (name == "--lowercase") {
                options.lowercase = true;
            } else if (name == "--fix") {
                options.keepGoing = true;
            } else if (name == "--list") {
                options.list = cabextractOnly = true;
            } else if (name == "--test") {
                options.test = cabextractOnly = true;
            } else if (name == "--pipe") {
                options.pipe = cabextractOnly = true;
            } else if (name == "--single") {
                options.single = cabextractOnly = true;
            } else {
                return UsageError("unknown option '" + arg + "'");
            }
            continue;
        }
        // Short options, run together as getopt takes them: "-qLd out".
        for (std::size_t at = 1; at < arg.size(); ++at) {
            const char option = arg[at];
            std::string given;
            if (option == 'd' || option == 'F' || option == 'e') {
                if (!value(i, arg, at + 1, given)) {
                    return UsageError(std::string("'-") + option + "' needs a value");
                }
                at = arg.size();
            }
            switch (option) {
                case 'h': Out().write(kUsage); return Finish(0);
                case 'v': version = true; break;
                case 'q': options.quiet = true; break;
                case 'F': options.filters.push_back(given); break;
                case 'd':
                    options.directory = given;
                    cabextractOnly = true;
                    break;
                case 'e': options.encoding = given; break;
                case 'L': options.lowercase = true; break;
                case 'f': options.keepGoing = true; break;
                case 'l': options.list = cabextractOnly = true; break;
                case 't': options.test = cabextractOnly = true; break;
                case 'p': options.pipe = cabextractOnly = true; break;
                case 's': options.single = cabextractOnly = true; break;
                default: return UsageError("unknown option '-" + std::string(1, option) + "'");
            }
        }
    }
    if (version) {
        Out().write("cabfile " VARNHOLT_VERSION "\n");
        return Finish(0);
    }
    if (args.empty()) {
        return UsageError(cabextractOnly ? "no cabinet given" : "no command given");
    }
    const bool ourLine = !cabextractOnly && IsCommand(args[0]);
    if (!options.encoding.empty() && !HostNames(false, options.encoding).usable()) {
        return UsageError("-e: unknown encoding '" + options.encoding + "'");
    }
    // Host paths and names in the locale's characters, as Wine reads them.
    platform::FollowLocaleCodePage();
    CatchEndingSignals();
#ifndef _WIN32
    platform::OnSpillExhausted([] {
        static bool said = false;
        if (!said) {
            said = true;
            std::cerr << "cabfile: no room left to keep decoded data for entries out of the data's order "
                         "(TMPDIR, the output's disk, "
                      << platform::kSpillMemoryBound / (1 << 20) << " MB of memory); their folders are decoded again\n";
        }
    });
#endif
    try {
        return Finish(ourLine ? RunCommand(args, options) : RunCabextractLine(args, options));
    } catch (const platform::RaisedError& error) {
        Out().flush();
        SayFailed(args.size() > 1 ? args[1] : args[0], u"", error);
        Finish(kExitRaised);
        return kExitRaised;
    }
}
