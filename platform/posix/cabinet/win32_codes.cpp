// Win32 codes for the cabinet service's failures (see win32_codes.h).
#include "platform/posix/cabinet/win32_codes.h"

#include "platform/kernel.h"
#include "platform/posix/host_io.h"

#include <cerrno>
#include <mspack.h>

namespace platform::cabservice {

uint32_t Win32FromErrno(int error, IoOperation operation) {
    const bool reading =
        operation == IoOperation::Open || operation == IoOperation::Read || operation == IoOperation::Seek;
    switch (error) {
        case ENOENT:
            // Opening names an existing file; creating or renaming names a folder.
            return operation == IoOperation::Open ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
        case ENOTDIR:
        case ELOOP: return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR: return ERROR_ACCESS_DENIED;
        case EROFS: return ERROR_WRITE_PROTECT;
        case ENOSPC:
        case EDQUOT:
        case EFBIG: return ERROR_DISK_FULL;
        case EMFILE:
        case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
        case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
        case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
        case EBUSY:
        case ETXTBSY: return ERROR_SHARING_VIOLATION;
        case EINVAL:
            // Opening something that is not a regular file (see OpenForReading).
            return operation == IoOperation::Open ? ERROR_INVALID_DATA : ERROR_INVALID_PARAMETER;
        default: break;
    }
    if (reading) {
        return ERROR_READ_FAULT;
    }
    if (operation == IoOperation::Write || operation == IoOperation::Close) {
        return ERROR_WRITE_FAULT;
    }
    return ERROR_GEN_FAILURE;
}

uint32_t Win32FromMspack(int mspackError, const IoFailure& io) {
    switch (mspackError) {
        case MSPACK_ERR_OPEN:
        case MSPACK_ERR_READ:
        case MSPACK_ERR_SEEK:
        case MSPACK_ERR_WRITE:
            if (io.error != 0) {
                return Win32FromErrno(io.error, io.operation);
            }
            // No host call failed: the read ran into the end of the file.
            return mspackError == MSPACK_ERR_OPEN    ? ERROR_FILE_NOT_FOUND
                   : mspackError == MSPACK_ERR_WRITE ? ERROR_WRITE_FAULT
                                                     : ERROR_INVALID_DATA;
        case MSPACK_ERR_NOMEMORY: return ERROR_NOT_ENOUGH_MEMORY;
        case MSPACK_ERR_CHECKSUM: return ERROR_CRC;
        default:
            // MSPACK_ERR_SIGNATURE, _DATAFORMAT, _DECRUNCH, and _ARGS, which
            // only a malformed set (a merge libmspack refuses) can bring.
            return ERROR_INVALID_DATA;
    }
}

uint32_t Win32ForMissingFile(const std::string& hostPath) {
    return IsHostDirectory(ParentFolder(hostPath)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

}  // namespace platform::cabservice
