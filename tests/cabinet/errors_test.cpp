// SPDX-License-Identifier: MIT
// The texts of the cabinet object's errors.
#include "cabinet/errors.h"
#include "platform/runtime.h"

#include <gtest/gtest.h>

using namespace cabinet;

namespace {

TEST(ErrorTexts, DescribeKnownCodesAndNothingElse) {
    for (int32_t unknown : {0, 1, 6, 124, -1, 183, CabErrNoCabName}) {
        EXPECT_EQ(platform::TextToUtf8(Win32ErrorText(unknown)), "Unknown error.") << unknown;
    }
    EXPECT_EQ(platform::TextToUtf8(Win32ErrorText(39)), "The disk is full.");
    EXPECT_EQ(platform::TextToUtf8(Win32ErrorText(112)), "There is not enough space on the disk.");
    EXPECT_EQ(platform::TextToUtf8(CabErrorText(5)), "Unknown error.");
}

}  // namespace
