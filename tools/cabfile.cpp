// cabfile: a command-line front end over CabFile, for scripts, benchmarks
// and checks. Every result and every error comes from CabFile itself.
//
//   cabfile [-q] count CAB
//   cabfile [-q] xml CAB [NAME]
//   cabfile [-q] info CAB [NAME]
//   cabfile [-q] extract CAB OUTDIR [NAME [OUTNAME]]
//   cabfile --help | --version
//
// CAB and OUTDIR are drive paths ("D:\Install\Game1.cab") or host paths,
// which are turned into their drive form first. Exit status: 0 done, 1 a
// raised error, 2 a wrong command line.
#include "cabinet/cab_file.h"
#include "platform/drives.h"
#include "platform/runtime.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <optional>
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
    "       cabfile [-q] extract CAB OUTDIR [NAME [OUTNAME]]\n"
    "       cabfile --help | --version\n"
    "CAB and OUTDIR may be drive paths (C:\\dir) or host paths (/dir).\n"
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

// Writes `text` as UTF-8, a slice at a time: a listing can be tens of
// megabytes, and a whole second copy of it would double the tool's memory.
void Print(std::u16string_view text) {
    constexpr std::size_t kSlice = 64 * 1024;
    while (!text.empty()) {
        std::size_t take = std::min(kSlice, text.size());
        if (take < text.size() && text[take - 1] >= 0xD800 && text[take - 1] <= 0xDBFF) {
            --take;  // keep a surrogate pair together
        }
        std::cout << platform::TextToUtf8(text.substr(0, take));
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

// Extracts, with a progress line when `progress`. The totals come from a
// listing walk first; when that fails the extraction runs without a line
// and raises the failure itself, so the error reads the same either way.
void Extract(cabinet::CabFile& cab, const std::u16string& entry, const std::u16string& folder,
             const std::u16string& outputName, bool progress) {
    std::vector<uint32_t> sizes;  // of the entries to extract, in cabinet order
    if (progress) {
        auto listing =
            cab.FileFound.Subscribe([&](const std::u16string& name, double, int32_t size, const std::u16string& path) {
                if (entry.empty() || platform::TextEqualsIgnoreCase(path + name, entry)) {
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
    if (!progress) {
        cab.Extract(entry, folder, outputName);
        return;
    }

    uint64_t totalBytes = 0;
    for (uint32_t size : sizes) {
        totalBytes += size;
    }
    ProgressLine line(static_cast<uint32_t>(sizes.size()), totalBytes);
    std::size_t current = 0;
    cab.BeforeExtract.Subscribe([&](const std::u16string&, bool&) { ++current; });
    cab.AfterExtract.Subscribe(
        [&](const std::u16string&) { line.Advance(current - 1 < sizes.size() ? sizes[current - 1] : 0); });
    cab.Extract(entry, folder, outputName);
}

int Run(const std::vector<std::string>& args, bool quiet) {
    const std::string& command = args[0];
    const std::size_t operands = args.size() - 1;
    const bool fits = (command == "count" && operands == 1) ||
                      ((command == "xml" || command == "info") && operands >= 1 && operands <= 2) ||
                      (command == "extract" && operands >= 2 && operands <= 4);
    if (!fits) {
        return UsageError(command == "count" || command == "xml" || command == "info" || command == "extract"
                              ? "wrong number of arguments for '" + command + "'"
                              : "unknown command '" + command + "'");
    }

    auto cab = cabinet::CabFile::Create();
    cab->SetCabName(ToDrivePath(args[1]));
    if (command == "count") {
        std::cout << cab->FileCount() << "\n";
    } else if (command == "xml") {
        Print(cab->GetXML(Argument(args, 2)));
        std::cout << "\n";
    } else if (command == "info") {
        cab->FileFound.Subscribe([](const std::u16string& name, double date, int32_t size, const std::u16string& path) {
            Print(path + name + u"\t" + platform::FormatGeneralDate(date) + u"\t");
            std::cout << size << "\n";
        });
        cab->GetInfo(Argument(args, 2));
    } else {
        Extract(*cab, Argument(args, 3), ToDrivePath(args[2]), Argument(args, 4), !quiet && isatty(STDERR_FILENO) == 1);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args;
    bool quiet = false;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!options || arg.size() < 2 || arg[0] != '-') {
            args.push_back(arg);
        } else if (arg == "--") {
            options = false;
        } else if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--version") {
            std::cout << "cabfile " VARNHOLT_VERSION "\n";
            return 0;
        } else if (arg == "-q" || arg == "--quiet") {
            quiet = true;
        } else {
            return UsageError("unknown option '" + arg + "'");
        }
    }
    if (args.empty()) {
        return UsageError("no command given");
    }
    try {
        return Run(args, quiet);
    } catch (const platform::RaisedError& error) {
        std::cout.flush();
        std::cerr << "cabfile: error " << error.Number() << " in " << platform::TextToUtf8(error.Source()) << ": "
                  << platform::TextToUtf8(error.Description()) << "\n";
        return kExitRaised;
    }
}
