// Support routines of the cabinet object; see support.h.
#include "cabinet/support.h"

#include "cabinet/callback.h"
#include "platform/runtime.h"

namespace cabinet::support {

namespace {

constexpr double kSecondsPerDay = 86400.0;
// Days from 1899-12-30 (day 0 of date values) to 1970-01-01.
constexpr int64_t kDateValueDaysTo1970 = 25569;

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

double FileTimeToDate(const platform::FILETIME& fileTime) {
    platform::SYSTEMTIME fields{};
    if (!platform::FileTimeToSystemTime(&fileTime, &fields)) {
        return 0.0;
    }
    return SystemTimeToDate(fields);
}

double SystemTimeToDate(const platform::SYSTEMTIME& fields) {
    const int64_t days = DaysFromCivil(fields.wYear, fields.wMonth, fields.wDay) + kDateValueDaysTo1970;
    const double seconds = fields.wHour * 3600.0 + fields.wMinute * 60.0 + fields.wSecond;
    return static_cast<double>(days) + seconds / kSecondsPerDay;
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

std::u16string FolderPart(const std::u16string& path) {
    const std::size_t last = path.rfind(u'\\');
    if (last == std::u16string::npos) {
        return {};
    }
    return path.substr(0, last + 1);
}

std::u16string BuildTargetPath(const std::u16string& cabName, const std::u16string& extractPath,
                               const std::u16string& extractFile, const std::u16string& nameInCabinet) {
    const std::u16string folder = extractPath.empty() ? FolderPart(cabName) : extractPath;
    const std::u16string& file = extractFile.empty() ? nameInCabinet : extractFile;
    return Callback::AddBackslash(folder) + file;
}

}  // namespace cabinet::support
