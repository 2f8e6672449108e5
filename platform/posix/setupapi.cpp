// SPDX-License-Identifier: MIT
// SetupIterateCabinetA on Linux, the sibling of win32/setupapi.cpp: one
// walk over a cabinet (and the cabinets that continue it) read by the
// cabinet engine (cabformat/), told to the handler in the setup library's
// notifications. This file holds what the engine leaves to its host: the
// cabinets as host files, the next cabinet looked for in drive paths and
// asked of the handler, the entries written safely (SafeOutput) with their
// dates, and every failure as the Win32 code the contract names.
//
// The handler is called only from this file, on the caller's thread, never
// from inside libmspack or the decoder thread, so an exception it throws
// unwinds the walk (stopping the decoder, closing the cabinets, removing any
// temporary file) and leaves SetupIterateCabinetA unchanged.
#include "platform/setupapi.h"

#include "cabformat/cabinet_set.h"
#include "cabformat/layout.h"
#include "platform/drives.h"
#include "platform/kernel.h"
#include "platform/posix/dos_stamp.h"
#include "platform/posix/drive_paths.h"
#include "platform/posix/engine_errors.h"
#include "platform/posix/engine_files.h"
#include "platform/posix/engine_host.h"
#include "platform/posix/host_errors.h"
#include "platform/posix/host_io.h"
#include "platform/posix/safe_output.h"
#include "platform/posix/walk_memory.h"
#include "platform/runtime.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

using cabformat::Errc;
using cabformat::FileRecord;

constexpr int32_t kTrue = 1;
constexpr int32_t kFalse = 0;

// Thrown here to end a walk with a Win32 code; caught at SetupIterateCabinetA.
struct WalkFailure {
    uint32_t code;
};

// An exception the handler threw, carried out of the walk as it is.
struct HandlerException {
    std::exception_ptr exception;
};

// ---- Host files ----

// The entry's output: a SafeOutput created when the engine has found the
// entry's data, written to until the first failure.
class EntryOutput final : public cabformat::EntrySink {
public:
    EntryOutput(const std::string& hostTarget, WalkMemory& walk)
        : hostTarget_(hostTarget), output_(hostTarget, &walk) {}

    bool open() override {
        createError_ = output_.create();
        return createError_ == 0;
    }
    void write(const unsigned char* bytes, std::size_t size) override {
        if (writeError_ == 0) {
            writeError_ = WriteAll(output_.fd(), bytes, size);
        }
    }

    // The entry's result, given the engine's: 0 or a Win32 code.
    uint32_t finish(const cabformat::Error& extracted, const FileRecord& file) {
        if (createError_ != 0) {
            return CreateFailure(createError_);
        }
        if (!extracted.ok()) {
            return Win32FromEngine(extracted);
        }
        if (writeError_ != 0) {
            return Win32FromErrno(writeError_, IoOperation::Write);
        }
        std::optional<SafeOutput::Times> times;
        if (const std::optional<std::time_t> modified = LocalTimeOfDosStamp(file.dosDate, file.dosTime)) {
            times = SafeOutput::Times{{*modified, 0}, {*modified, 0}};
        }
        const int error = output_.commit(times, false);
        return error == 0 ? NO_ERROR : Win32FromErrno(error, IoOperation::Rename);
    }

private:
    // A directory on the way that does not exist is missing unless it was
    // kept from being made: the handler's directory maker, like Windows, takes
    // a directory it may not make for one that is there, and the system's
    // refusal is then the reason to tell.
    uint32_t CreateFailure(int error) const {
        if (error == ENOENT) {
            for (std::string directory = ParentDirectory(hostTarget_);; directory = ParentDirectory(directory)) {
                struct stat info {};
                if (::stat(directory.c_str(), &info) == 0) {
                    if (S_ISDIR(info.st_mode) && ::access(directory.c_str(), W_OK | X_OK) != 0 && errno == EACCES) {
                        return ERROR_ACCESS_DENIED;
                    }
                    break;
                }
                if (directory == "/" || directory == ".") {
                    break;
                }
            }
        }
        return Win32FromErrno(error, IoOperation::Create);
    }

    std::string hostTarget_;
    SafeOutput output_;
    int createError_ = 0;
    int writeError_ = 0;
};

// ---- Names ----

// The directory of a drive path, up to and including its last '\' or '/'
// ("" when there is none), and the rest.
std::pair<std::string, std::string> SplitDosPath(std::string_view dosPath) {
    const std::size_t last = dosPath.find_last_of("\\/");
    if (last == std::string_view::npos) {
        return {"", std::string(dosPath)};
    }
    return {std::string(dosPath.substr(0, last + 1)), std::string(dosPath.substr(last + 1))};
}

