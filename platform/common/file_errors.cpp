// SPDX-License-Identifier: MIT
// The runtime's file error numbers and their texts.
#include "platform/common/file_errors.h"

#include "platform/files.h"
#include "platform/runtime.h"

#include <iterator>
#include <string_view>
#include <utility>

namespace platform {

namespace {

constexpr char16_t kRuntimeSource[] = u"VarnholtInstall";

// The last row is what every number the table does not hold becomes.
// clang-format off
constexpr std::pair<int32_t, std::u16string_view> kFileErrorTexts[] = {
    {kErrFileNotFound,     u"File not found"},
    {kErrDiskFull,         u"Disk full"},
    {kErrPermissionDenied, u"Permission denied"},
    {kErrPathFileAccess,   u"Path/File access error"},
    {kErrPathNotFound,     u"Path not found"},
    {kErrDeviceIo,         u"Device I/O error"},
};
// clang-format on

}  // namespace

void RaiseFileError(int32_t number) {
    const auto* row = std::begin(kFileErrorTexts);
    while (row->first != number && row + 1 != std::end(kFileErrorTexts)) {
        ++row;
    }
    throw RaisedError(row->first, kRuntimeSource, std::u16string(row->second));
}

}  // namespace platform
