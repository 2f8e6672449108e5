// SPDX-License-Identifier: MIT
// The libFuzzer entry point, built once per target with
// VARNHOLT_FUZZ_ENTRY naming the harness routine it runs (see harness.h).
#include "fuzz/harness.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string problem = fuzzing::VARNHOLT_FUZZ_ENTRY(data, size);
    if (!problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
