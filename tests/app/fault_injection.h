// SPDX-License-Identifier: MIT
// A test-only seam in the Linux file layer: the fault-walk test links with
// -Wl,--wrap for each call below, so the platform library's calls of them
// come here first. While armed, each call is counted and the n-th fails with
// the errno the test chooses; the shipped program has none of this. Every
// rename of a temporary is also checked for its writer's lock, which keeps a
// sweep from taking a live temporary for one a killed run left.
#pragma once

#include <cstdint>
#include <functional>

namespace faultinjection {

enum class Call { Open, Read, Write, Rename, Mkdir, Link, Sync };

const char* NameOf(Call call);

// From now on counts the wrapped calls; the `failAt`-th (1-based; 0 fails
// none) fails with errorFor(call). With `noUnnamedFiles`, every attempt to
// open an unnamed file (O_TMPFILE) fails with EOPNOTSUPP, uncounted, as on a
// file system without them.
void Arm(uint64_t failAt, std::function<int(Call)> errorFor, bool noUnnamedFiles = false);

struct Tally {
    uint64_t calls = 0;
    bool failed = false;  // the failAt-th call came and was failed
    Call failedCall = Call::Open;
    uint64_t unlockedRenames = 0;  // temporaries renamed without their writer's lock
};
// Stops counting; what was counted since Arm.
Tally Disarm();

}  // namespace faultinjection
