// SPDX-License-Identifier: MIT
// Fixtures for whole installs: the demo CD built once per test process, the
// tree an install of it must give (extracted by cabextract, as a peer would),
// the registry script beside the running executable, and launcher stand-ins
// that record how they were started.
#pragma once

#include "tests/support/fixtures.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// The eight loose files, in the order they are copied.
extern const char* const kLooseFiles[8];

// The demo CD (its root, holding Install/), built with scripts/make-demo-cd
// on first use and removed when the process ends. Readable by every user.
const fs::path& DemoCd();

// What an install of `cd` puts into the install folder: the cabinets'
// entries as cabextract extracts them, and the loose files.
std::map<std::string, std::string> ExpectedInstall(const fs::path& cd);

// The sample varnholtinstall.reg of scripts/.
std::string SampleRegistryScript();

// Places `script` as varnholtinstall.reg beside the running executable
// (where the installer looks for it) and returns its path.
fs::path PlaceRegistryScript(const std::string& script = SampleRegistryScript());

// A folder put first on PATH for the object's life (or made the whole PATH,
// so that no launcher of the system is found), holding stand-ins for the
// named launchers that write their arguments (one per line, program first)
// to record(), then run the shell commands `then` (nothing: they end with
// status 0).
// The command that runs Wine here: "wine", or "wine64" where an installed
// 32-bit loader cannot run (a kernel without 32-bit support).
const std::string& WineCommand();

class RecordingLaunchers {
public:
    explicit RecordingLaunchers(std::vector<std::string> names = {"wine", "xdg-open"}, bool keepSystemPath = true,
                                const std::string& then = "");
    ~RecordingLaunchers();
    RecordingLaunchers(const RecordingLaunchers&) = delete;
    RecordingLaunchers& operator=(const RecordingLaunchers&) = delete;

    const fs::path& folder() const { return bin_.path(); }
    fs::path record() const { return bin_ / "record"; }
    // Waits (a few seconds at most) for a detached launcher to write its
    // record; "" when none came.
    std::string WaitForRecord() const;

private:
    TempDir bin_;
    std::optional<ScopedEnv> path_;
};

}  // namespace testsupport
