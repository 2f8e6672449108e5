// SetupIterateCabinetA on Linux: one walk over a cabinet (and the cabinets
// that continue it), telling the handler about each entry in the setup
// library's notifications and writing the entries it asks for.
//
// Stored and MSZIP folders are decoded by a thread that runs ahead of the
// walk (readahead.h); LZX and Quantum folders by libmspack, entry by entry.
// Either way the handler is called only from this file's C++ code on the
// caller's thread, never from inside a libmspack callback or the decoder
// thread, so an exception it throws unwinds the walk (stopping the decoder,
// closing the cabinets, removing any temporary file) and leaves
// SetupIterateCabinetA unchanged.
#include "platform/setupapi.h"

#include "platform/drives.h"
#include "platform/kernel.h"
#include "platform/posix/cabinet/decoders.h"
#include "platform/posix/cabinet/format.h"
#include "platform/posix/cabinet/io.h"
#include "platform/posix/cabinet/names.h"
#include "platform/posix/cabinet/output.h"
#include "platform/posix/cabinet/readahead.h"
#include "platform/posix/cabinet/set.h"
#include "platform/posix/cabinet/win32_codes.h"
#include "platform/posix/drive_listings.h"
#include "platform/posix/host_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <map>
#include <new>
#include <string>
#include <unistd.h>

namespace platform {

namespace {

using cabservice::FileRecord;
using cabservice::FolderSpan;
using cabservice::Part;
using cabservice::WalkFailure;

constexpr int32_t kTrue = 1;
constexpr int32_t kFalse = 0;

// An exception the handler threw, carried out of the walk as it is.
struct HandlerException {
    std::exception_ptr exception;
};

class Walk final : public cabservice::SetEvents {
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
            set_.releaseFiles(index);
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
            FILE_IN_CABINET_INFO_A info{};
            info.NameInCabinet = entryName(file);
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

    // The entry's name in the ANSI code page: as stored (the list holds it
    // with its zero byte), or converted from UTF-8 into a buffer of the walk.
    const char* entryName(const FileRecord& file) {
        if ((file.attribs & cabservice::format::kAttribUtf8Name) == 0) {
            return file.name.data();
        }
        convertedName_ = cabservice::AnsiEntryName(file.name, file.attribs);
        return convertedName_.c_str();
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
        const std::optional<FolderSpan> span = set_.spanOf(index, file);
        if (!span) {
            return ERROR_INVALID_DATA;  // its data begins in a cabinet before this walk's first
        }
        const Part& first = set_.part(span->firstPart);
        const bool native = cabservice::DecodesNatively(first.header.folders[span->firstFolder].compression);
        if (!native && file.length != 0 && !set_.dataReadable(*span)) {
            return ERROR_INVALID_DATA;  // libmspack would read whatever lies where the header points
        }
        mscabd_folder* folder = native ? nullptr : set_.libmspackFolder(index, file, *span);
        cabservice::TempOutput output(*hostTarget);
        if (const uint32_t created = output.create(); created != NO_ERROR) {
            return created;
        }
        const uint32_t written = native ? writeDecoded(*span, file, output.fd())
                                        : writeWithLibmspack(folder, file, output.fd(), *hostTarget);
        if (written != NO_ERROR) {
            return written;
        }
        return output.commit(cabservice::LocalTimeOfDosStamp(file.dosDate, file.dosTime));
    }