// `directory` ending in a separator: '\' is added unless it ends in '\' or '/'.
std::string WithTrailingSeparator(std::string directory) {
    if (directory.empty() || (directory.back() != '\\' && directory.back() != '/')) {
        directory += '\\';
    }
    return directory;
}

// ---- The walk ----

class Walk final : public EngineHost {
public:
    Walk(const char* cabinetFile, PSP_FILE_CALLBACK_A handler, void* context, WalkMemory& memory)
        : cabinetFile_(cabinetFile), handler_(handler), context_(context), memory_(memory), set_(*this) {}

    // Returns when the walk has run to its end or the handler aborted it;
    // throws WalkFailure, cabformat::Failure or HandlerException.
    void run() {
        uint32_t error = NO_ERROR;
        const std::optional<std::string> hostPath = DosPathToHostPath(cabinetFile_, &error);
        if (!hostPath) {
            throw WalkFailure{error != NO_ERROR ? error : ERROR_PATH_NOT_FOUND};
        }
        auto [directory, file] = SplitDosPath(cabinetFile_);
        std::unique_ptr<cabformat::ByteSource> source = openFirst(*hostPath);
        candidateDirectory_ = std::move(directory);
        set_.openFirst(std::move(source), std::move(file));
        // A walk from the first cabinet of a set goes through the whole set;
        // one from a later cabinet reports that cabinet's entries only
        // (reading on into the next cabinets just for the data of entries
        // that continue there): every record it lists, those that begin in
        // an earlier cabinet too, which fail as damaged data when written
        // (their beginning is in no cabinet of the walk), as do entries of
        // a folder begun there.
        set_.visitCabinets([this](std::size_t index) { return walkEntries(index); });
    }

private:
    // Beside the last cabinet first, then where the handler says.
    std::optional<std::string> whereNext(const cabformat::Part& current, int attempt) override {
        const cabformat::CabinetHeader& header = current.header;
        if (attempt == 0) {
            searchDirectory_ = dosDirectories_.back();
        } else {
            const CABINET_INFO_A wanted{searchDirectory_.c_str(), header.nextName.c_str(), header.nextDisk.c_str(),
                                        header.setId, static_cast<uint16_t>(header.cabinetIndex + 1)};
            char newPath[MAX_PATH] = {};
            const uint32_t answer = notify(SPFILENOTIFY_NEEDNEWCABINET, reinterpret_cast<uintptr_t>(&wanted),
                                           reinterpret_cast<uintptr_t>(&newPath[0]));
            if (answer != NO_ERROR) {
                throw WalkFailure{answer};
            }
            const std::size_t length = strnlen(newPath, MAX_PATH);
            if (length == MAX_PATH) {
                throw WalkFailure{ERROR_INVALID_PARAMETER};  // no terminator in the buffer
            }
            if (length > 0) {
                searchDirectory_ = WithTrailingSeparator(std::string(newPath, length));
            }
        }
        candidateDirectory_ = searchDirectory_;
        return DosPathToHostPath(searchDirectory_ + header.nextName, nullptr);
    }

    void joined(const cabformat::Part& part) override {
        dosDirectories_.push_back(candidateDirectory_);
        dosPaths_.push_back(candidateDirectory_ + part.name);
        const CABINET_INFO_A info{dosDirectories_.back().c_str(), part.name.c_str(), part.diskName.c_str(),
                                  part.header.setId, part.header.cabinetIndex};
        notify(SPFILENOTIFY_CABINETINFO, reinterpret_cast<uintptr_t>(&info), 0);  // the answer means nothing
    }

    // Asked for while an entry is written: where $TMPDIR cannot hold the
    // spill, the file system of that entry's directory is tried.
    std::string spillNear() const override { return ParentDirectory(hostTarget_); }

    uint32_t notify(uint32_t notification, uintptr_t param1, uintptr_t param2) {
        try {
            return handler_(context_, notification, param1, param2);
        } catch (...) {
            throw HandlerException{std::current_exception()};
        }
    }

