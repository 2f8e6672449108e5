// SPDX-License-Identifier: MIT
// The Linux side of the test helpers: temporary folders, environment
// variables, Wine-style drive maps as symbolic links, and shell commands.
#include "tests/support/fixtures.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <sys/mount.h>
#include <sys/wait.h>

namespace testsupport {

const PlatformDifference kFixtureFoldersOnAnotherDrive{false, ""};
const PlatformDifference kNoAngleBracketsInFileNames{false, ""};
const PlatformDifference kMissingDriveIsFileNotFound{false, ""};

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "varnholt-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests may leave read-only folders behind; make them writable first.
    for (auto it = fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
    }
    fs::remove_all(path_, ec);
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
        previous_ = old;
    }
    setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (previous_) {
        setenv(name_.c_str(), previous_->c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
}

WinePrefix::WinePrefix() {
    fs::create_directories(dir_ / "dosdevices");
    mapDrive('c', driveC());
    prefixVariable_.emplace("WINEPREFIX", dir_.path().string());
}

WinePrefix::~WinePrefix() = default;

void WinePrefix::mapDrive(char letter, const fs::path& target) {
    fs::create_directories(target);
    fs::path link = dir_ / "dosdevices" / (std::string(1, letter) + ":");
    std::error_code ec;
    fs::remove(link, ec);
    fs::create_directory_symlink(target, link);
}

CommandResult Run(const std::string& commandLine) {
    CommandResult result;
    FILE* pipe = popen((commandLine + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    std::array<char, 4096> chunk{};
    std::size_t got = 0;
    while ((got = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
        result.output.append(chunk.data(), got);
    }
    int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

SmallDisk::SmallDisk(const fs::path& at, std::size_t bytes) : at_(at) {
    fs::create_directories(at_);
    const std::string options = "size=" + std::to_string(bytes);
    mounted_ = mount("tmpfs", at_.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

SmallDisk::~SmallDisk() {
    if (mounted_) {
        umount2(at_.c_str(), MNT_DETACH);
    }
}

}  // namespace testsupport
