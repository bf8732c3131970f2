#include "platform/file_times.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include "platform/file_faults.h"
#include "platform/file_version.h"

namespace tessel {
namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kEpochDelta = 11'644'473'600;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian calendar).
void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = FloorDiv(z, 146097);
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
}

}  // namespace

std::int64_t LocalTicksFromUnix(std::int64_t seconds, std::int64_t nanoseconds) {
    std::int64_t offset = 0;
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm {};
    if (localtime_r(&t, &tm)) offset = tm.tm_gmtoff;
    return (seconds + kEpochDelta + offset) * kTicksPerSecond + nanoseconds / 100;
}

UnixTime UnixFromLocalTicks(std::int64_t ticks) {
    const std::int64_t localSeconds = FloorDiv(ticks, kTicksPerSecond) - kEpochDelta;
    const std::int64_t nanoseconds = (ticks - FloorDiv(ticks, kTicksPerSecond) * kTicksPerSecond) * 100;
    auto offsetAt = [](std::int64_t seconds) -> std::int64_t {
        std::time_t t = static_cast<std::time_t>(seconds);
        std::tm tm {};
        return localtime_r(&t, &tm) ? tm.tm_gmtoff : 0;
    };
    // The offsets in force a day either side cover every switch.
    std::int64_t best = localSeconds - offsetAt(localSeconds);
    bool found = false;
    for (std::int64_t probe : {localSeconds - 86400, localSeconds, localSeconds + 86400}) {
        const std::int64_t candidate = localSeconds - offsetAt(probe - offsetAt(probe));
        if (LocalTicksFromUnix(candidate, nanoseconds) == ticks && (!found || candidate < best)) {
            best = candidate;
            found = true;
        }
    }
    return {best, nanoseconds};
}

namespace {

FileTime FromStatx(const struct statx_timestamp& t) {
    return FileTime::FromTicks(LocalTicksFromUnix(t.tv_sec, t.tv_nsec));
}

constexpr unsigned kStatxMask = STATX_BASIC_STATS | STATX_BTIME;

FileTimes FromStatx(const struct statx& sx) {
    FileTimes out;
    if (!(sx.stx_mask & STATX_MTIME)) return out;
    out.lastWrite = FromStatx(sx.stx_mtime);
    out.creation = (sx.stx_mask & STATX_BTIME) ? FromStatx(sx.stx_btime) : out.lastWrite;
    out.size = static_cast<std::int32_t>(static_cast<std::uint32_t>(sx.stx_size));
    out.status = 0;
    return out;
}

}  // namespace

FileTimes ReadFileTimes(const std::string& path) { return ReadFileTimesAt(-1, path.c_str(), path); }

EntryLook LookAtEntry(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return EntryLook{};
    return {true,
            static_cast<std::uint64_t>(st.st_dev),
            static_cast<std::uint64_t>(st.st_ino),
            static_cast<std::int64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec),
            st.st_mtim.tv_nsec,
            static_cast<std::int64_t>(st.st_ctim.tv_sec),
            st.st_ctim.tv_nsec};
}

FileTimes ReadFileTimesAt(int dirFd, const char* name, const std::string& path) {
    if (InjectedFileFault(path, FileAccess::kReadEntry) != 0) return FileTimes{};
    struct statx sx {};
    const int at = dirFd >= 0 ? dirFd : AT_FDCWD;
    if (statx(at, dirFd >= 0 ? name : path.c_str(), AT_SYMLINK_NOFOLLOW | AT_STATX_SYNC_AS_STAT, kStatxMask, &sx) != 0)
        return FileTimes{};
    return FromStatx(sx);
}

FileTimes ReadFileInfo(const std::string& path, FileVersion& version) {
    version = FileVersion{};
    if (InjectedFileFault(path, FileAccess::kReadEntry) != 0) return FileTimes{};
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        // No read permission, for instance: the entry itself can still be read.
        struct statx sx {};
        if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW | AT_STATX_SYNC_AS_STAT, kStatxMask, &sx) != 0 ||
            !S_ISREG(sx.stx_mode))
            return FileTimes{};
        return FromStatx(sx);
    }
    struct statx sx {};
    FileTimes times;
    if (statx(fd, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, kStatxMask, &sx) == 0 && S_ISREG(sx.stx_mode)) {
        times = FromStatx(sx);
        if (times.status == 0) version = ReadFileVersion(fd, sx.stx_size);
    }
    close(fd);
    return times;
}

FileTimeTexts FormatFileTime(FileTime localTime) {
    static const char* const kWeekdays[] = {"日", "月", "火", "水", "木", "金", "土"};
    std::int64_t seconds = FloorDiv(localTime.ticks(), kTicksPerSecond) - kEpochDelta;
    std::int64_t days = FloorDiv(seconds, 86400);
    std::int64_t secondOfDay = seconds - days * 86400;
    std::int64_t year;
    unsigned month, day;
    CivilFromDays(days, year, month, day);
    std::int64_t weekday = FloorDiv(days + 4, 7);  // 1970-01-01 was a Thursday
    weekday = days + 4 - weekday * 7;
    FileTimeTexts out;
    out.date = std::to_string(year) + "年" + std::to_string(month) + "月" + std::to_string(day) + "日(" +
               kWeekdays[weekday] + ")";
    out.time = std::to_string(secondOfDay / 3600) + "時" + std::to_string(secondOfDay / 60 % 60) + "分" +
               std::to_string(secondOfDay % 60) + "秒";
    return out;
}

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

}  // namespace tessel
