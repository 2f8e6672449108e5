// SPDX-License-Identifier: MIT
// The cabinet engine over cabinets in memory, for the suites that drive it directly.
#pragma once

#include "cabformat/cabinet_set.h"

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace cabformattest {

// A set in memory: the next cabinet is the one under the name the header
// gives, on the first asking.
struct MemorySet final : cabformat::SetHost {
    explicit MemorySet(std::map<std::string, std::string> named) : cabinets(std::move(named)) {}

    std::unique_ptr<cabformat::ByteSource> source(const std::string& name) const {
        return std::make_unique<cabformat::MemorySource>(cabinets.at(name).data(), cabinets.at(name).size());
    }
    std::unique_ptr<cabformat::ByteSource> nextPart(const cabformat::Part& current, int attempt) override {
        return attempt == 0 && cabinets.count(current.header.nextName) != 0 ? source(current.header.nextName) : nullptr;
    }
    void partOpened(const cabformat::Part&) override {}
    std::unique_ptr<cabformat::SpillStore> spillStore() override {
        struct InMemory final : cabformat::SpillStore {
            int append(const unsigned char* bytes, std::size_t size) override {
                kept.insert(kept.end(), bytes, bytes + size);
                return 0;
            }
            int readAt(uint64_t offset, unsigned char* into, std::size_t size) override {
                std::copy_n(kept.begin() + static_cast<std::ptrdiff_t>(offset), size, into);
                return 0;
            }
            std::vector<unsigned char> kept;
        };
        return std::make_unique<InMemory>();
    }

    std::map<std::string, std::string> cabinets;
};

struct StringSink final : cabformat::EntrySink {
    bool open() override { return true; }
    void write(const unsigned char* data, std::size_t size) override {
        bytes.append(reinterpret_cast<const char*>(data), size);
    }
    std::string bytes;
};

// One entry as the engine gave it: its result, and its bytes when whole.
struct Extracted {
    std::string name;
    cabformat::Errc result = cabformat::Errc::Ok;
    std::string bytes;
    bool operator==(const Extracted&) const = default;
};

// Every entry of the set that begins with cabinet `first`, in order, each
// extracted. A walk that cannot go on ends the list with an entry named ""
// that carries its error.
inline std::vector<Extracted> ExtractAll(MemorySet host, const std::string& first = "t.cab") {
    std::vector<Extracted> out;
    try {
        cabformat::CabinetSet set(host);
        set.openFirst(host.source(first), first);
        for (std::size_t index = 0;; ++index) {
            for (const cabformat::FileRecord& file : set.part(index).header.files) {
                if (set.offered(index, file)) {
                    StringSink sink;
                    const cabformat::Errc result = set.extract(index, file, sink).code;
                    // What a failed entry wrote before it failed is thrown away.
                    out.push_back({std::string(file.name), result, result == cabformat::Errc::Ok ? sink.bytes : ""});
                }
            }
            if (!set.part(index).header.hasNext()) {
                break;
            }
            if (index + 1 == set.size()) {
                set.openNext();
            }
        }
    } catch (const cabformat::Failure& failure) {
        out.push_back({"", failure.error.code, ""});
    }
    return out;
}

}  // namespace cabformattest
