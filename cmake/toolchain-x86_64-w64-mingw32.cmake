# SPDX-License-Identifier: MIT
# The same sources for 64-bit Windows, whose tests run here under wine64.
set(VARNHOLT_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
# Wine, started again when its loader ends before the program runs.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
