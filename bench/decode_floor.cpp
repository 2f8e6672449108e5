// The decode floor of a cabinet's MSZIP folders: every data block inflated
// with ISA-L, the previous block's output as its history, and the output
// thrown away. No checksum, no copy, no file: decoding is the one chain of
// an extraction that cannot be split (each block needs the one before), so
// on two cores this alone bounds a large MSZIP extraction from below.
// bench/run times it beside cabfile. Reads the cabinet by itself, sharing
// nothing with the engine it measures.
//
// usage: decode_floor CAB...   prints the bytes decoded
#include <isa-l/igzip_lib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
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

uint16_t U16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t U32(const unsigned char* p) { return U16(p) | static_cast<uint32_t>(U16(p + 2)) << 16; }

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "decode_floor: %s\n", what.c_str());
    std::exit(1);
}

// Inflates every block of every MSZIP folder of the cabinet at `base`.
uint64_t DecodeCabinet(const unsigned char* base, std::size_t size, const char* name) {
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
            current = 1 - current;
            block += kDataHeaderSize + dataReserve + packed;
        }
    }
    return decoded;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: decode_floor CAB...\n");
        return 2;
    }
    uint64_t decoded = 0;
    for (int i = 1; i < argc; ++i) {
        const int fd = open(argv[i], O_RDONLY | O_CLOEXEC);
        struct stat info {};
        if (fd < 0 || fstat(fd, &info) != 0) {
            Fail(std::string("cannot open ") + argv[i]);
        }
        const auto size = static_cast<std::size_t>(info.st_size);
        void* mapped = size != 0 ? mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0) : nullptr;
        if (size != 0 && mapped == MAP_FAILED) {
            Fail(std::string("cannot map ") + argv[i]);
        }
        decoded += DecodeCabinet(static_cast<const unsigned char*>(mapped), size, argv[i]);
        if (mapped != nullptr) {
            munmap(mapped, size);
        }
        close(fd);
    }
    std::printf("%llu\n", static_cast<unsigned long long>(decoded));
    return 0;
}
