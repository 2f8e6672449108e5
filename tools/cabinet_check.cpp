// `cabfile test` over the cabinet engine (see cabinet_check.h).
#include "tools/cabinet_check.h"

#include "cabformat/cabinet_set.h"
#include "cabformat/file_slice.h"
#include "cabformat/layout.h"
#include "platform/posix/engine_files.h"
#include "platform/runtime.h"
#include "tools/cabinet_search.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>

namespace cabfile_tool {

namespace {

using cabformat::Errc;

// What a failed check is told as.
struct CheckFailure {
    std::string problem;
};

// The cabinet in (or embedded in) the regular file `path`; throws CheckFailure.
std::unique_ptr<cabformat::ByteSource> OpenCabinet(const std::filesystem::path& path) {
    platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));  // a pipe cannot block the open
    if (!fd.valid()) {
        throw CheckFailure{"cannot open '" + path.string() + "': " + std::strerror(errno)};
    }
    struct stat info {};
    const bool regular = ::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode);
    const uint64_t size = regular ? static_cast<uint64_t>(info.st_size) : 0;
    auto file = std::make_unique<platform::HostFile>(std::move(fd), size, info.st_dev, info.st_ino);
    if (!regular) {
        throw CheckFailure{"'" + path.string() + "' is not a regular file"};
    }
    std::ifstream stream(path, std::ios::binary);
    const std::optional<CabinetPlace> place = LocateCabinet(stream, size);
    if (!place) {
        throw CheckFailure{"'" + path.string() + "' is not a cabinet and holds none"};
    }
    return std::make_unique<cabformat::FileSlice>(std::move(file), place->offset,
                                                  place->offset == 0 ? size : place->size);
}

std::string Described(const cabformat::Error& error) {
    switch (error.code) {
        case Errc::Ok: return "";
        case Errc::Damaged: return "damaged data";
        case Errc::Truncated: return "the cabinet is cut short";
        case Errc::Checksum: return "checksum mismatch";
        case Errc::Unsupported: return "unsupported compression method";
        case Errc::ReadFailed: return std::string("read failed: ") + std::strerror(error.hostError);
        case Errc::CabinetMissing: return "the next cabinet of the set is missing";
        case Errc::WriteFailed: return "write failed";
        case Errc::NoMemory: return "out of memory";
        case Errc::Internal: break;
    }
    return "internal failure";
}

// The entry's name as `list` shows it: UTF-8, '/' between folders; and
// control characters as '?', so that a damaged name cannot drive the
// terminal the error is shown on.
std::string Shown(const cabformat::FileRecord& file) {
    std::string name = (file.attribs & cabformat::layout::kAttribUtf8Name) != 0
                           ? std::string(file.name)
                           : platform::TextToUtf8(platform::AnsiToText(file.name));
    std::replace(name.begin(), name.end(), '\\', '/');
    std::replace_if(
        name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }, '?');
    return name;
}

// Takes the bytes and keeps nothing.
class Discard final : public cabformat::EntrySink {
public:
    bool open() override { return true; }
    void write(const unsigned char*, std::size_t) override {}
};

class Check final : public cabformat::SetHost {
public:
    explicit Check(std::filesystem::path first) : folder_(first.parent_path()), set_(*this) {
        set_.openFirst(OpenCabinet(first), first.filename().string());
    }

    void run(CheckResult& result) {
        Discard discard;
        set_.visitCabinets([&](std::size_t index) {
            for (const cabformat::FileRecord& file : set_.part(index).header.files) {
                // A record that goes on an entry an earlier cabinet of the
                // walk stands for is tested with that one; any other is an
                // entry of its own, the way the cabinet service offers them.
                if (!set_.offered(index, file)) {
                    continue;
                }
                result.entry = Shown(file);
                if (const cabformat::Error failed = set_.extract(index, file, discard); !failed.ok()) {
                    throw CheckFailure{Described(failed)};
                }
                ++result.entries;
            }
            result.entry.clear();
            return true;
        });
    }

    std::unique_ptr<cabformat::ByteSource> nextCabinet(const cabformat::Cabinet& current, int attempt) override {
        if (attempt > 0) {
            return nullptr;  // nobody to ask for another place
        }
        const std::filesystem::path found = FindBeside(folder_, current.header.nextName);
        if (found.empty()) {
            return nullptr;
        }
        folder_ = found.parent_path();
        return OpenCabinet(found);
    }
    void cabinetOpened(const cabformat::Cabinet&) override {}
    // Out-of-order records are read back from here, not decoded again.
    std::unique_ptr<cabformat::SpillStore> spillStore() override { return platform::MakeSpillFile(); }

private:
    std::filesystem::path folder_;  // of the last cabinet opened
    cabformat::CabinetSet set_;
};

}  // namespace

CheckResult CheckCabinet(const std::string& hostPath) {
    CheckResult result;
    try {
        Check check(hostPath);
        check.run(result);
    } catch (const CheckFailure& failure) {
        result.problem = failure.problem;
    } catch (const cabformat::Failure& failure) {
        result.problem = Described(failure.error);
    } catch (const std::bad_alloc&) {
        result.problem = Described({Errc::NoMemory});
    } catch (const std::filesystem::filesystem_error& error) {
        result.problem = error.what();
    }
    return result;
}

}  // namespace cabfile_tool
