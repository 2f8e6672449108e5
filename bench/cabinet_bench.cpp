// Extraction time of one large MSZIP cabinet through SetupIterateCabinetA
// (every entry written) against `cabextract -q -d` on the same cabinet, in
// the same run, warm cache, median of several runs.
//
// Usage: cabinet_bench [--dir DIR] [--runs N] [--megabytes M] [--files N]
// The cabinet is made with gcab under DIR the first time and kept there.
#include "platform/kernel.h"
#include "platform/setupapi.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kFolders = 32;
constexpr std::size_t kSmallestFile = 1024;
constexpr std::size_t kLargestFile = 400 * 1024;
constexpr int kBinaryEveryNth = 7;  // one file in seven is binary-like data

struct Options {
    fs::path dir = fs::temp_directory_path() / "varnholt-bench";
    int runs = 5;
    std::size_t megabytes = 200;
    std::size_t files = 3000;
};

// xorshift32: deterministic data, the same cabinet on every machine.
class Random {
public:
    explicit Random(uint32_t seed) : state_(seed * 2654435761u + 1) {}
    uint32_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    std::size_t below(std::size_t bound) { return next() % bound; }

private:
    uint32_t state_;
};

// Text that compresses the way documents and scripts do (about 3:1), or
// binary records with some structure, never a run of one byte.
std::string FileContents(std::size_t size, Random& random, const std::vector<std::string>& words, bool binary) {
    std::string out;
    out.reserve(size + 64);
    while (out.size() < size) {
        if (binary) {
            const uint32_t record = random.next();
            out.append(reinterpret_cast<const char*>(&record), sizeof record);
            out += static_cast<char>(random.below(16));
            out += "\x01\x00\x00"[random.below(3)];
        } else {
            const std::size_t count = 4 + random.below(12);
            for (std::size_t i = 0; i < count; ++i) {
                out += words[random.below(words.size())];
                out += i + 1 == count ? "" : " ";
            }
            out += random.below(4) == 0 ? " = " + std::to_string(random.next() % 100000) + ";\n" : ".\n";
        }
    }
    out.resize(size);
    return out;
}

std::vector<std::string> Vocabulary(Random& random) {
    static const char* syllables[] = {"var", "nholt", "ost", "mere", "ka", "lin", "dor", "eth", "qua", "zir",
                                      "mon", "tal",   "ri",  "sen",  "ul", "bra", "fen", "gor", "hy",  "ix"};
    std::vector<std::string> words;
    for (int i = 0; i < 2000; ++i) {
        std::string word;
        for (std::size_t n = 1 + random.below(4); n > 0; --n) {
            word += syllables[random.below(std::size(syllables))];
        }
        words.push_back(word);
    }
    return words;
}

