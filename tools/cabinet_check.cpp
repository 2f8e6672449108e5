// SPDX-License-Identifier: MIT
// `cabfile test` over the cabinet engine (see cabinet_check.h).
#include "tools/cabinet_check.h"

#include "cabformat/cabinet_set.h"
#include "cabformat/file_slice.h"
#include "cabformat/layout.h"
#include "platform/kernel.h"
#include "platform/posix/engine_errors.h"
#include "platform/posix/engine_host.h"
#include "platform/runtime.h"
#include "tools/cabinet_search.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <new>
#include <set>

namespace cabfile_tool {

namespace {

using cabformat::Errc;

// What a failed walk is told as: in words for `test`, and as the Win32
// code the cabinet service would give for it for `cat`.
struct CheckFailure {
    std::string problem;
    uint32_t code = platform::ERROR_INVALID_DATA;
};

// What the tool says when a cabinet file cannot join a walk.
std::string Described(const platform::CabinetRefused& refused) {
    switch (refused.why) {
        case platform::CabinetRefused::Why::CannotOpen:
            return "cannot open '" + refused.hostPath + "': " + std::strerror(refused.hostError);
        case platform::CabinetRefused::Why::NotARegularFile: return "'" + refused.hostPath + "' is not a regular file";
        case platform::CabinetRefused::Why::AlreadyInTheSet: break;
    }
    return "the set names '" + refused.hostPath + "' again, a cabinet it holds already";
}

// The entry's full name as CabFile sees it: through the ANSI code page, as
// the cabinet service hands it on.
std::u16string EntryText(const cabformat::FileRecord& file) {
    const std::string_view name = file.name;
    if ((file.attribs & cabformat::layout::kAttribUtf8Name) == 0) {
        return platform::AnsiToText(name);
    }
    return platform::AnsiToText(platform::TextToAnsi(platform::Utf8ToText(name)));
}

// The entry's name as `list` shows it: UTF-8, '/' between directories; and
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

// One walk of a cabinet and the cabinets that continue its set, as the
// cabinet service walks them, with nobody to ask for a cabinet not found.
class Walk final : public platform::EngineHost {
public:
    explicit Walk(const std::filesystem::path& first) : directory_(first.parent_path()), set_(*this) {
        set_.openFirst(openFirst(first), first.filename().string());
    }

    // Calls `entry` for every record the walk offers, in cabinet order. A
    // record that goes on an entry an earlier cabinet of the walk stands
    // for is that entry's; any other is an entry of its own, the way the
    // cabinet service offers them.
    void run(const std::function<void(std::size_t index, const cabformat::FileRecord& file)>& entry) {
        set_.visitCabinets([&](std::size_t index) {
            for (const cabformat::FileRecord& file : set_.part(index).header.files) {
                if (set_.offered(index, file)) {
                    entry(index, file);
                }
            }
            return true;
        });
    }
    cabformat::CabinetSet& set() { return set_; }

private:
    // Beside the cabinet before, by the name its header gives in any case;
    // there is nobody to ask for another place.
    std::optional<std::string> whereNext(const cabformat::Part& current, int attempt) override {
        const std::filesystem::path found = attempt == 0 ? FindBeside(directory_, current.header.nextName) : "";
        if (found.empty()) {
            return std::nullopt;
        }
        directory_ = found.parent_path();
        return found.string();
    }

    // The cabinet in the file, or embedded in it, read in place; throws CheckFailure.
    std::unique_ptr<cabformat::ByteSource> cabinetIn(std::unique_ptr<platform::HostFile> file,
                                                     const std::string& hostPath) override {
        const uint64_t size = file->size();
        std::ifstream stream(hostPath, std::ios::binary);
        const std::optional<CabinetPlace> place = LocateCabinet(stream, size);
        if (!place) {
            throw CheckFailure{"'" + hostPath + "' is not a cabinet and holds none"};
        }
        return std::make_unique<cabformat::FileSlice>(std::move(file), place->offset,
                                                      place->offset == 0 ? size : place->size);
    }

