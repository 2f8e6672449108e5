// SPDX-License-Identifier: MIT
// SetupIterateCabinetA over the real setup library, and the adapter that
// evens out where a real service departs from the contract in
// platform/setupapi.h. Wine's service (measured) keeps walking after
// FILEOP_ABORT, ignores the answer to FILEEXTRACTED, can fail with last
// error 0, reports a cut-off entry as written, leaves extracted files with
// the current time, and calls a cabinet on a missing drive "file not found".
// Where a service fails without saying why, the target it was to write is
// asked for the cause. Every correction is cheap and harmless on a service
// that already keeps the contract.
#include "platform/setupapi.h"

#include "platform/common/hash_marks.h"
#include "platform/kernel.h"
#include "platform/walk.h"

#include <windows.h>
#include <setupapi.h>

#include <cstring>
#include <exception>
#include <string>

namespace platform {

namespace {

struct Walk {
    PSP_FILE_CALLBACK_A handler = nullptr;
    void* context = nullptr;
    bool ended = false;         // the handler answered FILEOP_ABORT: walk ended, as completed
    uint32_t failure = 0;       // the walk is to fail with this code
    std::exception_ptr parked;  // never unwinds through the service's frames
    // The entry last answered FILEOP_DOIT.
    uint32_t fileSize = 0;
    uint16_t dosDate = 0;
    uint16_t dosTime = 0;
    std::string pendingTarget;  // its target, until the service reports it written
    // What the walk knows of the disk: the system keeps the rest, so only the
    // directories the handlers have made or found, under the one bound.
    HashMarks<uint64_t> directories;

