// SPDX-License-Identifier: MIT
// Replays through every fuzz target each input in regressions/ (each named
// after the defect it once set off: the fuzzers' findings, and cabinets our
// test writer made for faults of our dependencies). Each must end cleanly:
// no crash, no sanitizer report, no litter, no half-written file.
#include "fuzz/harness.h"
#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

namespace fs = std::filesystem;

TEST(FuzzRegressions, EveryKnownHostileInputEndsCleanlyInEveryTarget) {
    std::vector<fs::path> inputs;
    for (const auto& item : fs::directory_iterator(fs::path(VARNHOLT_SOURCE_DIR) / "tests" / "fuzz" / "regressions")) {
        inputs.push_back(item.path());
    }
    std::sort(inputs.begin(), inputs.end());
    ASSERT_FALSE(inputs.empty());
    for (const auto& input : inputs) {
        SCOPED_TRACE(input.filename().string());
        const std::string bytes = testsupport::ReadFile(input);
        const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
        EXPECT_EQ(fuzzing::WalkAsCabinet(data, bytes.size()), "");
        EXPECT_EQ(fuzzing::ReadAsHeader(data, bytes.size()), "");
        EXPECT_EQ(fuzzing::UseWithCabFile(data, bytes.size()), "");
    }
}

}  // namespace
