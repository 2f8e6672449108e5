# SPDX-License-Identifier: MIT
# The shipped program: 32-bit Windows. Its tests run here under Wine's WOW64
# in a 64-bit prefix (Wine's 32-bit part, wine32:i386, installed), as a
# player's 64-bit Windows runs the program.
set(VARNHOLT_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
# Wine, started again when its loader ends before the program runs.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
# The suites' tests are listed when ctest runs, not while building: a
# machine whose kernel cannot run 32-bit programs still builds every i686
# target, and only running them needs that support.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
