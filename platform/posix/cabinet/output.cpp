// The temporary file of one entry, and the entry's date as a host time.
#include "platform/posix/cabinet/output.h"

#include "platform/posix/drive_listings.h"

#include "platform/posix/cabinet/errors.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::cabinet {

namespace {

// MS-DOS date word: bits 15-9 year - 1980, 8-5 month, 4-0 day; time word:
// bits 15-11 hour, 10-5 minute, 4-0 seconds / 2.
constexpr int kDosEpochYear = 1980;
constexpr int kDosYearShift = 9;
constexpr int kDosMonthShift = 5;
constexpr int kDosMonthMask = 0x0F;
constexpr int kDosDayMask = 0x1F;
constexpr int kDosHourShift = 11;
constexpr int kDosMinuteShift = 5;
constexpr int kDosMinuteMask = 0x3F;
constexpr int kDosHalfSecondsMask = 0x1F;
constexpr int kDosSecondsPerUnit = 2;
constexpr int kTmEpochYear = 1900;
constexpr int kLastHour = 23;
constexpr int kLastMinute = 59;
constexpr int kLastSecond = 59;
constexpr int kCreateAttempts = 100;
// Permissions of a new entry before the umask, as for any created file.
constexpr mode_t kNewFileMode = 0666;

// A name no other writer picks: the process, a counter and the clock, mixed.
std::string TemporaryName() {
    static std::atomic<uint64_t> counter{0};
    uint64_t x = static_cast<uint64_t>(getpid()) << 32 ^ counter.fetch_add(1) ^
                 static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    // splitmix64 finaliser
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    x ^= x >> 31;
    char name[32];
    std::snprintf(name, sizeof name, ".vh%016llx.part", static_cast<unsigned long long>(x));
    return name;
}

std::string FolderOf(const std::string& hostPath) {
    const std::size_t slash = hostPath.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : hostPath.substr(0, slash);
}

}  // namespace

std::optional<std::time_t> LocalTimeOfDosStamp(uint16_t dosDate, uint16_t dosTime) {
    std::tm fields{};
    fields.tm_year = kDosEpochYear + (dosDate >> kDosYearShift) - kTmEpochYear;
    fields.tm_mon = ((dosDate >> kDosMonthShift) & kDosMonthMask) - 1;
    fields.tm_mday = dosDate & kDosDayMask;
    fields.tm_hour = dosTime >> kDosHourShift;
    fields.tm_min = (dosTime >> kDosMinuteShift) & kDosMinuteMask;
    fields.tm_sec = (dosTime & kDosHalfSecondsMask) * kDosSecondsPerUnit;
    fields.tm_isdst = -1;  // whatever the zone says for that day
    if (fields.tm_hour > kLastHour || fields.tm_min > kLastMinute || fields.tm_sec > kLastSecond) {
        return std::nullopt;
    }
    const std::tm asked = fields;
    const std::time_t moment = std::mktime(&fields);
    // mktime carries impossible days into the next month; a real date comes
    // back as it went in (the hour may move out of a daylight-saving gap).
    if (moment == static_cast<std::time_t>(-1) || fields.tm_year != asked.tm_year || fields.tm_mon != asked.tm_mon ||
        fields.tm_mday != asked.tm_mday) {
        return std::nullopt;
    }
    return moment;
}

TempOutput::TempOutput(std::string hostTarget) : target_(std::move(hostTarget)) {}

TempOutput::~TempOutput() {
    if (!committed_) {
        discard();
    }
}

void TempOutput::discard() noexcept {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
}

uint32_t TempOutput::create() {
    const std::string folder = FolderOf(target_);
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        std::string candidate = folder + (folder.ends_with('/') ? "" : "/") + TemporaryName();
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
        if (fd >= 0) {
            fd_ = fd;
            temporary_ = std::move(candidate);
            return 0;
        }
        if (errno != EEXIST) {
            return Win32FromErrno(errno, IoOperation::Create);
        }
    }
    return Win32FromErrno(EEXIST, IoOperation::Create);
}

uint32_t TempOutput::commit(std::optional<std::time_t> modified) {
    if (modified) {
        const timespec times[2] = {{*modified, 0}, {*modified, 0}};
        // A file system without times is no reason to lose the entry.
        futimens(fd_, times);
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) {
        const uint32_t code = Win32FromErrno(errno, IoOperation::Close);
        discard();
        return code;
    }
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
        const uint32_t code = Win32FromErrno(errno, IoOperation::Rename);
        discard();
        return code;
    }
    committed_ = true;
    NoteHostEntryCreated(target_);
    return 0;
}

}  // namespace platform::cabinet
