// SPDX-License-Identifier: MIT
// The report of a registry script that was handed to the system's registry
// tool but not merged, shared by both platforms: the game's files are in
// place by then, so the player is told what is missing and the one command
// that finishes the installation. Private to the platform implementations.
#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>

namespace platform {

// How long a registry import may take before it counts as failed. A first
// Wine call also creates the prefix (11 s measured here, 15 s on a loaded
// machine), so the bound is far beyond any import that is still working.
constexpr std::chrono::seconds kRegistryImportBound{180};

// The system's codes a failed merge is raised with.
constexpr int32_t kMergeToolFailed = 1603;       // ERROR_INSTALL_FAILURE: the tool ran and refused
constexpr int32_t kMergeTimedOut = 1460;         // ERROR_TIMEOUT: the tool did not end within the bound
constexpr int32_t kMergeConsentDeclined = 1223;  // ERROR_CANCELLED: the player declined the consent prompt

// Raises `number` with the report: what happened (`reason`, a clause such as
// "the registry tool ended with exit code 1"), that the game's files are
// installed but its settings are not, and `command`, which merges them.
[[noreturn]] void RaiseRegistryNotMerged(int32_t number, std::u16string_view reason, std::u16string_view command);

}  // namespace platform
