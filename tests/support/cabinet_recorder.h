// SPDX-License-Identifier: MIT
// A handler for SetupIterateCabinetA that records every notification with
// every field it carries, and answers as the test says: the one harness of
// the cabinet contract, for the Linux service's suites and for the contract
// cases that run against both services (tests/contract).
#pragma once

#include "platform/drives.h"
#include "platform/kernel.h"
#include "platform/setupapi.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace cabinettest {

struct Notice {
    uint32_t notification = 0;
    // SPFILENOTIFY_FILEINCABINET
    std::string name;
    uint32_t size = 0;
    uint16_t dosDate = 0;
    uint16_t dosTime = 0;
    uint16_t attribs = 0;
    // FILEINCABINET's Param2, FILEEXTRACTED's Source
    std::string cabinet;
    // SPFILENOTIFY_FILEEXTRACTED
    std::string target;
    uint32_t win32Error = 0;
    // SPFILENOTIFY_CABINETINFO and SPFILENOTIFY_NEEDNEWCABINET
    std::string cabinetPath;
    std::string cabinetFile;
    std::string diskName;
    uint16_t setId = 0;
    uint16_t cabinetNumber = 0;
    // The index of this entry among the FILEINCABINET notices (FILEINCABINET
    // and FILEEXTRACTED only).
    std::size_t entry = 0;
};

inline bool operator==(const Notice& a, const Notice& b) {
    return a.notification == b.notification && a.name == b.name && a.size == b.size && a.dosDate == b.dosDate &&
           a.dosTime == b.dosTime && a.attribs == b.attribs && a.cabinet == b.cabinet && a.target == b.target &&
           a.win32Error == b.win32Error && a.cabinetPath == b.cabinetPath && a.cabinetFile == b.cabinetFile &&
           a.diskName == b.diskName && a.setId == b.setId && a.cabinetNumber == b.cabinetNumber;
}

inline void PrintTo(const Notice& n, std::ostream* out) {
    *out << "{0x" << std::hex << n.notification << std::dec;
    switch (n.notification) {
        case platform::SPFILENOTIFY_FILEINCABINET:
            *out << " FILEINCABINET name=\"" << n.name << "\" size=" << n.size << " date=0x" << std::hex << n.dosDate
                 << " time=0x" << n.dosTime << " attribs=0x" << n.attribs << std::dec << " cabinet=\"" << n.cabinet
                 << "\"";
            break;
        case platform::SPFILENOTIFY_FILEEXTRACTED:
            *out << " FILEEXTRACTED target=\"" << n.target << "\" source=\"" << n.cabinet
                 << "\" error=" << n.win32Error;
            break;
        default:
            *out << " path=\"" << n.cabinetPath << "\" file=\"" << n.cabinetFile << "\" disk=\"" << n.diskName
                 << "\" set=" << n.setId << " number=" << n.cabinetNumber;
    }
    *out << "}";
}

// Notices as a table row would give them.
inline Notice CabinetInfo(std::string path, std::string file, std::string disk, uint16_t setId, uint16_t number) {
    Notice n;
    n.notification = platform::SPFILENOTIFY_CABINETINFO;
    n.cabinetPath = std::move(path);
    n.cabinetFile = std::move(file);
    n.diskName = std::move(disk);
    n.setId = setId;
    n.cabinetNumber = number;
    return n;
}

inline Notice NeedCabinet(std::string path, std::string file, std::string disk, uint16_t setId, uint16_t number) {
    Notice n = CabinetInfo(std::move(path), std::move(file), std::move(disk), setId, number);
    n.notification = platform::SPFILENOTIFY_NEEDNEWCABINET;
    return n;
}

inline Notice FileInCabinet(std::string name, uint32_t size, uint16_t date, uint16_t time, uint16_t attribs,
                            std::string cabinet) {
    Notice n;
    n.notification = platform::SPFILENOTIFY_FILEINCABINET;
    n.name = std::move(name);
    n.size = size;
    n.dosDate = date;
    n.dosTime = time;
    n.attribs = attribs;
    n.cabinet = std::move(cabinet);
    return n;
}

inline Notice FileExtracted(std::string target, std::string source, uint32_t error) {
    Notice n;
    n.notification = platform::SPFILENOTIFY_FILEEXTRACTED;
    n.target = std::move(target);
    n.cabinet = std::move(source);
    n.win32Error = error;
    return n;
}

class Recorder {
public:
    // The answer to FILEINCABINET; it may write FullTargetName. Default: skip.
    std::function<uint32_t(const Notice&, platform::FILE_IN_CABINET_INFO_A&)> onFile;
    // The answer to FILEEXTRACTED. Default: its Win32Error, as CabFile answers.
    std::function<uint32_t(const Notice&)> onExtracted;
    // The answer to NEEDNEWCABINET; it may write the 260-byte buffer. Default: NO_ERROR.
    std::function<uint32_t(const Notice&, char*)> onNeedCabinet;

