// SetupIterateCabinetA on Linux: one walk over a cabinet (and the cabinets
// that continue it), telling the handler about each entry in the setup
// library's notifications and writing the entries it asks for.
//
// The handler is called only from this file's C++ code, never from inside a
// libmspack callback, so an exception it throws unwinds the walk (closing
// the cabinets and the decompressor, removing any temporary file) and leaves
// SetupIterateCabinetA unchanged.
#include "platform/setupapi.h"

#include "platform/drives.h"
#include "platform/kernel.h"
#include "platform/posix/cabinet/errors.h"
#include "platform/posix/cabinet/io.h"
#include "platform/posix/cabinet/names.h"
#include "platform/posix/cabinet/output.h"
#include "platform/posix/cabinet/set.h"

#include <cstring>
#include <exception>
#include <new>
#include <string>

namespace platform {

namespace {

using cabinet::FileRecord;
using cabinet::Part;
using cabinet::WalkFailure;

constexpr int32_t kTrue = 1;
constexpr int32_t kFalse = 0;

// An exception the handler threw, carried out of the walk as it is.
struct HandlerException {
    std::exception_ptr exception;
};

class Walk final : public cabinet::SetEvents {
public:
    Walk(const char* cabinetFile, PSP_FILE_CALLBACK_A handler, void* context)
        : cabinetFile_(cabinetFile), handler_(handler), context_(context), set_(io_, *this) {}

    // Returns when the walk has run to its end or the handler aborted it;
    // throws WalkFailure or HandlerException.
    void run() {
        set_.openFirst(cabinetFile_);
        // A walk from the first cabinet of a set goes through the whole set;
        // one from a later cabinet reports that cabinet's entries only
        // (reading on into the next cabinets just for the data of entries
        // that continue there).
        const bool wholeSet = !set_.part(0).header.hasPrev();
        for (std::size_t index = 0;; ++index) {
            if (!walkEntries(index)) {
                return;
            }
            if (!wholeSet || !set_.part(index).header.hasNext()) {
                return;
            }
            if (index + 1 == set_.size()) {
                set_.openNext();
            }
        }
    }

    void cabinetOpened(const Part& part) override {
        const CABINET_INFO_A info{part.dosFolder.c_str(), part.fileName.c_str(), part.diskName.c_str(),
                                  part.header.setId, part.header.cabinetIndex};
        notify(SPFILENOTIFY_CABINETINFO, reinterpret_cast<uintptr_t>(&info), 0);  // the answer means nothing
    }

    uint32_t needNewCabinet(const CABINET_INFO_A& info, char (&newPath)[MAX_PATH]) override {
        return notify(SPFILENOTIFY_NEEDNEWCABINET, reinterpret_cast<uintptr_t>(&info),
                      reinterpret_cast<uintptr_t>(&newPath[0]));
    }

private:
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
        const Part& part = set_.part(index);
        for (const FileRecord& file : part.header.files) {
            if (file.continuedFromPrev()) {
                continue;  // reported with the cabinet it begins in
            }
            const std::string name = cabinet::AnsiEntryName(file.name, file.attribs);
            FILE_IN_CABINET_INFO_A info{};
            info.NameInCabinet = name.c_str();
            info.FileSize = file.length;
            info.DosDate = file.dosDate;
            info.DosTime = file.dosTime;
            info.DosAttribs = file.attribs;
            const uint32_t answer = notify(SPFILENOTIFY_FILEINCABINET, reinterpret_cast<uintptr_t>(&info),
                                           reinterpret_cast<uintptr_t>(part.dosPath.c_str()));
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
            FILEPATHS_A paths{target.c_str(), part.dosPath.c_str(), result, 0};
            const uint32_t verdict = notify(SPFILENOTIFY_FILEEXTRACTED, reinterpret_cast<uintptr_t>(&paths), 0);
            if (verdict != NO_ERROR) {
                throw WalkFailure{verdict};
            }
        }
        return true;
    }

    // Writes entry `file` of part `index` to the drive path `target`.
    // Returns 0 or the failure's Win32 code; throws WalkFailure when the set
    // cannot go on (a cabinet the data continues into is missing).
    uint32_t extract(std::size_t index, const FileRecord& file, const std::string& target) {
        uint32_t error = NO_ERROR;
        const std::optional<std::string> hostTarget = DosPathToHostPath(target, &error);
        if (!hostTarget) {
            return error != NO_ERROR ? error : ERROR_PATH_NOT_FOUND;
        }
        mscabd_folder* folder = set_.folderFor(index, file);
        if (folder == nullptr) {
            return ERROR_INVALID_DATA;  // its data begins in a cabinet before this walk's first
        }
        cabinet::TempOutput output(*hostTarget);
        if (const uint32_t created = output.create(); created != NO_ERROR) {
            return created;
        }

        std::string name = file.name;  // libmspack wants it writable, for its messages
        mscabd_file entry{};
        entry.filename = name.data();
        entry.length = file.length;
        entry.attribs = file.attribs;
        entry.offset = file.folderOffset;
        entry.folder = folder;

        mscab_decompressor* decompressor = set_.decompressor();
        io_.clearFailure();
        io_.armOutput(output.fd());
        const int status = decompressor->extract(decompressor, &entry, hostTarget->c_str());
        const cabinet::OutputResult written = io_.disarmOutput();
        if (status != MSPACK_ERR_OK) {
            return cabinet::Win32FromMspack(status, io_.failure().error, io_.failure().operation);
        }
        if (written.writeError != 0) {
            return cabinet::Win32FromErrno(written.writeError, cabinet::IoOperation::Write);
        }
        if (written.bytesWritten != file.length) {
            return ERROR_INVALID_DATA;
        }
        return output.commit(cabinet::LocalTimeOfDosStamp(file.dosDate, file.dosTime));
    }

    std::string cabinetFile_;
    PSP_FILE_CALLBACK_A handler_;
    void* context_;
    cabinet::CabinetIo io_;
    cabinet::CabinetSet set_;
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
        Walk walk(CabinetFile, MsgHandler, Context);
        walk.run();
        return kTrue;
    } catch (const WalkFailure& failure) {
        return Fail(failure.code);
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