int Spawn(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Makes DIR/drive_c/bench.cab with gcab, unless a cabinet of these
// parameters is there already.
fs::path MakeCabinet(const Options& options) {
    const fs::path cabinet = options.dir / "drive_c" / "bench.cab";
    const fs::path stamp = options.dir / "bench.stamp";
    const std::string parameters = std::to_string(options.megabytes) + "MB " + std::to_string(options.files) + " files";
    {
        std::ifstream in(stamp);
        std::string made;
        std::getline(in, made);
        if (made == parameters && fs::exists(cabinet)) {
            return cabinet;
        }
    }
    std::printf("making the cabinet (%s) with gcab...\n", parameters.c_str());
    std::fflush(stdout);
    const fs::path sources = options.dir / "src";
    fs::remove_all(sources);
    Random random(2026);
    const auto words = Vocabulary(random);
    // Sizes spread evenly on a log scale, then scaled to the total asked for.
    std::vector<double> weights;
    double total = 0;
    for (std::size_t i = 0; i < options.files; ++i) {
        const double share = static_cast<double>(random.below(1000)) / 1000.0;
        weights.push_back(static_cast<double>(kSmallestFile) *
                          std::pow(static_cast<double>(kLargestFile) / kSmallestFile, share));
        total += weights.back();
    }
    const double scale = static_cast<double>(options.megabytes) * 1024 * 1024 / total;
    std::vector<std::string> arguments = {"gcab", "-c", "-z", fs::absolute(cabinet).string()};
    for (std::size_t i = 0; i < options.files; ++i) {
        const std::string name = "dir" + std::to_string(i % kFolders) + "/file" + std::to_string(i) +
                                 (i % kBinaryEveryNth == 0 ? ".dat" : ".txt");
        fs::create_directories((sources / name).parent_path());
        std::ofstream out(sources / name, std::ios::binary);
        const std::string bytes =
            FileContents(static_cast<std::size_t>(weights[i] * scale), random, words, i % kBinaryEveryNth == 0);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        arguments.push_back(name);
    }
    fs::create_directories(cabinet.parent_path());
    const fs::path here = fs::current_path();
    fs::current_path(sources);
    const int made = Spawn(arguments);
    fs::current_path(here);
    if (made != 0) {
        std::fprintf(stderr, "gcab failed\n");
        std::exit(1);
    }
    std::ofstream(stamp) << parameters << "\n";
    return cabinet;
}

// The handler of the service's runs: every entry to C:\out\<name>, its
// folder made on the host the first time it is needed.
struct ExtractAll {
    fs::path hostOut;
    std::set<std::string> madeFolders;
    std::size_t failures = 0;

    static uint32_t Callback(void* context, uint32_t notification, uintptr_t param1, uintptr_t) {
        auto* self = static_cast<ExtractAll*>(context);
        if (notification == platform::SPFILENOTIFY_FILEINCABINET) {
            auto& info = *reinterpret_cast<platform::FILE_IN_CABINET_INFO_A*>(param1);
            std::string name = info.NameInCabinet;
            const std::size_t slash = name.find_last_of('\\');
            if (slash != std::string::npos && self->madeFolders.insert(name.substr(0, slash)).second) {
                std::string folder = name.substr(0, slash);
                std::replace(folder.begin(), folder.end(), '\\', '/');
                fs::create_directories(self->hostOut / folder);
            }
            const std::string target = "C:\\out\\" + name;
            std::snprintf(info.FullTargetName, sizeof info.FullTargetName, "%s", target.c_str());
            return platform::FILEOP_DOIT;
        }
        if (notification == platform::SPFILENOTIFY_FILEEXTRACTED) {
            const auto& paths = *reinterpret_cast<const platform::FILEPATHS_A*>(param1);
            self->failures += paths.Win32Error != 0;
            return paths.Win32Error;
        }
        return 0;
    }
};

double Seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Bytes of every file below `root`, by relative path.
std::vector<std::pair<std::string, uintmax_t>> Listing(const fs::path& root) {
    std::vector<std::pair<std::string, uintmax_t>> files;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        if (item.is_regular_file()) {
            files.emplace_back(fs::relative(item.path(), root).string(), item.file_size());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

bool SameContents(const fs::path& a, const fs::path& b) {
    const auto left = Listing(a);
    if (left != Listing(b)) {
        return false;
    }
    for (const auto& [name, size] : left) {
        std::ifstream x(a / name, std::ios::binary);
        std::ifstream y(b / name, std::ios::binary);
        if (!std::equal(std::istreambuf_iterator<char>(x), {}, std::istreambuf_iterator<char>(y), {})) {
            return false;
        }
    }
    return true;
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const std::string value = argv[i + 1];
        if (key == "--dir") {
            options.dir = value;
        } else if (key == "--runs") {
            options.runs = std::max(1, std::stoi(value));
        } else if (key == "--megabytes") {
            options.megabytes = std::stoul(value);
        } else if (key == "--files") {
            options.files = std::stoul(value);
        } else {
            std::fprintf(stderr, "unknown option %s\n", key.c_str());
            std::exit(2);
        }
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
    fs::create_directories(options.dir);
    const fs::path cabinet = MakeCabinet(options);

    // A Wine prefix whose C: is DIR/drive_c, holding the cabinet.
    const fs::path prefix = options.dir / "prefix";
    fs::create_directories(prefix / "dosdevices");
    fs::remove(prefix / "dosdevices" / "c:");
    fs::create_directory_symlink(fs::absolute(options.dir / "drive_c"), prefix / "dosdevices" / "c:");
    setenv("WINEPREFIX", fs::absolute(prefix).c_str(), 1);
    const fs::path serviceOut = options.dir / "drive_c" / "out";
    const fs::path peerOut = options.dir / "drive_c" / "peer";

    auto runService = [&] {
        fs::remove_all(serviceOut);
        fs::create_directories(serviceOut);
        ExtractAll handler{serviceOut, {}, 0};
        const auto start = Clock::now();
        const int32_t walked = platform::SetupIterateCabinetA("C:\\bench.cab", 0, &ExtractAll::Callback, &handler);
        const auto took = Clock::now() - start;
        if (!walked || handler.failures != 0) {
            std::fprintf(stderr, "the walk failed: last error %u\n", platform::GetLastError());
            std::exit(1);
        }
        return Seconds(took);
    };
    auto runCabextract = [&] {
        fs::remove_all(peerOut);
        const auto start = Clock::now();
        const int status = Spawn({"cabextract", "-q", "-d", peerOut.string(), cabinet.string()});
        const auto took = Clock::now() - start;
        if (status != 0) {
            std::fprintf(stderr, "cabextract failed\n");
            std::exit(1);
        }
        return Seconds(took);
    };

    // Warm the cache, and check both write the same files.
    runService();
    runCabextract();
    if (!SameContents(serviceOut, peerOut)) {
        std::fprintf(stderr, "the service and cabextract wrote different files\n");
        return 1;
    }
    const auto listing = Listing(serviceOut);
    uintmax_t bytes = 0;
    for (const auto& [name, size] : listing) {
        bytes += size;
    }

    std::vector<double> service;
    std::vector<double> peer;
    for (int run = 0; run < options.runs; ++run) {
        service.push_back(runService());
        peer.push_back(runCabextract());
        std::printf("run %d: SetupIterateCabinetA %.3f s, cabextract %.3f s\n", run + 1, service.back(), peer.back());
        std::fflush(stdout);
    }
    fs::remove_all(serviceOut);
    fs::remove_all(peerOut);

    const double serviceMedian = Median(service);
    const double peerMedian = Median(peer);
    std::printf("\ncabinet: %s, %.1f MB, %zu files, %.1f MB unpacked (MSZIP)\n", cabinet.c_str(),
                static_cast<double>(fs::file_size(cabinet)) / 1e6, listing.size(), static_cast<double>(bytes) / 1e6);
    std::printf(
        "median of %d warm runs: SetupIterateCabinetA %.3f s (%.0f MB/s), cabextract -q -d %.3f s (%.0f MB/s)\n",
        options.runs, serviceMedian, static_cast<double>(bytes) / 1e6 / serviceMedian, peerMedian,
        static_cast<double>(bytes) / 1e6 / peerMedian);
    std::printf("ratio SetupIterateCabinetA / cabextract: %.2f\n", serviceMedian / peerMedian);
    return 0;
}
