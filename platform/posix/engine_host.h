// SPDX-License-Identifier: MIT
// The host half of a walk over the cabinet engine on Linux, shared by the
// cabinet service (setupapi.cpp) and cabfile's engine walks, so that both
// open cabinets, follow a set and refuse a cabinet that comes twice alike.
// What differs between them is only where the next part is looked for and
// what a cabinet file holds; they say it through the hooks below.
#pragma once

#include "cabformat/cabinet_set.h"
#include "platform/posix/engine_files.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>

namespace platform {

// Why a cabinet file cannot join a walk, with the Win32 code the cabinet
// service fails with.
struct CabinetRefused {
    enum class Why {
        CannotOpen,       // the system refused; hostError says why
        NotARegularFile,  // a directory, pipe or device
        AlreadyInTheSet,  // a set that names one of its own cabinets again would walk for ever
    };
    Why why;
    uint32_t code;
    std::string hostPath;
    int hostError = 0;
};

// Opens the cabinet file `hostPath` for reading; throws CabinetRefused. A
// missing file is told apart from a missing directory, as Windows does; a
// directory is access denied, anything else that is not a regular file
// damaged data (a pipe could block a read forever).
std::unique_ptr<HostFile> OpenCabinetFile(const std::string& hostPath);

class EngineHost : public cabformat::SetHost {
public:
    // Opens the first cabinet of a walk (through cabinetIn); throws
    // CabinetRefused.
    std::unique_ptr<cabformat::ByteSource> openFirst(const std::string& hostPath);

    // Asks whereNext for the part `current` names, and opens what it finds.
    std::unique_ptr<cabformat::ByteSource> nextPart(const cabformat::Part& current, int attempt) final;
    // Refuses a file already in the walk (CabinetRefused), then tells joined.
    void partOpened(const cabformat::Part& part) final;
    // An unnamed spill file (MakeSpillFile) near spillNear().
    std::unique_ptr<cabformat::SpillStore> spillStore() final;

protected:
    ~EngineHost() = default;

    // The host path the next part `current` names may have, on the
    // `attempt`th asking; nothing when there is nowhere (more) to look.
    virtual std::optional<std::string> whereNext(const cabformat::Part& current, int attempt) = 0;
    // The cabinet the opened file holds: by default the whole file.
    virtual std::unique_ptr<cabformat::ByteSource> cabinetIn(std::unique_ptr<HostFile> file,
                                                             const std::string& hostPath);
    // A part joined the walk, the first one included.
    virtual void joined(const cabformat::Part&) {}
    // The directory whose file system may hold a spill $TMPDIR cannot; "" for none.
    virtual std::string spillNear() const { return ""; }

private:
    std::unique_ptr<cabformat::ByteSource> open(const std::string& hostPath);

    // The file opened last is the one the set takes in next, if any.
    std::pair<uint64_t, uint64_t> opened_;
    std::string openedPath_;
    std::set<std::pair<uint64_t, uint64_t>> seen_;
};

}  // namespace platform
