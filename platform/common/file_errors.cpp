// SPDX-License-Identifier: MIT
// The runtime's file error numbers and their texts.
#include "platform/common/file_errors.h"

#include "platform/files.h"
#include "platform/runtime.h"

namespace platform {

namespace {
constexpr char16_t kRuntimeSource[] = u"VarnholtInstall";
}

void RaiseFileError(int32_t number) {
    const char16_t* text = u"Device I/O error";
    switch (number) {
        case kErrFileNotFound: text = u"File not found"; break;
        case kErrDiskFull: text = u"Disk full"; break;
        case kErrPermissionDenied: text = u"Permission denied"; break;
        case kErrPathFileAccess: text = u"Path/File access error"; break;
        case kErrPathNotFound: text = u"Path not found"; break;
        default: number = kErrDeviceIo; break;
    }
    throw RaisedError(number, kRuntimeSource, text);
}

}  // namespace platform
