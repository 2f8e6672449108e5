// SPDX-License-Identifier: MIT
// The decode floor of a cabinet's MSZIP folders: every data block inflated
// with ISA-L, the previous block's output as its history, and the output
// thrown away. No checksum, no copy, no file: decoding is the one chain of
// an extraction that cannot be split (each block needs the one before), so
// on two cores this alone bounds a large MSZIP extraction from below.
// bench/run times it beside cabfile. Reads the cabinet by itself, sharing
// nothing with the engine it measures.
//
// With --two-core OUT it also writes the cabinet's files into OUT with the
// system calls cabfile's writer makes (a folder made once, then per file: an
// unnamed file in its folder, the writes, its time, its link, its close),
// times each block's inflate and each file's writing, and prints the floor
// of an extraction that runs the two side by side on two cores, a block at a
// time with a ring of `kRing` decoded blocks between them: where a stretch
// of small files costs more to write than its blocks cost to inflate, the
// writer, not the decoder, sets the pace there.
//
// usage: decode_floor CAB...                prints the bytes decoded
//        decode_floor --two-core OUT CAB    prints decode, writing and
//                                           two-core floor, in seconds, and
//                                           the floor with other rings
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kHeaderSize = 36;
constexpr std::size_t kFolderSize = 8;
constexpr std::size_t kDataHeaderSize = 8;
constexpr std::size_t kBlockOut = 32768;
constexpr uint16_t kFlagPrevious = 0x0001;
constexpr uint16_t kFlagNext = 0x0002;
constexpr uint16_t kFlagReserve = 0x0004;
constexpr uint16_t kMethodMask = 0x000F;
constexpr uint16_t kMethodMszip = 1;
constexpr std::size_t kFileSize = 16;  // a file record's fixed part
constexpr std::size_t kRing = 16;      // decoded blocks between the decoder and the writer, as cabfile's

uint16_t U16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t U32(const unsigned char* p) { return U16(p) | static_cast<uint32_t>(U16(p + 2)) << 16; }

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "decode_floor: %s\n", what.c_str());
    std::exit(1);
}

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// What --two-core keeps of the decoding: the first folder's bytes, and the
// time each of its blocks took and where it ends in them.
struct Decoded {
    std::vector<unsigned char> bytes;
    std::vector<double> blockSeconds;
    std::vector<uint64_t> blockEnds;
};

// Inflates every block of every MSZIP folder of the cabinet at `base`.
uint64_t DecodeCabinet(const unsigned char* base, std::size_t size, const char* name, Decoded* kept = nullptr) {
    if (size < kHeaderSize || std::memcmp(base, "MSCF", 4) != 0) {
        Fail(std::string(name) + " is not a cabinet");
    }
    const uint16_t folders = U16(base + 26);
    const uint16_t flags = U16(base + 30);
    std::size_t at = kHeaderSize;
    std::size_t folderReserve = 0;
    std::size_t dataReserve = 0;
    if (flags & kFlagReserve) {
        folderReserve = base[at + 2];
        dataReserve = base[at + 3];
        at += 4 + U16(base + at);
    }
    for (const uint16_t flag : {kFlagPrevious, kFlagNext}) {
        if (flags & flag) {
            for (int field = 0; field < 2; ++field) {
                at += std::strlen(reinterpret_cast<const char*>(base + at)) + 1;
            }
        }
    }
    std::vector<unsigned char> out[2] = {std::vector<unsigned char>(kBlockOut), std::vector<unsigned char>(kBlockOut)};
    inflate_state state;
    uint64_t decoded = 0;
    for (uint16_t f = 0; f < folders; ++f, at += kFolderSize + folderReserve) {
        const unsigned char* folder = base + at;
        if ((U16(folder + 6) & kMethodMask) != kMethodMszip) {
            continue;
        }
        std::size_t block = U32(folder);
        std::size_t history = 0;
        int current = 0;
        for (uint16_t b = 0; b < U16(folder + 4); ++b) {
            if (block + kDataHeaderSize + dataReserve > size) {
                Fail(std::string(name) + ": a block runs past the end");
            }
            const std::size_t packed = U16(base + block + 4);
            const unsigned char* data = base + block + kDataHeaderSize + dataReserve;
            if (packed < 2 || data + packed > base + size) {
                Fail(std::string(name) + ": a block runs past the end");
            }
            const double started = kept != nullptr ? Now() : 0;
            isal_inflate_init(&state);
            state.crc_flag = IGZIP_DEFLATE;
            if (history != 0) {
                isal_inflate_set_dict(&state, out[1 - current].data(), static_cast<uint32_t>(history));
            }
            state.next_in = const_cast<uint8_t*>(data + 2);  // past "CK"
            state.avail_in = static_cast<uint32_t>(packed - 2);
            state.next_out = out[current].data();
            state.avail_out = kBlockOut;
            if (isal_inflate(&state) != ISAL_DECOMP_OK) {
                Fail(std::string(name) + ": a block does not inflate");
            }
            history = kBlockOut - state.avail_out;
            decoded += history;
            if (kept != nullptr && f == 0) {
                kept->blockSeconds.push_back(Now() - started);
                kept->bytes.insert(kept->bytes.end(), out[current].data(), out[current].data() + history);
                kept->blockEnds.push_back(kept->bytes.size());
            }
            current = 1 - current;
            block += kDataHeaderSize + dataReserve + packed;
        }
    }
    return decoded;
}

