// SPDX-License-Identifier: MIT
// Field conversions of the cabinet object (see conversions.h).
#include "cabinet/conversions.h"

#include "cabinet/paths.h"
#include "platform/calendar.h"
#include "platform/runtime.h"

namespace cabinet::conversions {

namespace {}  // namespace

double FileTimeToDate(const platform::FILETIME& fileTime) {
    platform::SYSTEMTIME fields{};
    if (!platform::FileTimeToSystemTime(&fileTime, &fields)) {
        return 0.0;
    }
    return SystemTimeToDate(fields);
}

double SystemTimeToDate(const platform::SYSTEMTIME& fields) {
    platform::SYSTEMTIME midnight = fields;
    midnight.wHour = midnight.wMinute = midnight.wSecond = midnight.wMilliseconds = 0;
    platform::FILETIME dayStart{0, 0};
    platform::SystemTimeToFileTime(&midnight, &dayStart);
    const uint64_t ticks = (static_cast<uint64_t>(dayStart.dwHighDateTime) << 32) | dayStart.dwLowDateTime;
    const int64_t days = static_cast<int64_t>(ticks / platform::kTicksPerDay) - platform::kDaysFrom1601ToDateZero;
    const double seconds = fields.wHour * 3600.0 + fields.wMinute * 60.0 + fields.wSecond;
    return static_cast<double>(days) + seconds / static_cast<double>(platform::kSecondsPerDay);
}

std::u16string AnsiPointerToString(const char* address) {
    const int32_t length = platform::lstrlenA(address);
    if (length == 0) {
        return {};
    }
    std::string bytes(static_cast<std::size_t>(length), ' ');
    platform::RtlMoveMemory(bytes.data(), address, bytes.size());
    return platform::AnsiToText(bytes);
}

void StringToAnsiBuffer(char (&buffer)[platform::MAX_PATH], const std::u16string& text) {
    const std::string bytes = platform::TextToAnsi(text);
    // Every write is checked against the field first, so a text that does not
    // fit leaves the field full and raises before anything lands past it.
    auto put = [&buffer](std::size_t position, char byte) {
        if (position >= platform::MAX_PATH) {
            throw platform::RaisedError(kErrSubscriptOutOfRange, u"CabFile", u"Subscript out of range");
        }
        buffer[position] = byte;
    };
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        put(i, bytes[i]);
    }
    put(bytes.size(), '\0');
}

std::u16string BuildTargetPath(const std::u16string& cabName, const std::u16string& extractPath,
                               const std::u16string& extractFile, const std::u16string& nameInCabinet) {
    std::u16string directory = extractPath;
    if (directory.empty()) {
        // The directory that holds the cabinet.
        std::u16string cabinetFile;
        paths::SplitPath(cabName, directory, cabinetFile);
    }
    const std::u16string& file = extractFile.empty() ? nameInCabinet : extractFile;
    return paths::AddBackslash(directory) + file;
}

}  // namespace cabinet::conversions
