// SPDX-License-Identifier: MIT
// The report of a registry script that was not merged.
#include "platform/common/registry_merge.h"

#include "platform/runtime.h"

#include <string>

namespace platform {

namespace {
constexpr char16_t kRuntimeSource[] = u"VarnholtInstall";
}

void RaiseRegistryNotMerged(int32_t number, std::u16string_view reason, std::u16string_view command) {
    std::u16string text = u"The game's files are installed, but its registry settings were not merged: ";
    text += reason;
    text += u".\n\nTo finish the installation, run this command:\n";
    text += command;
    throw RaisedError(number, kRuntimeSource, text);
}

}  // namespace platform