// Makes every missing level of `folder` (relative to `root`), once.
void MakeFolders(int root, const std::string& folder, std::set<std::string>& made) {
    for (std::size_t at = folder.find('/'); made.count(folder) == 0; at = folder.find('/', at + 1)) {
        const std::string level = folder.substr(0, at);
        if (made.insert(level).second) {
            mkdirat(root, level.c_str(), 0777);
        }
        if (at == std::string::npos) {
            break;
        }
    }
}

// Two workers and a ring of `ring` blocks: block b is inflated once block
// b-1 is and a slot is free (block b-ring written); it is written once
// inflated and once block b-1 is written. The time the last is written.
double Pipeline(const std::vector<double>& inflate, const std::vector<double>& write, std::size_t ring) {
    std::vector<double> inflated(inflate.size());
    std::vector<double> written(inflate.size());
    for (std::size_t b = 0; b < inflate.size(); ++b) {
        const double free = b >= ring ? written[b - ring] : 0;
        inflated[b] = std::max(b > 0 ? inflated[b - 1] : 0, free) + inflate[b];
        written[b] = std::max(b > 0 ? written[b - 1] : 0, inflated[b]) + write[b];
    }
    return written.empty() ? 0 : written.back();
}

// Writes the first folder's files of the cabinet at `base` into `out` from
// `decoded`, and prints the floors: each file's writing is charged to the
// block that holds its last byte, and a block can only be written once
// inflated, while the decoder waits for a free slot of the ring.
void TwoCore(const unsigned char* base, const Decoded& decoded, const char* out) {
    mkdir(out, 0777);
    const int root = open(out, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) {
        Fail(std::string("cannot open ") + out);
    }
    std::vector<double> writeSeconds(decoded.blockSeconds.size(), 0.0);
    std::set<std::string> made;
    std::size_t at = U32(base + 16);
    for (uint16_t i = 0; i < U16(base + 28); ++i) {
        const uint32_t length = U32(base + at);
        const uint32_t offset = U32(base + at + 4);
        const uint16_t folder = U16(base + at + 8);
        std::string name(reinterpret_cast<const char*>(base + at + kFileSize));
        at += kFileSize + name.size() + 1;
        if (folder != 0 || uint64_t{offset} + length > decoded.bytes.size()) {
            continue;
        }
        std::replace(name.begin(), name.end(), '\\', '/');
        const double started = Now();
        const std::size_t slash = name.rfind('/');
        const std::string parent = slash == std::string::npos ? "." : name.substr(0, slash);
        if (slash != std::string::npos) {
            MakeFolders(root, parent, made);
        }
        const int dir = openat(root, parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        const int fd = openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd < 0) {
            Fail("cannot write " + name);
        }
        for (uint32_t done = 0; done < length;) {
            const uint32_t piece = std::min<uint32_t>(length - done, kBlockOut);
            if (write(fd, decoded.bytes.data() + offset + done, piece) != static_cast<ssize_t>(piece)) {
                Fail("cannot write " + name);
            }
            done += piece;
        }
        const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
        futimens(fd, times);
        const std::string last = slash == std::string::npos ? name : name.substr(slash + 1);
        linkat(fd, "", dir, last.c_str(), AT_EMPTY_PATH);
        close(fd);
        close(dir);
        const auto block = std::upper_bound(decoded.blockEnds.begin(), decoded.blockEnds.end(),
                                            uint64_t{offset} + (length != 0 ? length - 1 : 0)) -
                           decoded.blockEnds.begin();
        writeSeconds[std::min<std::size_t>(block, writeSeconds.size() - 1)] += Now() - started;
    }
    close(root);
    double decodeTotal = 0;
    double writeTotal = 0;
    for (std::size_t b = 0; b < decoded.blockSeconds.size(); ++b) {
        decodeTotal += decoded.blockSeconds[b];
        writeTotal += writeSeconds[b];
    }
    std::printf("decode %.4f writing %.4f two-core %.4f unbounded %.4f", decodeTotal, writeTotal,
                Pipeline(decoded.blockSeconds, writeSeconds, kRing),
                Pipeline(decoded.blockSeconds, writeSeconds, decoded.blockSeconds.size()));
    // What a ring of another size would buy, for the bench's table.
    for (const std::size_t ring : {4, 8, 16, 32, 64, 128, 256}) {
        std::printf(" ring-%zu %.4f", ring, Pipeline(decoded.blockSeconds, writeSeconds, ring));
    }
    std::printf("\n");
}

const unsigned char* Map(const char* path, std::size_t& size) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0) {
        Fail(std::string("cannot open ") + path);
    }
    size = static_cast<std::size_t>(info.st_size);
    void* mapped = size != 0 ? mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0) : nullptr;
    if (size != 0 && mapped == MAP_FAILED) {
        Fail(std::string("cannot map ") + path);
    }
    close(fd);
    return static_cast<const unsigned char*>(mapped);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--two-core") == 0) {
        std::size_t size = 0;
        const unsigned char* base = Map(argv[3], size);
        Decoded decoded;
        DecodeCabinet(base, size, argv[3], &decoded);
        TwoCore(base, decoded, argv[2]);
        return 0;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: decode_floor CAB...\n       decode_floor --two-core OUT CAB\n");
        return 2;
    }
    uint64_t decoded = 0;
    for (int i = 1; i < argc; ++i) {
        std::size_t size = 0;
        const unsigned char* base = Map(argv[i], size);
        decoded += DecodeCabinet(base, size, argv[i]);
        if (base != nullptr) {
            munmap(const_cast<unsigned char*>(base), size);
        }
    }
    std::printf("%llu\n", static_cast<unsigned long long>(decoded));
    return 0;
}
