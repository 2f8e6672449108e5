// SPDX-License-Identifier: MIT
// Programs the Linux platform starts and waits for: the registry import
// into the Wine prefix. Private to the platform implementation and its tests.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace platform {

// How a program run with RunAndWait ended.
struct ProgramEnd {
    enum How { Exited, Killed, NotStarted, TimedOut } how;
    int value;  // Exited: the exit status; Killed: the signal; NotStarted: errno
};

// Runs `argv` (argv[0] a path) in a session of its own, its standard streams
// on /dev/null, and waits for it at most `bound`; past that it is ended
// (with everything it started in its session) and reaped.
ProgramEnd RunAndWait(const std::vector<std::string>& argv, std::chrono::milliseconds bound);

// Merges the registry script `document` (a host path) into the 32-bit view
// of the Wine prefix with `wine reg import`, waiting at most `bound`. An
// import that fails, cannot start or outlasts the bound is raised with the
// report of a script that was not merged, which names the command that
// merges it by hand.
void ImportRegistryScript(const std::string& wine, const std::string& document, std::chrono::milliseconds bound);

}  // namespace platform