    std::filesystem::path directory_;  // of the last cabinet opened
    cabformat::CabinetSet set_;
};

// Data blocks of `file`'s folder that carry no checksum, unless the folder
// is in `counted` already: read from the blocks' own records, a few bytes each.
std::size_t UncheckedBlocks(cabformat::CabinetSet& set, std::size_t index, const cabformat::FileRecord& file,
                            std::set<std::pair<std::size_t, std::size_t>>& counted) {
    const std::optional<cabformat::FolderSpan> span = set.spanOf(index, file);
    if (!span || !counted.emplace(span->firstPart, span->firstFolder).second) {
        return 0;
    }
    std::size_t unchecked = 0;
    for (const cabformat::DataSegment& segment : set.dataOf(*span).segments) {
        uint64_t at = segment.dataOffset;
        for (uint16_t block = 0; block < segment.blockCount; ++block) {
            unsigned char record[cabformat::layout::kDataHeaderSize];
            std::size_t got = 0;
            if (cabformat::ReadAtLeast(*segment.source, at, record, sizeof record, sizeof record, got) != 0 ||
                got < sizeof record) {
                break;
            }
            unchecked += cabformat::layout::U32(record + cabformat::layout::kDataChecksum) == 0 ? 1 : 0;
            at += sizeof record + segment.reserve + cabformat::layout::U16(record + cabformat::layout::kDataPackedSize);
        }
    }
    return unchecked;
}

// An entry's bytes appended to the unnamed scratch file.
class Keep final : public cabformat::EntrySink {
public:
    explicit Keep(int fd) : fd_(fd) {}
    bool open() override { return true; }
    void write(const unsigned char* bytes, std::size_t size) override {
        if (error_ == 0) {
            error_ = platform::WriteAll(fd_, bytes, size);
        }
    }
    int error() const { return error_; }

private:
    int fd_;
    int error_ = 0;
};

// An unnamed file for what `cat` keeps until it is whole: in the temporary
// directory, else in memory. Nothing of it outlives the process, however it ends.
platform::UniqueFd UnnamedScratchFile() {
    const char* directory = std::getenv("TMPDIR");
    platform::UniqueFd fd(::open(directory != nullptr && *directory != '\0' ? directory : "/tmp",
                                 O_TMPFILE | O_RDWR | O_CLOEXEC, S_IRUSR | S_IWUSR));
    if (!fd.valid()) {
        fd.reset(::memfd_create("cabfile-cat", MFD_CLOEXEC));
    }
    return fd;
}

}  // namespace

CatResult CatEntries(const std::string& hostPath, const std::vector<std::size_t>& places,
                     const std::function<bool(const unsigned char*, std::size_t)>& out) {
    CatResult result;
    try {
        platform::UniqueFd scratch = UnnamedScratchFile();
        if (!scratch.valid()) {
            const int error = errno;
            result.problem = std::string("cannot make a temporary file: ") + std::strerror(error);
            return result;
        }
        // Where each place's entry lies in the scratch file.
        std::vector<std::optional<std::pair<uint64_t, uint64_t>>> kept(places.size());
        uint64_t size = 0;
        std::size_t offered = 0;
        Walk walk(hostPath);
        walk.run([&](std::size_t index, const cabformat::FileRecord& file) {
            const std::size_t place = offered++;
            std::vector<std::size_t> matches;
            for (std::size_t i = 0; i < places.size(); ++i) {
                if (places[i] == place) {
                    matches.push_back(i);
                }
            }
            if (matches.empty()) {
                return;
            }
            result.entry = EntryText(file);
            Keep keep(scratch.get());
            if (const cabformat::Error failed = walk.set().extract(index, file, keep); !failed.ok()) {
                throw CheckFailure{platform::EngineErrorWords(failed), platform::Win32FromEngine(failed)};
            }
            if (keep.error() != 0) {
                throw CheckFailure{
                    std::string("cannot keep an entry until it is whole: ") + std::strerror(keep.error()), 0};
            }
            result.entry.clear();
            for (const std::size_t i : matches) {
                kept[i] = std::pair(size, uint64_t{file.length});
            }
            size += file.length;
        });
        for (std::size_t i = 0; i < places.size(); ++i) {
            if (!kept[i]) {
                result.missing = i;
                return result;
            }
        }
        std::vector<unsigned char> buffer(1 << 16);
        for (const auto& place : kept) {
            for (uint64_t at = place->first, end = place->first + place->second; at < end;) {
                const auto take = static_cast<std::size_t>(std::min<uint64_t>(buffer.size(), end - at));
                const ssize_t read =
                    platform::ReadAtLeast(scratch.get(), buffer.data(), take, take, static_cast<off_t>(at));
                if (read != static_cast<ssize_t>(take)) {
                    result.problem =
                        std::string("cannot read back a kept entry: ") + std::strerror(read < 0 ? errno : EIO);
                    return result;
                }
                if (!out(buffer.data(), take)) {
                    return result;  // the output keeps its own failure
                }
                at += take;
            }
        }
    } catch (const CheckFailure& failure) {
        if (failure.code == 0) {
            result.problem = failure.problem;
        } else {
            result.error = failure.code;
        }
    } catch (const platform::CabinetRefused& refused) {
        result.error = refused.code;
    } catch (const cabformat::Failure& failure) {
        result.error = platform::Win32FromEngine(failure.error);
    } catch (const std::bad_alloc&) {
        result.error = platform::ERROR_NOT_ENOUGH_MEMORY;
    } catch (const std::filesystem::filesystem_error& error) {
        result.problem = error.what();
    }
    return result;
}

std::vector<StoredName> StoredNames(const std::string& hostPath) {
    std::vector<StoredName> names;
    try {
        Walk walk(hostPath);
        walk.run([&](std::size_t index, const cabformat::FileRecord& file) {
            names.push_back({std::string(file.name), (file.attribs & cabformat::layout::kAttribUtf8Name) != 0,
                             index == 0 && file.continuedFromPrev() ? walk.set().part(0).header.prevName : ""});
        });
    } catch (const CheckFailure&) {
    } catch (const platform::CabinetRefused&) {
    } catch (const cabformat::Failure&) {
    } catch (const std::bad_alloc&) {
    } catch (const std::filesystem::filesystem_error&) {
    }
    return names;  // as far as the walk came; the caller's own walk reports why it stops
}

CheckResult CheckCabinet(const std::string& hostPath) {
    CheckResult result;
    try {
        Walk walk(hostPath);
        Discard discard;
        std::set<std::pair<std::size_t, std::size_t>> counted;  // folders, by their first part and place there
        walk.run([&](std::size_t index, const cabformat::FileRecord& file) {
            if (index == 0 && file.continuedFromPrev()) {
                result.begunEarlier.push_back(Shown(file));
                result.earlierPart = walk.set().part(0).header.prevName;
                return;
            }
            result.entry = Shown(file);
            if (const cabformat::Error failed = walk.set().extract(index, file, discard); !failed.ok()) {
                throw CheckFailure{platform::EngineErrorWords(failed)};
            }
            result.uncheckedBlocks += file.length != 0 ? UncheckedBlocks(walk.set(), index, file, counted) : 0;
            ++result.entries;
            result.entry.clear();
        });
    } catch (const CheckFailure& failure) {
        result.problem = failure.problem;
    } catch (const platform::CabinetRefused& refused) {
        result.problem = Described(refused);
    } catch (const cabformat::Failure& failure) {
        result.problem = platform::EngineErrorWords(failure.error);
    } catch (const std::bad_alloc&) {
        result.problem = platform::EngineErrorWords({Errc::NoMemory});
    } catch (const std::filesystem::filesystem_error& error) {
        result.problem = error.what();
    }
    return result;
}

}  // namespace cabfile_tool