    // The entries that begin in part `index`, in order. Returns false when
    // the handler aborted the walk.
    bool walkEntries(std::size_t index) {
        const cabformat::Part& part = set_.part(index);
        const std::string dosPath = dosPaths_[index];  // a copy: opening the next cabinet adds to dosPaths_
        for (const FileRecord& file : part.header.files) {
            if (!set_.offered(index, file)) {
                continue;  // reported with the cabinet it begins in
            }
            FILE_IN_CABINET_INFO_A info{};
            info.NameInCabinet = entryName(file);
            info.FileSize = file.length;
            info.DosDate = file.dosDate;
            info.DosTime = file.dosTime;
            info.DosAttribs = file.attribs;
            const uint32_t answer = notify(SPFILENOTIFY_FILEINCABINET, reinterpret_cast<uintptr_t>(&info),
                                           reinterpret_cast<uintptr_t>(dosPath.c_str()));
            if (answer == FILEOP_ABORT) {
                return false;
            }
            if (answer == FILEOP_SKIP) {
                continue;
            }
            if (answer != FILEOP_DOIT) {
                throw WalkFailure{ERROR_INVALID_PARAMETER};
            }

            const std::size_t length = strnlen(info.FullTargetName, MAX_PATH);
            const std::string target(info.FullTargetName, length);
            const uint32_t result = length == MAX_PATH ? ERROR_INVALID_NAME : extract(index, file, target);
            FILEPATHS_A paths{target.c_str(), dosPath.c_str(), result, 0};
            const uint32_t verdict = notify(SPFILENOTIFY_FILEEXTRACTED, reinterpret_cast<uintptr_t>(&paths), 0);
            if (verdict != NO_ERROR) {
                throw WalkFailure{verdict};
            }
        }
        return true;
    }

    // The entry's name in the ANSI code page: as stored (the list holds it
    // with its zero byte), or converted from UTF-8 (characters the code page
    // lacks, and invalid sequences, become '?') into a buffer of the walk.
    const char* entryName(const FileRecord& file) {
        if ((file.attribs & cabformat::layout::kAttribUtf8Name) == 0) {
            return file.name.data();
        }
        convertedName_ = TextToAnsi(Utf8ToText(file.name));
        return convertedName_.c_str();
    }

    // Writes entry `file` of part `index` to the drive path `target`.
    // Returns 0 or the failure's Win32 code; throws when the set cannot go
    // on (a cabinet the data continues into is missing).
    uint32_t extract(std::size_t index, const FileRecord& file, const std::string& target) {
        uint32_t error = NO_ERROR;
        const std::optional<std::string> hostTarget = ResolveOnDisk(target, &memory_, &error);
        if (!hostTarget) {
            return error != NO_ERROR ? error : ERROR_PATH_NOT_FOUND;
        }
        hostTarget_ = *hostTarget;
        EntryOutput output(*hostTarget, memory_);
        const cabformat::Error extracted = set_.extract(index, file, output);
        return output.finish(extracted, file);
    }

    std::string cabinetFile_;
    PSP_FILE_CALLBACK_A handler_;
    void* context_;
    WalkMemory& memory_;  // what the walk knows of the disk
    // Each cabinet's drive directory (with its trailing separator) and path, by part.
    std::vector<std::string> dosDirectories_;
    std::vector<std::string> dosPaths_;
    // Where the next cabinet is looked for, and the directory of the one offered last.
    std::string searchDirectory_;
    std::string candidateDirectory_;
    std::string convertedName_;
    std::string hostTarget_;  // of the entry written last
    cabformat::CabinetSet set_;
};

int32_t Fail(uint32_t code) {
    SetLastError(code != NO_ERROR ? code : ERROR_GEN_FAILURE);
    return kFalse;
}

}  // namespace

int32_t SetupIterateCabinetA(const char* CabinetFile, uint32_t Reserved, PSP_FILE_CALLBACK_A MsgHandler,
                             void* Context) {
    if (CabinetFile == nullptr || MsgHandler == nullptr || Reserved != 0) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::exception_ptr raised;
    try {
        // What the walk learns of the disk, kept for its length; a walk begun
        // from another's handler shares the outer walk's.
        WalkMemory* const outer = WalkMemory::ForThisThread();
        std::optional<WalkMemory> own;
        Walk walk(CabinetFile, MsgHandler, Context, outer != nullptr ? *outer : own.emplace());
        walk.run();
        return kTrue;
    } catch (const WalkFailure& failure) {
        return Fail(failure.code);
    } catch (const CabinetRefused& refused) {
        return Fail(refused.code);
    } catch (const cabformat::Failure& failure) {
        return Fail(Win32FromEngine(failure.error));
    } catch (const HandlerException& handler) {
        raised = handler.exception;  // thrown again below, once the walk is gone
    } catch (const std::bad_alloc&) {
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    } catch (const std::exception&) {
        return Fail(ERROR_GEN_FAILURE);
    }
    std::rethrow_exception(raised);
}

}  // namespace platform