    std::vector<Notice> log;

    int32_t walk(const std::string& dosPath) {
        return platform::SetupIterateCabinetA(dosPath.c_str(), 0, &Callback, this);
    }

    std::vector<Notice> only(uint32_t notification) const {
        std::vector<Notice> picked;
        for (const auto& notice : log) {
            if (notice.notification == notification) {
                picked.push_back(notice);
            }
        }
        return picked;
    }

    std::vector<std::string> names() const {
        std::vector<std::string> picked;
        for (const auto& notice : only(platform::SPFILENOTIFY_FILEINCABINET)) {
            picked.push_back(notice.name);
        }
        return picked;
    }

    static uint32_t Callback(void* context, uint32_t notification, uintptr_t param1, uintptr_t param2) {
        auto* self = static_cast<Recorder*>(context);
        Notice notice;
        notice.notification = notification;
        switch (notification) {
            case platform::SPFILENOTIFY_FILEINCABINET: {
                auto& info = *reinterpret_cast<platform::FILE_IN_CABINET_INFO_A*>(param1);
                notice.name = info.NameInCabinet;
                notice.size = info.FileSize;
                notice.dosDate = info.DosDate;
                notice.dosTime = info.DosTime;
                notice.attribs = info.DosAttribs;
                notice.cabinet = reinterpret_cast<const char*>(param2);
                notice.entry = self->files_++;
                self->log.push_back(notice);
                return self->onFile ? self->onFile(notice, info) : platform::FILEOP_SKIP;
            }
            case platform::SPFILENOTIFY_FILEEXTRACTED: {
                const auto& paths = *reinterpret_cast<const platform::FILEPATHS_A*>(param1);
                notice.target = paths.Target;
                notice.cabinet = paths.Source;
                notice.win32Error = paths.Win32Error;
                notice.entry = self->files_ - 1;
                self->log.push_back(notice);
                return self->onExtracted ? self->onExtracted(notice) : paths.Win32Error;
            }
            case platform::SPFILENOTIFY_CABINETINFO:
            case platform::SPFILENOTIFY_NEEDNEWCABINET: {
                const auto& info = *reinterpret_cast<const platform::CABINET_INFO_A*>(param1);
                notice.cabinetPath = info.CabinetPath;
                notice.cabinetFile = info.CabinetFile;
                notice.diskName = info.DiskName;
                notice.setId = info.SetId;
                notice.cabinetNumber = info.CabinetNumber;
                self->log.push_back(notice);
                if (notification == platform::SPFILENOTIFY_NEEDNEWCABINET) {
                    return self->onNeedCabinet ? self->onNeedCabinet(notice, reinterpret_cast<char*>(param2))
                                               : platform::NO_ERROR;
                }
                return 0;
            }
            default: self->log.push_back(notice); return 0;
        }
    }

private:
    std::size_t files_ = 0;
};

// Writes `target` into FullTargetName and answers FILEOP_DOIT.
inline uint32_t DoIt(platform::FILE_IN_CABINET_INFO_A& info, const std::string& target) {
    std::memset(info.FullTargetName, 0, sizeof info.FullTargetName);
    std::memcpy(info.FullTargetName, target.data(), std::min(target.size(), sizeof info.FullTargetName - 1));
    return platform::FILEOP_DOIT;
}

// Creates the folders of a drive path on the host, as the handler must.
inline void MakeFoldersFor(const std::string& dosTarget) {
    const std::size_t slash = dosTarget.find_last_of('\\');
    uint32_t error = 0;
    if (auto host = platform::DosPathToHostPath(dosTarget.substr(0, slash), &error)) {
        std::filesystem::create_directories(*host);
    }
}

// Extracts every entry under `dosFolder` (ending in '\') by its name.
inline auto ExtractAllInto(std::string dosFolder) {
    return [dosFolder](const Notice& notice, platform::FILE_IN_CABINET_INFO_A& info) {
        const std::string target = dosFolder + notice.name;
        MakeFoldersFor(target);
        return DoIt(info, target);
    };
}

// Extracts entry n to `dosFolder` + "e<n>", whatever its name.
inline auto ExtractByIndexInto(std::string dosFolder) {
    return [dosFolder](const Notice& notice, platform::FILE_IN_CABINET_INFO_A& info) {
        const std::string target = dosFolder + "e" + std::to_string(notice.entry);
        MakeFoldersFor(target);
        return DoIt(info, target);
    };
}

}  // namespace cabinettest
