// cabfile: a command-line front end over CabFile, for scripts, benchmarks
// and checks. Every result and every error comes from CabFile itself.
//
//   cabfile [-q] count CAB
//   cabfile [-q] xml CAB [NAME]
//   cabfile [-q] info CAB [NAME]
//   cabfile [-q] list CAB
//   cabfile [-q] cat CAB NAME...
//   cabfile [-q] test CAB...
//   cabfile [-q] extract CAB OUTDIR [NAME [OUTNAME]]
//   cabfile [-q] extract --filter GLOB... CAB OUTDIR
//   cabfile --help | --version
//
// CAB and OUTDIR are drive paths ("D:\Install\Game1.cab") or host paths,
// which are turned into their drive form first. A CAB that is not itself a
// cabinet but holds one (a self-extracting program) is read at the first
// plausible cabinet header in it. Exit status: 0 done, 1 a raised error (or
// an entry `cat` does not find, or a damaged cabinet `test` finds), 2 a
// wrong command line.
#include "cabinet/cab_file.h"
#include "cabinet/errors.h"
#include "cabinet/xml.h"
#include "cabinet/xml_listing.h"
#include "platform/drives.h"
#include "platform/runtime.h"
#include "tools/cabinet_search.h"
#ifndef _WIN32
#include "platform/posix/engine_files.h"
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
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kExitRaised = 1;
constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    "usage: cabfile [-q] count CAB\n"
    "       cabfile [-q] xml CAB [NAME]\n"
    "       cabfile [-q] info CAB [NAME]\n"
    "       cabfile [-q] list CAB\n"
    "       cabfile [-q] cat CAB NAME...\n"
    "       cabfile [-q] test CAB...\n"
    "       cabfile [-q] extract CAB OUTDIR [NAME [OUTNAME]]\n"
    "       cabfile [-q] extract --filter GLOB [--filter GLOB]... CAB OUTDIR\n"
    "       cabfile --help | --version\n"
    "CAB and OUTDIR may be drive paths (C:\\dir) or host paths (/dir). A CAB that\n"
    "holds a cabinet further in, such as a self-extracting .exe, is read there.\n"
    "  list           size, date and time, and name of every entry, one a line\n"
    "  cat            the bytes of the entries named, on standard output\n"
    "  test           decode every entry and check every checksum, writing nothing;\n"
    "                 exit 1 naming the first damaged entry\n"
    "  -F, --filter GLOB  extract only the entries whose full name matches GLOB\n"
    "                 (* and ?, any case, \\ and / alike; * crosses folders)\n"
    "  -q, --quiet    show no progress while extracting\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n";