    bool Stopped() const { return ended || failure != 0 || parked; }
};

// The walk running on this thread, for the handlers' calls through
// platform/walk.h, which the contract gives no place to hand it to.
thread_local Walk* thisThreadsWalk = nullptr;

// The service's answer to a notification while the walk is stopped: skip
// entries (a service that ignores FILEOP_ABORT still skips), accept the rest.
UINT AnswerWhileStopped(UINT notification) {
    return notification == SPFILENOTIFY_FILEINCABINET ? FILEOP_SKIP : NO_ERROR;
}

// The size of a file, or -1 when it cannot be read.
int64_t SizeOf(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
        return -1;
    }
    return static_cast<int64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

// Gives a written entry its stored date and time, which cabinets hold as
// local time.
void SetStoredTime(const char* path, uint16_t dosDate, uint16_t dosTime) {
    ::FILETIME local{};
    ::FILETIME universal{};
    if (!::DosDateTimeToFileTime(dosDate, dosTime, &local) || !::LocalFileTimeToFileTime(&local, &universal)) {
        return;
    }
    const HANDLE file = ::CreateFileA(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        ::SetFileTime(file, nullptr, nullptr, &universal);
        ::CloseHandle(file);
    }
}

// Why the file `path` cannot be written (a read-only file, a directory of that
// name, a file another program holds, a directory that refuses new files), or
// NO_ERROR when it can. Changes nothing on the disk.
DWORD WhyNotWritable(const std::string& path) {
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
        file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    }
    if (file == INVALID_HANDLE_VALUE) {
        return ::GetLastError();
    }
    ::CloseHandle(file);
    return NO_ERROR;
}

// Whether the directory that holds `path` exists (a missing cabinet in a
// missing directory is "path not found", as for every other file).
bool DirectoryExists(const char* path) {
    const std::string text = path != nullptr ? path : "";
    const std::size_t separator = text.find_last_of("\\/");
    if (separator == std::string::npos) {
        return true;
    }
    const DWORD attributes = ::GetFileAttributesA(text.substr(0, separator + 1).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

UINT OnFileInCabinet(Walk& walk, ::FILE_IN_CABINET_INFO_A& service, UINT_PTR param2) {
    FILE_IN_CABINET_INFO_A entry{};
    entry.NameInCabinet = service.NameInCabinet;
    entry.FileSize = service.FileSize;
    entry.Win32Error = service.Win32Error;
    entry.DosDate = service.DosDate;
    entry.DosTime = service.DosTime;
    entry.DosAttribs = service.DosAttribs;
    const UINT answer =
        walk.handler(walk.context, SPFILENOTIFY_FILEINCABINET, reinterpret_cast<uintptr_t>(&entry), param2);
    if (answer == FILEOP_ABORT) {
        walk.ended = true;
    } else if (answer == FILEOP_DOIT) {
        static_assert(sizeof service.FullTargetName == sizeof entry.FullTargetName);
        std::memcpy(service.FullTargetName, entry.FullTargetName, sizeof entry.FullTargetName);
        service.FullTargetName[sizeof service.FullTargetName - 1] = '\0';
        walk.fileSize = entry.FileSize;
        walk.dosDate = entry.DosDate;
        walk.dosTime = entry.DosTime;
        walk.pendingTarget = service.FullTargetName;
    }
    return answer;
}

UINT OnFileExtracted(Walk& walk, const ::FILEPATHS_A& service) {
    FILEPATHS_A written{service.Target, service.Source, service.Win32Error, service.Flags};
    walk.pendingTarget.clear();
    if (written.Win32Error == NO_ERROR && written.Target != nullptr) {
        if (SizeOf(written.Target) != static_cast<int64_t>(walk.fileSize)) {
            // Either the target could not be written at all (what stands
            // there is not ours to delete), or a cut-off cabinet left a
            // short file, which must not be reported as good.
            written.Win32Error = WhyNotWritable(written.Target);
            if (written.Win32Error == NO_ERROR) {
                ::DeleteFileA(written.Target);
                written.Win32Error = ERROR_INVALID_DATA;
            }
        } else {
            SetStoredTime(written.Target, walk.dosDate, walk.dosTime);
        }
    }
    const UINT answer =
        walk.handler(walk.context, SPFILENOTIFY_FILEEXTRACTED, reinterpret_cast<uintptr_t>(&written), 0);
    if (answer != NO_ERROR) {
        walk.failure = answer;
    }
    return answer;
}

UINT OnCabinet(Walk& walk, UINT notification, const ::CABINET_INFO_A& service, UINT_PTR param2) {
    CABINET_INFO_A cabinet{service.CabinetPath, service.CabinetFile, service.DiskName, service.SetId,
                           service.CabinetNumber};
    const UINT answer = walk.handler(walk.context, notification, reinterpret_cast<uintptr_t>(&cabinet), param2);
    if (notification == SPFILENOTIFY_NEEDNEWCABINET && answer != NO_ERROR) {
        walk.failure = answer;
    }
    return answer;
}

// The handler the real service calls. Nothing is thrown out of it.
UINT CALLBACK ServiceCallback(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR param2) noexcept {
    Walk& walk = *static_cast<Walk*>(context);
    if (walk.Stopped()) {
        return AnswerWhileStopped(notification);
    }
    try {
        switch (notification) {
            case SPFILENOTIFY_FILEINCABINET:
                return OnFileInCabinet(walk, *reinterpret_cast<::FILE_IN_CABINET_INFO_A*>(param1), param2);
            case SPFILENOTIFY_FILEEXTRACTED:
                return OnFileExtracted(walk, *reinterpret_cast<const ::FILEPATHS_A*>(param1));
            case SPFILENOTIFY_CABINETINFO:
            case SPFILENOTIFY_NEEDNEWCABINET:
                return OnCabinet(walk, notification, *reinterpret_cast<const ::CABINET_INFO_A*>(param1), param2);
            default: return walk.handler(walk.context, notification, param1, param2);
        }
    } catch (...) {
        walk.parked = std::current_exception();
        return notification == SPFILENOTIFY_FILEINCABINET ? FILEOP_ABORT : ERROR_GEN_FAILURE;
    }
}

}  // namespace

int32_t SetupIterateCabinetA(const char* CabinetFile, uint32_t Reserved, PSP_FILE_CALLBACK_A MsgHandler,
                             void* Context) {
    Walk walk;
    walk.handler = MsgHandler;
    walk.context = Context;
    Walk* const outer = thisThreadsWalk;  // a walk begun from another's handler shares its marks
    if (outer == nullptr) {
        thisThreadsWalk = &walk;
    }
    const BOOL completed = ::SetupIterateCabinetA(CabinetFile, Reserved, ServiceCallback, &walk);
    const DWORD error = ::GetLastError();
    thisThreadsWalk = outer;
    if (walk.parked) {
        std::rethrow_exception(walk.parked);
    }
    if (walk.failure != 0) {
        ::SetLastError(walk.failure);
        return 0;
    }
    if (walk.ended) {
        return 1;
    }
    if (!completed) {
        DWORD cause = error;
        if (cause == NO_ERROR && !walk.pendingTarget.empty()) {
            cause = WhyNotWritable(walk.pendingTarget);
        }
        ::SetLastError(cause == NO_ERROR                                                ? ERROR_INVALID_DATA
                       : cause == ERROR_FILE_NOT_FOUND && !DirectoryExists(CabinetFile) ? ERROR_PATH_NOT_FOUND
                                                                                        : cause);
        return 0;
    }
    return 1;
}

bool WalkHasDirectory(std::u16string_view Directory) {
    return thisThreadsWalk != nullptr && thisThreadsWalk->directories.mayHold(TextHash64(Directory));
}

void NoteWalkDirectory(std::u16string_view Directory) {
    if (Walk* walk = thisThreadsWalk) {
        if (walk->directories.size() >= kWalkMemoryMarks) {
            walk->directories.clear();
        }
        walk->directories.insert(TextHash64(Directory));
    }
}

}  // namespace platform
