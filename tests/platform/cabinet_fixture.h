// SPDX-License-Identifier: MIT
// The fixture every cabinet-service test runs in: a Wine prefix whose C:
// drive is a fresh folder, helpers to place cabinets on it, and a check
// that no walk left a temporary file behind.
#pragma once

#include "cabformat/decoders.h"
#include "platform/posix/safe_output.h"
#include "tests/support/cabinet_recorder.h"
#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace cabinettest {

namespace fs = std::filesystem;

// Poisons the last error before every call, so a failure proves the call set it.
constexpr uint32_t kSentinel = 0xDEADBEEF;

// MS-DOS date and time words of a host time, in local time.
inline std::pair<uint16_t, uint16_t> DosStampOf(std::time_t moment) {
    std::tm local{};
    localtime_r(&moment, &local);
    const auto date =
        static_cast<uint16_t>((local.tm_year + 1900 - 1980) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
    const auto time = static_cast<uint16_t>(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
    return {date, time};
}

// What one walk did: its result, every notification, the files it wrote.
// Every folder goes to libmspack while this lives.
class LibmspackDecodesAll {
public:
    LibmspackDecodesAll() { cabformat::SetNativeDecoding(false); }
    ~LibmspackDecodesAll() { cabformat::SetNativeDecoding(true); }
    LibmspackDecodesAll(const LibmspackDecodesAll&) = delete;
    LibmspackDecodesAll& operator=(const LibmspackDecodesAll&) = delete;
};

class CabinetTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(TemporariesUnder(prefix_.root()), std::vector<std::string>{}) << "a walk left a temporary file";
    }

    // The host path of a path on C:, given with '/'.
    fs::path C(const std::string& relative) const { return prefix_.driveC() / relative; }

    void Place(const std::string& relative, const std::string& bytes) const {
        testsupport::WriteFile(C(relative), bytes);
    }

    // One walk with the last error poisoned first.
    static int32_t Walk(Recorder& recorder, const std::string& dosPath) {
        platform::SetLastError(kSentinel);
        return recorder.walk(dosPath);
    }

    static std::vector<std::string> TemporariesUnder(const fs::path& root) {
        std::vector<std::string> found;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (platform::IsSafeOutputTemporaryName(it->path().filename().string())) {
                found.push_back(it->path().string());
            }
        }
        return found;
    }

    testsupport::WinePrefix prefix_;
};

}  // namespace cabinettest