// A wrong command line: what was wrong, then the usage, on standard error.
int UsageError(const std::string& problem) {
    std::cerr << "cabfile: " << problem << "\n" << kUsage;
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

    ~StandardOutput() = default;

    // False once anything written has failed.
    bool write(std::string_view bytes) {
        if (error_ != 0) {
            return false;
        }
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
    // failed write only then. Returns 0 or the errno of the first failure.
    int finish() {
        flush();
        if (!closed_) {
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

// Which entries an extraction takes, by full name; empty takes every one.
using EntryFilter = std::function<bool(const std::u16string& fullName)>;

// Extracts, with a progress line when `progress`. The totals come from a
// listing walk first; when that fails the extraction runs without a line
// and raises the failure itself, so the error reads the same either way.
void Extract(cabinet::CabFile& cab, const std::u16string& entry, const std::u16string& folder,
             const std::u16string& outputName, const EntryFilter& wanted, bool progress) {
    std::vector<uint32_t> sizes;  // of the entries to extract, in cabinet order
    if (progress) {
        auto listing =
            cab.FileFound.Subscribe([&](const std::u16string& name, double, int32_t size, const std::u16string& path) {
                const std::u16string full = path + name;
                if ((entry.empty() || platform::TextEqualsIgnoreCase(full, entry)) && (!wanted || wanted(full))) {
                    sizes.push_back(static_cast<uint32_t>(size));
                }
            });
        try {
            cab.GetInfo(u"");
        } catch (const platform::RaisedError&) {
            progress = false;
        }
        cab.FileFound.Unsubscribe(listing);
    }
    std::size_t current = 0;  // entries begun, of those taken
    cab.BeforeExtract.Subscribe([&](const std::u16string& fullName, bool& cancel) {
        cancel = wanted && !wanted(fullName);
        current += cancel ? 0 : 1;
    });
    if (!progress) {
        cab.Extract(entry, folder, outputName);
        return;
    }

    uint64_t totalBytes = 0;
    for (uint32_t size : sizes) {
        totalBytes += size;
    }
    ProgressLine line(static_cast<uint32_t>(sizes.size()), totalBytes);
    cab.AfterExtract.Subscribe(
        [&](const std::u16string&) { line.Advance(current - 1 < sizes.size() ? sizes[current - 1] : 0); });
    cab.Extract(entry, folder, outputName);
}

// Windows wildcards over a whole name: '*' any run of characters, folder
// separators included (as cabextract -F takes them), '?' any one character;
// letters in any case, '\' and '/' alike.
class Wildcard {
public:
    explicit Wildcard(std::u16string_view pattern) : pattern_(Normal(pattern)) {}

    bool Matches(std::u16string_view name) const {
        const std::u16string text = Normal(name);
        // Greedy, going back only to the latest '*': linear for the usual
        // patterns, never worse than pattern times name.
        std::size_t p = 0, t = 0, star = std::u16string::npos, resume = 0;
        while (t < text.size()) {
            if (p < pattern_.size() && (pattern_[p] == u'?' || pattern_[p] == text[t])) {
                ++p, ++t;
            } else if (p < pattern_.size() && pattern_[p] == u'*') {
                star = p++;
                resume = t;
            } else if (star != std::u16string::npos) {
                p = star + 1;
                t = ++resume;
            } else {
                return false;
            }
        }
        while (p < pattern_.size() && pattern_[p] == u'*') {
            ++p;
        }
        return p == pattern_.size();
    }

private:
    static std::u16string Normal(std::u16string_view text) {
        std::u16string folded = platform::FoldTextCase(text);
        std::replace(folded.begin(), folded.end(), u'/', u'\\');
        return folded;
    }

    std::u16string pattern_;
};

// One entry a line, as cabextract -l shows them: the size, the stored date
// and time (day.month.year), and the full name with '/' between folders.
void PrintListLine(const std::u16string& name, double date, int32_t size, const std::u16string& path) {
    constexpr double kSecondsPerDay = 86400;
    constexpr int kDaysFrom1899To1970 = 25569;  // date value of 1970-01-01
    const double day = std::floor(date);
    const auto seconds = static_cast<int>(std::lround((date - day) * kSecondsPerDay));  // 86400 at most
    const std::chrono::year_month_day calendar{
        std::chrono::sys_days{std::chrono::days{static_cast<int>(day) - kDaysFrom1899To1970 + seconds / 86400}}};
    const int time = seconds % 86400;
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

// The folder of private copies, while there is one: emptied and removed
// by the signal handler as well, so that SIGINT, SIGTERM, SIGHUP and
// SIGPIPE leave nothing behind. Only async-signal-safe calls touch it there.
char g_scratchFolder[4096];

#ifndef _WIN32
void RemoveScratchFolder() noexcept {
    if (g_scratchFolder[0] == '\0') {
        return;
    }
    const int folder = ::open(g_scratchFolder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
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
        while ((got = ::syscall(SYS_getdents64, folder, entries, sizeof entries)) > 0) {
            for (long at = 0; at < got;) {
                const auto* entry = reinterpret_cast<const Entry*>(entries + at);
                if (std::strcmp(entry->name, ".") != 0 && std::strcmp(entry->name, "..") != 0) {
                    ::unlinkat(folder, entry->name, 0);
                }
                at += entry->length;
            }
        }
        ::close(folder);
    }
    ::rmdir(g_scratchFolder);
    g_scratchFolder[0] = '\0';
}

extern "C" void EndOnSignal(int signal) {
    RemoveScratchFolder();
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
// ends: in the temporary folder, else in memory. -1 when none can be made.
int UnnamedFile() {
    const char* folder = std::getenv("TMPDIR");
    const int fd = ::open(folder != nullptr && *folder != '\0' ? folder : "/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC,
                          S_IRUSR | S_IWUSR);
    return fd >= 0 ? fd : ::memfd_create("cabfile-cabinet", MFD_CLOEXEC);
}
#else
void RemoveScratchFolder() noexcept {
    std::error_code ignored;
    std::filesystem::remove_all(g_scratchFolder, ignored);
    g_scratchFolder[0] = '\0';
}
void CatchEndingSignals() {}
int UnnamedFile() { return -1; }  // private copies are named here
#endif

// A folder of our own, readable by us alone, under the host's temporary
// folder; removed with all it holds when the object goes, or when a signal
// ends the process. Empty path() and the reason in error() when it could
// not be made.
class TemporaryFolder {
public:
    TemporaryFolder() {
        namespace fs = std::filesystem;
        const fs::path base = fs::temp_directory_path(error_);
        std::random_device random;
        for (int attempt = 0; !error_ && attempt < 100; ++attempt) {
            char name[32];
            std::snprintf(name, sizeof name, "cabfile.%08x", static_cast<unsigned>(random()));
            const std::string path = (base / name).string();
            if (path.size() >= sizeof g_scratchFolder) {
                error_ = std::make_error_code(std::errc::filename_too_long);
                break;
            }
            // Known to the signal handler before it exists, and nothing is
            // written into it before its permissions are ours alone.
            std::memcpy(g_scratchFolder, path.c_str(), path.size() + 1);
            if (fs::create_directory(path, error_)) {
                path_ = path;
                fs::permissions(path_, fs::perms::owner_all, fs::perm_options::replace, error_);
                break;
            }
            g_scratchFolder[0] = '\0';
        }
        if (error_ || path_.empty()) {
            if (!path_.empty()) {
                RemoveScratchFolder();
            }
            path_.clear();
            if (!error_) {
                error_ = std::make_error_code(std::errc::file_exists);
            }
        }
    }
    ~TemporaryFolder() {
        if (!path_.empty()) {
            RemoveScratchFolder();
        }
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

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
// under the name the part before gives) into a private folder instead, for
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
    std::optional<TemporaryFolder> copies_;
    std::string problem_;
};

// `test` on each cabinet: one line on standard output for each that is
// whole, the first damaged entry (or what else is wrong) on standard error
// for each that is not. Returns the exit status.
int Test(const std::vector<std::string>& cabinets) {
#ifdef _WIN32
    (void)cabinets;
    std::cerr << "cabfile: 'test' reads through the cabinet engine, which this build does not have\n";
    return kExitUsage;
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

// The bytes of the entries named (full names, any case, '\' and '/' alike),
// one after the other, on standard output. Every entry is decoded whole
// into an unnamed temporary file first, where a damaged one fails before a
// byte of any reaches the output: standard output gets all of them or
// nothing, and nothing is left behind however the command ends.
int Cat(cabinet::CabFile& cab, const std::string& cabinet, const std::vector<std::string>& names) {
#ifdef _WIN32
    TemporaryFolder scratch;
    if (scratch.path().empty()) {
        std::cerr << "cabfile: cannot make a temporary folder: " << scratch.error().message() << "\n";
        return kExitRaised;
    }
    const std::u16string folder = ToDrivePath(scratch.path());
    std::size_t extracted = 0;
    cab.AfterExtract.Subscribe([&](const std::u16string&) { ++extracted; });
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::u16string name = platform::Utf8ToText(names[i]);
        std::replace(name.begin(), name.end(), u'/', u'\\');
        extracted = 0;
        // A cabinet that holds one name twice gives the later entry.
        cab.Extract(name, folder, platform::Utf8ToText(std::to_string(i)));
        if (extracted == 0) {
            std::cerr << "cabfile: no entry named '" << names[i] << "' in " << cabinet << "\n";
            return kExitRaised;
        }
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::ifstream entry(scratch.path() + "/" + std::to_string(i), std::ios::binary);
        std::vector<char> buffer(1 << 16);
        while (entry.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || entry.gcount() > 0) {
            if (!Out().write(std::string_view(buffer.data(), static_cast<std::size_t>(entry.gcount())))) {
                return 0;  // the output's failure ends the command
            }
        }
        if (entry.bad()) {
            std::cerr << "cabfile: cannot read back '" << names[i] << "'\n";
            return kExitRaised;
        }
    }
    return 0;
#else
    (void)cab;
    std::vector<std::u16string> wanted;
    for (const std::string& name : names) {
        wanted.push_back(platform::Utf8ToText(name));
        std::replace(wanted.back().begin(), wanted.back().end(), u'/', u'\\');
    }
    const cabfile_tool::CatResult result =
        cabfile_tool::CatEntries(HostPathOf(cabinet), wanted,
                                 [](const unsigned char* bytes, std::size_t size) { return Out().write(bytes, size); });
    if (result.error != 0) {
        // The number and words the cabinet service gives for it, as CabFile raises them.
        const auto code = static_cast<int32_t>(result.error);
        std::cerr << "cabfile: error " << code << " in CabFile: " << platform::TextToUtf8(cabinet::Win32ErrorText(code))
                  << "\n";
        return kExitRaised;
    }
    if (!result.problem.empty()) {
        std::cerr << "cabfile: " << result.problem << "\n";
        return kExitRaised;
    }
    if (result.missing) {
        std::cerr << "cabfile: no entry named '" << names[*result.missing] << "' in " << cabinet << "\n";
        return kExitRaised;
    }
    return 0;
#endif
}

int Run(const std::vector<std::string>& args, const std::vector<std::string>& filters, bool quiet) {
    const std::string& command = args[0];
    const std::size_t operands = args.size() - 1;
    const bool known = command == "count" || command == "xml" || command == "info" || command == "list" ||
                       command == "cat" || command == "test" || command == "extract";
    if (!filters.empty() && command != "extract") {
        return UsageError(known ? "'--filter' belongs to 'extract' only" : "unknown command '" + command + "'");
    }
    const bool fits = ((command == "count" || command == "list") && operands == 1) ||
                      ((command == "xml" || command == "info") && operands >= 1 && operands <= 2) ||
                      (command == "cat" && operands >= 2) || (command == "test" && operands >= 1) ||
                      (command == "extract" && operands >= 2 && operands <= (filters.empty() ? 4 : 2));
    if (!fits) {
        return UsageError(known ? "wrong number of arguments for '" + command + "'"
                                : "unknown command '" + command + "'");
    }
    if (command == "test") {
        return Test(std::vector<std::string>(args.begin() + 1, args.end()));
    }

    const CabinetInput input(args[1]);
    if (!input.problem().empty()) {
        std::cerr << "cabfile: " << input.problem() << "\n";
        return kExitRaised;
    }
    const std::u16string shownName = ToDrivePath(args[1]);
    auto cab = cabinet::CabFile::Create();
    cab->SetCabName(input.drivePath());
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
        std::u16string document = cab->GetXML(Argument(args, 2));
        if (input.drivePath() != shownName) {
            // A copy was read: its head names the copy, and the original is shown.
            std::u16string copyHead, shownHead;
            cabinet::AppendXmlHead(copyHead, platform::AnsiToText(platform::TextToAnsi(input.drivePath())));
            cabinet::AppendXmlHead(shownHead, platform::AnsiToText(platform::TextToAnsi(shownName)));
            if (document.starts_with(copyHead)) {
                document.replace(0, copyHead.size(), shownHead);
            }
        }
        Print(document);
        Out().write("\n");
    } else if (command == "info") {
        cab->FileFound.Subscribe([](const std::u16string& name, double date, int32_t size, const std::u16string& path) {
            Print(path + name + u"\t" + platform::FormatGeneralDate(date) + u"\t");
            Out().write(std::to_string(size) + "\n");
        });
        cab->GetInfo(Argument(args, 2));
    } else if (command == "list") {
        cab->FileFound.Subscribe(PrintListLine);
        cab->GetInfo(u"");
    } else if (command == "cat") {
        return Cat(*cab, args[1], std::vector<std::string>(args.begin() + 2, args.end()));
    } else {
        EntryFilter wanted;
        if (!filters.empty()) {
            std::vector<Wildcard> patterns;
            for (const std::string& filter : filters) {
                patterns.emplace_back(platform::Utf8ToText(filter));
            }
            wanted = [patterns = std::move(patterns)](const std::u16string& fullName) {
                return std::any_of(patterns.begin(), patterns.end(),
                                   [&](const Wildcard& pattern) { return pattern.Matches(fullName); });
            };
        }
        Extract(*cab, Argument(args, 3), ToDrivePath(args[2]), Argument(args, 4), wanted,
                !quiet && isatty(STDERR_FILENO) == 1);
    }
    return 0;
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

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args;
    std::vector<std::string> filters;
    bool quiet = false;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!options || arg.size() < 2 || arg[0] != '-') {
            args.push_back(arg);
        } else if (arg == "--") {
            options = false;
        } else if (arg == "-h" || arg == "--help") {
            Out().write(kUsage);
            return Finish(0);
        } else if (arg == "--version") {
            Out().write("cabfile " VARNHOLT_VERSION "\n");
            return Finish(0);
        } else if (arg == "-q" || arg == "--quiet") {
            quiet = true;
        } else if (arg == "-F" || arg == "--filter") {
            if (++i == argc) {
                return UsageError("'" + arg + "' needs a pattern");
            }
            filters.emplace_back(argv[i]);
        } else if (arg.starts_with("--filter=")) {
            filters.push_back(arg.substr(std::string_view("--filter=").size()));
        } else {
            return UsageError("unknown option '" + arg + "'");
        }
    }
    if (args.empty()) {
        return UsageError("no command given");
    }
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
        return Finish(Run(args, filters, quiet));
    } catch (const platform::RaisedError& error) {
        Out().flush();
        std::cerr << "cabfile: error " << error.Number() << " in " << platform::TextToUtf8(error.Source()) << ": "
                  << platform::TextToUtf8(error.Description()) << "\n";
        Finish(kExitRaised);
        return kExitRaised;
    }
}
