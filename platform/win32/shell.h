// SPDX-License-Identifier: MIT
// The shell on Windows: how a document is handed to the system, apart from
// the shell call itself so that tests can answer for the shell. Internal to
// the Windows build and its tests; the front end's part is platform/shell.h.
#pragma once

#include "platform/shell.h"

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

namespace platform::win32 {

// One request to the shell (ShellExecuteExW).
struct ShellRequest {
    std::wstring verb;  // empty: the default verb; L"runas": with the administrator's consent
    std::wstring file;  // always a full path
    std::wstring parameters;
    int show = SW_SHOWNORMAL;
    // Wait for the program started (at most kRegistryImportBound) and read
    // its exit code. Meanwhile `owner` takes no input and is kept painted
    // and answering the system.
    bool wait = false;
    // The window a consent prompt or a failure belongs to: the installer's
    // main window (null before it exists).
    HWND owner = nullptr;

    bool operator==(const ShellRequest&) const = default;
};

// How a program the shell started for a request that waits came to an end.
enum class WaitOutcome {
    Exited,          // it ended within the bound; exitCode is its code
    ExitCodeUnread,  // it ended, but GetExitCodeProcess failed (waitError)
    TimedOut,        // it outlasted the bound
    WaitFailed,      // the wait itself failed (waitError)
    NoProcess,       // the shell handed over no process to wait for
};

// What the shell answered.
struct ShellAnswer {
    bool started = false;
    DWORD error = NO_ERROR;  // the system's code when it did not start
    INT_PTR instApp = 0;     // its SE_ERR_ value then
    // For a request that waits and started:
    WaitOutcome outcome = WaitOutcome::Exited;
    DWORD exitCode = 0;
    DWORD waitError = NO_ERROR;  // the system's code for ExitCodeUnread and WaitFailed
    // After TimedOut and WaitFailed, whether the program was ended; when it
    // was not (TerminateProcess failed with stopError, as it may for an
    // elevated one), it may still write.
    bool stopped = true;
    DWORD stopError = NO_ERROR;
};

using Shell = std::function<ShellAnswer(const ShellRequest&)>;

// Whether Windows itself is 64-bit, where the registry has a 32-bit view
// beside the native one: always for a 64-bit build; otherwise from the
// native machine IsWow64Process2 names (Windows 10 1709 and later), which
// is neither x86 nor 32-bit ARM there; where that call does not exist, from
// IsWow64Process, which is all older systems have (and where it is right).
bool IsSixtyFourBitWindows(bool sixtyFourBitBuild, std::optional<USHORT> nativeMachine, bool wow64);

// The facts the hand-off of a registry script depends on.
struct SystemFacts {
    // 64-bit Windows, where a 32-bit program (the game) reads HKLM\Software
    // through the 32-bit view while the registry editor the association
    // starts is 64-bit and writes the 64-bit one.
    bool sixtyFourBit = false;
    // Writing HKLM's 32-bit view needs the administrator's consent (UAC).
    bool writingMachineKeysNeedsConsent = false;
    std::wstring systemDirectory;   // GetSystemDirectoryW
    std::wstring windowsDirectory;  // GetSystemWindowsDirectoryW
};

// The facts of the running system.
SystemFacts RunningSystem();

// Starts `document`, an existing file, through `shell`, on behalf of the
// window `owner` (see ShellRequest):
// - a registry script on 64-bit Windows: the system's registry tool,
//   `reg.exe import "document" /reg:32`, with no window, asking for consent
//   only where writing HKLM needs it (then from a copy in the temporary
//   directory, which the elevated tool can read where a mapped drive is not
//   visible to it, removed afterwards). The tool shows nothing, so it is
//   waited for: one that cannot start, is refused consent, ends with a
//   nonzero code, outlasts the bound or cannot be waited for is raised
//   with the report of a script that was not merged (the system's code,
//   1223 for a declined consent, 1460 past the bound, 1603 for a nonzero
//   exit, 6 without a process to wait for), which says when the settings
//   may be partly merged (exit code 1: reg import writes keys before it
//   fails; a tool stopped) or may still be (a tool that could not be
//   stopped). The copy in the temporary directory is held open, shared for
//   reading only, and checked against the script, from before the start
//   until the wait ends, so no other program can change it in between;
// - anything else, and a registry script on 32-bit Windows: the program
//   associated with it, not waited for (the registry editor shows its own
//   confirmation and result); a registry script with no (complete)
//   association goes to the registry editor, as Windows' own association
//   does. A start that fails is raised with the system's code and text.
void StartExistingDocument(const std::wstring& document, const SystemFacts& system, HWND owner, const Shell& shell);

}  // namespace platform::win32
