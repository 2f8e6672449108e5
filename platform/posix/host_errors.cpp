// SPDX-License-Identifier: MIT
// The one table of Linux system errors as the program's numbers.
#include "platform/posix/host_errors.h"

#include "platform/files.h"
#include "platform/kernel.h"

#include <cerrno>

namespace platform {

namespace {

// Not in kernel.h: the code Windows gives for a name component too long.
constexpr uint32_t ERROR_FILENAME_EXCED_RANGE = 206;

// In the Win32 columns: the errno means nothing particular there, and reads
// as an error the table does not hold (kUnlisted).
constexpr uint32_t kAsUnlisted = NO_ERROR;

struct HostErrorRow {
    int error;
    uint32_t opening;    // opening a file that should exist, to read it
    uint32_t otherwise;  // reading, creating, writing or renaming a file
    // Making a directory, as Windows' CreateDirectory answers: a name that
    // cannot be reached or made here reads like one that is taken (access
    // denied), even on a read-only disk, and what names no cause of its own
    // is a directory that cannot be made.
    uint32_t makingDirectory;
    int32_t runtime;  // the runtime's number, for a file copied or started
};

// clang-format off
constexpr HostErrorRow kHostErrors[] = {
    //                opening                     otherwise                   makingDirectory         runtime
    // Opening names an existing file; creating or renaming names a directory.
    {ENOENT,       ERROR_FILE_NOT_FOUND,       ERROR_PATH_NOT_FOUND,       ERROR_PATH_NOT_FOUND,   kErrPathNotFound},
    {ENOTDIR,      ERROR_PATH_NOT_FOUND,       ERROR_PATH_NOT_FOUND,       ERROR_PATH_NOT_FOUND,   kErrPathNotFound},
    {ELOOP,        ERROR_PATH_NOT_FOUND,       ERROR_PATH_NOT_FOUND,       ERROR_CANNOT_MAKE,      kErrPathFileAccess},
    {EACCES,       ERROR_ACCESS_DENIED,        ERROR_ACCESS_DENIED,        ERROR_ACCESS_DENIED,    kErrPermissionDenied},
    {EPERM,        ERROR_ACCESS_DENIED,        ERROR_ACCESS_DENIED,        ERROR_ACCESS_DENIED,    kErrPermissionDenied},
    {EISDIR,       ERROR_ACCESS_DENIED,        ERROR_ACCESS_DENIED,        ERROR_CANNOT_MAKE,      kErrPathFileAccess},
    {EROFS,        ERROR_WRITE_PROTECT,        ERROR_WRITE_PROTECT,        ERROR_ACCESS_DENIED,    kErrPermissionDenied},
    {EEXIST,       kAsUnlisted,                kAsUnlisted,                ERROR_ALREADY_EXISTS,   kErrPathFileAccess},
    {ENOSPC,       ERROR_DISK_FULL,            ERROR_DISK_FULL,            ERROR_DISK_FULL,        kErrDiskFull},
    {EDQUOT,       ERROR_DISK_FULL,            ERROR_DISK_FULL,            ERROR_DISK_FULL,        kErrDiskFull},
    {EFBIG,        ERROR_DISK_FULL,            ERROR_DISK_FULL,            ERROR_CANNOT_MAKE,      kErrDeviceIo},
    {EMFILE,       ERROR_TOO_MANY_OPEN_FILES,  ERROR_TOO_MANY_OPEN_FILES,  ERROR_CANNOT_MAKE,      kErrDeviceIo},
    {ENFILE,       ERROR_TOO_MANY_OPEN_FILES,  ERROR_TOO_MANY_OPEN_FILES,  ERROR_CANNOT_MAKE,      kErrDeviceIo},
    {ENOMEM,       ERROR_NOT_ENOUGH_MEMORY,    ERROR_NOT_ENOUGH_MEMORY,    ERROR_CANNOT_MAKE,      kErrDeviceIo},
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE, ERROR_FILENAME_EXCED_RANGE, ERROR_CANNOT_MAKE,      kErrPathFileAccess},
    {EBUSY,        ERROR_SHARING_VIOLATION,    ERROR_SHARING_VIOLATION,    ERROR_CANNOT_MAKE,      kErrPathFileAccess},
    {ETXTBSY,      ERROR_SHARING_VIOLATION,    ERROR_SHARING_VIOLATION,    ERROR_CANNOT_MAKE,      kErrPathFileAccess},
    // Opening something that is not a regular file (see OpenCabinetFile).
    {EINVAL,       ERROR_INVALID_DATA,         ERROR_INVALID_PARAMETER,    ERROR_CANNOT_MAKE,      kErrDeviceIo},
};
// clang-format on

const HostErrorRow* RowOf(int error) {
    for (const HostErrorRow& row : kHostErrors) {
        if (row.error == error) {
            return &row;
        }
    }
    return nullptr;
}

// What an errno the table does not hold reads as: a fault of the device in
// the direction the bytes went, or a failure with no cause to name.
uint32_t Unlisted(IoOperation operation) {
    switch (operation) {
        case IoOperation::Open:
        case IoOperation::Read: return ERROR_READ_FAULT;
        case IoOperation::Write: return ERROR_WRITE_FAULT;
        case IoOperation::MakeDirectory: return ERROR_CANNOT_MAKE;
        case IoOperation::Create:
        case IoOperation::Rename: break;
    }
    return ERROR_GEN_FAILURE;
}

}  // namespace

uint32_t Win32FromErrno(int error, IoOperation operation) {
    const HostErrorRow* row = RowOf(error);
    if (row == nullptr) {
        return Unlisted(operation);
    }
    const uint32_t code = operation == IoOperation::Open            ? row->opening
                          : operation == IoOperation::MakeDirectory ? row->makingDirectory
                                                                    : row->otherwise;
    return code != kAsUnlisted ? code : Unlisted(operation);
}

int32_t RuntimeNumberFromErrno(int error) {
    const HostErrorRow* row = RowOf(error);
    return row != nullptr ? row->runtime : kErrDeviceIo;
}

}  // namespace platform