    // Writes the entry's bytes from the decoder thread to `fd`.
    uint32_t writeDecoded(const FolderSpan& span, const FileRecord& file, int fd) {
        const bool sameFolder = decoding_ && *decoding_ == span;
        cabservice::FolderData data = sameFolder ? cabservice::FolderData{} : set_.dataOf(span);
        const uint64_t blocks = sameFolder ? decodingBlocks_ : data.blockCount();
        const uint64_t end = uint64_t{file.folderOffset} + file.length;
        if (end > cabservice::format::kMaxFolderSize || end > blocks * cabservice::format::kMaxBlockSize) {
            return ERROR_INVALID_DATA;  // more than the folder can hold
        }
        if (file.length == 0) {
            return NO_ERROR;
        }
        if (!sameFolder || position_ > file.folderOffset) {
            if (sameFolder) {
                data = set_.dataOf(span);  // an entry out of order: back to the folder's start
            }
            readAhead_.start(std::move(data));
            decoding_ = span;
            decodingBlocks_ = blocks;
            position_ = 0;
        }
        // A failed write keeps the entry's bytes flowing past, so that the
        // decoder keeps its place for the entries after it.
        uint64_t skip = file.folderOffset - position_;
        uint64_t left = file.length;
        int writeError = 0;
        while (skip + left > 0) {
            const unsigned char* bytes = nullptr;
            std::size_t size = 0;
            if (const uint32_t failed = readAhead_.peek(bytes, size); failed != NO_ERROR) {
                return failed;
            }
            if (size == 0) {
                return ERROR_INVALID_DATA;  // the folder's data ends before the entry does
            }
            std::size_t take = static_cast<std::size_t>(std::min<uint64_t>(size, skip + left));
            if (skip > 0) {
                take = static_cast<std::size_t>(std::min<uint64_t>(take, skip));
                skip -= take;
            } else {
                if (writeError == 0) {
                    writeError = WriteAll(fd, bytes, take);
                }
                left -= take;
            }
            readAhead_.consume(take);
            position_ += take;
        }
        return writeError != 0 ? cabservice::Win32FromErrno(writeError, cabservice::IoOperation::Write) : NO_ERROR;
    }

    // Writes the entry through libmspack, which decodes the folder itself.
    uint32_t writeWithLibmspack(mscabd_folder* folder, const FileRecord& file, int fd, const std::string& hostTarget) {
        std::string name(file.name);  // libmspack wants it writable, for its messages
        mscabd_file entry{};
        entry.filename = name.data();
        entry.length = file.length;
        entry.attribs = file.attribs;
        entry.offset = file.folderOffset;
        entry.folder = folder;

        mscab_decompressor* decompressor = set_.decompressor();
        io_.clearFailure();
        io_.armOutput(fd);
        const int status = decompressor->extract(decompressor, &entry, hostTarget.c_str());
        const cabservice::OutputResult written = io_.disarmOutput();
        if (status != MSPACK_ERR_OK) {
            const cabservice::IoFailure& failure = io_.failure();
            if (failure.error != 0) {
                const uint32_t code = cabservice::Win32FromMspack(status, failure);
                readFaults_.emplace(folder, code);
                return code;
            }
            // libmspack keeps a read fault and answers every later entry of
            // the folder with it, without reading again.
            const auto fault = readFaults_.find(folder);
            return status == MSPACK_ERR_READ && fault != readFaults_.end()
                       ? fault->second
                       : cabservice::Win32FromMspack(status, failure);
        }
        if (written.writeError != 0) {
            return cabservice::Win32FromErrno(written.writeError, cabservice::IoOperation::Write);
        }
        if (written.bytesWritten != file.length) {
            return ERROR_INVALID_DATA;
        }
        return NO_ERROR;
    }

    std::string cabinetFile_;
    PSP_FILE_CALLBACK_A handler_;
    void* context_;
    cabservice::CabinetIo io_;
    cabservice::CabinetSet set_;
    std::string convertedName_;
    // The folder the decoder thread is on, and where the walk is in its data.
    std::optional<FolderSpan> decoding_;
    uint64_t decodingBlocks_ = 0;
    uint64_t position_ = 0;
    cabservice::ReadAhead readAhead_;
    // The code of the host read fault that broke a libmspack folder.
    std::map<const mscabd_folder*, uint32_t> readFaults_;
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
        const DrivePathScope drivePaths;  // the walk's folders are looked up once
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
